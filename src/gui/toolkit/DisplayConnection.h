// Opening a connection to the X display named by DISPLAY. A server that is
// slow to accept fills its listen queue and a connection attempt then fails
// at once (EAGAIN on the socket, which Xlib does not pass on reliably); that
// passes within milliseconds, so a few attempts are made, 0.1 s at most,
// before giving up. Without DISPLAY it fails at once. Linux; caller's thread.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <thread>

inline Display* openDisplayConnection()
{
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return nullptr;
    for (int attempt = 0;; ++attempt) {
        if (Display* display = XOpenDisplay(name))
            return display;
        if (attempt == 20)
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
