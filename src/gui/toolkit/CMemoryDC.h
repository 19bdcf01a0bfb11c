// Memory device contexts for the controls' pictures and for flicker-free
// painting. Windows only; UI thread.
#pragma once

#include <windows.h>

// A memory DC that owns the bitmap selected into it: releasing it selects the
// DC's original bitmap back and deletes whatever was selected instead.
class CMemoryDC {
public:
    CMemoryDC() = default;
    ~CMemoryDC() { release(); }
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;

    // Releases what is held, then makes a DC compatible with `reference` (the
    // screen when null). False when no DC could be made.
    bool create(HDC reference);

    // Selects `bitmap`, which the DC then owns; a bitmap it owned before is
    // deleted. Needs a DC.
    void adopt(HBITMAP bitmap);

    // The bitmap currently owned, or null.
    HBITMAP selectedBitmap() const;

    // Selects the original bitmap back and deletes the owned one; the DC stays.
    void deleteBitmap();

    // deleteBitmap, then deletes the DC; both fields become null.
    void release();

    HDC dc = nullptr;
    HGDIOBJ savedBitmap = nullptr; // the DC's one-pixel stock bitmap, selected at creation
};

// The off-screen buffer of one paint pass. It spans the target's window
// coordinates from 0,0 to the clip box's right and bottom edges; on
// destruction only the clip box is copied to the target.
class CPaintBuffer : public CMemoryDC {
public:
    explicit CPaintBuffer(HDC paintTarget);
    ~CPaintBuffer();

    HBITMAP bitmap = nullptr;
    RECT clipBox = {0, 0, 0, 0};
    HDC target = nullptr;
};
