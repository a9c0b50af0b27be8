// TGA decoder: image types 1, 2, 3 and their run-length forms 9, 10, 11; 8, 15, 16,
// 24 and 32 bits per pixel; either origin; two- and four-way interlaced rows.
#include "image/TgaImage.h"

#include "common/ByteReader.h"
#include "common/HeapBuffer.h"
#include "image/TgaFormat.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kMaxPacketPixels = kTgaPacketCountMask + 1;

enum {
    TGA_MAPPED = kTgaColourMapped,
    TGA_TRUECOLOR = kTgaTrueColour,
    TGA_GRAY = kTgaGray,
    TGA_RLE_MAPPED = kTgaRleType + kTgaColourMapped,
    TGA_RLE_TRUECOLOR = kTgaRleType + kTgaTrueColour,
    TGA_RLE_GRAY = kTgaRleType + kTgaGray,
};

const char kUnknownTypeText[] = "Unknown Targa image type";
const char kBadMapTypeText[] = "Mapped image with bad color map type";
const char kUnknownMapSizeText[] = "Unknown colormap pixel size";
const char kUnknownPixelSizeText[] = "Unknown pixel size";
const char kTooManyColorsText[] = "Too many colors in colormap";
// Data too short for the header, the colour map or the pixels it announces.
const char kTruncatedText[] = "Truncated Targa file";

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

// How stored values of one size turn into RGBA, fixed once per image so that the
// conversion loops need no per-pixel dispatch.
enum class ValueKind {
    Gray8,          // r = g = b = the byte, opaque
    Rgb555,         // 15 and 16 bits: 5-bit blue, green, red from the low bits up, opaque
    Bgr24,          // blue, green, red, opaque
    Bgra32,         // blue, green, red, alpha
    MapIndex8,      // a colour-map index
    MapIndex16,     // a little-endian colour-map index
    MapFirstEntry,  // 24- and 32-bit values of a mapped image carry no index: entry 0
};

ValueKind KindFor(uint8_t bits, bool mapped)
{
    switch (bits) {
    case 8:
        return mapped ? ValueKind::MapIndex8 : ValueKind::Gray8;
    case 15:
    case 16:
        return mapped ? ValueKind::MapIndex16 : ValueKind::Rgb555;
    case 24:
        return mapped ? ValueKind::MapFirstEntry : ValueKind::Bgr24;
    default:
        return mapped ? ValueKind::MapFirstEntry : ValueKind::Bgra32;
    }
}

using MapEntry = uint8_t[4];

// Turns `count` stored values into RGBA pixels. `colorMap` has kTgaColourMapEntries entries
// for the mapped kinds and may be null for the others.
void ConvertValues(ValueKind kind, const MapEntry* colorMap, const uint8_t* in, size_t count, uint8_t* out)
{
    static const MapEntry kOutsideMap = {0, 0, 0, 0};
    switch (kind) {
    case ValueKind::Gray8:
        for (size_t i = 0; i < count; ++i, out += 4) {
            out[0] = out[1] = out[2] = in[i];
            out[3] = 255;
        }
        break;
    case ValueKind::Rgb555:
        for (size_t i = 0; i < count; ++i, in += 2, out += 4) {
            const unsigned low = in[0];
            const unsigned high = in[1];
            out[0] = Scale5((high >> 2) & 31);
            out[1] = Scale5(((high & 3) << 3) | (low >> 5));
            out[2] = Scale5(low & 31);
            out[3] = 255;
        }
        break;
    case ValueKind::Bgr24:
        for (size_t i = 0; i < count; ++i, in += 3, out += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = 255;
        }
        break;
    case ValueKind::Bgra32:
        for (size_t i = 0; i < count; ++i, in += 4, out += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = in[3];
        }
        break;
    case ValueKind::MapIndex8:
        for (size_t i = 0; i < count; ++i, out += 4)
            std::memcpy(out, colorMap[in[i]], 4);
        break;
    case ValueKind::MapIndex16:
        for (size_t i = 0; i < count; ++i, in += 2, out += 4) {
            const uint32_t index = in[0] | (uint32_t{in[1]} << 8);
            std::memcpy(out, index < kTgaColourMapEntries ? colorMap[index] : kOutsideMap, 4);
        }
        break;
    case ValueKind::MapFirstEntry:
        for (size_t i = 0; i < count; ++i, out += 4)
            std::memcpy(out, colorMap[0], 4);
        break;
    }
}

// Working state of one decode: the colour map and the current run-length packet.
class TgaDecoder {
public:
    TgaDecoder(ByteReader& reader, const TgaFileHeader& header)
        : m_Reader(reader), m_Header(header),
          m_Mapped(header.imageType == TGA_MAPPED || header.imageType == TGA_RLE_MAPPED),
          m_Rle(header.imageType >= TGA_RLE_MAPPED),
          m_PixelBytes(ValueBytes(header.pixelSize)),
          m_Kind(KindFor(header.pixelSize, m_Mapped))
    {
        if (m_Mapped)
            m_ColorMap = AllocateZeroed<MapEntry>(kTgaColourMapEntries);
    }

    // False when a mapped image's colour map could not be allocated.
    bool HasMemory() const { return !m_Mapped || m_ColorMap; }

    // Reads the stored entries of a mapped image; entries the file does not store stay
    // 0, 0, 0, 0, and so does every fourth byte. Other images skip their map's bytes.
    bool ReadColorMap()
    {
        const uint8_t entrySize = m_Header.colourMapEntrySize;
        const size_t length = m_Header.colourMapLength;
        const uint8_t* bytes = m_Reader.take(length * ValueBytes(entrySize));
        if (!bytes || !m_Mapped)
            return bytes != nullptr;
        MapEntry* stored = m_ColorMap.get() + m_Header.colourMapFirst;
        ConvertValues(KindFor(entrySize, false), nullptr, bytes, length, stored[0]);
        for (size_t index = 0; index < length; ++index)
            stored[index][3] = 0;
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

    // Decodes the next stored row of `width` pixels; false when the data runs out, with
    // the pixels before that point written.
    bool ReadRow(uint8_t* out, uint32_t width)
    {
        if (!m_Rle)
            return ReadValues(out, width);
        uint32_t done = 0;
        while (done < width) {
            if (m_RleLeft == 0) {
                const uint8_t packet = m_Reader.u8();
                if (!m_Reader.ok())
                    return false;
                m_RleRepeat = (packet & kTgaPacketRepeatFlag) != 0;
                m_RleLeft = (packet & kTgaPacketCountMask) + 1u;
                if (m_RleRepeat) {
                    const uint8_t* bytes = m_Reader.take(m_PixelBytes);
                    if (!bytes)
                        return false;
                    ConvertValues(m_Kind, m_ColorMap.get(), bytes, 1, m_RunPixel);
                }
            }
            // Packets run on across row ends.
            const uint32_t count = std::min(m_RleLeft, width - done);
            uint8_t* target = out + static_cast<size_t>(done) * 4;
            if (m_RleRepeat) {
                for (uint32_t i = 0; i < count; ++i)
                    std::memcpy(target + static_cast<size_t>(i) * 4, m_RunPixel, 4);
            } else if (!ReadValues(target, count)) {
                return false;
            }
            m_RleLeft -= count;
            done += count;
        }
        return true;
    }

private:
    // Converts the next `count` stored values, or as many as the data still holds.
    bool ReadValues(uint8_t* out, uint32_t count)
    {
        const size_t whole = std::min<size_t>(count, m_Reader.remaining() / m_PixelBytes);
        const uint8_t* bytes = m_Reader.take(whole * m_PixelBytes);
        if (!bytes)
            return false;
        ConvertValues(m_Kind, m_ColorMap.get(), bytes, whole, out);
        return whole == count;
    }

    ByteReader& m_Reader;
    const TgaFileHeader& m_Header;
    const bool m_Mapped;
    const bool m_Rle;
    const size_t m_PixelBytes;
    const ValueKind m_Kind;
    HeapArray<MapEntry> m_ColorMap;  // mapped images only
    uint32_t m_RleLeft = 0;
    bool m_RleRepeat = false;
    uint8_t m_RunPixel[4] = {};
};

// Whether a header of a known image type can be decoded; when not, the last error says why.
bool CheckHeader(const TgaFileHeader& header)
{
    const bool mapped = header.imageType == TGA_MAPPED || header.imageType == TGA_RLE_MAPPED;
    if (mapped) {
        if (header.colourMapType != 1)
            return RejectImage(kBadMapTypeText);
        if (!IsKnownValueSize(header.colourMapEntrySize))
            return RejectImage(kUnknownMapSizeText);
        if (!IsKnownValueSize(header.pixelSize))
            return RejectImage(kUnknownPixelSizeText);
    } else {
        if (!IsKnownValueSize(header.pixelSize))
            return RejectImage(kUnknownPixelSizeText);
        if (header.colourMapType != 0 && !IsKnownValueSize(header.colourMapEntrySize))
            return RejectImage(kUnknownMapSizeText);
    }
    if (header.colourMapType != 0 &&
        uint32_t{header.colourMapFirst} + header.colourMapLength > kTgaMaxColourMapEnd)
        return RejectImage(kTooManyColorsText);
    return true;
}

}  // namespace

CTgaImage::CTgaImage(const uint8_t* data, uint32_t size)
{
    m_Format = IMG_TGA;
    ByteReader reader(data, size);
    TgaFileHeader header;
    const bool headerComplete = ReadTgaHeader(reader, header) && reader.skip(header.idLength);
    // Without a signature, the image type byte is what tells a Targa file from data of
    // another kind; a missing type byte reads as 0, which is no type.
    if (!IsKnownType(header.imageType)) {
        RejectImage(kUnknownTypeText);
        return;
    }
    if (!headerComplete) {
        RejectImage(kTruncatedText);
        return;
    }
    if (!CheckHeader(header))
        return;
    m_Bpp = header.pixelSize;

    TgaDecoder decoder(reader, header);
    if (!decoder.HasMemory()) {
        RejectImage(kImageNoMemoryText);
        return;
    }
    const uint32_t width = header.width;
    const uint32_t height = header.height;
    if ((header.colourMapType != 0 && !decoder.ReadColorMap()) ||
        !decoder.CanSupply(uint64_t{width} * height)) {
        RejectImage(kTruncatedText);
        return;
    }
    if (!mfSetSize(static_cast<int32_t>(width), static_cast<int32_t>(height))) {
        RejectImage(kImageTooLargeText);
        return;
    }

    // Stored rows go top-down or bottom-up, and with interlace every second or fourth
    // row, pass after pass. Pixels the data never reaches stay cleared.
    const bool topFirst = (header.descriptor & kTgaOriginTop) != 0;
    const uint8_t interlace = header.descriptor >> kTgaInterlaceShift;
    const uint32_t step = interlace == kTgaInterlaceFourWay ? 4 : interlace == kTgaInterlaceTwoWay ? 2 : 1;
    uint32_t trueRow = 0;
    uint32_t baseRow = 0;
    for (uint32_t stored = 0; stored < height && trueRow < height; ++stored) {
        const uint32_t row = topFirst ? trueRow : height - 1 - trueRow;
        if (!decoder.ReadRow(m_pPixels + static_cast<size_t>(row) * width * kRgbaBytes, width))
            return;
        trueRow += step;
        if (trueRow >= height)
            trueRow = ++baseRow;
    }
}
