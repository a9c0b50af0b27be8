// Texture records: layout, bodies and averages of converted images, palette expansion,
// and DXT records made from DDS files.
#include "builder/DdsTexture.h"
#include "builder/MipConvert.h"
#include "builder/MipTexture.h"
#include "image/Image.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// An image as a decoder would leave it; `palette` (RGB triplets, up to 256) makes it
// carry a palette.
std::unique_ptr<CImage> MakeImage(int32_t format, int32_t width, int32_t height, int32_t bpp = 0,
                                  const Bytes& palette = {})
{
    auto image = std::make_unique<CImage>();
    image->m_Format = format;
    image->m_Bpp = bpp;
    image->mfSetSize(width, height);
    if (!palette.empty()) {
        image->m_pPalette = static_cast<uint8_t*>(std::calloc(kRgbaPaletteEntries, 3));
        std::memcpy(image->m_pPalette, palette.data(), palette.size());
    }
    return image;
}

struct Built {
    Bytes record;
    MipTexture header{};
};

// Converts as the builder does: header cleared, then name, size and ownPalette set.
Built Build(const CImage& image, bool ownPalette)
{
    Built built;
    std::strcpy(built.header.name, "wall");
    built.header.width = image.m_Width;
    built.header.height = image.m_Height;
    built.header.ownPalette = ownPalette ? 1 : 0;
    size_t size = 0;
    RecordBuffer record = BuildMipTexture(image, built.header, size, ownPalette);
    if (record)
        built.record.assign(record.get(), record.get() + size);
    return built;
}

Bytes Body(const Bytes& record)
{
    return Bytes(record.begin() + kMipHeaderSize, record.end());
}

void ExpectAverages(const Bytes& record, int32_t red, int32_t green, int32_t blue)
{
    EXPECT_EQ(GetI32(record, kMipAverageRedOffset), red);
    EXPECT_EQ(GetI32(record, kMipAverageGreenOffset), green);
    EXPECT_EQ(GetI32(record, kMipAverageBlueOffset), blue);
}

}  // namespace

TEST(BuildMipTexture, IndexedRecordWithAndWithoutOwnPalette)
{
    for (const bool ownPalette : {true, false}) {
        SCOPED_TRACE(ownPalette);
        auto image = MakeImage(IMG_GIF, 2, 1, 0, {10, 20, 30, 11, 21, 31, 5, 6, 7});
        image->m_pIndices[0] = 0;
        image->m_pIndices[1] = 1;
        const Built built = Build(*image, ownPalette);
        const Bytes& bytes = built.record;

        ASSERT_EQ(bytes.size(), ownPalette ? 1134u : 110u);
        EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data()), "wall");
        EXPECT_EQ(GetI32(bytes, kMipWidthOffset), 2);
        EXPECT_EQ(GetI32(bytes, kMipHeightOffset), 1);
        EXPECT_EQ(GetI32(bytes, kMipDataOffsetOffset), 108);
        EXPECT_EQ(GetI32(bytes, kMipFormatOffset), TEX_INDEXED8);
        EXPECT_EQ(GetI32(bytes, kMipOwnPaletteOffset), ownPalette ? 1 : 0);
        ExpectAverages(bytes, 10, 20, 30);  // 21/2, 41/2, 61/2 rounded down
        EXPECT_EQ(built.header.averageGreen, 20);
        EXPECT_EQ(built.header.format, TEX_INDEXED8);
        for (size_t offset : {size_t{0x2C}, size_t{0x48}, size_t{0x50}, size_t{0x58}, size_t{0x5C}})
            EXPECT_EQ(GetI32(bytes, offset), 0) << offset;

        Bytes expectedBody;
        if (ownPalette) {
            expectedBody = {10, 20, 30, 255, 11, 21, 31, 255, 5, 6, 7, 255};
            for (size_t entry = 3; entry < kRgbaPaletteEntries; ++entry)
                expectedBody.insert(expectedBody.end(), {0, 0, 0, 255});
        }
        expectedBody.insert(expectedBody.end(), {0, 1});
        EXPECT_EQ(Body(bytes), expectedBody);
    }
}

TEST(BuildMipTexture, TrueColourFormatFollowsBitsPerPixel)
{
    const struct {
        int32_t imageFormat;
        int32_t bpp;
        int32_t texFormat;
        Bytes body;
    } cases[] = {
        {IMG_TGA, 32, TEX_RGBA32, {200, 100, 50, 7}},
        {IMG_TGA, 24, TEX_RGB24, {200, 100, 50}},
        {IMG_TGA, 16, TEX_RGB24, {200, 100, 50}},
        {IMG_PNG, 32, TEX_RGBA32, {200, 100, 50, 7}},
        {IMG_PNG, 24, TEX_RGB24, {200, 100, 50}},
        {IMG_JPEG, 24, TEX_RGB24, {200, 100, 50}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "image " << c.imageFormat << " bpp " << c.bpp);
        auto image = MakeImage(c.imageFormat, 1, 1, c.bpp);
        const uint8_t pixel[] = {200, 100, 50, 7};
        std::memcpy(image->m_pPixels, pixel, sizeof pixel);
        const Built built = Build(*image, false);
        ASSERT_EQ(built.record.size(), kMipHeaderSize + c.body.size());
        EXPECT_EQ(GetI32(built.record, kMipFormatOffset), c.texFormat);
        EXPECT_EQ(GetI32(built.record, kMipDataOffsetOffset), 108);
        EXPECT_EQ(GetI32(built.record, kMipOwnPaletteOffset), 0);
        ExpectAverages(built.record, 200, 100, 50);
        EXPECT_EQ(Body(built.record), c.body);
    }
}

TEST(BuildMipTexture, Rgb24BodyKeepsRowOrderAndDropsFourthByte)
{
    auto image = MakeImage(IMG_TGA, 2, 2, 24);
    const uint8_t pixels[] = {1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99, 10, 11, 12, 99};
    std::memcpy(image->m_pPixels, pixels, sizeof pixels);
    const Built built = Build(*image, false);
    ASSERT_EQ(built.record.size(), 120u);
    EXPECT_EQ(Body(built.record), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    ExpectAverages(built.record, 5, 6, 7);  // 22/4, 26/4, 30/4 rounded down
}

TEST(BuildMipTexture, AveragesOfLargeWhiteImagesDoNotWrap)
{
    constexpr int32_t kSide = 4096;
    const size_t pixelCount = size_t{kSide} * kSide;

    auto trueColour = MakeImage(IMG_TGA, kSide, kSide, 32);
    std::memset(trueColour->m_pPixels, 255, pixelCount * 4);
    const Built rgba = Build(*trueColour, false);
    ASSERT_EQ(rgba.record.size(), kMipHeaderSize + pixelCount * 4);
    ExpectAverages(rgba.record, 255, 255, 255);
    trueColour.reset();

    Bytes white(3, 255);
    auto indexed = MakeImage(IMG_PCX, kSide, kSide, 0, white);
    std::memset(indexed->m_pIndices, 0, pixelCount);
    const Built built = Build(*indexed, false);
    ASSERT_EQ(built.record.size(), kMipHeaderSize + pixelCount);
    ExpectAverages(built.record, 255, 255, 255);
}

TEST(BuildMipTexture, AveragesFollowTheImagePaletteEvenWithoutOwnPalette)
{
    auto image = MakeImage(IMG_PCX, 3, 1, 0, {0, 0, 0, 90, 60, 30});
    const uint8_t indices[] = {1, 1, 0};
    std::memcpy(image->m_pIndices, indices, sizeof indices);
    ExpectAverages(Build(*image, false).record, 60, 40, 20);
}

TEST(BuildMipTexture, RefusesWhatCannotBecomeARecord)
{
    auto unknownTag = MakeImage(IMG_NONE, 1, 1, 32);
    auto noPixels = MakeImage(IMG_TGA, 4, 0, 32);
    auto noWidth = MakeImage(IMG_GIF, 0, 3, 0, {1, 2, 3});
    auto noPalette = MakeImage(IMG_PCX, 1, 1);
    auto badTag = MakeImage(7, 1, 1);
    for (const CImage* image : {unknownTag.get(), noPixels.get(), noWidth.get(), noPalette.get(),
                                badTag.get()}) {
        MipTexture header{};
        header.width = 123;
        size_t size = 55;
        EXPECT_FALSE(CanBuildMipTexture(*image));
        EXPECT_FALSE(BuildMipTexture(*image, header, size, true));
        EXPECT_EQ(size, 55u);
        EXPECT_EQ(header.width, 123);
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
        const RgbaPalette* expanded = ExpandPalette(palette.data(), transIndex);
        ASSERT_NE(expanded, nullptr);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(expanded);
        for (size_t index = 0; index < kRgbaPaletteEntries; ++index) {
            EXPECT_EQ(bytes[index * 4 + 0], palette[index * 3 + 0]);
            EXPECT_EQ(bytes[index * 4 + 1], palette[index * 3 + 1]);
            EXPECT_EQ(bytes[index * 4 + 2], palette[index * 3 + 2]);
            EXPECT_EQ(bytes[index * 4 + 3], static_cast<int32_t>(index) == transIndex ? 0 : 255)
                << index;
        }
    }
}

namespace {

// A DDS file: signature, surface header with height, width and pixel format code, body.
Bytes DdsBytes(const char* code, int32_t width, int32_t height, const Bytes& body)
{
    Bytes bytes(kDdsFileHeaderSize, 0);
    std::memcpy(bytes.data(), "DDS ", 4);
    SetI32(bytes, 4, 124);
    SetI32(bytes, 12, height);
    SetI32(bytes, 16, width);
    std::memcpy(bytes.data() + 84, code, 4);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

DdsKind Classify(const Bytes& bytes, DdsSurface& surface)
{
    return ReadDdsSurface(bytes.data(), std::min(bytes.size(), kDdsFileHeaderSize), bytes.size(),
                          surface);
}

// The DXT record of `bytes`, read back through a file as the builder does.
Bytes DxtRecord(const Bytes& bytes, MipTexture& header)
{
    ScratchDir dir;
    WriteFileBytes(dir / "t.dds", bytes);
    std::FILE* file = std::fopen((dir / "t.dds").c_str(), "rb");
    DdsSurface surface;
    EXPECT_EQ(Classify(bytes, surface), DdsKind::Dxt);
    size_t size = 0;
    RecordBuffer record = ReadDxtRecord(file, bytes.size(), surface, header, size);
    std::fclose(file);
    return record ? Bytes(record.get(), record.get() + size) : Bytes{};
}

}  // namespace

TEST(DdsTexture, RecognisesDxtCodesOnly)
{
    const struct {
        const char* code;
        DdsKind kind;
        int32_t format;
    } cases[] = {
        {"DXT1", DdsKind::Dxt, TEX_DXT1},        {"DXT3", DdsKind::Dxt, TEX_DXT3},
        {"DXT5", DdsKind::Dxt, TEX_DXT5},        {"DXT2", DdsKind::UnknownCode, 0},
        {"dxt1", DdsKind::UnknownCode, 0},       {"\0\0\0\0", DdsKind::UnknownCode, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        DdsSurface surface;
        ASSERT_EQ(Classify(DdsBytes(c.code, 64, 32, {}), surface), c.kind);
        if (c.kind == DdsKind::Dxt) {
            EXPECT_EQ(surface.format, c.format);
            EXPECT_STREQ(surface.code, c.code);
            EXPECT_EQ(surface.width, 64);
            EXPECT_EQ(surface.height, 32);
        }
    }
}

TEST(DdsTexture, ShortOrUnsignedFilesAreNotDds)
{
    DdsSurface surface;
    Bytes full = DdsBytes("DXT1", 4, 4, {});
    for (size_t size : {size_t{0}, size_t{3}, size_t{4}, size_t{127}}) {
        const Bytes prefix(full.begin(), full.begin() + static_cast<long>(size));
        EXPECT_EQ(ReadDdsSurface(prefix.data(), prefix.size(), prefix.size(), surface),
                  DdsKind::NotDds)
            << size;
    }
    Bytes unsigned_ = full;
    unsigned_[3] = 'X';
    EXPECT_EQ(Classify(unsigned_, surface), DdsKind::NotDds);
}

TEST(DdsTexture, RecordIsHeaderThenEverythingAfterTheDdsHeader)
{
    MipTexture header{};
    std::strcpy(header.name, "wall_tc");
    const Bytes body = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    const Bytes record = DxtRecord(DdsBytes("DXT5", 8, 4, body), header);
    ASSERT_EQ(record.size(), kMipHeaderSize + body.size());
    EXPECT_STREQ(reinterpret_cast<const char*>(record.data()), "wall_tc");
    EXPECT_EQ(GetI32(record, kMipWidthOffset), 8);
    EXPECT_EQ(GetI32(record, kMipHeightOffset), 4);
    EXPECT_EQ(GetI32(record, kMipFormatOffset), TEX_DXT5);
    EXPECT_EQ(GetI32(record, kMipDataOffsetOffset), 0);
    EXPECT_EQ(GetI32(record, kMipOwnPaletteOffset), 0);
    ExpectAverages(record, 0, 0, 0);
    EXPECT_EQ(Body(record), body);
}

TEST(DdsTexture, FileOfExactlyTheDdsHeaderGivesAnEmptyBody)
{
    MipTexture header{};
    const Bytes record = DxtRecord(DdsBytes("DXT1", 4, 4, {}), header);
    ASSERT_EQ(record.size(), kMipHeaderSize);
    EXPECT_EQ(GetI32(record, kMipFormatOffset), TEX_DXT1);
}
