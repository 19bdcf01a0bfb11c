#include "gui/toolkit/ScopeRaster.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint32_t kOverRangeOrange = 0xFFFFA045u; // red 255, green 160, blue 69
constexpr std::uint32_t kOverRangeDark = 0xFF7F5022u;   // red 127, green 80, blue 34
constexpr std::uint32_t kRedBlue = 0x00FF00FFu;
constexpr std::uint32_t kGreen = 0x0000FF00u;

// Far enough outside any raster that clamping still lands on the plot's edge,
// near enough that the conversion to int is defined.
constexpr float kFarAway = 1.0e7f;

int truncatedFar(float v)
{
    return static_cast<int>(std::min(std::max(v, -kFarAway), kFarAway));
}

// Moves the pixel's red towards 255 and its green and blue towards 0 by
// weight/256, two channels at once in one word; wraps modulo 2^32 by design.
std::uint32_t blendTowardsRed(std::uint32_t pixel, std::uint32_t weight)
{
    const std::uint32_t redBlue = pixel & kRedBlue;
    const std::uint32_t green = pixel & kGreen;
    const std::uint32_t newRedBlue = redBlue + (((0x00FF0000u - redBlue) * weight) >> 8);
    const std::uint32_t newGreen = green + ((0u - weight * green) >> 8);
    return ((newRedBlue ^ newGreen) & kRedBlue) ^ newGreen;
}

// One sixteenth of the way from the working pixel to the background, per
// channel, rounded down; wraps modulo 2^32 by design.
std::uint32_t fadeTowards(std::uint32_t work, std::uint32_t background)
{
    const std::uint32_t redBlue = (work & kRedBlue) + (((background & kRedBlue) - (work & kRedBlue)) >> 4);
    const std::uint32_t green = (work & kGreen) + (((background & kGreen) - (work & kGreen)) >> 4);
    return ((redBlue ^ green) & kRedBlue) ^ green;
}

} // namespace

void ScopeRaster::assign(const std::uint32_t* picture, int pictureWidth, int pictureHeight, int plotColumns,
                         int plotRows)
{
    release();
    if (picture == nullptr || pictureWidth <= 0 || pictureHeight <= 0) {
        return;
    }
    width = pictureWidth;
    height = pictureHeight;
    plotWidth = std::min(std::max(plotColumns, 0), width);
    plotHeight = std::min(std::max(plotRows, 0), height);
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    workPixels.assign(picture, picture + count);
    backgroundPixels = workPixels;
    clipLeft = (width - plotWidth) / 2;
    clipRight = (width + plotWidth) / 2 - 1;
    clipTop = (height - plotHeight) / 2;
    clipBottom = (height + plotHeight) / 2 - 1;
}

void ScopeRaster::release()
{
    workPixels = {};
    backgroundPixels = {};
    width = height = plotWidth = plotHeight = 0;
    clipLeft = clipRight = clipTop = clipBottom = 0;
}

void ScopeRaster::paintPlotRow(int row, std::uint32_t colour)
{
    if (row < 0 || row >= height) {
        return;
    }
    for (int column = clipLeft; column <= clipRight; ++column) {
        pixelAt(column, row) = colour;
    }
}

void ScopeRaster::plotDot(float x, float y)
{
    if (!hasPixels()) {
        return;
    }
    const float column = (scale * x * static_cast<float>(plotWidth) + static_cast<float>(width)) * 0.5f;
    const float row = (scale * y * static_cast<float>(plotHeight) + static_cast<float>(height)) * 0.5f;
    if (std::isnan(column) || std::isnan(row)) {
        return;
    }
    const int px = std::min(std::max(truncatedFar(column), clipLeft), clipRight);
    const int py = truncatedFar(row);
    if (py < clipTop) {
        paintPlotRow(clipTop, kOverRangeOrange);
        paintPlotRow(clipTop + 1, kOverRangeDark);
    } else if (py > clipBottom) {
        paintPlotRow(clipBottom, kOverRangeOrange);
        paintPlotRow(clipBottom - 1, kOverRangeDark);
    } else {
        pixelAt(px, py) |= 0x00FF0000u;
    }
}

void ScopeRaster::plotCurvePoint(float x, float y)
{
    if (!hasPixels()) {
        return;
    }
    const float column = (scale * x * static_cast<float>(plotWidth) + static_cast<float>(width)) * 0.5f;
    const float fy = (scale * y * static_cast<float>(plotHeight) + static_cast<float>(height)) * 0.5f;
    if (!(std::fabs(column) < kFarAway)) {
        return; // also drops NaN
    }
    const int px = static_cast<int>(std::nearbyint(column)); // halves to even
    if (px < clipLeft || px > clipRight) {
        return;
    }
    // The tent reaches one row above and two below the point's row; keep it
    // inside the plot by dropping points too close to the edges.
    if (!(fy >= clipTop + 1.001) || fy > clipBottom - 1.999) {
        return;
    }
    const int firstRow = static_cast<int>(fy - 1.001);
    const int lastRow = static_cast<int>(fy + 1.999);
    for (int r = firstRow; r <= lastRow; ++r) {
        const float distance = std::fabs(fy - static_cast<float>(r));
        const float weight = std::nearbyint((1.0f - distance * 0.5f) * 256.0f);
        std::uint32_t& pixel = pixelAt(px, r);
        pixel = blendTowardsRed(pixel, static_cast<std::uint32_t>(std::max(weight, 0.0f)));
    }
}

void ScopeRaster::finishFrame(std::uint8_t fadeMode)
{
    if (!hasPixels()) {
        return;
    }
    if (fadeMode == 255) {
        workPixels = backgroundPixels;
        return;
    }
    // One run of consecutive indices from the plot's top-left pixel to its
    // bottom-right one: the pixels outside the plot in those rows never differ
    // from the background, so fading them too changes nothing.
    const std::size_t first = static_cast<std::size_t>(width) * static_cast<std::size_t>((height - plotHeight) / 2) +
                              static_cast<std::size_t>((width - plotWidth) / 2);
    const std::size_t end =
        std::min(static_cast<std::size_t>(width) * static_cast<std::size_t>((height + plotHeight) / 2) +
                     static_cast<std::size_t>((width + plotWidth) / 2),
                 workPixels.size());
    for (std::size_t i = first; i < end; ++i) {
        workPixels[i] = fadeTowards(workPixels[i], backgroundPixels[i]);
    }
}

void ScopeRaster::copyOpaqueTo(std::uint32_t* target, std::size_t targetStride) const
{
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            target[static_cast<std::size_t>(row) * targetStride + static_cast<std::size_t>(column)] =
                workPixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                           static_cast<std::size_t>(column)] |
                0xFF000000u;
}
