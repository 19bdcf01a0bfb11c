// What an X11 window shows on screen, children included, as a cairo picture;
// and that picture written to a PNG file without leaving a partial file.
// Linux only (the host tool and the editor tests).
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <string>

// Null when the window cannot be read (unmapped, unknown, not TrueColor).
inline cairo_surface_t* captureWindow(Display* display, Window window)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return nullptr;
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!image)
        return nullptr;
    const auto channel = [](unsigned long pixel, unsigned long mask) {
        if (mask == 0)
            return 0u;
        int shift = 0;
        while (!((mask >> shift) & 1))
            ++shift;
        const unsigned long maximum = mask >> shift;
        return static_cast<unsigned>(((pixel & mask) >> shift) * 255 / maximum);
    };
    cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_RGB24, image->width, image->height);
    cairo_surface_flush(picture);
    unsigned char* data = cairo_image_surface_get_data(picture);
    const int stride = cairo_image_surface_get_stride(picture);
    for (int row = 0; row < image->height; ++row) {
        auto* out = reinterpret_cast<std::uint32_t*>(data + row * stride);
        for (int column = 0; column < image->width; ++column) {
            const unsigned long pixel = XGetPixel(image, column, row);
            out[column] = 0xFF000000u | channel(pixel, image->red_mask) << 16 | channel(pixel, image->green_mask) << 8 |
                          channel(pixel, image->blue_mask);
        }
    }
    cairo_surface_mark_dirty(picture);
    XDestroyImage(image);
    return picture;
}

// Writes next to the file and renames, so a failed write leaves no partial file.
inline bool savePng(cairo_surface_t* picture, const std::string& path)
{
    const std::string partial = path + ".partial";
    if (cairo_surface_write_to_png(picture, partial.c_str()) != CAIRO_STATUS_SUCCESS) {
        std::remove(partial.c_str());
        return false;
    }
    return std::rename(partial.c_str(), path.c_str()) == 0;
}
