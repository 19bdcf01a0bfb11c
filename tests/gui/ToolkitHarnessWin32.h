// Shared pieces of the toolkit's Windows tests: COM for the image decoder, a
// top-level host window that shows the panel and records button messages,
// pictures made in memory, and pixel read-back from windows. Windows only.
#pragma once

#include "gui/toolkit/CSkinControl.h"
#include "gui/toolkit/SkinBitmap.h"
#include "gui/toolkit/SkinGeometry.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <wincodec.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace toolkit_test {

inline HINSTANCE testModule()
{
    return GetModuleHandleA(nullptr);
}

// Pixels read from a window or bitmap, 0x00RRGGBB, rows top to bottom.
struct PixelGrid {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t at(int column, int row) const
    {
        return pixels[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column)] &
               0x00FFFFFFu;
    }
};

inline int redOf(std::uint32_t pixel)
{
    return static_cast<int>((pixel >> 16) & 0xFF);
}
inline int greenOf(std::uint32_t pixel)
{
    return static_cast<int>((pixel >> 8) & 0xFF);
}
inline int blueOf(std::uint32_t pixel)
{
    return static_cast<int>(pixel & 0xFF);
}

// A top-down 32-bit DIB section of premultiplied pixels given by `colour`
// (0xAARRGGBB, already premultiplied).
inline HBITMAP makeImage(int width, int height, const std::function<std::uint32_t(int, int)>& colour)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP image = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (image != nullptr) {
        auto* pixels = static_cast<std::uint32_t*>(bits);
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                pixels[row * width + column] = colour(column, row);
            }
        }
    }
    return image;
}

// Copies the rectangle (x, y, width, height) of a DC into a grid.
inline PixelGrid readDc(HDC source, int x, int y, int width, int height)
{
    PixelGrid grid;
    grid.width = width;
    grid.height = height;
    grid.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    HBITMAP copy = makeImage(width, height, [](int, int) { return 0u; });
    HDC copyDc = CreateCompatibleDC(source);
    HGDIOBJ previous = SelectObject(copyDc, copy);
    BitBlt(copyDc, 0, 0, width, height, source, x, y, SRCCOPY);
    GdiFlush();
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SelectObject(copyDc, previous);
    GetDIBits(copyDc, copy, 0, static_cast<UINT>(height), grid.pixels.data(), &info, DIB_RGB_COLORS);
    DeleteDC(copyDc);
    DeleteObject(copy);
    return grid;
}

inline PixelGrid readBitmap(HBITMAP bitmap)
{
    int width = 0;
    int height = 0;
    bitmapSize(bitmap, width, height);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    PixelGrid grid = readDc(dc, 0, 0, width, height);
    SelectObject(dc, previous);
    DeleteDC(dc);
    return grid;
}

// Lets every pending message (paints included) run.
inline void pumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// What a window shows now: its client area, after painting what is pending.
inline PixelGrid readWindow(HWND window)
{
    UpdateWindow(window);
    pumpMessages();
    RECT client = {};
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    PixelGrid grid = readDc(dc, 0, 0, client.right, client.bottom);
    ReleaseDC(window, dc);
    return grid;
}

// Writes a grid as an opaque PNG through the imaging component.
inline bool writePng(const std::wstring& path, const PixelGrid& grid)
{
    IWICImagingFactory* factory = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory)))) {
        return false;
    }
    bool written = false;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    std::vector<std::uint32_t> opaque(grid.pixels);
    for (std::uint32_t& pixel : opaque) {
        pixel |= 0xFF000000u;
    }
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
        SUCCEEDED(frame->SetSize(static_cast<UINT>(grid.width), static_cast<UINT>(grid.height))) &&
        SUCCEEDED(frame->SetPixelFormat(&format)) && IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA) &&
        SUCCEEDED(frame->WritePixels(static_cast<UINT>(grid.height), static_cast<UINT>(grid.width) * 4,
                                     static_cast<UINT>(opaque.size() * 4), reinterpret_cast<BYTE*>(opaque.data()))) &&
        SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit())) {
        written = true;
    }
    if (frame != nullptr) {
        frame->Release();
    }
    if (encoder != nullptr) {
        encoder->Release();
    }
    if (stream != nullptr) {
        stream->Release();
    }
    factory->Release();
    return written;
}

// A window of the panel's size that paints the panel picture and records the
// buttons' notifications; `onButton` runs inside the notification, before
// the button goes on. Top-level at the screen's origin, or a child of
// `parent` (an editor's panel window inside a host's window).
class HostWindow {
public:
    explicit HostWindow(HBITMAP panelPicture, HWND parent = nullptr) : panel(panelPicture)
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = testModule();
        windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        windowClass.lpszClassName = "ToolkitTestHostWindow";
        RegisterClassA(&windowClass); // fails harmlessly when already registered
        const DWORD style = (parent != nullptr ? WS_CHILD : WS_POPUP) | WS_VISIBLE;
        window = CreateWindowExA(0, "ToolkitTestHostWindow", "toolkit test", style, 0, 0, skin::kPanelWidth,
                                 skin::kPanelHeight, parent, nullptr, testModule(), nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
        pumpMessages();
    }
    ~HostWindow()
    {
        if (window != nullptr) {
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            DestroyWindow(window);
        }
        pumpMessages();
    }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND window = nullptr;
    HBITMAP panel = nullptr;
    std::vector<std::pair<WPARAM, LPARAM>> buttonMessages;
    std::function<void(WPARAM, LPARAM)> onButton;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* host = reinterpret_cast<HostWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (host == nullptr) {
            return DefWindowProcA(hwnd, message, wParam, lParam);
        }
        switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC target = BeginPaint(hwnd, &ps);
            if (host->panel != nullptr) {
                HDC panelDc = CreateCompatibleDC(target);
                HGDIOBJ previous = SelectObject(panelDc, host->panel);
                BitBlt(target, 0, 0, skin::kPanelWidth, skin::kPanelHeight, panelDc, 0, 0, SRCCOPY);
                SelectObject(panelDc, previous);
                DeleteDC(panelDc);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_USER + 1:
            host->buttonMessages.emplace_back(wParam, lParam);
            if (host->onButton) {
                host->onButton(wParam, lParam);
            }
            return 1;
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
        }
    }
};

// Every test of the controls runs with COM up (the image decoder needs it),
// the real panel picture decoded from the test program's resources and a
// host window showing it. The host window is shared by the tests of a suite:
// taking a top-level window off the virtual display is slow under Wine.
class ToolkitWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CoInitialize(nullptr);
        sharedPanel = loadPngResource(testModule(), skin::kImagePanel);
        sharedHost = new HostWindow(sharedPanel);
    }
    static void TearDownTestSuite()
    {
        delete sharedHost;
        sharedHost = nullptr;
        if (sharedPanel != nullptr) {
            DeleteObject(sharedPanel);
            sharedPanel = nullptr;
        }
        CoUninitialize();
    }
    void SetUp() override
    {
        ASSERT_NE(sharedPanel, nullptr) << "the panel picture is missing from the test program's resources";
        panel = sharedPanel;
        host = sharedHost;
        host->buttonMessages.clear();
        host->onButton = nullptr;
        InvalidateRect(host->window, nullptr, FALSE);
        pumpMessages();
    }
    void TearDown() override { pumpMessages(); }

    HBITMAP panel = nullptr;
    HostWindow* host = nullptr;

private:
    static inline HBITMAP sharedPanel = nullptr;
    static inline HostWindow* sharedHost = nullptr;
};

// Just a size, for composing pictures the way a control of that size does.
class SizedControl : public CSkinControl {
public:
    SizedControl(int w, int h)
    {
        width = w;
        height = h;
    }

protected:
    const char* classSuffix() const override { return "SizedControl"; }
    int* instanceCounter() const override
    {
        static int counter = 0;
        return &counter;
    }
    WNDPROC windowProcedure() const override { return DefWindowProcA; }
};

// The picture a control of width x height at (x, y) holds: the image
// `imageId` of the test program's resources composed over the panel.
inline PixelGrid composedPicture(HBITMAP panel, int imageId, int x, int y, int width, int height, int frames = 1)
{
    SizedControl control(width, height);
    HBITMAP image = loadPngResource(testModule(), imageId);
    HBITMAP composed = composeOverPanel(control, panel, image, x, y, frames);
    PixelGrid grid = readBitmap(composed);
    DeleteObject(composed);
    DeleteObject(image);
    return grid;
}

inline LPARAM mouseAt(int x, int y)
{
    return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

} // namespace toolkit_test
