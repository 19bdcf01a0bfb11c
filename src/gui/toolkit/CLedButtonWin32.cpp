#include "gui/toolkit/CLedButton.h"

#include "gui/toolkit/SkinBitmap.h"

int CLedButton::liveWindows = 0;

CLedButton::~CLedButton()
{
    destroyWindow();
}

void CLedButton::create(HINSTANCE moduleInstance, HWND parent, int x, HBITMAP panel, int imageId, int command)
{
    if (window != nullptr) {
        return;
    }
    instance = moduleInstance;
    parentWindow = parent;
    commandId = command;
    stateCount = 2;
    pressNext[0] = 1;
    pressNext[1] = 0;
    releaseNext[0] = 0;
    releaseNext[1] = 1;
    loadStrip(panel, imageId, x);
    if (width <= 0 || height <= 0) {
        return;
    }
    if (!createWindow(x, 0)) {
        DeleteObject(strip);
        strip = nullptr;
        return;
    }
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
}

void CLedButton::loadStrip(HBITMAP panel, int imageId, int x)
{
    if (strip != nullptr) {
        DeleteObject(strip);
        strip = nullptr;
    }
    width = 0;
    height = 0;
    HBITMAP image = loadPngResource(instance, imageId);
    int imageWidth = 0;
    int imageHeight = 0;
    if (!bitmapSize(image, imageWidth, imageHeight)) {
        return;
    }
    width = imageWidth;
    height = imageHeight / stateCount;
    if (width > 0 && height > 0) {
        strip = composeOverPanel(*this, panel, image, x, 0, stateCount);
        if (strip == nullptr) {
            width = height = 0;
        }
    }
    DeleteObject(image);
}

void CLedButton::setState(int newState)
{
    // Only frames of the strip can show, and the press and release tables
    // have entries for those alone.
    state = newState < 0 ? 0 : (newState >= stateCount ? stateCount - 1 : newState);
    if (window != nullptr) {
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    }
}

void CLedButton::destroyWindow()
{
    CSkinControl::destroyWindow();
    if (strip != nullptr) {
        DeleteObject(strip);
        strip = nullptr;
    }
}

LRESULT CALLBACK CLedButton::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* button = static_cast<CLedButton*>(attachedTo(hwnd));
    if (button == nullptr) {
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return button->handleMessage(hwnd, message, wParam, lParam);
}

void CLedButton::paint(HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC target = BeginPaint(hwnd, &ps);
    if (target != nullptr && strip != nullptr) {
        HDC stripDc = CreateCompatibleDC(target);
        HGDIOBJ previous = SelectObject(stripDc, strip);
        BitBlt(target, 0, 0, width, height, stripDc, 0, state * height, SRCCOPY);
        SelectObject(stripDc, previous);
        DeleteDC(stripDc);
    }
    EndPaint(hwnd, &ps);
}

LRESULT CLedButton::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        paint(hwnd);
        return 1;
    case WM_LBUTTONDOWN: {
        if (commandId == 0) {
            return 1;
        }
        const int next = pressNext[state];
        if (next != state) {
            state = next;
            // The owner handles this before the button repaints and may set
            // the state itself (a momentary button falls back to off).
            SendMessageA(parentWindow, kLedButtonMessage, static_cast<WPARAM>(commandId), static_cast<LPARAM>(state));
        }
        SetCapture(hwnd);
        InvalidateRect(hwnd, nullptr, FALSE);
        return 1;
    }
    case WM_LBUTTONUP:
        if (commandId == 0) {
            return 1;
        }
        state = releaseNext[state];
        ReleaseCapture();
        InvalidateRect(hwnd, nullptr, FALSE);
        return 1;
    case WM_ERASEBKGND:
        return 1;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
