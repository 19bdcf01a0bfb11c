// The VST 3 editor opened and closed over and over in a host window while
// audio runs: threads and windows come back to where they started.
#include "support/LeakProbesWin32.h"
#include "support/Vst3Bundle.h"

#include "AudioLoop.h"
#include "EditorWindow.h"

#include <objbase.h>

namespace {

TEST(Vst3EditorCycles, TwentyOpenCloseCyclesLeaveNothingBehind)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HWND frame = createHostFrame("Vst3EditorCyclesFrame");
    ASSERT_NE(frame, nullptr);
    {
        LOAD_BUNDLE(bundle);
        Vst3Instance& plugin = *bundle.instance;
        EditorOptions options;
        options.blockSize = 64;
        plugin.start(options.sampleRate, options.blockSize);
        auto run = [&](int cycles) {
            AudioLoop audio(plugin, options);
            for (int cycle = 0; cycle < cycles; ++cycle) {
                ASSERT_TRUE(plugin.openEditor(frame));
                EXPECT_NE(GetWindow(frame, GW_CHILD), nullptr);
                pump();
                plugin.idleEditor();
                plugin.closeEditor();
                pump();
                EXPECT_EQ(GetWindow(frame, GW_CHILD), nullptr);
            }
        };
        run(2); // lets the system create what it keeps for the process
        const std::set<DWORD> threadsBefore = threadIds();
        const int windowsBefore = windowCount();
        run(20);
        EXPECT_TRUE(threadsNotIn(threadsBefore).empty());
        EXPECT_EQ(windowCount(), windowsBefore);
    }
    destroyHostFrame(frame, "Vst3EditorCyclesFrame");
    CoUninitialize();
}

} // namespace
