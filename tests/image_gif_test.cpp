// GIF decoding: files from the project's GIF writer, checked plane by plane.
#include <gtest/gtest.h>

#include <string>

#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"
#include "image/GifImage.h"

namespace {

Bytes operator+(Bytes first, const Bytes& second)
{
    AppendBytes(first, second);
    return first;
}

Bytes Pattern(size_t count, int modulus)
{
    Bytes pixels(count);
    for (size_t i = 0; i < count; ++i)
        pixels[i] = uint8_t((i * 7 + i / 5) % modulus);
    return pixels;
}

const Bytes kComment = {0x21, 0xFE, 3, 'h', 'i', '!', 0};
const Bytes kApplication = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
const Bytes kPlainText = {0x21, 0x01, 2, 9, 9, 1, 'x', 0};

struct Decoded {
    int32_t error;
    std::string text;
    int32_t format, width, height, transIndex;
    Bytes indices, pixels, palette;
};

Decoded Decode(const Bytes& file)
{
    const Bytes exact(file);  // sized exactly, so any read past the end is caught
    CGifImage image(exact.data(), uint32_t(exact.size()));
    Decoded out{g_ImageError, g_ImageErrorText, image.m_Format, image.m_Width, image.m_Height, image.m_TransIndex, {}, {}, {}};
    if (out.error == IMGERR_NONE) {
        const size_t count = size_t(image.m_Width) * size_t(image.m_Height);
        out.indices.assign(image.m_pIndices, image.m_pIndices + count);
        out.pixels.assign(image.m_pPixels, image.m_pPixels + count * 4);
        out.palette.assign(image.m_pPalette, image.m_pPalette + 768);
    }
    return out;
}

// Both planes must hold `indices`, the RGBA plane as palette colours with a fourth byte 0.
void ExpectPlanes(const Decoded& decoded, const Bytes& indices)
{
    ASSERT_EQ(decoded.error, IMGERR_NONE) << decoded.text;
    ASSERT_EQ(decoded.indices, indices);
    Bytes pixels;
    for (uint8_t index : indices)
        pixels.insert(pixels.end(), {decoded.palette[index * 3], decoded.palette[index * 3 + 1],
                                     decoded.palette[index * 3 + 2], 0});
    EXPECT_EQ(decoded.pixels, pixels);
}

}  // namespace

TEST(GifImage, FirstImageDecodesWhateverBlocksSurroundIt)
{
    GifLayout secondLayout;
    secondLayout.width = 9;
    secondLayout.pixels = Pattern(27, 2);
    const Bytes second = EncodeGif(secondLayout);
    const Bytes secondImage(second.begin() + 13 + 12, second.end());  // after header and table
    const struct {
        const char* version;
        Bytes extensions, after;
        int32_t transIndex;
    } cases[] = {
        {"GIF87a", {}, {0x3B}, -1},
        {"GIF87a", kComment + kPlainText, {0x3B}, -1},
        {"GIF89a", kApplication, {0x3B}, -1},
        {"GIF89a", GifGraphicControl(true, 7), {0x3B}, 7},
        {"GIF89a", GifGraphicControl(false, 7), {0x3B}, -1},
        {"GIF89a", GifGraphicControl(true, 2) + GifGraphicControl(false, 5), {0x3B}, 2},
        {"GIF89a", GifGraphicControl(true, 2) + kComment + GifGraphicControl(true, 5), {0x3B}, 5},
        // An animation: only the first frame counts, with its own control block.
        {"GIF89a", kApplication + GifGraphicControl(false, 0), GifGraphicControl(true, 1) + secondImage, -1},
    };
    for (const auto& testCase : cases) {
        GifLayout layout;
        layout.version = testCase.version;
        layout.extensions = testCase.extensions;
        layout.after = testCase.after;
        layout.pixels = Pattern(12, 4);
        const Decoded decoded = Decode(EncodeGif(layout));
        ExpectPlanes(decoded, layout.pixels);
        EXPECT_EQ(decoded.format, IMG_GIF);
        EXPECT_EQ(decoded.width, 4);
        EXPECT_EQ(decoded.transIndex, testCase.transIndex);
        EXPECT_EQ(Bytes(decoded.palette.begin(), decoded.palette.begin() + 12), ColourRamp(4, 3));
    }
}

TEST(GifImage, InterlacedRowsArriveInPassOrder)
{
    const std::vector<std::vector<int>> rowOrders = {{0, 4, 2, 6, 1, 3, 5, 7}, {0, 2, 1}, {0}};
    for (const auto& order : rowOrders) {
        GifLayout layout;
        layout.interlaced = true;
        layout.height = int(order.size());
        Bytes expected(layout.width * order.size());
        for (size_t sent = 0; sent < order.size(); ++sent) {
            for (int x = 0; x < layout.width; ++x) {
                layout.pixels.push_back(uint8_t(sent % 4));
                expected[order[sent] * layout.width + x] = uint8_t(sent % 4);
            }
        }
        ExpectPlanes(Decode(EncodeGif(layout)), expected);
    }
}

TEST(GifImage, LocalColourTableBecomesThePalette)
{
    for (int globalSizeBits : {-1, 1, 7}) {
        GifLayout layout;
        layout.globalSizeBits = globalSizeBits;
        layout.localSizeBits = 2;
        layout.minCodeSize = 3;
        layout.pixels = Pattern(12, 8);
        const Decoded decoded = Decode(EncodeGif(layout));
        ExpectPlanes(decoded, layout.pixels);
        EXPECT_EQ(Bytes(decoded.palette.begin(), decoded.palette.begin() + 24), ColourRamp(8, 7));
        EXPECT_EQ(decoded.palette[24 * 3], 0) << "entries past the local table are cleared";
    }
}

TEST(GifImage, BigTablesAndCodeSizesRoundTrip)
{
    // Random-looking 8-bit pixels fill the 4096-entry table: once with clear codes,
    // once running on with a full table.
    Bytes pixels(160 * 120);
    uint32_t state = 12345;
    for (uint8_t& pixel : pixels)
        pixel = uint8_t((state = state * 1103515245 + 12345) >> 24) & 0x3F;
    for (bool clearWhenFull : {true, false}) {
        GifLayout layout;
        layout.width = 160;
        layout.height = 120;
        layout.globalSizeBits = 7;
        layout.minCodeSize = 8;
        layout.codes = LzwEncode(pixels, 8, {true, true, clearWhenFull});
        ExpectPlanes(Decode(EncodeGif(layout)), pixels);
    }
}

TEST(GifImage, StreamsThatStopEarlyOrRunLongKeepWhatFits)
{
    GifLayout layout;
    const Bytes pixels = Pattern(12, 4);
    // No end code: the pixels decoded before the data ran out stay.
    layout.codes = LzwEncode(pixels, 2, {true, false, true});
    ExpectPlanes(Decode(EncodeGif(layout)), pixels);
    // Half the pixels, then the end code: the rest stay 0 in both planes.
    layout.codes = LzwEncode(Bytes(pixels.begin(), pixels.begin() + 6), 2);
    const Decoded half = Decode(EncodeGif(layout));
    ASSERT_EQ(half.error, IMGERR_NONE);
    EXPECT_EQ(half.indices, Bytes(pixels.begin(), pixels.begin() + 6) + Bytes(6, 0));
    EXPECT_EQ(Bytes(half.pixels.begin() + 24, half.pixels.end()), Bytes(24, 0));
    // Pixels beyond the last row are dropped.
    layout.codes = LzwEncode(pixels + pixels, 2);
    ExpectPlanes(Decode(EncodeGif(layout)), pixels);
}

TEST(GifImage, StringsUpToTheStackSizeDecode)
{
    // A flat image without clear codes sends strings of 1, 2, 3, ... pixels; 1025 x 513
    // pixels end with a string of exactly 1025, one more row needs 1026.
    GifLayout layout;
    layout.width = 1025;
    layout.height = 513;
    layout.codes = LzwEncode(Bytes(size_t(1025) * 513, 1), 2);
    ExpectPlanes(Decode(EncodeGif(layout)), Bytes(size_t(1025) * 513, 1));
    layout.height = 515;
    layout.codes = LzwEncode(Bytes(size_t(1025) * 515, 1), 2);
    EXPECT_EQ(Decode(EncodeGif(layout)).text, "Corrupt GIF file (OutCount)!");
}

TEST(GifImage, RejectionsCarryTheirTexts)
{
    GifLayout valid;
    valid.pixels = Pattern(12, 4);
    const Bytes good = EncodeGif(valid);
    auto with = [&](auto change) {
        GifLayout layout = valid;
        change(layout);
        return EncodeGif(layout);
    };
    const Bytes codes = LzwEncode(valid.pixels, 2);
    const struct {
        Bytes file;
        const char* text;
    } cases[] = {
        {Bytes(), "not a GIF file"},
        {ToBytes("GIF88a") + Bytes(good.begin() + 6, good.end()), "not a GIF file"},
        {with([](GifLayout& s) { s.globalSizeBits = -1; }), "GIF file without a colour table"},
        {with([](GifLayout& s) { s.aspect = 49; }), "corrupt GIF file (bad screen descriptor)"},
        {Bytes(good.begin(), good.begin() + 25) + Bytes{0x3B}, "corrupt GIF89a file"},
        {with([](GifLayout& s) { s.extensions = {0x21, 0x02, 0}; }), "invalid GIF89 extension"},
        {Bytes(good.begin(), good.end() - 2), "corrupt GIF file (unblock)"},
        {with([](GifLayout& s) { s.minCodeSize = 12; s.codes = {0}; }), "corrupt GIF file (bad LZW code size)"},
        {with([](GifLayout& s) { s.codes = LzwEncode(s.pixels, 2, {false, true, true}); }),
         "Corrupt GIF file (OutCount)!"},
        // Clear, root 1, then code 7: no entry has been written there yet.
        {with([](GifLayout& s) { s.codes = {0xCC, 0x01}; }), "Corrupt GIF file (OutCount)!"},
        // 60000 x 60000 pixels cannot come from a few bytes of data.
        {with([&](GifLayout& s) { s.width = s.height = 60000; s.codes = codes; }),
         "corrupt GIF file (too little image data for its size)"},
        // Enough codes for 16384 x 13108 pixels, whose planes would pass 1 GiB.
        {with([](GifLayout& s) { s.width = 16384; s.height = 13108; s.codes = Bytes(80000, 0); }), "Image too large"},
    };
    for (const auto& testCase : cases) {
        const Decoded decoded = Decode(testCase.file);
        EXPECT_EQ(decoded.error, IMGERR_BADFORMAT);
        EXPECT_EQ(decoded.text, testCase.text);
    }
}

TEST(GifImage, DescriptorWithoutPixelsGivesAnImageWithoutPixels)
{
    for (const int width : {0, 4}) {
        GifLayout layout;
        layout.width = width;
        layout.height = 4 - width;
        layout.codes = LzwEncode(Pattern(12, 4), 2);  // there, but never decoded
        const Decoded decoded = Decode(EncodeGif(layout));
        ASSERT_EQ(decoded.error, IMGERR_NONE) << decoded.text;
        EXPECT_EQ(decoded.format, IMG_GIF);
        EXPECT_EQ(decoded.width, width);
        EXPECT_EQ(decoded.height, 4 - width);
        EXPECT_EQ(Bytes(decoded.palette.begin(), decoded.palette.begin() + 12), ColourRamp(4, 3));
    }
}

TEST(GifImage, EveryTruncationFailsCleanlyUntilTheImageDataEnds)
{
    GifLayout layout;
    layout.width = 7;
    layout.height = 5;
    layout.interlaced = true;
    layout.extensions = kComment + GifGraphicControl(true, 3) + kApplication;
    layout.pixels = Pattern(35, 4);
    const Bytes file = EncodeGif(layout);
    for (size_t length = 0; length < file.size(); ++length) {
        const Decoded decoded = Decode(Bytes(file.begin(), file.begin() + length));
        // Only the trailer may go missing.
        EXPECT_EQ(decoded.error, length + 1 == file.size() ? IMGERR_NONE : IMGERR_BADFORMAT) << length;
    }
}
