#include "reliability/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {

thread_local long threadAllocations = 0;
thread_local long threadFrees = 0;
thread_local long long threadBytes = 0;

// Each block carries its size in front, so delete can count it back.
constexpr std::size_t kHeader = 16;

void* allocate(std::size_t size, bool throwing)
{
    void* block = std::malloc(size + kHeader);
    if (!block) {
        if (throwing)
            throw std::bad_alloc();
        return nullptr;
    }
    *static_cast<std::size_t*>(block) = size;
    ++threadAllocations;
    threadBytes += static_cast<long long>(size);
    return static_cast<char*>(block) + kHeader;
}

void release(void* pointer)
{
    if (!pointer)
        return;
    void* block = static_cast<char*>(pointer) - kHeader;
    ++threadFrees;
    threadBytes -= static_cast<long long>(*static_cast<std::size_t*>(block));
    std::free(block);
}

} // namespace

namespace allocation {

ThreadCounts thisThread()
{
    return {threadAllocations, threadFrees, threadBytes};
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
