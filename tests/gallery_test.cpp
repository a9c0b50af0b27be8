// PNG files and gallery pages: the PNG writer through the project's PNG reader, the pages' text, escaping and links.
#include "archive/MipTexture.h"
#include "archive/PackageFormat.h"
#include "archive/ResFile.h"
#include "common/Banner.h"
#include "extractor/GalleryPage.h"
#include "extractor/PngWriter.h"
#include "image/DxtDecode.h"
#include "image/Image.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>

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

namespace {

const std::string kBanner = std::string("MTX to TGA/PCX converter v1.2") + kMakerNotice + "\n \n";

// Every entry of a package by name: its bytes, unpacked.
std::map<std::string, Bytes> ReadEntries(const std::string& path)
{
    std::map<std::string, Bytes> entries;
    CResFile package(path.c_str());
    EXPECT_EQ(package.Open(RA_READ), 1) << path;
    for (int32_t index = 0; index < package.mfGetCount(); ++index) {
        Bytes data(static_cast<size_t>(package.mfFileSize(index)));
        package.mfFileRead(index, data.data(), static_cast<int64_t>(data.size()));
        entries[package.mfGetEntry(index).name] = data;
    }
    return entries;
}

std::string ExtractLines(const std::string& package, const std::vector<std::string>& names)
{
    std::string text = "\nProcess Pak file '" + package + "'...\n";
    for (const std::string& name : names)
        text += "  extract '" + name + "' \t(Ok.)\n";
    return text;
}

std::set<std::string> FilesIn(const std::string& path)
{
    std::set<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(path))
        names.insert(item.path().filename().string());
    return names;
}

// Pictures of every texture kind, written as the files Mtxmake takes: true colour as TGA, palette pictures as GIF
// (index 3 transparent) and PCX with one palette, DXT1 as DDS.
void WriteInputs(const ScratchDir& dir, std::mt19937& random)
{
    std::filesystem::create_directory(dir / "in");
    SamplePicture picture(8, 4);
    for (uint8_t& value : picture.rgba)
        value = uint8_t(random());
    for (uint8_t& value : picture.palette)
        value = uint8_t(random());
    for (uint8_t& index : picture.indices)
        index = uint8_t(random() % 6);
    WriteFileBytes(dir / "in/rgb.tga", EncodeTga(picture, {2, 24, 24, 0x20, false}));
    WriteFileBytes(dir / "in/rgba.tga", EncodeTga(picture, {2, 32, 24, 0x28, false}));
    WriteFileBytes(dir / "in/clear.gif", EncodeGifPicture(picture, GifGraphicControl(true, 3)));
    WriteFileBytes(dir / "in/plain.pcx", EncodePcx(picture));
    WriteFileBytes(dir / "in/metal.dds", EncodeDdsDxt1(picture));
}

}  // namespace

// Through `+extract +png` and Mtxmake again, RGB and RGBA records come back identical and palette records as RGBA
// with their colours and alpha 0 exactly at the transparent index; DXT records as their decoded pixels.
TEST(MtxdumpPng, RebuildingFromPngFilesKeepsEveryPixel)
{
    std::mt19937 random(23);
    for (const char* answer : {"n\n", "y\n"}) {
        ScratchDir dir;
        WriteInputs(dir, random);
        ASSERT_EQ(RunTool(MTXMAKE_EXE, {"first", "in/*.*"}, dir.path(), answer).status, 0);
        const RunResult run = RunTool(MTXDUMP_EXE, {"+Extract", "+PNG", "-out", "o", "first"}, dir.path());
        const bool shared = answer[0] == 'y';
        std::vector<std::string> names = {"clear", "metal_tc", "plain", "rgb", "rgba"};
        if (shared)
            names.insert(names.begin(), "Palette");
        EXPECT_EQ(run.out, kBanner + ExtractLines("first.mtx", names)) << answer;
        const std::set<std::string> files = {"clear.png", "metal.png", "plain.png", "rgb.png", "rgba.png"};
        EXPECT_EQ(FilesIn(dir / "o/first"), files) << answer;
        ASSERT_EQ(RunTool(MTXMAKE_EXE, {"second", "o/first/*.*"}, dir.path(), answer).status, 0);
        const std::map<std::string, Bytes> first = ReadEntries(dir / "first.mtx");
        const std::map<std::string, Bytes> second = ReadEntries(dir / "second.mtx");
        EXPECT_EQ(second.at("rgb"), first.at("rgb")) << answer;
        EXPECT_EQ(second.at("rgba"), first.at("rgba")) << answer;
        const Bytes& sharedPalette = shared ? first.at("Palette") : Bytes();
        for (const char* name : {"clear", "plain"}) {
            const Bytes& record = first.at(name);
            const bool own = GetI32(record, kMipOwnPaletteOffset) == 1;
            const uint8_t* palette = own ? &record[kMipHeaderSize] : sharedPalette.data();
            const uint8_t* indices = &record[kMipHeaderSize + (own ? kRgbaPaletteSize : 0)];
            const bool clear = palette[3 * 4 + 3] == 0;  // the GIF's transparent index, kept by a shared palette
            Bytes pixels;
            for (size_t i = 0; i < 32; ++i) {
                const uint8_t* colour = palette + indices[i] * 4;
                pixels.insert(pixels.end(), colour, colour + 3);
                if (clear)
                    pixels.push_back(indices[i] == 3 ? 0 : 255);
            }
            const Bytes& rebuilt = second.at(name);
            EXPECT_EQ(GetI32(rebuilt, kMipFormatOffset), clear ? TEX_RGBA32 : TEX_RGB24) << name << answer;
            EXPECT_EQ(Bytes(rebuilt.begin() + long(kMipHeaderSize), rebuilt.end()), pixels) << name << answer;
        }
        const Bytes& dxt = first.at("metal_tc");
        const auto decoded = DecodeDxtTopLevel("DXT1", 8, 4, &dxt[kMipHeaderSize], dxt.size() - kMipHeaderSize);
        const Bytes& metal = second.at("metal");
        EXPECT_EQ(Bytes(metal.begin() + long(kMipHeaderSize), metal.end()), Bytes(decoded.get(), decoded.get() + 128));
    }
}

// `+gallery` writes the files of `+extract +png` with the same lines, a page beside them per package, and an index of
// the pages when there are several; with `+dds` a DXT tile links its DDS file.
TEST(MtxdumpGallery, PagesBesideThePngFilesAndAnIndexOfSeveral)
{
    std::mt19937 random(24);
    ScratchDir dir;
    WriteInputs(dir, random);
    ASSERT_EQ(RunTool(MTXMAKE_EXE, {"walls", "in/*.*"}, dir.path(), "n\n").status, 0);
    std::filesystem::copy_file(dir / "walls.mtx", dir / "a b.mtx");
    const std::vector<std::string> names = {"clear", "metal_tc", "plain", "rgb", "rgba"};
    const std::set<std::string> files = {"clear.png", "index.html", "metal.png", "plain.png", "rgb.png", "rgba.png"};
    const RunResult run = RunTool(MTXDUMP_EXE, {"+gallery", "-out", "g", "*"}, dir.path());
    EXPECT_EQ(run.out, kBanner + ExtractLines("a b.mtx", names) + ExtractLines("walls.mtx", names));
    EXPECT_EQ(FilesIn(dir / "g"), (std::set<std::string>{"a b", "index.html", "walls"}));
    EXPECT_EQ(FilesIn(dir / "g/walls"), files);
    EXPECT_EQ(FilesIn(dir / "g/a b"), files);
    const std::string index = ReadFileText(dir / "g/index.html");
    EXPECT_NE(index.find("<a href=\"a%20b/index.html\">a b.mtx</a> 5 entries"), std::string::npos) << index;
    EXPECT_NE(index.find("<a href=\"walls/index.html\">walls.mtx</a> 5 entries"), std::string::npos) << index;
    const std::string page = ReadFileText(dir / "g/walls/index.html");
    EXPECT_NE(page.find("<img src=\"metal.png\" width=\"8\" height=\"4\" alt=\"metal_tc\">"), std::string::npos);
    EXPECT_NE(page.find("<span>palette, own palette</span>"), std::string::npos) << page;

    const RunResult one = RunTool(MTXDUMP_EXE, {"+DDS", "+Gallery", "-out", "h", "walls"}, dir.path());
    EXPECT_EQ(one.out, kBanner + ExtractLines("walls.mtx", names));
    EXPECT_EQ(FilesIn(dir / "h"), std::set<std::string>{"walls"});
    const std::string withDds = ReadFileText(dir / "h/walls/index.html");
    EXPECT_NE(withDds.find("<div class=\"none\"><a href=\"metal.dds\">metal.dds</a></div>"), std::string::npos);
}
