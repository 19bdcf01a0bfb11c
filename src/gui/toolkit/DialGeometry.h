// The lighting rule of the LED dial: which pixels of its two rings are lit
// for a value. Portable arithmetic; the dial's window paints what this says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One ring of LEDs around the dial's centre. Angles are in radians with the y
// axis pointing down (screen rows grow downwards), so -pi/2 is straight up.
struct DialRing {
    std::vector<float> angleTable; // steps + 1 tangents (see buildAngleTable), empty when steps <= 0
    bool fillMode = false;         // true: light from the arc's start up to the value; false: one segment
    float startAngle = 0.0f;
    float endAngle = 0.0f;
    int steps = 0;              // steps of the arc (fill mode) or segments (segment mode)
    int innerRadiusSquared = 0; // a pixel belongs to the ring when its squared distance
    int outerRadiusSquared = 0; // from the centre lies in this closed range
    int value = 0;              // 0..100
    int paintedValue = 0;       // value at the last completed paint
    int dragAnchor = -1;        // -1 while the ring is not being dragged
};

// Marks a direction that no left-hand pixel reaches (the largest float).
constexpr float kNoTangent = 3.4028235e38f;

// Sets the arc and band of a ring and builds its angle table. Allocates; UI
// thread, when a dial is created.
void shapeDialRing(DialRing& ring, bool fillMode, float startAngle, float endAngle, int steps, int innerRadius,
                   int outerRadius);

// Entry i (i = 0..steps) is the tangent of the i-th step angle, interpolated
// from start to end; directions right of the upward vertical have no real
// tangent here and get kNoTangent (the right half is tested by mirroring).
// Empty for steps <= 0. Allocates.
std::vector<float> buildAngleTable(float startAngle, float endAngle, int steps);

// True when the direction (dx, dy) from the centre lies at or before the k-th
// step angle, going clockwise from the start (0 <= k <= steps). Right-hand
// directions are tested against the arc mirrored about the vertical: exact
// for arcs symmetric about it (ring 0); an arc wholly in the left half (a
// selector) shows its segments on the right, segment 0 at the top (direction
// -pi - end). Pixels on the vertical through the centre count as right-hand. False
// for a ring without a table.
bool within(const DialRing& ring, int k, float dx, float dy);

// True when the ring, showing its value, lights the direction (dx, dy).
bool ringLightsDirection(const DialRing& ring, float dx, float dy);

// The ring (0 or 1) that lights the pixel at (column, row) of a dial centred
// at (centerX, centerY), or -1: the first ring whose band holds the pixel
// decides, lit or not.
int litRingAt(const DialRing (&rings)[2], float centerX, float centerY, int column, int row);

// Paints a dial of width x height: each pixel a ring lights comes from that
// ring's picture (null: no light, the base shows), every other pixel from
// the base. Pictures and output are 0xAARRGGBB words in rows of `stride`
// words; the output is opaque whatever the pictures' fourth byte holds, since
// hosts and capture tools may read it as alpha.
void lightDialPixels(const DialRing (&rings)[2], float centerX, float centerY, int width, int height,
                     const std::uint32_t* base, const std::uint32_t* lit0, const std::uint32_t* lit1,
                     std::size_t stride, std::uint32_t* out, std::size_t outStride);
