#include "ToolkitHarnessWin32.h"
#include "gui/toolkit/CSlider.h"

#include <gtest/gtest.h>

using namespace toolkit_test;

namespace {

class SliderTest : public ToolkitWindowTest {
protected:
    void send(const CSlider& slider, UINT message, WPARAM keys, int y)
    {
        SendMessageA(slider.getWindow(), message, keys, mouseAt(20, y));
    }
};

bool inside(const PixelRect& rect, int column, int row)
{
    return column >= rect.left && column < rect.right && row >= rect.top && row < rect.bottom;
}

} // namespace

// Painting copies each bar's lit part from the on picture: nothing at 0,
// everything up to the bar's end from 96, and never anything outside.
TEST_F(SliderTest, BarsLightTheirSegments)
{
    CSlider meter;
    meter.create(testModule(), host->window, panel, skin::kMeterInputY, skin::kImageMeterInputOff,
                 skin::kImageMeterInputOn);
    ASSERT_NE(meter.getWindow(), nullptr);
    ASSERT_EQ(meter.getWidth(), skin::kMeterWidth);
    ASSERT_EQ(meter.getHeight(), skin::kMeterHeight);
    const PixelGrid dark = readWindow(meter.getWindow());

    struct Case {
        int bar0;
        int bar1;
    };
    for (const Case& c : {Case{0, 0}, Case{30, 95}, Case{96, 100}, Case{100, 50}}) {
        meter.bars[0].value = c.bar0;
        meter.bars[1].value = c.bar1;
        InvalidateRect(meter.getWindow(), nullptr, FALSE);
        const PixelGrid shown = readWindow(meter.getWindow());
        EXPECT_EQ(meter.bars[0].paintedValue, c.bar0);
        EXPECT_EQ(meter.bars[1].paintedValue, c.bar1);
        const PixelRect lit0 = litRectangle(meter.bars[0], true);
        const PixelRect lit1 = litRectangle(meter.bars[1], true);
        int rightmost[2] = {-1, -1};
        for (int row = 0; row < dark.height; ++row) {
            for (int column = 0; column < dark.width; ++column) {
                if (shown.at(column, row) == dark.at(column, row)) {
                    continue;
                }
                const bool inBar0 = inside(lit0, column, row);
                ASSERT_TRUE(inBar0 || inside(lit1, column, row)) << column << "," << row;
                int& edge = rightmost[inBar0 ? 0 : 1];
                edge = column > edge ? column : edge;
            }
        }
        const int values[2] = {c.bar0, c.bar1};
        for (int bar = 0; bar < 2; ++bar) {
            if (values[bar] == 0) {
                EXPECT_EQ(rightmost[bar], -1);
            } else if (values[bar] >= 96) {
                EXPECT_GT(rightmost[bar], skin::kMeterBar0Right - 7) << values[bar]; // the last segment lights
            } else {
                EXPECT_LT(rightmost[bar], skin::kMeterBar0Right - 7) << values[bar];
                EXPECT_GT(rightmost[bar], 0) << values[bar];
            }
        }
    }
}

// The panel's bars are read-only: drags change nothing, but a control-click
// still sets 50 (left button bar 0, right button bar 1).
TEST_F(SliderTest, ReadOnlyBarsIgnoreDragsButTakeControlClicks)
{
    CSlider meter;
    meter.create(testModule(), host->window, panel, skin::kMeterOutputY, skin::kImageMeterOutputOff,
                 skin::kImageMeterOutputOn);
    ASSERT_NE(meter.getWindow(), nullptr);
    meter.bars[0].value = 10;
    meter.bars[1].value = 20;
    send(meter, WM_LBUTTONDOWN, MK_LBUTTON, 30);
    send(meter, WM_MOUSEMOVE, MK_LBUTTON, 0);
    send(meter, WM_LBUTTONUP, 0, 0);
    send(meter, WM_RBUTTONDOWN, MK_RBUTTON, 30);
    send(meter, WM_MOUSEMOVE, MK_RBUTTON, -200);
    send(meter, WM_RBUTTONUP, 0, -200);
    EXPECT_EQ(meter.bars[0].value, 10);
    EXPECT_EQ(meter.bars[1].value, 20);
    EXPECT_EQ(GetCapture(), nullptr);

    send(meter, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, 5);
    EXPECT_EQ(meter.bars[0].value, 50);
    EXPECT_EQ(meter.bars[1].value, 20);
    send(meter, WM_LBUTTONUP, 0, 5);
    send(meter, WM_RBUTTONDOWN, MK_RBUTTON | MK_CONTROL, 5);
    send(meter, WM_MOUSEMOVE, MK_RBUTTON, 0);
    EXPECT_EQ(meter.bars[1].value, 50);
    send(meter, WM_RBUTTONUP, 0, 0);

    // A bar that is not read-only follows the drag like a dial's ring.
    meter.bars[1].readOnly = false;
    send(meter, WM_RBUTTONDOWN, MK_RBUTTON, 30); // anchor 15 + 50
    send(meter, WM_MOUSEMOVE, MK_RBUTTON, 10);
    EXPECT_EQ(meter.bars[1].value, 60);
    EXPECT_EQ(meter.bars[0].value, 50);
    send(meter, WM_RBUTTONUP, 0, 10);
}
