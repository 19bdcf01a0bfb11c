// Counts the C++ heap allocations and frees of the calling thread, and the
// bytes it allocated since its last mark that are still live (whichever
// thread frees them), through a replaced global operator new and delete
// (linked into the test program only). A thread another test left behind
// cannot move a measurement: it frees nothing allocated after the mark.
#pragma once

#include <cstddef>

namespace allocation {

struct ThreadCounts {
    long allocations;
    long frees;
};

ThreadCounts thisThread();

// From now on the calling thread's allocations of more than `bytes` fail as
// if memory ran out; 0 ends that.
void failAllocationsAbove(std::size_t bytes);

// Starts a new count of the calling thread's live bytes.
void markThisThread();
// Bytes the calling thread allocated since its last mark and nobody freed yet.
long long liveBytesSinceMark();

} // namespace allocation
