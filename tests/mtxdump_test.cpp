// Mtxdump run as a program: option scan and listing, extraction checked byte for byte
// against the sample writers and Mtxmake, refused records, write failures, the link file.
#include "archive/MipTexture.h"
#include "common/Banner.h"
#include "extractor/GalleryPage.h"
#include "image/DdsFormat.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>

namespace fs = std::filesystem;

namespace {

const std::string kBanner = std::string("MTX to TGA/PCX converter v1.2") + kMakerNotice + "\n \n";
const std::string kOk = "\t(Ok.)";

using Args = std::vector<std::string>;
using Names = std::set<std::string>;

RunResult Dump(const ScratchDir& dir, const Args& args) { return RunTool(MTXDUMP_EXE, args, dir.path()); }
std::string Process(const std::string& found) { return "\nProcess Pak file '" + found + "'...\n"; }
std::string Extract(std::string name, std::string ending) { return "  extract '" + name + "' " + ending + "\n"; }
std::string CantLoad(const std::string& name) { return "Warning: Can't load texture '" + name + "'"; }

std::string Listing(const std::string& found, const std::vector<std::string>& names)
{
    std::string text = Process(found);
    for (const std::string& name : names)
        text += name + "\n";
    return text;
}

std::string Unopened(const std::string& found, const std::string& path)
{
    return Process(found) + "Warning: Couldn't find resource file '" + path + "'\n";
}

Bytes Rec(int32_t width, int32_t height, int32_t format, const Bytes& body, int32_t own = 0, int32_t at = 108)
{
    return MakeRecordBytes(width, height, format, body, own, at);
}

// The chunk types of a PNG file, in order.
std::string PngChunks(const Bytes& png)
{
    // After the 8-byte signature, each chunk: its length and type (4 bytes each), its data, its CRC (4 bytes).
    constexpr size_t kSignatureSize = 8, kFieldSize = 4;
    std::string types;
    size_t length = 0;
    for (size_t at = kSignatureSize; at + 2 * kFieldSize <= png.size(); at += 3 * kFieldSize + length) {
        length = size_t(png[at]) << 24 | size_t(png[at + 1]) << 16 | size_t(png[at + 2]) << 8 | png[at + 3];
        const auto type = png.begin() + long(at + kFieldSize);
        types += (types.empty() ? "" : " ") + std::string(type, type + kFieldSize);
    }
    return types;
}

// 8 x 4 pictures of every texture kind as Mtxmake takes them: TGA true colour, GIF (index 3 transparent) and PCX
// with one palette, DXT1 DDS; the entries in their order are Palette (shared only), clear, metal_tc, plain, rgb, rgba.
void WritePictures(const ScratchDir& dir, uint32_t seed)
{
    std::mt19937 random(seed);
    SamplePicture picture(8, 4);
    std::generate(picture.rgba.begin(), picture.rgba.end(), [&random] { return uint8_t(random()); });
    std::generate(picture.palette.begin(), picture.palette.end(), [&random] { return uint8_t(random()); });
    std::generate(picture.indices.begin(), picture.indices.end(), [&random] { return uint8_t(random() % 6); });
    fs::create_directory(dir / "in");
    WriteFileBytes(dir / "in/rgb.tga", EncodeTga(picture, {2, 24, 24, 0x20, false}));
    WriteFileBytes(dir / "in/rgba.tga", EncodeTga(picture, {2, 32, 24, 0x28, false}));
    WriteFileBytes(dir / "in/clear.gif", EncodeGifPicture(picture, GifGraphicControl(true, 3)));
    WriteFileBytes(dir / "in/plain.pcx", EncodePcx(picture));
    WriteFileBytes(dir / "in/metal.dds", EncodeDdsDxt1(picture));
}

std::string ExtractedPictures(const std::string& package, bool shared)
{
    std::string lines = Process(package) + (shared ? Extract("Palette", kOk) : "");
    for (const char* name : {"clear", "metal_tc", "plain", "rgb", "rgba"})
        lines += Extract(name, kOk);
    return lines;
}

// Standard output after the banner, exit status, a folder made and a path not made.
TEST(Mtxdump, ArgumentsGiveTheirRunsOutcome)
{
    ScratchDir dir;
    const Bytes walls =
        MakePackageBytes({{"brick", Rec(1, 1, TEX_RGB24, {1, 2, 3})}, {"Palette", Bytes(1024, 7), RT_PALETTE}});
    fs::create_directories(dir / "tex/folder.mtx");
    WriteFileBytes(dir / "walls.mtx", walls);
    fs::create_directories(dir / "tex/deep");
    WriteFileBytes(dir / "tex/deep/walls.mtx", walls);  // another file of the same name
    WriteFileBytes(dir / "tex/.hidden.mtx", walls);
    for (const char* file : {"walls.tga", "tex/bad.mtx", "blocker"})
        WriteFileBytes(dir / file, ToBytes("not a package"));
    for (const auto& [file, entry] : {std::pair("+x.mtx", "e"), {"tex/a.b.mtx", "dotted"}, {"tex/B.MTX", "stone"}})
        WriteFileBytes(dir / file, MakePackageBytes({{entry, ToBytes("data")}}));
    const bool fifo = MakeFifo(dir / "tex/pipe.mtx");
    const std::string usage = "usage: Mtxdump [options] mtxfile";
    const std::string options = " (or *.*)\noptions:\n   +extract\n   +dds\n   +png\n   +gallery\n   +list\n"
                                "   +quarklinks\n   +jobs N\n   -out\n";
    const std::string listed = Listing("walls.mtx", {"brick", "Palette"});
    const std::string extracted = Process("walls.mtx") + Extract("brick", kOk) + Extract("Palette", kOk);
    const std::string dotted = Listing("a.b.mtx", {"dotted"});
    const std::string stone = Listing("B.MTX", {"stone"});
    const std::string pipe = fifo ? Unopened("pipe.mtx", "tex/pipe.mtx") : "";
    const std::string tex = dotted + stone + Unopened("bad.mtx", "tex/bad.mtx") + pipe;
    const std::string both = Listing("walls.mtx", {"brick"}) + Extract("brick", kOk) + "Palette\n" +
                             Extract("Palette", kOk);
    const std::string notTexture = Process("a.b.mtx") + Extract("dotted", CantLoad("dotted"));
    const auto unknown = [](const std::string& option) { return "Unknown option \"" + option + "\"\n"; };
    const auto none = [](const std::string& pattern) { return "Warning: no package matches " + pattern + "\n"; };
    const struct { const char* name; Args args; std::string out; int status; std::string made = "", notMade = ""; }
        cases[] = {
        {"no arguments", {}, usage + options, 1}, {"+png alone lists", {"+Png", "walls"}, listed, 0, "", "walls"},
        {"+jobs 0", {"+jobs", "0", "walls"}, usage, 1}, {"+jobs without a count", {"walls", "+jobs"}, usage, 1},
        {"+jobs in capitals", {"+JOBS", "2", "walls"}, listed, 0},
        {"a gallery", {"+GALLERY", "-out", "g", "walls"}, extracted, 0, "g/walls"},
        {"no package", {"+extract"}, usage, 1, "", "walls"},
        {"options alone", {"+LIST", "+quarklinks", "+dds"}, usage, 1, "", "DataMirakTxt.qrk"},
        {"-out without a folder", {"+extract", "-out"}, usage, 1},
        {"-out taking the package", {"+extract", "-out", "walls"}, usage, 1, "", "walls"},
        {"an unknown option", {"-x", "walls"}, unknown("-x"), 1},
        {"a longer option", {"+list", "-Outdir", "walls"}, unknown("-Outdir"), 1},
        {"a dash", {"-", "walls"}, unknown("-"), 1}, {"a listing", {"walls"}, listed, 0, "", "walls"},
        {"another extension; one not found", {"W*.pcx", "+LIST", "a", "+DDS"}, listed + none("a"), 2},
        {"an unknown option last", {"walls", "-x"}, unknown("-x"), 1},
        {"a package named like an option", {"+x", "*"}, Listing("+x.mtx", {"e"}) + listed, 0},
        {"each package once", {"walls", "./WALLS", "W*", "walls"}, listed, 0},
        {"one name in two folders", {"walls", "tex/deep/walls"}, listed + listed, 0},
        {"patterns in order", {"tex/b.*", "tex/a*", "tex/?.*"}, stone + dotted, 0},
        {"a missing folder", {"missing/*.mtx"}, none("missing/*.mtx"), 2},
        {"-out while listing", {"-out", "u/v", "+list", "walls"}, listed, 0, "", "u"},
        {"nothing found, one unreadable", {"nothing", "tex/bad"}, none("nothing") + Unopened("bad.mtx", "tex/bad.mtx"),
         3},
        {"a folder's packages", {"tex/*"}, tex, 3},
        {"listing and extracting", {"+Extract", "-OUT", "e", "+List", "walls"}, both, 0, "e/walls"},
        {"the last -out", {"+extract", "-out", "first", "-out", "o/deep", "walls"}, extracted, 0, "o/deep/walls",
         "first"},
        {"an absolute -out", {"+extract", "-out", dir / "abs/x", "walls"}, extracted, 0, "abs/x/walls"},
        {"-out made though nothing matches", {"+extract", "-out", "m\\", "nothing"}, none("nothing"), 2, "m"},
        {"no -out", {"+extract", "walls"}, extracted, 0, "walls"},
        {"no file, no folder", {"+extract", "-out", "t", "tex/a*"}, notTexture, 3, "t", "t/a"}};
    for (const auto& c : cases) {
        const RunResult run = Dump(dir, c.args);
        EXPECT_EQ(run.out, kBanner + c.out) << c.name;
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_TRUE(IsDirectory(dir / c.made)) << c.name;  // the scratch folder when none is named
        EXPECT_EQ(FileExists(dir / c.notMade), c.notMade.empty()) << c.name;
    }
}

// A file in the way of the output folder, or of the package's folder in it (made for its first file), ends the run.
TEST(Mtxdump, AFileInTheWayOfAFolderEndsTheRun)
{
    ScratchDir dir;
    WriteFileBytes(dir / "walls.mtx", MakePackageBytes({{"brick", Rec(1, 1, TEX_RGB24, {1, 2, 3})}}));
    WriteFileBytes(dir / "blocker", ToBytes("not a folder"));
    for (const std::string out : {"blocker/sub", "blocker"}) {
        const RunResult run = Dump(dir, {"+extract", "-out", out, "walls"});
        const std::string folder = Process("walls.mtx") + "  extract 'brick' mkdir blocker/walls";
        const std::string before = out == "blocker" ? folder : "mkdir " + out;
        EXPECT_TRUE(IsHostError(run.out, kBanner + before + ": ", "Not a directory")) << out;
        EXPECT_EQ(run.status, 1) << out;
    }
}

#ifndef _WIN32  // a package path that would not fit the handle's name is not opened cut short
TEST(Mtxdump, APathTooLongForTheHandleIsNotOpened)
{
    ScratchDir dir;
    std::string deep;  // deep + "a.mtx" fills the name but for its NUL; deep + "ab.mt" is that cut short
    while (deep.size() + 201 < kResNameCapacity - 6)
        deep += std::string(200, 'd') + "/";
    deep += std::string(kResNameCapacity - 7 - deep.size(), 'd') + "/";
    fs::create_directories(dir / deep);
    for (const char* name : {"a.mtx", "ab.mtx", "ab.mt"})
        WriteFileBytes(dir / deep + name, MakePackageBytes({{"brick", Rec(1, 1, TEX_RGB24, {1, 2, 3})}}));
    const std::string listed = Listing("a.mtx", {"brick"}) + Unopened("ab.mtx", deep + "ab.mtx");
    EXPECT_EQ(Dump(dir, {deep + "a*"}).out, kBanner + listed);
}
#endif

// A DDS file of the sample writer's header with `levels` levels (0: the top level alone), then `bodySize` bytes.
Bytes DdsFile(const char* code, uint32_t width, uint32_t height, uint32_t topSize, uint32_t bodySize, uint32_t levels,
              const std::function<uint8_t()>& next)
{
    constexpr size_t kFlagsAt = 8, kMipMapCountAt = 28, kCapsAt = 108;
    Bytes file = DdsHeader(code, width, height, topSize);
    if (levels) {
        SetI32(file, kFlagsAt, kDdsdCaps | kDdsdHeight | kDdsdWidth | kDdsdPixelFormat | kDdsdMipMapCount |
                                   kDdsdLinearSize);
        SetI32(file, kMipMapCountAt, static_cast<int32_t>(levels));
        SetI32(file, kCapsAt, kDdsCapsComplex | kDdsCapsTexture | kDdsCapsMipMap);
    }
    for (uint32_t at = 0; at < bodySize; ++at)
        file.push_back(next());
    return file;
}

// Pictures through Mtxmake and `Mtxdump +extract +dds` come back as the very files the sample writers make of them,
// which rebuild the same package.
TEST(Mtxdump, ExtractedFilesAreTheSampleWritersFiles)
{
    uint32_t seed = 12345;
    const std::function<uint8_t()> next = [&seed] { return uint8_t((seed = seed * 1103515245u + 12345u) >> 16); };
    Bytes palette(768);
    std::generate(palette.begin(), palette.end(), next);
    ScratchDir dir;
    fs::create_directory(dir / "in");
    std::map<std::string, Bytes> expected;  // extracted file -> its bytes
    const std::pair<int, int> sides[] = {{1, 1}, {3, 2}, {1, 5}, {16, 16}, {7, 3}};
    for (size_t i = 0; i < std::size(sides); ++i) {
        SamplePicture picture(sides[i].first, sides[i].second);
        picture.palette = palette;
        std::generate(picture.rgba.begin(), picture.rgba.end(), next);
        for (size_t at = 0; at < picture.indices.size(); ++at)
            picture.indices[at] = picture.width == 16 ? static_cast<uint8_t>(at) : next();
        const std::string stem = "p" + std::to_string(i);
        expected[stem + "a.tga"] = EncodeTga(picture, {2, 24, 24, 0x20, false});
        expected[stem + "b.tga"] = EncodeTga(picture, {2, 32, 24, 0x28, false});
        // The extractor's PCX: runs of one, the size as resolution, palette information 2.
        constexpr size_t kResolutionAt = 12, kPaletteInfoAt = 68;
        Bytes& pcx = expected[stem + "c.pcx"] = EncodePcx(picture, {0, 1});
        SetI32(pcx, kResolutionAt, picture.width | picture.height << 16);
        pcx[kPaletteInfoAt] = 2;
        expected[stem + "d.pcx"] = pcx;
        for (const char* name : {"a.tga", "b.tga", "c.pcx"})
            WriteFileBytes(dir / "in/" + stem + name, expected[stem + name]);
        WriteFileBytes(dir / "in/" + stem + "d.gif", EncodeGifPicture(picture));
    }
    // Code, width, height, top level's size, body size, levels (0: not a whole chain).
    const struct { const char* code; uint32_t width, height, topSize, bodySize, levels; } dxts[] = {
        {"DXT1", 8, 4, 16, 40, 4}, {"DXT3", 4, 8, 32, 80, 4}, {"DXT5", 16, 8, 128, 208, 5}, {"DXT1", 20, 4, 40, 40, 0},
        {"DXT3", 8, 8, 64, 64, 0}, {"DXT5", 12, 4, 48, 48, 0}, {"DXT1", 8, 4, 16, 41, 0}, {"DXT3", 4, 4, 16, 47, 0},
        {"DXT1", 1, 4, 8, 24, 3}};
    for (size_t i = 0; i < std::size(dxts); ++i) {
        const auto& c = dxts[i];
        const std::string name = "t" + std::to_string(i) + ".dds";
        expected[name] = DdsFile(c.code, c.width, c.height, c.topSize, c.bodySize, c.levels, next);
        WriteFileBytes(dir / "in/" + name, expected[name]);
    }
    ASSERT_EQ(RunTool(MTXMAKE_EXE, {"first", "in/*.*"}, dir.path(), "n\n").status, 0);
    std::string lines;
    for (const TestEntry& entry : ReadEntries(dir / "first.mtx"))
        lines += Extract(entry.name, kOk);
    EXPECT_EQ(Dump(dir, {"+extract", "+dds", "-out", "o", "first"}).out, kBanner + Process("first.mtx") + lines);
    for (const auto& [name, bytes] : expected)
        EXPECT_EQ(ReadFileBytes(dir / "o/first/" + name), bytes) << name;
    EXPECT_EQ(FilesIn(dir / "o/first").size(), expected.size());
    ASSERT_EQ(RunTool(MTXMAKE_EXE, {"second", "o/first/*.*"}, dir.path(), "n\n").status, 0);
    EXPECT_EQ(ReadFileBytes(dir / "second.mtx"), ReadFileBytes(dir / "first.mtx"));
}

// Records that do not fit their entry or name no texture format are refused or skipped, and sizes a format's
// header cannot hold are not written, each with its line; the entries after them still extract, each to its own
// file: a later entry of a name (letter case aside) to NAME~K, K counting the entries of that name.
TEST(Mtxdump, OnlyWholeRecordsWriteFiles)
{
    const Bytes rgb = Rec(1, 1, TEX_RGB24, {1, 2, 3});
    const Bytes dxt = Rec(4, 4, TEX_DXT1, {1, 2, 3, 4, 5, 6, 7, 8}, 0, 0);
    const Bytes tall = Rec(1, 65535, TEX_INDEXED8, Bytes(1024 + 65535, 9), 1);  // the most PCX and TGA hold
    // Entry name, record -> file written (null: the record is refused) and its last bytes, when given; a file
    // too large for its format.
    const struct {
        const char* name;
        Bytes record;
        const char* file = nullptr;
        Bytes body = {};
        const char* big = nullptr;
    } cases[] = {
        {"fits", Rec(2, 2, TEX_RGB24, Bytes(12, 1)), "fits.tga"}, {"short", Rec(2, 2, TEX_RGB24, Bytes(11, 1))},
        {"rgba", Rec(1, 2, TEX_RGBA32, Bytes(8, 1)), "rgba.tga"}, {"width0", Rec(0, 5, TEX_RGBA32, {})},
        {"own", Rec(1, 1, TEX_INDEXED8, Bytes(1025, 200), 1), "own.pcx"}, {"tiny", Bytes(107, 2)},
        {"owns", Rec(1, 1, TEX_INDEXED8, Bytes(1024, 1), 1)}, {"hneg", Rec(3, -1, TEX_RGB24, Bytes(9, 1))},
        {"huge", Rec(0x7FFFFFFF, 0x7FFFFFFF, TEX_RGBA32, Bytes(16, 1))}, {"noformat", Rec(0, 0, 1, {}), ""},
        {"inheader", Rec(1, 1, TEX_RGB24, {1, 2, 3, 4}, 0, 107)}, {"pastend", Rec(1, 1, TEX_RGB24, {1, 2, 3}, 0, 109)},
        {"offset", Rec(1, 1, TEX_RGB24, {9, 9, 9, 9, 1, 2, 3}, 0, 112), "offset.tga", {3, 2, 1}},
        {"dshort", Rec(8, 8, TEX_DXT5, Bytes(63), 0, 0)}, {"dneg", Rec(-3, 4, TEX_DXT1, Bytes(8), 0, 0)},
        {"dwidth0", Rec(0, 4, TEX_DXT1, Bytes(8), 0, 0)}, {"dhuge", Rec(0x7FFFFFFF, 0x7FFFFFFF, TEX_DXT3, Bytes(16))},
        {"row", Rec(4, 1, TEX_DXT1, {8, 7, 6, 5, 4, 3, 2, 1}, 0, 0), "row.dds", {8, 7, 6, 5, 4, 3, 2, 1}},
        {"sky", dxt, "sky.dds", {1, 2, 3, 4, 5, 6, 7, 8}}, {"wall_tc", dxt, "wall.dds"}, {"_tc", dxt, "_tc.dds"},
        {"../../x", rgb, ".._.._x.tga", {3, 2, 1}}, {"a\\b/c", rgb, "a_b_c.tga", {3, 2, 1}}, {"dup", rgb, "dup.tga"},
        {"DUP", Rec(2, 1, TEX_RGBA32, {5, 6, 7, 8, 9, 10, 11, 12}), "DUP~2.tga", {7, 6, 5, 8, 11, 10, 9, 12}},
        {"Dup", tall, "Dup~3.pcx"}, {"SHORT", rgb, "SHORT~2.tga"}, {"a_b_c", rgb, "a_b_c~2.tga"},
        {"wall", dxt, "wall~2.dds"}, {"wide", Rec(65535, 1, TEX_RGBA32, Bytes(4 * 65535, 1)), "wide.tga"},
        {"tga", Rec(65536, 1, TEX_RGB24, Bytes(3 * 65536, 1)), nullptr, {}, "tga.tga"},
        {"pcx", Rec(1, 65536, TEX_INDEXED8, Bytes(1024 + 65536, 1), 1), nullptr, {}, "pcx.pcx"}};
    ScratchDir dir;
    std::vector<TestEntry> entries;
    for (const auto& c : cases)
        entries.push_back({c.name, c.record});
    // Each record's bytes are followed by the next entry's, so reading past one succeeds.
    WriteFileBytes(dir / "pk.mtx", MakePackageBytes(entries));
    for (const bool dds : {true, false}) {
        const std::string out = dds ? "o" : "n";
        std::string lines;
        std::map<std::string, Bytes> files;  // file written -> its last bytes
        for (const auto& c : cases) {
            const bool isDxt = c.record.size() >= kMipHeaderSize && GetI32(c.record, kMipFormatOffset) >= TEX_DXT1;
            const bool skipped = isDxt && !dds;
            const std::string tooLarge = "Warning: Can't write file '" + out + "/pk/" + (c.big ? c.big : "") +
                                         "' (too large for its format)";
            const std::string ending = c.file ? kOk : c.big ? tooLarge : CantLoad(c.name);
            lines += Extract(c.name, skipped ? "Warning: Compressed texture -- ignored" : ending);
            if (!skipped && c.file && std::strchr(c.file, '~'))
                lines += "Warning: Duplicate texture name " + std::string(c.name) + " written as " + c.file + "\n";
            if (!skipped && c.file && *c.file)
                files[c.file] = c.body;
        }
        const RunResult run = Dump(dir, {"+extract", dds ? "+dds" : "+EXTRACT", "-out", out, "pk"});
        EXPECT_EQ(run.out, kBanner + Process("pk.mtx") + lines);
        EXPECT_EQ(run.status, 3);
        EXPECT_EQ(FilesIn(dir / out + "/pk").size(), files.size());
        EXPECT_FALSE(FileExists(dir / "DataMirakTxt.qrk"));  // only +quarklinks writes the link file
        for (const auto& [name, body] : files) {  // each file is there, a header and then the body
            const Bytes file = ReadFileBytes(dir / out + "/pk/" + name);
            ASSERT_GT(file.size(), body.size()) << name;
            EXPECT_EQ(Bytes(file.end() - long(body.size()), file.end()), body) << name;
        }
        const std::unique_ptr<CImage> pcx = DecodeImageFile(dir / out + "/pk/Dup~3.pcx");  // reads back
        ASSERT_NE(pcx, nullptr);
        EXPECT_EQ(pcx->m_Height, 65535);
    }
}

// Without its own palette a record takes the "Palette" entry (here at index 0), which must be one whole table;
// a texture without one fails, and its package's folder is not made.
TEST(Mtxdump, SharedPaletteMustBeOneWholeTable)
{
    ScratchDir dir;
    for (const size_t size : {0, 1000, 1024, 2048}) {
        const std::string name = "p" + std::to_string(size), pak = name + ".mtx";
        const std::vector<TestEntry> all = {{"Palette", Bytes(size, 9), RT_PALETTE},
                                            {"idx", Rec(1, 1, TEX_INDEXED8, {4})}};
        WriteFileBytes(dir / pak, MakePackageBytes({all.begin() + (size ? 0 : 1), all.end()}));
        const RunResult run = Dump(dir, {"+extract", name});
        const bool whole = size == kRgbaPaletteSize;
        const std::string noPalette = "(Can't find palette in pak '" + pak + "')";
        const std::string palette = size ? Extract("Palette", kOk) : "";
        EXPECT_EQ(run.out, kBanner + Process(pak) + palette + Extract("idx", whole ? kOk : noPalette));
        EXPECT_EQ(run.status, whole ? 0 : 3) << size;
        EXPECT_EQ(FileExists(dir / name + "/idx.pcx"), whole) << size;
        EXPECT_EQ(FileExists(dir / name), whole) << size;
    }
}

const std::string kLinksOpening =
    "QQRKSRC1\n// This file has been written by Mtxdump\n// It's the text version of file: DataMirakTxt.qrk\n\n"
    "{\n  QuArKProtected = \"1\"\n  Description = \"Base Mirak textures data\"\n  Textures.qtx = \n  {\n"
    "    Toolbox = \"Texture Browser...\"\n    Root = \"Mirak Textures.qtxfolder\"\n    t_s:incl =\n"
    "    {\n      a = \"../Data\"\n    }\n    Mirak Textures.qtxfolder =\n    {\n";
const std::string kLinksClosing = "    }\n  }\n}\n";

// A package walls.mtx of every texture kind, and "wall", no texture.
const std::vector<TestEntry> kWalls = {
    {"x/y", Rec(1, 1, TEX_RGB24, {1, 2, 3})}, {"idx", Rec(1, 1, TEX_INDEXED8, Bytes(1025, 1), 1)},
    {"d_tc", Rec(4, 4, TEX_DXT1, Bytes(8), 0, 0)}, {"wall", ToBytes("?")},
    {"rgba", Rec(1, 1, TEX_RGBA32, {1, 2, 3, 4})}};

// The link file has a folder per package and a link per entry, and is written in the working folder, even when no
// package is found.
TEST(Mtxdump, TheLinkFileLinksEveryEntryOfEveryPackage)
{
    ScratchDir dir;
    EXPECT_EQ(Dump(dir, {"+quarklinks", "*"}).out, kBanner + "Warning: no package matches *\n");
    EXPECT_EQ(ReadFileText(dir / "DataMirakTxt.qrk"), HostLineEnds(kLinksOpening + kLinksClosing));
    WriteFileBytes(dir / "walls.mtx", MakePackageBytes(kWalls));
    WriteFileBytes(dir / "a.mtx", ToBytes("not a package"));
    std::string listed = Unopened("a.mtx", "a.mtx") + Process("walls.mtx");
    std::string links = kLinksOpening + "      a.qtxfolder = \n      {\n      }\n      walls.qtxfolder = \n      {\n";
    for (const TestEntry& entry : kWalls) {
        listed += entry.name + "\n" + Extract(entry.name, entry.name == "wall" ? CantLoad("wall") : kOk);
        links += "        walls/" + entry.name + ".wl\t\t= { t_s=! }\n";
    }
    EXPECT_EQ(Dump(dir, {"+quarklinks", "+list", "+extract", "+dds", "-out", "out", "*"}).out, kBanner + listed);
    EXPECT_EQ(FilesIn(dir / "out/walls"), (Names{"x_y.tga", "idx.pcx", "d.dds", "rgba.tga"}));
    EXPECT_FALSE(FileExists(dir / "out/DataMirakTxt.qrk"));
    EXPECT_EQ(ReadFileText(dir / "DataMirakTxt.qrk"), HostLineEnds(links + "      }\n" + kLinksClosing));
}

// A link file or an output file that cannot be created or written is reported and left out; the run goes on, and
// ends with status 3.
TEST(Mtxdump, FilesThatCannotBeWrittenAreReported)
{
    ScratchDir dir;
    WriteFileBytes(dir / "walls.mtx", MakePackageBytes(kWalls));
    fs::create_directories(dir / "o/walls/x_y.tga");
    fs::create_directory(dir / "DataMirakTxt.qrk");
    const auto cantWrite = [](const std::string& path) { return "Warning: Can't write file '" + path + "'"; };
#ifndef _WIN32
    for (const char* file : {"idx.pcx", "d.dds"})
        fs::create_symlink("/dev/full", dir / "o/walls/" + file);
#endif
    const RunResult run = Dump(dir, {"+quarklinks", "+extract", "+dds", "-out", "o/", "walls"});
    EXPECT_EQ(run.out, kBanner + "Warning: Couldn't create link file 'DataMirakTxt.qrk'\n" + Process("walls.mtx") +
                           Extract("x/y", cantWrite("o/walls/x_y.tga")) +
                           Extract("idx", kWindowsHost ? kOk : cantWrite("o/walls/idx.pcx")) +
                           Extract("d_tc", kWindowsHost ? kOk : cantWrite("o/walls/d.dds")) +
                           Extract("wall", CantLoad("wall")) + Extract("rgba", kOk));
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(FilesIn(dir / "o/walls").size(), kWindowsHost ? 4u : 2u);  // the folder in the way among them
    WriteFileBytes(dir / "one.mtx", MakePackageBytes({kWalls[0]}));
    fs::create_directories(dir / "g/one/index.html");  // the gallery page's place
    const RunResult page = Dump(dir, {"+gallery", "-out", "g", "one"});
    EXPECT_EQ(page.out, kBanner + Process("one.mtx") + Extract("x/y", kOk) + cantWrite("g/one/index.html") + "\n");
    EXPECT_EQ(page.status, 3);
#ifndef _WIN32
    fs::remove(dir / "DataMirakTxt.qrk");
    fs::create_symlink("/dev/full", dir / "DataMirakTxt.qrk");
    const RunResult full = Dump(dir, {"+quarklinks", "walls"});
    EXPECT_EQ(full.out, kBanner + Listing("walls.mtx", {"x/y", "idx", "d_tc", "wall", "rgba"}) +
                            "Warning: Couldn't write link file 'DataMirakTxt.qrk'\n");
    EXPECT_EQ(full.status, 3);
#endif
}

// PNG files encoded and written on four workers give the lines, the status and the files of one worker, a file
// that cannot be written included.
TEST(Mtxdump, PngWorkersGiveWhatOneWorkerGives)
{
    RunResult runs[2];
    std::map<std::string, Bytes> files[2];
    for (int i = 0; i < 2; ++i) {
        ScratchDir dir;
        WritePictures(dir, 25);
        ASSERT_EQ(RunTool(MTXMAKE_EXE, {"own", "in/*.*"}, dir.path(), "n\n").status, 0);
        ASSERT_EQ(RunTool(MTXMAKE_EXE, {"shared", "in/*.*"}, dir.path(), "y\n").status, 0);
        fs::create_directories(dir / "o/own/rgb.png");
        runs[i] = Dump(dir, {"+gallery", "+list", "+jobs", i == 0 ? "1" : "4", "-out", "o", "own", "shared"});
        for (const auto& item : fs::recursive_directory_iterator(dir / "o")) {
            if (item.is_regular_file())
                files[i][fs::relative(item.path(), dir.path()).generic_string()] = ReadFileBytes(item.path().string());
        }
    }
    EXPECT_EQ(runs[0].status, 3);
    EXPECT_EQ(runs[1].status, runs[0].status);
    EXPECT_EQ(runs[1].out, runs[0].out);
    EXPECT_EQ(files[0].size(), 12u);
    EXPECT_EQ(files[1], files[0]);
}

// The swatch the page shows for an average colour.
std::string Swatch(int red, int green, int blue)
{
    char average[8];
    std::snprintf(average, sizeof average, "#%02x%02x%02x", red, green, blue);
    return std::string("style=\"background:") + average + "\"></span>average " + average;
}

// The swatch of a picture's average colour, as the page shows it for a DXT texture.
std::string AverageSwatch(const CImage& picture)
{
    uint64_t sums[3] = {};
    const size_t count = size_t(picture.m_Width) * size_t(picture.m_Height);
    for (size_t pixel = 0; pixel < count; ++pixel) {
        for (size_t channel = 0; channel < 3; ++channel)
            sums[channel] += picture.m_pPixels[pixel * 4 + channel];
    }
    return Swatch(int(sums[0] / count), int(sums[1] / count), int(sums[2] / count));
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

// `+gallery` writes the files and lines of `+extract +png` (PNG files with no chunk but the needed ones), and beside
// the files of each package one self-contained page: its name and entry count, a tile per texture in directory
// order, then the other entries; with several packages an index of the pages. With `+dds`, DXT textures stay DDS
// files that their tiles link. Here walls.mtx has a shared palette, "a b&'#.mtx" the same pictures' own palettes.
TEST(Mtxdump, GalleryPagesShowEachPackageBesideItsFiles)
{
    ScratchDir dir;
    WritePictures(dir, 24);
    ASSERT_EQ(RunTool(MTXMAKE_EXE, {"walls", "in/*.*"}, dir.path(), "y\n").status, 0);
    ASSERT_EQ(RunTool(MTXMAKE_EXE, {"a b&'#", "in/*.*"}, dir.path(), "n\n").status, 0);
    const Names files = {"clear.png", "index.html", "metal.png", "plain.png", "rgb.png", "rgba.png"};
    EXPECT_EQ(Dump(dir, {"+gallery", "-out", "g", "*"}).out,
              kBanner + ExtractedPictures("a b&'#.mtx", false) + ExtractedPictures("walls.mtx", true));
    EXPECT_EQ(FilesIn(dir / "g"), (Names{"a b&'#", "index.html", "walls"}));
    EXPECT_EQ(FilesIn(dir / "g/walls"), files);
    EXPECT_EQ(FilesIn(dir / "g/a b&'#"), files);
    // A palette's alphas go to tRNS only where one is below 255: in the shared palette, and in the GIF's own.
    const std::pair<const char*, const char*> chunks[] = {
        {"walls/clear.png", "IHDR PLTE tRNS IDAT IEND"}, {"walls/plain.png", "IHDR PLTE tRNS IDAT IEND"},
        {"a b&'#/clear.png", "IHDR PLTE tRNS IDAT IEND"}, {"a b&'#/plain.png", "IHDR PLTE IDAT IEND"},
        {"walls/rgb.png", "IHDR IDAT IEND"}, {"walls/rgba.png", "IHDR IDAT IEND"},
        {"walls/metal.png", "IHDR IDAT IEND"}};
    for (const auto& [file, types] : chunks)
        EXPECT_EQ(PngChunks(ReadFileBytes(dir / "g/" + file)), types) << file;
    const std::string index = ReadFileText(dir / "g/index.html");
    const std::string page = ReadFileText(dir / "g/walls/index.html");
    EXPECT_EQ(FindInOrder(index, {"<title>Packages</title>",
                                  "<li><a href=\"a%20b%26%27%23/index.html\">a b&amp;&#39;#.mtx</a> 5 entries</li>\n",
                                  "<li><a href=\"walls/index.html\">walls.mtx</a> 6 entries</li>\n</ul>\n</body>\n"
                                  "</html>\n"}), index.size()) << index;
    const Bytes rgb = ReadEntries(dir / "walls.mtx").at(4).data;  // after Palette, clear, metal_tc and plain
    const std::string swatch = Swatch(GetI32(rgb, kMipAverageRedOffset), GetI32(rgb, kMipAverageGreenOffset),
                                      GetI32(rgb, kMipAverageBlueOffset));
    const std::unique_ptr<CImage> metal = DecodeImageFile(dir / "g/walls/metal.png");
    ASSERT_NE(metal, nullptr);
    const std::string tile = "<figure class=\"tile\">\n<a href=\"clear.png\"><img src=\"clear.png\" width=\"8\" "
                             "height=\"4\" alt=\"clear\"></a>\n<figcaption>\n<span class=\"name\">clear</span>\n"
                             "<span>8 \xC3\x97 4</span>\n<span>palette, shared palette</span>\n"
                             "<span><span class=\"swatch\"";
    const std::vector<std::string> texts = {"<!DOCTYPE html>\n", "<title>walls.mtx</title>",
        "image-rendering:pixelated", "<h1>walls.mtx</h1>\n<p>6 entries</p>\n<main class=\"tiles\">\n" + tile,
        "alt=\"metal_tc\">", "<span>DXT1</span>\n<span><span class=\"swatch\" " + AverageSwatch(*metal),
        "alt=\"plain\">", "<span>palette, shared palette</span>", "alt=\"rgb\">", "<span>RGB</span>", swatch,
        "alt=\"rgba\">", "<span>RGBA</span>", "</main>\n<h2>Other entries</h2>\n<ul>\n",
        "<li><span class=\"name\">Palette</span> 1024 bytes</li>\n</ul>\n</body>\n</html>\n"};
    EXPECT_EQ(FindInOrder(page, texts), page.size()) << page;
    for (const std::string& html : {index, page}) {  // no script, nothing fetched from outside the folder
        for (const char* text : {"<script", "<link", "url(", "@import", "://", "<iframe", "<object", "<embed"})
            EXPECT_EQ(html.find(text), std::string::npos) << text;
    }
    const RunResult dds = Dump(dir, {"+DDS", "+Gallery", "-out", "h", "walls"});
    EXPECT_EQ(dds.out, kBanner + ExtractedPictures("walls.mtx", true));
    EXPECT_EQ(FilesIn(dir / "h"), Names{"walls"});  // one package: no index
    const std::string ddsPage = ReadFileText(dir / "h/walls/index.html");
    EXPECT_NE(ddsPage.find("<div class=\"none\"><a href=\"metal.dds\">metal.dds</a></div>"), std::string::npos);
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

TEST(GalleryPage, LinksArePercentEncoded)
{
    const struct { std::string name, url; } cases[] = {
        {"brick-01_a.png", "brick-01_a.png"}, {"~x", "~x"}, {"a b#?%&.png", "a%20b%23%3F%25%26.png"},
        {"<\"'>/\\", "%3C%22%27%3E%2F%5C"}, {"caf\xC3\xA9", "caf%C3%A9"}, {"\x01\x7F\xFF", "%01%7F%FF"}};
    for (const auto& c : cases)
        EXPECT_EQ(UrlPath(c.name), c.url) << c.name;
}

}  // namespace
