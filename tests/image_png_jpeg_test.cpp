// PNG and JPEG decoding: files from the project's writers over libpng and libjpeg.
#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <jpeglib.h>
#include <unistd.h>

#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"
#include "image/JpegImage.h"
#include "image/PngImage.h"

namespace {

// One decode's outcome, copied out of the image.
struct Decoded {
    int32_t error = IMGERR_NONE;
    std::string text;
    int32_t format = IMG_NONE, width = 0, height = 0, bpp = 0;
    Bytes pixels;
};

Decoded Load(const Bytes& file)
{
    const Bytes exact(file);  // sized exactly, so any read past the end is caught
    std::unique_ptr<CImage> image(LoadImageMemory(exact.data(), uint32_t(exact.size())));
    Decoded out;
    out.error = g_ImageError;
    out.text = g_ImageErrorText;
    if (image) {
        out.format = image->m_Format;
        out.width = image->m_Width;
        out.height = image->m_Height;
        out.bpp = image->m_Bpp;
        out.pixels.assign(image->m_pPixels, image->m_pPixels + size_t(out.width) * out.height * 4);
    }
    return out;
}

// ---- PNG ----

struct PngKind {
    int colourType;
    int bitDepth;
    bool withTrns = false;
};

constexpr int kWidth = 13, kHeight = 11;

// The sample of channel `c` at (x, y), within the bit depth.
int Sample(int x, int y, int c, int bitDepth)
{
    const uint32_t mixed = uint32_t(x * 37 + y * 101 + c * 59 + x * y) * 40503u;
    return int((mixed ^ (mixed >> 7)) % (1u << bitDepth));
}

Bytes WritePng(const PngKind& kind, bool interlaced)
{
    PngLayout layout;
    layout.width = kWidth;
    layout.height = kHeight;
    layout.colourType = kind.colourType;
    layout.bitDepth = kind.bitDepth;
    layout.interlaced = interlaced;
    if (kind.colourType == PNG_COLOR_TYPE_PALETTE) {
        for (int i = 0; i < 1 << kind.bitDepth; ++i)
            layout.palette.insert(layout.palette.end(), {uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7)});
        if (kind.withTrns)
            layout.paletteAlpha = {1, 6, 11};  // entries 0 to 2: index * 5 + 1
    } else {
        layout.zeroKey = kind.withTrns;
    }
    const int channels = (kind.colourType & PNG_COLOR_MASK_PALETTE) ? 1
                         : ((kind.colourType & PNG_COLOR_MASK_COLOR) ? 3 : 1) +
                               ((kind.colourType & PNG_COLOR_MASK_ALPHA) ? 1 : 0);
    std::vector<Bytes> rows(kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < channels; ++c) {
                const int value = Sample(x, y, c, kind.bitDepth);
                if (kind.bitDepth == 16)
                    rows[y].push_back(uint8_t(value >> 8));
                rows[y].push_back(uint8_t(value));
            }
    return EncodePng(layout, rows);
}

// The RGBA plane the decoder must give for `kind`, worked out from the samples.
Bytes ExpectedRgba(const PngKind& kind)
{
    Bytes rgba;
    const bool grey = !(kind.colourType & PNG_COLOR_MASK_COLOR);
    const bool palette = kind.colourType == PNG_COLOR_TYPE_PALETTE;
    const int maxValue = (1 << kind.bitDepth) - 1;
    auto to8 = [&](int value) { return uint8_t(kind.bitDepth == 16 ? value >> 8 : value * 255 / maxValue); };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            if (palette) {
                const int index = Sample(x, y, 0, kind.bitDepth);
                const uint8_t alpha = kind.withTrns ? (index < 3 ? uint8_t(index * 5 + 1) : 255) : 0;
                rgba.insert(rgba.end(), {uint8_t(index * 3), uint8_t(255 - index), uint8_t(index * 7), alpha});
                continue;
            }
            const int colours = grey ? 1 : 3;
            for (int c = 0; c < 3; ++c)
                rgba.push_back(to8(Sample(x, y, grey ? 0 : c, kind.bitDepth)));
            rgba.push_back(kind.colourType & PNG_COLOR_MASK_ALPHA ? to8(Sample(x, y, colours, kind.bitDepth)) : 0);
        }
    return rgba;
}

TEST(PngImage, EveryColourTypeAndDepthBecomesRgba)
{
    const PngKind kinds[] = {
        {PNG_COLOR_TYPE_GRAY, 1},       {PNG_COLOR_TYPE_GRAY, 2},         {PNG_COLOR_TYPE_GRAY, 4},
        {PNG_COLOR_TYPE_GRAY, 8},       {PNG_COLOR_TYPE_GRAY, 16},        {PNG_COLOR_TYPE_GRAY, 8, true},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 8}, {PNG_COLOR_TYPE_GRAY_ALPHA, 16},  {PNG_COLOR_TYPE_RGB, 8},
        {PNG_COLOR_TYPE_RGB, 16},       {PNG_COLOR_TYPE_RGB, 8, true},    {PNG_COLOR_TYPE_RGBA, 8},
        {PNG_COLOR_TYPE_RGBA, 16},      {PNG_COLOR_TYPE_PALETTE, 1},      {PNG_COLOR_TYPE_PALETTE, 2},
        {PNG_COLOR_TYPE_PALETTE, 4},    {PNG_COLOR_TYPE_PALETTE, 8},      {PNG_COLOR_TYPE_PALETTE, 8, true},
        {PNG_COLOR_TYPE_PALETTE, 2, true},
    };
    for (const PngKind& kind : kinds) {
        SCOPED_TRACE("colour type " + std::to_string(kind.colourType) + ", depth " +
                     std::to_string(kind.bitDepth) + (kind.withTrns ? ", tRNS" : ""));
        const bool alpha = (kind.colourType & PNG_COLOR_MASK_ALPHA) ||
                           (kind.colourType == PNG_COLOR_TYPE_PALETTE && kind.withTrns);
        for (bool interlaced : {false, true}) {
            const Decoded decoded = Load(WritePng(kind, interlaced));
            ASSERT_EQ(decoded.error, IMGERR_NONE) << decoded.text;
            EXPECT_EQ(decoded.format, IMG_PNG);
            EXPECT_EQ(decoded.width, kWidth);
            EXPECT_EQ(decoded.height, kHeight);
            EXPECT_EQ(decoded.bpp, alpha ? 32 : 24);
            EXPECT_EQ(decoded.pixels, ExpectedRgba(kind));
        }
    }
}

// IHDR's data follows the signature, the chunk length and the type; its CRC follows
// its 13 bytes.
constexpr size_t kIhdrData = 16;
constexpr size_t kIhdrCrc = kIhdrData + 13;

void PutBigEndian(Bytes& file, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        file[at + i] = uint8_t(value >> (24 - 8 * i));
}

Bytes WithIhdrSize(Bytes file, uint32_t width, uint32_t height)
{
    PutBigEndian(file, kIhdrData, width);
    PutBigEndian(file, kIhdrData + 4, height);
    PutBigEndian(file, kIhdrCrc, uint32_t(crc32(0, &file[kIhdrData - 4], 17)));
    return file;
}

TEST(PngImage, EveryTruncationStopsTheChainWithAReadError)
{
    const Bytes file = WritePng({PNG_COLOR_TYPE_RGB, 8}, true);
    for (size_t length = 1; length < file.size(); ++length) {
        const Decoded decoded = Load(Bytes(file.begin(), file.begin() + length));
        ASSERT_EQ(decoded.error, IMGERR_NOMEMORY) << length;
        ASSERT_EQ(decoded.text, "Read Error") << length;
    }
    CPngImage empty(nullptr, 0);
    EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT);
    EXPECT_STREQ(g_ImageErrorText, "Not a PNG file");
}

TEST(PngImage, FailuresAfterTheSignatureNameTheirCause)
{
    const Bytes file = WritePng({PNG_COLOR_TYPE_GRAY, 1}, false);
    Bytes badCrc = file;
    badCrc[kIhdrCrc] ^= 1;
    // 16384 x 13108 one-bit pixels could inflate from this many bytes, but the planes
    // would pass 1 GiB.
    Bytes overCap = WithIhdrSize(file, 16384, 13108);
    overCap.resize(overCap.size() + 27000);
    const struct {
        Bytes file;
        const char* text;
    } cases[] = {
        {badCrc, "IHDR: CRC error"},
        {WithIhdrSize(file, 3000, 3000), "Image too large"},
        {overCap, "Image too large"},
    };
    for (const auto& c : cases) {
        const Decoded decoded = Load(c.file);
        EXPECT_EQ(decoded.error, IMGERR_NOMEMORY) << c.text;
        EXPECT_EQ(decoded.text, c.text);
    }
}

// ---- JPEG ----

struct JpegKind {
    J_COLOR_SPACE input;
    int components;
    J_COLOR_SPACE stored;
    bool progressive = false;
    bool arithmetic = false;
};

Bytes WriteJpeg(const JpegKind& kind, int width, int height)
{
    JpegLayout layout;
    layout.width = width;
    layout.height = height;
    layout.components = kind.components;
    layout.inputSpace = kind.input;
    layout.storedSpace = kind.stored;
    layout.progressive = kind.progressive;
    layout.arithmetic = kind.arithmetic;
    Bytes samples;
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * kind.components; ++i)
            samples.push_back(uint8_t(Sample(i, y, 0, 8)));
    return EncodeJpeg(layout, samples);
}

// What libjpeg itself makes of the file with its default output: samples per pixel.
Bytes LibraryDecode(const Bytes& file, int& components)
{
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), file.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    components = info.output_components;
    Bytes samples(size_t(info.output_width) * info.output_height * components);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[] = {&samples[size_t(info.output_scanline) * info.output_width * components]};
        jpeg_read_scanlines(&info, rows, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return samples;
}

TEST(JpegImage, DecodesLikeTheLibraryIntoRgb)
{
    const JpegKind kinds[] = {
        {JCS_RGB, 3, JCS_YCbCr},       {JCS_RGB, 3, JCS_YCbCr, true}, {JCS_RGB, 3, JCS_RGB},
        {JCS_GRAYSCALE, 1, JCS_GRAYSCALE}, {JCS_CMYK, 4, JCS_CMYK},  {JCS_CMYK, 4, JCS_YCCK},
    };
    for (const JpegKind& kind : kinds) {
        SCOPED_TRACE("stored colour space " + std::to_string(kind.stored));
        const Bytes file = WriteJpeg(kind, 37, 21);
        int components = 0;
        const Bytes samples = LibraryDecode(file, components);
        Bytes expected;
        for (size_t at = 0; at < samples.size(); at += components) {
            const uint8_t* s = &samples[at];
            if (components == 1)
                expected.insert(expected.end(), {s[0], s[0], s[0], 0});
            else if (components == 3)
                expected.insert(expected.end(), {s[0], s[1], s[2], 0});
            else  // inverted CMYK: every colour scaled by K
                expected.insert(expected.end(), {uint8_t(s[0] * s[3] / 255), uint8_t(s[1] * s[3] / 255),
                                                 uint8_t(s[2] * s[3] / 255), 0});
        }
        const Decoded decoded = Load(file);
        ASSERT_EQ(decoded.error, IMGERR_NONE) << decoded.text;
        EXPECT_EQ(decoded.format, IMG_JPEG);
        EXPECT_EQ(decoded.width, 37);
        EXPECT_EQ(decoded.height, 21);
        EXPECT_EQ(decoded.bpp, 24);
        EXPECT_EQ(decoded.pixels, expected);
    }
}

TEST(JpegImage, TruncationsNeverReadPastTheData)
{
    for (bool progressive : {false, true}) {
        const Bytes file = WriteJpeg({JCS_RGB, 3, JCS_YCbCr, progressive}, 24, 16);
        for (size_t length = 0; length < file.size(); ++length) {
            const Bytes prefix(file.begin(), file.begin() + length);
            CJpegImage image(prefix.data(), uint32_t(prefix.size()));
            // Either the library's own complaint, or a decode of what is there.
            if (g_ImageError != IMGERR_NONE)
                ASSERT_EQ(g_ImageError, IMGERR_BADFORMAT);
            else
                ASSERT_EQ(image.m_Width, 24);
        }
    }
}

// The file with another size in its frame header, which gives height then width 5 bytes
// after its marker.
Bytes WithFrameSize(Bytes file, bool arithmetic, uint16_t width, uint16_t height)
{
    const Bytes marker = {0xFF, uint8_t(arithmetic ? 0xC9 : 0xC0)};
    const size_t frame = size_t(std::search(file.begin(), file.end(), marker.begin(), marker.end()) - file.begin());
    file.at(frame + 5) = uint8_t(height >> 8), file.at(frame + 6) = uint8_t(height);
    file.at(frame + 7) = uint8_t(width >> 8), file.at(frame + 8) = uint8_t(width);
    return file;
}

TEST(JpegImage, RefusesNonJpegAndImplausibleSizes)
{
    const Bytes notJpeg = ToBytes("plain text, no markers");
    CJpegImage text(notJpeg.data(), uint32_t(notJpeg.size()));
    EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT);
    EXPECT_STREQ(g_ImageErrorText, "Not a JPEG file: starts with 0x70 0x6c");
    // The chain hands what libjpeg refuses on to TGA: here one uncompressed 24-bit pixel.
    TgaHeader onePixel;
    onePixel.width = onePixel.height = 1;
    EXPECT_EQ(Load(TgaFile(onePixel, {1, 2, 3})).format, IMG_TGA);

    // Arithmetic-coded data is bounded more loosely than Huffman-coded data, yet a few
    // hundred bytes of either cannot hold 16000 x 16000 pixels.
    for (const bool arithmetic : {false, true}) {
        const Bytes file = WriteJpeg({JCS_GRAYSCALE, 1, JCS_GRAYSCALE, false, arithmetic}, 16, 16);
        CJpegImage valid(file.data(), uint32_t(file.size()));
        EXPECT_EQ(g_ImageError, IMGERR_NONE) << arithmetic;
        for (uint16_t side : {60000, 16000, 4000}) {
            if (arithmetic && side == 4000)
                continue;  // within the arithmetic bound
            const Bytes patched = WithFrameSize(file, arithmetic, side, side);
            CJpegImage image(patched.data(), uint32_t(patched.size()));
            EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT) << side << " " << arithmetic;
            EXPECT_STREQ(g_ImageErrorText, "JPEG image too large for its data");
        }
    }
    // Enough arithmetic-coded data for 16384 x 13108 pixels, whose planes would pass 1 GiB.
    const Bytes noise = WriteJpeg({JCS_GRAYSCALE, 1, JCS_GRAYSCALE, false, true}, 128, 128);
    ASSERT_GE(noise.size() * 65536, 16384u * 13108u);
    const Bytes overCap = WithFrameSize(noise, true, 16384, 13108);
    CJpegImage image(overCap.data(), uint32_t(overCap.size()));
    EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT);
    EXPECT_STREQ(g_ImageErrorText, "Image too large");
}

// ---- Both libraries ----

TEST(ImageLibraries, NeitherLibraryPrints)
{
    const Bytes jpeg = WriteJpeg({JCS_RGB, 3, JCS_YCbCr}, 24, 16);
    const Bytes png = WritePng({PNG_COLOR_TYPE_RGB, 8}, false);
    Bytes badCrc = png;
    badCrc[kIhdrCrc] ^= 1;
    // A text chunk with a wrong CRC after IHDR: the library warns and skips it.
    Bytes badText = png;
    const Bytes textChunk = {0, 0, 0, 1, 't', 'E', 'X', 't', 'k', 0, 0, 0, 0};
    badText.insert(badText.begin() + kIhdrCrc + 4, textChunk.begin(), textChunk.end());
    const Bytes inputs[] = {Bytes(), Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() / 2), badCrc, badText};

    std::unique_ptr<FILE, int (*)(FILE*)> captured(std::tmpfile(), std::fclose);
    ASSERT_TRUE(captured);
    std::fflush(stderr);
    const int savedStderr = dup(STDERR_FILENO);
    dup2(fileno(captured.get()), STDERR_FILENO);
    for (const Bytes& input : inputs)
        Load(input);
    std::fflush(stderr);
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);

    std::rewind(captured.get());
    std::string printed(4096, '\0');
    printed.resize(std::fread(&printed[0], 1, printed.size(), captured.get()));
    EXPECT_EQ(printed, "");
}

}  // namespace
