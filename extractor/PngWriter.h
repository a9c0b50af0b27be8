// The extractor's PNG writer: 8-bit RGB, RGBA or palette PNG through libpng. The
// compression level is fixed and no time or text chunk is written, so the same pixels
// give the same bytes on every host.
#pragma once

#include "archive/MipTexture.h"

#include <cstdint>
#include <string>

enum class PngColour {
    Rgb,      // 3 bytes a pixel: R, G, B
    Rgba,     // 4 bytes a pixel: R, G, B, A
    Palette,  // 1 byte a pixel, an index into `palette`
};

// Pixels to write, rows top first without padding.
struct PngPicture {
    int32_t width = 0;
    int32_t height = 0;
    PngColour colour = PngColour::Rgb;
    const uint8_t* pixels = nullptr;
    // For PngColour::Palette: all 256 entries go to PLTE; their alphas go to tRNS, up to
    // the last one below 255, when any is below 255.
    const RgbaPalette* palette = nullptr;
};

// Encodes the picture and writes it as `fileName`, as the other image writers do;
// false when a side is not positive, a palette picture has no palette, memory runs out,
// or the file could not be written whole.
bool WritePng(const std::string& fileName, const PngPicture& picture);
