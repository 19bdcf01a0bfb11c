// What an editor test counts before and after its cycles on Linux: the
// process's open descriptors and threads, by number.
#pragma once

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

// Open descriptors or threads by number. What other tests left running may
// close or end at any time, so the check is that nothing appeared, not that
// the count held.
inline std::set<std::string> entriesIn(const char* folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

inline std::vector<std::string> entriesAdded(const char* folder, const std::set<std::string>& before)
{
    std::vector<std::string> added;
    for (const std::string& name : entriesIn(folder))
        if (!before.count(name))
            added.push_back(name);
    return added;
}

// Threads that appeared since `before` and stay. The kernel wakes a joining
// thread before it takes the ended thread's entry away, so a thread joined a
// moment ago may still be listed: an added entry has five seconds to go. One
// left running never does.
inline std::vector<std::string> threadsAdded(const std::set<std::string>& before)
{
    std::vector<std::string> added = entriesAdded("/proc/self/task", before);
    for (int wait = 0; !added.empty() && wait < 500; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        added = entriesAdded("/proc/self/task", before);
    }
    return added;
}
