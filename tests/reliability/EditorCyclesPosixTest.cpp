// The Linux editor opened and closed over and over while audio runs: display
// connections, windows, threads and the editor's own allocations come back to
// where they started.
#include "reliability/AllocationCounter.h"
#include "support/BackgroundAudio.h"
#include "support/X11HostWindow.h"

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

// Open descriptors or threads by number. What other tests left running may
// close or end at any time, so the check is that nothing appeared, not that
// the count held.
std::set<std::string> entriesIn(const char* folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::vector<std::string> entriesAdded(const char* folder, const std::set<std::string>& before)
{
    std::vector<std::string> added;
    for (const std::string& name : entriesIn(folder))
        if (!before.count(name))
            added.push_back(name);
    return added;
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
    const std::set<std::string> descriptorsBefore = entriesIn("/proc/self/fd");
    const std::set<std::string> threadsBefore = entriesIn("/proc/self/task");
    allocation::markThisThread();

    run(100);
    forgetHostCalls();
    EXPECT_TRUE(entriesAdded("/proc/self/fd", descriptorsBefore).empty()); // a display connection per editor
    EXPECT_TRUE(entriesAdded("/proc/self/task", threadsBefore).empty());
    EXPECT_TRUE(frame.children().empty());
    EXPECT_EQ(allocation::liveBytesSinceMark(), 0);
}

} // namespace
