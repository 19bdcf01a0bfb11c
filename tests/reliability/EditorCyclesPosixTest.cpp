// The Linux editor opened and closed over and over while audio runs: display
// connections, windows, threads and the editor's own allocations come back to
// where they started.
#include "reliability/AllocationCounter.h"
#include "support/BackgroundAudio.h"
#include "support/X11HostWindow.h"

#include <filesystem>
#include <vector>

namespace {

int entriesIn(const char* folder)
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

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
    const int descriptorsBefore = entriesIn("/proc/self/fd");
    const int threadsBefore = entriesIn("/proc/self/task");
    const long long heapBefore = allocation::thisThread().bytes;

    run(100);
    forgetHostCalls();
    EXPECT_EQ(entriesIn("/proc/self/fd"), descriptorsBefore); // one display connection per open editor
    EXPECT_EQ(entriesIn("/proc/self/task"), threadsBefore);
    EXPECT_TRUE(frame.children().empty());
    EXPECT_EQ(allocation::thisThread().bytes, heapBefore);
}

} // namespace
