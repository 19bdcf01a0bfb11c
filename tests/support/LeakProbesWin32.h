// What an editor test counts before and after its cycles on Windows: the
// process's threads and this thread's windows, and a message pump.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include <set>
#include <vector>

// The process's threads by id. Threads other tests left behind may end at any
// time, so the check is that no thread appeared, not that the count held.
inline std::set<DWORD> threadIds()
{
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ids.insert(entry.th32ThreadID);
    CloseHandle(snapshot);
    return ids;
}

inline std::vector<DWORD> threadsNotIn(const std::set<DWORD>& before)
{
    std::vector<DWORD> added;
    for (DWORD id : threadIds())
        if (!before.count(id))
            added.push_back(id);
    return added;
}

// Windows of this thread, children included. Enumeration callbacks are
// stdcall on 32-bit Windows: named functions, not lambdas.
inline BOOL CALLBACK countChild(HWND, LPARAM total)
{
    ++*reinterpret_cast<int*>(total);
    return TRUE;
}

inline BOOL CALLBACK countWindowAndChildren(HWND window, LPARAM total)
{
    ++*reinterpret_cast<int*>(total);
    EnumChildWindows(window, countChild, total);
    return TRUE;
}

inline int windowCount()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), countWindowAndChildren, reinterpret_cast<LPARAM>(&count));
    return count;
}

inline void pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

inline LRESULT CALLBACK hostFrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A visible top-level window standing in for a host's editor frame, under a
// class of the caller's name; null when it cannot be made.
inline HWND createHostFrame(const char* className)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = hostFrameProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, className, "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 340, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

inline void destroyHostFrame(HWND frame, const char* className)
{
    DestroyWindow(frame);
    UnregisterClassA(className, GetModuleHandleA(nullptr));
}
