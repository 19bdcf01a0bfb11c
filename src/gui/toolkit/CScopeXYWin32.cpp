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
    // The picture comes in the display's format; the raster and the shown
    // picture are 32-bit whatever the display's depth, and painting converts.
    HBITMAP composed = composeOverPanel(*this, panel, image, x, skin::kScopeY, 1);
    DeleteObject(image);
    std::vector<std::uint32_t> picture(static_cast<size_t>(width) * static_cast<size_t>(height));
    const bool read = readPixels(composed, width, height, picture.data());
    if (composed != nullptr) {
        DeleteObject(composed);
    }
    void* bits = nullptr;
    HBITMAP shown = read ? createPixelSection(width, height, 32, bits) : nullptr;
    HDC reference = GetDC(parentWindow);
    const bool hasDc = shown != nullptr && displayImage.create(reference);
    ReleaseDC(parentWindow, reference);
    if (!hasDc) {
        if (shown != nullptr) {
            DeleteObject(shown);
        }
        displayImage.release();
        width = height = 0;
        return;
    }
    displayImage.adopt(shown);
    shownPixels = static_cast<std::uint32_t*>(bits);
    raster.assign(picture.data(), width, height, plotWidth, plotHeight);
}

void CScopeXY::releaseImages()
{
    displayImage.deleteBitmap();
    shownPixels = nullptr;
    raster.release();
}

void CScopeXY::commitFrame()
{
    if (++commitCounter < commitDivider) {
        return;
    }
    commitCounter = 0;
    if (raster.hasPixels()) {
        if (shownPixels != nullptr) {
            raster.copyOpaqueTo(shownPixels, static_cast<std::size_t>(width));
            GdiFlush(); // the pixels are written before GDI paints from them
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
