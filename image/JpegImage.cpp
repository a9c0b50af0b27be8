// JPEG adapter: decodes JPEG data held in memory through libjpeg into RGBA pixels.
#include "image/JpegImage.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

namespace {

static_assert(kImageErrorTextSize >= JMSG_LENGTH_MAX, "room for every library message");

constexpr int kCmykComponents = 4;
// Alignment of the library's vector stores.
constexpr uintptr_t kVectorBytes = 32;
constexpr int32_t kRgbBpp = 24;
const char kTextTooLargeForData[] = "JPEG image too large for its data";
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

// Ends the decode: the text becomes the last error, and the decoder's error return
// takes over.
[[noreturn]] void FailWithText(j_common_ptr info, const char* text)
{
    RejectImage(text);
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

[[noreturn]] void ExitOnError(j_common_ptr info)
{
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    FailWithText(info, text);
}

// The library's warnings (a file cut short, damaged data it works around) and trace
// messages go nowhere: the image layer never prints. Warnings are still counted.
void IgnoreMessage(j_common_ptr) {}

void CountWarning(j_common_ptr info, int level)
{
    if (level < 0)
        ++info->err->num_warnings;
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

// One output row of (Adobe-style inverted) CMYK samples to RGBA pixels.
void ConvertCmykRow(const JSAMPLE* samples, uint32_t width, uint8_t* out)
{
    for (uint32_t column = 0; column < width; ++column, out += kRgbaBytes, samples += kCmykComponents) {
        const unsigned black = samples[3];
        for (int channel = 0; channel < 3; ++channel)
            out[channel] = uint8_t(samples[channel] * black / 255);
        out[3] = 0;
    }
}

// Copies RGBA pixels with the fourth byte cleared: the library fills it with 255, the
// adapter's pixels carry 0 there. Whole pixels are masked at a time so the loop vectorises.
void CopyClearingFourthBytes(const uint8_t* from, size_t pixelCount, uint8_t* to)
{
    static const uint8_t kMaskBytes[kRgbaBytes] = {0xFF, 0xFF, 0xFF, 0x00};
    uint32_t mask;
    std::memcpy(&mask, kMaskBytes, sizeof mask);
    for (size_t at = 0; at < pixelCount; ++at, from += kRgbaBytes, to += kRgbaBytes) {
        uint32_t pixel;
        std::memcpy(&pixel, from, sizeof pixel);
        pixel &= mask;
        std::memcpy(to, &pixel, sizeof pixel);
    }
}

bool SizeIsPlausible(const jpeg_decompress_struct& info, uint32_t fileSize)
{
    const uint64_t pixelCount = uint64_t(info.image_width) * info.image_height;
    const uint64_t pixelsPerByte = info.arith_code ? kMaxPixelsPerArithmeticByte : kMaxPixelsPerHuffmanByte;
    return pixelCount <= uint64_t(fileSize) * pixelsPerByte;
}

// Decodes into `image`; false, with the last error set, after a library error.
// Only plain C objects live in this frame, since the error exit longjmps into it.
bool DecodeJpeg(CImage& image, const uint8_t* data, uint32_t size)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = ExitOnError;
    errors.standard.output_message = IgnoreMessage;
    errors.standard.emit_message = CountWarning;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    InstallMemorySource(&info, data, size);
    jpeg_read_header(&info, TRUE);

    const j_common_ptr common = reinterpret_cast<j_common_ptr>(&info);
    if (!SizeIsPlausible(info, size))
        FailWithText(common, kTextTooLargeForData);
    // The library turns grey and colour into RGBA itself; CMYK and YCCK come out as CMYK.
    const bool isCmyk = info.out_color_space == JCS_CMYK;
    if (info.out_color_space == JCS_GRAYSCALE || info.out_color_space == JCS_RGB)
        info.out_color_space = JCS_EXT_RGBA;
    else if (!isCmyk)
        ERREXIT(&info, JERR_CONVERSION_NOTIMPL);

    // The planes are sized before the library allocates its own buffers for the image,
    // so a size over the plane cap costs nothing.
    jpeg_calc_output_dimensions(&info);
    if (!image.mfSetSize(int32_t(info.output_width), int32_t(info.output_height)))
        FailWithText(common, kImageTooLargeText);
    jpeg_start_decompress(&info);
    const size_t outRowBytes = size_t(info.output_width) * kRgbaBytes;
    if (isCmyk) {
        JSAMPARRAY row = (*info.mem->alloc_sarray)(common, JPOOL_IMAGE,
                                                   info.output_width * JDIMENSION(kCmykComponents), 1);
        while (info.output_scanline < info.output_height) {
            uint8_t* out = image.m_pPixels + size_t(info.output_scanline) * outRowBytes;
            if (jpeg_read_scanlines(&info, row, 1) != 1)
                ERREXIT(&info, JERR_INPUT_EMPTY);
            ConvertCmykRow(row[0], info.output_width, out);
        }
    } else {
        // The library stores rows that start on a vector boundary past the cache, so rows
        // decoded straight into the plane would have to come back from memory for the
        // fourth-byte pass. A cached scratch band placed off that boundary avoids this and
        // takes as many rows per call as the library produces at once.
        const int rowsPerCall = info.rec_outbuf_height > 0 ? info.rec_outbuf_height : 1;
        JSAMPARRAY rows = static_cast<JSAMPARRAY>(
            (*info.mem->alloc_small)(common, JPOOL_IMAGE, sizeof(JSAMPROW) * size_t(rowsPerCall)));
        auto* band = static_cast<uint8_t*>((*info.mem->alloc_large)(
            common, JPOOL_IMAGE, outRowBytes * size_t(rowsPerCall) + kVectorBytes + kRgbaBytes));
        band += kVectorBytes - reinterpret_cast<uintptr_t>(band) % kVectorBytes + kRgbaBytes;
        for (int row = 0; row < rowsPerCall; ++row)
            rows[row] = band + size_t(row) * outRowBytes;
        while (info.output_scanline < info.output_height) {
            const JDIMENSION first = info.output_scanline;
            const JDIMENSION wanted = std::min(JDIMENSION(rowsPerCall), info.output_height - first);
            const JDIMENSION read = jpeg_read_scanlines(&info, rows, wanted);
            if (read == 0)
                ERREXIT(&info, JERR_INPUT_EMPTY);
            CopyClearingFourthBytes(band, size_t(read) * info.output_width,
                                    image.m_pPixels + size_t(first) * outRowBytes);
        }
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
    DecodeJpeg(*this, data, size);
}
