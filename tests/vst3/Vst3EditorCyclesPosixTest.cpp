// The VST 3 editor opened and closed over and over in an X11 host window
// while audio runs, once driven by the host's run loop and once by its own
// timer (a host that offers no run loop): descriptors, threads, windows and
// the host's timers come back to where they started.
#include "support/LeakProbesPosix.h"
#include "support/Vst3Bundle.h"
#include "support/X11HostWindow.h"

#include "AudioLoop.h"
#include "EditorWindow.h"

#include <chrono>
#include <thread>

namespace {

TEST(Vst3EditorCycles, TwentyOpenCloseCyclesEitherWayLeaveNothingBehind)
{
    X11HostWindow frame;
    REQUIRE_X11_HOST_WINDOW(frame);
    LOAD_BUNDLE(bundle);
    Vst3Instance& plugin = *bundle.instance;
    EditorOptions options;
    options.blockSize = 64;
    plugin.start(options.sampleRate, options.blockSize);

    auto run = [&](int cycles, bool hostRunLoop) {
        plugin.host().offerRunLoop = hostRunLoop;
        AudioLoop audio(plugin, options);
        for (int cycle = 0; cycle < cycles; ++cycle) {
            ASSERT_TRUE(plugin.openEditor(frame.handle()));
            EXPECT_EQ(frame.children().size(), 1u);
            EXPECT_EQ(plugin.host().timerCount(), hostRunLoop ? 1u : 0u);
            for (int pass = 0; pass < 3; ++pass) {
                plugin.idleEditor();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            plugin.closeEditor();
            EXPECT_EQ(plugin.host().timerCount(), 0u);
        }
    };
    run(2, true); // lets the libraries create what they keep for the process
    run(2, false);
    const std::set<std::string> descriptorsBefore = entriesIn("/proc/self/fd");
    const std::set<std::string> threadsBefore = entriesIn("/proc/self/task");

    run(20, true);
    run(20, false);
    EXPECT_TRUE(entriesAdded("/proc/self/fd", descriptorsBefore).empty());
    EXPECT_TRUE(threadsAdded(threadsBefore).empty());
    EXPECT_TRUE(frame.children().empty());
}

} // namespace
