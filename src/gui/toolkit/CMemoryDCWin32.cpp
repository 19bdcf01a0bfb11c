#include "gui/toolkit/CMemoryDC.h"

bool CMemoryDC::create(HDC reference)
{
    release();
    dc = CreateCompatibleDC(reference);
    if (dc == nullptr) {
        return false;
    }
    savedBitmap = GetCurrentObject(dc, OBJ_BITMAP);
    return true;
}

void CMemoryDC::adopt(HBITMAP bitmap)
{
    if (dc == nullptr || bitmap == nullptr) {
        return;
    }
    deleteBitmap();
    SelectObject(dc, bitmap);
}

HBITMAP CMemoryDC::selectedBitmap() const
{
    if (dc == nullptr) {
        return nullptr;
    }
    HGDIOBJ current = GetCurrentObject(dc, OBJ_BITMAP);
    return current != savedBitmap ? static_cast<HBITMAP>(current) : nullptr;
}

void CMemoryDC::deleteBitmap()
{
    HBITMAP owned = selectedBitmap();
    if (owned != nullptr) {
        SelectObject(dc, savedBitmap);
        DeleteObject(owned);
    }
}

void CMemoryDC::release()
{
    if (dc == nullptr) {
        return;
    }
    deleteBitmap();
    DeleteDC(dc);
    dc = nullptr;
    savedBitmap = nullptr;
}

CPaintBuffer::CPaintBuffer(HDC paintTarget) : target(paintTarget)
{
    if (!create(paintTarget)) {
        return;
    }
    GetClipBox(paintTarget, &clipBox);
    // Window coordinates from the origin, not just the clip box, so drawing
    // code can use the same coordinates as on the target.
    bitmap = CreateCompatibleBitmap(paintTarget, clipBox.right, clipBox.bottom);
    adopt(bitmap);
}

CPaintBuffer::~CPaintBuffer()
{
    if (dc != nullptr) {
        BitBlt(target, clipBox.left, clipBox.top, clipBox.right - clipBox.left, clipBox.bottom - clipBox.top, dc,
               clipBox.left, clipBox.top, SRCCOPY);
    }
}
