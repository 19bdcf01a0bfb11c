// Skin pictures as cairo image surfaces: the embedded PNG files decoded with
// cairo's PNG reader and pre-composed over the panel, so the editor paints
// with plain copies. Linux; UI thread.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>

struct SurfaceRelease {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SkinSurface = std::unique_ptr<cairo_surface_t, SurfaceRelease>;

// The embedded image `id` as a premultiplied ARGB32 surface; null when it is
// missing or cannot be decoded.
SkinSurface loadSkinImage(int id);

// A surface of width x (frames x height) whose every frame holds the panel
// region at (x, y) of that size, with the whole image (null: none) blended
// over it. Null when the sizes are not positive or the surface cannot be made.
SkinSurface composeOverPanel(cairo_surface_t* panel, cairo_surface_t* image, int x, int y, int width, int height,
                             int frames);

// Width and height of an image surface (0 for null).
int surfaceWidth(cairo_surface_t* surface);
int surfaceHeight(cairo_surface_t* surface);

// Row `row` of an ARGB32 image surface, as 0xAARRGGBB words; the caller flushes
// before reading and marks the surface dirty after writing.
inline std::uint32_t* surfacePixels(cairo_surface_t* surface, int row)
{
    return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surface) +
                                            static_cast<long>(row) * cairo_image_surface_get_stride(surface));
}
