// Texture records: layout, bodies and averages of converted images, palette expansion,
// and DXT records made from DDS files.
#include "builder/DdsTexture.h"
#include "builder/MipConvert.h"
#include "image/Image.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

// An image as a decoder leaves it; a non-empty `palette` (RGB triplets) is copied in.
std::unique_ptr<CImage> MakeImage(int32_t format, int32_t width, int32_t height, int32_t bpp,
                                  const Bytes& pixels, const Bytes& palette = {})
{
    auto image = std::make_unique<CImage>();
    image->m_Format = format;
    image->m_Bpp = bpp;
    image->mfSetSize(width, height);
    uint8_t* plane = palette.empty() ? image->m_pPixels : image->m_pIndices;
    if (!pixels.empty())
        std::memcpy(plane, pixels.data(), pixels.size());
    if (!palette.empty()) {
        image->m_pPalette = static_cast<uint8_t*>(std::calloc(kRgbaPaletteEntries, 3));
        std::memcpy(image->m_pPalette, palette.data(), palette.size());
    }
    return image;
}

// Converts as the builder does: header cleared, then name, size and ownPalette set.
Bytes Build(const CImage& image, bool ownPalette)
{
    MipTexture header{};
    std::strcpy(header.name, "wall");
    header.width = image.m_Width;
    header.height = image.m_Height;
    header.ownPalette = ownPalette ? 1 : 0;
    size_t size = 0;
    RecordBuffer record = BuildMipTexture(image, header, size, ownPalette);
    return record ? Bytes(record.get(), record.get() + size) : Bytes{};
}

Bytes Body(const Bytes& record)
{
    return Bytes(record.begin() + kMipHeaderSize, record.end());
}

void ExpectHeader(const Bytes& record, int32_t format, int32_t dataOffset, int32_t ownPalette,
                  std::vector<int32_t> averages)
{
    ASSERT_GE(record.size(), kMipHeaderSize);
    EXPECT_EQ(GetI32(record, kMipFormatOffset), format);
    EXPECT_EQ(GetI32(record, kMipDataOffsetOffset), dataOffset);
    EXPECT_EQ(GetI32(record, kMipOwnPaletteOffset), ownPalette);
    EXPECT_EQ((std::vector<int32_t>{GetI32(record, kMipAverageRedOffset),
                                    GetI32(record, kMipAverageGreenOffset),
                                    GetI32(record, kMipAverageBlueOffset)}),
              averages);
}

}  // namespace

TEST(BuildMipTexture, IndexedRecordWithAndWithoutOwnPalette)
{
    auto image = MakeImage(IMG_GIF, 2, 1, 0, {0, 1}, {10, 20, 30, 11, 21, 31, 5, 6, 7});
    for (const bool ownPalette : {true, false}) {
        SCOPED_TRACE(ownPalette);
        const Bytes record = Build(*image, ownPalette);
        ASSERT_EQ(record.size(), ownPalette ? 1134u : 110u);
        EXPECT_STREQ(reinterpret_cast<const char*>(record.data()), "wall");
        EXPECT_EQ(GetI32(record, kMipWidthOffset), 2);
        EXPECT_EQ(GetI32(record, kMipHeightOffset), 1);
        // Averages come from the image's palette either way: 21/2, 41/2, 61/2 rounded down.
        ExpectHeader(record, TEX_INDEXED8, 108, ownPalette ? 1 : 0, {10, 20, 30});
        for (size_t reserved : {0x2C, 0x48, 0x50, 0x58, 0x5C})
            EXPECT_EQ(GetI32(record, reserved), 0) << reserved;
        Bytes body;
        if (ownPalette) {
            body = {10, 20, 30, 255, 11, 21, 31, 255, 5, 6, 7, 255};
            for (size_t entry = 3; entry < kRgbaPaletteEntries; ++entry)
                body.insert(body.end(), {0, 0, 0, 255});
        }
        body.insert(body.end(), {0, 1});
        EXPECT_EQ(Body(record), body);
    }
}

TEST(BuildMipTexture, TrueColourFormatFollowsBitsPerPixel)
{
    const struct {
        int32_t imageFormat, bpp, texFormat;
        Bytes body;
    } cases[] = {
        {IMG_TGA, 32, TEX_RGBA32, {200, 100, 50, 7}}, {IMG_TGA, 24, TEX_RGB24, {200, 100, 50}},
        {IMG_TGA, 16, TEX_RGB24, {200, 100, 50}},     {IMG_PNG, 32, TEX_RGBA32, {200, 100, 50, 7}},
        {IMG_JPEG, 24, TEX_RGB24, {200, 100, 50}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "image " << c.imageFormat << " bpp " << c.bpp);
        const Bytes record = Build(*MakeImage(c.imageFormat, 1, 1, c.bpp, {200, 100, 50, 7}), false);
        ASSERT_EQ(record.size(), kMipHeaderSize + c.body.size());
        ExpectHeader(record, c.texFormat, 108, 0, {200, 100, 50});
        EXPECT_EQ(Body(record), c.body);
    }
    // Rows stay in order; averages round down (22/4, 26/4, 30/4).
    const Bytes record = Build(
        *MakeImage(IMG_TGA, 2, 2, 24, {1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99, 10, 11, 12, 99}), false);
    EXPECT_EQ(Body(record), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    ExpectHeader(record, TEX_RGB24, 108, 0, {5, 6, 7});
}

TEST(BuildMipTexture, AveragesOfALargeWhiteImageDoNotWrap)
{
    // 4113 x 4096 white pixels add up to more than 32 bits can hold.
    const struct {
        int32_t width, height, bpp, texFormat;
        size_t bodyBytesPerPixel;
    } cases[] = {{4096, 4096, 32, TEX_RGBA32, 4}, {4113, 4096, 24, TEX_RGB24, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        auto image = MakeImage(IMG_TGA, c.width, c.height, c.bpp, {});
        const size_t pixels = size_t(c.width) * size_t(c.height);
        std::memset(image->m_pPixels, 255, pixels * 4);
        const Bytes record = Build(*image, false);
        ASSERT_EQ(record.size(), kMipHeaderSize + pixels * c.bodyBytesPerPixel);
        ExpectHeader(record, c.texFormat, 108, 0, {255, 255, 255});
    }
}

TEST(BuildMipTexture, RefusesWhatCannotBecomeARecord)
{
    std::unique_ptr<CImage> images[] = {
        MakeImage(IMG_NONE, 1, 1, 32, {}), MakeImage(7, 1, 1, 32, {}),
        MakeImage(IMG_TGA, 4, 0, 32, {}),  MakeImage(IMG_GIF, 0, 3, 0, {}, {1, 2, 3}),
        MakeImage(IMG_PCX, 1, 1, 0, {}),   // indexed, but no palette
    };
    for (const auto& image : images) {
        MipTexture header{};
        size_t size = 55;
        EXPECT_FALSE(CanBuildMipTexture(*image));
        EXPECT_FALSE(BuildMipTexture(*image, header, size, true));
        EXPECT_EQ(size, 55u);
        EXPECT_EQ(header.format, 0);
        EXPECT_EQ(header.dataOffset, 0);
    }
}

TEST(ExpandPalette, TransparentIndexGetsAlphaZero)
{
    Bytes palette(kRgbaPaletteEntries * 3);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(ExpandPalette(nullptr, 0), nullptr);
    for (const int32_t transIndex : {-1, 0, 7, 255, 256}) {
        SCOPED_TRACE(transIndex);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(ExpandPalette(palette.data(), transIndex));
        ASSERT_NE(bytes, nullptr);
        for (size_t index = 0; index < kRgbaPaletteEntries; ++index) {
            const Bytes expected = {palette[index * 3], palette[index * 3 + 1], palette[index * 3 + 2],
                                    static_cast<uint8_t>(static_cast<int32_t>(index) == transIndex ? 0 : 255)};
            ASSERT_EQ(Bytes(bytes + index * 4, bytes + index * 4 + 4), expected) << index;
        }
    }
}

namespace {

Bytes DdsBytes(const char* code, int32_t width, int32_t height, const Bytes& body)
{
    Bytes bytes = DdsHeader(code, uint32_t(width), uint32_t(height), uint32_t(body.size()));
    AppendBytes(bytes, body);
    return bytes;
}

DdsKind Classify(const Bytes& bytes, DdsSurface& surface)
{
    return ReadDdsSurface(bytes.data(), bytes.size(), surface);
}

}  // namespace

TEST(DdsTexture, OnlyFullDdsHeadersWithDxtCodesAreDxt)
{
    Bytes unsigned_ = DdsBytes("DXT1", 4, 4, {});
    unsigned_[3] = 'X';
    const Bytes full = DdsBytes("DXT1", 4, 4, {});
    const struct {
        Bytes bytes;
        DdsKind kind;
        int32_t format;
    } cases[] = {
        {DdsBytes("DXT1", 64, 32, {}), DdsKind::Dxt, TEX_DXT1},
        {DdsBytes("DXT3", 64, 32, {}), DdsKind::Dxt, TEX_DXT3},
        {DdsBytes("DXT5", 64, 32, {}), DdsKind::Dxt, TEX_DXT5},
        {DdsBytes("DXT2", 64, 32, {}), DdsKind::UnknownCode, 0},
        {DdsBytes("dxt1", 64, 32, {}), DdsKind::UnknownCode, 0},
        {Bytes(full.begin(), full.begin() + 127), DdsKind::NotDds, 0},
        {Bytes(full.begin(), full.begin() + 4), DdsKind::NotDds, 0},
        {Bytes{}, DdsKind::NotDds, 0},
        {unsigned_, DdsKind::NotDds, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        DdsSurface surface;
        ASSERT_EQ(Classify(cases[i].bytes, surface), cases[i].kind);
        if (cases[i].kind == DdsKind::Dxt) {
            EXPECT_EQ(surface.format, cases[i].format);
            EXPECT_EQ(surface.width, 64);
            EXPECT_EQ(surface.height, 32);
        }
    }
}

TEST(DdsTexture, RecordIsHeaderThenEverythingAfterTheDdsHeader)
{
    for (const Bytes& body : {Bytes{}, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}}) {
        SCOPED_TRACE(body.size());
        const Bytes dds = DdsBytes("DXT5", 8, 4, body);
        DdsSurface surface;
        ASSERT_EQ(Classify(dds, surface), DdsKind::Dxt);
        MipTexture header{};
        std::strcpy(header.name, "wall_tc");
        size_t size = 0;
        RecordBuffer record = BuildDxtRecord(dds.data(), dds.size(), surface, header, size);
        const Bytes bytes(record.get(), record.get() + size);
        ASSERT_EQ(bytes.size(), kMipHeaderSize + body.size());
        EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data()), "wall_tc");
        EXPECT_EQ(GetI32(bytes, kMipWidthOffset), 8);
        EXPECT_EQ(GetI32(bytes, kMipHeightOffset), 4);
        ExpectHeader(bytes, TEX_DXT5, 0, 0, {0, 0, 0});
        EXPECT_EQ(Body(bytes), body);
    }
}
