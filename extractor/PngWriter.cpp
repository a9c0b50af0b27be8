// PNG files of extracted textures, encoded in memory through libpng and written whole.
#include "extractor/PngWriter.h"

#include "common/HeapBuffer.h"
#include "extractor/ImageWriters.h"

#include <png.h>

#include <csetjmp>
#include <algorithm>
#include <cstdint>

namespace {

constexpr int kCompressionLevel = 6;
constexpr int kBitDepth = 8;
constexpr uint8_t kOpaque = 255;
// PNG's own limit on a side; libpng's default limits are lower.
constexpr png_uint_32 kLargestSide = 0x7FFFFFFF;

[[noreturn]] void StopEncoding(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

// Appends the library's output, the block growing by doubling; running out of memory
// stops the encoding.
void AppendToOutput(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<HeapVector<uint8_t>*>(png_get_io_ptr(png));
    if (length > out->capacity() - out->size() &&
        (length > SIZE_MAX - out->size() || !out->Reserve(std::max(out->size() + length, 2 * out->capacity()))))
        png_error(png, "Not enough memory");
    out->Append(data, length);
}

void FlushNothing(png_structp) {}

int ColourType(PngColour colour)
{
    switch (colour) {
    case PngColour::Rgba:
        return PNG_COLOR_TYPE_RGB_ALPHA;
    case PngColour::Palette:
        return PNG_COLOR_TYPE_PALETTE;
    default:
        return PNG_COLOR_TYPE_RGB;
    }
}

size_t PixelBytes(PngColour colour)
{
    return colour == PngColour::Rgba ? 4 : colour == PngColour::Rgb ? 3 : 1;
}

// PLTE from all entries; tRNS up to the last entry that is not opaque, when there is one.
void SetPalette(png_structp png, png_infop info, const RgbaPalette& palette)
{
    png_color colours[kRgbaPaletteEntries];
    png_byte alphas[kRgbaPaletteEntries];
    int alphaCount = 0;
    for (size_t index = 0; index < kRgbaPaletteEntries; ++index) {
        const RgbaColor& entry = palette.entries[index];
        colours[index] = {entry.red, entry.green, entry.blue};
        alphas[index] = entry.alpha;
        if (entry.alpha != kOpaque)
            alphaCount = static_cast<int>(index) + 1;
    }
    png_set_PLTE(png, info, colours, static_cast<int>(kRgbaPaletteEntries));
    if (alphaCount > 0)
        png_set_tRNS(png, info, alphas, alphaCount, nullptr);
}

// Encodes into `out`; false on any library error. Only plain C objects live in this
// frame, since a library error longjmps into it.
bool EncodeRows(const PngPicture& picture, HeapVector<uint8_t>& out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, StopEncoding, IgnoreWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, AppendToOutput, FlushNothing);
    png_set_user_limits(png, kLargestSide, kLargestSide);
    png_set_compression_level(png, kCompressionLevel);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height),
                 kBitDepth, ColourType(picture.colour), PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (picture.colour == PngColour::Palette)
        SetPalette(png, info, *picture.palette);
    png_write_info(png, info);
    const size_t rowBytes = static_cast<size_t>(picture.width) * PixelBytes(picture.colour);
    for (size_t row = 0; row < static_cast<size_t>(picture.height); ++row)
        png_write_row(png, picture.pixels + row * rowBytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WritePng(const std::string& fileName, const PngPicture& picture)
{
    if (picture.width < 1 || picture.height < 1 || !picture.pixels ||
        (picture.colour == PngColour::Palette && !picture.palette))
        return false;
    HeapVector<uint8_t> bytes;
    return EncodeRows(picture, bytes) && WriteWholeFile(fileName, bytes.begin(), bytes.size());
}
