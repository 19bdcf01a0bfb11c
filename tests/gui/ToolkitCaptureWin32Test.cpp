// The whole panel with one of each control at its place, as the editor lays
// them out: captured to toolkit-capture.png next to the test program for
// people to look at, and checked pixel by pixel against the pictures each
// control is made from and the rules that pick between them.
#include "ToolkitHarnessWin32.h"
#include "gui/toolkit/CLedButton.h"
#include "gui/toolkit/CLedDial.h"
#include "gui/toolkit/CScopeXY.h"
#include "gui/toolkit/CSlider.h"
#include "gui/toolkit/ScopeRaster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace toolkit_test;

namespace {

struct DialPlace {
    int x;
    int baseImage;
    int ring1Image;
    int segments;
    float start;
    float end;
    int outerRadius;
    int innerRadius;
    int ring0Value;
    int ring1Value;
};

struct ButtonPlace {
    int x;
    int image;
    int command;
    int state;
};

struct ScopePlace {
    int x;
    int image;
    int plotWidth;
    std::uint8_t fade;
};

const DialPlace kDials[3] = {
    {skin::kDialCharacterX, skin::kImageDialCharacter, skin::kImageDialLeds, skin::kCharacterSegments,
     skin::kCharacterStartAngle, skin::kCharacterEndAngle, skin::kRing1OuterRadius, skin::kRing1InnerRadius, 70, 50},
    {skin::kDialDriveX, skin::kImageDialDrive, skin::kImageDialLeds, skin::kModeSegments, skin::kModeStartAngle,
     skin::kModeEndAngle, skin::kRing1OuterRadius, skin::kRing1InnerRadius, 40, 34},
    {skin::kDialLevelX, skin::kImageDialLevel, 0, 1, 0.0f, 0.0f, 0, 0, 85, 0},
};

const ScopePlace kScopes[3] = {
    {skin::kScopeTubeX, skin::kImageScopeTube, skin::kScopeSquarePlotWidth, 15},
    {skin::kScopeTapeX, skin::kImageScopeTape, skin::kScopeSquarePlotWidth, 15},
    {skin::kScopeResponseX, skin::kImageScopeResponse, skin::kScopeResponsePlotWidth, 255},
};

const ButtonPlace kButtons[5] = {
    {skin::kButtonOversampleX, skin::kImageButtonOversample, 1, 0},
    {skin::kButtonPowerX, skin::kImageButtonPower, 2, 1},
    {skin::kButtonStereoX, skin::kImageButtonStereo, 3, 1},
    {skin::kButtonDownloadX, skin::kImageButtonDownload, 4, 0},
    {skin::kButtonInfoX, skin::kImageButtonInfo, 5, 0},
};

const int kMeterY[2] = {skin::kMeterInputY, skin::kMeterOutputY};
const int kMeterImages[2][2] = {{skin::kImageMeterInputOff, skin::kImageMeterInputOn},
                                {skin::kImageMeterOutputOff, skin::kImageMeterOutputOn}};
const int kMeterValues[2][2] = {{80, 72}, {60, 96}};

// The drawing each scope gets: transfer curves as dots for the saturation
// displays (mirrored horizontally, as the editor plots them), a response
// bump as a curve for the equaliser display.
template <typename Target> void drawScope(int scope, Target& target)
{
    if (scope == 2) {
        for (int i = 0; i <= 172; ++i) {
            const float db = 9.0f * std::exp(-std::pow((i - 60) / 28.0f, 2.0f)) - 3.0f;
            const float x = static_cast<float>(i) * 2.0f * 0.0058139535f - 1.0f;
            target.plotCurvePoint(x, -((db + 20.0f) * 0.05f - 1.0f));
        }
        return;
    }
    const float drive = scope == 0 ? 2.5f : 1.2f;
    for (int i = 0; i <= 400; ++i) {
        const float x = -1.1f + 2.2f * static_cast<float>(i) / 400.0f;
        target.plotDot(-x, -std::tanh(drive * x) * 0.9f);
    }
}

std::wstring captureFile()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + L"toolkit-capture.png";
}

class ToolkitCaptureTest : public ToolkitWindowTest {};

} // namespace

TEST_F(ToolkitCaptureTest, PanelWithEveryControl)
{
    CLedDial dials[3];
    CScopeXY scopes[3];
    CSlider meters[2];
    CLedButton buttons[5];
    for (int i = 0; i < 3; ++i) {
        const DialPlace& d = kDials[i];
        dials[i].create(testModule(), host->window, panel, d.baseImage, d.ring1Image, d.segments, d.start, d.end,
                        d.outerRadius, d.innerRadius, d.x);
        ASSERT_NE(dials[i].getWindow(), nullptr) << "dial " << i;
        dials[i].rings[0].value = d.ring0Value;
        dials[i].rings[1].value = d.ring1Value;
        InvalidateRect(dials[i].getWindow(), nullptr, FALSE);
    }
    for (int i = 0; i < 3; ++i) {
        const ScopePlace& s = kScopes[i];
        scopes[i].create(testModule(), host->window, panel, s.image, s.x, s.plotWidth, s.fade);
        ASSERT_NE(scopes[i].getWindow(), nullptr) << "scope " << i;
        drawScope(i, scopes[i]);
        scopes[i].commitFrame();
    }
    for (int i = 0; i < 2; ++i) {
        meters[i].create(testModule(), host->window, panel, kMeterY[i], kMeterImages[i][0], kMeterImages[i][1]);
        ASSERT_NE(meters[i].getWindow(), nullptr) << "meter " << i;
        meters[i].bars[0].value = kMeterValues[i][0];
        meters[i].bars[1].value = kMeterValues[i][1];
        InvalidateRect(meters[i].getWindow(), nullptr, FALSE);
    }
    for (int i = 0; i < 5; ++i) {
        const ButtonPlace& b = kButtons[i];
        buttons[i].create(testModule(), host->window, b.x, panel, b.image, b.command);
        ASSERT_NE(buttons[i].getWindow(), nullptr) << "button " << i;
        buttons[i].setState(b.state);
    }
    InvalidateRect(host->window, nullptr, FALSE);
    const PixelGrid capture = readWindow(host->window);
    ASSERT_EQ(capture.width, skin::kPanelWidth);
    ASSERT_EQ(capture.height, skin::kPanelHeight);
    EXPECT_TRUE(writePng(captureFile(), capture));

    // What every pixel should show, control by control.
    PixelGrid expected = readBitmap(panel);
    std::vector<bool> covered(expected.pixels.size(), false);
    auto place = [&](int x, int y, const PixelGrid& picture, int rowOffset, int width, int height, auto&& choose) {
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                const size_t at = static_cast<size_t>(y + row) * skin::kPanelWidth + static_cast<size_t>(x + column);
                expected.pixels[at] = choose(column, row, picture.at(column, rowOffset + row));
                covered[at] = true;
            }
        }
    };
    for (int i = 0; i < 3; ++i) {
        const DialPlace& d = kDials[i];
        const int width = dials[i].getWidth();
        const PixelGrid base = composedPicture(panel, d.baseImage, d.x, skin::kDialY, width, skin::kDialHeight);
        const PixelGrid leds =
            composedPicture(panel, skin::kImageDialLeds, d.x, skin::kDialY, width, skin::kDialHeight);
        place(d.x, skin::kDialY, base, 0, width, skin::kDialHeight, [&](int column, int row, std::uint32_t dark) {
            const int ring = litRingAt(dials[i].rings, dials[i].centerX, dials[i].centerY, column, row);
            return ring >= 0 ? leds.at(column, row) : dark;
        });
        EXPECT_EQ(dials[i].rings[0].paintedValue, d.ring0Value);
    }
    for (int i = 0; i < 3; ++i) {
        const ScopePlace& s = kScopes[i];
        const int width = scopes[i].getWidth();
        const PixelGrid background = composedPicture(panel, s.image, s.x, skin::kScopeY, width, skin::kScopeSquareSize);
        ScopeRaster raster;
        raster.assign(background.pixels.data(), width, background.height, s.plotWidth, skin::kScopePlotHeight);
        drawScope(i, raster);
        const std::vector<std::uint32_t> drawn(raster.pixels(), raster.pixels() + raster.pixelCount());
        place(s.x, skin::kScopeY, background, 0, width, background.height,
              [&](int column, int row, std::uint32_t) { return drawn[static_cast<size_t>(row * width + column)]; });
    }
    for (int i = 0; i < 2; ++i) {
        const PixelGrid off = composedPicture(panel, kMeterImages[i][0], skin::kMeterX, kMeterY[i], skin::kMeterWidth,
                                              skin::kMeterHeight);
        const PixelGrid on = composedPicture(panel, kMeterImages[i][1], skin::kMeterX, kMeterY[i], skin::kMeterWidth,
                                             skin::kMeterHeight);
        const PixelRect lit[2] = {litRectangle(meters[i].bars[0], true), litRectangle(meters[i].bars[1], true)};
        place(skin::kMeterX, kMeterY[i], off, 0, skin::kMeterWidth, skin::kMeterHeight,
              [&](int column, int row, std::uint32_t dark) {
                  for (const PixelRect& r : lit) {
                      if (column >= r.left && column < r.right && row >= r.top && row < r.bottom) {
                          return on.at(column, row);
                      }
                  }
                  return dark;
              });
    }
    for (int i = 0; i < 5; ++i) {
        const ButtonPlace& b = kButtons[i];
        const PixelGrid strip = composedPicture(panel, b.image, b.x, 0, skin::kButtonWidth, skin::kButtonHeight, 2);
        place(b.x, 0, strip, b.state * skin::kButtonHeight, skin::kButtonWidth, skin::kButtonHeight,
              [](int, int, std::uint32_t shown) { return shown; });
    }

    int wrongInControls = 0;
    int wrongOnPanel = 0;
    for (int row = 0; row < capture.height; ++row) {
        for (int column = 0; column < capture.width; ++column) {
            const size_t at = static_cast<size_t>(row) * skin::kPanelWidth + static_cast<size_t>(column);
            if (capture.at(column, row) != (expected.pixels[at] & 0x00FFFFFFu)) {
                (covered[at] ? wrongInControls : wrongOnPanel) += 1;
                if (wrongInControls + wrongOnPanel <= 5) {
                    ADD_FAILURE() << "pixel " << column << "," << row << " shows " << std::hex
                                  << capture.at(column, row) << ", expected " << (expected.pixels[at] & 0x00FFFFFFu);
                }
            }
        }
    }
    EXPECT_EQ(wrongInControls, 0);
    EXPECT_EQ(wrongOnPanel, 0);

    // The lit parts really differ from the dark pictures: LEDs on, bars lit,
    // red in the scopes.
    const PixelGrid darkDial =
        composedPicture(panel, kDials[0].baseImage, kDials[0].x, skin::kDialY, dials[0].getWidth(), skin::kDialHeight);
    int litDialPixels = 0;
    for (int row = 0; row < skin::kDialHeight; ++row) {
        for (int column = 0; column < dials[0].getWidth(); ++column) {
            litDialPixels += capture.at(kDials[0].x + column, skin::kDialY + row) != darkDial.at(column, row);
        }
    }
    EXPECT_GT(litDialPixels, 200);
    int redPixels = 0;
    for (int row = 0; row < skin::kScopeSquareSize; ++row) {
        for (int column = 0; column < skin::kScopeSquareSize; ++column) {
            redPixels += redOf(capture.at(skin::kScopeTubeX + column, skin::kScopeY + row)) == 255;
        }
    }
    EXPECT_GT(redPixels, 80);
}
