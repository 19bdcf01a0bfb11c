#include "platform/CriticalSection.h"

#include <new>
#include <windows.h>

namespace {
CRITICAL_SECTION& native(unsigned char* storage)
{
    return *std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}
} // namespace

CriticalSection::CriticalSection()
{
    static_assert(sizeof(CRITICAL_SECTION) <= sizeof(storage), "storage too small for CRITICAL_SECTION");
    InitializeCriticalSection(new (storage) CRITICAL_SECTION);
}

CriticalSection::~CriticalSection()
{
    DeleteCriticalSection(&native(storage));
}

void CriticalSection::enter()
{
    EnterCriticalSection(&native(storage));
}

bool CriticalSection::tryEnter()
{
    return TryEnterCriticalSection(&native(storage)) != FALSE;
}

void CriticalSection::leave()
{
    LeaveCriticalSection(&native(storage));
}
