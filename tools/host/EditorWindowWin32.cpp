#include "EditorWindow.h"

#include "AudioLoop.h"

#include <wincodec.h>
#include <windows.h>

#include <cstdio>
#include <optional>

namespace {

constexpr char kHostClassName[] = "GrindlemarkHostWindow";
constexpr UINT_PTR kScreenshotTimer = 1;
// The host's idle calls, which plug-ins pumped by their host (CLAP timers and
// callbacks, effEditIdle) run on; about 60 a second.
constexpr UINT_PTR kIdleTimer = 2;

struct HostWindowState {
    const EditorOptions* options = nullptr;
    PluginInstance* plugin = nullptr;
    bool editorOpen = false;
    bool screenshotTaken = false;
    bool screenshotFailed = false;
};

bool savePng(HBITMAP bitmap, int width, int height, const std::string& path)
{
    IWICImagingFactory* factory = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))))
        return false;
    bool saved = false;
    IWICBitmap* image = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    std::wstring widePath(path.begin(), path.end());
    if (SUCCEEDED(factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &image)) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromFilename(widePath.c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
        SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)))) {
        WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
        saved = SUCCEEDED(frame->SetPixelFormat(&format)) && SUCCEEDED(frame->WriteSource(image, nullptr)) &&
                SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }
    for (IUnknown* object :
         {static_cast<IUnknown*>(frame), static_cast<IUnknown*>(encoder), static_cast<IUnknown*>(stream),
          static_cast<IUnknown*>(image), static_cast<IUnknown*>(factory)})
        if (object)
            object->Release();
    return saved;
}

// Copies what the window shows on screen, children included.
bool captureWindow(HWND window, const std::string& path)
{
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    const bool saved = savePng(bitmap, width, height, path);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return saved;
}

// As hosts do: the editor closes before its parent window goes.
void closeHostWindow(HWND hwnd, HostWindowState& state)
{
    if (state.editorOpen) {
        state.plugin->closeEditor();
        state.editorOpen = false;
    }
    DestroyWindow(hwnd);
}

LRESULT CALLBACK hostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<HostWindowState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    switch (message) {
    case WM_TIMER:
        if (wParam == kIdleTimer && state && state->editorOpen)
            state->plugin->idleEditor();
        if (wParam == kScreenshotTimer && state) {
            KillTimer(hwnd, kScreenshotTimer);
            state->screenshotFailed = !captureWindow(hwnd, state->options->screenshotPath);
            state->screenshotTaken = true;
            closeHostWindow(hwnd, *state);
        }
        return 0;
    case WM_CLOSE:
        if (state)
            closeHostWindow(hwnd, *state);
        else
            DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

} // namespace

int runEditor(PluginInstance& plugin, const EditorOptions& options)
{
    int width = 0;
    int height = 0;
    if (!editorSize(plugin, width, height))
        return 1;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = hostWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kHostClassName;
    RegisterClassA(&windowClass);

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, width, height};
    AdjustWindowRect(&frame, style, FALSE);
    HWND hostWindow = CreateWindowExA(0, kHostClassName, "Grindlemark", style, 40, 40, frame.right - frame.left,
                                      frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!hostWindow) {
        std::fprintf(stderr, "grindlemark-host: cannot create a window\n");
        return 1;
    }
    HostWindowState state;
    state.options = &options;
    state.plugin = &plugin;
    SetWindowLongPtrA(hostWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));

    plugin.start(options.sampleRate, options.blockSize);
    if (!plugin.openEditor(hostWindow)) {
        std::fprintf(stderr, "grindlemark-host: the editor did not open\n");
        DestroyWindow(hostWindow);
        return 1;
    }
    state.editorOpen = true;
    ShowWindow(hostWindow, SW_SHOW);
    UpdateWindow(hostWindow);
    SetTimer(hostWindow, kIdleTimer, 16, nullptr);
    if (!options.screenshotPath.empty())
        SetTimer(hostWindow, kScreenshotTimer, static_cast<UINT>(options.screenshotAfterMs), nullptr);

    {
        std::optional<AudioLoop> audio;
        if (options.playAudio)
            audio.emplace(plugin, options);
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (state.editorOpen)
            plugin.closeEditor();
    }
    UnregisterClassA(kHostClassName, instance);
    CoUninitialize();

    if (state.screenshotTaken) {
        if (state.screenshotFailed) {
            std::fprintf(stderr, "grindlemark-host: cannot write %s\n", options.screenshotPath.c_str());
            return 1;
        }
        std::printf("editor screenshot: %s\n", options.screenshotPath.c_str());
    }
    return 0;
}
