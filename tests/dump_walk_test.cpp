// The extractor's walk in process: where the extraction and link-file hooks are called,
// and the output directory path rules.
#include "extractor/OutputDirectory.h"
#include "extractor/PackageWalk.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Prints one marker line per hook call, so the captured output shows the hooks
// interleaved with the walk's own lines.
class MarkingHooks : public DumpHooks {
public:
    void LinksBegin() override { std::printf("[links begin]\n"); }
    void LinksPackageBegin(const PackageVisit& visit) override
    {
        std::printf("[package %s %s %s %s]\n", visit.foundName.c_str(), visit.baseName.c_str(),
                    visit.packagePath.c_str(), visit.outputPrefix.c_str());
    }
    void LinksEntry(const PackageVisit& visit, const DirEntry& entry) override
    {
        std::printf("[link %s/%s]\n", visit.baseName.c_str(), entry.name);
    }
    void ExtractEntry(const PackageVisit& visit, CResFile& package, int32_t index,
                      const DirEntry& entry) override
    {
        std::printf("[extract %d %s from %s, %d entries]\n", index, entry.name,
                    visit.packagePath.c_str(), package.mfGetCount());
    }
    void LinksPackageEnd(const PackageVisit& visit) override
    {
        std::printf("[package end %s]\n", visit.baseName.c_str());
    }
    void LinksEnd() override { std::printf("[links end]\n"); }
};

std::string CaptureDump(const DumpSettings& settings)
{
    MarkingHooks hooks;
    testing::internal::CaptureStdout();
    std::string errorText;
    EXPECT_TRUE(RunDump(settings, hooks, errorText));
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(DumpWalk, HooksRunAtTheirMomentsAroundTheListing)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir / "pk");
    WriteFileBytes(dir / "pk/a.b.mtx", MakePackageBytes({{"x", ToBytes("1")}, {"y", ToBytes("2")}}));
    WriteFileBytes(dir / "pk/c.mtx", ToBytes("damaged"));
    WorkingDirectory inside(dir.path());

    DumpSettings settings;
    ASSERT_EQ(ParseDumpArguments({"+quarklinks", "+extract", "+list", "-out", "out", "pk/*"}, settings)
                  .status,
              DumpParseStatus::Ok);
    EXPECT_EQ(CaptureDump(settings),
              "[links begin]\n"
              "\nProcess Pak file 'a.b.mtx'...\n"
              "[package a.b.mtx a pk/a.b.mtx out/a/]\n"
              "[link a/x]\nx\n[extract 0 x from pk/a.b.mtx, 2 entries]\n"
              "[link a/y]\ny\n[extract 1 y from pk/a.b.mtx, 2 entries]\n"
              "[package end a]\n"
              "\nProcess Pak file 'c.mtx'...\n"
              "[package c.mtx c pk/c.mtx out/c/]\n"
              "Warning: Couldn't find resource file 'pk/c.mtx'\n"
              "[package end c]\n"
              "[links end]\n");
    EXPECT_TRUE(IsDirectory(dir / "out/a"));
    EXPECT_TRUE(IsDirectory(dir / "out/c"));
}

TEST(DumpWalk, HooksStayQuietWithoutTheirOptions)
{
    ScratchDir dir;
    WriteFileBytes(dir / "a.mtx", MakePackageBytes({{"x", ToBytes("1")}}));
    WorkingDirectory inside(dir.path());

    DumpSettings listOnly;
    ASSERT_EQ(ParseDumpArguments({"a"}, listOnly).status, DumpParseStatus::Ok);
    EXPECT_EQ(CaptureDump(listOnly), "\nProcess Pak file 'a.mtx'...\nx\n");

    DumpSettings linksOnly;
    ASSERT_EQ(ParseDumpArguments({"+QUARKLINKS", "none"}, linksOnly).status, DumpParseStatus::Ok);
    EXPECT_EQ(CaptureDump(linksOnly), "[links begin]\n[links end]\n");
    EXPECT_FALSE(FileExists(dir / "a"));
}

TEST(MakeDirectoryPath, MakesEveryPrefixUpToTheLastSeparator)
{
    ScratchDir dir;
    // An absolute path: the leading '/' is never a split point.
    std::string errorText;
    EXPECT_TRUE(MakeDirectoryPath(dir / "one/two/three", errorText));
    EXPECT_TRUE(IsDirectory(dir / "one/two"));
    EXPECT_FALSE(FileExists(dir / "one/two/three"));
    EXPECT_TRUE(MakeDirectoryPath(dir / "one/two/", errorText));  // existing directories are fine
    // A file in the way stops the walk with the host's text.
    WriteFileBytes(dir / "file", {1});
    EXPECT_FALSE(MakeDirectoryPath(dir / "file/sub/x", errorText));
    EXPECT_TRUE(IsHostError(errorText, "mkdir " + (dir / "file/sub") + ": ", "Not a directory"));
}
