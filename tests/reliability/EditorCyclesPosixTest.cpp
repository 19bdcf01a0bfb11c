// The Linux editor opened and closed over and over while audio runs: display
// connections, windows, threads and the editor's own allocations come back to
// where they started.
#include "reliability/AllocationCounter.h"
#include "support/BackgroundAudio.h"
#include "support/LeakProbesPosix.h"
#include "support/X11HostWindow.h"

namespace {

TEST(EditorCycles, HundredOpenCloseCyclesWhileAudioRunsLeaveNothingBehind)
{
    X11HostWindow frame;
    REQUIRE_X11_HOST_WINDOW(frame);

    auto run = [&](int cycles) {
        HostedEffect first, second;
        for (HostedEffect* host : {&first, &second})
            host->dispatch(effSetBlockSize, 0, 64);
        BackgroundAudio audio({first.effect, second.effect});
        for (int cycle = 0; cycle < cycles; ++cycle) {
            EXPECT_EQ(first.dispatch(effEditOpen, 0, 0, frame.handle()), 1);
            EXPECT_EQ(second.dispatch(effEditOpen, 0, 0, frame.handle()), 1);
            first.dispatch(effEditIdle);
            second.dispatch(effEditIdle);
            // Close the two in either order.
            (cycle % 2 ? first : second).dispatch(effEditClose);
            (cycle % 2 ? second : first).dispatch(effEditClose);
        }
    };
    auto forgetHostCalls = [] {
        recordedHostCalls().clear();
        recordedHostCalls().shrink_to_fit();
    };
    run(3); // lets the libraries create what they keep for the process
    forgetHostCalls();
    const std::set<std::string> descriptorsBefore = entriesIn("/proc/self/fd");
    const std::set<std::string> threadsBefore = entriesIn("/proc/self/task");
    allocation::markThisThread();

    run(100);
    forgetHostCalls();
    // Read first: a failed check below records its message on the heap.
    const long long liveBytes = allocation::liveBytesSinceMark();
    EXPECT_TRUE(entriesAdded("/proc/self/fd", descriptorsBefore).empty()); // a display connection per editor
    EXPECT_TRUE(threadsAdded(threadsBefore).empty());
    EXPECT_TRUE(frame.children().empty());
    EXPECT_EQ(liveBytes, 0);
}

} // namespace
