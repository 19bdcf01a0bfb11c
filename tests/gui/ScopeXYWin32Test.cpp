#include "ToolkitHarnessWin32.h"
#include "gui/toolkit/CScopeXY.h"

#include <gtest/gtest.h>

using namespace toolkit_test;

namespace {

class ScopeXYTest : public ToolkitWindowTest {};

int differingPixels(const PixelGrid& a, const PixelGrid& b)
{
    int count = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        count += (a.pixels[i] & 0x00FFFFFFu) != (b.pixels[i] & 0x00FFFFFFu);
    }
    return count;
}

} // namespace

// A dot shows fully red at the next commit and then fades a sixteenth of the
// way back to the background with every further commit.
TEST_F(ScopeXYTest, TrailsFadeBySixteenths)
{
    CScopeXY scope;
    scope.create(testModule(), host->window, panel, skin::kImageScopeTube, skin::kScopeTubeX,
                 skin::kScopeSquarePlotWidth, 15);
    ASSERT_NE(scope.getWindow(), nullptr);
    ASSERT_EQ(scope.getWidth(), skin::kScopeSquareSize);
    const PixelGrid background = readWindow(scope.getWindow());

    scope.plotDot(0.0f, 0.0f);
    EXPECT_EQ(differingPixels(readWindow(scope.getWindow()), background), 0); // nothing shows before the commit
    scope.commitFrame();
    PixelGrid shown = readWindow(scope.getWindow());
    const std::uint32_t under = background.at(41, 41);
    EXPECT_EQ(shown.at(41, 41), (under & 0x0000FFFFu) | 0x00FF0000u);
    EXPECT_EQ(differingPixels(shown, background), 1);

    int expectedRed = 255;
    for (int commit = 0; commit < 3; ++commit) {
        scope.commitFrame();
        shown = readWindow(scope.getWindow());
        expectedRed -= (expectedRed - redOf(under) + 15) / 16; // a sixteenth, rounded towards the background
        EXPECT_EQ(redOf(shown.at(41, 41)), expectedRed) << commit;
        EXPECT_EQ(greenOf(shown.at(41, 41)), greenOf(under));
    }

    // Far above the plot: the two top rows turn orange across the plot.
    scope.plotDot(0.5f, -4.0f);
    scope.commitFrame();
    shown = readWindow(scope.getWindow());
    for (int column = 1; column <= 80; ++column) {
        EXPECT_EQ(shown.at(column, 1), 0x00FFA045u) << column;
        EXPECT_EQ(shown.at(column, 2), 0x007F5022u) << column;
    }
    EXPECT_EQ(shown.at(0, 1), background.at(0, 1));
    EXPECT_EQ(shown.at(81, 1), background.at(81, 1));
}

// Fade mode 255: each commit shows the new curve and clears the raster, so a
// commit without new points shows the background again.
TEST_F(ScopeXYTest, ResponseModeShowsOneCurveAtATime)
{
    CScopeXY scope;
    scope.create(testModule(), host->window, panel, skin::kImageScopeResponse, skin::kScopeResponseX,
                 skin::kScopeResponsePlotWidth, 255);
    ASSERT_NE(scope.getWindow(), nullptr);
    ASSERT_EQ(scope.getWidth(), skin::kScopeResponseWidth);
    const PixelGrid background = readWindow(scope.getWindow());
    for (int i = 0; i <= 172; ++i) {
        scope.plotCurvePoint(static_cast<float>(i) * 2.0f * 0.0058139535f - 1.0f, 0.25f);
    }
    scope.commitFrame();
    const PixelGrid curve = readWindow(scope.getWindow());
    EXPECT_GE(differingPixels(curve, background), 172 * 2);
    EXPECT_EQ(redOf(curve.at(50, 51)), 255); // row (0.25 * 80 + 82) / 2 = 51
    scope.commitFrame();
    EXPECT_EQ(differingPixels(readWindow(scope.getWindow()), background), 0);
}

// On a 16-bit display the pictures composed over the panel have 16 bits a
// pixel; the scope still gets its window and shows its dots, and every pixel
// of what it shows carries 255 in the fourth byte, so nothing reading that
// byte as alpha shows holes.
TEST_F(ScopeXYTest, WorksAtSixteenBitsAPixelAndShowsOpaquePixels)
{
    for (int depth : {16, 0}) {
        setComposeDepthForTests(depth);
        CScopeXY scope;
        scope.create(testModule(), host->window, panel, skin::kImageScopeTube, skin::kScopeTubeX,
                     skin::kScopeSquarePlotWidth, 15);
        setComposeDepthForTests(0);
        ASSERT_NE(scope.getWindow(), nullptr) << depth;
        scope.plotDot(0.0f, 0.0f);
        scope.commitFrame();
        const std::uint32_t* shown = scope.getShownPixels();
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown[41 * skin::kScopeSquareSize + 41] & 0xFFFF0000u, 0xFFFF0000u) << depth; // the red dot
        EXPECT_EQ(redOf(readWindow(scope.getWindow()).at(41, 41)), 255) << depth;
        int transparent = 0;
        for (int i = 0; i < skin::kScopeSquareSize * skin::kScopeSquareSize; ++i)
            transparent += (shown[i] >> 24) != 0xFFu;
        EXPECT_EQ(transparent, 0) << depth;
        scope.destroyWindow();
    }
}
