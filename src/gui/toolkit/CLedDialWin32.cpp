#include "gui/toolkit/CLedDial.h"

#include "gui/toolkit/SkinBitmap.h"
#include "gui/toolkit/SkinGeometry.h"
#include "gui/toolkit/ValueDrag.h"

int CLedDial::liveWindows = 0;

CLedDial::~CLedDial()
{
    destroyWindow();
    paintImage.release();
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

    // Every picture is the panel region under the dial with its image blended
    // over it, read as 32-bit pixels whatever the display's depth. A missing
    // LED image leaves the plain panel: that ring then shows nothing when lit.
    const auto compose = [&](HBITMAP image, std::vector<std::uint32_t>& pixels) {
        HBITMAP composed = composeOverPanel(*this, panel, image, x, skin::kDialY, 1);
        pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
        if (!readPixels(composed, width, height, pixels.data())) {
            pixels.clear();
        }
        if (composed != nullptr) {
            DeleteObject(composed);
        }
    };
    HBITMAP leds = loadPngResource(instance, skin::kImageDialLeds);
    compose(base, basePixels);
    compose(leds, litPixels[0]);
    if (ring1ImageId == skin::kImageDialLeds) {
        litPixels[1] = litPixels[0];
    } else if (ring1ImageId != 0) {
        HBITMAP ring1Leds = loadPngResource(instance, ring1ImageId);
        compose(ring1Leds, litPixels[1]);
        if (ring1Leds != nullptr) {
            DeleteObject(ring1Leds);
        }
    } else {
        litPixels[1].clear();
    }
    if (leds != nullptr) {
        DeleteObject(leds);
    }
    DeleteObject(base);

    void* bits = nullptr;
    HBITMAP painted = createPixelSection(width, height, 32, bits);
    HDC reference = GetDC(parentWindow);
    const bool hasDc = painted != nullptr && paintImage.create(reference);
    ReleaseDC(parentWindow, reference);
    if (hasDc) {
        paintImage.adopt(painted);
        paintedPixels = static_cast<std::uint32_t*>(bits);
    } else if (painted != nullptr) {
        DeleteObject(painted);
    }
    if (basePixels.empty() || litPixels[0].empty() || paintedPixels == nullptr) {
        releaseImages();
        width = 0;
        height = 0;
    }
}

void CLedDial::releaseImages()
{
    paintImage.deleteBitmap();
    paintedPixels = nullptr;
    basePixels.clear();
    litPixels[0].clear();
    litPixels[1].clear();
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
    if (target != nullptr && paintedPixels != nullptr) {
        const auto pixelsOf = [](const std::vector<std::uint32_t>& pixels) {
            return pixels.empty() ? nullptr : pixels.data();
        };
        const auto rowLength = static_cast<std::size_t>(width);
        lightDialPixels(rings, centerX, centerY, width, height, basePixels.data(), pixelsOf(litPixels[0]),
                        pixelsOf(litPixels[1]), rowLength, paintedPixels, rowLength);
        GdiFlush(); // the pixels are written before GDI paints from them
        BitBlt(target, 0, 0, width, height, paintImage.dc, 0, 0, SRCCOPY);
    }
    EndPaint(hwnd, &ps);
    rings[0].paintedValue = rings[0].value;
    rings[1].paintedValue = rings[1].value;
}

void CLedDial::pressRing(int ring, WPARAM keys, LPARAM position)
{
    DialRing& own = rings[ring];
    const DialRing& other = rings[1 - ring];
    if (pressTrack(own.value, own.dragAnchor, other.dragAnchor, ring, (keys & MK_CONTROL) != 0, HIWORD(position),
                   dragShift)) {
        SetCapture(window);
    }
    SendMessageA(parentWindow, kLedDialPressed, static_cast<WPARAM>(ring), reinterpret_cast<LPARAM>(window));
}

void CLedDial::releaseRing(int ring)
{
    if (endDrag(rings[ring].dragAnchor, rings[1 - ring].dragAnchor)) {
        ReleaseCapture();
    }
    SendMessageA(parentWindow, kLedDialReleased, static_cast<WPARAM>(ring), reinterpret_cast<LPARAM>(window));
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
        pressRing(0, wParam, lParam);
        return 1;
    case WM_LBUTTONUP:
        releaseRing(0);
        return 1;
    case WM_RBUTTONDOWN:
        pressRing(1, wParam, lParam);
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
