// TGA decoder: worked examples, every rejection, every variant from a small writer,
// and damaged or truncated files.
#include "image/TgaImage.h"

#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

// Header fields and the pixel data behind them.
struct TgaFields : TgaHeader {
    Bytes body;
};

Bytes TgaBytes(const TgaFields& fields) { return TgaFile(fields, fields.body); }

std::unique_ptr<CTgaImage> Decode(const Bytes& bytes)
{
    return std::make_unique<CTgaImage>(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

Bytes Pixels(const CImage& image)
{
    return Bytes(image.m_pPixels, image.m_pPixels + size_t(image.m_Width) * image.m_Height * 4);
}

TgaFields TwoByTwo(uint8_t descriptor)
{
    TgaFields fields;
    fields.width = 2;
    fields.height = 2;
    fields.descriptor = descriptor;
    fields.body = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    return fields;
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
}

// Small files worked out by hand, one per decoding rule.
TEST(TgaImage, WorkedExamples)
{
    auto fields = [](uint8_t imageType, uint8_t pixelSize, uint16_t width, uint8_t descriptor, Bytes body) {
        TgaFields made;
        made.imageType = imageType;
        made.pixelSize = pixelSize;
        made.width = width;
        made.height = 1;
        made.descriptor = descriptor;
        made.body = std::move(body);
        return made;
    };
    auto mapped = [](TgaFields made, uint16_t first, uint8_t entrySize, Bytes map) {
        made.colorMapType = 1;
        made.mapFirst = first;
        made.mapLength = static_cast<uint16_t>(map.size() * 8 / entrySize);
        made.mapEntrySize = entrySize;
        made.map = std::move(map);
        return made;
    };
    TgaFields withIdAndMap = TwoByTwo(0x20);
    withIdAndMap.id = ToBytes("made by hand");
    withIdAndMap.colorMapType = 1;
    withIdAndMap.mapLength = 3;
    withIdAndMap.mapEntrySize = 16;
    withIdAndMap.map = Bytes(6, 0xEE);
    const struct {
        const char* name;
        TgaFields fields;
        Bytes pixels;
    } cases[] = {
        {"top-down rows", TwoByTwo(0x20), {3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}},
        {"repeat packet", fields(10, 32, 4, 0, {0x83, 10, 20, 30, 40}),
         {30, 20, 10, 40, 30, 20, 10, 40, 30, 20, 10, 40, 30, 20, 10, 40}},
        {"raw packet", fields(10, 24, 3, 0x20, {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9}),
         {3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255}},
        {"map entries with zero fourth byte", mapped(fields(1, 8, 2, 0x20, {1, 0}), 0, 24, {0, 0, 255, 0, 255, 0}),
         {0, 255, 0, 0, 255, 0, 0, 0}},
        // white; red 1, green 16, blue 0; black with the top bit set
        {"5-bit channels scaled to full range", fields(2, 16, 3, 0, {0xFF, 0x7F, 0x00, 0x06, 0x00, 0x80}),
         {255, 255, 255, 255, 8, 132, 0, 255, 0, 0, 0, 255}},
        // Entries 5 and 6 stored; pixels 4 (below), 6 (inside), 7 (above), 40000 (past the table).
        {"map index outside the stored entries",
         mapped(fields(1, 16, 4, 0, {4, 0, 6, 0, 7, 0, 0x40, 0x9C}), 5, 32, {1, 2, 3, 4, 5, 6, 7, 8}),
         {0, 0, 0, 0, 7, 6, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"identifier and map of a true-colour image skipped", withIdAndMap,
         {3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}},
    };
    for (const auto& c : cases) {
        auto image = Decode(TgaBytes(c.fields));
        ASSERT_EQ(g_ImageError, IMGERR_NONE) << c.name;
        EXPECT_EQ(image->m_Bpp, c.fields.pixelSize) << c.name;
        EXPECT_EQ(Pixels(*image), c.pixels) << c.name;
    }
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
        TgaFields fields;
        fields.imageType = c.imageType;
        fields.colorMapType = c.colorMapType;
        fields.mapEntrySize = c.mapEntrySize;
        fields.pixelSize = c.pixelSize;
        fields.mapFirst = c.mapFirst;
        fields.mapLength = c.mapLength;
        Decode(TgaBytes(fields));
        EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT) << c.name;
        EXPECT_STREQ(g_ImageErrorText, c.text) << c.name;
    }
}

TEST(TgaImage, MapBoundaryAndEmptyImageAreAccepted)
{
    TgaFields largest;
    largest.imageType = 1;
    largest.colorMapType = 1;
    largest.mapFirst = 16000;
    largest.mapLength = 382;
    largest.mapEntrySize = 8;
    largest.pixelSize = 8;
    largest.map = Bytes(382, 0);
    Decode(TgaBytes(largest));
    EXPECT_EQ(g_ImageError, IMGERR_NONE);

    TgaFields empty;
    empty.width = 100;
    auto image = Decode(TgaBytes(empty));
    EXPECT_EQ(g_ImageError, IMGERR_NONE);
    EXPECT_EQ(image->m_Width, 100);
    EXPECT_EQ(image->m_Height, 0);
    EXPECT_NE(image->m_pPixels, nullptr);
}

TEST(TgaImage, HugeHeaderIsRejectedBeforeAllocating)
{
    const struct {
        uint8_t imageType, pixelSize;
        uint16_t side;
        size_t bodySize;
        const char* text;
    } cases[] = {
        {2, 24, 65535, 22, "Truncated Targa file"},
        {10, 24, 65535, 22, "Truncated Targa file"},
        // Run-length data that could fill 20000 x 20000 pixels, whose planes would pass 1 GiB.
        {11, 8, 20000, 6250000, "Image too large"},
    };
    for (const auto& c : cases) {
        TgaFields fields;
        fields.imageType = c.imageType;
        fields.pixelSize = c.pixelSize;
        fields.width = fields.height = c.side;
        fields.body = Bytes(c.bodySize, 0xFF);
        auto image = Decode(TgaBytes(fields));
        EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT);
        EXPECT_STREQ(g_ImageErrorText, c.text);
        EXPECT_EQ(image->m_pPixels, nullptr);
    }
}

TEST(TgaImage, CutHeaderOrColorMapIsRejected)
{
    const Bytes header = TgaBytes(TwoByTwo(0));
    for (size_t length = 0; length < 18; ++length) {
        Decode(Bytes(header.begin(), header.begin() + length));
        EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT) << length;
        // Until the image type byte is there, nothing marks the data as a Targa file.
        EXPECT_STREQ(g_ImageErrorText, length < 3 ? "Unknown Targa image type" : "Truncated Targa file") << length;
    }
    TgaFields cutMap;
    cutMap.imageType = 1;
    cutMap.colorMapType = 1;
    cutMap.mapLength = 4;
    cutMap.mapEntrySize = 24;
    cutMap.pixelSize = 8;
    cutMap.map = Bytes(11, 0);
    Decode(TgaBytes(cutMap));
    EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT);
    EXPECT_STREQ(g_ImageErrorText, "Truncated Targa file");
}

// ---- Files from a small writer, in every variant ----

namespace {

// Channel values that 5-bit storage keeps exactly, so every variant gives the same picture.
const uint8_t kColors[][3] = {{255, 0, 0},     {0, 132, 255}, {66, 66, 66},
                              {255, 255, 255}, {0, 0, 0},     {132, 255, 66}};
constexpr int kColorCount = 6;
constexpr int kWidth = 5;
constexpr int kHeight = 7;

// The first three rows are one colour, so run-length packets run across rows.
int ColorAt(int x, int y) { return y < 3 ? 1 : (x / 2 + y) % kColorCount; }
uint8_t AlphaAt(int x, int y) { return static_cast<uint8_t>(x * 60 + y); }

struct Variant {
    uint8_t imageType;
    uint8_t pixelSize;
    uint8_t mapEntrySize;
};

bool IsMapped(const Variant& v) { return v.imageType == 1 || v.imageType == 9; }

SamplePicture VariantPicture()
{
    SamplePicture picture(kWidth, kHeight);
    picture.palette.clear();
    for (const auto& color : kColors)
        picture.palette.insert(picture.palette.end(), color, color + 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* rgb = kColors[ColorAt(x, y)];
            picture.indices[size_t(y) * kWidth + x] = static_cast<uint8_t>(ColorAt(x, y));
            std::copy(rgb, rgb + 3, picture.at(x, y));
            picture.at(x, y)[3] = AlphaAt(x, y);
        }
    }
    return picture;
}

Bytes WriteVariant(const Variant& v, uint8_t descriptor)
{
    return EncodeTga(VariantPicture(), {v.imageType, v.pixelSize, v.mapEntrySize, descriptor});
}

Bytes ExpectedPixels(const Variant& v)
{
    const uint8_t bits = IsMapped(v) ? v.mapEntrySize : v.pixelSize;
    Bytes out;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* rgb = kColors[ColorAt(x, y)];
            const uint8_t alpha = IsMapped(v) ? 0 : v.pixelSize == 32 ? AlphaAt(x, y) : 255;
            if (bits == 8)
                out.insert(out.end(), {rgb[0], rgb[0], rgb[0], alpha});
            else
                out.insert(out.end(), {rgb[0], rgb[1], rgb[2], alpha});
        }
    }
    return out;
}

const Variant kVariants[] = {
    {2, 24, 0},  {2, 32, 0},  {2, 16, 0}, {2, 15, 0},  {3, 8, 0},   {1, 8, 24},  {1, 8, 32},
    {1, 16, 16}, {1, 8, 15},  {1, 8, 8},  {10, 24, 0}, {10, 32, 0}, {10, 16, 0}, {11, 8, 0},
    {9, 8, 24},  {9, 16, 32},
};

std::string Describe(const Variant& v, uint8_t descriptor)
{
    return "type " + std::to_string(v.imageType) + " pixel " + std::to_string(v.pixelSize) +
           " map " + std::to_string(v.mapEntrySize) + " descriptor " + std::to_string(descriptor);
}

}  // namespace

TEST(TgaImage, EveryVariantFromWriterDecodesToTheSamePicture)
{
    // Origins, two- and four-way interlace, interlace 3 read as none, attribute bits.
    const uint8_t descriptors[] = {0x00, 0x20, 0x40, 0x60, 0x80, 0xA0, 0xC0, 0xE0, 0x08};
    for (const Variant& v : kVariants) {
        for (uint8_t descriptor : descriptors) {
            auto image = Decode(WriteVariant(v, descriptor));
            ASSERT_EQ(g_ImageError, IMGERR_NONE) << Describe(v, descriptor);
            EXPECT_EQ(image->m_Bpp, v.pixelSize);
            EXPECT_EQ(Pixels(*image), ExpectedPixels(v)) << Describe(v, descriptor);
        }
    }
}

TEST(TgaImage, EveryPrefixDecodesSafelyAndKeepsUnreachedPixelsClear)
{
    for (const Variant& v : kVariants) {
        for (uint8_t descriptor : {0x00, 0x60}) {
            const Bytes file = WriteVariant(v, descriptor);
            const Bytes full = ExpectedPixels(v);
            for (size_t length = 0; length < file.size(); ++length) {
                // A private copy of exactly `length` bytes lets the sanitizer see any overread.
                const Bytes prefix(file.begin(), file.begin() + length);
                auto image = Decode(prefix);
                if (g_ImageError != IMGERR_NONE) {
                    EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT);
                    continue;
                }
                // Only run-length data can end early and still pass the size check.
                ASSERT_GE(v.imageType, 9) << Describe(v, descriptor) << " length " << length;
                const Bytes got = Pixels(*image);
                for (size_t p = 0; p < got.size(); p += 4) {
                    const bool reached = std::equal(got.begin() + p, got.begin() + p + 4, full.begin() + p);
                    const bool clear = got[p] == 0 && got[p + 1] == 0 && got[p + 2] == 0 && got[p + 3] == 0;
                    EXPECT_TRUE(reached || clear) << Describe(v, descriptor) << " length " << length;
                }
            }
        }
    }
}

TEST(TgaImage, WideRunLengthRowsDecodeLikeTheirUncompressedForm)
{
    // 300 pixels a row: packets of up to 128 split inside rows and run on across row ends.
    constexpr uint16_t kWide = 300;
    constexpr uint16_t kRows = 5;
    for (uint8_t pixelSize : {24, 32}) {
        const size_t valueBytes = pixelSize / 8u;
        std::vector<Bytes> values;
        for (size_t i = 0; i < size_t{kWide} * kRows; ++i) {
            // Long runs in the first rows, then short runs and single values.
            const size_t key = i < 700 ? i / 150 : i % 5 == 0 ? i : i / 3;
            Bytes value(valueBytes);
            for (size_t b = 0; b < valueBytes; ++b)
                value[b] = static_cast<uint8_t>(key * 37 + b * 91);
            values.push_back(value);
        }
        for (uint8_t descriptor : {0x20, 0x00, 0x40, 0x80}) {
            SCOPED_TRACE(testing::Message() << "pixel " << int{pixelSize} << " descriptor " << int{descriptor});
            TgaFields fields;
            fields.pixelSize = pixelSize;
            fields.width = kWide;
            fields.height = kRows;
            fields.descriptor = descriptor;
            for (const Bytes& value : values)
                fields.body.insert(fields.body.end(), value.begin(), value.end());
            auto raw = Decode(TgaBytes(fields));
            ASSERT_EQ(g_ImageError, IMGERR_NONE);
            if (descriptor == 0x20) {
                Bytes expected;
                for (const Bytes& value : values)
                    expected.insert(expected.end(), {value[2], value[1], value[0],
                                                     pixelSize == 32 ? value[3] : uint8_t{255}});
                EXPECT_EQ(Pixels(*raw), expected);
            }
            fields.imageType = 10;
            fields.body = TgaRunLength(values);
            auto packed = Decode(TgaBytes(fields));
            ASSERT_EQ(g_ImageError, IMGERR_NONE);
            EXPECT_EQ(Pixels(*packed), Pixels(*raw));
        }
    }
}

TEST(TgaImage, RunLengthDataCutShortKeepsEveryWholeValueBeforeTheCut)
{
    const struct {
        const char* name;
        Bytes body;
        Bytes pixels;
    } cases[] = {
        {"inside a raw packet", {0x03, 1, 2, 3, 4, 5, 6, 7},
         {3, 2, 1, 255, 6, 5, 4, 255, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"before a packet header", {0x81, 1, 2, 3},
         {3, 2, 1, 255, 3, 2, 1, 255, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"inside a repeat value", {0x00, 1, 2, 3, 0x82, 4, 5},
         {3, 2, 1, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        TgaFields fields;
        fields.imageType = 10;
        fields.width = 4;
        fields.height = 1;
        fields.body = c.body;
        auto image = Decode(TgaBytes(fields));
        EXPECT_EQ(g_ImageError, IMGERR_NONE) << c.name;
        EXPECT_EQ(Pixels(*image), c.pixels) << c.name;
    }
}
