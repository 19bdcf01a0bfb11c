// A recursive operating-system lock with a non-blocking try. On Windows it is
// a CRITICAL_SECTION; elsewhere a standard recursive mutex. The audio thread
// only ever uses tryEnter.
#pragma once

#include <cstddef>

class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void enter();
    bool tryEnter(); // never blocks
    void leave();

private:
    // Room for the native lock object, so the header needs no OS headers.
    alignas(16) unsigned char storage[64];
};

// Holds a CriticalSection for the lifetime of a scope (waiting for it).
class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CriticalSection& lock) : lock(lock) { lock.enter(); }
    ~CriticalSectionGuard() { lock.leave(); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CriticalSection& lock;
};
