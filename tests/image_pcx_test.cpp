// PCX decoder: worked examples, header rejections, padded rows, damaged and truncated files.
#include "image/PcxImage.h"

#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr size_t kPcxHeaderSize = 128;

struct PcxFields {
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

Bytes PcxBytes(const PcxFields& fields)
{
    Bytes out(kPcxHeaderSize, 0);
    out[0] = fields.manufacturer;
    out[1] = fields.version;
    out[2] = fields.encoding;
    out[3] = fields.bitsPerPixel;
    out[8] = static_cast<uint8_t>(fields.xmax);
    out[9] = static_cast<uint8_t>(static_cast<uint16_t>(fields.xmax) >> 8);
    out[10] = static_cast<uint8_t>(fields.ymax);
    out[11] = static_cast<uint8_t>(static_cast<uint16_t>(fields.ymax) >> 8);
    out[65] = fields.planes;
    const uint16_t bytesPerLine = fields.bytesPerLine ? fields.bytesPerLine : uint16_t(fields.xmax + 1);
    out[66] = static_cast<uint8_t>(bytesPerLine);
    out[67] = static_cast<uint8_t>(bytesPerLine >> 8);
    out.insert(out.end(), fields.body.begin(), fields.body.end());
    out.push_back(12);
    out.insert(out.end(), fields.palette.begin(), fields.palette.end());
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
    PcxFields fields;
    fields.xmax = 2;
    fields.body = {0, 0xC1, 200, 7};
    fields.palette[200 * 3] = 1;
    fields.palette[200 * 3 + 1] = 2;
    fields.palette[200 * 3 + 2] = 3;
    const Bytes file = PcxBytes(fields);
    ASSERT_EQ(file.size(), 901u);
    auto image = Decode(file);
    ASSERT_EQ(g_ImageError, IMGERR_NONE);
    EXPECT_EQ(image->m_Format, IMG_PCX);
    EXPECT_EQ(image->m_Width, 3);
    EXPECT_EQ(image->m_Height, 1);
    EXPECT_EQ(image->m_TransIndex, -1);
    EXPECT_EQ(Indices(*image), (Bytes{0, 200, 7}));
    EXPECT_EQ(Bytes(image->m_pPixels + 4, image->m_pPixels + 8), (Bytes{1, 2, 3, 0}));
    EXPECT_EQ(Bytes(image->m_pPalette, image->m_pPalette + 768), fields.palette);
}

TEST(PcxImage, HeaderRejections)
{
    struct Case {
        const char* name;
        void (*change)(PcxFields&);
        const char* text = "not a PCX file";
    };
    const Case cases[] = {
        {"manufacturer 11", [](PcxFields& s) { s.manufacturer = 11; }},
        {"version 3", [](PcxFields& s) { s.version = 3; }},
        {"encoding 0", [](PcxFields& s) { s.encoding = 0; }},
        {"4 bits per pixel", [](PcxFields& s) { s.bitsPerPixel = 4; }},
        {"Xmax 640", [](PcxFields& s) { s.xmax = 640; }},
        {"Ymax 480", [](PcxFields& s) { s.ymax = 480; }},
        {"Xmax with bit 15", [](PcxFields& s) { s.xmax = -1; }},
        {"Ymax with bit 15", [](PcxFields& s) { s.ymax = -32768; }},
        {"three planes", [](PcxFields& s) { s.planes = 3; }},
        {"palette cut", [](PcxFields& s) { s.palette.resize(700); }, "truncated PCX file"},
        {"body too short for the size", [](PcxFields& s) { s.xmax = 99; s.ymax = 9; s.body = Bytes(30, 0xFF); },
         "truncated PCX file"},
    };
    for (const Case& c : cases) {
        PcxFields fields;
        fields.body = {5};
        c.change(fields);
        auto image = Decode(PcxBytes(fields));
        EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT) << c.name;
        EXPECT_STREQ(g_ImageErrorText, c.text) << c.name;
        EXPECT_EQ(image->m_Format, IMG_NONE) << c.name;
    }
    for (size_t length = 0; length < kPcxHeaderSize; ++length) {
        const Bytes header = PcxBytes(PcxFields());
        Decode(Bytes(header.begin(), header.begin() + length));
        EXPECT_STREQ(g_ImageErrorText, "not a PCX file") << length;
    }
}

TEST(PcxImage, RunsStopAtRowEnds)
{
    struct Case {
        const char* name;
        int16_t xmax;
        int16_t ymax;
        uint16_t bytesPerLine;
        Bytes body;
        Bytes indices;
    };
    const Case cases[] = {
        {"run of five", 4, 0, 0, {0xC5, 9}, {9, 9, 9, 9, 9}},
        {"run ending at the row end", 4, 1, 0, {0xC5, 9, 0xC5, 3}, {9, 9, 9, 9, 9, 3, 3, 3, 3, 3}},
        {"surplus of a run is dropped", 2, 1, 0, {0xC5, 9, 1, 2, 3}, {9, 9, 9, 1, 2, 3}},
        {"empty run consumes its value", 1, 0, 0, {0xC0, 9, 4, 0xC1, 0xC0}, {4, 0xC0}},
        {"padding byte dropped", 2, 1, 4, {1, 2, 3, 0, 4, 5, 6, 0}, {1, 2, 3, 4, 5, 6}},
        {"run into the padding", 2, 1, 4, {0xC4, 8, 0xC4, 7}, {8, 8, 8, 7, 7, 7}},
        {"bytes per line below width", 2, 0, 1, {1, 2, 3}, {1, 2, 3}},
        {"one pixel", 0, 0, 0, {0xC1, 0xFE}, {0xFE}},
    };
    for (const Case& c : cases) {
        PcxFields fields;
        fields.xmax = c.xmax;
        fields.ymax = c.ymax;
        fields.bytesPerLine = c.bytesPerLine;
        fields.body = c.body;
        for (size_t i = 0; i < fields.palette.size(); ++i)
            fields.palette[i] = static_cast<uint8_t>(i * 7);
        auto image = Decode(PcxBytes(fields));
        ASSERT_EQ(g_ImageError, IMGERR_NONE) << c.name;
        EXPECT_EQ(Indices(*image), c.indices) << c.name;
        for (size_t i = 0; i < c.indices.size(); ++i) {
            const uint8_t* color = fields.palette.data() + c.indices[i] * 3;
            EXPECT_EQ(Bytes(image->m_pPixels + i * 4, image->m_pPixels + i * 4 + 4),
                      (Bytes{color[0], color[1], color[2], 0}))
                << c.name << " pixel " << i;
        }
    }
}

// ---- Files from small writers ----

namespace {

SamplePicture MakePicture(int width, int height)
{
    SamplePicture picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.indices[size_t(y) * width + x] = static_cast<uint8_t>(y % 3 == 0 ? 200 : (x / 4) * 31 + y);
    for (size_t i = 0; i < picture.palette.size(); ++i)
        picture.palette[i] = static_cast<uint8_t>(255 - i);
    return picture;
}

// Runs of up to 63, or every byte alone as the extractor writes; odd widths padded to
// even bytes per line when `pad` is set.
Bytes WritePcx(const SamplePicture& picture, int maxRun, bool pad)
{
    const int bytesPerLine = pad ? (picture.width + 1) / 2 * 2 : picture.width;
    return EncodePcx(picture, {static_cast<uint16_t>(bytesPerLine), maxRun});
}

}  // namespace

TEST(PcxImage, WrittenFilesDecodeToTheirIndices)
{
    const SamplePicture pictures[] = {MakePicture(1, 1), MakePicture(7, 5), MakePicture(64, 3),
                                      MakePicture(640, 480)};
    for (const SamplePicture& picture : pictures) {
        for (int maxRun : {1, 63}) {
            for (bool pad : {false, true}) {
                auto image = Decode(WritePcx(picture, maxRun, pad));
                ASSERT_EQ(g_ImageError, IMGERR_NONE) << picture.width;
                ASSERT_EQ(image->m_Width, picture.width);
                ASSERT_EQ(image->m_Height, picture.height);
                EXPECT_EQ(Indices(*image), picture.indices) << picture.width << " pad " << pad;
                const size_t last = picture.indices.size() - 1;
                EXPECT_EQ(image->m_pPixels[last * 4], static_cast<uint8_t>(255 - picture.indices[last] * 3));
            }
        }
    }
}

TEST(PcxImage, EveryPrefixDecodesSafely)
{
    for (bool pad : {false, true}) {
        const Bytes file = WritePcx(MakePicture(7, 5), 63, pad);
        for (size_t length = 0; length < file.size(); ++length) {
            const Bytes prefix(file.begin(), file.begin() + length);
            auto image = Decode(prefix);
            if (g_ImageError != IMGERR_NONE) {
                EXPECT_STREQ(g_ImageErrorText, length < kPcxHeaderSize ? "not a PCX file" : "truncated PCX file");
                continue;
            }
            EXPECT_EQ(image->m_Width, 7);
            EXPECT_EQ(image->m_Height, 5);
        }
    }
}
