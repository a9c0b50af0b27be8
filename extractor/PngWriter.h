// The extractor's PNG writer: 8-bit RGB, RGBA or palette PNG through libpng. The
// compression level is fixed and no time or text chunk is written, so the same pixels
// give the same bytes on every host.
#pragma once

#include "archive/MipTexture.h"

#include <cstdint>
#include <string>
#include <vector>

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

// The PNG file of the picture in `out`; false (and `out` empty) when a side is not
// positive, a palette picture has no palette, or memory runs out.
bool EncodePng(const PngPicture& picture, std::vector<uint8_t>& out);

// Encodes the picture and writes it as `fileName`, as the other image writers do;
// false when it could not be encoded or written whole.
bool WritePng(const std::string& fileName, const PngPicture& picture);
