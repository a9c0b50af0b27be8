// Texture record conversion: record layout, body copy and average colour.
#include "builder/MipConvert.h"

#include "image/Image.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr uint8_t kOpaque = 255;
constexpr uint8_t kTransparent = 0;
constexpr int32_t kBppWithAlpha = 32;   // true-colour images whose fourth byte is alpha

RgbaPalette g_ExpandedPalette;

bool IsIndexed(int32_t imageFormat)
{
    return imageFormat == IMG_PCX || imageFormat == IMG_GIF;
}

bool IsTrueColour(int32_t imageFormat)
{
    return imageFormat == IMG_TGA || imageFormat == IMG_JPEG || imageFormat == IMG_PNG;
}

// Channel sums over all pixels; 64 bits, so no image size can wrap them.
struct ColourSums {
    uint64_t red = 0, green = 0, blue = 0;
};

// Pixels summed in 32 bits before they join the 64-bit totals: 255 * 2^24 < 2^32, so
// a block's sums are exact, and the narrow loop vectorises.
constexpr size_t kSumBlock = size_t{1} << 24;

// Adds up the first three bytes of `count` RGBA pixels.
void SumRgba(const uint8_t* pixels, size_t count, ColourSums& sums)
{
    while (count > 0) {
        const size_t block = std::min(count, kSumBlock);
        uint32_t red = 0, green = 0, blue = 0;
        for (size_t pixel = 0; pixel < block; ++pixel) {
            const uint8_t* in = pixels + pixel * kRgbaBytes;
            red += in[0];
            green += in[1];
            blue += in[2];
        }
        sums.red += red;
        sums.green += green;
        sums.blue += blue;
        pixels += block * kRgbaBytes;
        count -= block;
    }
}

// Copies the first three bytes of each of `count` RGBA pixels. Every pixel but the last
// is copied whole and its fourth byte overwritten by the next one: one word per pixel.
void CopyRgb(const uint8_t* pixels, size_t count, uint8_t* rgbOut)
{
    if (count == 0)
        return;
    for (size_t pixel = 0; pixel + 1 < count; ++pixel)
        std::memcpy(rgbOut + pixel * kRgbBytes, pixels + pixel * kRgbaBytes, kRgbaBytes);
    std::memcpy(rgbOut + (count - 1) * kRgbBytes, pixels + (count - 1) * kRgbaBytes, kRgbBytes);
}

}  // namespace

RecordBuffer AllocateRecord(uint64_t size)
{
    if (size > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        return nullptr;
    return AllocateBytes(static_cast<size_t>(size));
}

RgbaPalette* ExpandPalette(const uint8_t* palette, int32_t transIndex)
{
    if (!palette)
        return nullptr;
    for (size_t index = 0; index < kRgbaPaletteEntries; ++index) {
        const uint8_t* rgb = palette + index * kRgbBytes;
        RgbaColor& entry = g_ExpandedPalette.entries[index];
        entry.red = rgb[0];
        entry.green = rgb[1];
        entry.blue = rgb[2];
        entry.alpha = static_cast<int32_t>(index) == transIndex ? kTransparent : kOpaque;
    }
    return &g_ExpandedPalette;
}

bool UsesOtherColours(const CImage& image, const RgbaPalette& palette)
{
    if (!image.m_pPalette || !image.m_pIndices || image.m_Width <= 0 || image.m_Height <= 0)
        return false;
    bool used[kRgbaPaletteEntries] = {};
    const size_t pixelCount = static_cast<size_t>(image.m_Width) * static_cast<size_t>(image.m_Height);
    for (size_t pixel = 0; pixel < pixelCount; ++pixel)
        used[image.m_pIndices[pixel]] = true;
    for (size_t index = 0; index < kRgbaPaletteEntries; ++index) {
        const uint8_t* own = image.m_pPalette + index * kRgbBytes;
        const RgbaColor& shared = palette.entries[index];
        if (used[index] && (own[0] != shared.red || own[1] != shared.green || own[2] != shared.blue))
            return true;
    }
    return false;
}

bool CanBuildMipTexture(const CImage& image)
{
    if (image.m_Width <= 0 || image.m_Height <= 0)
        return false;
    if (IsIndexed(image.m_Format))
        return image.m_pPalette != nullptr && image.m_pIndices != nullptr;
    return IsTrueColour(image.m_Format) && image.m_pPixels != nullptr;
}

RecordBuffer BuildMipTexture(const CImage& image, MipTexture& header, size_t& recordSize,
                             bool ownPalette)
{
    if (!CanBuildMipTexture(image))
        return nullptr;
    const bool indexed = IsIndexed(image.m_Format);
    const int32_t format = indexed ? TEX_INDEXED8 : (image.m_Bpp == kBppWithAlpha ? TEX_RGBA32 : TEX_RGB24);
    const uint64_t pixelCount =
        static_cast<uint64_t>(image.m_Width) * static_cast<uint64_t>(image.m_Height);

    recordSize = 0;
    header.format = format;
    header.dataOffset = static_cast<int32_t>(kMipHeaderSize);
    const RgbaPalette* palette = ExpandPalette(image.m_pPalette, image.m_TransIndex);

    const uint64_t paletteBytes = format == TEX_INDEXED8 && ownPalette ? kRgbaPaletteSize : 0;
    const uint64_t bodySize = pixelCount * static_cast<uint64_t>(BytesPerPixel(format)) + paletteBytes;
    RecordBuffer record = AllocateRecord(kMipHeaderSize + bodySize);
    if (!record)
        return nullptr;

    uint8_t* body = record.get() + kMipHeaderSize;
    ColourSums sums;
    if (format == TEX_INDEXED8) {
        if (ownPalette) {
            std::memcpy(body, palette, kRgbaPaletteSize);
            body += kRgbaPaletteSize;
        }
        std::memcpy(body, image.m_pIndices, static_cast<size_t>(pixelCount));
        for (uint64_t pixel = 0; pixel < pixelCount; ++pixel) {
            const RgbaColor& colour = palette->entries[image.m_pIndices[pixel]];
            sums.red += colour.red;
            sums.green += colour.green;
            sums.blue += colour.blue;
        }
    } else if (format == TEX_RGB24) {
        CopyRgb(image.m_pPixels, static_cast<size_t>(pixelCount), body);
        SumRgba(image.m_pPixels, static_cast<size_t>(pixelCount), sums);
    } else {
        std::memcpy(body, image.m_pPixels, static_cast<size_t>(pixelCount * kRgbaBytes));
        SumRgba(image.m_pPixels, static_cast<size_t>(pixelCount), sums);
    }

    header.averageRed = static_cast<int32_t>(sums.red / pixelCount);
    header.averageGreen = static_cast<int32_t>(sums.green / pixelCount);
    header.averageBlue = static_cast<int32_t>(sums.blue / pixelCount);
    EncodeMipTexture(header, record.get());
    recordSize = static_cast<size_t>(kMipHeaderSize + bodySize);
    return record;
}
