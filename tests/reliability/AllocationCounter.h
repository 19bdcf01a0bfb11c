// Counts the C++ heap allocations, frees and bytes of the calling thread
// through a replaced global operator new and delete (linked into the test
// program only). Per thread, so that threads other tests left behind cannot
// move a measurement.
#pragma once

#include <cstddef>

namespace allocation {

struct ThreadCounts {
    long allocations;
    long frees;
    long long bytes; // allocated minus freed by this thread
};

ThreadCounts thisThread();

}  // namespace allocation
