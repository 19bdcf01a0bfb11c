// The editor opened and closed over and over while audio runs: window and
// drawing objects, and threads, come back to where they started.
#include "host/BoosterEffect.h"
#include "reliability/AllocationCounter.h"
#include "support/BackgroundAudio.h"
#include "support/LeakProbesWin32.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <tlhelp32.h>
#include <windows.h>

#include <set>
#include <vector>

namespace {

TEST(EditorCycles, HundredOpenCloseCyclesWhileAudioRunsLeaveNothingBehind)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HWND frame = createHostFrame("EditorCyclesFrame");
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

    destroyHostFrame(frame, "EditorCyclesFrame");
    CoUninitialize();
}

} // namespace
