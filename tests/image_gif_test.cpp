// GIF decoding: files written here with a small LZW encoder, checked plane by plane.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/TestSupport.h"
#include "image/GifImage.h"

namespace {

struct LzwOptions {
    bool leadingClear = true;
    bool endCode = true;
    bool clearWhenFull = true;
};

// Codes packed least significant bit first; the code size follows the decoder's table.
Bytes LzwEncode(const Bytes& pixels, int minCodeSize, LzwOptions options = {})
{
    Bytes out;
    uint32_t bitBuffer = 0;
    int bitCount = 0;
    const int clearCode = 1 << minCodeSize;
    std::map<std::pair<int, int>, int> table;
    int nextCode = 0, decoderNext = 0, codeSize = 0;
    bool firstAfterClear = true;
    auto reset = [&] {
        table.clear();
        nextCode = decoderNext = clearCode + 2;
        codeSize = minCodeSize + 1;
        firstAfterClear = true;
    };
    auto emit = [&](int code) {
        bitBuffer |= uint32_t(code) << bitCount;
        for (bitCount += codeSize; bitCount >= 8; bitCount -= 8, bitBuffer >>= 8)
            out.push_back(uint8_t(bitBuffer));
        if (code == clearCode)
            return reset();
        if (!firstAfterClear && decoderNext < 4096 && ++decoderNext >= (1 << codeSize) && codeSize < 12)
            ++codeSize;
        firstAfterClear = false;
    };
    reset();
    if (options.leadingClear)
        emit(clearCode);
    int prefix = -1;
    for (uint8_t pixel : pixels) {
        auto found = prefix < 0 ? table.end() : table.find({prefix, pixel});
        if (prefix >= 0 && found == table.end()) {
            emit(prefix);
            if (nextCode < 4096)
                table[{prefix, pixel}] = nextCode++;
            else if (options.clearWhenFull)
                emit(clearCode);
        }
        prefix = found != table.end() ? found->second : pixel;
    }
    if (prefix >= 0)
        emit(prefix);
    if (options.endCode)
        emit(clearCode + 1);
    if (bitCount > 0)
        out.push_back(uint8_t(bitBuffer));
    return out;
}

Bytes ColourTable(int count, int seed)
{
    Bytes table;
    for (int i = 0; i < count * 3; ++i)
        table.push_back(uint8_t(i * seed + 11));
    return table;
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
Bytes operator+(Bytes first, const Bytes& second)
{
    Append(first, second);
    return first;
}
void AppendU16(Bytes& out, int value) { Append(out, {uint8_t(value), uint8_t(value >> 8)}); }

struct GifLayout {
    std::string version = "GIF89a";
    int width = 4, height = 3;
    Bytes pixels;                // in the order they are transmitted
    int globalSizeBits = 1;      // table of 2^(bits+1) entries; -1 for none
    int localSizeBits = -1;
    bool interlaced = false;
    uint8_t aspect = 0;
    Bytes extensions;            // raw blocks between the table and the image
    Bytes codes;                 // LZW data; encoded from `pixels` when empty
    int minCodeSize = 2;
    Bytes after = {0x3B};        // what follows the image data
};

Bytes MakeGif(const GifLayout& layout)
{
    Bytes gif = ToBytes(layout.version);
    AppendU16(gif, layout.width);
    AppendU16(gif, layout.height);
    Append(gif, {uint8_t(layout.globalSizeBits >= 0 ? 0x80 | layout.globalSizeBits : 0), 0, layout.aspect});
    if (layout.globalSizeBits >= 0)
        Append(gif, ColourTable(2 << layout.globalSizeBits, 3));
    Append(gif, layout.extensions);
    Append(gif, {0x2C, 0, 0, 0, 0});
    AppendU16(gif, layout.width);
    AppendU16(gif, layout.height);
    gif.push_back(uint8_t((layout.interlaced ? 0x40 : 0) | (layout.localSizeBits >= 0 ? 0x80 | layout.localSizeBits : 0)));
    if (layout.localSizeBits >= 0)
        Append(gif, ColourTable(2 << layout.localSizeBits, 7));
    gif.push_back(uint8_t(layout.minCodeSize));
    const Bytes codes = layout.codes.empty() ? LzwEncode(layout.pixels, layout.minCodeSize) : layout.codes;
    for (size_t at = 0; at < codes.size(); at += 255) {
        const size_t length = std::min<size_t>(255, codes.size() - at);
        gif.push_back(uint8_t(length));
        gif.insert(gif.end(), codes.begin() + at, codes.begin() + at + length);
    }
    gif.push_back(0);
    Append(gif, layout.after);
    return gif;
}

Bytes Pattern(size_t count, int modulus)
{
    Bytes pixels(count);
    for (size_t i = 0; i < count; ++i)
        pixels[i] = uint8_t((i * 7 + i / 5) % modulus);
    return pixels;
}

Bytes GraphicControl(bool transparent, uint8_t index) { return {0x21, 0xF9, 4, uint8_t(transparent), 0, 0, index, 0}; }
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
    const Bytes second = MakeGif(secondLayout);
    const Bytes secondImage(second.begin() + 13 + 12, second.end());  // after header and table
    const struct {
        const char* version;
        Bytes extensions, after;
        int32_t transIndex;
    } cases[] = {
        {"GIF87a", {}, {0x3B}, -1},
        {"GIF87a", kComment + kPlainText, {0x3B}, -1},
        {"GIF89a", kApplication, {0x3B}, -1},
        {"GIF89a", GraphicControl(true, 7), {0x3B}, 7},
        {"GIF89a", GraphicControl(false, 7), {0x3B}, -1},
        {"GIF89a", GraphicControl(true, 2) + GraphicControl(false, 5), {0x3B}, 2},
        {"GIF89a", GraphicControl(true, 2) + kComment + GraphicControl(true, 5), {0x3B}, 5},
        // An animation: only the first frame counts, with its own control block.
        {"GIF89a", kApplication + GraphicControl(false, 0), GraphicControl(true, 1) + secondImage, -1},
    };
    for (const auto& testCase : cases) {
        GifLayout layout;
        layout.version = testCase.version;
        layout.extensions = testCase.extensions;
        layout.after = testCase.after;
        layout.pixels = Pattern(12, 4);
        const Decoded decoded = Decode(MakeGif(layout));
        ExpectPlanes(decoded, layout.pixels);
        EXPECT_EQ(decoded.format, IMG_GIF);
        EXPECT_EQ(decoded.width, 4);
        EXPECT_EQ(decoded.transIndex, testCase.transIndex);
        EXPECT_EQ(Bytes(decoded.palette.begin(), decoded.palette.begin() + 12), ColourTable(4, 3));
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
        ExpectPlanes(Decode(MakeGif(layout)), expected);
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
        const Decoded decoded = Decode(MakeGif(layout));
        ExpectPlanes(decoded, layout.pixels);
        EXPECT_EQ(Bytes(decoded.palette.begin(), decoded.palette.begin() + 24), ColourTable(8, 7));
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
        ExpectPlanes(Decode(MakeGif(layout)), pixels);
    }
}

TEST(GifImage, StreamsThatStopEarlyOrRunLongKeepWhatFits)
{
    GifLayout layout;
    const Bytes pixels = Pattern(12, 4);
    // No end code: the pixels decoded before the data ran out stay.
    layout.codes = LzwEncode(pixels, 2, {true, false, true});
    ExpectPlanes(Decode(MakeGif(layout)), pixels);
    // Half the pixels, then the end code: the rest stay 0 in both planes.
    layout.codes = LzwEncode(Bytes(pixels.begin(), pixels.begin() + 6), 2);
    const Decoded half = Decode(MakeGif(layout));
    ASSERT_EQ(half.error, IMGERR_NONE);
    EXPECT_EQ(half.indices, Bytes(pixels.begin(), pixels.begin() + 6) + Bytes(6, 0));
    EXPECT_EQ(Bytes(half.pixels.begin() + 24, half.pixels.end()), Bytes(24, 0));
    // Pixels beyond the last row are dropped.
    layout.codes = LzwEncode(pixels + pixels, 2);
    ExpectPlanes(Decode(MakeGif(layout)), pixels);
}

TEST(GifImage, StringsUpToTheStackSizeDecode)
{
    // A flat image without clear codes sends strings of 1, 2, 3, ... pixels; 1025 x 513
    // pixels end with a string of exactly 1025, one more row needs 1026.
    GifLayout layout;
    layout.width = 1025;
    layout.height = 513;
    layout.codes = LzwEncode(Bytes(size_t(1025) * 513, 1), 2);
    ExpectPlanes(Decode(MakeGif(layout)), Bytes(size_t(1025) * 513, 1));
    layout.height = 515;
    layout.codes = LzwEncode(Bytes(size_t(1025) * 515, 1), 2);
    EXPECT_EQ(Decode(MakeGif(layout)).text, "Corrupt GIF file (OutCount)!");
}

TEST(GifImage, RejectionsCarryTheirTexts)
{
    GifLayout valid;
    valid.pixels = Pattern(12, 4);
    const Bytes good = MakeGif(valid);
    auto with = [&](auto change) {
        GifLayout layout = valid;
        change(layout);
        return MakeGif(layout);
    };
    const Bytes codes = LzwEncode(valid.pixels, 2);
    const struct {
        Bytes file;
        const char* text;
    } cases[] = {
        {Bytes(), "not a GIF file"},
        {ToBytes("GIF88a") + Bytes(good.begin() + 6, good.end()), "not a GIF file"},
        {with([](GifLayout& s) { s.globalSizeBits = -1; }), "not a GIF file"},
        {with([](GifLayout& s) { s.aspect = 49; }), "corrupt GIF file (bad screen descriptor)"},
        {Bytes(good.begin(), good.begin() + 25) + Bytes{0x3B}, "corrupt GIF89a file"},
        {with([](GifLayout& s) { s.extensions = {0x21, 0x02, 0}; }), "invalid GIF89 extension"},
        {with([](GifLayout& s) { s.width = 0; }), "corrupt GIF89a file"},
        {Bytes(good.begin(), good.end() - 2), "corrupt GIF file (unblock)"},
        {with([](GifLayout& s) { s.minCodeSize = 12; s.codes = {0}; }), "Corrupt GIF file (OutCount)!"},
        {with([](GifLayout& s) { s.codes = LzwEncode(s.pixels, 2, {false, true, true}); }),
         "Corrupt GIF file (OutCount)!"},
        // Clear, root 1, then code 7: no entry has been written there yet.
        {with([](GifLayout& s) { s.codes = {0xCC, 0x01}; }), "Corrupt GIF file (OutCount)!"},
        // 60000 x 60000 pixels cannot come from a few bytes of data.
        {with([&](GifLayout& s) { s.width = s.height = 60000; s.codes = codes; }), "Corrupt GIF file (OutCount)!"},
    };
    for (const auto& testCase : cases) {
        const Decoded decoded = Decode(testCase.file);
        EXPECT_EQ(decoded.error, IMGERR_BADFORMAT);
        EXPECT_EQ(decoded.text, testCase.text);
    }
}

TEST(GifImage, EveryTruncationFailsCleanlyUntilTheImageDataEnds)
{
    GifLayout layout;
    layout.width = 7;
    layout.height = 5;
    layout.interlaced = true;
    layout.extensions = kComment + GraphicControl(true, 3) + kApplication;
    layout.pixels = Pattern(35, 4);
    const Bytes file = MakeGif(layout);
    for (size_t length = 0; length < file.size(); ++length) {
        const Decoded decoded = Decode(Bytes(file.begin(), file.begin() + length));
        // Only the trailer may go missing.
        EXPECT_EQ(decoded.error, length + 1 == file.size() ? IMGERR_NONE : IMGERR_BADFORMAT) << length;
    }
}
