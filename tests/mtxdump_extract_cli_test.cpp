// Mtxdump +extract, +dds and +quarklinks run as a program: console lines, the files
// under the output folder, the link file's full text and the round trip through Mtxmake.
#include "archive/PackageFormat.h"
#include "archive/ResFile.h"
#include "archive/MipTexture.h"
#include "common/Banner.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace {

const std::string kBanner = std::string("MTX to TGA/PCX converter v1.2") + kMakerNotice + "\n \n";

const std::string kLinksOpening =
    "QQRKSRC1\n"
    "// This file has been written by Mtxdump\n"
    "// It's the text version of file: DataMirakTxt.qrk\n"
    "\n"
    "{\n"
    "  QuArKProtected = \"1\"\n"
    "  Description = \"Base Mirak textures data\"\n"
    "  Textures.qtx = \n"
    "  {\n"
    "    Toolbox = \"Texture Browser...\"\n"
    "    Root = \"Mirak Textures.qtxfolder\"\n"
    "    t_s:incl =\n"
    "    {\n"
    "      a = \"../Data\"\n"
    "    }\n"
    "    Mirak Textures.qtxfolder =\n"
    "    {\n";
const std::string kLinksClosing = "    }\n  }\n}\n";

RunResult Dump(const ScratchDir& dir, const std::vector<std::string>& args)
{
    return RunTool(MTXDUMP_EXE, args, dir.path());
}

// brick (RGB), wall (indexed, shared palette), Palette.
Bytes WallsPackage()
{
    return MakePackageBytes({{"brick", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3})},
                             {"wall", MakeRecordBytes(2, 1, TEX_INDEXED8, {1, 2})},
                             {"Palette", Bytes(kRgbaPaletteSize, 255), RT_PALETTE}});
}

}  // namespace

TEST(MtxdumpExtractCli, ExtractsUnderOutputFolderAndKeepsLinkFileInWorkingDirectory)
{
    ScratchDir dir;
    WriteFileBytes(dir / "walls.mtx", WallsPackage());
    const RunResult run = Dump(dir, {"+quarklinks", "+list", "+extract", "-out", "out", "walls"});
    EXPECT_EQ(run.out, kBanner +
                           "\nProcess Pak file 'walls.mtx'...\n"
                           "brick\n  extract 'brick' \t(Ok.)\n"
                           "wall\n  extract 'wall' \t(Ok.)\n"
                           "Palette\n  extract 'Palette' \t(Ok.)\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFileBytes(dir / "out/walls/brick.tga").size(), 18u + 3);
    EXPECT_EQ(ReadFileBytes(dir / "out/walls/wall.pcx").size(), 128u + 2 + 769);
    EXPECT_FALSE(FileExists(dir / "out/walls/Palette.tga"));
    EXPECT_FALSE(FileExists(dir / "out/DataMirakTxt.qrk"));
    EXPECT_EQ(ReadFileText(dir / "DataMirakTxt.qrk"),
              HostLineEnds(kLinksOpening +
                  "      walls.qtxfolder = \n"
                  "      {\n"
                  "        walls/brick.wl\t\t= { t_s=! }\n"
                  "        walls/wall.wl\t\t= { t_s=! }\n"
                  "        walls/Palette.wl\t\t= { t_s=! }\n"
                  "      }\n" +
                  kLinksClosing));
}

TEST(MtxdumpExtractCli, LinkFileForNoPackageAndForAPackageThatFailsToOpen)
{
    ScratchDir dir;
    RunResult run = Dump(dir, {"+quarklinks", "*"});
    EXPECT_EQ(run.out, kBanner);
    EXPECT_EQ(ReadFileText(dir / "DataMirakTxt.qrk"), HostLineEnds(kLinksOpening + kLinksClosing));

    WriteFileBytes(dir / "a.mtx", ToBytes("not a package"));
    WriteFileBytes(dir / "b.mtx", MakePackageBytes({{"x/y", MakeRecordBytes(1, 1, TEX_RGB24, {0, 0, 0})}}));
    run = Dump(dir, {"+quarklinks", "*"});
    EXPECT_EQ(run.out, kBanner +
                           "\nProcess Pak file 'a.mtx'...\nWarning: Couldn't find resource file 'a.mtx'\n"
                           "\nProcess Pak file 'b.mtx'...\nx/y\n");
    EXPECT_EQ(ReadFileText(dir / "DataMirakTxt.qrk"),
              HostLineEnds(kLinksOpening +
                  "      a.qtxfolder = \n      {\n      }\n"
                  "      b.qtxfolder = \n      {\n"
                  "        b/x/y.wl\t\t= { t_s=! }\n"
                  "      }\n" +
                  kLinksClosing));
}

TEST(MtxdumpExtractCli, LinkFileThatCannotBeCreatedGivesAWarningAndTheRunGoesOn)
{
    ScratchDir dir;
    WriteFileBytes(dir / "walls.mtx", WallsPackage());
    std::filesystem::create_directory(dir / "DataMirakTxt.qrk");
    const RunResult run = Dump(dir, {"+quarklinks", "+extract", "walls"});
    EXPECT_EQ(run.out, kBanner +
                           "Warning: Couldn't create link file 'DataMirakTxt.qrk'\n"
                           "\nProcess Pak file 'walls.mtx'...\n"
                           "  extract 'brick' \t(Ok.)\n"
                           "  extract 'wall' \t(Ok.)\n"
                           "  extract 'Palette' \t(Ok.)\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(FileExists(dir / "walls/brick.tga"));
}

#ifndef _WIN32  // a link to a full device is POSIX's
TEST(MtxdumpExtractCli, LinkFileThatCannotBeWrittenGivesAWarningAtTheEnd)
{
    ScratchDir dir;
    WriteFileBytes(dir / "walls.mtx", WallsPackage());
    std::filesystem::create_symlink("/dev/full", dir / "DataMirakTxt.qrk");
    const RunResult run = Dump(dir, {"+quarklinks", "walls"});
    EXPECT_EQ(run.out, kBanner + "\nProcess Pak file 'walls.mtx'...\nbrick\nwall\nPalette\n"
                                 "Warning: Couldn't write link file 'DataMirakTxt.qrk'\n");
    EXPECT_EQ(run.status, 0);
}
#endif

#if defined(MTXMAKE_EXE) && defined(MAKE_SAMPLES_EXE)

namespace {

struct PackageEntry {
    std::string name;
    Bytes data;
};

std::vector<PackageEntry> ReadPackage(const std::string& path)
{
    CResFile package(path.c_str());
    std::vector<PackageEntry> entries;
    if (package.Open(RA_READ) != 1)
        return entries;
    for (int32_t index = 0; index < package.mfGetCount(); ++index) {
        const DirEntry& entry = package.mfGetEntry(index);
        Bytes data(static_cast<size_t>(entry.size));
        EXPECT_EQ(package.mfFileRead(index, data.data(), entry.size), entry.size) << entry.name;
        entries.push_back({entry.name, data});
    }
    return entries;
}

// Palettes lose their alpha bytes in a PCX file, so only their colours are compared.
Bytes WithoutPaletteAlpha(Bytes bytes, size_t paletteAt)
{
    for (size_t i = 0; i < kRgbaPaletteEntries; ++i)
        bytes.at(paletteAt + i * 4 + 3) = 0;
    return bytes;
}

Bytes Comparable(const PackageEntry& entry)
{
    if (entry.name == kPaletteEntryName)
        return WithoutPaletteAlpha(entry.data, 0);
    const MipTexture header = DecodeMipTexture(entry.data.data());
    if (header.format == TEX_INDEXED8 && header.ownPalette == 1)
        return WithoutPaletteAlpha(entry.data, kMipHeaderSize);
    return entry.data;
}

}  // namespace

TEST(MtxdumpExtractCli, ExtractedFilesRebuildTheSameRecords)
{
    for (const char* answer : {"y\n", "n\n"}) {
        ScratchDir dir;
        std::filesystem::create_directory(dir / "in");
        ASSERT_EQ(RunTool(MAKE_SAMPLES_EXE, {"in"}, dir.path()).status, 0);
        // With a shared palette the GIF, whose colours differ from the PCX's, is drawn
        // with the PCX's palette: its averages, taken from its own colours, cannot come
        // back. The run without a shared palette covers it.
        if (answer[0] == 'y') {
            ASSERT_EQ(std::remove((dir / "in/rings.gif").c_str()), 0);
        }
        ASSERT_EQ(RunTool(MTXMAKE_EXE, {"first", "in/*.*"}, dir.path(), answer).status, 0);
        ASSERT_EQ(Dump(dir, {"+extract", "+dds", "-out", "out", "first"}).status, 0);
        ASSERT_EQ(RunTool(MTXMAKE_EXE, {"second", "out/first/*.*"}, dir.path(), answer).status, 0);

        // Every record comes back, in the same order.
        const std::vector<PackageEntry> first = ReadPackage(dir / "first.mtx");
        const std::vector<PackageEntry> second = ReadPackage(dir / "second.mtx");
        ASSERT_EQ(first.size(), second.size()) << answer;
        ASSERT_GE(first.size(), 6u) << answer;
        for (size_t i = 0; i < first.size(); ++i) {
            EXPECT_EQ(second[i].name, first[i].name) << answer;
            EXPECT_EQ(Comparable(second[i]), Comparable(first[i])) << answer << first[i].name;
        }
    }
}

TEST(MtxdumpExtractCli, DxtRecordsRoundTripThroughDdsFilesWithTheHeadersTheyDescribe)
{
    const struct {
        const char* code;
        uint32_t width, height, topSize, bodySize, levels;  // levels 0: not a whole chain
    } cases[] = {
        {"DXT1", 8, 4, 16, 40, 4}, {"DXT3", 4, 8, 32, 80, 4}, {"DXT5", 16, 8, 128, 208, 5},
        {"DXT1", 20, 4, 40, 40, 0}, {"DXT3", 8, 8, 64, 64, 0}, {"DXT5", 12, 4, 48, 48, 0},
        {"DXT1", 8, 4, 16, 41, 0}, {"DXT3", 4, 4, 16, 47, 0}, {"DXT5", 16, 8, 128, 1000, 0},
        {"DXT1", 1, 4, 8, 24, 3},
    };
    ScratchDir dir;
    std::filesystem::create_directory(dir / "in");
    std::string extractLines;
    std::string ignoredLines;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        Bytes file = DdsHeader(c.code, c.width, c.height, c.topSize);
        if (c.levels) {  // flags, mip-map count and caps at file offsets 8, 28 and 108
            SetI32(file, 8, 0x1 | 0x2 | 0x4 | 0x1000 | 0x20000 | 0x80000);
            SetI32(file, 28, static_cast<int32_t>(c.levels));
            SetI32(file, 108, 0x8 | 0x1000 | 0x400000);
        }
        for (uint32_t at = 0; at < c.bodySize; ++at)
            file.push_back(static_cast<uint8_t>(at * 7 + i));
        const std::string name = "t" + std::to_string(i);
        WriteFileBytes(dir / "in/" + name + ".dds", file);
        extractLines += "  extract '" + name + "_tc' \t(Ok.)\n";
        ignoredLines += "  extract '" + name + "_tc' Warning: Compressed texture -- ignored\n";
    }
    ASSERT_EQ(RunTool(MTXMAKE_EXE, {"first", "in/*.*"}, dir.path()).status, 0);
    const RunResult dump = Dump(dir, {"+extract", "+DDS", "-out", "out", "first"});
    EXPECT_EQ(dump.out, kBanner + "\nProcess Pak file 'first.mtx'...\n" + extractLines);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string name = "t" + std::to_string(i) + ".dds";
        EXPECT_EQ(ReadFileBytes(dir / "out/first/" + name), ReadFileBytes(dir / "in/" + name)) << name;
    }
    // Same files, same names: the rebuilt package is the first one byte for byte.
    ASSERT_EQ(RunTool(MTXMAKE_EXE, {"second", "out/first/*.*"}, dir.path()).status, 0);
    EXPECT_EQ(ReadFileBytes(dir / "second.mtx"), ReadFileBytes(dir / "first.mtx"));
    // Without +dds, DXT records are refused as before and nothing is written.
    EXPECT_EQ(Dump(dir, {"+extract", "-out", "plain", "first"}).out,
              kBanner + "\nProcess Pak file 'first.mtx'...\n" + ignoredLines);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "plain/first"));
}

#endif
