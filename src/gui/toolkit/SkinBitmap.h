// Skin pictures: PNG resources decoded into premultiplied 32-bit bitmaps and
// pre-composed over the panel, so controls paint with plain copies. Windows
// only; UI thread, with COM initialised by the caller.
#pragma once

#include <windows.h>

#include <cstdint>

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

// A top-down DIB section of width x height at the given bits per pixel, its
// pixels at `bits`; null (bits null) when it cannot be made. The caller owns it.
HBITMAP createPixelSection(int width, int height, int bitsPerPixel, void*& bits);

// The bitmap's top-left width x height pixels as 32-bit 0x00RRGGBB words,
// whatever format the bitmap has. The bitmap must not be selected into a DC.
bool readPixels(HBITMAP bitmap, int width, int height, std::uint32_t* pixels);

// Tests only: composeOverPanel makes pictures of this many bits per pixel, as
// on a display of that depth (0: the display's own format again).
void setComposeDepthForTests(int bitsPerPixel);
