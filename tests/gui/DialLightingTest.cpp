#include "gui/toolkit/DialGeometry.h"
#include "gui/toolkit/SkinGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Pixels whose direction lies this close to a step boundary are left out of
// the comparison with the angle reference.
constexpr double kBoundaryTolerance = 0.01;

struct Dial {
    DialRing rings[2];
    int width;
};

Dial characterDial()
{
    Dial dial{};
    dial.width = skin::kDialWideWidth;
    shapeDialRing(dial.rings[0], true, skin::kRing0StartAngle, skin::kRing0EndAngle, skin::kRing0Steps,
                  skin::kRing0InnerRadius, skin::kRing0OuterRadius);
    shapeDialRing(dial.rings[1], false, skin::kCharacterStartAngle, skin::kCharacterEndAngle, skin::kCharacterSegments,
                  skin::kRing1InnerRadius, skin::kRing1OuterRadius);
    return dial;
}

struct Pixel {
    int column;
    int row;
    double dx;
    double dy;
    double angle; // screen direction, y down, in (-pi, pi]
};

// The pixels of the dial whose squared distance from the centre lies in the
// ring's band, with their directions worked out independently.
std::vector<Pixel> bandPixels(const Dial& dial, int ring)
{
    std::vector<Pixel> pixels;
    for (int row = 0; row < skin::kDialHeight; ++row) {
        for (int column = 0; column < dial.width; ++column) {
            const double dx = column - skin::kDialCenterX;
            const double dy = row - skin::kDialCenterY;
            const double r2 = dx * dx + dy * dy;
            if (r2 >= dial.rings[ring].innerRadiusSquared && r2 <= dial.rings[ring].outerRadiusSquared) {
                pixels.push_back({column, row, dx, dy, std::atan2(dy, dx)});
            }
        }
    }
    return pixels;
}

bool lit(const Dial& dial, const Pixel& p, int ring)
{
    return litRingAt(dial.rings, skin::kDialCenterX, skin::kDialCenterY, p.column, p.row) == ring;
}

// Direction measured clockwise from ring 0's start, in [0, 2 pi).
double sinceRing0Start(double angle)
{
    double a = angle - skin::kRing0StartAngle;
    while (a < 0) {
        a += 2 * kPi;
    }
    while (a >= 2 * kPi) {
        a -= 2 * kPi;
    }
    return a;
}

int litCount(const Dial& dial, const std::vector<Pixel>& pixels, int ring)
{
    int count = 0;
    for (const Pixel& p : pixels) {
        count += lit(dial, p, ring) ? 1 : 0;
    }
    return count;
}

} // namespace

// Ring 0 against an angle reference: the lit pixels of the band are exactly
// those whose direction lies between the start of the arc and the step the
// value reaches, k = trunc(value * 35 / 100) of 34 steps.
TEST(DialLighting, Ring0LightsTheArcUpToTheValue)
{
    Dial dial = characterDial();
    const std::vector<Pixel> pixels = bandPixels(dial, 0);
    const double span = static_cast<double>(skin::kRing0EndAngle) - skin::kRing0StartAngle;
    int previousCount = -1;
    for (int value = 0; value <= 100; ++value) {
        dial.rings[0].value = value;
        // The step count follows the control's single-precision rule (value 20
        // reaches step 6, not 7).
        const int k = std::min(34, static_cast<int>(static_cast<float>(value) * 0.01f * 35.0f));
        const double reach = span * k / 34.0;
        int compared = 0;
        for (const Pixel& p : pixels) {
            const double a = sinceRing0Start(p.angle);
            if (std::fabs(a - reach) < kBoundaryTolerance || std::fabs(a - 2 * kPi) < kBoundaryTolerance ||
                a < kBoundaryTolerance) {
                continue;
            }
            ++compared;
            ASSERT_EQ(lit(dial, p, 0), a <= reach)
                << "value " << value << " pixel " << p.column << "," << p.row << " angle " << a;
        }
        EXPECT_GT(compared, static_cast<int>(pixels.size()) * 9 / 10);
        const int count = litCount(dial, pixels, 0);
        EXPECT_GE(count, previousCount) << "value " << value;
        previousCount = count;
    }
}

TEST(DialLighting, Ring0EndsOfTheScale)
{
    Dial dial = characterDial();
    const std::vector<Pixel> pixels = bandPixels(dial, 0);

    // Value 0: at most the pixels lying on the start ray.
    dial.rings[0].value = 0;
    int atZero = 0;
    for (const Pixel& p : pixels) {
        if (lit(dial, p, 0)) {
            ++atZero;
            EXPECT_NEAR(std::sin(p.angle - skin::kRing0StartAngle), 0.0, 1e-6) << p.column << "," << p.row;
            EXPECT_LT(p.dx, 0.0);
        }
    }
    EXPECT_LE(atZero, 3);

    // 98 and above: the whole arc, the gap at the bottom stays dark.
    int wholeArc = 0;
    for (const Pixel& p : pixels) {
        const double a = sinceRing0Start(p.angle);
        wholeArc += a <= static_cast<double>(skin::kRing0EndAngle) - skin::kRing0StartAngle + 1e-6 ? 1 : 0;
    }
    for (int value : {98, 99, 100}) {
        dial.rings[0].value = value;
        EXPECT_EQ(litCount(dial, pixels, 0), wholeArc) << value;
    }
    dial.rings[0].value = 97;
    EXPECT_LT(litCount(dial, pixels, 0), wholeArc);
    EXPECT_GT(wholeArc, static_cast<int>(pixels.size()) * 7 / 10);
}

// A pixel on the vertical through the centre is tested as a right-hand one:
// at the middle of the scale (step 17 of 34) the top of the ring is lit just
// left of the vertical but not on it.
TEST(DialLighting, VerticalThroughTheCentreCountsAsRightHand)
{
    Dial dial = characterDial();
    const int topRow = static_cast<int>(skin::kDialCenterY) - 35;
    const int centreColumn = static_cast<int>(skin::kDialCenterX);
    dial.rings[0].value = 50;
    EXPECT_EQ(litRingAt(dial.rings, skin::kDialCenterX, skin::kDialCenterY, centreColumn - 1, topRow), 0);
    EXPECT_EQ(litRingAt(dial.rings, skin::kDialCenterX, skin::kDialCenterY, centreColumn, topRow), -1);
    EXPECT_EQ(litRingAt(dial.rings, skin::kDialCenterX, skin::kDialCenterY, centreColumn + 1, topRow), -1);
    dial.rings[0].value = 53;
    EXPECT_EQ(litRingAt(dial.rings, skin::kDialCenterX, skin::kDialCenterY, centreColumn, topRow), 0);
}

// The selector ring lies in the left half of the circle, which the dial's
// picture does not show; its segments appear mirrored on the right, segment
// 0 at the top (direction -pi - end) down to the last (direction -pi - start).
TEST(DialLighting, SelectorLightsExactlyOneSegment)
{
    struct Selector {
        int segments;
        float start;
        float end;
    };
    const Selector selectors[] = {
        {skin::kCharacterSegments, skin::kCharacterStartAngle, skin::kCharacterEndAngle},
        {skin::kModeSegments, skin::kModeStartAngle, skin::kModeEndAngle},
    };
    for (const Selector& s : selectors) {
        Dial dial = characterDial();
        shapeDialRing(dial.rings[1], false, s.start, s.end, s.segments, skin::kRing1InnerRadius,
                      skin::kRing1OuterRadius);
        const std::vector<Pixel> pixels = bandPixels(dial, 1);
        const double top = -kPi - s.end;
        const double segmentSpan = (static_cast<double>(s.end) - s.start) / s.segments;
        int previousSegment = 0;
        for (int value = 0; value <= 100; ++value) {
            dial.rings[1].value = value;
            std::vector<int> litPerSegment(static_cast<size_t>(s.segments), 0);
            for (const Pixel& p : pixels) {
                ASSERT_GE(p.dx, 0.0); // only the right half lies inside the control
                const double position = (p.angle - top) / segmentSpan;
                const double nearestBoundary = std::round(position);
                if (std::fabs(position - nearestBoundary) * segmentSpan < kBoundaryTolerance) {
                    continue;
                }
                if (lit(dial, p, 1)) {
                    ASSERT_GE(position, 0.0) << value;
                    ASSERT_LT(position, s.segments) << value;
                    ++litPerSegment[static_cast<size_t>(position)];
                }
            }
            int segmentsLit = 0;
            int shown = -1;
            for (int i = 0; i < s.segments; ++i) {
                if (litPerSegment[static_cast<size_t>(i)] > 0) {
                    ++segmentsLit;
                    shown = i;
                }
            }
            ASSERT_EQ(segmentsLit, 1) << s.segments << " segments, value " << value;
            EXPECT_GE(shown, previousSegment);
            previousSegment = shown;
            // Every pixel of the shown segment inside the control is lit.
            for (const Pixel& p : pixels) {
                const double position = (p.angle - top) / segmentSpan;
                if (position > shown + 0.05 && position < shown + 0.95) {
                    EXPECT_TRUE(lit(dial, p, 1)) << value << " at " << p.column << "," << p.row;
                }
            }
            if (s.segments == 6 &&
                (value == 0 || value == 16 || value == 17 || value == 33 || value == 84 || value == 100)) {
                const int expected = value <= 16 ? 0 : (value <= 33 ? 1 : 5);
                EXPECT_EQ(shown, expected) << value;
            }
        }
        EXPECT_EQ(previousSegment, s.segments - 1);
    }
}

// The level dial's ring 1 (one segment, radius 0) covers only the centre
// pixel and never lights it; ring 0 is not disturbed by it.
TEST(DialLighting, DialWithoutSelectorLightsNoRing1Pixel)
{
    Dial dial{};
    dial.width = skin::kDialNarrowWidth;
    shapeDialRing(dial.rings[0], true, skin::kRing0StartAngle, skin::kRing0EndAngle, skin::kRing0Steps,
                  skin::kRing0InnerRadius, skin::kRing0OuterRadius);
    shapeDialRing(dial.rings[1], false, 0.0f, 0.0f, 1, 0, 0);
    for (int value : {0, 50, 100}) {
        dial.rings[1].value = value;
        dial.rings[0].value = value;
        int ring1Lit = 0;
        for (int row = 0; row < skin::kDialHeight; ++row) {
            for (int column = 0; column < dial.width; ++column) {
                ring1Lit += litRingAt(dial.rings, skin::kDialCenterX, skin::kDialCenterY, column, row) == 1;
            }
        }
        EXPECT_EQ(ring1Lit, 0) << value;
    }
    DialRing noSteps;
    shapeDialRing(noSteps, true, 0.0f, 1.0f, 0, 0, 10);
    EXPECT_TRUE(noSteps.angleTable.empty());
    EXPECT_FALSE(within(noSteps, 0, -1.0f, -1.0f));
}
