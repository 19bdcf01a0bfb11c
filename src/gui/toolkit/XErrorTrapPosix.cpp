#include "gui/toolkit/XErrorTrap.h"

#include <atomic>

namespace {

// Errors arrive on whichever thread reads the failing connection.
std::atomic<Display*> trappedDisplay{nullptr};
std::atomic<bool> requestFailed{false};
// What was installed when the last trap began; errors that are not the
// trap's go on to it.
std::atomic<XErrorHandler> handlerBeforeTrap{nullptr};
thread_local bool forwarding = false;

int noteError(Display* display, XErrorEvent* error)
{
    if (display && display == trappedDisplay.load()) {
        requestFailed.store(true);
        return 0;
    }
    // A handler installed over ours may hand the error back to us; it has
    // been heard by then, and passing it round again would never end.
    if (forwarding)
        return 0;
    const XErrorHandler next = handlerBeforeTrap.load();
    if (!next)
        return 0;
    forwarding = true;
    const int result = next(display, error);
    forwarding = false;
    return result;
}

} // namespace

XErrorTrap::XErrorTrap(Display* display) : display(display)
{
    XSync(display, False);
    requestFailed.store(false);
    trappedDisplay.store(display);
    const XErrorHandler replaced = XSetErrorHandler(noteError);
    if (replaced != noteError)
        handlerBeforeTrap.store(replaced);
}

XErrorTrap::~XErrorTrap()
{
    XSync(display, False);
    trappedDisplay.store(nullptr);
    // Put back what stood before, unless another handler was installed
    // meanwhile: that one stays, and ours, which it may call on, now only
    // passes errors on.
    const XErrorHandler current = XSetErrorHandler(handlerBeforeTrap.load());
    if (current != noteError)
        XSetErrorHandler(current);
}

bool XErrorTrap::failed() const
{
    XSync(display, False);
    return requestFailed.load();
}
