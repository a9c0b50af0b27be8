// PCX decoder: version 5, 8 bits per pixel in one plane, run-length rows, and the
// 256-colour palette in the file's last 768 bytes.
#include "image/PcxImage.h"

#include "common/ByteReader.h"
#include "common/HeapBuffer.h"
#include "image/PcxFormat.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kMaxRunPixels = kPcxRunLengthMask;  // the most a two-byte run gives
static_assert(kPcxPaletteSize == kPaletteSize, "the PCX palette is the image's palette");

const char kNotPcxText[] = "not a PCX file";
// The header passed, but the data cannot hold the palette or the rows it announces.
const char kTruncatedText[] = "truncated PCX file";

bool IsSupported(const PcxFileHeader& header)
{
    // Every side the extractor's writer can write is read.
    return header.manufacturer == kPcxManufacturer && header.version == kPcxVersion &&
           header.encoding == kPcxRleEncoding && header.bitsPerPixel == kPcxBitsPerPixel &&
           PcxCanHold(header.xmax + 1, header.ymax + 1) && header.planes <= kPcxPlanes;
}

// The most pixels `count` encoded bytes can produce.
uint64_t MaxEncodedPixels(size_t count)
{
    return static_cast<uint64_t>(count / 2) * kMaxRunPixels + count % 2;
}

}  // namespace

CPcxImage::CPcxImage(const uint8_t* data, uint32_t size)
{
    PcxFileHeader header;
    if (!DecodePcxHeader(data, size, header) || !IsSupported(header)) {
        RejectImage(kNotPcxText);
        return;
    }
    if (size < kPcxHeaderSize + kPcxPaletteSize) {
        RejectImage(kTruncatedText);
        return;
    }
    // Xmin and Ymin are taken as 0.
    const int32_t width = header.xmax + 1;
    const int32_t height = header.ymax + 1;
    // Rows may carry padding up to the bytes-per-line count; it is decoded and dropped.
    const int32_t rowLength = std::max<int32_t>(width, header.bytesPerLine);

    ByteReader whole(data, size);
    whole.seek(kPcxHeaderSize);
    const size_t bodySize = size - kPcxHeaderSize - kPcxPaletteSize;
    const uint8_t* body = whole.take(bodySize);
    const uint8_t* palette = whole.take(kPcxPaletteSize);
    if (static_cast<uint64_t>(rowLength) * static_cast<uint64_t>(height) >
        MaxEncodedPixels(bodySize)) {
        RejectImage(kTruncatedText);
        return;
    }

    m_Format = IMG_PCX;
    m_pPalette = AllocateBytes(kPcxPaletteSize).release();
    if (!m_pPalette) {
        RejectImage(kImageNoMemoryText);
        return;
    }
    // The planes' cap, shared by every decoder, is below what the header allows.
    if (!mfSetSize(width, height)) {
        RejectImage(kImageTooLargeText);
        return;
    }
    std::memcpy(m_pPalette, palette, kPcxPaletteSize);

    // Rows the data never reaches stay as mfSetSize cleared them.
    ByteReader reader(body, bodySize);
    for (int32_t row = 0; row < height; ++row) {
        uint8_t* indices = m_pIndices + static_cast<size_t>(row) * width;
        uint8_t* pixels = m_pPixels + static_cast<size_t>(row) * width * kRgbaBytes;
        int32_t x = 0;
        while (x < rowLength) {
            uint8_t value = reader.u8();
            int32_t runLength = 1;
            if ((value & kPcxRunFlag) == kPcxRunFlag) {
                runLength = value & kPcxRunLengthMask;
                value = reader.u8();
            }
            if (!reader.ok())
                return;
            // A run past the row end is cut there: its surplus is dropped.
            const int32_t runEnd = std::min(rowLength, x + runLength);
            const uint8_t* color = m_pPalette + value * 3;
            for (; x < runEnd; ++x) {
                if (x >= width)
                    continue;
                indices[x] = value;
                pixels[x * 4 + 0] = color[0];
                pixels[x * 4 + 1] = color[1];
                pixels[x * 4 + 2] = color[2];
                pixels[x * 4 + 3] = 0;
            }
        }
    }
}
