// JPEG adapter: JPEG data in memory decoded through libjpeg into RGB pixels.
#pragma once

#include "image/Image.h"

class CJpegImage : public CImage {
public:
    CJpegImage(const uint8_t* data, uint32_t size);
};
