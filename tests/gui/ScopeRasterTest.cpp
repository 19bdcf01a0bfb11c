#include "gui/toolkit/ScopeRaster.h"
#include "gui/toolkit/SkinGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr std::uint32_t kBackground = 0x00203040u;

struct Picture {
    int width;
    int height;
    std::vector<std::uint32_t> pixels;
};

Picture plainPicture(int width, int height, std::uint32_t colour)
{
    return {width, height, std::vector<std::uint32_t>(static_cast<size_t>(width * height), colour)};
}

// The square saturation display: 82 x 82 with an 80 x 80 plot at columns and
// rows 1..80.
ScopeRaster squareScope(std::uint32_t colour = kBackground)
{
    const Picture picture = plainPicture(skin::kScopeSquareSize, skin::kScopeSquareSize, colour);
    ScopeRaster raster;
    raster.assign(picture.pixels.data(), picture.width, picture.height, skin::kScopeSquarePlotWidth,
                  skin::kScopePlotHeight);
    return raster;
}

std::uint32_t at(const ScopeRaster& raster, int column, int row)
{
    return raster.pixels()[row * skin::kScopeSquareSize + column] & 0x00FFFFFFu;
}

int red(std::uint32_t pixel)
{
    return static_cast<int>((pixel >> 16) & 0xFF);
}

int changedPixels(const ScopeRaster& raster, std::uint32_t background)
{
    int changed = 0;
    for (int i = 0; i < raster.pixelCount(); ++i) {
        changed += (raster.pixels()[i] & 0x00FFFFFFu) != background;
    }
    return changed;
}

// Row offset from the picture's centre that lands exactly on fy.
float yForRow(float fy)
{
    return (2.0f * fy - skin::kScopeSquareSize) / skin::kScopePlotHeight;
}

} // namespace

TEST(ScopeRaster, PlotBoundsAreCentred)
{
    ScopeRaster square = squareScope();
    EXPECT_EQ(square.clipLeft, 1);
    EXPECT_EQ(square.clipRight, 80);
    EXPECT_EQ(square.clipTop, 1);
    EXPECT_EQ(square.clipBottom, 80);

    const Picture wide = plainPicture(skin::kScopeResponseWidth, skin::kScopeResponseHeight, kBackground);
    ScopeRaster response;
    response.assign(wide.pixels.data(), wide.width, wide.height, skin::kScopeResponsePlotWidth, skin::kScopePlotHeight);
    EXPECT_EQ(response.clipLeft, 1);
    EXPECT_EQ(response.clipRight, 172);

    ScopeRaster none;
    none.assign(nullptr, 0, 0, 80, 80);
    EXPECT_FALSE(none.hasPixels());
    none.plotDot(0, 0);
    none.plotCurvePoint(0, 0);
    none.finishFrame(15);
    EXPECT_EQ(none.pixelCount(), 0);
}

TEST(ScopeRaster, DotsLightTheirPixelRed)
{
    ScopeRaster raster = squareScope();
    raster.plotDot(0.0f, 0.0f);
    EXPECT_EQ(at(raster, 41, 41), 0x00FF3040u); // red set, green and blue kept
    raster.plotDot(-1.0f, -1.0f);
    EXPECT_EQ(at(raster, 1, 1), 0x00FF3040u); // the plot's top-left pixel
    EXPECT_EQ(changedPixels(raster, kBackground), 2);

    // Far left and right land on the first and last plot column.
    raster.plotDot(-7.0f, 0.5f);
    raster.plotDot(1e30f, 0.5f);
    raster.plotDot(-std::numeric_limits<float>::infinity(), -0.5f);
    EXPECT_EQ(at(raster, 1, 61), 0x00FF3040u);
    EXPECT_EQ(at(raster, 80, 61), 0x00FF3040u);
    EXPECT_EQ(at(raster, 1, 21), 0x00FF3040u);
    EXPECT_EQ(changedPixels(raster, kBackground), 5);

    // Points that are not numbers are dropped.
    raster.plotDot(std::nanf(""), 0.0f);
    raster.plotDot(0.2f, std::nanf(""));
    EXPECT_EQ(changedPixels(raster, kBackground), 5);
}

TEST(ScopeRaster, DotsBeyondThePlotMarkTheEdgeRows)
{
    const std::uint32_t orange = 0x00FFA045u;
    const std::uint32_t darkOrange = 0x007F5022u;
    ScopeRaster above = squareScope();
    above.plotDot(0.3f, -3.0f);
    ScopeRaster below = squareScope();
    below.plotDot(-0.3f, 1e20f);
    for (int column = 0; column < skin::kScopeSquareSize; ++column) {
        const bool inPlot = column >= 1 && column <= 80;
        EXPECT_EQ(at(above, column, 1), inPlot ? orange : kBackground) << column;
        EXPECT_EQ(at(above, column, 2), inPlot ? darkOrange : kBackground) << column;
        EXPECT_EQ(at(below, column, 80), inPlot ? orange : kBackground) << column;
        EXPECT_EQ(at(below, column, 79), inPlot ? darkOrange : kBackground) << column;
    }
    EXPECT_EQ(changedPixels(above, kBackground), 160);
    EXPECT_EQ(changedPixels(below, kBackground), 160);
}

// A curve point is a vertical tent: half, full, half for a point on a row;
// a quarter, three quarters, three quarters, a quarter for a point halfway
// between rows.
TEST(ScopeRaster, CurvePointsAreVerticalTents)
{
    ScopeRaster onRow = squareScope(0);
    onRow.plotCurvePoint(0.0f, yForRow(41.0f));
    EXPECT_NEAR(red(at(onRow, 41, 40)), 128, 1);
    EXPECT_EQ(red(at(onRow, 41, 41)), 255);
    EXPECT_NEAR(red(at(onRow, 41, 42)), 128, 1);
    EXPECT_EQ(changedPixels(onRow, 0), 3);

    ScopeRaster between = squareScope(0);
    between.plotCurvePoint(0.0f, yForRow(41.5f));
    EXPECT_NEAR(red(at(between, 41, 40)), 64, 1);
    EXPECT_NEAR(red(at(between, 41, 41)), 191, 1);
    EXPECT_NEAR(red(at(between, 41, 42)), 191, 1);
    EXPECT_NEAR(red(at(between, 41, 43)), 64, 1);
    EXPECT_EQ(changedPixels(between, 0), 4);

    // Over a coloured background green and blue give way to red.
    ScopeRaster coloured = squareScope(0x00406080u);
    coloured.plotCurvePoint(0.0f, yForRow(41.0f));
    EXPECT_EQ(at(coloured, 41, 41), 0x00FF0000u);
    const std::uint32_t half = at(coloured, 41, 40);
    EXPECT_NEAR(red(half), (0x40 + 0xFF) / 2, 2);
    EXPECT_NEAR(static_cast<int>((half >> 8) & 0xFF), 0x60 / 2, 2);
    EXPECT_NEAR(static_cast<int>(half & 0xFF), 0x80 / 2, 2);
}

// The tent reaches one row above and two below its centre; points closer to
// the plot's top or bottom are dropped, not clamped.
TEST(ScopeRaster, CurvePointsNearTheEdgesAreDropped)
{
    struct Case {
        float row;
        bool drawn;
    };
    const Case cases[] = {{2.0f, false}, {2.5f, true}, {78.0f, true}, {78.5f, false}, {-30.0f, false}};
    for (const Case& c : cases) {
        ScopeRaster raster = squareScope(0);
        raster.plotCurvePoint(0.0f, yForRow(c.row));
        EXPECT_EQ(changedPixels(raster, 0) > 0, c.drawn) << c.row;
        for (int column = 0; column < skin::kScopeSquareSize; ++column) {
            EXPECT_EQ(at(raster, column, 0), 0u);
            EXPECT_EQ(at(raster, column, 81), 0u);
        }
    }
    ScopeRaster raster = squareScope(0);
    raster.plotCurvePoint(std::nanf(""), 0.0f);
    raster.plotCurvePoint(0.0f, std::nanf(""));
    raster.plotCurvePoint(3e9f, 0.0f);
    EXPECT_EQ(changedPixels(raster, 0), 0);
}

// The response display's 173 curve points spread over x = -1..1 fill the
// plot's 172 columns; the last point falls one column beyond and is lost.
TEST(ScopeRaster, ResponseCurveLosesItsLastPoint)
{
    const Picture picture = plainPicture(skin::kScopeResponseWidth, skin::kScopeResponseHeight, 0);
    ScopeRaster raster;
    raster.assign(picture.pixels.data(), picture.width, picture.height, skin::kScopeResponsePlotWidth,
                  skin::kScopePlotHeight);
    for (int i = 0; i <= 172; ++i) {
        raster.plotCurvePoint(static_cast<float>(i) * 2.0f * 0.0058139535f - 1.0f, 0.0f);
    }
    std::vector<bool> columnDrawn(static_cast<size_t>(picture.width), false);
    for (int i = 0; i < raster.pixelCount(); ++i) {
        if (raster.pixels()[i] != 0) {
            columnDrawn[static_cast<size_t>(i % picture.width)] = true;
        }
    }
    for (int column = 0; column < picture.width; ++column) {
        EXPECT_EQ(columnDrawn[static_cast<size_t>(column)], column >= 1 && column <= 172) << column;
    }
}

TEST(ScopeRaster, FrameInModeAllResetsToTheBackground)
{
    ScopeRaster raster = squareScope();
    raster.plotDot(0.1f, 0.1f);
    raster.plotDot(0.0f, -2.0f);
    raster.plotCurvePoint(0.4f, 0.2f);
    ASSERT_GT(changedPixels(raster, kBackground), 0);
    raster.finishFrame(255);
    EXPECT_EQ(changedPixels(raster, kBackground), 0);
}

// Every channel moves a sixteenth of the way to the background per frame,
// rounded down, in whichever direction it differs; a lone dot fades to less
// than half in sixteen frames and finally reaches the background.
TEST(ScopeRaster, FrameInFadeModeMovesEachChannelASixteenth)
{
    std::mt19937 random(7);
    std::vector<std::uint32_t> background(82 * 82);
    for (std::uint32_t& pixel : background) {
        pixel = random() & 0x00FFFFFFu;
    }
    ScopeRaster raster;
    raster.assign(background.data(), 82, 82, 80, 80);
    // Scatter dots and curve points so that channels differ both ways.
    for (int i = 0; i < 400; ++i) {
        raster.plotDot(std::uniform_real_distribution<float>(-1, 1)(random),
                       std::uniform_real_distribution<float>(-1, 1)(random));
        raster.plotCurvePoint(std::uniform_real_distribution<float>(-1, 1)(random),
                              std::uniform_real_distribution<float>(-0.9f, 0.9f)(random));
    }
    for (int frame = 0; frame < 3; ++frame) {
        const std::vector<std::uint32_t> before(raster.pixels(), raster.pixels() + raster.pixelCount());
        raster.finishFrame(15);
        int moved = 0;
        for (size_t i = 0; i < before.size(); ++i) {
            for (int shift : {0, 8, 16}) {
                const int w = static_cast<int>((before[i] >> shift) & 0xFF);
                const int b = static_cast<int>((background[i] >> shift) & 0xFF);
                const int expected = w + static_cast<int>(std::floor((b - w) / 16.0));
                const int now = static_cast<int>((raster.pixels()[i] >> shift) & 0xFF);
                ASSERT_EQ(now, expected) << "pixel " << i << " shift " << shift;
                moved += now != w;
            }
        }
        EXPECT_GT(moved, 100);
    }

    ScopeRaster dot = squareScope(0);
    dot.plotDot(0.0f, 0.0f);
    dot.finishFrame(15);
    EXPECT_EQ(red(at(dot, 41, 41)), 239);
    for (int frame = 1; frame < 16; ++frame) {
        dot.finishFrame(15);
    }
    EXPECT_LT(red(at(dot, 41, 41)), 255 / 2); // after sixteen frames: faded below half
    for (int frame = 16; frame < 100; ++frame) {
        dot.finishFrame(15);
    }
    EXPECT_EQ(changedPixels(dot, 0), 0);
}

// A plot larger than the picture is limited to it: nothing is written
// outside the picture, whatever is drawn.
TEST(ScopeRaster, PlotLargerThanThePictureStaysInside)
{
    const Picture picture = plainPicture(40, 30, kBackground);
    ScopeRaster raster;
    raster.assign(picture.pixels.data(), picture.width, picture.height, 80, 80);
    EXPECT_EQ(raster.clipLeft, 0);
    EXPECT_EQ(raster.clipRight, 39);
    EXPECT_EQ(raster.clipTop, 0);
    EXPECT_EQ(raster.clipBottom, 29);
    for (float y : {-5.0f, -1.0f, 0.0f, 1.0f, 5.0f}) {
        for (float x : {-5.0f, -1.0f, 0.0f, 1.0f, 5.0f}) {
            raster.plotDot(x, y);
            raster.plotCurvePoint(x, y);
        }
    }
    raster.finishFrame(15);
    raster.finishFrame(255);
    EXPECT_EQ(changedPixels(raster, kBackground), 0);
}
