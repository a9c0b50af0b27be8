// PNG files and gallery pages: the PNG writer through the project's PNG reader, the pages' text, escaping and links.
#include "archive/MipTexture.h"
#include "extractor/GalleryPage.h"
#include "extractor/PngWriter.h"
#include "image/Image.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// The chunk types of a PNG file in order, and the data of its tRNS chunk.
struct PngChunks {
    std::string types;
    Bytes transparency;
};

PngChunks ReadChunks(const Bytes& png)
{
    constexpr size_t kSignature = 8, kLengthAndType = 8, kCrc = 4;
    PngChunks chunks;
    for (size_t at = kSignature; at + kLengthAndType <= png.size();) {
        size_t length = 0;  // big-endian
        for (size_t i = 0; i < 4; ++i)
            length = length << 8 | png[at + i];
        const auto type = png.begin() + long(at) + 4, data = type + 4;
        chunks.types += (chunks.types.empty() ? "" : " ") + std::string(type, data);
        if (std::string(type, data) == "tRNS")
            chunks.transparency.assign(data, data + long(length));
        at += kLengthAndType + length + kCrc;
    }
    return chunks;
}

RgbaPalette TestPalette(int clearIndex)
{
    RgbaPalette palette{};
    for (size_t i = 0; i < kRgbaPaletteEntries; ++i)
        palette.entries[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), uint8_t(int(i) == clearIndex ? 0 : 255)};
    return palette;
}

}  // namespace

// Every colour kind decodes to its pixels; a palette keeps its alphas in tRNS only when one is below 255, up to the
// last such entry; no chunk but the needed ones is written.
TEST(PngWriter, PicturesComeBackThroughThePngReader)
{
    const RgbaPalette opaque = TestPalette(-1), clearAt5 = TestPalette(5), clearAt0 = TestPalette(0);
    const Bytes rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, rgba = {1, 2, 3, 0, 4, 5, 6, 128, 7, 8, 9, 255};
    const Bytes indices = {0, 5, 255};
    const struct {
        const char* name;
        PngPicture picture;
        Bytes decoded;
        int32_t bpp;
        std::string chunks;
        Bytes transparency;
    } cases[] = {
        {"rgb 2 x 2", {2, 2, PngColour::Rgb, rgb.data()}, {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0}, 24,
         "IHDR IDAT IEND", {}},
        {"rgba 3 x 1", {3, 1, PngColour::Rgba, rgba.data()}, rgba, 32, "IHDR IDAT IEND", {}},
        {"palette, opaque", {1, 3, PngColour::Palette, indices.data(), &opaque},
         {0, 255, 0, 0, 5, 250, 2, 0, 255, 0, 127, 0}, 24, "IHDR PLTE IDAT IEND", {}},
        {"palette, index 5 clear", {3, 1, PngColour::Palette, indices.data(), &clearAt5},
         {0, 255, 0, 255, 5, 250, 2, 0, 255, 0, 127, 255}, 32, "IHDR PLTE tRNS IDAT IEND",
         {255, 255, 255, 255, 255, 0}},
        {"palette, index 0 clear", {3, 1, PngColour::Palette, indices.data(), &clearAt0},
         {0, 255, 0, 0, 5, 250, 2, 255, 255, 0, 127, 255}, 32, "IHDR PLTE tRNS IDAT IEND", {0}}};
    for (const auto& c : cases) {
        std::vector<uint8_t> png;
        ASSERT_TRUE(EncodePng(c.picture, png)) << c.name;
        const PngChunks chunks = ReadChunks(png);
        EXPECT_EQ(chunks.types, c.chunks) << c.name;
        EXPECT_EQ(chunks.transparency, c.transparency) << c.name;
        const std::unique_ptr<CImage> image(LoadImageMemory(png.data(), uint32_t(png.size())));
        ASSERT_NE(image, nullptr) << c.name;
        EXPECT_EQ(image->m_Format, IMG_PNG) << c.name;
        EXPECT_EQ(image->m_Width, c.picture.width) << c.name;
        EXPECT_EQ(image->m_Height, c.picture.height) << c.name;
        EXPECT_EQ(image->m_Bpp, c.bpp) << c.name;
        EXPECT_EQ(Bytes(image->m_pPixels, image->m_pPixels + c.decoded.size()), c.decoded) << c.name;
    }
}

TEST(PngWriter, PicturesWithoutPixelsSidesOrPaletteAreRefused)
{
    const Bytes pixels(16, 1);
    const struct { const char* name; PngPicture picture; } cases[] = {
        {"no width", {0, 1, PngColour::Rgb, pixels.data()}},
        {"negative height", {1, -1, PngColour::Rgba, pixels.data()}},
        {"no pixels", {1, 1, PngColour::Rgb, nullptr}}, {"no palette", {1, 1, PngColour::Palette, pixels.data()}}};
    for (const auto& c : cases) {
        std::vector<uint8_t> png = {1};
        EXPECT_FALSE(EncodePng(c.picture, png)) << c.name;
        EXPECT_EQ(png.size(), 0u) << c.name;
    }
}

// Markup characters become references, controls their pictures; UTF-8 stays, other bytes read as Windows-1252.
TEST(GalleryPage, NamesShowAsThemselves)
{
    const struct { const char* name; std::string bytes, html; } cases[] = {
        {"plain", "brick_01", "brick_01"}, {"markup", "<b>&\"'", "&lt;b&gt;&amp;&quot;&#39;"},
        {"controls", "a\tb\x1F\x7F", "a&#x2409;b&#x241F;&#x2421;"},
        {"utf-8", "caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"latin-1", "caf\xE9", "caf&#xE9;"}, {"windows-1252 range", "\x80", "&#x80;"},
        {"overlong", "\xC0\xAF", "&#xC0;&#xAF;"}, {"surrogate", "\xED\xA0\x80", "&#xED;&#xA0;&#x80;"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", "&#xF4;&#x90;&#x80;&#x80;"}, {"cut short", "\xE2\x82", "&#xE2;&#x82;"},
        {"one bad byte taints all", "\xC3\xA9\xFF", "&#xC3;&#xA9;&#xFF;"}};
    for (const auto& c : cases)
        EXPECT_EQ(HtmlText(c.bytes), c.html) << c.name;
}

TEST(GalleryPage, FileLinksArePercentEncoded)
{
    const struct { std::string name, url; } cases[] = {
        {"brick-01_a.png", "brick-01_a.png"}, {"~x", "~x"}, {"a b#?%&.png", "a%20b%23%3F%25%26.png"},
        {"<\"'>/\\", "%3C%22%27%3E%2F%5C"}, {"caf\xC3\xA9", "caf%C3%A9"}, {"\x01\x7F\xFF", "%01%7F%FF"}};
    for (const auto& c : cases)
        EXPECT_EQ(UrlPath(c.name), c.url) << c.name;
}

namespace {

GalleryEntry Texture(const std::string& name, int32_t format, const std::string& file, bool own = false)
{
    GalleryEntry entry;
    entry.name = name;
    entry.texture = true;
    entry.width = 64;
    entry.height = 32;
    entry.format = format;
    entry.ownPalette = own;
    entry.imageFile = file;
    return entry;
}

GalleryEntry Other(const std::string& name, uint64_t size)
{
    GalleryEntry entry;
    entry.name = name;
    entry.size = size;
    return entry;
}

// A page of one package with every kind of entry, the Palette entry between the textures.
GalleryPackage SamplePackage()
{
    GalleryEntry rgb = Texture("brick #1", TEX_RGB24, "brick #1.png");
    rgb.hasAverage = true;
    rgb.averageRed = 10, rgb.averageGreen = 20, rgb.averageBlue = 254;
    return {"a<b>.mtx", {rgb, Other("Palette", 1024), Texture("own", TEX_INDEXED8, "own.png", true),
                         Texture("shared", TEX_INDEXED8, "shared.png"), Texture("glass", TEX_RGBA32, "glass.png"),
                         Texture("metal_tc", TEX_DXT5, ""), Other("notes", 1)}};
}

// Where each text is found in the page, searching on from the end of the one before; npos once one is missing.
size_t FindInOrder(const std::string& page, const std::vector<std::string>& texts)
{
    size_t at = 0;
    for (const std::string& text : texts) {
        at = page.find(text, at);
        if (at == std::string::npos)
            return at;
        at += text.size();
    }
    return at;
}

}  // namespace

TEST(GalleryPage, PackagePageShowsTilesInDirectoryOrderThenOtherEntries)
{
    const std::string page = GalleryPackagePage(SamplePackage());
    const std::vector<std::string> texts = {"<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n",
        "<title>a&lt;b&gt;.mtx</title>", "image-rendering:pixelated", "<h1>a&lt;b&gt;.mtx</h1>\n<p>7 entries</p>",
        "<a href=\"brick%20%231.png\"><img src=\"brick%20%231.png\" width=\"64\" height=\"32\" alt=\"brick #1\"></a>",
        "<span class=\"name\">brick #1</span>\n<span>64 \xC3\x97 32</span>\n<span>RGB</span>\n",
        "<span><span class=\"swatch\" style=\"background:#0a14fe\"></span>average #0a14fe</span>",
        "src=\"own.png\"", "<span>palette, own palette</span>", "src=\"shared.png\"",
        "<span>palette, shared palette</span>",
        "src=\"glass.png\"", "<span>RGBA</span>", "<div class=\"none\">no image</div>", "metal_tc", "<span>DXT5</span>",
        "</main>\n<h2>Other entries</h2>\n<ul>\n<li><span class=\"name\">Palette</span> 1024 bytes</li>\n"
        "<li><span class=\"name\">notes</span> 1 byte</li>\n</ul>\n</body>\n</html>\n"};
    EXPECT_EQ(FindInOrder(page, texts), page.size()) << page;
    EXPECT_EQ(page.find("swatch\" style", page.find("own.png")), std::string::npos);  // only the first has an average
}

TEST(GalleryPage, IndexPageLinksEachPackagesPage)
{
    const std::string page = GalleryIndexPage({{"walls.mtx", "walls", 2}, {"a b&.MTX", "a b&", 1}});
    const std::vector<std::string> texts = {"<title>Packages</title>", "<h1>Packages</h1>\n<ul>\n",
        "<li><a href=\"walls/index.html\">walls.mtx</a> 2 entries</li>\n",
        "<li><a href=\"a%20b%26/index.html\">a b&amp;.MTX</a> 1 entry</li>\n</ul>\n</body>\n</html>\n"};
    EXPECT_EQ(FindInOrder(page, texts), page.size()) << page;
}

// Self-contained: no script, no link or import to anything outside the page and its folder.
TEST(GalleryPage, PagesFetchNothingAndRunNoScript)
{
    for (const std::string& page : {GalleryPackagePage(SamplePackage()), GalleryIndexPage({{"w.mtx", "w", 1}})}) {
        for (const char* text : {"<script", "<link", "url(", "@import", "://", "<iframe", "<object", "<embed"})
            EXPECT_EQ(page.find(text), std::string::npos) << text;
    }
}
