// Image decoders and loader: round trips through the sample writers, hand-made edge cases,
// and every rejection with its error code and text.
#include "image/DdsFormat.h"
#include "image/GifImage.h"
#include "image/JpegImage.h"
#include "image/PcxImage.h"
#include "image/PngImage.h"
#include "image/TgaImage.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <type_traits>

#include <jpeglib.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

namespace {

struct Decoded {
    int32_t error = 0;
    std::string text;
    int32_t format = IMG_NONE, width = -1, height = -1, bpp = 0, trans = 0;
    bool hasPixels = false;
    Bytes pixels, indices, palette;
};

// Decodes with one decoder, or with the loader's chain when none is named. The bytes are
// copied to a buffer of exactly their size so the sanitizer sees any read past the end.
template <class Decoder = void>
Decoded Decode(const Bytes& file)
{
    const Bytes exact(file);
    std::unique_ptr<CImage> image;
    if constexpr (std::is_void_v<Decoder>)
        image.reset(LoadImageMemory(exact.data(), uint32_t(exact.size())));
    else
        image = std::make_unique<Decoder>(exact.data(), uint32_t(exact.size()));
    Decoded out;
    out.error = g_ImageError, out.text = g_ImageErrorText;
    if (!image)
        return out;
    out.format = image->m_Format, out.width = image->m_Width, out.height = image->m_Height;
    out.bpp = image->m_Bpp, out.trans = image->m_TransIndex, out.hasPixels = image->m_pPixels != nullptr;
    const size_t count = size_t(image->m_Width) * size_t(image->m_Height);
    if (image->m_pPixels)
        out.pixels.assign(image->m_pPixels, image->m_pPixels + count * 4);
    if (image->m_pIndices)
        out.indices.assign(image->m_pIndices, image->m_pIndices + count);
    if (image->m_pPalette)
        out.palette.assign(image->m_pPalette, image->m_pPalette + kPaletteSize);
    return out;
}

Bytes operator+(Bytes first, const Bytes& second)
{
    AppendBytes(first, second);
    return first;
}

Bytes Prefix(const Bytes& file, size_t length) { return Bytes(file.begin(), file.begin() + long(length)); }

uint8_t Scale5(unsigned value) { return uint8_t(value << 3 | value >> 2); }

// Random indices in runs (every other stretch of 200 pixels one long run) into a palette of
// `colours` entries, the RGBA plane their colours with random alpha. Channels are 5-bit
// values spread to 8 bits, which every TGA depth stores exactly.
SamplePicture RandomPicture(int width, int height, std::mt19937& random, int colours = 256)
{
    SamplePicture picture(width, height);
    for (uint8_t& value : picture.palette)
        value = Scale5(random() % 32);
    for (size_t i = 0; i < picture.indices.size(); ++i) {
        const bool repeat = i > 0 && ((i / 200) % 2 == 1 || random() % 3 != 0);
        picture.indices[i] = repeat ? picture.indices[i - 1] : uint8_t(random() % unsigned(colours));
        std::copy_n(&picture.palette[picture.indices[i] * 3u], 3, &picture.rgba[i * 4]);
        picture.rgba[i * 4 + 3] = uint8_t(random());
    }
    return picture;
}

// The RGBA plane with every fourth byte set to `fourth`.
Bytes WithFourth(Bytes rgba, uint8_t fourth)
{
    for (size_t i = 3; i < rgba.size(); i += 4)
        rgba[i] = fourth;
    return rgba;
}

const int kSizes[][2] = {{1, 1}, {3, 5}, {17, 2}, {130, 9}, {2, 21}};

// ---- TGA ----

struct TgaVariant {
    uint8_t type, pixelSize, mapSize;
};
const TgaVariant kTgaVariants[] = {{1, 8, 24}, {1, 8, 32}, {1, 16, 15}, {1, 8, 16}, {1, 8, 8}, {2, 15, 0},
                                   {2, 16, 0}, {2, 24, 0}, {2, 32, 0},  {3, 8, 0},  {9, 8, 24}, {9, 16, 32},
                                   {10, 16, 0}, {10, 24, 0}, {10, 32, 0}, {11, 8, 0}};

// What the decoder gives for the picture: map entries carry a fourth byte 0, true colour
// 255 unless stored, and 8-bit values are grey levels of red.
Bytes TgaExpected(const SamplePicture& picture, const TgaVariant& v)
{
    const bool mapped = (v.type & 7) == 1;
    const bool grey = (mapped ? v.mapSize : v.pixelSize) == 8;
    Bytes out = picture.rgba;
    for (size_t i = 0; i < out.size(); i += 4) {
        out[i + 1] = grey ? out[i] : out[i + 1];
        out[i + 2] = grey ? out[i] : out[i + 2];
        out[i + 3] = mapped ? 0 : v.pixelSize == 32 ? out[i + 3] : 255;
    }
    return out;
}

TEST(TgaImage, EveryVariantOriginAndInterlaceRoundTrips)
{
    std::mt19937 random(1);
    // Origins, two- and four-way interlace, interlace 3 read as none, attribute bits.
    const uint8_t descriptors[] = {0x00, 0x20, 0x40, 0x60, 0x80, 0xA0, 0xC0, 0xE0, 0x08};
    for (const auto& size : kSizes) {
        const SamplePicture picture = RandomPicture(size[0], size[1], random);
        for (const TgaVariant& v : kTgaVariants) {
            for (uint8_t descriptor : descriptors) {
                SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " type " << int(v.type) << " bits "
                                                << int(v.pixelSize) << "/" << int(v.mapSize) << " desc " << int(descriptor));
                const Decoded d = Decode<CTgaImage>(
                    EncodeTga(picture, {v.type, v.pixelSize, v.mapSize, descriptor, (descriptor & 0x20) != 0}));
                ASSERT_EQ(d.error, IMGERR_NONE) << d.text;
                EXPECT_EQ(d.format, IMG_TGA);
                EXPECT_EQ(d.bpp, v.pixelSize);
                EXPECT_EQ(d.trans, -1);
                EXPECT_TRUE(d.palette.empty());
                EXPECT_EQ(d.pixels, TgaExpected(picture, v));
            }
        }
    }
}

TEST(TgaImage, EveryPrefixFailsOrKeepsOnlyWholeValuesBeforeTheCut)
{
    std::mt19937 random(2);
    const SamplePicture picture = RandomPicture(5, 7, random, 4);
    for (const TgaVariant& v : kTgaVariants) {
        for (uint8_t descriptor : {0x00, 0x60}) {
            const Bytes file = EncodeTga(picture, {v.type, v.pixelSize, v.mapSize, descriptor, false});
            const Bytes full = TgaExpected(picture, v);
            for (size_t length = 0; length < file.size(); ++length) {
                const Decoded d = Decode<CTgaImage>(Prefix(file, length));
                if (d.error != IMGERR_NONE) {
                    EXPECT_EQ(d.text, length < 3 ? "Unknown Targa image type" : "Truncated Targa file") << length;
                    continue;
                }
                ASSERT_GE(v.type, 9) << length;  // only run-length data can end early and pass
                for (size_t p = 0; p < full.size(); p += 4)
                    EXPECT_TRUE(std::equal(&full[p], &full[p] + 4, &d.pixels[p]) ||
                                Bytes(&d.pixels[p], &d.pixels[p] + 4) == Bytes(4, 0)) << length;
            }
        }
    }
}

TEST(TgaImage, HandMadeFiles)
{
    auto file = [](uint8_t type, uint8_t bits, uint16_t width, Bytes body, uint8_t mapType = 0, uint16_t first = 0,
                   uint8_t mapSize = 0, Bytes map = {}, Bytes id = {}) {
        TgaHeader h;
        h.imageType = type, h.pixelSize = bits, h.width = width, h.height = 1, h.descriptor = 0x20;
        h.colorMapType = mapType, h.mapFirst = first, h.mapEntrySize = mapSize, h.id = id, h.map = map;
        h.mapLength = uint16_t(mapSize ? map.size() * 8 / mapSize : 0);
        return TgaFile(h, body);
    };
    const struct {
        Bytes file;
        Bytes pixels;
    } cases[] = {
        // white; red 1, green 16, blue 0; black with the unused top bit set
        {file(2, 16, 3, {0xFF, 0x7F, 0x00, 0x06, 0x00, 0x80}), {255, 255, 255, 255, 8, 132, 0, 255, 0, 0, 0, 255}},
        // entries 5 and 6 stored; indices 4 (below), 6, 7 (above) and 40000 (past the table)
        {file(1, 16, 4, {4, 0, 6, 0, 7, 0, 0x40, 0x9C}, 1, 5, 32, {1, 2, 3, 4, 5, 6, 7, 8}),
         {0, 0, 0, 0, 7, 6, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        // 24-bit values of a mapped image carry no index: all take entry 0
        {file(1, 24, 2, {1, 0, 0, 1, 0, 0}, 1, 0, 24, {7, 8, 9, 1, 2, 3}), {9, 8, 7, 0, 9, 8, 7, 0}},
        // identifier and colour map of a true-colour image are skipped
        {file(2, 24, 1, {1, 2, 3}, 1, 0, 16, Bytes(6, 0xEE), ToBytes("made by hand")), {3, 2, 1, 255}},
        // run-length data cut inside a raw packet, before a header, inside a repeat value
        {file(10, 24, 4, {0x03, 1, 2, 3, 4, 5, 6, 7}), Bytes{3, 2, 1, 255, 6, 5, 4, 255} + Bytes(8, 0)},
        {file(10, 24, 4, {0x81, 1, 2, 3}), Bytes{3, 2, 1, 255, 3, 2, 1, 255} + Bytes(8, 0)},
        {file(10, 24, 4, {0x00, 1, 2, 3, 0x82, 4, 5}), Bytes{3, 2, 1, 255} + Bytes(12, 0)},
        // a repeat packet runs on across the end of a row
        {file(10, 32, 4, {0x83, 10, 20, 30, 40}), Bytes{30, 20, 10, 40, 30, 20, 10, 40} + Bytes{30, 20, 10, 40, 30, 20, 10, 40}},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode<CTgaImage>(c.file);
        ASSERT_EQ(d.error, IMGERR_NONE) << d.text;
        EXPECT_EQ(d.pixels, c.pixels);
    }
}

TEST(TgaImage, RejectionsAndLimits)
{
    auto file = [](uint8_t type, uint8_t mapType, uint8_t mapSize, uint8_t bits, uint16_t first, uint16_t length,
                   uint16_t side = 1, size_t body = 0) {
        TgaHeader h;
        h.imageType = type, h.colorMapType = mapType, h.mapEntrySize = mapSize, h.pixelSize = bits;
        h.mapFirst = first, h.mapLength = length, h.width = h.height = side;
        return TgaFile(h, Bytes(body, 0xFF));
    };
    const struct {
        Bytes file;
        const char* text;  // "" when accepted
    } cases[] = {
        {file(4, 0, 0, 24, 0, 0), "Unknown Targa image type"},
        {file(0, 0, 0, 24, 0, 0), "Unknown Targa image type"},
        {file(1, 0, 24, 8, 0, 0), "Mapped image with bad color map type"},
        {file(9, 2, 24, 8, 0, 0), "Mapped image with bad color map type"},
        {file(1, 1, 12, 8, 0, 0), "Unknown colormap pixel size"},
        {file(1, 1, 24, 12, 0, 0), "Unknown pixel size"},
        {file(2, 0, 0, 12, 0, 0), "Unknown pixel size"},
        {file(11, 0, 0, 0, 0, 0), "Unknown pixel size"},
        {file(2, 1, 7, 24, 0, 0), "Unknown colormap pixel size"},
        {file(1, 1, 24, 8, 16000, 383), "Too many colors in colormap"},
        {file(2, 1, 24, 24, 0, 16383), "Too many colors in colormap"},
        {file(1, 1, 8, 8, 16000, 382, 0) + Bytes(382, 0), ""},  // the largest map; no pixels
        {file(1, 1, 24, 8, 0, 4, 0) + Bytes(11, 0), "Truncated Targa file"},  // map cut short
        {file(2, 0, 0, 24, 0, 0, 65535, 22), "Truncated Targa file"},
        {file(10, 0, 0, 24, 0, 0, 65535, 22), "Truncated Targa file"},
        {file(2, 0, 0, 24, 0, 0, 2, 11), "Truncated Targa file"},
        {file(3, 0, 0, 8, 0, 0, 2, 4), ""},
        // run-length data that could fill 20000 x 20000 pixels, whose planes would pass 1 GiB
        {file(11, 0, 0, 8, 0, 0, 20000, 6250000), "Image too large"},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode<CTgaImage>(c.file);
        EXPECT_EQ(d.error, *c.text ? IMGERR_BADFORMAT : IMGERR_NONE) << c.text;
        EXPECT_EQ(d.text, c.text);
        EXPECT_EQ(d.hasPixels, !*c.text) << c.text;
    }
}

// ---- PCX ----

TEST(PcxImage, WrittenPicturesRoundTripWithAnyRunsAndPadding)
{
    std::mt19937 random(3);
    for (const auto& size : {std::array<int, 2>{1, 1}, {3, 5}, {17, 2}, {130, 9}, {640, 480}}) {
        const SamplePicture picture = RandomPicture(size[0], size[1], random);
        for (int maxRun : {1, 63}) {
            for (int pad : {0, 1, 2}) {
                const Decoded d = Decode<CPcxImage>(EncodePcx(picture, {uint16_t(size[0] + pad), maxRun}));
                ASSERT_EQ(d.error, IMGERR_NONE) << d.text;
                EXPECT_EQ(d.format, IMG_PCX);
                EXPECT_EQ(d.width, size[0]);
                EXPECT_EQ(d.trans, -1);
                EXPECT_EQ(d.indices, picture.indices) << size[0] << " pad " << pad;
                EXPECT_EQ(d.pixels, WithFourth(picture.rgba, 0));
                EXPECT_EQ(d.palette, picture.palette);
            }
        }
    }
}

Bytes PcxFile(uint16_t xmax, uint16_t ymax, uint16_t bytesPerLine, const Bytes& body, size_t paletteSize = 769)
{
    Bytes out(128, 0);
    out[0] = 10, out[1] = 5, out[2] = 1, out[3] = 8, out[65] = 1;
    out[8] = uint8_t(xmax), out[9] = uint8_t(xmax >> 8), out[10] = uint8_t(ymax), out[11] = uint8_t(ymax >> 8);
    out[66] = uint8_t(bytesPerLine), out[67] = uint8_t(bytesPerLine >> 8);
    return out + body + Bytes(paletteSize, 0);
}

TEST(PcxImage, RunsStopAtRowEndsAndPaddingIsDropped)
{
    const struct {
        uint16_t xmax, ymax, bytesPerLine;
        Bytes body, indices;
    } cases[] = {
        {4, 1, 5, {0xC5, 9, 0xC5, 3}, {9, 9, 9, 9, 9, 3, 3, 3, 3, 3}},
        {2, 1, 3, {0xC5, 9, 1, 2, 3}, {9, 9, 9, 1, 2, 3}},     // surplus of a run dropped
        {1, 0, 2, {0xC0, 9, 4, 0xC1, 0xC0}, {4, 0xC0}},         // an empty run takes its value
        {2, 1, 4, {0xC4, 8, 0xC4, 7}, {8, 8, 8, 7, 7, 7}},      // run into the padding
        {2, 0, 1, {1, 2, 3}, {1, 2, 3}},                        // bytes per line below width
        {3, 1, 4, {1, 2}, {1, 2, 0, 0, 0, 0, 0, 0}},            // rows the data never reaches
    };
    for (const auto& c : cases) {
        const Decoded d = Decode<CPcxImage>(PcxFile(c.xmax, c.ymax, c.bytesPerLine, c.body));
        ASSERT_EQ(d.error, IMGERR_NONE) << d.text;
        EXPECT_EQ(d.indices, c.indices);
    }
}

TEST(PcxImage, RejectionsAndEveryPrefix)
{
    const Bytes good = PcxFile(0, 0, 1, {5});
    auto with = [&](size_t at, uint8_t value) { Bytes file = good; file[at] = value; return file; };
    const struct {
        Bytes file;
        const char* text;
    } cases[] = {
        {with(0, 11), "not a PCX file"}, {with(1, 3), "not a PCX file"}, {with(2, 0), "not a PCX file"},
        {with(3, 4), "not a PCX file"},  {with(65, 3), "not a PCX file"},
        {PcxFile(640, 0, 0, {}), "not a PCX file"},      {PcxFile(0, 480, 0, {}), "not a PCX file"},
        {PcxFile(0xFFFF, 0, 0, {}), "not a PCX file"},   {PcxFile(0, 0x8000, 0, {}), "not a PCX file"},
        {PcxFile(0, 0, 1, {5}, 700), "truncated PCX file"},
        {PcxFile(99, 9, 100, Bytes(30, 0xFF)), "truncated PCX file"},
        {PcxFile(64, 0, 65, {0xFF, 1}), "truncated PCX file"},  // three bytes give 64 pixels at most
    };
    for (const auto& c : cases) {
        const Decoded d = Decode<CPcxImage>(c.file);
        EXPECT_EQ(d.error, IMGERR_BADFORMAT);
        EXPECT_EQ(d.text, c.text);
        EXPECT_EQ(d.format, IMG_NONE);
    }
    EXPECT_EQ(Decode<CPcxImage>(PcxFile(63, 0, 64, {0xFF, 1})).error, IMGERR_NONE);
    std::mt19937 random(4);
    const Bytes file = EncodePcx(RandomPicture(7, 5, random), {8, 63});
    for (size_t length = 0; length < file.size(); ++length) {
        const Decoded d = Decode<CPcxImage>(Prefix(file, length));
        if (d.error != IMGERR_NONE) {
            EXPECT_EQ(d.text, length < 128 ? "not a PCX file" : "truncated PCX file") << length;
        } else {
            EXPECT_EQ(d.width * 10 + d.height, 75) << length;
        }
    }
}

// ---- GIF ----

// Rows in the order an interlaced GIF sends them.
Bytes Interlace(const Bytes& pixels, int width, int height)
{
    const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    Bytes sent;
    for (int pass = 0; pass < 4; ++pass)
        for (int row = start[pass]; row < height; row += step[pass])
            sent.insert(sent.end(), pixels.begin() + row * width, pixels.begin() + (row + 1) * width);
    return sent;
}

TEST(GifImage, WrittenPicturesRoundTripInEveryCodeSizeAndLayout)
{
    std::mt19937 random(5);
    for (const auto& size : kSizes) {
        for (int bits = 1; bits <= 8; ++bits) {
            const SamplePicture picture = RandomPicture(size[0], size[1], random, 1 << bits);
            const Bytes table = Prefix(picture.palette, size_t(3) << bits);
            // global table; interlaced; local table over a global ramp; local table alone, interlaced
            for (int kind = 0; kind < 4; ++kind) {
                GifLayout layout;
                layout.width = size[0], layout.height = size[1], layout.minCodeSize = std::max(bits, 2);
                layout.interlaced = kind & 1;
                layout.globalSizeBits = kind == 3 ? -1 : kind == 2 ? 7 : bits - 1;
                (kind >= 2 ? layout.localTable : layout.globalTable) = table;
                layout.localSizeBits = kind >= 2 ? bits - 1 : -1;
                layout.pixels = layout.interlaced ? Interlace(picture.indices, size[0], size[1]) : picture.indices;
                layout.extensions = GifGraphicControl(kind == 2, uint8_t(bits * 9));
                layout.version = kind ? "GIF89a" : "GIF87a";
                const Decoded d = Decode(EncodeGif(layout));
                ASSERT_EQ(d.error, IMGERR_NONE) << d.text;
                EXPECT_EQ(d.format, IMG_GIF);
                EXPECT_EQ(d.trans, kind == 2 ? bits * 9 : -1);
                EXPECT_EQ(d.indices, picture.indices) << size[0] << "x" << size[1] << " bits " << bits << " kind " << kind;
                EXPECT_EQ(d.pixels, WithFourth(picture.rgba, 0));
                EXPECT_EQ(d.palette, table + Bytes(kPaletteSize - table.size(), 0));
            }
        }
    }
}

TEST(GifImage, LongStreamsFullTablesAndTheStringLimit)
{
    std::mt19937 random(6);
    Bytes noise(160 * 120);
    for (uint8_t& pixel : noise)
        pixel = uint8_t(random() % 64);
    GifLayout layout;
    layout.width = 160, layout.height = 120, layout.globalSizeBits = 7, layout.minCodeSize = 8;
    for (bool clearWhenFull : {true, false}) {  // the 4096-entry table cleared, or kept full
        layout.codes = LzwEncode(noise, 8, {true, true, clearWhenFull});
        EXPECT_EQ(Decode(EncodeGif(layout)).indices, noise);
    }
    // A flat picture sends strings of 1, 2, 3, ... pixels: 1025 x 513 end with one of
    // exactly 1025, the longest there is room for; two rows more need 1026.
    layout.width = 1025, layout.height = 513, layout.minCodeSize = 2, layout.globalSizeBits = 1;
    layout.codes = LzwEncode(Bytes(1025 * 513, 1), 2);
    EXPECT_EQ(Decode(EncodeGif(layout)).indices, Bytes(1025 * 513, 1));
    layout.height = 515;
    layout.codes = LzwEncode(Bytes(1025 * 515, 1), 2);
    EXPECT_EQ(Decode<CGifImage>(EncodeGif(layout)).text, "Corrupt GIF file (OutCount)!");
}

TEST(GifImage, StreamsThatStopEarlyOrRunLongKeepWhatFits)
{
    const Bytes pixels = {0, 1, 2, 3, 3, 3, 2, 1, 0, 0, 1, 1};
    GifLayout layout;  // 4 x 3, four colours
    const struct {
        Bytes codes, indices;
    } cases[] = {
        {LzwEncode(pixels, 2, {true, false, true}), pixels},  // no end code
        {LzwEncode(Prefix(pixels, 6), 2), Prefix(pixels, 6) + Bytes(6, 0)},
        {LzwEncode(pixels + pixels, 2), pixels},  // pixels past the last row dropped
    };
    for (const auto& c : cases) {
        layout.codes = c.codes;
        const Decoded d = Decode<CGifImage>(EncodeGif(layout));
        ASSERT_EQ(d.error, IMGERR_NONE) << d.text;
        EXPECT_EQ(d.indices, c.indices);
    }
}

TEST(GifImage, BlocksAroundTheImageRejectionsAndLimits)
{
    const Bytes comment = {0x21, 0xFE, 3, 'h', 'i', '!', 0}, plain = {0x21, 0x01, 2, 9, 9, 1, 'x', 0};
    const Bytes application = Bytes{0x21, 0xFF, 11} + ToBytes("NETSCAPE2.0") + Bytes{3, 1, 0, 0, 0};
    GifLayout valid;
    valid.pixels = {0, 1, 2, 3, 3, 3, 2, 1, 0, 0, 1, 1};
    const Bytes good = EncodeGif(valid);
    auto with = [&](auto change) { GifLayout layout = valid; change(layout); return EncodeGif(layout); };
    auto extended = [&](Bytes blocks, Bytes after = {0x3B}) {
        return with([&](GifLayout& s) { s.extensions = blocks, s.after = after; });
    };
    const Bytes second = Bytes(good.begin() + 25, good.end());  // after header and table
    const char* tooLittle = "corrupt GIF file (too little image data for its size)";
    const struct {
        Bytes file;
        const char* text;  // "" when accepted
        int32_t trans;
    } cases[] = {
        {extended(comment + plain + application), "", -1},
        {extended(GifGraphicControl(true, 2) + GifGraphicControl(false, 5)), "", 2},
        {extended(GifGraphicControl(true, 2) + comment + GifGraphicControl(true, 5)), "", 5},
        {extended(Bytes{0x21, 0xF9, 6, 1, 0, 0, 4, 0, 0, 0}), "", 4},  // longer control block
        {extended(GifGraphicControl(false, 0), GifGraphicControl(true, 1) + second), "", -1},  // 2nd frame ignored
        {Prefix(good, 25) + Bytes{0x21, 0xF9, 4, 1, 0}, "corrupt GIF89a file", 0},  // no room for the index
        {Prefix(good, 25) + Bytes{0x21}, "corrupt GIF89a file", 0},
        {extended({0x21, 0x02, 0}), "invalid GIF89 extension", 0},
        {extended({0x3B}), "corrupt GIF89a file", 0},
        {Bytes(), "not a GIF file", 0},
        {ToBytes("GIF88a") + Bytes(good.begin() + 6, good.end()), "not a GIF file", 0},
        {with([](GifLayout& s) { s.globalSizeBits = -1; }), "GIF file without a colour table", 0},
        {with([](GifLayout& s) { s.aspect = 49; }), "corrupt GIF file (bad screen descriptor)", 0},
        {Prefix(good, 24), "corrupt GIF file (bad screen descriptor)", 0},
        {Prefix(good, 25) + Bytes{0x2C, 0, 0, 0, 0, 4, 0, 3, 0, 0x81, 1, 2}, "corrupt GIF89a file", 0},
        {Prefix(good, good.size() - 2), "corrupt GIF file (unblock)", 0},
        {with([](GifLayout& s) { s.minCodeSize = 12, s.codes = {0}; }), "corrupt GIF file (bad LZW code size)", 0},
        {with([](GifLayout& s) { s.minCodeSize = 0, s.codes = {0}; }), "corrupt GIF file (bad LZW code size)", 0},
        {with([](GifLayout& s) { s.minCodeSize = 11, s.width = s.height = 1, s.codes = {0x00, 0x08}; }), "", -1},
        {with([](GifLayout& s) { s.codes = LzwEncode(s.pixels, 2, {false, true, true}); }), "Corrupt GIF file (OutCount)!", 0},
        {with([](GifLayout& s) { s.codes = {0xCC, 0x01}; }), "Corrupt GIF file (OutCount)!", 0},  // code 7 undefined
        // 8 codes of 8 bits give at most 1+2+...+8 = 36 pixels; 2000 codes 1025 x 1026 / 2
        // for the first 1025 and 1025 for each after
        {with([](GifLayout& s) { s.width = s.height = 6, s.minCodeSize = 7, s.globalSizeBits = 6, s.codes = Bytes(8, 0); }),
         "Corrupt GIF file (OutCount)!", 0},
        {with([](GifLayout& s) { s.width = 37, s.height = 1, s.minCodeSize = 7, s.globalSizeBits = 6, s.codes = Bytes(8, 0); }),
         tooLittle, 0},
        {with([](GifLayout& s) { s.width = 1240, s.height = 1230, s.minCodeSize = 7, s.globalSizeBits = 6, s.codes = Bytes(2000, 0); }),
         "Corrupt GIF file (OutCount)!", 0},
        {with([](GifLayout& s) { s.width = 101, s.height = 15101, s.minCodeSize = 7, s.globalSizeBits = 6, s.codes = Bytes(2000, 0); }),
         tooLittle, 0},
        {with([](GifLayout& s) { s.width = s.height = 60000; }), tooLittle, 0},
        // enough codes for 16384 x 13108 pixels, whose planes would pass 1 GiB
        {with([](GifLayout& s) { s.width = 16384, s.height = 13108, s.codes = Bytes(80000, 0); }), "Image too large", 0},
        // a side of 0: an image without pixels, its data never decoded
        {with([](GifLayout& s) { s.width = 0, s.codes = {0xFF}; }), "", -1},
        {with([](GifLayout& s) { s.height = 0, s.codes = {0xFF}; }), "", -1},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode<CGifImage>(c.file);
        EXPECT_EQ(d.text, c.text);
        EXPECT_EQ(d.error, *c.text ? IMGERR_BADFORMAT : IMGERR_NONE) << c.text;
        if (!*c.text) {
            EXPECT_EQ(d.trans, c.trans);
            EXPECT_EQ(Prefix(d.palette, 12), ColourRamp(4, 3));
            EXPECT_TRUE(d.hasPixels);
        }
    }
    // Every cut fails until only the trailer is missing.
    valid.extensions = comment + GifGraphicControl(true, 3) + application;
    const Bytes file = EncodeGif(valid);
    for (size_t length = 0; length < file.size(); ++length)
        EXPECT_EQ(Decode<CGifImage>(Prefix(file, length)).error, length + 1 == file.size() ? IMGERR_NONE : IMGERR_BADFORMAT) << length;
}

// ---- PNG and JPEG ----

// Sample of channel `c` at (x, y) within `depth` bits.
int Sample(int x, int y, int c, int depth)
{
    const uint32_t mixed = uint32_t(x * 37 + y * 101 + c * 59 + x * y) * 40503u;
    return int((mixed ^ (mixed >> 7)) % (1u << depth));
}

// A 13 x 11 PNG of one colour type and depth, and the RGBA plane the decoder must give.
Bytes WritePng(int type, int depth, bool trns, bool interlaced, Bytes* expected)
{
    PngLayout layout{13, 11, type, depth, interlaced, {}, {}, trns && type != PNG_COLOR_TYPE_PALETTE};
    const bool palette = type == PNG_COLOR_TYPE_PALETTE, grey = !(type & PNG_COLOR_MASK_COLOR);
    const bool alpha = type & PNG_COLOR_MASK_ALPHA;
    for (int i = 0; palette && i < 1 << depth; ++i)
        layout.palette.insert(layout.palette.end(), {uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7)});
    if (palette && trns)
        layout.paletteAlpha = {1, 6, 11};
    const int channels = palette ? 1 : (grey ? 1 : 3) + alpha;
    auto to8 = [&](int value) { return uint8_t(depth == 16 ? value >> 8 : value * 255 / ((1 << depth) - 1)); };
    std::vector<Bytes> rows(11);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 13; ++x) {
            for (int c = 0; c < channels; ++c) {
                if (depth == 16)
                    rows[y].push_back(uint8_t(Sample(x, y, c, 16) >> 8));
                rows[y].push_back(uint8_t(Sample(x, y, c, depth)));
            }
            const int s = Sample(x, y, 0, depth);
            if (palette)
                expected->insert(expected->end(), {uint8_t(s * 3), uint8_t(255 - s), uint8_t(s * 7),
                                                   uint8_t(!trns ? 0 : s < 3 ? s * 5 + 1 : 255)});
            else
                expected->insert(expected->end(), {to8(s), to8(Sample(x, y, grey ? 0 : 1, depth)),
                                                   to8(Sample(x, y, grey ? 0 : 2, depth)),
                                                   uint8_t(alpha ? to8(Sample(x, y, channels - 1, depth)) : 0)});
        }
    return EncodePng(layout, rows);
}

TEST(PngImage, EveryColourTypeAndDepthBecomesRgba)
{
    const struct {
        int type, depth;
        bool trns;
    } kinds[] = {{0, 1, false}, {0, 2, false}, {0, 4, false}, {0, 8, false}, {0, 16, false}, {0, 8, true},
                 {4, 8, false}, {4, 16, false}, {2, 8, false}, {2, 16, false}, {2, 8, true}, {6, 8, false},
                 {6, 16, false}, {3, 1, false}, {3, 2, false}, {3, 4, false}, {3, 8, false}, {3, 8, true}, {3, 2, true}};
    for (const auto& k : kinds) {
        for (bool interlaced : {false, true}) {
            Bytes expected;
            const Decoded d = Decode(WritePng(k.type, k.depth, k.trns, interlaced, &expected));
            ASSERT_EQ(d.error, IMGERR_NONE) << d.text;
            EXPECT_EQ(d.format, IMG_PNG);
            EXPECT_EQ(d.width * 100 + d.height, 1311);
            EXPECT_EQ(d.bpp, (k.type & PNG_COLOR_MASK_ALPHA) || (k.type == 3 && k.trns) ? 32 : 24);
            EXPECT_EQ(d.pixels, expected) << "type " << k.type << " depth " << k.depth << " tRNS " << k.trns;
        }
    }
}

// The file with another size in IHDR (whose data starts 16 bytes in) and its CRC fixed.
Bytes WithIhdrSize(Bytes file, uint32_t width, uint32_t height)
{
    for (int i = 0; i < 4; ++i)
        file[16 + i] = uint8_t(width >> (24 - 8 * i)), file[20 + i] = uint8_t(height >> (24 - 8 * i));
    const uint32_t crc = uint32_t(crc32(0, &file[12], 17));
    for (int i = 0; i < 4; ++i)
        file[29 + i] = uint8_t(crc >> (24 - 8 * i));
    return file;
}

TEST(PngImage, FailuresAfterTheSignatureStopTheChainWithTheirCause)
{
    Bytes unused;
    const Bytes file = WritePng(0, 1, false, true, &unused);
    for (size_t length = 1; length < file.size(); ++length) {
        const Decoded d = Decode(Prefix(file, length));
        ASSERT_EQ(d.error, IMGERR_NOMEMORY) << length;
        ASSERT_EQ(d.text, "Read Error") << length;
    }
    Bytes badCrc = file;
    badCrc[29] ^= 1;
    // 16384 x 13108 one-bit pixels could inflate from this much data, but the planes pass 1 GiB.
    const struct {
        Bytes file;
        const char* text;
    } cases[] = {{badCrc, "IHDR: CRC error"},
                 {WithIhdrSize(file, 3000, 3000), "Image too large"},
                 {WithIhdrSize(file, 16384, 13108) + Bytes(27000, 0), "Image too large"}};
    for (const auto& c : cases) {
        const Decoded d = Decode(c.file);
        EXPECT_EQ(d.error, IMGERR_NOMEMORY);
        EXPECT_EQ(d.text, c.text);
    }
    EXPECT_EQ(Decode<CPngImage>({}).text, "Not a PNG file");
}

Bytes WriteJpeg(int inputSpace, int components, int storedSpace, bool progressive, bool arithmetic, int side)
{
    Bytes samples;
    for (int y = 0; y < side; ++y)
        for (int i = 0; i < (side + 13) * components; ++i)
            samples.push_back(uint8_t(Sample(i, y, 0, 8)));
    return EncodeJpeg({side + 13, side, components, inputSpace, storedSpace, -1, progressive, arithmetic}, samples);
}

// What libjpeg itself makes of the file, as RGBA with a fourth byte 0; inverted CMYK
// with every colour scaled by K.
Bytes LibraryDecode(const Bytes& file)
{
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), file.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    const int n = info.output_components;
    Bytes row(size_t(info.output_width) * n), rgba;
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        for (size_t at = 0; at < row.size(); at += n) {
            const uint8_t* s = &row[at];
            const int k = n == 4 ? s[3] : 255;
            for (int c = 0; c < 3; ++c)
                rgba.push_back(uint8_t(s[n == 1 ? 0 : c] * k / 255));
            rgba.push_back(0);
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return rgba;
}

TEST(JpegImage, DecodesLikeTheLibraryIntoRgb)
{
    const int kinds[][4] = {{JCS_RGB, 3, JCS_YCbCr, 0}, {JCS_RGB, 3, JCS_YCbCr, 1}, {JCS_RGB, 3, JCS_RGB, 0},
                            {JCS_GRAYSCALE, 1, JCS_GRAYSCALE, 0}, {JCS_CMYK, 4, JCS_CMYK, 0}, {JCS_CMYK, 4, JCS_YCCK, 0}};
    for (const auto& k : kinds) {
        const Bytes file = WriteJpeg(k[0], k[1], k[2], k[3], false, 21);
        const Decoded d = Decode(file);
        ASSERT_EQ(d.error, IMGERR_NONE) << d.text;
        EXPECT_EQ(d.format, IMG_JPEG);
        EXPECT_EQ(d.width * 100 + d.height, 3421);
        EXPECT_EQ(d.bpp, 24);
        EXPECT_EQ(d.pixels, LibraryDecode(file)) << "stored colour space " << k[2];
    }
    for (bool progressive : {false, true}) {  // every cut decodes what is there or fails cleanly
        const Bytes file = WriteJpeg(JCS_RGB, 3, JCS_YCbCr, progressive, false, 16);
        for (size_t length = 0; length < file.size(); ++length) {
            const Decoded d = Decode<CJpegImage>(Prefix(file, length));
            ASSERT_EQ(d.error == IMGERR_NONE ? d.width : d.error, d.error == IMGERR_NONE ? 29 : IMGERR_BADFORMAT);
        }
    }
}

// The file with another size in its frame header: height, then width, 5 bytes after the marker.
Bytes WithFrameSize(Bytes file, bool arithmetic, uint16_t width, uint16_t height)
{
    const Bytes marker = {0xFF, uint8_t(arithmetic ? 0xC9 : 0xC0)};
    const size_t at = size_t(std::search(file.begin(), file.end(), marker.begin(), marker.end()) - file.begin()) + 5;
    file.at(at) = uint8_t(height >> 8), file.at(at + 1) = uint8_t(height);
    file.at(at + 2) = uint8_t(width >> 8), file.at(at + 3) = uint8_t(width);
    return file;
}

TEST(JpegImage, RefusesNonJpegAndImplausibleSizes)
{
    EXPECT_EQ(Decode<CJpegImage>(ToBytes("plain text")).text, "Not a JPEG file: starts with 0x70 0x6c");
    const char* tooLarge = "JPEG image too large for its data";
    const Bytes huffman = WriteJpeg(JCS_GRAYSCALE, 1, JCS_GRAYSCALE, false, false, 3);
    const Bytes arithmetic = WriteJpeg(JCS_GRAYSCALE, 1, JCS_GRAYSCALE, false, true, 3);
    const Bytes noise = WriteJpeg(JCS_GRAYSCALE, 1, JCS_GRAYSCALE, false, true, 128);
    const uint16_t hSide = uint16_t(std::sqrt(huffman.size() * 2048.0)), aSide = uint16_t(std::sqrt(arithmetic.size() * 65536.0));
    const struct {
        Bytes file;
        const char* text;
    } cases[] = {
        {WithFrameSize(huffman, false, hSide, hSide), ""},  // within 2048 pixels a byte
        {WithFrameSize(huffman, false, hSide + 1, hSide + 1), tooLarge},
        {WithFrameSize(arithmetic, true, aSide, aSide), ""},  // within 65536 pixels a byte
        {WithFrameSize(arithmetic, true, aSide + 1, aSide + 1), tooLarge},
        {WithFrameSize(huffman, false, 60000, 60000), tooLarge},
        // enough arithmetic-coded data for 16384 x 13108 pixels, whose planes would pass 1 GiB
        {WithFrameSize(noise, true, 16384, 13108), "Image too large"},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode<CJpegImage>(c.file);
        EXPECT_EQ(d.text, c.text);
        EXPECT_EQ(d.error, *c.text ? IMGERR_BADFORMAT : IMGERR_NONE);
    }
}

// ---- Loader, planes and error state ----

TEST(ImageLoader, PicksTheDecoderByContentAndKeepsTheLastRejection)
{
    std::mt19937 random(7);
    const SamplePicture picture = RandomPicture(3, 2, random);
    const Bytes tga = EncodeTga(picture, {2, 24, 0, 0x20, false});
    Bytes badPcx = EncodePcx(picture);
    badPcx[9] = 0x7F;  // Xmax too large: PCX rejects, TGA then reads colour-map type 5
    const struct {
        Bytes file;
        int32_t format;
        const char* text;
    } cases[] = {
        {tga, IMG_TGA, ""},
        {EncodePcx(picture), IMG_PCX, ""},
        {EncodeGifPicture(picture), IMG_GIF, ""},
        {EncodePngRgba(picture, true), IMG_PNG, ""},
        {EncodeJpegRgb(picture, 90), IMG_JPEG, ""},
        {{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0x31, 0x3B}, IMG_NONE, "Unknown Targa image type"},
        {badPcx, IMG_NONE, "Mapped image with bad color map type"},
        {{}, IMG_NONE, "Unknown Targa image type"},
    };
    for (const auto& c : cases) {
        SetImageError(IMGERR_NOMEMORY, "earlier");
        const Decoded d = Decode(c.file);
        EXPECT_EQ(d.format, c.format) << c.text;
        EXPECT_EQ(d.error, *c.text ? IMGERR_BADFORMAT : IMGERR_NONE);
        EXPECT_EQ(d.text, c.text);
        if (c.format != IMG_JPEG && c.format != IMG_NONE) {
            EXPECT_EQ(d.pixels, c.format == IMG_PNG ? picture.rgba : WithFourth(picture.rgba, c.format == IMG_TGA ? 255 : 0));
        }
    }
    ScratchDir dir;  // the file's name plays no part; an unreadable file leaves the error state
    WriteFileBytes(dir / "picture.gif", tga);
    std::unique_ptr<CImage> image(LoadImageFile((dir / "picture.gif").c_str()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->m_Format, IMG_TGA);
    for (const std::string& path : {dir / "missing.tga", dir.path()}) {
        SetImageError(IMGERR_NOMEMORY, "earlier");
        EXPECT_EQ(LoadImageFile(path.c_str()), nullptr);
        EXPECT_EQ(g_ImageError, IMGERR_NOMEMORY);
        EXPECT_STREQ(g_ImageErrorText, "earlier");
    }
}

TEST(ImageModel, PlanesAreClearedAndCappedAndErrorTextsCut)
{
    CImage image;
    EXPECT_EQ(image.m_TransIndex, -1);
    ASSERT_TRUE(image.mfSetSize(3, 2));
    image.m_pPixels[23] = 9;
    ASSERT_TRUE(image.mfSetSize(2, 3));
    EXPECT_EQ(Bytes(image.m_pPixels, image.m_pPixels + 24), Bytes(24, 0));
    EXPECT_EQ(Bytes(image.m_pIndices, image.m_pIndices + 6), Bytes(6, 0));
    // Both planes, 5 bytes a pixel, take 1 GiB at most; nothing is allocated past it.
    const int32_t sizes[][3] = {{-1, 4, 0}, {4, -1, 0}, {214748364, 1, 1}, {1, 214748365, 0},
                                {65536, 65536, 0}, {INT32_MAX, INT32_MAX, 0}, {0, INT32_MAX, 1}};
    for (const auto& s : sizes) {
        EXPECT_EQ(image.mfSetSize(s[0], s[1]), bool(s[2])) << s[0] << " x " << s[1];
        EXPECT_EQ(image.m_pPixels != nullptr && image.m_pIndices != nullptr, bool(s[2]));
        EXPECT_EQ(image.m_Width * 10 + image.m_Height, s[2] ? s[0] * 10 + s[1] : 0);
    }
    SetImageError(IMGERR_BADFORMAT, std::string(300, 'x').c_str());
    EXPECT_EQ(std::string(g_ImageErrorText), std::string(kImageErrorTextSize - 1, 'x'));
    SetImageError(IMGERR_NONE, nullptr);
    EXPECT_STREQ(g_ImageErrorText, "");
}

TEST(ImageDecoders, PrintNothing)
{
    Bytes unused;
    const Bytes png = WritePng(2, 8, false, false, &unused), jpeg = WriteJpeg(JCS_RGB, 3, JCS_YCbCr, false, false, 16);
    Bytes badCrc = png, badText = png;
    badCrc[29] ^= 1;
    const Bytes textChunk = {0, 0, 0, 1, 't', 'E', 'X', 't', 'k', 0, 0, 0, 0};  // wrong CRC: a warning
    badText.insert(badText.begin() + 33, textChunk.begin(), textChunk.end());
    std::unique_ptr<FILE, int (*)(FILE*)> captured(std::tmpfile(), std::fclose);
    ASSERT_TRUE(captured);
    std::fflush(stderr);
    const int savedStderr = dup(fileno(stderr));
    dup2(fileno(captured.get()), fileno(stderr));
    for (const Bytes& input : {Bytes(), Prefix(jpeg, jpeg.size() / 2), badCrc, badText})
        Decode(input);
    std::fflush(stderr);
    dup2(savedStderr, fileno(stderr));
    close(savedStderr);
    EXPECT_EQ(std::ftell(captured.get()), 0L);
}

TEST(DdsFormat, DxtSurfacesDescribeTheirLevelsAndHeadersRoundTrip)
{
    const struct {
        const char* code;
        int32_t width, height;
        uint64_t body;
        bool ok;
        uint32_t linearSize, mipMaps;
    } cases[] = {
        {"DXT1", 8, 8, 32, true, 32, 0},  {"DXT1", 8, 8, 56, true, 32, 4},   {"DXT1", 8, 8, 55, true, 32, 0},
        {"DXT1", 8, 8, 31, false, 0, 0},  {"DXT3", 5, 3, 32, true, 32, 0},   {"DXT5", 4, 4, 16, true, 16, 0},
        {"DXT5", 4, 4, 48, true, 16, 3},  {"DXT5", 1, 2, 32, true, 16, 2},   {"DXT2", 4, 4, 16, false, 0, 0},
        {"DXT1", 0, 4, 8, false, 0, 0},   {"DXT1", 4, 0, 8, false, 0, 0},    {"DXT1", 2, 1, 8, true, 8, 0},
    };
    for (const auto& c : cases) {
        DdsSurfaceHeader header, decoded;
        ASSERT_EQ(DescribeDxtSurface(c.code, c.width, c.height, c.body, header), c.ok) << c.code << c.body;
        if (!c.ok)
            continue;
        EXPECT_EQ(header.linearSize, c.linearSize);
        EXPECT_EQ(header.mipMapCount, c.mipMaps) << c.code << " " << c.width << "x" << c.height << " " << c.body;
        EXPECT_EQ(header.flags, 0x81007u | (c.mipMaps ? 0x20000u : 0));
        EXPECT_EQ(header.caps, 0x1000u | (c.mipMaps ? 0x400008u : 0));
        Bytes bytes(kDdsFileHeaderSize);
        EncodeDdsHeader(header, bytes.data());
        EXPECT_EQ(Prefix(bytes, 8), (Bytes{'D', 'D', 'S', ' ', 124, 0, 0, 0}));
        ASSERT_TRUE(DecodeDdsHeader(bytes.data(), bytes.size(), decoded));
        Bytes again(kDdsFileHeaderSize);
        EncodeDdsHeader(decoded, again.data());
        EXPECT_EQ(again, bytes);
        EXPECT_FALSE(DecodeDdsHeader(bytes.data(), bytes.size() - 1, decoded));
    }
}

}  // namespace
