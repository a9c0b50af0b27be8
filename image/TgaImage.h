// TGA decoder: colour-mapped, true-colour and black-and-white images, plain or run-length.
#pragma once

#include "image/Image.h"

class CTgaImage : public CImage {
public:
    CTgaImage(const uint8_t* data, uint32_t size);
};
