#include "ToolkitHarnessWin32.h"
#include "gui/toolkit/CMemoryDC.h"
#include "gui/toolkit/CSkinControl.h"
#include "gui/toolkit/SkinBitmap.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace toolkit_test;

namespace {

std::uint32_t panelColour(int column, int row)
{
    return 0xFF000000u | static_cast<std::uint32_t>((column * 4) << 16 | (row * 6) << 8 | 0x30);
}

class SkinBitmapTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};

} // namespace

// Composition over the panel: transparent pixels leave the panel as it is,
// half-transparent ones blend with premultiplied alpha, opaque ones replace
// it; every frame of a strip lies over the same panel region.
TEST_F(SkinBitmapTest, ComposeBlendsTheImageOverThePanelRegion)
{
    HBITMAP panel = makeImage(60, 40, panelColour);
    // Per frame of 8 rows: 2 transparent, 3 half-transparent (alpha 128,
    // colour 255/0/128 premultiplied), 3 opaque green.
    HBITMAP image = makeImage(10, 16, [](int, int row) -> std::uint32_t {
        const int inFrame = row % 8;
        if (inFrame < 2) {
            return 0;
        }
        if (inFrame < 5) {
            return 0x80800040u;
        }
        return 0xFF00FF00u;
    });
    ASSERT_NE(panel, nullptr);
    ASSERT_NE(image, nullptr);
    SizedControl control(10, 8);
    HBITMAP composed = composeOverPanel(control, panel, image, 20, 12, 2);
    ASSERT_NE(composed, nullptr);
    const PixelGrid result = readBitmap(composed);
    ASSERT_EQ(result.width, 10);
    ASSERT_EQ(result.height, 16);
    for (int row = 0; row < 16; ++row) {
        for (int column = 0; column < 10; ++column) {
            const std::uint32_t below = panelColour(20 + column, 12 + row % 8) & 0x00FFFFFFu;
            const std::uint32_t shown = result.at(column, row);
            const int inFrame = row % 8;
            if (inFrame < 2) {
                EXPECT_EQ(shown, below) << column << "," << row;
            } else if (inFrame < 5) {
                // source + destination * (255 - 128) / 255, per channel
                EXPECT_NEAR(redOf(shown), 0x80 + redOf(below) * 127 / 255, 1) << column << "," << row;
                EXPECT_NEAR(greenOf(shown), greenOf(below) * 127 / 255, 1) << column << "," << row;
                EXPECT_NEAR(blueOf(shown), 0x40 + blueOf(below) * 127 / 255, 1) << column << "," << row;
            } else {
                EXPECT_EQ(shown, 0x0000FF00u) << column << "," << row;
            }
        }
    }
    // The inputs stay the caller's and intact.
    EXPECT_EQ(readBitmap(panel).at(20, 12), panelColour(20, 12) & 0x00FFFFFFu);
    DeleteObject(composed);
    DeleteObject(image);
    DeleteObject(panel);
}

TEST_F(SkinBitmapTest, PngResourcesDecodeToPremultipliedTopDownSections)
{
    HBITMAP panel = loadPngResource(testModule(), skin::kImagePanel);
    ASSERT_NE(panel, nullptr);
    DIBSECTION section = {};
    ASSERT_EQ(GetObjectA(panel, sizeof section, &section), static_cast<int>(sizeof section));
    EXPECT_EQ(section.dsBm.bmWidth, skin::kPanelWidth);
    EXPECT_EQ(section.dsBm.bmHeight, skin::kPanelHeight);
    EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
    // Rows top down: the section's first row in memory is the picture's top
    // row (the title bar), not its bottom one.
    const auto* bits = static_cast<const std::uint32_t*>(section.dsBm.bmBits);
    const PixelGrid panelPixels = readBitmap(panel);
    int topRowMatches = 0;
    int bottomRowMatches = 0;
    for (int column = 0; column < skin::kPanelWidth; ++column) {
        topRowMatches += (bits[column] & 0x00FFFFFFu) == panelPixels.at(column, 0);
        bottomRowMatches += (bits[column] & 0x00FFFFFFu) == panelPixels.at(column, skin::kPanelHeight - 1);
    }
    EXPECT_EQ(topRowMatches, skin::kPanelWidth);
    EXPECT_LT(bottomRowMatches, skin::kPanelWidth / 2);
    DeleteObject(panel);

    // The LED picture is mostly transparent: colour never exceeds alpha.
    HBITMAP leds = loadPngResource(testModule(), skin::kImageDialLeds);
    ASSERT_NE(leds, nullptr);
    ASSERT_EQ(GetObjectA(leds, sizeof section, &section), static_cast<int>(sizeof section));
    const auto* pixels = static_cast<const std::uint32_t*>(section.dsBm.bmBits);
    int translucent = 0;
    for (int i = 0; i < section.dsBm.bmWidth * section.dsBm.bmHeight; ++i) {
        const int alpha = static_cast<int>(pixels[i] >> 24);
        ASSERT_LE(redOf(pixels[i]), alpha);
        ASSERT_LE(greenOf(pixels[i]), alpha);
        ASSERT_LE(blueOf(pixels[i]), alpha);
        translucent += alpha < 255;
    }
    EXPECT_GT(translucent, 0);
    DeleteObject(leds);

    EXPECT_EQ(loadPngResource(testModule(), 9999), nullptr);
    EXPECT_EQ(loadPngResource(nullptr, 9999), nullptr);
}

// The paint buffer spans the window from its origin to the clip box's far
// corner, and only the clip box reaches the target.
TEST_F(SkinBitmapTest, PaintBufferCopiesOnlyTheClipBox)
{
    HBITMAP surface = makeImage(50, 40, [](int, int) { return 0x00FFFFFFu; });
    HDC target = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(target, surface);
    IntersectClipRect(target, 10, 5, 30, 25);
    {
        CPaintBuffer buffer(target);
        ASSERT_NE(buffer.dc, nullptr);
        EXPECT_EQ(buffer.clipBox.left, 10);
        EXPECT_EQ(buffer.clipBox.top, 5);
        int width = 0;
        int height = 0;
        ASSERT_TRUE(bitmapSize(buffer.bitmap, width, height));
        EXPECT_EQ(width, 30);
        EXPECT_EQ(height, 25);
        PatBlt(buffer.dc, 0, 0, width, height, BLACKNESS);
    }
    SelectClipRgn(target, nullptr);
    const PixelGrid result = readDc(target, 0, 0, 50, 40);
    for (int row = 0; row < 40; ++row) {
        for (int column = 0; column < 50; ++column) {
            const bool inClip = column >= 10 && column < 30 && row >= 5 && row < 25;
            ASSERT_EQ(result.at(column, row), inClip ? 0u : 0x00FFFFFFu) << column << "," << row;
        }
    }
    SelectObject(target, previous);
    DeleteDC(target);
    DeleteObject(surface);
}

// A bitmap selected into a memory DC belongs to it: replacing or releasing
// deletes it, and the DC's own stock bitmap is never deleted.
TEST_F(SkinBitmapTest, MemoryDcOwnsItsSelectedBitmap)
{
    BITMAP description = {};
    HBITMAP first = makeImage(4, 4, [](int, int) { return 0u; });
    HBITMAP second = makeImage(4, 4, [](int, int) { return 0u; });
    CMemoryDC memory;
    ASSERT_TRUE(memory.create(nullptr));
    EXPECT_EQ(memory.selectedBitmap(), nullptr);
    memory.adopt(first);
    EXPECT_EQ(memory.selectedBitmap(), first);
    memory.adopt(second);
    EXPECT_EQ(GetObjectA(first, sizeof description, &description), 0);
    memory.deleteBitmap();
    EXPECT_EQ(GetObjectA(second, sizeof description, &description), 0);
    EXPECT_NE(memory.dc, nullptr);
    EXPECT_EQ(GetCurrentObject(memory.dc, OBJ_BITMAP), memory.savedBitmap);
    HBITMAP third = makeImage(4, 4, [](int, int) { return 0u; });
    memory.adopt(third);
    memory.release();
    EXPECT_EQ(memory.dc, nullptr);
    EXPECT_EQ(GetObjectA(third, sizeof description, &description), 0);
}
