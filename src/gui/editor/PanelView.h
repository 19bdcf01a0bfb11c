// The booster's editor as every format embeds it: a fixed-size panel opened as
// a child of a native parent window (an HWND on Windows, an X11 window id on
// Linux), pumped by idle() on the host's UI thread where the platform needs a
// pump (Linux; Windows runs its own timer and idle() does nothing), and closed
// before it is destroyed. All calls on the host's UI thread.
#pragma once

#include <cstdint>
#include <memory>

class PanelHost;

class PanelView {
public:
    virtual ~PanelView() = default;
    static constexpr int kWidth = 606;
    static constexpr int kHeight = 291;
    // False when the window cannot be made (no display, a window the display
    // does not know); the view then stays closed and may be opened again.
    virtual bool open(void* parentWindow) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // X events and the 33 ms refresh cycle; call it at least every 33 ms.
    virtual void idle() = 0;
    // The child window (HWND or X11 window id), 0 while closed.
    virtual std::uintptr_t nativeWindow() const = 0;
};

// The platform's panel for a host, or null where the build has no editor or
// the pictures cannot be decoded. The host outlives the view.
std::unique_ptr<PanelView> createPanelView(PanelHost& host);
