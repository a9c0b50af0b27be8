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

std::set<std::string> FilesIn(const std::string& path)
{
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(path))
        names.insert(item.path().filename().string());
    return names;
}

Bytes Rec(int32_t width, int32_t height, int32_t format, const Bytes& body, int32_t own = 0, int32_t at = 108)
{
    return MakeRecordBytes(width, height, format, body, own, at);
}

}  // namespace

TEST(Mtxdump, ArgumentsGiveTheirListingStatusAndFolders)
{
    ScratchDir dir;
    const Bytes walls =
        MakePackageBytes({{"brick", Rec(1, 1, TEX_RGB24, {1, 2, 3})}, {"Palette", Bytes(1024, 7), RT_PALETTE}});
    fs::create_directories(dir / "tex/folder.mtx");
    WriteFileBytes(dir / "walls.mtx", walls);
    WriteFileBytes(dir / "tex/.hidden.mtx", walls);
    for (const char* file : {"walls.tga", "tex/bad.mtx", "blocker"})
        WriteFileBytes(dir / file, ToBytes("not a package"));
    for (const auto& [file, entry] : {std::pair("+x.mtx", "e"), {"tex/a.b.mtx", "dotted"}, {"tex/B.MTX", "stone"}})
        WriteFileBytes(dir / file, MakePackageBytes({{entry, ToBytes("data")}}));
    const bool fifo = MakeFifo(dir / "tex/pipe.mtx");
    const std::string usage = "usage: Mtxdump [options] mtxfile";
    const std::string listed = Listing("walls.mtx", {"brick", "Palette"});
    const std::string extracted = Process("walls.mtx") + Extract("brick", kOk) + Extract("Palette", kOk);
    const auto unknown = [](const std::string& option) { return "Unknown option \"" + option + "\""; };
    // Arguments -> standard output after the banner, exit status, a folder made and a path not made.
    const struct { Args args; std::string out; int status; std::string made = "", notMade = ""; } cases[] = {
        {{}, usage + " (or *.*)\noptions:\n   +extract\n   +dds\n   +png\n   +gallery\n   +list\n   +quarklinks\n"
                     "   -out\n", 1},
        {{"+extract"}, usage, 1, "", "walls"}, {{"+LIST", "+quarklinks", "+dds"}, usage, 1, "", "DataMirakTxt.qrk"},
        {{"+extract", "-out"}, usage, 1}, {{"+extract", "-out", "walls"}, usage, 1, "", "walls"},
        {{"-x", "walls"}, unknown("-x"), 1}, {{"+list", "-Outdir", "walls"}, unknown("-Outdir"), 1},
        {{"-", "walls"}, unknown("-"), 1}, {{"walls"}, listed, 0, "", "walls"},
        {{"+LIST", "+DDS", "W*.pcx", "a", "-x"}, listed, 0}, {{"+Png", "walls"}, listed, 0, "", "walls"},
        {{"+GALLERY", "-out", "g", "walls"}, extracted, 0, "g/walls"}, {{"+x", "walls"}, Listing("+x.mtx", {"e"}), 0},
        {{"missing/*.mtx"}, "", 0}, {{"-out", "u/v", "+list", "walls"}, listed, 0, "", "u"},
        {{"tex/*"}, Listing("a.b.mtx", {"dotted"}) + Listing("B.MTX", {"stone"}) +
                        Unopened("bad.mtx", "tex/bad.mtx") + (fifo ? Unopened("pipe.mtx", "tex/pipe.mtx") : ""), 0},
        {{"+Extract", "-OUT", "e", "+List", "walls"},
         Listing("walls.mtx", {"brick"}) + Extract("brick", kOk) + "Palette\n" + Extract("Palette", kOk), 0, "e/walls"},
        {{"+extract", "-out", "first", "-out", "o/deep", "walls"}, extracted, 0, "o/deep/walls", "first"},
        {{"+extract", "-out", dir / "abs/x", "walls"}, extracted, 0, "abs/x/walls"},
        {{"+extract", "-out", "m\\", "nothing"}, "", 0, "m"}, {{"+extract", "walls"}, extracted, 0, "walls"},
        {{"+extract", "-out", "t", "tex/a*"}, Process("a.b.mtx") + Extract("dotted", CantLoad("dotted")), 0, "t/a",
         "t/a.b"}};
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
        const std::string before = out == "blocker" ? Process("walls.mtx") + "mkdir blocker/walls" : "mkdir " + out;
        EXPECT_TRUE(IsHostError(run.out, kBanner + before + ": ", "Not a directory")) << out;
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

// Pictures through Mtxmake and `Mtxdump +extract +dds` come back as the very files the sample
// writers make of them and rebuild the same package; the package stored with LZSS extracts alike.
TEST(Mtxdump, ExtractedFilesAreTheSampleWritersFilesAndRebuildThePackage)
{
    uint32_t seed = 12345;
    const auto next = [&seed] { return static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16); };
    Bytes palette(768);
    std::generate(palette.begin(), palette.end(), next);
    // DDS files: code, width, height, top level's size, body size, levels (0: not a whole chain).
    const struct { const char* code; uint32_t width, height, topSize, bodySize, levels; } dxts[] = {
        {"DXT1", 8, 4, 16, 40, 4}, {"DXT3", 4, 8, 32, 80, 4}, {"DXT5", 16, 8, 128, 208, 5}, {"DXT1", 20, 4, 40, 40, 0},
        {"DXT3", 8, 8, 64, 64, 0}, {"DXT5", 12, 4, 48, 48, 0}, {"DXT1", 8, 4, 16, 41, 0}, {"DXT3", 4, 4, 16, 47, 0},
        {"DXT1", 1, 4, 8, 24, 3}};
    for (const char* answer : {"n\n", "y\n"}) {
        ScratchDir dir;
        fs::create_directory(dir / "in");
        std::map<std::string, Bytes> expected;  // extracted file -> its bytes
        const int sides[][2] = {{1, 1}, {3, 2}, {1, 5}, {16, 16}, {7, 3}};
        for (size_t i = 0; i < std::size(sides); ++i) {
            SamplePicture picture(sides[i][0], sides[i][1]);
            picture.palette = palette;
            std::generate(picture.rgba.begin(), picture.rgba.end(), next);
            for (size_t at = 0; at < picture.indices.size(); ++at)
                picture.indices[at] = sides[i][0] == 16 ? static_cast<uint8_t>(at) : next();
            const std::string stem = "p" + std::to_string(i);
            expected[stem + "a.tga"] = EncodeTga(picture, {2, 24, 24, 0x20, false});
            expected[stem + "b.tga"] = EncodeTga(picture, {2, 32, 24, 0x28, false});
            // The extractor's PCX: runs of one, the size as resolution, palette information 2.
            Bytes& pcx = expected[stem + "c.pcx"] = EncodePcx(picture, {0, 1});
            SetI32(pcx, 12, picture.width | picture.height << 16);
            pcx[68] = 2;
            expected[stem + "d.pcx"] = pcx;
            for (const char* name : {"a.tga", "b.tga", "c.pcx"})
                WriteFileBytes(dir / "in/" + stem + name, expected[stem + name]);
            WriteFileBytes(dir / "in/" + stem + "d.gif", EncodeGifPicture(picture));
        }
        for (size_t i = 0; i < std::size(dxts); ++i) {
            const auto& c = dxts[i];
            Bytes& file = expected["t" + std::to_string(i) + ".dds"] = DdsHeader(c.code, c.width, c.height, c.topSize);
            if (c.levels) {  // flags, mip-map count and caps at file offsets 8, 28 and 108
                SetI32(file, 8, 0x1 | 0x2 | 0x4 | 0x1000 | 0x20000 | 0x80000);
                SetI32(file, 28, static_cast<int32_t>(c.levels));
                SetI32(file, 108, 0x8 | 0x1000 | 0x400000);
            }
            for (uint32_t at = 0; at < c.bodySize; ++at)
                file.push_back(next());
            WriteFileBytes(dir / "in/t" + std::to_string(i) + ".dds", file);
        }
        ASSERT_EQ(RunTool(MTXMAKE_EXE, {"first", "in/*.*"}, dir.path(), answer).status, 0);
        CResFile first((dir / "first.mtx").c_str());
        ASSERT_EQ(first.Open(RA_READ), 1);
        ASSERT_EQ(size_t(first.mfGetCount()), expected.size() + (answer[0] == 'y'));  // one per file, maybe "Palette"
        std::vector<TestEntry> packed;  // the entries stored with LZSS
        std::string lines;
        for (int32_t index = 0; index < first.mfGetCount(); ++index) {
            Bytes data(static_cast<size_t>(first.mfFileSize(index)));
            ASSERT_EQ(first.mfFileRead(index, data.data(), static_cast<int64_t>(data.size())), int32_t(data.size()));
            packed.push_back({first.mfGetEntry(index).name, Packed(data), first.mfGetEntry(index).type, RC_LZSS});
            lines += Extract(first.mfGetEntry(index).name, kOk);
        }
        WriteFileBytes(dir / "packed.mtx", MakePackageBytes(packed));
        for (const std::string package : {"first", "packed"}) {
            EXPECT_EQ(Dump(dir, {"+extract", "+dds", "-out", "o", package}).out,
                      kBanner + Process(package + ".mtx") + lines) << package << answer;
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
    const Bytes rgb = Rec(1, 1, TEX_RGB24, {1, 2, 3}), dxt = Rec(4, 4, TEX_DXT1, {1, 2, 3, 4, 5, 6, 7, 8}, 0, 0);
    // Entry name, record -> file written (null: the record is refused) and its last bytes, when given.
    const struct { const char* name; Bytes record; const char* file = nullptr; Bytes body = {}; } cases[] = {
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
        {"dup", Rec(2, 1, TEX_RGBA32, {5, 6, 7, 8, 9, 10, 11, 12}), "dup.tga", {7, 6, 5, 8, 11, 10, 9, 12}}};
    ScratchDir dir;
    std::vector<TestEntry> entries;
    for (const auto& c : cases)
        entries.push_back({c.name, c.record});
    // Each record's bytes are followed by the next entry's, so reading past one succeeds.
    WriteFileBytes(dir / "pk.mtx", MakePackageBytes(entries));
    for (const std::string out : {"o", "n"}) {  // with +dds, without
        const bool dds = out == "o";
        std::string lines;
        std::map<std::string, Bytes> files;  // file written -> its last bytes
        for (const auto& c : cases) {
            const bool skipped =
                !dds && c.record.size() >= kMipHeaderSize && GetI32(c.record, kMipFormatOffset) >= TEX_DXT1;
            const std::string ending = c.file ? kOk : CantLoad(c.name);
            lines += Extract(c.name, skipped ? "Warning: Compressed texture -- ignored" : ending);
            if (!skipped && c.file && *c.file)
                files[c.file] = c.body;
        }
        EXPECT_EQ(Dump(dir, {"+extract", dds ? "+dds" : "+EXTRACT", "-out", out, "pk"}).out,
                  kBanner + Process("pk.mtx") + lines);
        EXPECT_EQ(FilesIn(dir / out + "/pk").size(), files.size());
        EXPECT_FALSE(FileExists(dir / "DataMirakTxt.qrk"));  // only +quarklinks writes the link file
        for (const auto& [name, body] : files) {  // each file is there, a header and then the body
            const Bytes file = ReadFileBytes(dir / out + "/pk/" + name);
            EXPECT_TRUE(file.size() > body.size() && Bytes(file.end() - body.size(), file.end()) == body) << name;
        }
    }
}

// Without its own palette a record takes the "Palette" entry (here at index 0), which must be one whole table.
TEST(Mtxdump, SharedPaletteMustBeOneWholeTable)
{
    ScratchDir dir;
    for (const size_t size : {0, 1000, 1024, 2048}) {
        const std::string name = "p" + std::to_string(size), pak = name + ".mtx";
        const std::vector<TestEntry> all = {{"Palette", Bytes(size, 9), RT_PALETTE},
                                            {"idx", Rec(1, 1, TEX_INDEXED8, {4})}};
        WriteFileBytes(dir / pak, MakePackageBytes({all.begin() + (size ? 0 : 1), all.end()}));
        EXPECT_EQ(Dump(dir, {"+extract", name}).out, kBanner + Process(pak) + (size ? Extract("Palette", kOk) : "") +
                      Extract("idx", size == kRgbaPaletteSize ? kOk : "(Can't find palette in pak '" + pak + "')"));
        EXPECT_EQ(FileExists(dir / name + "/idx.pcx"), size == kRgbaPaletteSize) << size;
    }
}

// The link file has a folder per package and a link per entry. One that cannot be created or
// written is reported, as is an output file that cannot be written, which is left out; the run goes on.
TEST(Mtxdump, LinkFileAndFilesThatCannotBeWritten)
{
    const std::string opening =
        "QQRKSRC1\n// This file has been written by Mtxdump\n// It's the text version of file: DataMirakTxt.qrk\n\n"
        "{\n  QuArKProtected = \"1\"\n  Description = \"Base Mirak textures data\"\n  Textures.qtx = \n  {\n"
        "    Toolbox = \"Texture Browser...\"\n    Root = \"Mirak Textures.qtxfolder\"\n    t_s:incl =\n"
        "    {\n      a = \"../Data\"\n    }\n    Mirak Textures.qtxfolder =\n    {\n";
    const std::string closing = "    }\n  }\n}\n", qrk = "DataMirakTxt.qrk";
    ScratchDir dir;
    EXPECT_EQ(Dump(dir, {"+quarklinks", "*"}).out, kBanner);
    EXPECT_EQ(ReadFileText(dir / qrk), HostLineEnds(opening + closing));
    const std::vector<TestEntry> entries = {
        {"x/y", Rec(1, 1, TEX_RGB24, {1, 2, 3})}, {"idx", Rec(1, 1, TEX_INDEXED8, Bytes(1025, 1), 1)},
        {"d_tc", Rec(4, 4, TEX_DXT1, Bytes(8), 0, 0)}, {"wall", ToBytes("?")},
        {"rgba", Rec(1, 1, TEX_RGBA32, {1, 2, 3, 4})}};
    WriteFileBytes(dir / "walls.mtx", MakePackageBytes(entries));
    WriteFileBytes(dir / "a.mtx", ToBytes("not a package"));
    std::string listed = Unopened("a.mtx", "a.mtx") + Process("walls.mtx");
    std::string links = opening + "      a.qtxfolder = \n      {\n      }\n      walls.qtxfolder = \n      {\n";
    for (const TestEntry& entry : entries) {
        listed += entry.name + "\n" + Extract(entry.name, entry.name == "wall" ? CantLoad("wall") : kOk);
        links += "        walls/" + entry.name + ".wl\t\t= { t_s=! }\n";
    }
    EXPECT_EQ(Dump(dir, {"+quarklinks", "+list", "+extract", "+dds", "-out", "out", "*"}).out, kBanner + listed);
    EXPECT_EQ(FilesIn(dir / "out/walls"), (std::set<std::string>{"x_y.tga", "idx.pcx", "d.dds", "rgba.tga"}));
    EXPECT_FALSE(FileExists(dir / "out/" + qrk));
    EXPECT_EQ(ReadFileText(dir / qrk), HostLineEnds(links + "      }\n" + closing));

    fs::create_directories(dir / "o/walls/x_y.tga");
    fs::remove(dir / qrk);
    fs::create_directory(dir / qrk);
    const auto cantWrite = [](const std::string& path) { return "Warning: Can't write file '" + path + "'"; };
#ifndef _WIN32
    for (const char* file : {"idx.pcx", "d.dds"})
        fs::create_symlink("/dev/full", dir / "o/walls/" + file);
#endif
    const RunResult run = Dump(dir, {"+quarklinks", "+extract", "+dds", "-out", "o/", "walls"});
    EXPECT_EQ(run.out, kBanner + "Warning: Couldn't create link file '" + qrk + "'\n" + Process("walls.mtx") +
                           Extract("x/y", cantWrite("o/walls/x_y.tga")) +
                           Extract("idx", kWindowsHost ? kOk : cantWrite("o/walls/idx.pcx")) +
                           Extract("d_tc", kWindowsHost ? kOk : cantWrite("o/walls/d.dds")) +
                           Extract("wall", CantLoad("wall")) + Extract("rgba", kOk));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(FilesIn(dir / "o/walls").size(), kWindowsHost ? 4u : 2u);  // the folder in the way among them
#ifndef _WIN32
    fs::remove(dir / qrk);
    fs::create_symlink("/dev/full", dir / qrk);
    EXPECT_EQ(Dump(dir, {"+quarklinks", "walls"}).out,
              kBanner + Listing("walls.mtx", {"x/y", "idx", "d_tc", "wall", "rgba"}) +
                  "Warning: Couldn't write link file '" + qrk + "'\n");
#endif
}
