// The editor's X error trap shares Xlib's one process-wide handler with the
// host and with update dialogs on other threads.
#include <gtest/gtest.h>

// After GoogleTest: Xlib's macros (None, Bool) clash with its names.
#include "gui/toolkit/DisplayConnection.h"
#include "gui/toolkit/XErrorTrap.h"

namespace {

int errorsBefore = 0;
int errorsNewer = 0;

int countBefore(Display*, XErrorEvent*)
{
    ++errorsBefore;
    return 0;
}

// Like an update dialog's handler: counts, then hands on to what it replaced.
XErrorHandler replacedByNewer = nullptr;
int countNewer(Display* display, XErrorEvent* error)
{
    ++errorsNewer;
    return replacedByNewer ? replacedByNewer(display, error) : 0;
}

// A request the server always refuses (BadValue), whatever ids are in use.
void failRequest(Display* display)
{
    XCreatePixmap(display, DefaultRootWindow(display), 0, 0, 1);
    XSync(display, False);
}

TEST(XErrorTrap, TakesOnlyItsOwnErrorsAndKeepsAHandlerInstalledMeanwhile)
{
    Display* own = openDisplayConnection();
    Display* other = openDisplayConnection();
    if (!own || !other) {
        if (own)
            XCloseDisplay(own);
        GTEST_SKIP() << "no X display";
    }
    const XErrorHandler original = XSetErrorHandler(countBefore);

    {
        XErrorTrap trap(own);
        EXPECT_FALSE(trap.failed());
        failRequest(own);
        EXPECT_TRUE(trap.failed());
        failRequest(other); // the host's connection: its handler hears of it
        EXPECT_EQ(errorsBefore, 1);
    }
    EXPECT_EQ(XSetErrorHandler(countBefore), countBefore); // put back as it was

    {
        XErrorTrap trap(own);
        replacedByNewer = XSetErrorHandler(countNewer); // another thread installs its own, over the trap's
    }
    EXPECT_EQ(XSetErrorHandler(countNewer), countNewer); // which the trap's end kept
    failRequest(other);
    EXPECT_EQ(errorsNewer, 1);
    EXPECT_EQ(errorsBefore, 2); // handed on through the trap's handler to the one before

    {
        // The newer handler now stands before the trap, and hands errors back to it.
        XErrorTrap trap(own);
        failRequest(own);
        EXPECT_TRUE(trap.failed());
        failRequest(other);
        EXPECT_EQ(errorsNewer, 2);
    }
    EXPECT_EQ(XSetErrorHandler(countNewer), countNewer);

    XSetErrorHandler(original);
    XCloseDisplay(other);
    XCloseDisplay(own);
}

} // namespace
