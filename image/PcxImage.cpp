// PCX decoder: version 5, 8 bits per pixel in one plane, run-length rows, and the
// 256-colour palette in the file's last 768 bytes.
#include "image/PcxImage.h"

#include "common/ByteReader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kHeaderSize = 128;
constexpr uint8_t kManufacturer = 10;
constexpr uint8_t kVersion = 5;
constexpr uint8_t kEncodingRle = 1;
constexpr uint8_t kBitsPerPixel = 8;
constexpr size_t kXmaxOffset = 8;
constexpr size_t kPlanesOffset = 65;
constexpr int32_t kMaxWidth = 640;
constexpr int32_t kMaxHeight = 480;

// A byte with both top bits set starts a run: its low six bits count, the next byte
// is the value. Any other byte is a single value.
constexpr uint8_t kRunMarker = 0xC0;
constexpr uint8_t kRunLengthMask = 0x3F;
constexpr uint64_t kMaxRunPixels = kRunLengthMask;  // the most a two-byte run gives

const char kNotPcxText[] = "not a PCX file";
// The header passed, but the data cannot hold the palette or the rows it announces.
const char kTruncatedText[] = "truncated PCX file";
const char kNoMemoryText[] = "Not enough memory";

struct PcxHeader {
    uint8_t manufacturer;
    uint8_t version;
    uint8_t encoding;
    uint8_t bitsPerPixel;
    int16_t xmax;
    int16_t ymax;
    uint8_t planes;
    uint16_t bytesPerLine;
};

// False when the data is shorter than the header.
bool ReadHeader(const uint8_t* data, uint32_t size, PcxHeader& header)
{
    ByteReader reader(data, size);
    header.manufacturer = reader.u8();
    header.version = reader.u8();
    header.encoding = reader.u8();
    header.bitsPerPixel = reader.u8();
    reader.seek(kXmaxOffset);  // Xmin and Ymin are taken as 0
    header.xmax = static_cast<int16_t>(reader.u16());
    header.ymax = static_cast<int16_t>(reader.u16());
    reader.seek(kPlanesOffset);
    header.planes = reader.u8();
    header.bytesPerLine = reader.u16();
    reader.seek(kHeaderSize);
    return reader.ok();
}

bool IsSupported(const PcxHeader& header)
{
    // Xmax and Ymax with bit 15 set read as negative: no pixels, rejected too.
    return header.manufacturer == kManufacturer && header.version == kVersion &&
           header.encoding == kEncodingRle && header.bitsPerPixel == kBitsPerPixel &&
           header.xmax >= 0 && header.xmax < kMaxWidth && header.ymax >= 0 &&
           header.ymax < kMaxHeight && header.planes <= 1;
}

// The most pixels `count` encoded bytes can produce.
uint64_t MaxEncodedPixels(size_t count)
{
    return static_cast<uint64_t>(count / 2) * kMaxRunPixels + count % 2;
}

}  // namespace

CPcxImage::CPcxImage(const uint8_t* data, uint32_t size)
{
    PcxHeader header;
    if (!ReadHeader(data, size, header) || !IsSupported(header)) {
        SetImageError(IMGERR_BADFORMAT, kNotPcxText);
        return;
    }
    if (size < kHeaderSize + kPaletteSize) {
        SetImageError(IMGERR_BADFORMAT, kTruncatedText);
        return;
    }
    const int32_t width = header.xmax + 1;
    const int32_t height = header.ymax + 1;
    // Rows may carry padding up to the bytes-per-line count; it is decoded and dropped.
    const int32_t rowLength = std::max<int32_t>(width, header.bytesPerLine);

    ByteReader whole(data, size);
    whole.seek(kHeaderSize);
    const size_t bodySize = size - kHeaderSize - kPaletteSize;
    const uint8_t* body = whole.take(bodySize);
    const uint8_t* palette = whole.take(kPaletteSize);
    if (static_cast<uint64_t>(rowLength) * static_cast<uint64_t>(height) >
        MaxEncodedPixels(bodySize)) {
        SetImageError(IMGERR_BADFORMAT, kTruncatedText);
        return;
    }

    m_Format = IMG_PCX;
    m_pPalette = static_cast<uint8_t*>(std::malloc(kPaletteSize));
    // The header allows at most 640 x 480 pixels, so only a lack of memory fails here.
    if (!m_pPalette || !mfSetSize(width, height)) {
        SetImageError(IMGERR_BADFORMAT, kNoMemoryText);
        return;
    }
    std::memcpy(m_pPalette, palette, kPaletteSize);

    // Rows the data never reaches stay as mfSetSize cleared them.
    ByteReader reader(body, bodySize);
    for (int32_t row = 0; row < height; ++row) {
        uint8_t* indices = m_pIndices + static_cast<size_t>(row) * width;
        uint8_t* pixels = m_pPixels + static_cast<size_t>(row) * width * 4;
        int32_t x = 0;
        while (x < rowLength) {
            uint8_t value = reader.u8();
            int32_t runLength = 1;
            if ((value & kRunMarker) == kRunMarker) {
                runLength = value & kRunLengthMask;
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
