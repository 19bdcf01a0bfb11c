// The pixel work of the XY scope: a working raster that points are drawn
// into, the background it fades or resets to, and the plot area's bounds.
// Pixels are 0x00RRGGBB words (blue in the lowest byte, top byte ignored),
// rows top to bottom, as a 32-bit display bitmap stores them. Portable; UI
// thread. Only assign allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ScopeRaster {
public:
    // Starts over on a picture of width x height pixels (copied as both the
    // working pixels and the background) with a plot of plotWidth x plotHeight
    // centred in it. A plot larger than the picture is limited to it.
    // Allocates; nothing is kept when either size is not positive.
    void assign(const std::uint32_t* picture, int width, int height, int plotWidth, int plotHeight);

    // Frees the pixels; drawing then does nothing until the next assign.
    void release();

    bool hasPixels() const { return !workPixels.empty(); }
    const std::uint32_t* pixels() const { return workPixels.data(); }
    int pixelCount() const { return static_cast<int>(workPixels.size()); }

    // Copies the working pixels into a 32-bit picture with rows of
    // `targetStride` words, every pixel opaque (the fourth byte 255), so that
    // nothing reading that byte as alpha sees holes.
    void copyOpaqueTo(std::uint32_t* target, std::size_t targetStride) const;

    // One sample point in red; x and y in -1..1 span the plot (y grows
    // downwards). Points left or right of the plot land on its first or last
    // column; points above or below it mark the two edge rows in orange
    // instead. NaN coordinates are dropped.
    void plotDot(float x, float y);

    // One anti-aliased curve point: a vertical tent four rows high, blended
    // towards red. Points outside the plot's columns, or within one row of its
    // top or two rows of its bottom, are dropped.
    void plotCurvePoint(float x, float y);

    // Prepares the working pixels for the next frame once they have been shown:
    // fade mode 255 resets them to the background, any other value moves every
    // plot pixel's channels a sixteenth of the way towards it.
    void finishFrame(std::uint8_t fadeMode);

    int clipLeft = 0;
    int clipRight = 0;
    int clipTop = 0;
    int clipBottom = 0;
    float scale = 1.0f;

private:
    std::uint32_t& pixelAt(int column, int row)
    {
        return workPixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                          static_cast<std::size_t>(column)];
    }
    void paintPlotRow(int row, std::uint32_t colour);

    int width = 0;
    int height = 0;
    int plotWidth = 0;
    int plotHeight = 0;
    std::vector<std::uint32_t> workPixels;
    std::vector<std::uint32_t> backgroundPixels;
};
