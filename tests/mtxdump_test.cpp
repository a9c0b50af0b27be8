// Mtxdump run as a program: option scan and listing, extraction checked byte for byte
// against the sample writers and Mtxmake, refused records, write failures, the link file.
#include "archive/MipTexture.h"
#include "archive/PackageFormat.h"
#include "archive/ResFile.h"
#include "common/Banner.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

const std::string kBanner = std::string("MTX to TGA/PCX converter v1.2") + kMakerNotice + "\n \n";
const std::string kOk = "\t(Ok.)";

using Args = std::vector<std::string>;

RunResult Dump(const ScratchDir& dir, const Args& args) { return RunTool(MTXDUMP_EXE, args, dir.path()); }

std::string Process(const std::string& found) { return "\nProcess Pak file '" + found + "'...\n"; }

std::string Extract(std::string name, std::string ending) { return "  extract '" + name + "' " + ending + "\n"; }

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

std::set<std::string> FilesIn(const std::string& path)
{
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(path))
        names.insert(item.path().filename().string());
    return names;
}

// Every entry of a package, read unpacked.
std::vector<TestEntry> ReadEntries(const std::string& path)
{
    std::vector<TestEntry> entries;
    CResFile package(path.c_str());
    EXPECT_EQ(package.Open(RA_READ), 1) << path;
    for (int32_t index = 0; index < package.mfGetCount(); ++index) {
        Bytes data(static_cast<size_t>(package.mfFileSize(index)));
        EXPECT_EQ(package.mfFileRead(index, data.data(), static_cast<int64_t>(data.size())), int32_t(data.size()));
        entries.push_back({package.mfGetEntry(index).name, data, package.mfGetEntry(index).type});
    }
    return entries;
}

// The extractor's PCX of a picture: runs of one, the size as resolution, palette information 2.
Bytes ExtractedPcx(const SamplePicture& picture)
{
    Bytes file = EncodePcx(picture, {0, 1});
    SetI32(file, 12, picture.width | picture.height << 16);
    file[68] = 2;
    return file;
}

}  // namespace

TEST(Mtxdump, ArgumentsGiveTheirListingStatusAndFolders)
{
    ScratchDir dir;
    const Bytes walls = MakePackageBytes(
        {{"brick", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3})}, {"Palette", Bytes(1024, 7), RT_PALETTE}});
    WriteFileBytes(dir / "walls.mtx", walls);
    WriteFileBytes(dir / "walls.tga", ToBytes("not a package"));
    WriteFileBytes(dir / "+x.mtx", MakePackageBytes({{"e", ToBytes("data")}}));
    WriteFileBytes(dir / "blocker", ToBytes("a file in the way"));
    fs::create_directories(dir / "tex/folder.mtx");
    WriteFileBytes(dir / "tex/a.b.mtx", MakePackageBytes({{"dotted", ToBytes("d")}}));
    WriteFileBytes(dir / "tex/B.MTX", MakePackageBytes({{"stone", ToBytes("s")}}));
    WriteFileBytes(dir / "tex/bad.mtx", ToBytes("not a package"));
    WriteFileBytes(dir / "tex/.hidden.mtx", walls);
    const bool fifo = MakeFifo(dir / "tex/pipe.mtx");

    const std::string usage = "usage: Mtxdump [options] mtxfile";
    const std::string listed = Listing("walls.mtx", {"brick", "Palette"});
    const std::string extracted = Process("walls.mtx") + Extract("brick", kOk) + Extract("Palette", kOk);
    // Arguments -> standard output after the banner, exit status, a folder made and a path not made.
    const struct { Args args; std::string out; int status; std::string made, notMade; } cases[] = {
        {{}, "usage: Mtxdump [options] mtxfile (or *.*)\noptions:\n   +extract\n   +dds\n   +list\n"
             "   +quarklinks\n   -out\n", 1, "", ""},
        {{"+extract"}, usage, 1, "", "walls"},
        {{"+LIST", "+quarklinks", "+dds"}, usage, 1, "", "DataMirakTxt.qrk"},
        {{"+extract", "-out"}, usage, 1, "", ""},
        {{"+extract", "-out", "walls"}, usage, 1, "", "walls"},
        {{"-x", "walls"}, "Unknown option \"-x\"", 1, "", ""},
        {{"+list", "-Outdir", "walls"}, "Unknown option \"-Outdir\"", 1, "", ""},
        {{"-", "walls"}, "Unknown option \"-\"", 1, "", ""},
        {{"walls"}, listed, 0, "", "walls"},
        {{"+LIST", "+DDS", "W*.pcx", "a", "-x"}, listed, 0, "", ""},
        {{"+x", "walls"}, Listing("+x.mtx", {"e"}), 0, "", ""},
        {{"missing/*.mtx"}, "", 0, "", ""},
        {{"tex/*"}, Listing("a.b.mtx", {"dotted"}) + Listing("B.MTX", {"stone"}) +
                        Unopened("bad.mtx", "tex/bad.mtx") + (fifo ? Unopened("pipe.mtx", "tex/pipe.mtx") : ""),
         0, "", ""},
        {{"-out", "u/v", "+list", "walls"}, listed, 0, "", "u"},
        {{"+Extract", "-OUT", "e", "+List", "walls"},
         Listing("walls.mtx", {"brick"}) + Extract("brick", kOk) + "Palette\n" + Extract("Palette", kOk), 0,
         "e/walls", ""},
        {{"+extract", "-out", "first", "-out", "o/deep", "walls"}, extracted, 0, "o/deep/walls", "first"},
        {{"+extract", "-out", dir / "abs/x", "walls"}, extracted, 0, "abs/x/walls", ""},
        {{"+extract", "-out", "m\\", "nothing"}, "", 0, "m", ""},
        {{"+extract", "walls"}, extracted, 0, "walls", ""},
        {{"+extract", "-out", "t", "tex/a*"},
         Process("a.b.mtx") + Extract("dotted", "Warning: Can't load texture 'dotted'"),
         0, "t/a", "t/a.b"},
    };
    for (const auto& c : cases) {
        const RunResult run = Dump(dir, c.args);
        const std::string what = testing::PrintToString(c.args);
        EXPECT_EQ(run.out, kBanner + c.out) << what;
        EXPECT_EQ(run.status, c.status) << what;
        EXPECT_TRUE(c.made.empty() || IsDirectory(dir / c.made)) << what;
        EXPECT_TRUE(c.notMade.empty() || !FileExists(dir / c.notMade)) << what;
    }
    // A file in the way of the output folder, or of the package's folder inside it, ends the run.
    for (const std::string out : {"blocker/sub", "blocker"}) {
        const RunResult run = Dump(dir, {"+extract", "-out", out, "walls"});
        const std::string before =
            out == "blocker" ? Process("walls.mtx") + "mkdir blocker/walls: " : "mkdir blocker/sub: ";
        EXPECT_TRUE(IsHostError(run.out, kBanner + before, "Not a directory")) << out;
        EXPECT_EQ(run.status, 1) << out;
    }
#ifndef _WIN32  // a package path that would not fit the handle's name is not opened cut short
    std::string deep;  // deep + "a.mtx" fills the name but for its NUL; deep + "ab.mt" is that cut short
    while (deep.size() + 201 < kResNameCapacity - 6)
        deep += std::string(200, 'd') + "/";
    deep += std::string(kResNameCapacity - 7 - deep.size(), 'd') + "/";
    fs::create_directories(dir / deep);
    for (const char* name : {"a.mtx", "ab.mtx", "ab.mt"})
        WriteFileBytes(dir / deep + name, walls);
    EXPECT_EQ(Dump(dir, {deep + "a*"}).out,
              kBanner + Listing("a.mtx", {"brick", "Palette"}) + Unopened("ab.mtx", deep + "ab.mtx"));
#endif
}

// Pictures through Mtxmake and `Mtxdump +extract +dds` come back as the very files the
// sample writers make of them; the files rebuild the same package, and the package
// stored with LZSS extracts alike.
TEST(Mtxdump, ExtractedFilesAreTheSampleWritersFilesAndRebuildThePackage)
{
    uint32_t seed = 12345;
    const auto next = [&seed] { return static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16); };
    SamplePicture shared(1, 1);
    for (uint8_t& value : shared.palette)
        value = next();
    // DDS files: code, width, height, top level's size, body size, levels (0: not a whole chain).
    const struct { const char* code; uint32_t width, height, topSize, bodySize, levels; } dxts[] = {
        {"DXT1", 8, 4, 16, 40, 4}, {"DXT3", 4, 8, 32, 80, 4}, {"DXT5", 16, 8, 128, 208, 5},
        {"DXT1", 20, 4, 40, 40, 0}, {"DXT3", 8, 8, 64, 64, 0}, {"DXT5", 12, 4, 48, 48, 0},
        {"DXT1", 8, 4, 16, 41, 0}, {"DXT3", 4, 4, 16, 47, 0}, {"DXT1", 1, 4, 8, 24, 3},
    };
    for (const char* answer : {"n\n", "y\n"}) {
        ScratchDir dir;
        fs::create_directory(dir / "in");
        std::map<std::string, Bytes> expected;  // extracted file -> its bytes
        const int sides[][2] = {{1, 1}, {3, 2}, {1, 5}, {16, 16}, {7, 3}};
        for (size_t i = 0; i < std::size(sides); ++i) {
            SamplePicture picture(sides[i][0], sides[i][1]);
            picture.palette = shared.palette;
            for (uint8_t& value : picture.rgba)
                value = next();
            for (size_t at = 0; at < picture.indices.size(); ++at)
                picture.indices[at] = sides[i][0] == 16 ? static_cast<uint8_t>(at) : next();
            const std::string stem = "p" + std::to_string(i);
            expected[stem + "a.tga"] = EncodeTga(picture, {2, 24, 24, 0x20, false});
            expected[stem + "b.tga"] = EncodeTga(picture, {2, 32, 24, 0x28, false});
            expected[stem + "c.pcx"] = ExtractedPcx(picture);
            expected[stem + "d.pcx"] = ExtractedPcx(picture);
            for (const char* name : {"a.tga", "b.tga", "c.pcx"})
                WriteFileBytes(dir / "in/" + stem + name, expected[stem + name]);
            WriteFileBytes(dir / "in/" + stem + "d.gif", EncodeGifPicture(picture));
        }
        for (size_t i = 0; i < std::size(dxts); ++i) {
            const auto& c = dxts[i];
            Bytes file = DdsHeader(c.code, c.width, c.height, c.topSize);
            if (c.levels) {  // flags, mip-map count and caps at file offsets 8, 28 and 108
                SetI32(file, 8, 0x1 | 0x2 | 0x4 | 0x1000 | 0x20000 | 0x80000);
                SetI32(file, 28, static_cast<int32_t>(c.levels));
                SetI32(file, 108, 0x8 | 0x1000 | 0x400000);
            }
            for (uint32_t at = 0; at < c.bodySize; ++at)
                file.push_back(next());
            expected["t" + std::to_string(i) + ".dds"] = file;
            WriteFileBytes(dir / "in/t" + std::to_string(i) + ".dds", file);
        }
        ASSERT_EQ(RunTool(MTXMAKE_EXE, {"first", "in/*.*"}, dir.path(), answer).status, 0);
        std::vector<TestEntry> entries = ReadEntries(dir / "first.mtx");
        ASSERT_EQ(entries.size(), expected.size() + (answer[0] == 'y'));  // one per file, maybe "Palette"
        std::string lines;
        for (const TestEntry& entry : entries)
            lines += Extract(entry.name, kOk);

        for (TestEntry& entry : entries)
            entry = {entry.name, Packed(entry.data), entry.type, RC_LZSS};
        WriteFileBytes(dir / "packed.mtx", MakePackageBytes(entries));
        for (const char* package : {"first", "packed"}) {
            const RunResult run = Dump(dir, {"+extract", "+dds", "-out", "o", package});
            EXPECT_EQ(run.out, kBanner + Process(package + std::string(".mtx")) + lines) << package << answer;
            for (const auto& [name, bytes] : expected)
                EXPECT_EQ(ReadFileBytes(dir / "o/" + package + "/" + name), bytes) << package << name << answer;
            EXPECT_EQ(FilesIn(dir / "o/" + package).size(), expected.size()) << package;
        }
        ASSERT_EQ(RunTool(MTXMAKE_EXE, {"second", "o/first/*.*"}, dir.path(), answer).status, 0);
        EXPECT_EQ(ReadFileBytes(dir / "second.mtx"), ReadFileBytes(dir / "first.mtx")) << answer;
    }
}

// Records that do not fit their entry or name no texture format are refused or skipped
// with their line; the entries after them still extract, each to its own file.
TEST(Mtxdump, EveryRecordGetsItsLineAndOnlyWholeRecordsWriteFiles)
{
    const Bytes rgb = MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3});
    const Bytes dxt = MakeRecordBytes(4, 4, TEX_DXT1, {1, 2, 3, 4, 5, 6, 7, 8}, 0, 0);
    // Entry name, record -> file written (null: the record is refused) and its last bytes, when given.
    const struct { const char* name; Bytes record; const char* file; Bytes body; } cases[] = {
        {"fits", MakeRecordBytes(2, 2, TEX_RGB24, Bytes(12, 1)), "fits.tga", {}},
        {"short", MakeRecordBytes(2, 2, TEX_RGB24, Bytes(11, 1)), nullptr, {}},
        {"rgba", MakeRecordBytes(1, 2, TEX_RGBA32, Bytes(8, 1)), "rgba.tga", {}},
        {"own", MakeRecordBytes(1, 1, TEX_INDEXED8, Bytes(1025, 200), 1), "own.pcx", {}},
        {"ownshort", MakeRecordBytes(1, 1, TEX_INDEXED8, Bytes(1024, 1), 1), nullptr, {}},
        {"width0", MakeRecordBytes(0, 5, TEX_RGBA32, {}), nullptr, {}},
        {"heightneg", MakeRecordBytes(3, -1, TEX_RGB24, Bytes(9, 1)), nullptr, {}},
        {"huge", MakeRecordBytes(0x7FFFFFFF, 0x7FFFFFFF, TEX_RGBA32, Bytes(16, 1)), nullptr, {}},
        {"inheader", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3, 4}, 0, 107), nullptr, {}},
        {"pastend", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3}, 0, 109), nullptr, {}},
        {"offset", MakeRecordBytes(1, 1, TEX_RGB24, {9, 9, 9, 9, 1, 2, 3}, 0, 112), "offset.tga", {3, 2, 1}},
        {"tiny", Bytes(107, 2), nullptr, {}},
        {"noformat", MakeRecordBytes(0, 0, 1, {}), "", {}},
        {"dshort", MakeRecordBytes(8, 8, TEX_DXT5, Bytes(63), 0, 0), nullptr, {}},
        {"dwidth0", MakeRecordBytes(0, 4, TEX_DXT1, Bytes(8), 0, 0), nullptr, {}},
        {"dneg", MakeRecordBytes(-3, 4, TEX_DXT1, Bytes(8), 0, 0), nullptr, {}},
        {"dhuge", MakeRecordBytes(0x7FFFFFFF, 0x7FFFFFFF, TEX_DXT3, Bytes(16)), nullptr, {}},
        {"sky", dxt, "sky.dds", {1, 2, 3, 4, 5, 6, 7, 8}},
        {"wall_tc", dxt, "wall.dds", {}},
        {"_tc", dxt, "_tc.dds", {}},
        {"../../x", rgb, ".._.._x.tga", {3, 2, 1}},
        {"a\\b/c", rgb, "a_b_c.tga", {3, 2, 1}},
        {"dup", rgb, "dup.tga", {}},
        {"dup", MakeRecordBytes(2, 1, TEX_RGBA32, {5, 6, 7, 8, 9, 10, 11, 12}), "dup.tga", {7, 6, 5, 8, 11, 10, 9, 12}},
    };
    ScratchDir dir;
    std::vector<TestEntry> entries;
    for (const auto& c : cases)
        entries.push_back({c.name, c.record});
    // Each record's bytes are followed by the next entry's, so reading past one succeeds.
    WriteFileBytes(dir / "pk.mtx", MakePackageBytes(entries));
    for (const bool dds : {true, false}) {
        const std::string out = dds ? "o" : "n";
        std::string lines;
        std::set<std::string> files;
        for (const auto& c : cases) {
            const bool isDxt = c.record.size() >= kMipHeaderSize && GetI32(c.record, kMipFormatOffset) >= TEX_DXT1;
            if (isDxt && !dds) {
                lines += Extract(c.name, "Warning: Compressed texture -- ignored");
                continue;
            }
            lines += Extract(c.name, c.file ? kOk : "Warning: Can't load texture '" + std::string(c.name) + "'");
            if (c.file && *c.file)
                files.insert(c.file);
        }
        const RunResult run = Dump(dir, {"+extract", dds ? "+dds" : "+EXTRACT", "-out", out, "pk"});
        EXPECT_EQ(run.out, kBanner + Process("pk.mtx") + lines);
        EXPECT_EQ(FilesIn(dir / out + "/pk"), files);
        for (const auto& c : cases) {
            if (c.body.empty() || !files.count(c.file))
                continue;
            const Bytes file = ReadFileBytes(dir / out + "/pk/" + c.file);  // the body ends the file
            const auto bodySize = static_cast<ptrdiff_t>(std::min(file.size(), c.body.size()));
            EXPECT_EQ(Bytes(file.end() - bodySize, file.end()), c.body)
                << c.name;
        }
    }
}

// A palette record without its own palette takes the package's "Palette" entry, which
// must be exactly one table.
TEST(Mtxdump, SharedPaletteMustBeOneWholeTable)
{
    for (const size_t paletteSize : {0, 1000, 1024, 2048}) {
        ScratchDir dir;
        std::vector<TestEntry> entries = {{"idx", MakeRecordBytes(1, 1, TEX_INDEXED8, {4})}};
        if (paletteSize)  // first in the directory: its index is 0
            entries.insert(entries.begin(), {"Palette", Bytes(paletteSize, 9), RT_PALETTE});
        WriteFileBytes(dir / "pk.mtx", MakePackageBytes(entries));
        const bool whole = paletteSize == kRgbaPaletteSize;
        EXPECT_EQ(Dump(dir, {"+extract", "pk"}).out,
                  kBanner + Process("pk.mtx") + (paletteSize ? Extract("Palette", kOk) : "") +
                      Extract("idx", whole ? kOk : "(Can't find palette in pak 'pk.mtx')"))
            << paletteSize;
        EXPECT_EQ(FileExists(dir / "pk/idx.pcx"), whole) << paletteSize;
    }
}

const std::string kLinksOpening =
    "QQRKSRC1\n// This file has been written by Mtxdump\n// It's the text version of file: DataMirakTxt.qrk\n\n"
    "{\n  QuArKProtected = \"1\"\n  Description = \"Base Mirak textures data\"\n  Textures.qtx = \n  {\n"
    "    Toolbox = \"Texture Browser...\"\n    Root = \"Mirak Textures.qtxfolder\"\n    t_s:incl =\n"
    "    {\n      a = \"../Data\"\n    }\n    Mirak Textures.qtxfolder =\n    {\n";
const std::string kLinksClosing = "    }\n  }\n}\n";

TEST(Mtxdump, LinkFileHasAFolderPerPackageAndALinkPerEntry)
{
    ScratchDir dir;
    EXPECT_EQ(Dump(dir, {"+quarklinks", "*"}).out, kBanner);
    EXPECT_EQ(ReadFileText(dir / "DataMirakTxt.qrk"), HostLineEnds(kLinksOpening + kLinksClosing));

    WriteFileBytes(dir / "a.mtx", ToBytes("not a package"));
    WriteFileBytes(dir / "walls.mtx", MakePackageBytes({{"x/y", MakeRecordBytes(1, 1, TEX_RGB24, {0, 0, 0})},
                                                        {"wall", ToBytes("?")}}));
    const RunResult run = Dump(dir, {"+quarklinks", "+list", "+extract", "-out", "out", "*"});
    EXPECT_EQ(run.out, kBanner + Unopened("a.mtx", "a.mtx") + Listing("walls.mtx", {"x/y"}) +
                           Extract("x/y", kOk) + "wall\n" + Extract("wall", "Warning: Can't load texture 'wall'"));
    EXPECT_TRUE(FileExists(dir / "out/walls/x_y.tga"));
    EXPECT_FALSE(FileExists(dir / "out/DataMirakTxt.qrk"));
    EXPECT_EQ(ReadFileText(dir / "DataMirakTxt.qrk"),
              HostLineEnds(kLinksOpening + "      a.qtxfolder = \n      {\n      }\n"
                           "      walls.qtxfolder = \n      {\n        walls/x/y.wl\t\t= { t_s=! }\n"
                           "        walls/wall.wl\t\t= { t_s=! }\n      }\n" + kLinksClosing));
}

// An output file that cannot be written is reported instead of "(Ok.)" and left out;
// so is a link file that cannot be created or written, and the run goes on.
TEST(Mtxdump, FilesThatCannotBeWrittenAreReportedAndLeftOut)
{
    ScratchDir dir;
    WriteFileBytes(dir / "pk.mtx", MakePackageBytes({
        {"rgb", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3})},
        {"idx", MakeRecordBytes(1, 1, TEX_INDEXED8, Bytes(1025, 1), 1)},
        {"d_tc", MakeRecordBytes(4, 4, TEX_DXT1, Bytes(8), 0, 0)},
        {"rgba", MakeRecordBytes(1, 1, TEX_RGBA32, {1, 2, 3, 4})},
    }));
    fs::create_directories(dir / "o/pk/rgb.tga");
    fs::create_directory(dir / "DataMirakTxt.qrk");
    const auto cantWrite = [](const std::string& path) { return "Warning: Can't write file '" + path + "'"; };
    bool full = false;
#ifndef _WIN32
    fs::create_symlink("/dev/full", dir / "o/pk/idx.pcx");
    fs::create_symlink("/dev/full", dir / "o/pk/d.dds");
    full = true;
#endif
    const RunResult run = Dump(dir, {"+quarklinks", "+extract", "+dds", "-out", "o/", "pk"});
    EXPECT_EQ(run.out, kBanner + "Warning: Couldn't create link file 'DataMirakTxt.qrk'\n" + Process("pk.mtx") +
                           Extract("rgb", cantWrite("o/pk/rgb.tga")) +
                           Extract("idx", full ? cantWrite("o/pk/idx.pcx") : kOk) +
                           Extract("d_tc", full ? cantWrite("o/pk/d.dds") : kOk) + Extract("rgba", kOk));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(FilesIn(dir / "o/pk").size(), full ? 2u : 4u);  // the folder in the way among them
#ifndef _WIN32
    fs::remove(dir / "DataMirakTxt.qrk");
    fs::create_symlink("/dev/full", dir / "DataMirakTxt.qrk");
    EXPECT_EQ(Dump(dir, {"+quarklinks", "pk"}).out,
              kBanner + Listing("pk.mtx", {"rgb", "idx", "d_tc", "rgba"}) +
                  "Warning: Couldn't write link file 'DataMirakTxt.qrk'\n");
#endif
}
