// The skin's PNG files compiled into the module where the platform has no
// resources of its own (Linux): the build generates the byte arrays from
// resources/*.png. Portable; any thread.
#pragma once

#include <cstddef>

struct EmbeddedImage {
    int id; // the image number of SkinGeometry.h
    const unsigned char* bytes;
    std::size_t size;
};

// The image with that number, or null.
const EmbeddedImage* findEmbeddedImage(int id);
