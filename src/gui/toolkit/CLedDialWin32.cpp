#include "gui/toolkit/CLedDial.h"

#include "gui/toolkit/SkinBitmap.h"
#include "gui/toolkit/SkinGeometry.h"
#include "gui/toolkit/ValueDrag.h"

int CLedDial::liveWindows = 0;

CLedDial::~CLedDial()
{
    destroyWindow();
    litImages[1].release();
    litImages[0].release();
    baseImage.release();
}

void CLedDial::create(HINSTANCE moduleInstance, HWND parent, HBITMAP panel, int baseImageId, int ring1ImageId,
                      int ring1Segments, float ring1StartAngle, float ring1EndAngle, int ring1OuterRadius,
                      int ring1InnerRadius, int x)
{
    if (window != nullptr) {
        return;
    }
    instance = moduleInstance;
    parentWindow = parent;
    shapeDialRing(rings[0], true, skin::kRing0StartAngle, skin::kRing0EndAngle, skin::kRing0Steps,
                  skin::kRing0InnerRadius, skin::kRing0OuterRadius);
    shapeDialRing(rings[1], false, ring1StartAngle, ring1EndAngle, ring1Segments, ring1InnerRadius, ring1OuterRadius);
    // A drag cut short by closing the window does not carry over.
    rings[0].dragAnchor = kNotDragging;
    rings[1].dragAnchor = kNotDragging;
    loadImages(panel, baseImageId, ring1ImageId, x);
    if (width <= 0 || height <= 0 || !createWindow(x, skin::kDialY)) {
        releaseImages();
        rings[0].angleTable = {};
        rings[1].angleTable = {};
    }
}

void CLedDial::loadImages(HBITMAP panel, int baseImageId, int ring1ImageId, int x)
{
    width = 0;
    height = 0;
    HBITMAP base = loadPngResource(instance, baseImageId);
    int baseWidth = 0;
    int baseHeight = 0;
    if (!bitmapSize(base, baseWidth, baseHeight) || baseWidth <= 0 || baseHeight <= 0) {
        if (base != nullptr) {
            DeleteObject(base);
        }
        return;
    }
    width = baseWidth;
    height = baseHeight;

    HDC reference = GetDC(parentWindow);
    baseImage.create(reference);
    litImages[0].create(reference);
    if (ring1ImageId != 0) {
        litImages[1].create(reference);
    } else {
        litImages[1].release();
    }
    ReleaseDC(parentWindow, reference);

    // Every picture is the panel region under the dial with its image blended
    // over it. A missing LED image leaves the plain panel: that ring then
    // shows nothing when lit.
    HBITMAP leds = loadPngResource(instance, skin::kImageDialLeds);
    baseImage.adopt(composeOverPanel(*this, panel, base, x, skin::kDialY, 1));
    litImages[0].adopt(composeOverPanel(*this, panel, leds, x, skin::kDialY, 1));
    if (ring1ImageId == skin::kImageDialLeds) {
        litImages[1].adopt(composeOverPanel(*this, panel, leds, x, skin::kDialY, 1));
    } else if (ring1ImageId != 0) {
        HBITMAP ring1Leds = loadPngResource(instance, ring1ImageId);
        litImages[1].adopt(composeOverPanel(*this, panel, ring1Leds, x, skin::kDialY, 1));
        if (ring1Leds != nullptr) {
            DeleteObject(ring1Leds);
        }
    }
    if (leds != nullptr) {
        DeleteObject(leds);
    }
    DeleteObject(base);
    if (baseImage.selectedBitmap() == nullptr || litImages[0].selectedBitmap() == nullptr) {
        releaseImages();
        width = 0;
        height = 0;
    }
}

void CLedDial::releaseImages()
{
    baseImage.deleteBitmap();
    litImages[0].deleteBitmap();
    litImages[1].deleteBitmap();
}

void CLedDial::destroyWindow()
{
    CSkinControl::destroyWindow();
    rings[0].angleTable = {};
    rings[1].angleTable = {};
    releaseImages();
}

LRESULT CALLBACK CLedDial::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* dial = static_cast<CLedDial*>(attachedTo(hwnd));
    if (dial == nullptr) {
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return dial->handleMessage(hwnd, message, wParam, lParam);
}

void CLedDial::paint(HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC target = BeginPaint(hwnd, &ps);
    if (target != nullptr) {
        CPaintBuffer buffer(target);
        if (baseImage.dc != nullptr && buffer.dc != nullptr) {
            BitBlt(buffer.dc, 0, 0, width, height, baseImage.dc, 0, 0, SRCCOPY);
            for (int row = 0; row < height; ++row) {
                for (int column = 0; column < width; ++column) {
                    const int ring = litRingAt(rings, centerX, centerY, column, row);
                    if (ring >= 0 && litImages[ring].dc != nullptr) {
                        SetPixelV(buffer.dc, column, row, GetPixel(litImages[ring].dc, column, row));
                    }
                }
            }
        }
    }
    EndPaint(hwnd, &ps);
    rings[0].paintedValue = rings[0].value;
    rings[1].paintedValue = rings[1].value;
}

void CLedDial::pressRing(int ring, LPARAM position)
{
    DialRing& own = rings[ring];
    const DialRing& other = rings[1 - ring];
    if (startDrag(own.dragAnchor, own.value, other.dragAnchor, HIWORD(position), dragShift)) {
        SetCapture(window);
    }
}

void CLedDial::releaseRing(int ring)
{
    if (endDrag(rings[ring].dragAnchor, rings[1 - ring].dragAnchor)) {
        ReleaseCapture();
    }
}

LRESULT CLedDial::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        paint(hwnd);
        return 1;
    case WM_MOUSEMOVE: {
        const auto y = static_cast<std::int16_t>(HIWORD(lParam));
        const bool snapToTens = (wParam & MK_SHIFT) != 0;
        followDrag(rings[0].value, rings[0].dragAnchor, y, dragShift, snapToTens);
        followDrag(rings[1].value, rings[1].dragAnchor, y, dragShift, snapToTens);
        return 1;
    }
    case WM_LBUTTONDOWN:
        if ((wParam & MK_CONTROL) != 0) {
            rings[0].value = 50; // a reset, not the start of a drag
            return 1;
        }
        pressRing(0, lParam);
        return 1;
    case WM_LBUTTONUP:
        releaseRing(0);
        return 1;
    case WM_RBUTTONDOWN:
        if ((wParam & MK_CONTROL) != 0) {
            rings[1].value = 50; // and the drag starts from there
        }
        pressRing(1, lParam);
        return 1;
    case WM_RBUTTONUP:
        releaseRing(1);
        return 1;
    case WM_ERASEBKGND:
        return 1;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
