// PCX decoder: worked examples, header rejections, padded rows, damaged and truncated files.
#include "image/PcxImage.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr size_t kPcxHeaderSize = 128;

struct PcxSpec {
    int16_t xmax = 0;
    int16_t ymax = 0;
    uint8_t manufacturer = 10;
    uint8_t version = 5;
    uint8_t encoding = 1;
    uint8_t bitsPerPixel = 8;
    uint8_t planes = 1;
    uint16_t bytesPerLine = 0;  // 0: width
    Bytes body;
    Bytes palette = Bytes(768, 0);
};

Bytes PcxBytes(const PcxSpec& spec)
{
    Bytes out(kPcxHeaderSize, 0);
    out[0] = spec.manufacturer;
    out[1] = spec.version;
    out[2] = spec.encoding;
    out[3] = spec.bitsPerPixel;
    out[8] = static_cast<uint8_t>(spec.xmax);
    out[9] = static_cast<uint8_t>(static_cast<uint16_t>(spec.xmax) >> 8);
    out[10] = static_cast<uint8_t>(spec.ymax);
    out[11] = static_cast<uint8_t>(static_cast<uint16_t>(spec.ymax) >> 8);
    out[65] = spec.planes;
    const uint16_t bytesPerLine = spec.bytesPerLine ? spec.bytesPerLine : uint16_t(spec.xmax + 1);
    out[66] = static_cast<uint8_t>(bytesPerLine);
    out[67] = static_cast<uint8_t>(bytesPerLine >> 8);
    out.insert(out.end(), spec.body.begin(), spec.body.end());
    out.push_back(12);
    out.insert(out.end(), spec.palette.begin(), spec.palette.end());
    return out;
}

std::unique_ptr<CPcxImage> Decode(const Bytes& bytes)
{
    return std::make_unique<CPcxImage>(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

Bytes Indices(const CImage& image)
{
    return Bytes(image.m_pIndices, image.m_pIndices + size_t(image.m_Width) * image.m_Height);
}

}  // namespace

TEST(PcxImage, ThreeByOneFileDecodesIndicesPaletteAndPixels)
{
    PcxSpec spec;
    spec.xmax = 2;
    spec.body = {0, 0xC1, 200, 7};
    spec.palette[200 * 3] = 1;
    spec.palette[200 * 3 + 1] = 2;
    spec.palette[200 * 3 + 2] = 3;
    const Bytes file = PcxBytes(spec);
    ASSERT_EQ(file.size(), 901u);
    auto image = Decode(file);
    ASSERT_EQ(g_ImageError, IMGERR_NONE);
    EXPECT_EQ(image->m_Format, IMG_PCX);
    EXPECT_EQ(image->m_Width, 3);
    EXPECT_EQ(image->m_Height, 1);
    EXPECT_EQ(image->m_TransIndex, -1);
    EXPECT_EQ(Indices(*image), (Bytes{0, 200, 7}));
    EXPECT_EQ(Bytes(image->m_pPixels + 4, image->m_pPixels + 8), (Bytes{1, 2, 3, 0}));
    EXPECT_EQ(Bytes(image->m_pPalette, image->m_pPalette + 768), spec.palette);
}
