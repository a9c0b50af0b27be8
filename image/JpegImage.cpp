// JPEG adapter: decodes JPEG data held in memory through libjpeg into RGB pixels.
#include "image/JpegImage.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

namespace {

constexpr size_t kMessageSize = 256;
static_assert(kMessageSize >= JMSG_LENGTH_MAX, "room for every library message");

// The text of the library error that ended the last failed decode.
char g_JpegMessage[kMessageSize];

constexpr int kRgbaBytes = 4;
constexpr int32_t kRgbBpp = 24;
constexpr uint64_t kMaxPlaneBytes = uint64_t(1) << 30;
// Huffman-coded data spends at least one bit on every 8x8 block of each component;
// allowing for subsampled layouts, no byte can stand for more than 2048 pixels.
constexpr uint64_t kMaxPixelsPerHuffmanByte = 2048;
// The arithmetic coder can spend far less than a bit on a block, so no tight bound
// exists; this one admits flat pictures and keeps a file of a few hundred bytes from
// claiming a picture of a hundred million pixels.
constexpr uint64_t kMaxPixelsPerArithmeticByte = 65536;

// Handed to the library once the buffer is used up, so that it ends the image.
const JOCTET kFakeEndOfImage[] = {0xFF, JPEG_EOI};

struct ErrorManager {
    jpeg_error_mgr standard;  // first, so the library's pointer is also ours
    jmp_buf jump;
};

[[noreturn]] void FailWithText(j_common_ptr info, const char* text)
{
    std::snprintf(g_JpegMessage, sizeof g_JpegMessage, "%s", text);
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

[[noreturn]] void ExitOnError(j_common_ptr info)
{
    char text[kMessageSize];
    (*info->err->format_message)(info, text);
    FailWithText(info, text);
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr info)
{
    WARNMS(info, JWRN_JPEG_EOF);
    info->src->next_input_byte = kFakeEndOfImage;
    info->src->bytes_in_buffer = sizeof kFakeEndOfImage;
    return TRUE;
}

void SkipInput(j_decompress_ptr info, long count)
{
    if (count <= 0)
        return;
    jpeg_source_mgr* source = info->src;
    const size_t skipped = size_t(count) < source->bytes_in_buffer ? size_t(count) : source->bytes_in_buffer;
    source->next_input_byte += skipped;
    source->bytes_in_buffer -= skipped;
}

// Lets the library see the whole buffer at once; the record lives in the permanent
// pool, so destroying the decompression object frees it.
void InstallMemorySource(j_decompress_ptr info, const uint8_t* data, uint32_t size)
{
    if (!info->src)
        info->src = static_cast<jpeg_source_mgr*>(
            (*info->mem->alloc_small)(reinterpret_cast<j_common_ptr>(info), JPOOL_PERMANENT, sizeof(jpeg_source_mgr)));
    jpeg_source_mgr* source = info->src;
    source->init_source = InitSource;
    source->fill_input_buffer = FillInput;
    source->skip_input_data = SkipInput;
    source->resync_to_restart = jpeg_resync_to_restart;
    source->term_source = TermSource;
    source->next_input_byte = data;
    source->bytes_in_buffer = size;
}

// One output row of grey, RGB or (Adobe-style inverted) CMYK samples to RGBA pixels.
void ConvertRow(const JSAMPLE* samples, int components, uint32_t width, uint8_t* out)
{
    for (uint32_t column = 0; column < width; ++column, out += kRgbaBytes, samples += components) {
        switch (components) {
        case 1:
            out[0] = out[1] = out[2] = samples[0];
            break;
        case 3:
            std::memcpy(out, samples, 3);
            break;
        default: {
            const unsigned black = samples[3];
            for (int channel = 0; channel < 3; ++channel)
                out[channel] = uint8_t(samples[channel] * black / 255);
            break;
        }
        }
        out[3] = 0;
    }
}

bool SizeIsPlausible(const jpeg_decompress_struct& info, uint32_t fileSize)
{
    const uint64_t pixelCount = uint64_t(info.image_width) * info.image_height;
    if (pixelCount * kRgbaBytes > kMaxPlaneBytes)
        return false;
    const uint64_t pixelsPerByte = info.arith_code ? kMaxPixelsPerArithmeticByte : kMaxPixelsPerHuffmanByte;
    return pixelCount <= uint64_t(fileSize) * pixelsPerByte;
}

// Decodes into `image`; false after a library error, with the text in g_JpegMessage.
// Only plain C objects live in this frame, since the error exit longjmps into it.
bool DecodeJpeg(CImage& image, const uint8_t* data, uint32_t size)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = ExitOnError;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    InstallMemorySource(&info, data, size);
    jpeg_read_header(&info, TRUE);

    const j_common_ptr common = reinterpret_cast<j_common_ptr>(&info);
    if (!SizeIsPlausible(info, size))
        FailWithText(common, "JPEG image too large for its data");
    // Grey and colour come out as 1 and 3 components, CMYK and YCCK as 4 (CMYK).
    if (info.out_color_space != JCS_GRAYSCALE && info.out_color_space != JCS_RGB &&
        info.out_color_space != JCS_CMYK)
        ERREXIT(&info, JERR_CONVERSION_NOTIMPL);

    jpeg_start_decompress(&info);
    if (!image.mfSetSize(int32_t(info.output_width), int32_t(info.output_height)))
        ERREXIT1(&info, JERR_OUT_OF_MEMORY, 0);
    JSAMPARRAY row = (*info.mem->alloc_sarray)(common, JPOOL_IMAGE,
                                               info.output_width * JDIMENSION(info.output_components), 1);
    const size_t outRowBytes = size_t(info.output_width) * kRgbaBytes;
    while (info.output_scanline < info.output_height) {
        uint8_t* out = image.m_pPixels + size_t(info.output_scanline) * outRowBytes;
        if (jpeg_read_scanlines(&info, row, 1) != 1)
            ERREXIT(&info, JERR_INPUT_EMPTY);
        ConvertRow(row[0], info.output_components, info.output_width, out);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

CJpegImage::CJpegImage(const uint8_t* data, uint32_t size)
{
    m_Format = IMG_JPEG;
    m_Bpp = kRgbBpp;
    if (!DecodeJpeg(*this, data, size))
        SetImageError(IMGERR_BADFORMAT, g_JpegMessage);
}
