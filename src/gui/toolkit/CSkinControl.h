// The common base of the skinned controls: window-class naming, registration
// counted per control class, child window creation and destruction. Windows
// only; UI thread.
#pragma once

#include <windows.h>

class CSkinControl {
public:
    CSkinControl() = default;
    virtual ~CSkinControl() = default;
    CSkinControl(const CSkinControl&) = delete;
    CSkinControl& operator=(const CSkinControl&) = delete;

    // Destroys the window, if any, and unregisters the window class with the
    // last window of the class. Controls extend it to release their pictures.
    virtual void destroyWindow();

    HWND getWindow() const { return window; }
    HWND getParentWindow() const { return parentWindow; }
    int getWidth() const { return width; }
    int getHeight() const { return height; }
    const char* getClassName() const { return className; }

protected:
    // Fixed suffix of the control class's window-class name.
    virtual const char* classSuffix() const = 0;
    // The class-wide count of live windows.
    virtual int* instanceCounter() const = 0;
    virtual WNDPROC windowProcedure() const = 0;

    // Names the window class after the module's file name and the suffix and
    // registers it unless it already exists.
    void registerClass();

    // registerClass, then a visible child window of width x height at (x, y)
    // in the parent, which is stored in `window` and counted. The control's
    // address goes into the window's user data, where the class's window
    // procedure finds it. False when no window was made.
    bool createWindow(int x, int y);

    // The control whose window this is, or null while none is attached.
    static CSkinControl* attachedTo(HWND window);

    HINSTANCE instance = nullptr;
    int width = 0;
    int height = 0;
    HWND window = nullptr;
    HWND parentWindow = nullptr;
    char className[128] = {};
};
