#include "gui/toolkit/XErrorTrap.h"

#include <atomic>

namespace {

// Errors arrive on whichever thread reads the failing connection.
std::atomic<Display*> trappedDisplay{nullptr};
std::atomic<bool> requestFailed{false};
std::atomic<XErrorHandler> handlerBeforeTrap{nullptr};

int noteError(Display* display, XErrorEvent* error)
{
    if (display && display == trappedDisplay.load()) {
        requestFailed.store(true);
        return 0;
    }
    const XErrorHandler before = handlerBeforeTrap.load();
    return before ? before(display, error) : 0;
}

} // namespace

XErrorTrap::XErrorTrap(Display* display) : display(display)
{
    XSync(display, False);
    requestFailed.store(false);
    trappedDisplay.store(display);
    const XErrorHandler replaced = XSetErrorHandler(noteError);
    // After an earlier trap whose end kept a newer handler, ours may still be
    // in the chain; it never forwards to itself.
    if (replaced != noteError)
        handlerBeforeTrap.store(replaced);
}

XErrorTrap::~XErrorTrap()
{
    XSync(display, False);
    trappedDisplay.store(nullptr);
    // Put back what stood before, unless another handler was installed
    // meanwhile: that one stays, and ours, which it calls on, now only
    // forwards.
    const XErrorHandler current = XSetErrorHandler(handlerBeforeTrap.load());
    if (current != noteError)
        XSetErrorHandler(current);
}

bool XErrorTrap::failed() const
{
    XSync(display, False);
    return requestFailed.load();
}
