// The two-state push button of the panel's top bar. A left click flips the
// state and tells the owner at once; the owner may also set the state. Windows
// only; UI thread.
#pragma once

#include "gui/toolkit/CSkinControl.h"

// Message sent to the owner on a click: wParam = command, lParam = new state.
constexpr UINT kLedButtonMessage = WM_USER + 1;

class CLedButton : public CSkinControl {
public:
    CLedButton() = default;
    ~CLedButton() override;

    // Loads the strip (off frame above on frame, composed over the panel at
    // (x, 0)) and creates the window at (x, 0). Command 0 makes an inert
    // button. Does nothing while a window exists; a missing image leaves the
    // button without window.
    void create(HINSTANCE moduleInstance, HWND parent, int x, HBITMAP panel, int imageId, int command);

    // Shows frame `newState` at once (limited to the strip's frames); sends nothing.
    void setState(int newState);
    int getState() const { return state; }

    void destroyWindow() override;

protected:
    const char* classSuffix() const override { return "CLedButtonWindowClass"; }
    int* instanceCounter() const override { return &liveWindows; }
    WNDPROC windowProcedure() const override { return windowProc; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void loadStrip(HBITMAP panel, int imageId, int x);
    void paint(HWND hwnd);

    static int liveWindows;

    int commandId = 0;
    int state = 0;
    int stateCount = 2;
    HBITMAP strip = nullptr;
    int pressNext[4] = {};   // state entered when pressed in state i
    int releaseNext[4] = {}; // state entered when released in state i
};
