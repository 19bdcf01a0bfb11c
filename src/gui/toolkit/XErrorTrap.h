// Requests on windows the host may already have destroyed (its window goes
// first, taking the panel with it) must not end the host: Xlib's default
// error handler exits. While an XErrorTrap lives, errors on its connection are
// noted instead, and on its end every request made meanwhile has been
// answered. Xlib has one handler for the whole process, so errors on any
// other connection (the host's own, an update dialog's) go on to the handler
// that was there before, and a handler another thread installs meanwhile is
// kept when the trap ends. Linux; the editor's thread; traps do not nest.
#pragma once

#include <X11/Xlib.h>

class XErrorTrap {
public:
    explicit XErrorTrap(Display* display);
    ~XErrorTrap();
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // Whether a request on the connection has failed since the trap began
    // (waits for the server to answer what was sent).
    bool failed() const;

private:
    Display* display;
};
