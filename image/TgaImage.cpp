// TGA decoder: image types 1, 2, 3 and their run-length forms 9, 10, 11; 8, 15, 16,
// 24 and 32 bits per pixel; either origin; two- and four-way interlaced rows.
#include "image/TgaImage.h"

#include "common/ByteReader.h"

#include <cstring>

namespace {

constexpr uint32_t kColorMapEntries = 16384;
constexpr uint32_t kMaxColorMapEnd = kColorMapEntries - 2;
constexpr uint8_t kOriginTopFlag = 0x20;
constexpr int kInterlaceShift = 6;
constexpr uint8_t kInterlaceTwoWay = 1;
constexpr uint8_t kInterlaceFourWay = 2;
constexpr uint8_t kPacketRepeatFlag = 0x80;
constexpr uint8_t kPacketCountMask = 0x7F;
constexpr uint64_t kMaxPacketPixels = kPacketCountMask + 1;

enum {
    TGA_MAPPED = 1,
    TGA_TRUECOLOR = 2,
    TGA_GRAY = 3,
    TGA_RLE_MAPPED = 9,
    TGA_RLE_TRUECOLOR = 10,
    TGA_RLE_GRAY = 11,
};

const char kUnknownTypeText[] = "Unknown Targa image type";
const char kBadMapTypeText[] = "Mapped image with bad color map type";
const char kUnknownMapSizeText[] = "Unknown colormap pixel size";
const char kUnknownPixelSizeText[] = "Unknown pixel size";
const char kTooManyColorsText[] = "Too many colors in colormap";
// Data too short for the header, the colour map or the pixels it announces.
const char* const kTruncatedText = kUnknownTypeText;

struct TgaHeader {
    uint8_t idLength;
    uint8_t colorMapType;
    uint8_t imageType;
    uint16_t colorMapFirst;
    uint16_t colorMapLength;
    uint8_t colorMapEntrySize;
    uint16_t xOrigin;
    uint16_t yOrigin;
    uint16_t width;
    uint16_t height;
    uint8_t pixelSize;
    uint8_t descriptor;
};

bool ReadHeader(ByteReader& reader, TgaHeader& header)
{
    header.idLength = reader.u8();
    header.colorMapType = reader.u8();
    header.imageType = reader.u8();
    header.colorMapFirst = reader.u16();
    header.colorMapLength = reader.u16();
    header.colorMapEntrySize = reader.u8();
    header.xOrigin = reader.u16();
    header.yOrigin = reader.u16();
    header.width = reader.u16();
    header.height = reader.u16();
    header.pixelSize = reader.u8();
    header.descriptor = reader.u8();
    return reader.ok();
}

bool IsKnownType(uint8_t type)
{
    return type == TGA_MAPPED || type == TGA_TRUECOLOR || type == TGA_GRAY ||
           type == TGA_RLE_MAPPED || type == TGA_RLE_TRUECOLOR || type == TGA_RLE_GRAY;
}

bool IsKnownValueSize(uint8_t bits)
{
    return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

size_t ValueBytes(uint8_t bits)
{
    return (bits + 7u) / 8u;
}

// 5-bit channels are spread over 0..255 so they match the 24-bit forms.
uint8_t Scale5(unsigned value)
{
    return static_cast<uint8_t>((value << 3) | (value >> 2));
}

struct TgaValue {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 0;
    uint32_t mapIndex = 0;
};

// One pixel or colour-map value of `bits` bits, its bytes in file order.
TgaValue DecodeValue(const uint8_t* bytes, uint8_t bits)
{
    TgaValue value;
    value.alpha = 255;
    switch (bits) {
    case 8:
        value.red = value.green = value.blue = bytes[0];
        value.mapIndex = bytes[0];
        break;
    case 15:
    case 16: {
        const unsigned low = bytes[0];
        const unsigned high = bytes[1];
        value.red = Scale5((high >> 2) & 31);
        value.green = Scale5(((high & 3) << 3) | (low >> 5));
        value.blue = Scale5(low & 31);
        value.mapIndex = high * 256 + low;
        break;
    }
    default:  // 24 and 32: blue, green, red, then alpha for 32
        value.red = bytes[2];
        value.green = bytes[1];
        value.blue = bytes[0];
        if (bits == 32)
            value.alpha = bytes[3];
        break;
    }
    return value;
}

// Working state of one decode: the colour map and the current run-length packet.
class TgaDecoder {
public:
    TgaDecoder(ByteReader& reader, const TgaHeader& header)
        : m_Reader(reader), m_Header(header),
          m_Mapped(header.imageType == TGA_MAPPED || header.imageType == TGA_RLE_MAPPED),
          m_Rle(header.imageType >= TGA_RLE_MAPPED),
          m_PixelBytes(ValueBytes(header.pixelSize))
    {
        std::memset(m_ColorMap, 0, sizeof(m_ColorMap));
    }

    // Reads the stored entries; entries the file does not store stay 0, 0, 0, 0.
    bool ReadColorMap()
    {
        const uint8_t entrySize = m_Header.colorMapEntrySize;
        const size_t entryBytes = ValueBytes(entrySize);
        const uint32_t end = uint32_t{m_Header.colorMapFirst} + m_Header.colorMapLength;
        for (uint32_t index = m_Header.colorMapFirst; index < end; ++index) {
            const uint8_t* bytes = m_Reader.take(entryBytes);
            if (!bytes)
                return false;
            const TgaValue entry = DecodeValue(bytes, entrySize);
            m_ColorMap[index][0] = entry.red;
            m_ColorMap[index][1] = entry.green;
            m_ColorMap[index][2] = entry.blue;
        }
        return true;
    }

    // Whether the bytes left could hold `pixelCount` pixels in this encoding.
    bool CanSupply(uint64_t pixelCount) const
    {
        const uint64_t remaining = m_Reader.remaining();
        const uint64_t most = m_Rle ? remaining / (1 + m_PixelBytes) * kMaxPacketPixels
                                    : remaining / m_PixelBytes;
        return pixelCount <= most;
    }

    // Writes the next pixel's four bytes; false when the data has run out.
    bool ReadPixel(uint8_t* out)
    {
        if (!m_Rle) {
            if (!ReadValue())
                return false;
        } else if (m_RleLeft == 0) {
            const uint8_t packet = m_Reader.u8();
            if (!m_Reader.ok())
                return false;
            m_RleRepeat = (packet & kPacketRepeatFlag) != 0;
            m_RleLeft = packet & kPacketCountMask;
            if (!ReadValue())
                return false;
        } else {
            --m_RleLeft;
            if (!m_RleRepeat && !ReadValue())
                return false;
        }

        if (m_Mapped) {
            static const uint8_t kOutsideMap[4] = {0, 0, 0, 0};
            const uint8_t* entry =
                m_Current.mapIndex < kColorMapEntries ? m_ColorMap[m_Current.mapIndex] : kOutsideMap;
            std::memcpy(out, entry, 4);
        } else {
            out[0] = m_Current.red;
            out[1] = m_Current.green;
            out[2] = m_Current.blue;
            out[3] = m_Current.alpha;
        }
        return true;
    }

private:
    bool ReadValue()
    {
        const uint8_t* bytes = m_Reader.take(m_PixelBytes);
        if (!bytes)
            return false;
        m_Current = DecodeValue(bytes, m_Header.pixelSize);
        return true;
    }

    ByteReader& m_Reader;
    const TgaHeader& m_Header;
    const bool m_Mapped;
    const bool m_Rle;
    const size_t m_PixelBytes;
    uint8_t m_ColorMap[kColorMapEntries][4];
    uint32_t m_RleLeft = 0;
    bool m_RleRepeat = false;
    TgaValue m_Current;
};

// Why the header cannot be decoded, or null when it can.
const char* CheckHeader(const TgaHeader& header)
{
    if (!IsKnownType(header.imageType))
        return kUnknownTypeText;
    const bool mapped = header.imageType == TGA_MAPPED || header.imageType == TGA_RLE_MAPPED;
    if (mapped) {
        if (header.colorMapType != 1)
            return kBadMapTypeText;
        if (!IsKnownValueSize(header.colorMapEntrySize))
            return kUnknownMapSizeText;
        if (!IsKnownValueSize(header.pixelSize))
            return kUnknownPixelSizeText;
    } else {
        if (!IsKnownValueSize(header.pixelSize))
            return kUnknownPixelSizeText;
        if (header.colorMapType != 0 && !IsKnownValueSize(header.colorMapEntrySize))
            return kUnknownMapSizeText;
    }
    if (header.colorMapType != 0 &&
        uint32_t{header.colorMapFirst} + header.colorMapLength > kMaxColorMapEnd)
        return kTooManyColorsText;
    return nullptr;
}

}  // namespace

CTgaImage::CTgaImage(const uint8_t* data, uint32_t size)
{
    m_Format = IMG_TGA;
    ByteReader reader(data, size);
    TgaHeader header;
    if (!ReadHeader(reader, header) || !reader.skip(header.idLength)) {
        SetImageError(IMGERR_BADFORMAT, kTruncatedText);
        return;
    }
    if (const char* complaint = CheckHeader(header)) {
        SetImageError(IMGERR_BADFORMAT, complaint);
        return;
    }
    m_Bpp = header.pixelSize;

    TgaDecoder decoder(reader, header);
    const uint32_t width = header.width;
    const uint32_t height = header.height;
    if ((header.colorMapType != 0 && !decoder.ReadColorMap()) ||
        !decoder.CanSupply(uint64_t{width} * height)) {
        SetImageError(IMGERR_BADFORMAT, kTruncatedText);
        return;
    }
    if (!mfSetSize(static_cast<int32_t>(width), static_cast<int32_t>(height))) {
        SetImageError(IMGERR_BADFORMAT, kTruncatedText);
        return;
    }

    // Stored rows go top-down or bottom-up, and with interlace every second or fourth
    // row, pass after pass. Pixels the data never reaches stay cleared.
    const bool topFirst = (header.descriptor & kOriginTopFlag) != 0;
    const uint8_t interlace = header.descriptor >> kInterlaceShift;
    const uint32_t step = interlace == kInterlaceFourWay ? 4 : interlace == kInterlaceTwoWay ? 2 : 1;
    uint32_t trueRow = 0;
    uint32_t baseRow = 0;
    for (uint32_t stored = 0; stored < height && trueRow < height; ++stored) {
        const uint32_t row = topFirst ? trueRow : height - 1 - trueRow;
        uint8_t* out = m_pPixels + static_cast<size_t>(row) * width * 4;
        for (uint32_t x = 0; x < width; ++x) {
            if (!decoder.ReadPixel(out + static_cast<size_t>(x) * 4))
                return;
        }
        trueRow += step;
        if (trueRow >= height)
            trueRow = ++baseRow;
    }
}
