// PNG adapter: PNG data in memory decoded through libpng into 8-bit RGBA pixels.
#pragma once

#include "image/Image.h"

class CPngImage : public CImage {
public:
    CPngImage(const uint8_t* data, uint32_t size);

    // The library's read cursor into the caller's data; used only while decoding.
    const uint8_t* m_pReadPos = nullptr;
    uint32_t m_ReadLeft = 0;
};
