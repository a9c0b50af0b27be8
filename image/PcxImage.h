// PCX decoder: 8-bit single-plane run-length images with the 256-colour palette at the end.
#pragma once

#include "image/Image.h"

class CPcxImage : public CImage {
public:
    CPcxImage(const uint8_t* data, uint32_t size);
};
