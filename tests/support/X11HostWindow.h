// A top-level X11 window standing in for a Linux host's editor frame, with
// the helpers the editor tests share. Linux only.
#pragma once

// GoogleTest before Xlib, whose macros (None, Bool) would rename its types.
#include "support/TestHost.h"

#include "gui/editor/BoosterEditorPosix.h"
#include "gui/toolkit/DisplayConnection.h"
#include "host/BoosterEffect.h"
#include "host/PanelEditor.h"

#include <X11/Xlib.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

class X11HostWindow {
public:
    X11HostWindow()
    {
        display = openDisplayConnection();
        if (!display)
            return;
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 640, 340, 0, 0,
                                     BlackPixel(display, DefaultScreen(display)));
        XSelectInput(display, window, StructureNotifyMask);
        XMapWindow(display, window);
        for (XEvent event;;) {
            XNextEvent(display, &event);
            if (event.type == MapNotify && event.xmap.window == window)
                break;
        }
    }
    ~X11HostWindow()
    {
        if (!display)
            return;
        if (window)
            XDestroyWindow(display, window);
        XCloseDisplay(display);
    }
    X11HostWindow(const X11HostWindow&) = delete;
    X11HostWindow& operator=(const X11HostWindow&) = delete;

    void* handle() const { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(window)); }

    std::vector<Window> children() const
    {
        Window root = 0, parent = 0, *list = nullptr;
        unsigned count = 0;
        std::vector<Window> found;
        if (XQueryTree(display, window, &root, &parent, &list, &count)) {
            found.assign(list, list + count);
            XFree(list);
        }
        return found;
    }

    Display* display = nullptr;
    Window window = 0;
};

// Skips without a display; fails when one is named but does not answer.
#define REQUIRE_X11_HOST_WINDOW(frame)                                                                                 \
    do {                                                                                                               \
        if (!(frame).display) {                                                                                        \
            if (!std::getenv("DISPLAY"))                                                                               \
                GTEST_SKIP() << "no X display";                                                                        \
            FAIL() << "the X display " << std::getenv("DISPLAY") << " does not answer";                                \
        }                                                                                                              \
    } while (false)

inline BoosterEffect& effectOf(HostedEffect& host)
{
    return *static_cast<BoosterEffect*>(host.effect->object);
}

inline BoosterEditor& editorOf(HostedEffect& host)
{
    return static_cast<BoosterEditor&>(static_cast<PanelEditor*>(effectOf(host).getEditor())->view());
}
