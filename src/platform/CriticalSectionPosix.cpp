#include "platform/CriticalSection.h"

#include <mutex>
#include <new>

// Windows critical sections are recursive for their owner; keep that here.
using NativeLock = std::recursive_mutex;

namespace {
NativeLock& native(unsigned char* storage)
{
    return *std::launder(reinterpret_cast<NativeLock*>(storage));
}
} // namespace

CriticalSection::CriticalSection()
{
    static_assert(sizeof(NativeLock) <= sizeof(storage), "storage too small for the native lock");
    static_assert(alignof(NativeLock) <= 16, "storage alignment too small for the native lock");
    new (storage) NativeLock;
}

CriticalSection::~CriticalSection()
{
    native(storage).~NativeLock();
}

void CriticalSection::enter()
{
    native(storage).lock();
}

bool CriticalSection::tryEnter()
{
    return native(storage).try_lock();
}

void CriticalSection::leave()
{
    native(storage).unlock();
}
