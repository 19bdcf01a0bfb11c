#include "ToolkitHarnessWin32.h"
#include "gui/toolkit/CLedDial.h"

#include <gtest/gtest.h>

using namespace toolkit_test;

namespace {

class LedDialTest : public ToolkitWindowTest {
protected:
    void SetUp() override
    {
        ToolkitWindowTest::SetUp();
        createDial();
        ASSERT_NE(dial.getWindow(), nullptr);
    }
    void createDial()
    {
        dial.create(testModule(), host->window, panel, skin::kImageDialCharacter, skin::kImageDialLeds,
                    skin::kCharacterSegments, skin::kCharacterStartAngle, skin::kCharacterEndAngle,
                    skin::kRing1OuterRadius, skin::kRing1InnerRadius, skin::kDialCharacterX);
    }
    void TearDown() override
    {
        dial.destroyWindow();
        ToolkitWindowTest::TearDown();
    }
    void send(UINT message, WPARAM keys, int y) { SendMessageA(dial.getWindow(), message, keys, mouseAt(30, y)); }

    CLedDial dial;
};

} // namespace

// Dragging up raises ring 0's value by one per two pixels from its value at
// the press; the capture keeps the drag going beyond the window, where the
// value stays within 0..100.
TEST_F(LedDialTest, LeftDragMovesRing0)
{
    dial.rings[0].value = 20;
    send(WM_LBUTTONDOWN, MK_LBUTTON, 60);
    EXPECT_EQ(GetCapture(), dial.getWindow());
    send(WM_MOUSEMOVE, MK_LBUTTON, 40);
    EXPECT_EQ(dial.rings[0].value, 30);
    send(WM_MOUSEMOVE, MK_LBUTTON, 71);
    EXPECT_EQ(dial.rings[0].value, 15);
    send(WM_MOUSEMOVE, MK_LBUTTON, -300);
    EXPECT_EQ(dial.rings[0].value, 100);
    send(WM_MOUSEMOVE, MK_LBUTTON, 900);
    EXPECT_EQ(dial.rings[0].value, 0);
    EXPECT_EQ(dial.rings[1].value, 0);
    send(WM_LBUTTONUP, 0, 900);
    EXPECT_EQ(GetCapture(), nullptr);
    send(WM_MOUSEMOVE, 0, 10);
    EXPECT_EQ(dial.rings[0].value, 0);
}

TEST_F(LedDialTest, ShiftSnapsToTens)
{
    dial.rings[1].value = 33;
    send(WM_RBUTTONDOWN, MK_RBUTTON, 50); // anchor 25 + 33
    send(WM_MOUSEMOVE, MK_RBUTTON | MK_SHIFT, 46);
    EXPECT_EQ(dial.rings[1].value, 33); // 35 is not a multiple of ten
    send(WM_MOUSEMOVE, MK_RBUTTON | MK_SHIFT, 36);
    EXPECT_EQ(dial.rings[1].value, 40);
    send(WM_MOUSEMOVE, MK_RBUTTON | MK_SHIFT, 30);
    EXPECT_EQ(dial.rings[1].value, 40);
    send(WM_MOUSEMOVE, MK_RBUTTON, 30);
    EXPECT_EQ(dial.rings[1].value, 43);
    send(WM_RBUTTONUP, 0, 30);
}

// Control-click: the left button sets ring 0 to 50 and starts nothing; the
// right button sets ring 1 to 50 and starts a drag from there.
TEST_F(LedDialTest, ControlClickSetsFifty)
{
    dial.rings[0].value = 90;
    send(WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, 40);
    EXPECT_EQ(dial.rings[0].value, 50);
    EXPECT_EQ(GetCapture(), nullptr);
    send(WM_MOUSEMOVE, MK_LBUTTON, 0);
    EXPECT_EQ(dial.rings[0].value, 50);
    send(WM_LBUTTONUP, 0, 0);

    dial.rings[1].value = 5;
    send(WM_RBUTTONDOWN, MK_RBUTTON | MK_CONTROL, 40);
    EXPECT_EQ(dial.rings[1].value, 50);
    EXPECT_EQ(GetCapture(), dial.getWindow());
    send(WM_MOUSEMOVE, MK_RBUTTON, 30);
    EXPECT_EQ(dial.rings[1].value, 55);
    send(WM_RBUTTONUP, 0, 30);
    EXPECT_EQ(GetCapture(), nullptr);
}

// The second button during a drag takes the first one's anchor: both rings
// then move together, and the capture ends with the last release.
TEST_F(LedDialTest, BothButtonsShareOneAnchor)
{
    dial.rings[0].value = 10;
    dial.rings[1].value = 80;
    send(WM_LBUTTONDOWN, MK_LBUTTON, 50); // anchor 35
    send(WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON, 10);
    send(WM_MOUSEMOVE, MK_LBUTTON | MK_RBUTTON, 30);
    EXPECT_EQ(dial.rings[0].value, 20);
    EXPECT_EQ(dial.rings[1].value, 20);
    send(WM_LBUTTONUP, MK_RBUTTON, 30);
    EXPECT_EQ(GetCapture(), dial.getWindow());
    send(WM_MOUSEMOVE, MK_RBUTTON, 20);
    EXPECT_EQ(dial.rings[0].value, 20);
    EXPECT_EQ(dial.rings[1].value, 25);
    send(WM_RBUTTONUP, 0, 20);
    EXPECT_EQ(GetCapture(), nullptr);
}

// Values survive closing and opening; a drag cut short by the close does not.
TEST_F(LedDialTest, ReopeningKeepsValuesButEndsADrag)
{
    dial.rings[0].value = 40;
    dial.rings[1].value = 70;
    send(WM_LBUTTONDOWN, MK_LBUTTON, 60);
    dial.destroyWindow();
    EXPECT_EQ(dial.getWindow(), nullptr);
    createDial();
    ASSERT_NE(dial.getWindow(), nullptr);
    send(WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(dial.rings[0].value, 40);
    EXPECT_EQ(dial.rings[1].value, 70);
}

// What the window shows: turning ring 0 up changes only pixels that the
// lighting rule lights, more of them the higher the value, and every paint
// records the painted values.
TEST_F(LedDialTest, PaintLightsOnlyTheRuleSPixels)
{
    dial.rings[0].value = 0;
    dial.rings[1].value = 0;
    InvalidateRect(dial.getWindow(), nullptr, FALSE);
    const PixelGrid dark = readWindow(dial.getWindow());
    ASSERT_EQ(dark.width, skin::kDialWideWidth);
    ASSERT_EQ(dark.height, skin::kDialHeight);
    int previous = 0;
    for (int value : {10, 40, 70, 100}) {
        dial.rings[0].value = value;
        InvalidateRect(dial.getWindow(), nullptr, FALSE);
        const PixelGrid shown = readWindow(dial.getWindow());
        EXPECT_EQ(dial.rings[0].paintedValue, value);
        int changed = 0;
        for (int row = 0; row < dark.height; ++row) {
            for (int column = 0; column < dark.width; ++column) {
                if (shown.at(column, row) != dark.at(column, row)) {
                    ++changed;
                    ASSERT_EQ(litRingAt(dial.rings, dial.centerX, dial.centerY, column, row), 0)
                        << value << " at " << column << "," << row;
                }
            }
        }
        EXPECT_GT(changed, previous) << value;
        previous = changed;
    }
}

// What the dial paints carries 255 in every pixel's fourth byte, lit or not,
// at the display's depth and at 16 bits a pixel.
TEST_F(LedDialTest, PaintsOpaquePixelsAtAnyDepth)
{
    for (int depth : {0, 16}) {
        dial.destroyWindow();
        setComposeDepthForTests(depth);
        createDial();
        setComposeDepthForTests(0);
        ASSERT_NE(dial.getWindow(), nullptr) << depth;
        dial.rings[0].value = 60;
        dial.rings[1].value = 50;
        InvalidateRect(dial.getWindow(), nullptr, FALSE);
        UpdateWindow(dial.getWindow());
        const std::uint32_t* painted = dial.getPaintedPixels();
        ASSERT_NE(painted, nullptr);
        int transparent = 0;
        for (int i = 0; i < skin::kDialWideWidth * skin::kDialHeight; ++i)
            transparent += (painted[i] >> 24) != 0xFFu;
        EXPECT_EQ(transparent, 0) << depth;
        EXPECT_EQ(dial.rings[0].paintedValue, 60);
    }
}
