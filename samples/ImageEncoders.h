// Small writers of every image format the builder reads, for the sample generator, the
// fuzz seeds, the benchmarks and the tests. Each takes its layout as parameters, so
// callers can ask for a particular variant (or a deliberately odd one).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A picture in both forms the writers take: RGBA for true colour, indices and an RGB
// palette for the indexed formats. Rows top first; either form may be left empty.
struct SamplePicture {
    int width = 0;
    int height = 0;
    Bytes rgba;     // 4 bytes a pixel
    Bytes indices;  // 1 byte a pixel
    Bytes palette;  // RGB triplets

    SamplePicture() = default;
    SamplePicture(int pictureWidth, int pictureHeight);  // both planes sized, 256 colours
    uint8_t* at(int x, int y) { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    const uint8_t* at(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
};

void AppendU16(Bytes& out, uint32_t value);
void AppendU32(Bytes& out, uint32_t value);
void AppendBytes(Bytes& out, const Bytes& more);

// ---- TGA ----

// The 18-byte header's fields plus the identifier and colour map written behind it.
struct TgaHeader {
    uint8_t colorMapType = 0;
    uint8_t imageType = 2;
    uint16_t mapFirst = 0;
    uint16_t mapLength = 0;
    uint8_t mapEntrySize = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t pixelSize = 24;
    uint8_t descriptor = 0;
    Bytes id;
    Bytes map;  // colour-map bytes as stored
};

// Header, identifier, colour map, then `body` as given.
Bytes TgaFile(const TgaHeader& header, const Bytes& body);

// A colour as TGA stores it in `bits` bits: 8 keeps red as a grey level, 15 and 16 pack
// 5-5-5, 24 is BGR, 32 is BGRA.
Bytes TgaStoredColor(uint8_t bits, const uint8_t* rgba);

// Greedy run-length packets of up to 128 values. With `rowLength` set, no packet
// crosses a multiple of it; otherwise packets run on across rows.
Bytes TgaRunLength(const std::vector<Bytes>& values, size_t rowLength = 0);

struct TgaOptions {
    uint8_t imageType = 2;     // 1 mapped, 2 true colour, 3 grey; +8 run-length
    uint8_t pixelSize = 24;
    uint8_t mapEntrySize = 24;  // for mapped types
    uint8_t descriptor = 0x20;  // origin and interlace bits, as stored
    bool packetsInRows = false;
};

// The picture in the given variant: rows stored in the order the descriptor's origin
// and interlace bits give, mapped types from indices and palette, the rest from RGBA.
Bytes EncodeTga(const SamplePicture& picture, const TgaOptions& options);

// ---- PCX ----

struct PcxOptions {
    uint16_t bytesPerLine = 0;  // 0: the width; more pads every row with zeros
    int maxRun = 63;            // 1: every byte alone, 0xC1 before values with both top bits
};

// 8-bit run-length PCX of the indices, the 256-colour palette behind the marker.
Bytes EncodePcx(const SamplePicture& picture, const PcxOptions& options = {});

// ---- GIF ----

struct LzwOptions {
    bool leadingClear = true;
    bool endCode = true;
    bool clearWhenFull = true;
};

// LZW codes packed least significant bit first; the code width follows the decoder's table.
Bytes LzwEncode(const Bytes& pixels, int minCodeSize, const LzwOptions& options = {});

struct GifLayout {
    std::string version = "GIF89a";
    int width = 4, height = 3;
    Bytes pixels;              // in the order they are transmitted
    int globalSizeBits = 1;    // table of 2^(bits+1) entries; -1 for none
    int localSizeBits = -1;
    Bytes globalTable;         // written as given; a generated ramp when empty
    Bytes localTable;
    bool interlaced = false;
    uint8_t aspect = 0;
    Bytes extensions;          // raw blocks between the table and the image
    Bytes codes;               // LZW data; encoded from `pixels` when empty
    int minCodeSize = 2;
    size_t subBlockSize = 255;
    Bytes after = {0x3B};      // what follows the image data
};

Bytes EncodeGif(const GifLayout& layout);

// The picture's indices with its palette as a 256-entry global table, 8-bit LZW.
Bytes EncodeGifPicture(const SamplePicture& picture, const Bytes& extensions = {});

// The colour table EncodeGif writes when none is given: 3 * count bytes stepping by `step`.
Bytes ColourRamp(int count, int step);

// The graphic control extension with its transparency flag and index.
Bytes GifGraphicControl(bool transparent, uint8_t index);

// ---- PNG (libpng) ----

struct PngLayout {
    int width = 0;
    int height = 0;
    int colourType = 6;  // libpng's PNG_COLOR_TYPE_ values
    int bitDepth = 8;
    bool interlaced = false;
    Bytes palette;       // RGB triplets, for the palette type
    Bytes paletteAlpha;  // tRNS for the palette type
    bool zeroKey = false;  // tRNS making colour 0 transparent, for grey and RGB
};

// `rows` hold one byte a sample (two, most significant first, at depth 16).
Bytes EncodePng(const PngLayout& layout, const std::vector<Bytes>& rows);

// 8-bit RGB or RGBA from the picture's RGBA plane.
Bytes EncodePngRgba(const SamplePicture& picture, bool alpha);

// ---- JPEG (libjpeg) ----

struct JpegLayout {
    int width = 0;
    int height = 0;
    int components = 3;
    int inputSpace = 2;   // libjpeg's J_COLOR_SPACE: 1 grey, 2 RGB, 4 CMYK
    int storedSpace = -1;  // -1: the library's default for the input
    int quality = -1;      // -1: the library's default
    bool progressive = false;
    bool arithmetic = false;
};

// `samples` holds width * height * components bytes.
Bytes EncodeJpeg(const JpegLayout& layout, const Bytes& samples);

// Baseline colour JPEG of the picture's RGB channels.
Bytes EncodeJpegRgb(const SamplePicture& picture, int quality);

// ---- Pictures ----

// A photograph-like picture: smooth colour waves with a little grain, different for each
// seed; no palette.
SamplePicture PhotoPicture(int side, uint32_t seed);

// ---- DDS ----

// The 128-byte header of a one-level compressed surface with the given code.
Bytes DdsHeader(const char* fourCc, uint32_t width, uint32_t height, uint32_t linearSize);

// DXT1 file of the picture (sides multiples of 4): per block the darkest and brightest
// corners of its colour box, each pixel the nearest of the four colours.
Bytes EncodeDdsDxt1(const SamplePicture& picture);
