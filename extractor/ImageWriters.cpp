// PCX, TGA and DDS file writers of the extractor.
#include "extractor/ImageWriters.h"

#include "common/ByteWriter.h"
#include "host/FileIO.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr uint8_t kPcxPlanes = 1;
constexpr uint16_t kPcxPaletteInfo = 2;
constexpr uint8_t kPcxRunOfOne = kPcxRunFlag | 1;
constexpr size_t kPcxSlack = 1000;  // header and palette trailer room

constexpr uint8_t kTgaAttributeBits = 8;  // the alpha byte of 32-bit pixels
constexpr size_t kTgaSlack = 500;

bool SidesWithin(int32_t width, int32_t height, int32_t maxSide)
{
    return width >= 1 && height >= 1 && width <= maxSide && height <= maxSide;
}

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// Number of pixels of an image whose sides were found positive.
uint64_t PixelCount(int32_t width, int32_t height)
{
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
}

// A zeroed block of pixels × perPixel + slack bytes, or null when that is too large.
Buffer AllocateOutput(uint64_t pixels, uint64_t perPixel, uint64_t slack)
{
    const uint64_t limit = static_cast<uint64_t>(PTRDIFF_MAX) - slack;
    if (pixels > limit / perPixel)
        return nullptr;
    return Buffer(static_cast<uint8_t*>(std::calloc(pixels * perPixel + slack, 1)));
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
    Buffer buffer = AllocateOutput(pixelCount, bytesPerPixel, kTgaSlack);
    if (!buffer)
        return false;
    uint8_t* out = buffer.get();
    ByteWriter header(out, kTgaHeaderSize);
    header.zeros(2);                      // no identifier, no colour map
    header.u8(kTgaTrueColour);
    header.zeros(9);                      // colour map fields, origin
    header.u16(static_cast<uint32_t>(width));
    header.u16(static_cast<uint32_t>(height));
    header.u8(static_cast<uint32_t>(bytesPerPixel * 8));
    header.u8(withAlpha ? kTgaOriginTop | kTgaAttributeBits : kTgaOriginTop);
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

bool PcxCanHold(int32_t width, int32_t height)
{
    return SidesWithin(width, height, kPcxMaxSide);
}

bool TgaCanHold(int32_t width, int32_t height)
{
    return SidesWithin(width, height, kTgaMaxSide);
}

bool WritePcx(const std::string& fileName, const uint8_t* indices, const uint8_t* palette,
              int32_t width, int32_t height)
{
    if (!PcxCanHold(width, height))
        return false;
    const uint64_t pixelCount = PixelCount(width, height);
    Buffer buffer = AllocateOutput(pixelCount, 2, kPcxSlack);
    if (!buffer)
        return false;
    uint8_t* out = buffer.get();
    ByteWriter header(out, kPcxHeaderSize);
    header.u8(kPcxManufacturer);
    header.u8(kPcxVersion);
    header.u8(kPcxRleEncoding);
    header.u8(kPcxBitsPerPixel);
    header.zeros(4);                      // xmin, ymin
    header.u16(static_cast<uint32_t>(width) - 1u);
    header.u16(static_cast<uint32_t>(height) - 1u);
    // The resolution fields carry the image size.
    header.u16(static_cast<uint32_t>(width));
    header.u16(static_cast<uint32_t>(height));
    header.zeros(49);                     // 16-colour map, reserved byte
    header.u8(kPcxPlanes);
    header.u16(static_cast<uint32_t>(width));
    header.u16(kPcxPaletteInfo);

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
    Buffer buffer = AllocateOutput(bodySize, 1, kDdsFileHeaderSize);
    if (!buffer)
        return false;
    EncodeDdsHeader(header, buffer.get());
    if (bodySize)
        std::memcpy(buffer.get() + kDdsFileHeaderSize, body, bodySize);
    return WriteWholeFile(fileName, buffer.get(), kDdsFileHeaderSize + bodySize);
}
