#include "gui/toolkit/CSlider.h"

#include "gui/toolkit/SkinBitmap.h"
#include "gui/toolkit/SkinGeometry.h"
#include "gui/toolkit/ValueDrag.h"

#include <cstdint>

int CSlider::liveWindows = 0;

CSlider::~CSlider()
{
    destroyWindow();
    onImage.release();
    offImage.release();
}

void CSlider::create(HINSTANCE moduleInstance, HWND parent, HBITMAP panel, int y, int offImageId, int onImageId)
{
    if (window != nullptr) {
        return;
    }
    instance = moduleInstance;
    parentWindow = parent;
    horizontal = true;
    shapeMeterBars(bars);
    loadImages(panel, offImageId, onImageId, skin::kMeterX, y);
    if (width <= 0 || height <= 0) {
        return;
    }
    if (!createWindow(skin::kMeterX, y)) {
        releaseImages();
    }
}

void CSlider::loadImages(HBITMAP panel, int offImageId, int onImageId, int x, int y)
{
    width = 0;
    height = 0;
    HBITMAP off = loadPngResource(instance, offImageId);
    HBITMAP on = loadPngResource(instance, onImageId);
    int offWidth = 0;
    int offHeight = 0;
    if (off != nullptr && on != nullptr && bitmapSize(off, offWidth, offHeight) && offWidth > 0 && offHeight > 0) {
        width = offWidth;
        height = offHeight;
        HDC reference = GetDC(parentWindow);
        offImage.create(reference);
        onImage.create(reference);
        ReleaseDC(parentWindow, reference);
        offImage.adopt(composeOverPanel(*this, panel, off, x, y, 1));
        onImage.adopt(composeOverPanel(*this, panel, on, x, y, 1));
        if (offImage.selectedBitmap() == nullptr || onImage.selectedBitmap() == nullptr) {
            releaseImages();
            width = height = 0;
        }
    }
    if (off != nullptr) {
        DeleteObject(off);
    }
    if (on != nullptr) {
        DeleteObject(on);
    }
}

void CSlider::releaseImages()
{
    offImage.deleteBitmap();
    onImage.deleteBitmap();
}

void CSlider::destroyWindow()
{
    CSkinControl::destroyWindow();
    releaseImages();
}

LRESULT CALLBACK CSlider::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* slider = static_cast<CSlider*>(attachedTo(hwnd));
    if (slider == nullptr) {
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return slider->handleMessage(hwnd, message, wParam, lParam);
}

void CSlider::paint(HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC target = BeginPaint(hwnd, &ps);
    // Without pictures nothing is drawn, but the window is still validated so
    // the paint request does not repeat.
    const bool canPaint = offImage.selectedBitmap() != nullptr && onImage.selectedBitmap() != nullptr;
    if (target != nullptr && canPaint) {
        CPaintBuffer buffer(target);
        if (buffer.dc != nullptr) {
            BitBlt(buffer.dc, 0, 0, width, height, offImage.dc, 0, 0, SRCCOPY);
            for (const MeterBar& bar : bars) {
                const PixelRect lit = litRectangle(bar, horizontal);
                if (lit.right > lit.left && lit.bottom > lit.top) {
                    BitBlt(buffer.dc, lit.left, lit.top, lit.right - lit.left, lit.bottom - lit.top, onImage.dc,
                           lit.left, lit.top, SRCCOPY);
                }
            }
        }
    }
    EndPaint(hwnd, &ps);
    if (canPaint) {
        bars[0].paintedValue = bars[0].value;
        bars[1].paintedValue = bars[1].value;
    }
}

void CSlider::pressBar(int bar, WPARAM keys, LPARAM position)
{
    MeterBar& own = bars[bar];
    if (pressTrack(own.value, own.dragAnchor, bars[1 - bar].dragAnchor, bar, (keys & MK_CONTROL) != 0, HIWORD(position),
                   dragShift)) {
        SetCapture(window);
    }
}

void CSlider::releaseBar(int bar)
{
    if (endDrag(bars[bar].dragAnchor, bars[1 - bar].dragAnchor)) {
        ReleaseCapture();
    }
}

LRESULT CSlider::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        paint(hwnd);
        return 1;
    case WM_MOUSEMOVE: {
        // Either orientation follows the vertical movement.
        const auto y = static_cast<std::int16_t>(HIWORD(lParam));
        const bool snapToTens = (wParam & MK_SHIFT) != 0;
        for (MeterBar& bar : bars) {
            if (!bar.readOnly) {
                followDrag(bar.value, bar.dragAnchor, y, dragShift, snapToTens);
            }
        }
        return 1;
    }
    case WM_LBUTTONDOWN:
        pressBar(0, wParam, lParam);
        return 1;
    case WM_LBUTTONUP:
        releaseBar(0);
        return 1;
    case WM_RBUTTONDOWN:
        pressBar(1, wParam, lParam);
        return 1;
    case WM_RBUTTONUP:
        releaseBar(1);
        return 1;
    case WM_ERASEBKGND:
        return 1;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
