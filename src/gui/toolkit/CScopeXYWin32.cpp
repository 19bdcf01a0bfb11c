#include "gui/toolkit/CScopeXY.h"

#include "gui/toolkit/SkinBitmap.h"
#include "gui/toolkit/SkinGeometry.h"

#include <vector>

int CScopeXY::liveWindows = 0;

CScopeXY::~CScopeXY()
{
    destroyWindow();
    displayImage.release();
}

void CScopeXY::create(HINSTANCE moduleInstance, HWND parent, HBITMAP panel, int imageId, int x, int plotColumns,
                      std::uint8_t fade)
{
    if (window != nullptr) {
        return;
    }
    instance = moduleInstance;
    parentWindow = parent;
    plotWidth = plotColumns;
    plotHeight = skin::kScopePlotHeight;
    raster.scale = 1.0f;
    fadeMode = fade;
    loadImages(panel, imageId, x);
    if (width <= 0 || height <= 0) {
        return;
    }
    if (!createWindow(x, skin::kScopeY)) {
        releaseImages();
        return;
    }
    commitFrame(); // shows the background
}

void CScopeXY::loadImages(HBITMAP panel, int imageId, int x)
{
    releaseImages();
    width = 0;
    height = 0;
    HBITMAP image = loadPngResource(instance, imageId);
    if (!bitmapSize(image, width, height) || width <= 0 || height <= 0) {
        width = height = 0;
        if (image != nullptr) {
            DeleteObject(image);
        }
        return;
    }
    HDC reference = GetDC(parentWindow);
    displayImage.create(reference);
    ReleaseDC(parentWindow, reference);
    displayImage.adopt(composeOverPanel(*this, panel, image, x, skin::kScopeY, 1));
    DeleteObject(image);

    HBITMAP shown = displayImage.selectedBitmap();
    BITMAP description = {};
    const LONG byteCount = width * height * 4;
    std::vector<std::uint32_t> picture(static_cast<size_t>(width) * static_cast<size_t>(height));
    // The raster works on 32-bit display pixels; another display depth would
    // need a conversion, so such a scope stays without window.
    if (shown == nullptr || GetObjectA(shown, sizeof description, &description) == 0 || description.bmBitsPixel != 32 ||
        GetBitmapBits(shown, byteCount, picture.data()) != byteCount) {
        displayImage.release();
        width = height = 0;
        return;
    }
    raster.assign(picture.data(), width, height, plotWidth, plotHeight);
}

void CScopeXY::releaseImages()
{
    displayImage.deleteBitmap();
    raster.release();
}

void CScopeXY::commitFrame()
{
    if (++commitCounter < commitDivider) {
        return;
    }
    commitCounter = 0;
    if (raster.hasPixels()) {
        HBITMAP shown = displayImage.selectedBitmap();
        if (shown != nullptr) {
            SetBitmapBits(shown, static_cast<DWORD>(raster.pixelCount()) * 4, raster.pixels());
        }
        raster.finishFrame(fadeMode);
    }
    if (window != nullptr) {
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    }
}

void CScopeXY::destroyWindow()
{
    CSkinControl::destroyWindow();
    releaseImages();
}

LRESULT CALLBACK CScopeXY::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* scope = static_cast<CScopeXY*>(attachedTo(hwnd));
    if (scope == nullptr) {
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return scope->handleMessage(hwnd, message, wParam, lParam);
}

LRESULT CScopeXY::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC target = BeginPaint(hwnd, &ps);
        if (target != nullptr && displayImage.dc != nullptr) {
            BitBlt(target, 0, 0, width, height, displayImage.dc, 0, 0, SRCCOPY);
        }
        EndPaint(hwnd, &ps);
        return 1;
    }
    case WM_ERASEBKGND:
        return 1;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
