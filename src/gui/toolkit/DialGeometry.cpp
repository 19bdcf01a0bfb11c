#include "gui/toolkit/DialGeometry.h"

#include <cmath>

namespace {

// The float nearest -pi/2: step angles up to here point into the left half.
constexpr float kUpwardAngle = -1.5707964f;

} // namespace

std::vector<float> buildAngleTable(float startAngle, float endAngle, int steps)
{
    std::vector<float> table;
    if (steps <= 0) {
        return table;
    }
    table.resize(static_cast<std::size_t>(steps) + 1);
    for (int i = 0; i <= steps; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(steps);
        const float angle = (1.0f - t) * startAngle + t * endAngle;
        table[static_cast<std::size_t>(i)] =
            angle <= kUpwardAngle ? static_cast<float>(std::tan(static_cast<double>(angle))) : kNoTangent;
    }
    return table;
}

void shapeDialRing(DialRing& ring, bool fillMode, float startAngle, float endAngle, int steps, int innerRadius,
                   int outerRadius)
{
    ring.fillMode = fillMode;
    ring.startAngle = startAngle;
    ring.endAngle = endAngle;
    ring.steps = steps;
    ring.innerRadiusSquared = innerRadius * innerRadius;
    ring.outerRadiusSquared = outerRadius * outerRadius;
    ring.angleTable = buildAngleTable(startAngle, endAngle, steps);
}

bool within(const DialRing& ring, int k, float dx, float dy)
{
    const int n = ring.steps;
    if (ring.angleTable.size() != static_cast<std::size_t>(n) + 1 || n <= 0 || k < 0 || k > n) {
        return false;
    }
    const float* tangents = ring.angleTable.data();
    if (dx == 0.0f) {
        dx = 0.1f;
    }
    const float slope = dy / dx;
    if (dx > 0.0f) {
        // Right half: compare against the step angle mirrored about the vertical.
        return slope <= -tangents[n - k];
    }
    if (dy >= 0.0f && slope < tangents[0]) {
        return false; // lower left, below the start of the arc
    }
    return slope <= tangents[k];
}

bool ringLightsDirection(const DialRing& ring, float dx, float dy)
{
    const int n = ring.steps;
    if (n <= 0) {
        return false;
    }
    const float fraction = static_cast<float>(ring.value) * 0.01f;
    if (ring.fillMode) {
        int k = static_cast<int>(fraction * static_cast<float>(n + 1));
        k = k < 0 ? 0 : (k > n ? n : k);
        return within(ring, k, dx, dy);
    }
    int k = static_cast<int>(fraction * static_cast<float>(n));
    k = k < 0 ? 0 : (k > n - 1 ? n - 1 : k);
    return within(ring, k + 1, dx, dy) && !within(ring, k, dx, dy);
}

int litRingAt(const DialRing (&rings)[2], float centerX, float centerY, int column, int row)
{
    const float dx = static_cast<float>(column) - centerX;
    const float dy = static_cast<float>(row) - centerY;
    const float distanceSquared = dx * dx + dy * dy;
    for (int j = 0; j < 2; ++j) {
        const DialRing& ring = rings[j];
        if (static_cast<float>(ring.innerRadiusSquared) <= distanceSquared &&
            distanceSquared <= static_cast<float>(ring.outerRadiusSquared)) {
            return ringLightsDirection(ring, dx, dy) ? j : -1;
        }
    }
    return -1;
}

void lightDialPixels(const DialRing (&rings)[2], float centerX, float centerY, int width, int height,
                     const std::uint32_t* base, const std::uint32_t* lit0, const std::uint32_t* lit1,
                     std::size_t stride, std::uint32_t* out, std::size_t outStride)
{
    const std::uint32_t* lit[2] = {lit0, lit1};
    for (int row = 0; row < height; ++row) {
        const std::size_t from = static_cast<std::size_t>(row) * stride;
        std::uint32_t* target = out + static_cast<std::size_t>(row) * outStride;
        for (int column = 0; column < width; ++column) {
            const int ring = litRingAt(rings, centerX, centerY, column, row);
            const std::uint32_t* source = ring >= 0 && lit[ring] ? lit[ring] : base;
            target[column] = source[from + static_cast<std::size_t>(column)] | 0xFF000000u;
        }
    }
}
