#include "reliability/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

thread_local long threadAllocations = 0;
thread_local long threadFrees = 0;
thread_local std::size_t threadFailureSize = 0; // 0: no allocation fails

// One per thread that ever allocated, made with malloc and kept on a list for
// the life of the process, so a block can count back to its thread's ledger
// even after that thread has ended.
struct Ledger {
    std::atomic<long long> liveBytes{0};
    std::atomic<unsigned long long> markSequence{0};
    Ledger* next = nullptr;
};
std::atomic<Ledger*> everyLedger{nullptr};
std::atomic<unsigned long long> allocationSequence{0};
thread_local Ledger* threadLedger = nullptr;

Ledger* ownLedger()
{
    if (!threadLedger) {
        void* memory = std::malloc(sizeof(Ledger));
        if (!memory)
            std::abort();
        threadLedger = new (memory) Ledger;
        threadLedger->next = everyLedger.load();
        while (!everyLedger.compare_exchange_weak(threadLedger->next, threadLedger)) {
        }
    }
    return threadLedger;
}

// Each block carries its size, its thread's ledger and its place in the
// allocation order in front, so delete can count it back.
struct BlockHeader {
    std::size_t size;
    Ledger* ledger;
    unsigned long long sequence;
};
constexpr std::size_t kHeader = 32; // keeps the 16-byte alignment of malloc
static_assert(sizeof(BlockHeader) <= kHeader, "block header");

void* allocate(std::size_t size, bool throwing)
{
    void* block = threadFailureSize != 0 && size > threadFailureSize ? nullptr : std::malloc(size + kHeader);
    if (!block) {
        if (throwing)
            throw std::bad_alloc();
        return nullptr;
    }
    Ledger* ledger = ownLedger();
    new (block) BlockHeader{size, ledger, allocationSequence.fetch_add(1) + 1};
    ++threadAllocations;
    ledger->liveBytes.fetch_add(static_cast<long long>(size));
    return static_cast<char*>(block) + kHeader;
}

void release(void* pointer)
{
    if (!pointer)
        return;
    void* block = static_cast<char*>(pointer) - kHeader;
    const BlockHeader header = *static_cast<BlockHeader*>(block);
    ++threadFrees;
    // Blocks from before the ledger's mark were not counted in.
    if (header.sequence > header.ledger->markSequence.load())
        header.ledger->liveBytes.fetch_sub(static_cast<long long>(header.size));
    std::free(block);
}

} // namespace

namespace allocation {

ThreadCounts thisThread()
{
    return {threadAllocations, threadFrees};
}

void failAllocationsAbove(std::size_t bytes)
{
    threadFailureSize = bytes;
}

void markThisThread()
{
    Ledger* ledger = ownLedger();
    ledger->markSequence.store(allocationSequence.load());
    ledger->liveBytes.store(0);
}

long long liveBytesSinceMark()
{
    return ownLedger()->liveBytes.load();
}

} // namespace allocation

void* operator new(std::size_t size)
{
    return allocate(size, true);
}
void* operator new[](std::size_t size)
{
    return allocate(size, true);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size, false);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size, false);
}
void operator delete(void* pointer) noexcept
{
    release(pointer);
}
void operator delete[](void* pointer) noexcept
{
    release(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept
{
    release(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept
{
    release(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept
{
    release(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept
{
    release(pointer);
}
