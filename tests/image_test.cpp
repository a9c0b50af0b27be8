// Image decoders and loader: round trips through the sample writers, hand-made edge cases, every rejection's text.
#include "image/DxtDecode.h"
#include "image/GifImage.h"
#include "image/JpegImage.h"
#include "image/PcxImage.h"
#include "image/PngImage.h"
#include "image/TgaImage.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

namespace {

using Decoder = CImage* (*)(const uint8_t*, uint32_t);
template <class D> CImage* Make(const uint8_t* data, uint32_t size) { return new D(data, size); }
// Decodes an exact-size copy of the bytes with one decoder, or the loader's chain by default.
std::unique_ptr<CImage> Decode(const Bytes& file, Decoder decoder = LoadImageMemory)
{
    return std::unique_ptr<CImage>(decoder(Bytes(file).data(), uint32_t(file.size())));
}
Bytes Plane(const uint8_t* bytes, size_t size) { return bytes ? Bytes(bytes, bytes + size) : Bytes(); }
// An input and its outcome: the error text ("" for success), then the RGBA or index plane, transparent index, format,
// depth and width when given.
struct Case {
    Bytes file;
    std::string text;
    Bytes plane = {};
    int32_t trans = -1, format = IMG_NONE, bpp = -1, width = -1;
};
// Checks every case's outcome. With `quiet`, also that decoding them, failures included, writes nothing to standard
// error (the PNG and JPEG libraries would print by default); only then, as a sanitizer's report would be lost.
void ExpectOutcomes(Decoder decoder, const std::vector<Case>& cases, bool indexPlane, int32_t error = IMGERR_BADFORMAT,
                    bool quiet = false)
{
    std::unique_ptr<FILE, int (*)(FILE*)> captured(std::tmpfile(), std::fclose);
    std::fflush(stderr);
    const int savedStderr = quiet ? dup(fileno(stderr)) : -1;
    ASSERT_TRUE(captured && (!quiet || dup2(fileno(captured.get()), fileno(stderr)) >= 0));
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::unique_ptr<CImage> d = Decode(c.file, decoder);
        const bool ok = c.text.empty() && d && d->m_pPixels;
        const size_t size = ok ? size_t(d->m_Width) * size_t(d->m_Height) * (indexPlane ? 1 : 4) : 0;
        const Bytes plane = ok ? Plane(indexPlane ? d->m_pIndices : d->m_pPixels, size) : Bytes();
        EXPECT_TRUE(g_ImageErrorText == c.text && g_ImageError == (ok ? IMGERR_NONE : error) &&
                    (!c.text.empty() || (ok && d->m_TransIndex == c.trans && (!c.format || d->m_Format == c.format) &&
                                         (c.bpp < 0 || d->m_Bpp == c.bpp) && (c.width < 0 || d->m_Width == c.width) &&
                                         (c.plane.empty() || plane == c.plane))))
            << "case " << i << ": " << g_ImageErrorText;
    }
    std::fflush(stderr);
    if (quiet)
        dup2(savedStderr, fileno(stderr)), close(savedStderr);
    EXPECT_EQ(std::fseek(captured.get(), 0, SEEK_END) == 0 ? std::ftell(captured.get()) : -1L, 0L);
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
// A TGA variant's pixels: map entries have a fourth byte 0 (as GIF and PCX give), true colour 255 unless stored,
// 8 bits are grey.
Bytes TgaExpected(const SamplePicture& picture, const TgaOptions& v)
{
    const bool mapped = (v.imageType & 7) == 1, grey = (mapped ? v.mapEntrySize : v.pixelSize) == 8;
    Bytes out = picture.rgba;
    for (size_t i = 0; i < out.size(); i += 4) {
        out[i + 1] = out[i + (grey ? 0 : 1)], out[i + 2] = out[i + (grey ? 0 : 2)];
        out[i + 3] = mapped ? 0 : v.pixelSize == 32 ? out[i + 3] : 255;
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
// Random pictures in every variant the writers offer (TGA types, depths, origins, interlace; PCX runs and padding;
// GIF code sizes, tables, interlace) decode through the loader to the picture.
TEST(ImageDecoders, EveryWrittenVariantRoundTrips)
{
    const TgaOptions tgaVariants[] = {{1, 8, 24}, {1, 8, 32}, {1, 16, 15}, {1, 8, 16}, {1, 8, 8}, {2, 15, 0},
                                      {2, 16, 0}, {2, 24, 0}, {2, 32, 0}, {3, 8, 0}, {9, 8, 24}, {9, 16, 32},
                                      {10, 16, 0}, {10, 24, 0}, {10, 32, 0}, {11, 8, 0}};
    const uint8_t descriptors[] = {0, 0x20, 0x40, 0x60, 0x80, 0xA0, 0xC0, 0xE0, 8};  // origins, interlace, attributes
    std::mt19937 random(1);
    for (const auto& [width, height] : {std::pair{1, 1}, {3, 5}, {17, 2}, {130, 9}, {2, 21}, {640, 480}}) {
        for (int bits = width == 640 ? 8 : 1; bits <= 8; ++bits) {
            const SamplePicture picture = RandomPicture(width, height, random, 1 << bits);
            const Bytes table = Prefix(picture.palette, size_t(3) << bits), gifPcx = TgaExpected(picture, {1, 8, 24});
            auto expect = [&](const Bytes& file, int32_t format, size_t variant, const Bytes& pixels,
                              const Bytes& palette = {}, int32_t bpp = 0, int32_t trans = -1) {
                const std::unique_ptr<CImage> d = Decode(file);
                EXPECT_TRUE(g_ImageError == IMGERR_NONE && d && d->m_Format == format && d->m_Width == width &&
                            d->m_Height == height && d->m_Bpp == bpp && d->m_TransIndex == trans &&
                            Plane(d->m_pPixels, pixels.size()) == pixels &&
                            Plane(d->m_pPalette, kPaletteSize) == palette &&
                            (palette.empty() || Plane(d->m_pIndices, picture.indices.size()) == picture.indices))
                    << width << "x" << height << ", " << bits << " bits, format " << format << " variant " << variant;
            };
            // global table; interlaced; local table over a global ramp; local table alone, interlaced
            for (int kind = 0; kind < 4; ++kind) {
                GifLayout s;
                s.width = width, s.height = height, s.minCodeSize = std::max(bits, 2), s.interlaced = kind & 1;
                s.globalSizeBits = kind > 2 ? -1 : kind > 1 ? 7 : bits - 1, s.localSizeBits = kind > 1 ? bits - 1 : -1;
                (kind > 1 ? s.localTable : s.globalTable) = table, s.version = kind ? "GIF89a" : "GIF87a";
                s.pixels = s.interlaced ? Interlace(picture.indices, width, height) : picture.indices;
                s.extensions = GifGraphicControl(kind == 2, uint8_t(bits * 9));
                expect(EncodeGif(s), IMG_GIF, size_t(kind), gifPcx, table + Bytes(kPaletteSize - table.size(), 0), 0,
                       kind == 2 ? bits * 9 : -1);
            }
            for (size_t pcx = 0; bits == 8 && pcx < 6; ++pcx)  // runs of up to 1 or 63, padding of 0 to 2 bytes
                expect(EncodePcx(picture, {uint16_t(width + pcx / 2), pcx % 2 ? 63 : 1}), IMG_PCX, pcx, gifPcx,
                       picture.palette);
            for (size_t variant = 0; bits == 8 && width < 640 && variant < std::size(tgaVariants) * 9; ++variant) {
                TgaOptions v = tgaVariants[variant / 9];
                v.descriptor = descriptors[variant % 9], v.packetsInRows = variant % 2;
                expect(EncodeTga(picture, v), IMG_TGA, variant, TgaExpected(picture, v), {}, v.pixelSize);
            }
        }
    }
}
Bytes Tga(uint8_t type, uint8_t bits, uint16_t width, uint16_t height, const Bytes& body, uint8_t mapType = 0,
          uint8_t mapSize = 0, uint16_t first = 0, uint16_t length = 0, const Bytes& map = {}, const Bytes& id = {})
{
    return TgaFile({mapType, type, first, length, mapSize, width, height, bits, 0x20, id, map}, body);
}
Bytes Pcx(uint16_t xmax, uint16_t ymax, uint16_t bytesPerLine, const Bytes& body, size_t paletteSize = 769)
{
    Bytes out(128, 0);
    out[0] = 10, out[1] = 5, out[2] = 1, out[3] = 8, out[65] = 1;
    for (const auto& [at, value] : {std::pair{8, xmax}, {10, ymax}, {66, bytesPerLine}})
        out[size_t(at)] = uint8_t(value), out[size_t(at) + 1] = uint8_t(value >> 8);
    return out + body + Bytes(paletteSize, 0);
}

// Hand-made TGA, PCX and GIF files: edge cases of each layout, and the text of every rejection.
TEST(ImageDecoders, HandMadeFilesAndEveryRejectionText)
{
    const char *truncated = "Truncated Targa file", *type = "Unknown Targa image type", *size = "Unknown pixel size";
    const char *mapType = "Mapped image with bad color map type", *mapSize = "Unknown colormap pixel size";
    const char* tooMany = "Too many colors in colormap";
    ExpectOutcomes(Make<CTgaImage>, {
        // white; red 1, green 16, blue 0; black with the unused top bit set
        {Tga(2, 16, 3, 1, {0xFF, 0x7F, 0, 6, 0, 0x80}), "", {255, 255, 255, 255, 8, 132, 0, 255, 0, 0, 0, 255}},
        // entries 5 and 6 stored; indices 4 (below), 6, 7 (above) and 40000 (past the table)
        {Tga(1, 16, 4, 1, {4, 0, 6, 0, 7, 0, 0x40, 0x9C}, 1, 32, 5, 2, {1, 2, 3, 4, 5, 6, 7, 8}), "",
         Bytes(4, 0) + Bytes{7, 6, 5, 0} + Bytes(8, 0)},
        // 24-bit values of a mapped image all take entry 0; a true-colour image's identifier and map are skipped
        {Tga(1, 24, 2, 1, {1, 0, 0, 1, 0, 0}, 1, 24, 0, 2, {7, 8, 9, 1, 2, 3}), "", {9, 8, 7, 0, 9, 8, 7, 0}},
        {Tga(2, 24, 1, 1, {1, 2, 3}, 1, 16, 0, 3, Bytes(6, 0xEE), ToBytes("by hand")), "", {3, 2, 1, 255}},
        // run-length data cut inside a raw packet, before a packet header, inside a repeat value
        {Tga(10, 24, 4, 1, {0x03, 1, 2, 3, 4, 5, 6, 7}), "", Bytes{3, 2, 1, 255, 6, 5, 4, 255} + Bytes(8, 0)},
        {Tga(10, 24, 4, 1, {0x81, 1, 2, 3}), "", Bytes{3, 2, 1, 255, 3, 2, 1, 255} + Bytes(8, 0)},
        {Tga(10, 24, 4, 1, {0x00, 1, 2, 3, 0x82, 4, 5}), "", Bytes{3, 2, 1, 255} + Bytes(12, 0)},
        {Tga(1, 8, 0, 0, {}, 1, 8, 16000, 382, Bytes(382, 0)), ""}, {Tga(4, 24, 1, 1, {}), type},
        {Tga(0, 24, 1, 1, {}), type}, {Tga(2, 12, 1, 1, {}), size}, {Tga(1, 12, 1, 1, {}, 1, 24), size},
        {Tga(11, 0, 1, 1, {}), size}, {Tga(1, 8, 1, 1, {}, 0, 24), mapType}, {Tga(9, 8, 1, 1, {}, 2, 24), mapType},
        {Tga(1, 8, 1, 1, {}, 1, 12), mapSize}, {Tga(2, 24, 1, 1, {}, 1, 7), mapSize},
        {Tga(1, 8, 1, 1, {}, 1, 24, 16000, 383), tooMany}, {Tga(2, 24, 1, 1, {}, 1, 24, 0, 16383), tooMany},
        {Tga(1, 8, 0, 0, Bytes(11, 0), 1, 24, 0, 4), truncated},  // colour map cut short
        {Tga(2, 24, 65535, 65535, Bytes(22, 0)), truncated}, {Tga(10, 24, 65535, 65535, Bytes(22, 0)), truncated},
        {Tga(2, 24, 2, 2, Bytes(11, 0)), truncated}, {Prefix(Tga(2, 24, 1, 1, {}), 2), type},
        {Prefix(Tga(2, 24, 1, 1, {}), 17), truncated},
        // run-length data that could fill 20000 x 20000 pixels, whose planes would pass 1 GiB
        {Tga(11, 8, 20000, 20000, Bytes(6250000, 0xFF)), "Image too large"}}, false);
    const Bytes pcx = Pcx(0, 0, 1, {5});
    auto pcxWith = [&](size_t at, uint8_t value) { Bytes file = pcx; file[at] = value; return file; };
    const char *notPcx = "not a PCX file", *pcxCut = "truncated PCX file";
    const auto runs = [](size_t count) {  // runs of 63 pixels of index 7
        Bytes body;
        for (size_t i = 0; i < count; ++i)
            body.insert(body.end(), {0xFF, 7});
        return body;
    };
    ExpectOutcomes(Make<CPcxImage>, {
        {Pcx(4, 1, 5, {0xC5, 9, 0xC5, 3}), "", {9, 9, 9, 9, 9, 3, 3, 3, 3, 3}},
        {Pcx(2, 1, 3, {0xC5, 9, 1, 2, 3}), "", {9, 9, 9, 1, 2, 3}},  // surplus of a run dropped
        {Pcx(1, 0, 2, {0xC0, 9, 4, 0xC1, 0xC0}), "", {4, 0xC0}},     // an empty run takes its value
        {Pcx(2, 1, 4, {0xC4, 8, 0xC4, 7}), "", {8, 8, 8, 7, 7, 7}},  // runs into the padding
        {Pcx(2, 0, 1, {1, 2, 3}), "", {1, 2, 3}},                    // bytes per line below width
        {Pcx(3, 1, 4, {1, 2}), "", {1, 2, 0, 0, 0, 0, 0, 0}},        // rows the data never reaches
        {Pcx(63, 0, 64, {0xFF, 1}), "", Bytes(63, 1) + Bytes{0}},    // three bytes give 64 pixels at most
        {Pcx(64, 0, 65, {0xFF, 1}), pcxCut}, {Pcx(99, 9, 100, Bytes(30, 0xFF)), pcxCut},
        {Pcx(0, 0, 1, {5}, 700), pcxCut}, {Prefix(pcx, 127), notPcx}, {pcxWith(0, 11), notPcx}, {pcxWith(1, 3), notPcx},
        {pcxWith(2, 0), notPcx}, {pcxWith(3, 4), notPcx}, {pcxWith(65, 3), notPcx},
        // every side the extractor writes, up to 65535; the planes' cap of 1 GiB still holds
        {Pcx(640, 0, 641, runs(11)), "", Bytes(641, 7)}, {Pcx(0, 480, 1, runs(481)), "", Bytes(481, 7)},
        {Pcx(65534, 0, 65535, runs(1041)), "", Bytes(65535, 7)}, {Pcx(0xFFFF, 0, 0, runs(1041)), notPcx},
        {Pcx(0, 0xFFFF, 1, runs(65536)), notPcx}, {Pcx(65534, 3300, 65535, runs(3434000)), "Image too large"}}, true);
    const Bytes comment = {0x21, 0xFE, 3, 'h', 'i', '!', 0}, plain = {0x21, 0x01, 2, 9, 9, 1, 'x', 0};
    const Bytes application = Bytes{0x21, 0xFF, 11} + ToBytes("NETSCAPE2.0") + Bytes{3, 1, 0, 0, 0};
    GifLayout valid;  // 4 x 3, a global ramp of four colours
    const Bytes px = valid.pixels = {0, 1, 2, 3, 3, 3, 2, 1, 0, 0, 1, 1}, flat(1027 * 513, 1), good = EncodeGif(valid);
    auto with = [&](auto change) { GifLayout layout = valid; change(layout); return EncodeGif(layout); };
    auto around = [&](const Bytes& blocks, const Bytes& after = {0x3B}) {
        return with([&](GifLayout& s) { s.extensions = blocks, s.after = after; });
    };
    auto codes = [&](const Bytes& data, int width = 4, int height = 3, int bits = 2) {
        return with([&](GifLayout& s) { s.codes = data, s.width = width, s.height = height, s.minCodeSize = bits,
                                        s.globalSizeBits = std::clamp(bits - 1, 1, 7); });
    };
    std::mt19937 random(6);
    const Bytes noise = RandomPicture(160, 120, random, 256).indices, head = Prefix(good, 25);
    const Bytes frame(good.begin() + 25, good.end());
    const char *tooLittle = "corrupt GIF file (too little image data for its size)", *bad = "corrupt GIF89a file";
    const char *outCount = "Corrupt GIF file (OutCount)!", *codeSize = "corrupt GIF file (bad LZW code size)";
    const char *screen = "corrupt GIF file (bad screen descriptor)", *notGif = "not a GIF file";
    ExpectOutcomes(Make<CGifImage>, {
        {around(comment + plain + application), "", px},
        {around(GifGraphicControl(true, 2) + GifGraphicControl(false, 5)), "", px, 2},
        {around(GifGraphicControl(true, 2) + comment + GifGraphicControl(true, 5)), "", px, 5},
        {around({0x21, 0xF9, 6, 1, 0, 0, 4, 0, 0, 0}), "", px, 4},  // a longer control block
        // an animation: only the first frame counts, with its own control block
        {around(GifGraphicControl(false, 0), GifGraphicControl(true, 1) + frame), "", px},
        // no end code; data for half the pixels; for pixels past the last row
        {codes(LzwEncode(px, 2, {true, false, true})), "", px}, {codes(LzwEncode(px + px, 2)), "", px},
        {codes(LzwEncode(Prefix(px, 6), 2)), "", Prefix(px, 6) + Bytes(6, 0)},
        {codes({0x00, 0x08}, 1, 1, 11), "", {0}},  // the widest codes: a clear code only
        {codes({0xFF}, 0, 3), ""}, {codes({0xFF}, 4, 0), ""},  // a side of 0: data never decoded
        {codes(LzwEncode(noise, 8, {true, true, false}), 160, 120, 8), "", noise},  // the 4096-entry table kept full
        // strings of 1, 2, 3, ... pixels: 1025 x 513 end with 1025, the longest allowed; 1027 x 513 need one of 1026
        {codes(LzwEncode(Prefix(flat, 1025 * 513), 2), 1025, 513), "", Prefix(flat, 1025 * 513)},
        {codes(LzwEncode(flat, 2), 1027, 513), outCount},
        {head + Bytes{0x21, 0xF9, 4, 1, 0}, bad},  // no room for the transparent index
        {head + Bytes{0x21}, bad}, {around({0x3B}, {}), bad},
        {head + Bytes{0x2C, 0, 0, 0, 0, 4, 0, 3, 0, 0x81, 1, 2}, bad},  // local table cut
        {around({0x21, 0x02, 0}), "invalid GIF89 extension"}, {Bytes(), notGif},
        {ToBytes("GIF88a") + Bytes(good.begin() + 6, good.end()), notGif},
        {with([](GifLayout& s) { s.globalSizeBits = -1; }), "GIF file without a colour table"},
        {with([](GifLayout& s) { s.aspect = 49; }), screen}, {Prefix(good, 24), screen},
        {Prefix(good, good.size() - 2), "corrupt GIF file (unblock)"},
        {codes({0}, 4, 3, 12), codeSize}, {codes({0}, 4, 3, 0), codeSize},
        // no leading clear code; clear, 1, then 7: no entry there yet
        {codes(LzwEncode(px, 2, {false, true, true})), outCount}, {codes({0xCC, 0x01}), outCount},
        // n codes give at most 1 + 2 + ... + n pixels up to n = 1025, then 1025 each
        {codes(Bytes(8, 0), 6, 6, 7), outCount}, {codes(Bytes(8, 0), 37, 1, 7), tooLittle},
        {codes(Bytes(2000, 0), 1240, 1230, 7), outCount}, {codes(Bytes(2000, 0), 101, 15101, 7), tooLittle},
        // too few codes for 60000 x 60000 pixels; enough for 16384 x 13108, whose planes would pass 1 GiB
        {codes(LzwEncode(px, 2), 60000, 60000), tooLittle}, {codes(Bytes(80000, 0), 16384, 13108), "Image too large"},
    }, true);
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

// The loader picks decoders by content; every PNG colour type and depth and flat JPEG blocks come out as RGBA; PNG
// failures stop the chain; sizes the data could never fill are refused before anything is allocated.
TEST(ImageLoader, PicksDecodersByContentAndDecodesEveryColourKindOrRefusesIt)
{
    std::mt19937 random(7);
    const SamplePicture picture = RandomPicture(3, 2, random, 256);
    const Bytes tga = EncodeTga(picture, {2, 24, 0, 0x20, false}), mapped = TgaExpected(picture, {1, 8, 24});
    Bytes badPcx = EncodePcx(picture);
    badPcx[9] = 0x7F;  // Xmax past what the data fills: PCX rejects, TGA then reads colour-map type 5
    std::vector<Case> cases = {{tga, "", TgaExpected(picture, {2, 24}), -1, IMG_TGA, 24},
        {EncodePcx(picture), "", mapped, -1, IMG_PCX}, {EncodeGifPicture(picture), "", mapped, -1, IMG_GIF},
        {EncodePngRgba(picture, true), "", picture.rgba, -1, IMG_PNG, 32, 3},
        {EncodeJpegRgb(picture, 90), "", {}, -1, IMG_JPEG}, {badPcx, "Mapped image with bad color map type"},
        {{}, "Unknown Targa image type"}};
    // Palette entry i is 3i + 11, 3i + 12, 3i + 13; tRNS gives entries 0 to 2 alpha 1, 6, 11; grey and RGB keys none.
    const struct { int type, depth, trns; Bytes row, rgba; } pngs[] = {
        {0, 1, 0, {1, 0}, {255, 255, 255, 0, 0, 0, 0, 0}}, {0, 4, 0, {1, 14}, {17, 17, 17, 0, 238, 238, 238, 0}},
        {0, 16, 0, {0x12, 0x34, 0xAB, 0xCD}, {0x12, 0x12, 0x12, 0, 0xAB, 0xAB, 0xAB, 0}},
        {4, 8, 0, {7, 9, 200, 100}, {7, 7, 7, 9, 200, 200, 200, 100}},
        {2, 8, 1, {0, 0, 0, 1, 2, 3}, {0, 0, 0, 0, 1, 2, 3, 0}},
        {6, 16, 0, {1, 9, 2, 9, 3, 9, 4, 9, 5, 9, 6, 9, 7, 9, 8, 9}, {1, 2, 3, 4, 5, 6, 7, 8}},
        {3, 1, 0, {1, 0}, {14, 15, 16, 0, 11, 12, 13, 0}}, {3, 2, 1, {3, 0}, {20, 21, 22, 255, 11, 12, 13, 1}},
        {3, 8, 1, {2, 200}, {17, 18, 19, 11, 99, 100, 101, 255}}};
    for (const auto& k : pngs) {
        const bool mapped = k.type == 3;
        const Bytes palette = mapped ? ColourRamp(1 << k.depth, 1) : Bytes();
        const Bytes alpha = mapped && k.trns ? Bytes{1, 6, 11} : Bytes();
        for (bool interlaced : {false, true})
            cases.push_back({EncodePng({2, 1, k.type, k.depth, interlaced, palette, alpha, k.trns && !mapped}, {k.row}),
                             "", k.rgba, -1, IMG_PNG, k.type >= 4 || (mapped && k.trns) ? 32 : 24, 2});
    }
    // Flat 8 x 8 blocks at quality 100 without subsampling come back exactly; CMYK is scaled by K.
    const struct { int space; Bytes top, bottom, topRgba, bottomRgba; } jpegs[] = {
        {JCS_RGB, {200, 40, 90}, {10, 250, 128}, {200, 40, 90, 0}, {10, 250, 128, 0}},
        {JCS_GRAYSCALE, {77}, {201}, {77, 77, 77, 0}, {201, 201, 201, 0}},
        {JCS_CMYK, {200, 100, 50, 255}, {255, 40, 0, 102}, {200, 100, 50, 0}, {102, 16, 0, 0}}};
    for (const auto& k : jpegs)
        for (bool progressive : {false, true})
            cases.push_back({WriteJpeg(k.space, k.top, k.bottom, false, progressive), "",
                             Halves(k.topRgba, k.bottomRgba), -1, IMG_JPEG, 24});
    SetImageError(IMGERR_NOMEMORY, "earlier");  // a success clears an earlier failure
    ExpectOutcomes(LoadImageMemory, cases, false);
    ScratchDir dir;  // a file's name plays no part; an unreadable one leaves the error state as it was
    WriteFileBytes(dir / "picture.gif", tga);
    std::unique_ptr<CImage> image(LoadImageFile((dir / "picture.gif").c_str()));
    EXPECT_TRUE(image && image->m_Format == IMG_TGA && !LoadImageFile(dir.path().c_str()) &&
                g_ImageError == IMGERR_NONE);
    WriteFileBytes(dir / "empty.png", {});  // an empty file is read and refused by the decoders
    EXPECT_TRUE(!LoadImageFile((dir / "empty.png").c_str()) && g_ImageError != IMGERR_NONE);
    const Bytes png = EncodePng({1, 1, 0, 1, false, {}, {}, false}, {{0}});
    auto sized = [&](uint32_t width, uint32_t height, uint32_t crcFlip = 0) {  // another size in IHDR and its CRC
        Bytes out = png;
        for (const auto& [at, value] : {std::pair<size_t, uint32_t>{16, width}, {20, height}, {29, crcFlip}})
            for (size_t i = 0; i < 4; ++i)
                out[at + i] = uint8_t((at == 29 ? value ^ uint32_t(crc32(0, &out[12], 17)) : value) >> (24 - 8 * i));
        return out;
    };
    // 16384 x 13108 one-bit pixels could inflate from 27000 bytes, but the planes would pass 1 GiB.
    cases = {{sized(1, 1, 1), "IHDR: CRC error"}, {sized(30000, 30000), "Image too large"},
             {sized(16384, 13108) + Bytes(27000, 0), "Image too large"}};
    for (size_t length = 1; length < png.size(); ++length)  // after the signature the chain stops
        cases.push_back({Prefix(png, length), "Read Error"});
    ExpectOutcomes(LoadImageMemory, cases, false, IMGERR_NOMEMORY, true);
    // Huffman-coded data holds at most 2048 pixels a byte, arithmetic-coded 65536; sides are 5 bytes into the frame.
    auto withSide = [](Bytes file, bool arithmetic, uint16_t side) {
        const Bytes marker = {0xFF, uint8_t(arithmetic ? 0xC9 : 0xC0)};
        const auto at = std::search(file.begin(), file.end(), marker.begin(), marker.end()) + 5;
        at[0] = at[2] = uint8_t(side >> 8), at[1] = at[3] = uint8_t(side);
        return file;
    };
    const Bytes huffman = WriteJpeg(JCS_GRAYSCALE, {1}, {2}), arithmetic = WriteJpeg(JCS_GRAYSCALE, {1}, {2}, true);
    const Bytes noisy = EncodeJpegRgb(RandomPicture(32, 32, random, 256), 90);
    const auto hSide = uint16_t(std::sqrt(huffman.size() * 2048.0));
    const auto aSide = uint16_t(std::sqrt(arithmetic.size() * 65536.0));
    const char* tooLarge = "JPEG image too large for its data";
    ExpectOutcomes(Make<CJpegImage>, {{ToBytes("plain text"), "Not a JPEG file: starts with 0x70 0x6c"},
        {withSide(huffman, false, hSide), ""}, {withSide(huffman, false, uint16_t(hSide + 1)), tooLarge},
        {withSide(arithmetic, true, aSide), ""}, {withSide(arithmetic, true, uint16_t(aSide + 1)), tooLarge},
        {Prefix(noisy, noisy.size() / 2), ""},  // the library's warning about the cut goes nowhere
        // enough arithmetic-coded data for 15000 x 15000 pixels, whose planes would pass 1 GiB
        {withSide(EncodeJpeg({128, 128, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, 100, false, true},
                             RandomPicture(128, 128, random, 256).indices), true, 15000), "Image too large"}},
                   false, IMGERR_BADFORMAT, true);
    ExpectOutcomes(Make<CPngImage>, {{{}, "Not a PNG file"}}, false);
}

// DXT blocks decode through libsquish: both DXT1 modes, DXT3's and DXT5's alphas, a block cut by the right edge;
// codes, sides and data that do not make a level are refused. Red is 0xF800, blue 0x001F; rows take indices 0 to 3.
TEST(DxtDecoding, BlocksDecodeToRgbaAndImpossibleLevelsAreRefused)
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

TEST(ImageModel, PlanesAreCappedAtOneGibibyteAndErrorTextsCut)
{
    CImage image;  // both planes, 5 bytes a pixel, take 1 GiB at most; nothing is allocated past it
    const int32_t sizes[][3] = {{-1, 4, 0}, {4, -1, 0}, {214748364, 1, 1}, {1, 214748365, 0}, {65536, 65536, 0},
                                {INT32_MAX, INT32_MAX, 0}, {0, INT32_MAX, 1}, {2, 3, 1}};
    for (const auto& s : sizes)
        EXPECT_TRUE(image.mfSetSize(s[0], s[1]) == bool(s[2]) && (image.m_pPixels && image.m_pIndices) == bool(s[2]) &&
                    image.m_Width * 10 + image.m_Height == (s[2] ? s[0] * 10 + s[1] : 0)) << s[0] << " x " << s[1];
    EXPECT_EQ(Plane(image.m_pPixels, 24) + Plane(image.m_pIndices, 6), Bytes(30, 0));
    SetImageError(IMGERR_BADFORMAT, std::string(300, 'x').c_str());
    EXPECT_EQ(std::string(g_ImageErrorText), std::string(kImageErrorTextSize - 1, 'x'));
}

}  // namespace
