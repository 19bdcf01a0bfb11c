#include "gui/toolkit/SkinSurface.h"

#include "gui/toolkit/EmbeddedImages.h"

#include <cstring>

namespace {

struct ByteReader {
    const unsigned char* bytes;
    std::size_t size;
    std::size_t offset;
};

cairo_status_t readBytes(void* closure, unsigned char* data, unsigned int length)
{
    auto* reader = static_cast<ByteReader*>(closure);
    if (length > reader->size - reader->offset)
        return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, reader->bytes + reader->offset, length);
    reader->offset += length;
    return CAIRO_STATUS_SUCCESS;
}

SkinSurface checked(cairo_surface_t* surface)
{
    SkinSurface owned(surface);
    if (!surface || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    return owned;
}

} // namespace

SkinSurface loadSkinImage(int id)
{
    const EmbeddedImage* image = findEmbeddedImage(id);
    if (!image)
        return nullptr;
    ByteReader reader{image->bytes, image->size, 0};
    SkinSurface decoded = checked(cairo_image_surface_create_from_png_stream(readBytes, &reader));
    if (!decoded || cairo_image_surface_get_format(decoded.get()) != CAIRO_FORMAT_ARGB32) {
        // Opaque files decode as RGB24; the controls read every picture as ARGB32.
        if (!decoded)
            return nullptr;
        SkinSurface converted = composeOverPanel(decoded.get(), nullptr, 0, 0, surfaceWidth(decoded.get()),
                                                 surfaceHeight(decoded.get()), 1);
        return converted;
    }
    return decoded;
}

SkinSurface composeOverPanel(cairo_surface_t* panel, cairo_surface_t* image, int x, int y, int width, int height,
                             int frames)
{
    if (!panel || width <= 0 || height <= 0 || frames <= 0)
        return nullptr;
    SkinSurface composed = checked(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height * frames));
    if (!composed)
        return nullptr;
    cairo_t* cr = cairo_create(composed.get());
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    for (int frame = 0; frame < frames; ++frame) {
        cairo_set_source_surface(cr, panel, -x, frame * height - y);
        cairo_rectangle(cr, 0, frame * height, width, height);
        cairo_fill(cr);
    }
    if (image) {
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        cairo_set_source_surface(cr, image, 0, 0);
        cairo_paint(cr);
    }
    const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    if (!drawn)
        return nullptr;
    cairo_surface_flush(composed.get());
    return composed;
}

int surfaceWidth(cairo_surface_t* surface)
{
    return surface ? cairo_image_surface_get_width(surface) : 0;
}

int surfaceHeight(cairo_surface_t* surface)
{
    return surface ? cairo_image_surface_get_height(surface) : 0;
}
