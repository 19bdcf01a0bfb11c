#include "ToolkitHarnessWin32.h"
#include "gui/toolkit/CLedButton.h"

#include <gtest/gtest.h>

using namespace toolkit_test;

namespace {

class LedButtonTest : public ToolkitWindowTest {
protected:
    void click(const CLedButton& button)
    {
        SendMessageA(button.getWindow(), WM_LBUTTONDOWN, MK_LBUTTON, mouseAt(10, 10));
        SendMessageA(button.getWindow(), WM_LBUTTONUP, 0, mouseAt(10, 10));
    }
};

} // namespace

TEST_F(LedButtonTest, ClicksFlipTheStateAndNotifyTheOwner)
{
    CLedButton button;
    button.create(testModule(), host->window, skin::kButtonPowerX, panel, skin::kImageButtonPower, 2);
    ASSERT_NE(button.getWindow(), nullptr);
    EXPECT_EQ(button.getWidth(), skin::kButtonWidth);
    EXPECT_EQ(button.getHeight(), skin::kButtonHeight);
    const PixelGrid off = readWindow(button.getWindow());

    SendMessageA(button.getWindow(), WM_LBUTTONDOWN, MK_LBUTTON, mouseAt(10, 10));
    ASSERT_EQ(host->buttonMessages.size(), 1u); // at the press, not the release
    EXPECT_EQ(host->buttonMessages[0].first, 2u);
    EXPECT_EQ(host->buttonMessages[0].second, 1);
    EXPECT_EQ(GetCapture(), button.getWindow());
    SendMessageA(button.getWindow(), WM_LBUTTONUP, 0, mouseAt(10, 10));
    EXPECT_EQ(host->buttonMessages.size(), 1u);
    EXPECT_EQ(button.getState(), 1);
    EXPECT_EQ(GetCapture(), nullptr);
    const PixelGrid on = readWindow(button.getWindow());
    EXPECT_NE(on.pixels, off.pixels);

    click(button);
    ASSERT_EQ(host->buttonMessages.size(), 2u);
    EXPECT_EQ(host->buttonMessages[1].first, 2u);
    EXPECT_EQ(host->buttonMessages[1].second, 0);
    EXPECT_EQ(button.getState(), 0);
    EXPECT_EQ(readWindow(button.getWindow()).pixels, off.pixels);

    // The owner's setState shows the frame at once and sends nothing.
    button.setState(1);
    EXPECT_EQ(readWindow(button.getWindow()).pixels, on.pixels);
    EXPECT_EQ(host->buttonMessages.size(), 2u);
    button.setState(7); // no such frame: the last one
    EXPECT_EQ(button.getState(), 1);
}

TEST_F(LedButtonTest, CommandZeroIsInert)
{
    CLedButton button;
    button.create(testModule(), host->window, skin::kButtonInfoX, panel, skin::kImageButtonInfo, 0);
    ASSERT_NE(button.getWindow(), nullptr);
    click(button);
    click(button);
    button.setState(1);
    click(button);
    EXPECT_EQ(button.getState(), 1);
    EXPECT_TRUE(host->buttonMessages.empty());
}

// A momentary button: the owner sets it back to 0 while handling the
// notification, and the release leaves it off.
TEST_F(LedButtonTest, SetStateDuringTheNotificationLeavesItOff)
{
    CLedButton button;
    button.create(testModule(), host->window, skin::kButtonDownloadX, panel, skin::kImageButtonDownload, 4);
    ASSERT_NE(button.getWindow(), nullptr);
    const PixelGrid off = readWindow(button.getWindow());
    host->onButton = [&button](WPARAM, LPARAM) { button.setState(0); };
    for (int i = 0; i < 2; ++i) {
        click(button);
        EXPECT_EQ(button.getState(), 0);
        EXPECT_EQ(readWindow(button.getWindow()).pixels, off.pixels);
    }
    ASSERT_EQ(host->buttonMessages.size(), 2u);
    EXPECT_EQ(host->buttonMessages[1].first, 4u);
    EXPECT_EQ(host->buttonMessages[1].second, 1); // every click reports "on"
}

// Closing and opening again: the state survives, the window comes back.
TEST_F(LedButtonTest, ReopenKeepsTheState)
{
    CLedButton button;
    button.create(testModule(), host->window, skin::kButtonStereoX, panel, skin::kImageButtonStereo, 3);
    click(button);
    button.destroyWindow();
    EXPECT_EQ(button.getWindow(), nullptr);
    button.setState(1); // only stored
    button.create(testModule(), host->window, skin::kButtonStereoX, panel, skin::kImageButtonStereo, 3);
    ASSERT_NE(button.getWindow(), nullptr);
    EXPECT_EQ(button.getState(), 1);
    click(button);
    EXPECT_EQ(button.getState(), 0);
}
