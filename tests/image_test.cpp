// Image decoders and loader: round trips through the sample writers, hand-made edge cases, every rejection's text.
#include "image/DxtDecode.h"
#include "image/GifImage.h"
#include "image/JpegImage.h"
#include "image/PcxImage.h"
#include "image/PngImage.h"
#include "image/TgaImage.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <jpeglib.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using Decoder = CImage* (*)(const uint8_t*, uint32_t);
template <class D> CImage* Make(const uint8_t* data, uint32_t size) { return new D(data, size); }

Bytes Plane(const uint8_t* bytes, size_t size) { return bytes ? Bytes(bytes, bytes + size) : Bytes(); }

// A named input and what decoding it gives: the error text ("" for success), then the RGBA or index plane and the
// transparent index; and where given, format, depth, sides, palette and index plane.
struct Case {
    std::string name;
    Bytes file;
    std::string text;
    Bytes plane = {};
    int32_t trans = -1, format = IMG_NONE, bpp = -1, width = -1, height = -1;
    Bytes palette = {}, indices = {};
};

// Decodes an exact-size copy of the case's bytes with `decoder` and checks the outcome.
void ExpectOutcome(Decoder decoder, const Case& c, bool indexPlane, int32_t error = IMGERR_BADFORMAT)
{
    const std::unique_ptr<CImage> d(decoder(Bytes(c.file).data(), uint32_t(c.file.size())));
    EXPECT_EQ(std::string(g_ImageErrorText), c.text) << c.name;
    EXPECT_EQ(g_ImageError, c.text.empty() ? IMGERR_NONE : error) << c.name;
    if (!c.text.empty())
        return;
    ASSERT_NE(d, nullptr) << c.name;
    ASSERT_NE(d->m_pPixels, nullptr) << c.name;
    const Bytes plane = Plane(indexPlane ? d->m_pIndices : d->m_pPixels, c.plane.size());
    EXPECT_EQ(d->m_TransIndex, c.trans) << c.name;
    EXPECT_EQ(c.format == IMG_NONE ? IMG_NONE : d->m_Format, c.format) << c.name;  // where the case gives one
    EXPECT_EQ(c.bpp < 0 ? c.bpp : d->m_Bpp, c.bpp) << c.name;
    EXPECT_EQ(c.width < 0 ? c.width : d->m_Width, c.width) << c.name;
    EXPECT_EQ(c.height < 0 ? c.height : d->m_Height, c.height) << c.name;
    EXPECT_EQ(plane, c.plane) << c.name;
    EXPECT_EQ(Plane(d->m_pPalette, c.palette.size()), c.palette) << c.name;
    EXPECT_EQ(Plane(d->m_pIndices, c.indices.size()), c.indices) << c.name;
}

// Checks every case's outcome. With `quiet`, also that decoding them, failures included, writes nothing to standard
// error (the PNG and JPEG libraries would print by default); only then, as a sanitizer's report would be lost.
void ExpectOutcomes(Decoder decoder, const std::vector<Case>& cases, bool indexPlane, int32_t error = IMGERR_BADFORMAT,
                    bool quiet = false)
{
    if (quiet)
        testing::internal::CaptureStderr();
    for (const Case& c : cases)
        ExpectOutcome(decoder, c, indexPlane, error);
    if (quiet) {
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}

// Random indices in runs into `colours` entries; RGBA of their colours (5-bit values, as TGA keeps) and random alpha.
SamplePicture RandomPicture(int width, int height, std::mt19937& random, int colours)
{
    SamplePicture picture(width, height);
    for (uint8_t& value : picture.palette)
        value = uint8_t(random() % 32 * 33 / 4);
    for (size_t i = 0; i < picture.indices.size(); ++i) {
        const bool repeat = i > 0 && ((i / 200) % 2 == 1 || random() % 3 != 0);
        picture.indices[i] = repeat ? picture.indices[i - 1] : uint8_t(random() % unsigned(colours));
        std::copy_n(&picture.palette[picture.indices[i] * 3u], 3, &picture.rgba[i * 4]);
        picture.rgba[i * 4 + 3] = uint8_t(random());
    }
    return picture;
}

// A picture's pixels as a TGA variant gives them: map entries have a fourth byte 0 (as GIF and PCX give), true colour
// 255 unless stored; 8 bits are grey.
Bytes TgaExpected(const SamplePicture& picture, const TgaOptions& v)
{
    const bool mapped = (v.imageType & 7) == 1;
    const bool grey = (mapped ? v.mapEntrySize : v.pixelSize) == 8;
    Bytes out = picture.rgba;
    for (size_t i = 0; i < out.size(); i += 4) {
        if (grey)
            std::fill_n(&out[i + 1], 2, out[i]);
        if (mapped)
            out[i + 3] = 0;
        else if (v.pixelSize != 32)
            out[i + 3] = 255;
    }
    return out;
}

Bytes Interlace(const Bytes& pixels, int width, int height)
{
    Bytes sent;
    for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int row = start; row < height; row += step)
            sent.insert(sent.end(), pixels.begin() + row * width, pixels.begin() + (row + 1) * width);
    return sent;
}

const char* const kGifKinds[] = {"global table", "interlaced", "local table over a global ramp",
                                 "local table alone, interlaced"};

// The picture as GIF of kind 0 to 3 (kGifKinds), its control block making index bits * 9 transparent in kind 2.
GifLayout GifVariant(const SamplePicture& picture, int bits, int kind)
{
    GifLayout layout;
    layout.version = kind == 0 ? "GIF87a" : "GIF89a";
    layout.width = picture.width;
    layout.height = picture.height;
    layout.minCodeSize = std::max(bits, 2);
    layout.interlaced = kind % 2 == 1;
    layout.pixels = layout.interlaced ? Interlace(picture.indices, picture.width, picture.height) : picture.indices;
    layout.extensions = GifGraphicControl(kind == 2, uint8_t(bits * 9));
    const Bytes table = Prefix(picture.palette, size_t(3) << bits);
    if (kind < 2) {
        layout.globalSizeBits = bits - 1;
        layout.globalTable = table;
    } else {
        layout.globalSizeBits = kind == 2 ? 7 : -1;
        layout.localSizeBits = bits - 1;
        layout.localTable = table;
    }
    return layout;
}

// Random pictures in every variant the writers offer decode through the loader to the picture: GIF code sizes,
// tables and interlace; PCX runs and padding; TGA types and depths, each with every origin, interlace and attribute
// bits, packets across rows or not.
TEST(ImageDecoders, EveryWrittenVariantRoundTrips)
{
    const TgaOptions tgaTypes[] = {{1, 8, 24}, {1, 8, 32}, {1, 16, 15}, {1, 8, 16}, {1, 8, 8}, {2, 15, 0}, {2, 16, 0},
                                   {2, 24, 0}, {2, 32, 0}, {3, 8, 0}, {9, 8, 24}, {9, 16, 32}, {10, 16, 0},
                                   {10, 24, 0}, {10, 32, 0}, {11, 8, 0}};
    const uint8_t descriptors[] = {0, 0x20, 0x40, 0x60, 0x80, 0xA0, 0xC0, 0xE0, 8};
    std::mt19937 random(1);
    for (const auto& [width, height] : {std::pair{1, 1}, {3, 5}, {17, 2}, {130, 9}, {2, 21}, {640, 480}}) {
        for (int bits = width == 640 ? 8 : 1; bits <= 8; ++bits) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + ", " + std::to_string(bits) + " bits");
            const SamplePicture picture = RandomPicture(width, height, random, 1 << bits);
            const Bytes table = Prefix(picture.palette, size_t(3) << bits);
            const Bytes mapped = TgaExpected(picture, {1, 8, 24});
            const Bytes palette = table + Bytes(kPaletteSize - table.size(), 0);
            for (int kind = 0; kind < 4; ++kind) {
                const Bytes gif = EncodeGif(GifVariant(picture, bits, kind));
                const int32_t trans = kind == 2 ? bits * 9 : -1;
                ExpectOutcome(LoadImageMemory, {kGifKinds[kind], gif, "", mapped, trans, IMG_GIF, 0, width, height,
                                                palette, picture.indices}, false);
            }
            for (int padding = 0; bits == 8 && padding < 3; ++padding) {
                for (int run : {1, 63}) {
                    const Bytes pcx = EncodePcx(picture, {uint16_t(width + padding), run});
                    const std::string name = "PCX padding " + std::to_string(padding) + ", run " + std::to_string(run);
                    ExpectOutcome(LoadImageMemory, {name, pcx, "", mapped, -1, IMG_PCX, 0, width, height,
                                                    picture.palette, picture.indices}, false);
                }
            }
            for (size_t variant = 0; bits == 8 && width < 640 && variant < std::size(tgaTypes) * 9; ++variant) {
                TgaOptions v = tgaTypes[variant / 9];
                v.descriptor = descriptors[variant % 9];
                v.packetsInRows = variant % 2;
                const std::string name = "TGA variant " + std::to_string(variant);
                ExpectOutcome(LoadImageMemory, {name, EncodeTga(picture, v), "", TgaExpected(picture, v), -1, IMG_TGA,
                                                v.pixelSize, width, height}, false);
            }
        }
    }
}

Bytes Tga(uint8_t type, uint8_t bits, uint16_t width, uint16_t height, const Bytes& body, uint8_t mapType = 0,
          uint8_t mapSize = 0, uint16_t first = 0, uint16_t length = 0, const Bytes& map = {}, const Bytes& id = {})
{
    return TgaFile({mapType, type, first, length, mapSize, width, height, bits, 0x20, id, map}, body);
}

TEST(TgaDecoder, HandMadeFilesGiveTheirPixelsOrRejection)
{
    const char *truncated = "Truncated Targa file", *type = "Unknown Targa image type", *size = "Unknown pixel size";
    const char *mapType = "Mapped image with bad color map type", *mapSize = "Unknown colormap pixel size";
    const char* tooMany = "Too many colors in colormap";
    const Bytes rgb = Tga(2, 24, 1, 1, {});
    ExpectOutcomes(Make<CTgaImage>, {
        // white; red 1, green 16, blue 0; black with the unused top bit set
        {"16 bits", Tga(2, 16, 3, 1, {0xFF, 0x7F, 0, 6, 0, 0x80}), "",
         {255, 255, 255, 255, 8, 132, 0, 255, 0, 0, 0, 255}},
        // entries 5 and 6 stored; indices 4 (below), 6, 7 (above) and 16384 (the first past the table)
        {"indices off the map", Tga(1, 16, 4, 1, {4, 0, 6, 0, 7, 0, 0x00, 0x40}, 1, 32, 5, 2, {1, 2, 3, 4, 5, 6, 7, 8}),
         "", Bytes(4, 0) + Bytes{7, 6, 5, 0} + Bytes(8, 0)},
        {"24-bit indices take entry 0", Tga(1, 24, 2, 1, {1, 0, 0, 1, 0, 0}, 1, 24, 0, 2, {7, 8, 9, 1, 2, 3}), "",
         {9, 8, 7, 0, 9, 8, 7, 0}},
        // rows 0, 2, 1 of a two-way interlaced image stored top first; the bytes after them are no row
        {"interlaced, bytes after", TgaFile({0, 2, 0, 0, 0, 1, 3, 24, 0x60, {}, {}}, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9} +
         Bytes(3, 4)), "", {3, 2, 1, 255, 9, 8, 7, 255, 6, 5, 4, 255}},
        {"true colour skips id and map", Tga(2, 24, 1, 1, {1, 2, 3}, 1, 16, 0, 3, Bytes(6, 0xEE), ToBytes("by hand")),
         "", {3, 2, 1, 255}},
        {"cut in a raw packet", Tga(10, 24, 4, 1, {0x03, 1, 2, 3, 4, 5, 6, 7}), "", Bytes{3, 2, 1, 255, 6, 5, 4, 255} +
         Bytes(8, 0)},
        {"cut before a header", Tga(10, 24, 4, 1, {0x81, 1, 2, 3}), "", Bytes{3, 2, 1, 255, 3, 2, 1, 255} + Bytes(8)},
        {"cut in a repeat", Tga(10, 24, 4, 1, {0x00, 1, 2, 3, 0x82, 4, 5}), "", Bytes{3, 2, 1, 255} + Bytes(12, 0)},
        {"empty, largest map", Tga(1, 8, 0, 0, {}, 1, 8, 16000, 382, Bytes(382, 0)), ""},
        {"type 4", Tga(4, 24, 1, 1, {}), type}, {"type 0", Tga(0, 24, 1, 1, {}), type},
        {"12-bit colour", Tga(2, 12, 1, 1, {}), size}, {"12-bit index", Tga(1, 12, 1, 1, {}, 1, 24), size},
        {"0-bit grey", Tga(11, 0, 1, 1, {}), size}, {"no map", Tga(1, 8, 1, 1, {}, 0, 24), mapType},
        {"map type 2", Tga(9, 8, 1, 1, {}, 2, 24), mapType}, {"12-bit map", Tga(1, 8, 1, 1, {}, 1, 12), mapSize},
        {"7-bit map", Tga(2, 24, 1, 1, {}, 1, 7), mapSize},
        {"map end", Tga(1, 8, 1, 1, {}, 1, 24, 16000, 383), tooMany},
        {"long map", Tga(2, 24, 1, 1, {}, 1, 24, 0, 16383), tooMany},
        {"map cut", Tga(1, 8, 0, 0, Bytes(11, 0), 1, 24, 0, 4), truncated},
        {"65535 square", Tga(2, 24, 65535, 65535, Bytes(22, 0)), truncated},
        {"65535 square packed", Tga(10, 24, 65535, 65535, Bytes(22, 0)), truncated},
        {"pixels cut", Tga(2, 24, 2, 2, Bytes(11, 0)), truncated}, {"2 bytes", Prefix(rgb, 2), type},
        {"header cut", Prefix(rgb, 17), truncated},
        // run-length data that could fill 20000 x 20000 pixels, whose planes would pass 1 GiB
        {"planes past 1 GiB", Tga(11, 8, 20000, 20000, Bytes(6250000, 0xFF)), "Image too large"}}, false);
}

// A PCX file by hand: 8-bit, one plane, run-length encoded, with the given window, line length and body, then
// `paletteSize` bytes for the marker and palette.
constexpr size_t kPcxVersionAt = 1, kPcxEncodingAt = 2, kPcxBitsAt = 3, kPcxXmaxAt = 8, kPcxPlanesAt = 65;
Bytes Pcx(uint16_t xmax, uint16_t ymax, uint16_t bytesPerLine, const Bytes& body, size_t paletteSize = 769)
{
    Bytes file = {10, 5, 1, 8, 0, 0, 0, 0};  // manufacturer, version, encoding, bits; xmin and ymin
    AppendU16(file, xmax);
    AppendU16(file, ymax);
    file.resize(kPcxPlanesAt);
    file.push_back(1);
    AppendU16(file, bytesPerLine);
    file.resize(128);
    return file + body + Bytes(paletteSize, 0);
}

// Runs of 63 pixels of index 7.
Bytes Runs(size_t count)
{
    Bytes body;
    for (size_t i = 0; i < count; ++i)
        body.insert(body.end(), {0xFF, 7});
    return body;
}

Bytes With(Bytes file, size_t at, uint8_t value)
{
    file.at(at) = value;
    return file;
}

TEST(PcxDecoder, HandMadeFilesGiveTheirIndicesOrRejection)
{
    const Bytes pcx = Pcx(0, 0, 1, {5});
    const char *notPcx = "not a PCX file", *cut = "truncated PCX file";
    ExpectOutcomes(Make<CPcxImage>, {
        {"runs", Pcx(4, 1, 5, {0xC5, 9, 0xC5, 3}), "", {9, 9, 9, 9, 9, 3, 3, 3, 3, 3}},
        {"a run's surplus dropped", Pcx(2, 1, 3, {0xC5, 9, 1, 2, 3}), "", {9, 9, 9, 1, 2, 3}},
        {"an empty run takes its value", Pcx(1, 0, 2, {0xC0, 9, 4, 0xC1, 0xC0}), "", {4, 0xC0}},
        {"runs into the padding", Pcx(2, 1, 4, {0xC4, 8, 0xC4, 7}), "", {8, 8, 8, 7, 7, 7}},
        {"lines below the width", Pcx(2, 0, 1, {1, 2, 3}), "", {1, 2, 3}},
        {"rows never reached", Pcx(3, 1, 4, {1, 2}), "", {1, 2, 0, 0, 0, 0, 0, 0}},
        {"64 pixels of three bytes", Pcx(63, 0, 64, {0xFF, 1}), "", Bytes(63, 1) + Bytes{0}},
        {"65 pixels of three", Pcx(64, 0, 65, {0xFF, 1}), cut}, {"a third", Pcx(99, 9, 100, Bytes(30, 0xFF)), cut},
        {"palette cut", Pcx(0, 0, 1, {5}, 700), cut}, {"header cut", Prefix(pcx, 127), notPcx},
        {"maker 11", With(pcx, 0, 11), notPcx}, {"version 3", With(pcx, kPcxVersionAt, 3), notPcx},
        {"no encoding", With(pcx, kPcxEncodingAt, 0), notPcx}, {"4 bits", With(pcx, kPcxBitsAt, 4), notPcx},
        {"3 planes", With(pcx, kPcxPlanesAt, 3), notPcx},
        // every side the extractor writes, up to 65535; the planes' cap of 1 GiB still holds
        {"640 wide", Pcx(640, 0, 641, Runs(11)), "", Bytes(641, 7)},
        {"481 high", Pcx(0, 480, 1, Runs(481)), "", Bytes(481, 7)},
        {"65535 wide", Pcx(65534, 0, 65535, Runs(1041)), "", Bytes(65535, 7)},
        {"65536 wide", Pcx(0xFFFF, 0, 0, Runs(1041)), notPcx}, {"65536 high", Pcx(0, 0xFFFF, 1, Runs(65536)), notPcx},
        {"planes past 1 GiB", Pcx(65534, 3300, 65535, Runs(3434000)), "Image too large"}}, true);
}

// 4 x 3 pixels over a global ramp of four colours, as GIF with `change` made to its layout.
template <class Change> Bytes Gif(Change change)
{
    GifLayout layout;
    layout.pixels = {0, 1, 2, 3, 3, 3, 2, 1, 0, 0, 1, 1};
    change(layout);
    return EncodeGif(layout);
}

Bytes GifAround(const Bytes& blocks, const Bytes& after = {0x3B})
{
    return Gif([&](GifLayout& layout) {
        layout.extensions = blocks;
        layout.after = after;
    });
}

// Image data as given, for a picture of the given sides and code size.
Bytes GifCodes(const Bytes& data, int width = 4, int height = 3, int bits = 2)
{
    return Gif([&](GifLayout& layout) {
        layout.codes = data;
        layout.width = width;
        layout.height = height;
        layout.minCodeSize = bits;
        layout.globalSizeBits = std::clamp(bits - 1, 1, 7);
    });
}

TEST(GifDecoder, HandMadeFilesGiveTheirIndicesOrRejection)
{
    const Bytes comment = {0x21, 0xFE, 3, 'h', 'i', '!', 0};
    const Bytes plain = {0x21, 0x01, 2, 9, 9, 1, 'x', 0};
    const Bytes application = Bytes{0x21, 0xFF, 11} + ToBytes("NETSCAPE2.0") + Bytes{3, 1, 0, 0, 0};
    const Bytes px = {0, 1, 2, 3, 3, 3, 2, 1, 0, 0, 1, 1};
    const Bytes column = {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2};  // 1 x 12, interlaced in four passes
    const Bytes flat(1027 * 513, 1);
    const Bytes good = Gif([](GifLayout&) {});
    const Bytes head = Prefix(good, 25);
    const Bytes frame(good.begin() + 25, good.end());
    std::mt19937 random(6);
    const Bytes noise = RandomPicture(160, 120, random, 256).indices;
    const char *tooLittle = "corrupt GIF file (too little image data for its size)", *bad = "corrupt GIF89a file";
    const char *outCount = "Corrupt GIF file (OutCount)!", *codeSize = "corrupt GIF file (bad LZW code size)";
    const char *screen = "corrupt GIF file (bad screen descriptor)", *notGif = "not a GIF file";
    ExpectOutcomes(Make<CGifImage>, {
        {"comment, text, application", GifAround(comment + plain + application), "", px},
        {"first control block", GifAround(GifGraphicControl(true, 2) + GifGraphicControl(false, 5)), "", px, 2},
        {"last control block", GifAround(GifGraphicControl(true, 2) + comment + GifGraphicControl(true, 5)), "", px, 5},
        {"longer control block", GifAround({0x21, 0xF9, 6, 1, 0, 0, 4, 0, 0, 0}), "", px, 4},
        // an animation: only the first frame counts, with its own control block
        {"animation", GifAround(GifGraphicControl(false, 0), GifGraphicControl(true, 1) + frame), "", px},
        {"no end code", GifCodes(LzwEncode(px, 2, {true, false, true})), "", px},
        {"data for more", GifCodes(LzwEncode(px + px, 2)), "", px},
        {"interlaced, data for more", Gif([&](GifLayout& layout) {
             layout.width = 1;
             layout.height = 12;
             layout.interlaced = true;
             layout.codes = LzwEncode(Interlace(column, 1, 12) + Bytes(12, 3), 2);
         }), "", column},
        {"data for half", GifCodes(LzwEncode(Prefix(px, 6), 2)), "", Prefix(px, 6) + Bytes(6, 0)},
        {"widest codes: a clear only", GifCodes({0x00, 0x08}, 1, 1, 11), "", {0}},
        {"no columns", GifCodes({0xFF}, 0, 3), ""}, {"no rows", GifCodes({0xFF}, 4, 0), ""},  // data never decoded
        {"table kept full", GifCodes(LzwEncode(noise, 8, {true, true, false}), 160, 120, 8), "", noise},
        // strings of 1, 2, 3, ... pixels: 1025 x 513 end with 1025, the longest allowed; 1027 x 513 need one of 1026
        {"longest string", GifCodes(LzwEncode(Prefix(flat, 1025 * 513), 2), 1025, 513), "", Prefix(flat, 1025 * 513)},
        {"string too long", GifCodes(LzwEncode(flat, 2), 1027, 513), outCount},
        {"no room for the index", head + Bytes{0x21, 0xF9, 4, 1, 0}, bad}, {"extension cut", head + Bytes{0x21}, bad},
        {"no image", GifAround({0x3B}, {}), bad},
        {"local table cut", head + Bytes{0x2C, 0, 0, 0, 0, 4, 0, 3, 0, 0x81, 1, 2}, bad},
        {"extension 2", GifAround({0x21, 0x02, 0}), "invalid GIF89 extension"}, {"no bytes", Bytes(), notGif},
        {"GIF88a", ToBytes("GIF88a") + Bytes(good.begin() + 6, good.end()), notGif},
        {"no table", Gif([](GifLayout& layout) { layout.globalSizeBits = -1; }), "GIF file without a colour table"},
        {"aspect", Gif([](GifLayout& layout) { layout.aspect = 49; }), screen},
        {"screen cut", Prefix(good, 24), screen},
        {"data cut", Prefix(good, good.size() - 2), "corrupt GIF file (unblock)"},
        {"code size 12", GifCodes({0}, 4, 3, 12), codeSize}, {"code size 0", GifCodes({0}, 4, 3, 0), codeSize},
        {"no leading clear", GifCodes(LzwEncode(px, 2, {false, true, true})), outCount},
        {"clear, 1, 7: no entry yet", GifCodes({0xCC, 0x01}), outCount},
        // n codes give at most 1 + 2 + ... + n pixels up to n = 1025, then 1025 each
        {"8 codes, 36 pixels", GifCodes(Bytes(8, 0), 6, 6, 7), outCount},
        {"8 codes, 37 pixels", GifCodes(Bytes(8, 0), 37, 1, 7), tooLittle},
        {"1240 x 1230", GifCodes(Bytes(2000, 0), 1240, 1230, 7), outCount},
        {"101 x 15101", GifCodes(Bytes(2000, 0), 101, 15101, 7), tooLittle},
        // too few codes for 60000 x 60000 pixels; enough for 16384 x 13108, whose planes would pass 1 GiB
        {"60000 square", GifCodes(LzwEncode(px, 2), 60000, 60000), tooLittle},
        {"planes past 1 GiB", GifCodes(Bytes(80000, 0), 16384, 13108), "Image too large"},
    }, true);
}

// The loader tries the decoders in order and takes the first that does not refuse; a success clears an earlier failure.
TEST(ImageLoader, TakesTheFirstDecoderThatDoesNotRefuse)
{
    SetImageError(IMGERR_NOMEMORY, "earlier");
    std::mt19937 random(7);
    const SamplePicture picture = RandomPicture(3, 2, random, 256);
    Bytes badPcx = EncodePcx(picture);
    badPcx[kPcxXmaxAt + 1] = 0x7F;  // Xmax past what the data fills: PCX refuses, TGA then reads colour-map type 5
    ExpectOutcomes(LoadImageMemory, {
        {"TGA", EncodeTga(picture, {2, 24, 0, 0x20, false}), "", TgaExpected(picture, {2, 24}), -1, IMG_TGA, 24},
        {"a damaged PCX", badPcx, "Mapped image with bad color map type"}, {"no bytes", {}, "Unknown Targa image type"},
    }, false);
}

// Palette entry i is 3i + 11, 3i + 12, 3i + 13; tRNS gives entries 0 to 2 alpha 1, 6, 11; grey and RGB keys none.
TEST(PngDecoder, EveryColourKindGivesRgba)
{
    const struct { const char* name; int type, depth, trns; Bytes row, rgba; } kinds[] = {
        {"grey, 1 bit", 0, 1, 0, {1, 0}, {255, 255, 255, 0, 0, 0, 0, 0}},
        {"grey, 4 bits", 0, 4, 0, {1, 14}, {17, 17, 17, 0, 238, 238, 238, 0}},
        {"grey, 16 bits", 0, 16, 0, {0x12, 0x34, 0xAB, 0xCD}, {0x12, 0x12, 0x12, 0, 0xAB, 0xAB, 0xAB, 0}},
        {"grey and alpha", 4, 8, 0, {7, 9, 200, 100}, {7, 7, 7, 9, 200, 200, 200, 100}},
        {"RGB with a key", 2, 8, 1, {0, 0, 0, 1, 2, 3}, {0, 0, 0, 0, 1, 2, 3, 0}},
        {"RGBA, 16 bits", 6, 16, 0, {1, 9, 2, 9, 3, 9, 4, 9, 5, 9, 6, 9, 7, 9, 8, 9}, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"palette, 1 bit", 3, 1, 0, {1, 0}, {14, 15, 16, 0, 11, 12, 13, 0}},
        {"palette, 2 bits, tRNS", 3, 2, 1, {3, 0}, {20, 21, 22, 255, 11, 12, 13, 1}},
        {"palette, 8 bits, tRNS", 3, 8, 1, {2, 200}, {17, 18, 19, 11, 99, 100, 101, 255}}};
    std::vector<Case> cases;
    for (const auto& k : kinds) {
        const bool mapped = k.type == 3;
        const Bytes palette = mapped ? ColourRamp(1 << k.depth, 1) : Bytes();
        const Bytes alpha = mapped && k.trns ? Bytes{1, 6, 11} : Bytes();
        const int32_t bpp = k.type >= 4 || (mapped && k.trns) ? 32 : 24;
        for (bool interlaced : {false, true}) {
            const PngLayout layout = {2, 1, k.type, k.depth, interlaced, palette, alpha, k.trns && !mapped};
            const Bytes file = EncodePng(layout, {k.row});
            cases.push_back({k.name + std::string(interlaced ? ", interlaced" : ""), file, "", k.rgba, -1, IMG_PNG, bpp,
                             2});
        }
    }
    ExpectOutcomes(LoadImageMemory, cases, false);
}

// 16 x 16 pixels, the top half one value and the bottom half another.
Bytes Halves(const Bytes& top, const Bytes& bottom)
{
    Bytes out;
    for (int i = 0; i < 256; ++i)
        out.insert(out.end(), (i < 128 ? top : bottom).begin(), (i < 128 ? top : bottom).end());
    return out;
}

Bytes WriteJpeg(int space, const Bytes& top, const Bytes& bottom, bool arithmetic = false, bool progressive = false)
{
    return EncodeJpeg({16, 16, int(top.size()), space, space, 100, progressive, arithmetic}, Halves(top, bottom));
}

// Flat 8 x 8 blocks at quality 100 without subsampling come back exactly; CMYK is scaled by K.
TEST(JpegDecoder, FlatBlocksOfEveryColourSpaceDecodeExactly)
{
    const struct { const char* name; int space; Bytes top, bottom, topRgba, bottomRgba; } spaces[] = {
        {"RGB", JCS_RGB, {200, 40, 90}, {10, 250, 128}, {200, 40, 90, 0}, {10, 250, 128, 0}},
        {"grey", JCS_GRAYSCALE, {77}, {201}, {77, 77, 77, 0}, {201, 201, 201, 0}},
        {"CMYK", JCS_CMYK, {200, 100, 50, 255}, {255, 40, 0, 102}, {200, 100, 50, 0}, {102, 16, 0, 0}}};
    std::vector<Case> cases;
    for (const auto& k : spaces) {
        for (bool progressive : {false, true}) {
            const Bytes file = WriteJpeg(k.space, k.top, k.bottom, false, progressive);
            const std::string name = k.name + std::string(progressive ? ", progressive" : "");
            cases.push_back({name, file, "", Halves(k.topRgba, k.bottomRgba), -1, IMG_JPEG, 24});
        }
    }
    ExpectOutcomes(LoadImageMemory, cases, false);
}

void PutBigEndian(Bytes& bytes, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = uint8_t(value >> (24 - 8 * i));
}

// The PNG file with other sides in its header, whose CRC is made to fit (or spoiled by `crcFlip`).
Bytes Resized(Bytes png, uint32_t width, uint32_t height, uint32_t crcFlip = 0)
{
    constexpr size_t kHeaderChunkAt = 12, kWidthAt = 16, kHeightAt = 20, kCrcAt = 29;  // type, fields, CRC
    PutBigEndian(png, kWidthAt, width);
    PutBigEndian(png, kHeightAt, height);
    PutBigEndian(png, kCrcAt, uint32_t(crc32(0, &png[kHeaderChunkAt], kCrcAt - kHeaderChunkAt)) ^ crcFlip);
    return png;
}

// After its signature a PNG file's failure stops the loader's chain; the library prints nothing.
TEST(PngDecoder, RefusesFilesItCannotDecodeWhole)
{
    const Bytes png = EncodePng({1, 1, 0, 1, false, {}, {}, false}, {{0}});
    std::vector<Case> cases = {
        {"a header CRC error", Resized(png, 1, 1, 1), "IHDR: CRC error"},
        {"30000 x 30000", Resized(png, 30000, 30000), "Image too large"},
        // 16384 x 13108 one-bit pixels could inflate from 27000 bytes, but the planes would pass 1 GiB.
        {"planes past 1 GiB", Resized(png, 16384, 13108) + Bytes(27000, 0), "Image too large"}};
    for (size_t length = 1; length < png.size(); ++length)
        cases.push_back({"cut to " + std::to_string(length), Prefix(png, length), "Read Error"});
    ExpectOutcomes(LoadImageMemory, cases, false, IMGERR_NOMEMORY, true);
    ExpectOutcomes(Make<CPngImage>, {{"no bytes", {}, "Not a PNG file"}}, false);
}

// The JPEG file with both sides of its frame set to `side` (5 bytes into the frame).
Bytes WithSide(Bytes file, bool arithmetic, uint16_t side)
{
    const Bytes marker = {0xFF, uint8_t(arithmetic ? 0xC9 : 0xC0)};
    const auto frame = std::search(file.begin(), file.end(), marker.begin(), marker.end());
    const Bytes sides = {uint8_t(side >> 8), uint8_t(side), uint8_t(side >> 8), uint8_t(side)};
    std::copy(sides.begin(), sides.end(), frame + 5);
    return file;
}

// Huffman-coded data holds at most 2048 pixels a byte, arithmetic-coded 65536; the library prints nothing.
TEST(JpegDecoder, RefusesSidesItsDataCannotFill)
{
    std::mt19937 random(8);
    const Bytes huffman = WriteJpeg(JCS_GRAYSCALE, {1}, {2});
    const Bytes arithmetic = WriteJpeg(JCS_GRAYSCALE, {1}, {2}, true);
    const Bytes noisy = EncodeJpegRgb(RandomPicture(32, 32, random, 256), 90);
    const Bytes large = EncodeJpeg({128, 128, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, 100, false, true},
                                   RandomPicture(128, 128, random, 256).indices);
    const auto huffmanSide = uint16_t(std::sqrt(huffman.size() * 2048.0));
    const auto arithmeticSide = uint16_t(std::sqrt(arithmetic.size() * 65536.0));
    const char* tooLarge = "JPEG image too large for its data";
    ExpectOutcomes(Make<CJpegImage>, {
        {"plain text", ToBytes("plain text"), "Not a JPEG file: starts with 0x70 0x6c"},
        {"Huffman, as large as it may be", WithSide(huffman, false, huffmanSide), ""},
        {"Huffman, one larger", WithSide(huffman, false, uint16_t(huffmanSide + 1)), tooLarge},
        {"arithmetic, as large as it may be", WithSide(arithmetic, true, arithmeticSide), ""},
        {"arithmetic, one larger", WithSide(arithmetic, true, uint16_t(arithmeticSide + 1)), tooLarge},
        {"cut in half: the library's warning goes nowhere", Prefix(noisy, noisy.size() / 2), ""},
        {"15000 x 15000, whose planes would pass 1 GiB", WithSide(large, true, 15000), "Image too large"},
    }, false, IMGERR_BADFORMAT, true);
}

// Both DXT1 modes, DXT3's and DXT5's alphas, a block cut by the right edge; codes, sides and data that do not make a
// level are refused. Red is 0xF800, blue 0x001F; rows take indices 0 to 3.
TEST(DxtDecoding, BlocksDecodeToRgbaUnlessTheyMakeNoLevel)
{
    const Bytes redBlue = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4};
    const Bytes blueRed = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0xE4, 0xE4, 0xE4};
    const Bytes fourColours = {255, 0, 0, 255, 0, 0, 255, 255, 170, 0, 85, 255, 85, 0, 170, 255};
    const Bytes dxt5Alpha = {255, 0, 0x3A, 0, 0, 0, 0, 0};  // alphas 255 and 0; texels take codes 2 and 7
    const struct { const char* name; const char* code; int32_t width, height; Bytes data, rgba; } cases[] = {
        {"dxt1 four colours", "DXT1", 4, 1, redBlue, fourColours},
        {"dxt1 three colours and transparent", "DXT1", 4, 1, blueRed,
         {0, 0, 255, 255, 255, 0, 0, 255, 127, 0, 127, 255, 0, 0, 0, 0}},
        {"dxt3 nibbles", "DXT3", 2, 1, Bytes{0x21, 0xF0, 0, 0, 0, 0, 0, 0} + blueRed, {0, 0, 255, 17, 255, 0, 0, 34}},
        {"dxt5 interpolated", "DXT5", 2, 1, dxt5Alpha + redBlue, {255, 0, 0, 218, 0, 0, 255, 36}},
        {"right edge", "DXT1", 5, 1, redBlue + blueRed, fourColours + Bytes{0, 0, 255, 255}},
        {"unknown code", "DXT2", 4, 1, Bytes(16, 0), {}}, {"no width", "DXT1", 0, 4, redBlue, {}},
        {"negative height", "DXT1", 4, -4, redBlue, {}}, {"data short", "DXT5", 4, 4, Bytes(15, 0), {}},
        {"two blocks, one given", "DXT1", 4, 5, redBlue, {}},
        {"past the cap", "DXT1", 16384, 16385, Bytes(64, 0), {}}};
    for (const auto& c : cases) {
        const auto pixels = DecodeDxtTopLevel(c.code, c.width, c.height, c.data.data(), c.data.size());
        EXPECT_EQ(pixels != nullptr, !c.rgba.empty()) << c.name;
        EXPECT_EQ(Plane(pixels.get(), c.rgba.size()), c.rgba) << c.name;
    }
}

// Both planes, 5 bytes a pixel, take 1 GiB at most; past it, or for a negative side, the image is left without
// planes and with sides 0, also after a size that was made. Planes start as zeros.
TEST(ImageModel, PlanesAreCappedAtOneGibibyte)
{
    const struct { const char* name; int32_t width, height; bool made; } cases[] = {
        {"negative width", -1, 4, false}, {"negative height", 4, -1, false}, {"1 GiB wide", 214748364, 1, true},
        {"past 1 GiB high", 1, 214748365, false}, {"65536 x 65536", 65536, 65536, false},
        {"the largest sides", INT32_MAX, INT32_MAX, false}, {"no pixels", 0, INT32_MAX, true}, {"2 x 3", 2, 3, true}};
    CImage image;
    for (const auto& c : cases) {
        EXPECT_EQ(image.mfSetSize(c.width, c.height), c.made) << c.name;
        EXPECT_EQ(image.m_pPixels != nullptr, c.made) << c.name;
        EXPECT_EQ(image.m_pIndices != nullptr, c.made) << c.name;
        EXPECT_EQ(image.m_Width, c.made ? c.width : 0) << c.name;
        EXPECT_EQ(image.m_Height, c.made ? c.height : 0) << c.name;
    }
    EXPECT_EQ(Plane(image.m_pPixels, 24) + Plane(image.m_pIndices, 6), Bytes(30, 0));
}

}  // namespace
