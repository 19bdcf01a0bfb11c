#include "platform/ModuleInstance.h"

#include <windows.h>

void* moduleInstance = nullptr;

// The load-time hook: every call carries the same handle, so store it each
// time; the resources and window classes of the editor are found through it.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/)
{
    moduleInstance = instance;
    return TRUE;
}
