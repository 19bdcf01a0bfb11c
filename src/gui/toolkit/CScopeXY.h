// A small raster display drawn point by point: red dots with fading trails
// (the saturation displays) or an anti-aliased curve replaced every frame
// (the response display). Points go into a working raster; a commit shows it
// and resets or fades it. No mouse behaviour. Windows only; UI thread.
#pragma once

#include "gui/toolkit/CMemoryDC.h"
#include "gui/toolkit/CSkinControl.h"
#include "gui/toolkit/ScopeRaster.h"

#include <cstdint>

class CScopeXY : public CSkinControl {
public:
    CScopeXY() = default;
    ~CScopeXY() override;

    // Loads the picture (image over the panel region at (x, 83)), creates the
    // window at (x, 83) and shows the background. The plot is plotWidth x 80,
    // centred. Fade mode 255 clears the raster at each commit, any other
    // value fades it by a sixteenth. Does nothing while a window exists; a
    // missing image leaves the scope without window and without raster.
    void create(HINSTANCE moduleInstance, HWND parent, HBITMAP panel, int imageId, int x, int plotColumns,
                std::uint8_t fade);

    // Coordinates in -1..1 span the plot; y grows downwards. See ScopeRaster.
    void plotDot(float x, float y) { raster.plotDot(x, y); }
    void plotCurvePoint(float x, float y) { raster.plotCurvePoint(x, y); }

    // Shows what was drawn (one bitmap update and one repaint), then resets
    // or fades the raster for the next frame.
    void commitFrame();

    void destroyWindow() override;

    const ScopeRaster& getRaster() const { return raster; }
    // The 32-bit picture the window shows (width x height), or null.
    const std::uint32_t* getShownPixels() const { return shownPixels; }
    ScopeRaster& getRaster() { return raster; }

protected:
    const char* classSuffix() const override { return "CScopeXYWindowClass"; }
    int* instanceCounter() const override { return &liveWindows; }
    WNDPROC windowProcedure() const override { return windowProc; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void loadImages(HBITMAP panel, int imageId, int x);
    void releaseImages();

    static int liveWindows;

    CMemoryDC displayImage;               // holds the 32-bit picture the window shows
    std::uint32_t* shownPixels = nullptr; // its pixels
    int commitDivider = 1;                // commit on every call
    int commitCounter = 0;
    int plotWidth = 0;
    int plotHeight = 80;
    ScopeRaster raster; // working and background pixels, plot bounds, scale
    std::uint8_t fadeMode = 255;
};
