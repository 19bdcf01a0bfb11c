// Counts the C++ heap allocations and frees made by the calling thread, and
// the bytes outstanding in the whole process, through a replaced global
// operator new and delete (linked into the test program only).
#pragma once

#include <cstddef>

namespace allocation {

struct ThreadCounts {
    long allocations;
    long frees;
};

ThreadCounts thisThread();
// Bytes currently allocated through operator new by every thread.
long long outstandingBytes();

}  // namespace allocation
