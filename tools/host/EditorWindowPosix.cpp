#include "EditorWindow.h"

#include "AudioLoop.h"
#include "WindowCapture.h"
#include "gui/toolkit/DisplayConnection.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <thread>

namespace {

// Hosts drive Linux editors from their user-interface loop; 60 times a second
// is at the quick end of what they do.
constexpr auto kIdleInterval = std::chrono::milliseconds(16);

void* windowHandle(Window window)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(window));
}

} // namespace

int runEditor(PluginInstance& plugin, const EditorOptions& options)
{
    int width = 0;
    int height = 0;
    if (!editorSize(plugin, width, height))
        return 1;
    Display* display = openDisplayConnection();
    if (!display) {
        std::fprintf(stderr, "grindlemark-host: cannot open the X display (is DISPLAY set?)\n");
        return 1;
    }
    const Window hostWindow =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 40, 40, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, 0, BlackPixel(display, DefaultScreen(display)));
    XStoreName(display, hostWindow, "Grindlemark");
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, hostWindow, &deleteWindow, 1);
    XSelectInput(display, hostWindow, StructureNotifyMask);
    XMapWindow(display, hostWindow);
    for (XEvent event;;) {
        XNextEvent(display, &event);
        if (event.type == MapNotify)
            break;
    }

    plugin.start(options.sampleRate, options.blockSize);
    if (!plugin.openEditor(windowHandle(hostWindow))) {
        std::fprintf(stderr, "grindlemark-host: the editor did not open\n");
        XDestroyWindow(display, hostWindow);
        XCloseDisplay(display);
        return 1;
    }

    bool screenshotFailed = false;
    {
        std::optional<AudioLoop> audio;
        if (options.playAudio)
            audio.emplace(plugin, options);
        const auto start = std::chrono::steady_clock::now();
        const auto screenshotDue = start + std::chrono::milliseconds(options.screenshotAfterMs);
        for (bool running = true; running;) {
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow)
                    running = false;
            }
            plugin.idleEditor();
            if (!options.screenshotPath.empty() && std::chrono::steady_clock::now() >= screenshotDue) {
                cairo_surface_t* picture = captureWindow(display, hostWindow);
                screenshotFailed = !picture || !savePng(picture, options.screenshotPath);
                if (picture)
                    cairo_surface_destroy(picture);
                running = false;
            }
            std::this_thread::sleep_for(kIdleInterval);
        }
        // As hosts do: the editor closes before its parent window goes.
        plugin.closeEditor();
    }
    XDestroyWindow(display, hostWindow);
    XCloseDisplay(display);

    if (!options.screenshotPath.empty()) {
        if (screenshotFailed) {
            std::fprintf(stderr, "grindlemark-host: cannot write %s\n", options.screenshotPath.c_str());
            return 1;
        }
        std::printf("editor screenshot: %s\n", options.screenshotPath.c_str());
    }
    return 0;
}
