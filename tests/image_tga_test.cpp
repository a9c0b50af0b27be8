// TGA decoder: worked examples, every rejection, every variant from a small writer,
// and damaged or truncated files.
#include "image/TgaImage.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct TgaSpec {
    uint8_t colorMapType = 0;
    uint8_t imageType = 2;
    uint16_t mapFirst = 0;
    uint16_t mapLength = 0;
    uint8_t mapEntrySize = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t pixelSize = 24;
    uint8_t descriptor = 0;
    Bytes id;
    Bytes map;   // colour-map bytes as stored
    Bytes body;  // pixel data as stored
};

Bytes TgaBytes(const TgaSpec& spec)
{
    Bytes out = {static_cast<uint8_t>(spec.id.size()), spec.colorMapType, spec.imageType,
                 static_cast<uint8_t>(spec.mapFirst), static_cast<uint8_t>(spec.mapFirst >> 8),
                 static_cast<uint8_t>(spec.mapLength), static_cast<uint8_t>(spec.mapLength >> 8),
                 spec.mapEntrySize, 0, 0, 0, 0,
                 static_cast<uint8_t>(spec.width), static_cast<uint8_t>(spec.width >> 8),
                 static_cast<uint8_t>(spec.height), static_cast<uint8_t>(spec.height >> 8),
                 spec.pixelSize, spec.descriptor};
    out.insert(out.end(), spec.id.begin(), spec.id.end());
    out.insert(out.end(), spec.map.begin(), spec.map.end());
    out.insert(out.end(), spec.body.begin(), spec.body.end());
    return out;
}

std::unique_ptr<CTgaImage> Decode(const Bytes& bytes)
{
    return std::make_unique<CTgaImage>(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

Bytes Pixels(const CImage& image)
{
    return Bytes(image.m_pPixels, image.m_pPixels + size_t(image.m_Width) * image.m_Height * 4);
}

TgaSpec TwoByTwo(uint8_t descriptor)
{
    TgaSpec spec;
    spec.width = 2;
    spec.height = 2;
    spec.descriptor = descriptor;
    spec.body = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    return spec;
}

}  // namespace

TEST(TgaImage, BottomUpTwoByTwoPutsLastStoredRowOnTop)
{
    auto image = Decode(TgaBytes(TwoByTwo(0)));
    ASSERT_EQ(g_ImageError, IMGERR_NONE);
    EXPECT_EQ(image->m_Format, IMG_TGA);
    EXPECT_EQ(image->m_Bpp, 24);
    EXPECT_EQ(image->m_Width, 2);
    EXPECT_EQ(image->m_Height, 2);
    EXPECT_EQ(image->m_pPalette, nullptr);
    EXPECT_EQ(image->m_TransIndex, -1);
    EXPECT_EQ(Pixels(*image), (Bytes{9, 8, 7, 255, 12, 11, 10, 255, 3, 2, 1, 255, 6, 5, 4, 255}));

    auto topDown = Decode(TgaBytes(TwoByTwo(0x20)));
    EXPECT_EQ(Pixels(*topDown), (Bytes{3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}));
}

TEST(TgaImage, RunLengthPacketsRepeatAndCopy)
{
    TgaSpec repeat;
    repeat.imageType = 10;
    repeat.pixelSize = 32;
    repeat.width = 4;
    repeat.height = 1;
    repeat.body = {0x83, 10, 20, 30, 40};
    auto image = Decode(TgaBytes(repeat));
    ASSERT_EQ(g_ImageError, IMGERR_NONE);
    EXPECT_EQ(Pixels(*image), (Bytes{30, 20, 10, 40, 30, 20, 10, 40, 30, 20, 10, 40, 30, 20, 10, 40}));

    TgaSpec raw;
    raw.imageType = 10;
    raw.width = 3;
    raw.height = 1;
    raw.descriptor = 0x20;
    raw.body = {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    image = Decode(TgaBytes(raw));
    ASSERT_EQ(g_ImageError, IMGERR_NONE);
    EXPECT_EQ(Pixels(*image), (Bytes{3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255}));
}

TEST(TgaImage, ColorMappedPixelsTakeMapEntriesWithZeroFourthByte)
{
    TgaSpec spec;
    spec.imageType = 1;
    spec.colorMapType = 1;
    spec.mapLength = 2;
    spec.mapEntrySize = 24;
    spec.pixelSize = 8;
    spec.width = 2;
    spec.height = 1;
    spec.descriptor = 0x20;
    spec.map = {0, 0, 255, 0, 255, 0};
    spec.body = {1, 0};
    auto image = Decode(TgaBytes(spec));
    ASSERT_EQ(g_ImageError, IMGERR_NONE);
    EXPECT_EQ(Pixels(*image), (Bytes{0, 255, 0, 0, 255, 0, 0, 0}));
}

TEST(TgaImage, RejectionTexts)
{
    struct Case {
        const char* name;
        uint8_t imageType;
        uint8_t colorMapType;
        uint8_t mapEntrySize;
        uint8_t pixelSize;
        uint16_t mapFirst;
        uint16_t mapLength;
        const char* text;
    };
    const Case cases[] = {
        {"type 4", 4, 0, 0, 24, 0, 0, "Unknown Targa image type"},
        {"type 0", 0, 0, 0, 24, 0, 0, "Unknown Targa image type"},
        {"mapped, map type 0", 1, 0, 24, 8, 0, 0, "Mapped image with bad color map type"},
        {"rle mapped, map type 2", 9, 2, 24, 8, 0, 0, "Mapped image with bad color map type"},
        {"mapped, entry size 12", 1, 1, 12, 8, 0, 0, "Unknown colormap pixel size"},
        {"mapped, pixel size 12", 1, 1, 24, 12, 0, 0, "Unknown pixel size"},
        {"true-colour, pixel size 12", 2, 0, 0, 12, 0, 0, "Unknown pixel size"},
        {"grey, pixel size 0", 11, 0, 0, 0, 0, 0, "Unknown pixel size"},
        {"true-colour, map entry size 7", 2, 1, 7, 24, 0, 0, "Unknown colormap pixel size"},
        {"map end 16383", 1, 1, 24, 8, 16000, 383, "Too many colors in colormap"},
        {"map on true-colour too large", 2, 1, 24, 24, 0, 16383, "Too many colors in colormap"},
    };
    for (const Case& c : cases) {
        TgaSpec spec;
        spec.imageType = c.imageType;
        spec.colorMapType = c.colorMapType;
        spec.mapEntrySize = c.mapEntrySize;
        spec.pixelSize = c.pixelSize;
        spec.mapFirst = c.mapFirst;
        spec.mapLength = c.mapLength;
        Decode(TgaBytes(spec));
        EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT) << c.name;
        EXPECT_STREQ(g_ImageErrorText, c.text) << c.name;
    }
}
