#include "gui/toolkit/MeterGeometry.h"
#include "gui/toolkit/SkinGeometry.h"

#include <gtest/gtest.h>

namespace {

MeterBar panelBar(int value)
{
    MeterBar bar;
    bar.left = skin::kMeterBar0Left;
    bar.top = skin::kMeterBar0Top;
    bar.right = skin::kMeterBar0Right;
    bar.bottom = skin::kMeterBar0Bottom;
    bar.segments = skin::kMeterSegments;
    bar.value = value;
    return bar;
}

// Whole segments covered by a lit rectangle starting at the bar's start.
int segmentsCovered(const MeterBar& bar, const PixelRect& lit)
{
    const double step = static_cast<double>(bar.right - bar.left) / bar.segments;
    return static_cast<int>((lit.right - bar.left + 1) / step);
}

} // namespace

TEST(MeterGeometry, PanelBarLightsFromNothingToEverySegment)
{
    const PixelRect none = litRectangle(panelBar(0), true);
    EXPECT_LE(none.right - none.left, 0);

    int previous = 0;
    for (int value = 0; value <= 100; ++value) {
        const MeterBar bar = panelBar(value);
        const PixelRect lit = litRectangle(bar, true);
        EXPECT_EQ(lit.left, bar.left);
        EXPECT_EQ(lit.top, bar.top);
        EXPECT_EQ(lit.bottom, bar.bottom);
        EXPECT_LE(lit.right, bar.right);
        const int segments = segmentsCovered(bar, lit);
        EXPECT_EQ(segments, litSegmentCount(bar)) << value;
        EXPECT_GE(segments, previous);
        EXPECT_LE(segments - previous, 1) << value;
        previous = segments;
        if (value >= 96) {
            EXPECT_EQ(lit.right, bar.right) << value; // all 23 segments
        } else {
            EXPECT_LT(lit.right, bar.right - 5) << value;
        }
    }
    EXPECT_EQ(litSegmentCount(panelBar(95)), 22); // a level of exactly 0 dBFS
    EXPECT_EQ(litSegmentCount(panelBar(96)), 23);
    EXPECT_EQ(litSegmentCount(panelBar(4)), 0); // the first segment needs 100/24
    EXPECT_EQ(litSegmentCount(panelBar(5)), 1);
}

TEST(MeterGeometry, VerticalBarsGrowFromTheBottom)
{
    MeterBar bar;
    bar.left = 2;
    bar.right = 12;
    bar.top = 10;
    bar.bottom = 110;
    bar.segments = 20;
    bar.value = 0;
    PixelRect lit = litRectangle(bar, false);
    EXPECT_EQ(lit.top, 110);
    EXPECT_EQ(lit.bottom, 110);
    bar.value = 50;
    lit = litRectangle(bar, false);
    EXPECT_EQ(lit.left, 2);
    EXPECT_EQ(lit.right, 12);
    EXPECT_EQ(lit.bottom, 110);
    EXPECT_EQ(lit.top, 110 - 10 * 5); // 10 of 20 segments of 5 rows
    bar.value = 100;
    lit = litRectangle(bar, false);
    EXPECT_EQ(lit.top, 10);
}

// In segment mode only the segment at the value lights; with none reached
// that one lies just before the bar's start, outside it.
TEST(MeterGeometry, SegmentModeLightsOneSegment)
{
    MeterBar bar = panelBar(0);
    bar.fillBar = false;
    PixelRect lit = litRectangle(bar, true);
    EXPECT_EQ(lit.right, bar.left);
    EXPECT_LT(lit.left, bar.left);
    EXPECT_GE(lit.left, bar.left - 7);

    bar.value = 50; // 12 segments reached: the 12th is shown
    lit = litRectangle(bar, true);
    const double step = (bar.right - bar.left) / 23.0;
    EXPECT_NEAR(lit.left, bar.left + 11 * step, 1.0);
    EXPECT_NEAR(lit.right, bar.left + 12 * step, 1.0);
}
