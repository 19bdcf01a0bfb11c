#include "gui/toolkit/CSkinControl.h"

#include "gui/toolkit/WindowClassName.h"

void CSkinControl::registerClass()
{
    className[0] = '\0';
    char modulePath[260] = {};
    GetModuleFileNameA(instance, modulePath, sizeof modulePath);
    modulePath[sizeof modulePath - 1] = '\0';
    buildWindowClassName(modulePath, classSuffix(), className);

    WNDCLASSEXA existing = {};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(instance, className, &existing)) {
        return;
    }
    *instanceCounter() = 0;
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = windowProcedure();
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.lpszClassName = className;
    // A failed registration shows as a failed window creation.
    RegisterClassExA(&windowClass);
}

bool CSkinControl::createWindow(int x, int y)
{
    registerClass();
    window = CreateWindowExA(0, className, className, WS_CHILD | WS_VISIBLE, x, y, width, height, parentWindow, nullptr,
                             instance, nullptr);
    if (window == nullptr) {
        return false;
    }
    ++*instanceCounter();
    // Pointer-sized user data: a 32-bit slot would cut the address on 64-bit Windows.
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return true;
}

CSkinControl* CSkinControl::attachedTo(HWND window)
{
    return reinterpret_cast<CSkinControl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

void CSkinControl::destroyWindow()
{
    if (window == nullptr) {
        return;
    }
    // Detach first: the messages DestroyWindow sends then take the default path.
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
    window = nullptr;
    int* liveWindows = instanceCounter();
    if (*liveWindows > 0) {
        --*liveWindows;
    }
    if (*liveWindows == 0) {
        UnregisterClassA(className, instance);
    }
}
