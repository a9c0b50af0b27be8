// GIF decoder: the first image of a GIF87a or GIF89a file, read with its own LZW decompressor.
#pragma once

#include "image/Image.h"

class CGifImage : public CImage {
public:
    CGifImage(const uint8_t* data, uint32_t size);
};
