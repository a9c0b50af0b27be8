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

constexpr uint8_t kPcxManufacturer = 10;
constexpr uint8_t kPcxVersion = 5;
constexpr uint8_t kPcxRleEncoding = 1;
constexpr uint8_t kPcxBitsPerPixel = 8;
constexpr uint8_t kPcxPlanes = 1;
constexpr uint16_t kPcxPaletteInfo = 2;
constexpr uint8_t kPcxRunFlag = 0xC0;       // top two bits mark a run count
constexpr uint8_t kPcxRunOfOne = 0xC1;
constexpr uint8_t kPcxPaletteMarker = 12;
constexpr size_t kPcxSlack = 1000;          // header and palette trailer room

constexpr uint8_t kTgaTrueColour = 2;
constexpr uint8_t kTga24Descriptor = 0x20;  // origin top left, no attribute bits
constexpr uint8_t kTga32Descriptor = 0x28;  // origin top left, 8 attribute bits
constexpr size_t kTgaSlack = 500;

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// Number of pixels of a width × height image; 0 when either is not positive.
uint64_t PixelCount(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return 0;
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
    header.u8(withAlpha ? kTga32Descriptor : kTga24Descriptor);
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
