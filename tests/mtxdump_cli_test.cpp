// Mtxdump run as a program: usage texts, option scan, package search, listing,
// warnings for damaged packages and the output directories.
#include "common/Banner.h"
#include "archive/PackageFormat.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const std::string kBanner = std::string("MTX to TGA/PCX converter v1.2") + kMakerNotice + "\n \n";

RunResult Dump(const ScratchDir& dir, const std::vector<std::string>& args)
{
    return RunTool(MTXDUMP_EXE, args, dir.path());
}

Bytes WallsPackage()
{
    return MakePackageBytes({{"brick", ToBytes("0123456789")}, {"Palette", Bytes(1024, 7), 5}});
}

std::string Listing(const std::string& found, const std::vector<std::string>& names)
{
    std::string text = "\nProcess Pak file '" + found + "'...\n";
    for (const std::string& name : names)
        text += name + "\n";
    return text;
}

std::string Warning(const std::string& found, const std::string& opened)
{
    return "\nProcess Pak file '" + found + "'...\nWarning: Couldn't find resource file '" + opened +
           "'\n";
}

}  // namespace

TEST(MtxdumpCli, NoArgumentsPrintsUsageBlockAndFails)
{
    ScratchDir dir;
    const RunResult run = Dump(dir, {});
    EXPECT_EQ(run.out, kBanner +
                           "usage: Mtxdump [options] mtxfile (or *.*)\n"
                           "options:\n"
                           "   +extract\n"
                           "   +dds\n"
                           "   +list\n"
                           "   +quarklinks\n"
                           "   -out\n");
    EXPECT_EQ(run.status, 1);
}

TEST(MtxdumpCli, CommandLineErrorsEndWithoutLineEndAndStatusOne)
{
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"+extract"}, "usage: Mtxdump [options] mtxfile"},
        {{"+LIST", "+quarklinks"}, "usage: Mtxdump [options] mtxfile"},
        {{"+extract", "walls", "-out"}, nullptr},  // after the pattern: ignored
        {{"+extract", "-out"}, "usage: Mtxdump [options] mtxfile"},
        {{"-out", "dir"}, "usage: Mtxdump [options] mtxfile"},
        {{"-x", "a"}, "Unknown option \"-x\""},
        {{"+list", "-Outdir", "a"}, "Unknown option \"-Outdir\""},
        {{"-", "a"}, "Unknown option \"-\""},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        WriteFileBytes(dir / "walls.mtx", WallsPackage());
        const RunResult run = Dump(dir, c.args);
        if (c.message) {
            EXPECT_EQ(run.out, kBanner + c.message) << c.args[0];
            EXPECT_EQ(run.status, 1) << c.args[0];
            EXPECT_FALSE(FileExists(dir / "walls")) << c.args[0];
        } else {
            EXPECT_EQ(run.status, 0);
        }
    }
}

TEST(MtxdumpCli, PatternExtensionIsReplacedAndOptionsIgnoreCase)
{
    ScratchDir dir;
    WriteFileBytes(dir / "walls.mtx", WallsPackage());
    const std::string expected = kBanner + Listing("walls.mtx", {"brick", "Palette"});
    const std::vector<std::vector<std::string>> argLists = {
        {"walls"}, {"walls.pcx"}, {"WALLS"}, {"w*"}, {"+LIST", "walls"}, {"+QuarkLinks", "walls.tga"},
        {"walls", "a", "-x"},  // arguments after the pattern are ignored
    };
    for (const auto& args : argLists) {
        const RunResult run = Dump(dir, args);
        EXPECT_EQ(run.out, expected) << args[0];
        EXPECT_EQ(run.status, 0) << args[0];
    }
}

TEST(MtxdumpCli, PlusArgumentThatIsNoOptionIsThePattern)
{
    ScratchDir dir;
    WriteFileBytes(dir / "+x.mtx", MakePackageBytes({{"e", ToBytes("data")}}));
    WriteFileBytes(dir / "a.mtx", WallsPackage());
    const RunResult run = Dump(dir, {"+x", "a"});
    EXPECT_EQ(run.out, kBanner + Listing("+x.mtx", {"e"}));
    EXPECT_EQ(run.status, 0);
}

TEST(MtxdumpCli, OpensFoundNamesAsFoundIncludingOtherDirectories)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir / "tex");
    WriteFileBytes(dir / "tex/b.mtx", MakePackageBytes({{"stone", ToBytes("s")}}));
    WriteFileBytes(dir / "tex/a.b.mtx", MakePackageBytes({{"dotted", ToBytes("d")}}));
    WriteFileBytes(dir / "tex/WALLS.MTX", WallsPackage());
    WriteFileBytes(dir / "tex/bad.mtx", ToBytes("not a package"));

    RunResult run = Dump(dir, {"+list", "tex/*.mtx"});
    EXPECT_EQ(run.out, kBanner + Listing("a.b.mtx", {"dotted"}) + Listing("b.mtx", {"stone"}) +
                           Warning("bad.mtx", "tex/bad.mtx") +
                           Listing("WALLS.MTX", {"brick", "Palette"}));
    EXPECT_EQ(run.status, 0);

    WriteFileBytes(dir / "WALLS.MTX", WallsPackage());
    run = Dump(dir, {"walls"});
    EXPECT_EQ(run.out, kBanner + Listing("WALLS.MTX", {"brick", "Palette"}));
}

TEST(MtxdumpCli, SkipsDirectoriesAndDotNamesAndNeverOpensAPipe)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir / "folder.mtx");
    const bool fifo = MakeFifo(dir / "pipe.mtx");
    WriteFileBytes(dir / ".hidden.mtx", WallsPackage());
    WriteFileBytes(dir / "walls.mtx", WallsPackage());
    const RunResult run = Dump(dir, {"*"});
    EXPECT_EQ(run.out, kBanner + (fifo ? Warning("pipe.mtx", "pipe.mtx") : "") + Listing("walls.mtx", {"brick", "Palette"}));
    EXPECT_EQ(run.status, 0);
}

TEST(MtxdumpCli, DamagedPackagesGetTheirWarningAndTheWalkGoesOn)
{
    ScratchDir dir;
    const Bytes good = MakePackageBytes({{"one", ToBytes("1111")}, {"two", ToBytes("22")}});
    const auto damaged = [&](const std::function<void(Bytes&)>& damage) {
        Bytes bytes = good;
        damage(bytes);
        return bytes;
    };
    const size_t second = 20 + 88 + 4;  // record of "two"
    const struct {
        const char* name;
        Bytes bytes;
    } packages[] = {
        {"a_empty_file.mtx", Bytes()},
        {"c_magic.mtx", damaged([](Bytes& b) { b[0] = 'X'; })},
        {"e_no_entries.mtx", MakePackageBytes({})},
        {"h_chain_loops.mtx", damaged([&](Bytes& b) { SetI32(b, second + kRecordNextOffset, 20); })},
        {"k_good.mtx", good},
    };
    std::string expected = kBanner;
    for (const auto& package : packages) {
        WriteFileBytes(dir / package.name, package.bytes);
        if (package.bytes != good)
            expected += Warning(package.name, package.name);
    }
    expected += Listing("k_good.mtx", {"one", "two"});

    const RunResult run = Dump(dir, {"*"});
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.status, 0);
}

TEST(MtxdumpCli, ExtractMakesOutputDirectoriesBeforeTheFirstPackage)
{
    ScratchDir dir;
    WriteFileBytes(dir / "walls.mtx", WallsPackage());

    // Without +extract, listing is off and "-out" is not used.
    RunResult run = Dump(dir, {"-out", "unused", "+list", "walls"});
    EXPECT_FALSE(FileExists(dir / "unused"));

    run = Dump(dir, {"+extract", "-out", "first", "-OUT", "out/deep", "walls"});
    EXPECT_EQ(run.out, kBanner + Listing("walls.mtx", {}) +
                           "  extract 'brick' Warning: Can't load texture 'brick'\n"
                           "  extract 'Palette' \t(Ok.)\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(FileExists(dir / "first"));
    EXPECT_TRUE(IsDirectory(dir / "out/deep/walls"));

    // Made even when nothing matches; a backslash separates like '/'.
    run = Dump(dir, {"+extract", "-out", "made\\", "nothing"});
    EXPECT_EQ(run.out, kBanner);
    EXPECT_TRUE(IsDirectory(dir / "made"));

    // Without "-out" the package folder is made in the working directory.
    run = Dump(dir, {"+extract", "+list", "walls"});
    EXPECT_EQ(run.out, kBanner + Listing("walls.mtx", {"brick"}) +
                           "  extract 'brick' Warning: Can't load texture 'brick'\n"
                           "Palette\n  extract 'Palette' \t(Ok.)\n");
    EXPECT_TRUE(IsDirectory(dir / "walls"));
}

TEST(MtxdumpCli, DirectoryThatCannotBeMadeEndsTheRun)
{
    ScratchDir dir;
    WriteFileBytes(dir / "walls.mtx", WallsPackage());
    WriteFileBytes(dir / "blocker", ToBytes("a file in the way"));
    const RunResult run = Dump(dir, {"+extract", "-out", "blocker/sub", "walls"});
    EXPECT_TRUE(IsHostError(run.out, kBanner + "mkdir blocker/sub: ", "Not a directory"));
    EXPECT_EQ(run.status, 1);
}

TEST(MtxdumpCli, NothingMatchedPrintsBannerOnly)
{
    ScratchDir dir;
    WriteFileBytes(dir / "walls.tga", ToBytes("x"));
    for (const char* pattern : {"nothing", "walls", "missing/*.mtx"}) {
        const RunResult run = Dump(dir, {pattern});
        EXPECT_EQ(run.out, kBanner) << pattern;
        EXPECT_EQ(run.status, 0) << pattern;
    }
}
