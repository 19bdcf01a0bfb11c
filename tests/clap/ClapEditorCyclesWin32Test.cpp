// The CLAP editor opened and closed over and over in a host window while
// audio runs: threads, windows and the host's timers come back to where they
// started.
#include "support/ClapPlugin.h"
#include "support/LeakProbesWin32.h"

#include <objbase.h>

#include <thread>

namespace {

LRESULT CALLBACK frameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST_F(ClapTest, TwentyEditorCyclesWhileAudioRunsLeaveNothingBehind)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = frameProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ClapEditorCyclesFrame";
    RegisterClassA(&windowClass);
    HWND frame = CreateWindowExA(0, "ClapEditorCyclesFrame", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 340,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(frame, nullptr);
    auto run = [&](int cycles) {
        const auto session = processing({}, 64);
        std::atomic<bool> playing{true};
        std::thread audio([&] {
            StereoSignal<float> signal(64);
            while (playing)
                session->process(signal.inputs(), 2, signal.outputs(), 2, 64);
        });
        for (int cycle = 0; cycle < cycles; ++cycle) {
            ASSERT_TRUE(session->openEditor(clapWindowApi(), reinterpret_cast<std::uintptr_t>(frame)));
            EXPECT_NE(GetWindow(frame, GW_CHILD), nullptr);
            pump();
            session->serviceMainThread();
            session->closeEditor();
            pump();
            EXPECT_EQ(GetWindow(frame, GW_CHILD), nullptr);
            EXPECT_EQ(session->timerCount(), 0u);
        }
        playing = false;
        audio.join();
    };
    run(2); // lets the system create what it keeps for the process
    const std::set<DWORD> threadsBefore = threadIds();
    const int windowsBefore = windowCount();
    run(20);
    EXPECT_TRUE(threadsNotIn(threadsBefore).empty());
    EXPECT_EQ(windowCount(), windowsBefore);
    DestroyWindow(frame);
    UnregisterClassA("ClapEditorCyclesFrame", GetModuleHandleA(nullptr));
    CoUninitialize();
}

} // namespace
