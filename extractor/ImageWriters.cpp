// PCX, TGA and DDS file writers of the extractor.
#include "extractor/ImageWriters.h"

#include "common/HeapBuffer.h"
#include "host/FileIO.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint16_t kPcxPaletteInfo = 2;
constexpr uint8_t kTgaAlphaBits = 8;  // attribute bits of a 32-bit pixel: its alpha byte
constexpr uint8_t kPcxRunOfOne = kPcxRunFlag | 1;
constexpr size_t kPcxTrailerSize = 1 + kPcxPaletteSize;  // marker and palette
constexpr size_t kPcxMaxBytesPerPixel = 2;                // a run of one and its value

// Number of pixels of an image whose sides were found positive.
uint64_t PixelCount(int32_t width, int32_t height)
{
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
}

// A block of head + pixels × perPixel + tail bytes, or null when that is too large or
// memory runs out.
HeapBytes AllocateOutput(size_t head, uint64_t pixels, uint64_t perPixel, size_t tail)
{
    const uint64_t limit = static_cast<uint64_t>(PTRDIFF_MAX) - head - tail;
    if (pixels > limit / perPixel)
        return nullptr;
    return AllocateBytes(static_cast<size_t>(head + pixels * perPixel + tail));
}

}  // namespace

bool WriteWholeFile(const std::string& fileName, const uint8_t* bytes, size_t size)
{
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes, 1, size, file) == size;
    if (std::fclose(file) == 0 && written)
        return true;
    std::string ignored;
    RemoveFile(fileName, ignored);
    return false;
}

namespace {

bool WriteTga(const uint8_t* pixels, int32_t width, int32_t height, const std::string& fileName,
              bool withAlpha)
{
    if (!TgaCanHold(width, height))
        return false;
    const uint64_t bytesPerPixel = withAlpha ? 4 : 3;
    const uint64_t pixelCount = PixelCount(width, height);
    HeapBytes buffer = AllocateOutput(kTgaHeaderSize, pixelCount, bytesPerPixel, 0);
    if (!buffer)
        return false;
    uint8_t* out = buffer.get();
    TgaFileHeader header;
    header.imageType = kTgaTrueColour;
    header.width = static_cast<uint16_t>(width);
    header.height = static_cast<uint16_t>(height);
    header.pixelSize = static_cast<uint8_t>(bytesPerPixel * 8);
    header.descriptor = withAlpha ? kTgaOriginTop | kTgaAlphaBits : kTgaOriginTop;
    EncodeTgaHeader(header, out);
    size_t used = kTgaHeaderSize;
    for (uint64_t i = 0; i < pixelCount; ++i) {
        const uint8_t* pixel = pixels + i * 4;
        out[used++] = pixel[2];
        out[used++] = pixel[1];
        out[used++] = pixel[0];
        if (withAlpha)
            out[used++] = pixel[3];
    }
    return WriteWholeFile(fileName, out, used);
}

}  // namespace

bool WritePcx(const std::string& fileName, const uint8_t* indices, const uint8_t* palette,
              int32_t width, int32_t height)
{
    if (!PcxCanHold(width, height))
        return false;
    const uint64_t pixelCount = PixelCount(width, height);
    HeapBytes buffer = AllocateOutput(kPcxHeaderSize, pixelCount, kPcxMaxBytesPerPixel, kPcxTrailerSize);
    if (!buffer)
        return false;
    uint8_t* out = buffer.get();
    PcxFileHeader header;
    header.manufacturer = kPcxManufacturer;
    header.version = kPcxVersion;
    header.encoding = kPcxRleEncoding;
    header.bitsPerPixel = kPcxBitsPerPixel;
    header.xmax = static_cast<uint16_t>(width - 1);
    header.ymax = static_cast<uint16_t>(height - 1);
    // The resolution fields carry the image size.
    header.horizontalResolution = static_cast<uint16_t>(width);
    header.verticalResolution = static_cast<uint16_t>(height);
    header.planes = kPcxPlanes;
    header.bytesPerLine = static_cast<uint16_t>(width);
    header.paletteInfo = kPcxPaletteInfo;
    EncodePcxHeader(header, out);

    // Rows follow each other without padding and every run has length one, so the
    // body is the index bytes in order with the run flag in front of the high ones.
    size_t used = kPcxHeaderSize;
    for (uint64_t i = 0; i < pixelCount; ++i) {
        const uint8_t index = indices[i];
        if ((index & kPcxRunFlag) == kPcxRunFlag)
            out[used++] = kPcxRunOfOne;
        out[used++] = index;
    }
    out[used++] = kPcxPaletteMarker;
    std::memcpy(out + used, palette, kPcxPaletteSize);
    used += kPcxPaletteSize;
    return WriteWholeFile(fileName, out, used);
}

bool WriteTga24(const uint8_t* pixels, int32_t width, int32_t height, const std::string& fileName)
{
    return WriteTga(pixels, width, height, fileName, false);
}

bool WriteTga32(const uint8_t* pixels, int32_t width, int32_t height, const std::string& fileName)
{
    return WriteTga(pixels, width, height, fileName, true);
}

bool WriteDds(const std::string& fileName, const DdsSurfaceHeader& header, const uint8_t* body,
              size_t bodySize)
{
    HeapBytes buffer = AllocateOutput(kDdsFileHeaderSize, bodySize, 1, 0);
    if (!buffer)
        return false;
    EncodeDdsHeader(header, buffer.get());
    if (bodySize)
        std::memcpy(buffer.get() + kDdsFileHeaderSize, body, bodySize);
    return WriteWholeFile(fileName, buffer.get(), kDdsFileHeaderSize + bodySize);
}
