// The editor opened and closed over and over while audio runs: window and
// drawing objects, and threads, come back to where they started.
#include "host/BoosterEffect.h"
#include "reliability/AllocationCounter.h"
#include "support/BackgroundAudio.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <tlhelp32.h>
#include <windows.h>

#include <set>
#include <vector>

namespace {

LRESULT CALLBACK frameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The process's threads by id. Threads other tests left behind may end at any
// time, so the check is that no thread appeared, not that the count held.
std::set<DWORD> threadIds()
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

std::vector<DWORD> threadsNotIn(const std::set<DWORD>& before)
{
    std::vector<DWORD> added;
    for (DWORD id : threadIds())
        if (!before.count(id))
            added.push_back(id);
    return added;
}

// Windows of this thread, children included. Enumeration callbacks are
// stdcall on 32-bit Windows: named functions, not lambdas.
BOOL CALLBACK countChild(HWND, LPARAM total)
{
    ++*reinterpret_cast<int*>(total);
    return TRUE;
}

BOOL CALLBACK countWindowAndChildren(HWND window, LPARAM total)
{
    ++*reinterpret_cast<int*>(total);
    EnumChildWindows(window, countChild, total);
    return TRUE;
}

int windowCount()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), countWindowAndChildren, reinterpret_cast<LPARAM>(&count));
    return count;
}

void pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

TEST(EditorCycles, HundredOpenCloseCyclesWhileAudioRunsLeaveNothingBehind)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = frameProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "EditorCyclesFrame";
    RegisterClassA(&windowClass);
    HWND frame = CreateWindowExA(0, "EditorCyclesFrame", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 340,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(frame, nullptr);

    auto run = [&](int cycles) {
        HostedEffect first, second;
        for (HostedEffect* host : {&first, &second})
            host->dispatch(effSetBlockSize, 0, 64);
        BackgroundAudio audio({first.effect, second.effect});
        for (int cycle = 0; cycle < cycles; ++cycle) {
            EXPECT_EQ(first.dispatch(effEditOpen, 0, 0, frame), 1);
            EXPECT_EQ(second.dispatch(effEditOpen, 0, 0, frame), 1);
            pump();
            // Close the two in either order.
            (cycle % 2 ? first : second).dispatch(effEditClose);
            (cycle % 2 ? second : first).dispatch(effEditClose);
            pump();
        }
    };

    auto forgetHostCalls = [] {
        recordedHostCalls().clear();
        recordedHostCalls().shrink_to_fit();
    };
    run(3); // lets the system create what it keeps for the process
    pump();
    forgetHostCalls();
    const DWORD userBefore = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    const std::set<DWORD> threadsBefore = threadIds();
    const int windowsBefore = windowCount();
    allocation::markThisThread();

    run(100);
    pump();
    forgetHostCalls();
    // Wine reports 0 for both object counts; on Windows they are real.
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), userBefore);
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore);
    EXPECT_TRUE(threadsNotIn(threadsBefore).empty());
    EXPECT_EQ(windowCount(), windowsBefore);
    EXPECT_EQ(allocation::liveBytesSinceMark(), 0);
    WNDCLASSA panelClass{};
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "OVKGrindlemarkWndClass", &panelClass));
    RecordProperty("userObjects", static_cast<int>(userBefore));
    RecordProperty("gdiObjects", static_cast<int>(gdiBefore));

    DestroyWindow(frame);
    UnregisterClassA("EditorCyclesFrame", GetModuleHandleA(nullptr));
    CoUninitialize();
}

} // namespace
