// Skin pictures: PNG resources decoded into premultiplied 32-bit bitmaps and
// pre-composed over the panel, so controls paint with plain copies. Windows
// only; UI thread, with COM initialised by the caller.
#pragma once

#include <windows.h>

class CSkinControl;

// Decodes the PNG resource `resourceId` (resource type "PNG") of `instance`
// into a top-down 32-bit DIB section, blue-green-red-alpha bytes with colour
// premultiplied by alpha. Null when the resource is missing, is not a
// single-frame image or cannot be decoded; nothing is left behind then. The
// caller owns the bitmap.
HBITMAP loadPngResource(HINSTANCE instance, int resourceId);

// A device-dependent bitmap of the control's width x (frames x height) in
// which every frame holds the panel region at (sourceX, sourceY) of the
// control's size, with the whole image alpha-blended over it (per-pixel
// premultiplied alpha). A null image leaves the plain panel region. The panel
// and the image stay the caller's; the caller owns the result (null when it
// cannot be made).
HBITMAP composeOverPanel(const CSkinControl& control, HBITMAP panel, HBITMAP image, int sourceX, int sourceY,
                         int frames);

// Width and height of a bitmap; false (sizes 0) when it cannot be read.
bool bitmapSize(HBITMAP bitmap, int& width, int& height);
