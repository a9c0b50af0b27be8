// PNG adapter: decodes PNG data held in memory through libpng into 8-bit RGBA pixels.
#include "image/PngImage.h"

#include "common/HeapBuffer.h"

#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace {

const char kTextNotPng[] = "Not a PNG file";
const char kTextReadError[] = "Read Error";
const char kTextRowSize[] = "Unexpected row size";

constexpr int32_t kBppWithAlpha = 32;
constexpr int32_t kBppWithoutAlpha = 24;
// Deflate turns one compressed byte into at most 1032 bytes.
constexpr uint64_t kMaxInflateRatio = 1032;

// The library's error handler: sets the last error with the library's text and returns
// to the decoder's error return. Data whose signature matched is a PNG file, so its
// failure stops the loader's chain. Nothing is printed.
[[noreturn]] void KeepErrorText(png_structp png, png_const_charp text)
{
    SetImageError(IMGERR_NOMEMORY, text);
    png_longjmp(png, 1);
}

// Warnings (a damaged ancillary chunk, say) do not stop the decode and are not shown.
void IgnoreWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep destination, png_size_t count)
{
    auto* image = static_cast<CPngImage*>(png_get_io_ptr(png));
    if (image->m_ReadLeft < count)
        png_error(png, kTextReadError);
    std::memcpy(destination, image->m_pReadPos, count);
    image->m_pReadPos += count;
    image->m_ReadLeft -= uint32_t(count);
}

// True when the file could hold the pixels its IHDR announces.
bool SizeIsPlausible(png_structp png, png_infop info, uint32_t fileSize)
{
    const uint64_t pixelCount = uint64_t(png_get_image_width(png, info)) * png_get_image_height(png, info);
    const uint64_t bitsPerPixel = uint64_t(png_get_channels(png, info)) * png_get_bit_depth(png, info);
    return pixelCount * bitsPerPixel / 8 <= uint64_t(fileSize) * kMaxInflateRatio;
}

// Decodes the data behind the image's read cursor; false, with the last error set, on
// failure. Only plain C objects live in this frame, since a library error longjmps into it.
bool DecodePng(CPngImage& image, uint32_t fileSize)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, KeepErrorText, IgnoreWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        SetImageError(IMGERR_NOMEMORY, kImageNoMemoryText);
        return false;
    }
    png_bytep* volatile rows = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::free(rows);
        return false;
    }

    png_set_read_fn(png, &image, ReadFromMemory);
    // Every chunk's CRC already guards the compressed bytes; the stream's own checksum
    // over the inflated bytes would cost a further pass over them.
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
    if (!SizeIsPlausible(png, info, fileSize))
        png_error(png, kImageTooLargeText);

    const bool hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) ||
                          ((colourType & PNG_COLOR_MASK_PALETTE) && png_get_valid(png, info, PNG_INFO_tRNS));
    image.m_Bpp = hasAlpha ? kBppWithAlpha : kBppWithoutAlpha;

    png_set_strip_16(png);
    if (colourType & PNG_COLOR_MASK_PALETTE)
        png_set_expand(png);
    if (!(colourType & PNG_COLOR_MASK_COLOR))
        png_set_gray_to_rgb(png);
    if (!(colourType & PNG_COLOR_MASK_ALPHA))
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    if (bitDepth < 8)
        png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    if (!image.mfSetSize(int32_t(width), int32_t(height)))
        png_error(png, kImageTooLargeText);
    rows = AllocateZeroed<png_bytep>(height).release();
    if (!rows)
        png_error(png, kImageNoMemoryText);
    const size_t rowBytes = size_t(width) * kRgbaBytes;
    if (png_get_rowbytes(png, info) != rowBytes)
        png_error(png, kTextRowSize);
    for (png_uint_32 row = 0; row < height; ++row)
        rows[row] = image.m_pPixels + row * rowBytes;
    png_read_image(png, rows);
    png_read_end(png, nullptr);

    png_destroy_read_struct(&png, &info, nullptr);
    std::free(rows);
    return true;
}

}  // namespace

CPngImage::CPngImage(const uint8_t* data, uint32_t size)
{
    // The signature test looks at no more than the bytes there are.
    if (size == 0 || png_sig_cmp(data, 0, size) != 0) {
        SetImageError(IMGERR_BADFORMAT, kTextNotPng);
        return;
    }
    m_ReadLeft = size;
    m_Format = IMG_PNG;
    m_pReadPos = data;
    if (!DecodePng(*this, size)) {
        m_pReadPos = nullptr;
        m_ReadLeft = 0;
    }
}
