// The gallery in a real browser, run by scripts/test: a package of solid-colour RGB, RGBA, palette and DXT1 textures
// beside the demonstration samples goes through Mtxmake and `Mtxdump +gallery`; headless Chromium draws the page, and
// the project's PNG decoder reads the screenshot back. The screenshot stays in MTX_GALLERY_CHECK_DIR.
#include "image/Image.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

constexpr int kSide = 48;
constexpr int kWindowWidth = 1180, kWindowHeight = 760;
// A name for every character the page must escape or the link must encode.
const std::string kOddName = "a<b>&c\"d'e #%f";

struct Rgb {
    uint8_t red, green, blue;
};
// Solid colours; DXT1's yellow is exact in its 5-6-5 bits.
constexpr Rgb kRed = {220, 30, 40}, kGreen = {30, 160, 60}, kBlue = {40, 60, 200}, kYellow = {255, 255, 0};
// The palette picture's transparent index 0, and the checkerboard's two colours.
constexpr Rgb kHidden = {250, 0, 250}, kCheckDark = {0xC0, 0xC0, 0xC0}, kCheckLight = {255, 255, 255};

SamplePicture Solid(Rgb colour)
{
    SamplePicture picture(kSide, kSide);
    const uint8_t rgba[] = {colour.red, colour.green, colour.blue, 255};
    for (size_t at = 0; at < picture.rgba.size(); at += 4)
        std::copy_n(rgba, 4, &picture.rgba[at]);
    return picture;
}

// Blue on the left half, the transparent index 0 on the right half.
Bytes HalfClearGif()
{
    SamplePicture picture(kSide, kSide);
    picture.palette = {kHidden.red, kHidden.green, kHidden.blue, kBlue.red, kBlue.green, kBlue.blue};
    picture.palette.resize(768, 0);
    for (size_t i = 0; i < picture.indices.size(); ++i)
        picture.indices[i] = i % kSide < kSide / 2 ? 1 : 0;
    return EncodeGifPicture(picture, GifGraphicControl(true, 0));
}

bool Matches(const CImage& shot, int x, int y, Rgb colour)
{
    const uint8_t* pixel = shot.m_pPixels + (size_t(y) * size_t(shot.m_Width) + size_t(x)) * 4;
    return pixel[0] == colour.red && pixel[1] == colour.green && pixel[2] == colour.blue;
}

// How many pixels of the rectangle have the colour.
size_t CountColour(const CImage& shot, Rgb colour, int left, int top, int width, int height)
{
    size_t count = 0;
    for (int y = std::max(top, 0); y < std::min(top + height, shot.m_Height); ++y)
        for (int x = std::max(left, 0); x < std::min(left + width, shot.m_Width); ++x)
            count += Matches(shot, x, y, colour);
    return count;
}

// The first pixel of the colour, rows top first: a texture's top left corner, as its tile's swatch lies below it.
std::pair<int, int> FirstOfColour(const CImage& shot, Rgb colour)
{
    for (int y = 0; y < shot.m_Height; ++y)
        for (int x = 0; x < shot.m_Width; ++x)
            if (Matches(shot, x, y, colour))
                return {x, y};
    return {-1, -1};
}

RunResult Chromium(const std::string& dir, const std::string& page, const std::string& output)
{
    const char* browser = std::getenv("MTX_CHROMIUM");
    return RunTool("/usr/bin/timeout", {"120", browser ? browser : "/usr/bin/chromium", "--headless", "--no-sandbox",
                   "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
                   "--disable-component-update", "--disable-sync", "--user-data-dir=" + dir + "/profile",
                   "--force-color-profile=srgb", "--hide-scrollbars", "--force-device-scale-factor=1",
                   "--window-size=" + std::to_string(kWindowWidth) + "," + std::to_string(kWindowHeight), output,
                   "file://" + page}, dir);
}

}  // namespace

TEST(GalleryInBrowser, TexturesShowInTheirColoursOverTheCheckerboardWithTheirNames)
{
    const std::string dir = MTX_GALLERY_CHECK_DIR;
    fs::remove_all(dir);
    fs::create_directories(dir + "/in");
    ASSERT_EQ(RunTool(MAKE_SAMPLES_EXE, {dir + "/in"}, dir).status, 0);
    WriteFileBytes(dir + "/in/solid_rgb.tga", EncodeTga(Solid(kRed), {2, 24, 24, 0x20, false}));
    WriteFileBytes(dir + "/in/" + kOddName + ".tga", EncodeTga(Solid(kGreen), {2, 32, 24, 0x28, false}));
    WriteFileBytes(dir + "/in/solid_palette.gif", HalfClearGif());
    WriteFileBytes(dir + "/in/solid_dxt1.dds", EncodeDdsDxt1(Solid(kYellow)));
    ASSERT_EQ(RunTool(MTXMAKE_EXE, {"textures", "in/*.*"}, dir, "n\n").status, 0);
    ASSERT_EQ(RunTool(MTXDUMP_EXE, {"+gallery", "-out", "gallery", "textures"}, dir).status, 0);
    const std::string page = dir + "/gallery/textures/index.html";

    const RunResult shot = Chromium(dir, page, "--screenshot=" + dir + "/screenshot.png");
    ASSERT_EQ(shot.status, 0) << shot.err;
    const std::unique_ptr<CImage> image = DecodeImageFile(dir + "/screenshot.png");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->m_Width, kWindowWidth);
    // Each solid texture is one block of its own size in its colour; the palette picture's left half is its blue.
    const struct { const char* name; Rgb colour; int width; } solids[] = {
        {"rgb", kRed, kSide}, {"rgba, odd name", kGreen, kSide}, {"dxt1", kYellow, kSide},
        {"palette, opaque half", kBlue, kSide / 2}};
    for (const auto& s : solids) {
        const auto [left, top] = FirstOfColour(*image, s.colour);
        EXPECT_EQ(CountColour(*image, s.colour, left, top, s.width, kSide), size_t(s.width * kSide)) << s.name;
        EXPECT_EQ(CountColour(*image, s.colour, left + s.width, top, 1, kSide), 0u) << s.name;  // no wider
        EXPECT_EQ(CountColour(*image, s.colour, left, top + kSide, s.width, 1), 0u) << s.name;  // no taller
    }
    // Right of the blue half, where the palette picture is transparent, the checkerboard shows and nothing else.
    const auto [blueLeft, top] = FirstOfColour(*image, kBlue);
    const int left = blueLeft + kSide / 2, width = kSide / 2;
    const size_t dark = CountColour(*image, kCheckDark, left, top, width, kSide);
    const size_t light = CountColour(*image, kCheckLight, left, top, width, kSide);
    EXPECT_EQ(dark + light, size_t(width * kSide));
    EXPECT_GT(dark, 0u);
    EXPECT_GT(light, 0u);

    // The document as the browser parsed it: the odd name is one text node, the link the encoded file name.
    const RunResult dom = Chromium(dir, page, "--dump-dom");
    ASSERT_EQ(dom.status, 0) << dom.err;
    EXPECT_NE(dom.out.find("<span class=\"name\">a&lt;b&gt;&amp;c\"d'e #%f</span>"), std::string::npos) << dom.out;
    EXPECT_NE(dom.out.find("src=\"a%3Cb%3E%26c%22d%27e%20%23%25f.png\""), std::string::npos) << dom.out;
}
