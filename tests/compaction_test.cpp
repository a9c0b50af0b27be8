// Package compaction: CResFile::mfOptimize, and Mtxtrim walking a tree, failing and being killed.
#include "common/Banner.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

namespace {

namespace fs = std::filesystem;
using Compaction = InScratchDir;  // in a scratch folder, which nothing but the package may be left in

// The handle keeps the old directory, and nothing but a folder in the staging file's way stays beside the package.
TEST_F(Compaction, AFailureLeavesThePackageAsItWas)
{
    const std::string path = m_dir / "p.mtx";
    const std::string staging = m_dir / ".p.mtx.staging";
    const Bytes good = MakePackageBytes({{"a", Packed(Bytes(200, 1)), 2, RC_LZSS}, {"b", Bytes(9, 2)}}, 100);
    const size_t first = RecordAt(good, 0);
    const int32_t justFits = INT32_MAX - static_cast<int32_t>(2 * kRecordSize + kHeaderSize + 9);
    const std::string in = " in resource file <" + path + ">";
    const std::string opt = "0 CResFile::mfOptimize - ";
    const std::string readData = opt + "Error read data" + in;
    const std::string fullDisk = opt + "Error write resource file <" + staging + ">";
    const DirEntry pending{{'n'}, 1, 0, 0, RT_TEXTURE, RC_NONE, good.data(), 0};
    std::shared_ptr<void> limit;  // a file-size limit the case sets for the compaction alone
    const struct { const char* name; Bytes package; std::function<void(CResFile&)> prepare; std::string outcome; }
        cases[] = {
        {"a folder is no leftover to remove", good, [&](CResFile&) { fs::create_directory(staging); },
         opt + "Can't create resource file <" + staging + "> (" + kFileExists + ")"},
        {"data past the end", WithI32(good, first + kRecordOffsetOffset, 10000), {}, readData},
        {"data before the start", WithI32(good, first + kRecordOffsetOffset, -1), {}, readData},
        {"a negative size", WithI32(good, first + kRecordSizeOffset, -1), {}, readData},
        {"a size that just fits", WithI32(good, first + kRecordSizeOffset, justFits), {}, readData},
        {"a size one too large", WithI32(good, first + kRecordSizeOffset, justFits + 1), {},
         opt + "Resource file <" + path + "> is too large to compact"},
        {"the file cut meanwhile", good, [&](CResFile&) { fs::resize_file(path, 150); },
         "0 CResFile::mfFlush - Error read directory" + in},
        {"the directory changed meanwhile", good,
         [&](CResFile&) { WriteFileBytes(path, WithI32(good, kHeaderCountOffset, 3)); },
         opt + "Error number directory files" + in},
        {"a closed handle", good, [](CResFile& p) { p.mfClose(); }, opt + "Resource file <> is not open"},
        {"an entry not flushed yet", good, [&](CResFile& p) { ASSERT_EQ(p.mfFileAdd(&pending), 3); },
         opt + "Unflushed files" + in},
#ifndef _WIN32  // a full disk comes from the file-size limit
        // The staged bytes wait in the stream's buffer till it closes; the last of them does not fit.
        {"the last byte does not fit", good,
         [&](CResFile&) { limit = std::make_shared<FileSizeLimit>(Compacted(good).size() - 1); }, fullDisk},
        {"the disk fills in the middle", MakePackageBytes({{"a", Bytes(9000, 1)}, {"b", Bytes(9, 2)}}),
         [&](CResFile&) { limit = std::make_shared<FileSizeLimit>(5000); }, fullDisk},
#endif
    };
    for (const auto& c : cases) {
        WriteFileBytes(path, c.package);
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_READ | RA_WRITE), 1);
        if (c.prepare)
            c.prepare(package);
        const int32_t count = package.mfGetCount();
        const Bytes before = ReadFileBytes(path);
        const std::string outcome = Outcome(package.mfOptimize(0), package);
        limit.reset();
        EXPECT_EQ(outcome, c.outcome) << c.name;
        EXPECT_EQ(ReadFileBytes(path), before) << c.name;
        EXPECT_EQ(package.mfGetCount(), count) << c.name;
        std::set<std::string> left = {"p.mtx"};
        if (IsDirectory(staging))
            left.insert(".p.mtx.staging");
        EXPECT_EQ(FilesIn("."), left) << c.name;
        fs::remove(staging);
    }
}

#ifdef MTXTRIM_EXE

const std::string kTrimBanner = std::string("Mtxtrim v1.0") + kMakerNotice + "\n \n";

// Mtxtrim's output around `lines`, each ending in a line feed; Windows prints its paths with backslashes.
std::string TrimOutput(std::string lines, int total)
{
    if (kWindowsHost)
        std::replace(lines.begin(), lines.end(), '/', '\\');
    return kTrimBanner + lines + "\n " + std::to_string(total) + " file(s) is optimized\n";
}

// A package with dead space behind its packed entry.
Bytes LoosePackage(const char* name)
{
    return MakePackageBytes({{name, Packed(ToBytes("texture bytes")), 2, RC_LZSS}, {"b", ToBytes("more")}}, 16);
}

TEST(Mtxtrim, CompactsEveryPackageBelowTheFolder)
{
    ScratchDir scratch;
    for (const char* folder : {"sub", "sub/deeper", ".hidden", "_Temp.d"})
        fs::create_directory(scratch / folder);
    const struct { std::string name; Bytes bytes; bool compacts; } files[] = {
        {"a.mtx", LoosePackage("a"), true}, {"sub/b.any", LoosePackage("b"), true},
        {"sub/_Temp", LoosePackage("c"), true}, {"sub/deeper/d", LoosePackage("d"), true},
        {"_Temp.d/e.mtx", WithI32(LoosePackage("e"), RecordAt(LoosePackage("e"), 0) + kRecordSizeOffset, 0), true},
        {".x.mtx", LoosePackage("x"), false}, {".hidden/h.mtx", LoosePackage("h"), false},
        {"notes.txt", ToBytes("text"), false}, {"_Temp", ToBytes("a user's notes"), false},
        {"empty.mtx", MakePackageBytes({}), false},
        {"bad.mtx", WithI32(LoosePackage("f"), RecordAt(LoosePackage("f"), 0) + kRecordOffsetOffset, 99999), false},
        {"locked.mtx", LoosePackage("l"), false}};
    for (const auto& file : files)
        WriteFileBytes(scratch / file.name, file.bytes);
    fs::permissions(scratch / "locked.mtx", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    WriteFileBytes(scratch / ".a.mtx.staging", LoosePackage("s"));  // left by a killed run
    MakeFifo(scratch / "pipe.mtx");                                   // opening it would block
    const RunResult run = RunTool(MTXTRIM_EXE, {}, scratch.path());
    EXPECT_EQ(run.out, TrimOutput(" Process: '_Temp.d/e.mtx'\n Process: 'a.mtx'\n Process: 'bad.mtx'\n"
        "Warning: CResFile::mfOptimize - Error read data in resource file <bad.mtx>\n Process: 'locked.mtx'\n"
        "Warning: CResFile::mfOptimize - Resource file <locked.mtx> is read-only (" + kAccessDenied + ")\n"
        " Process: 'sub/_Temp'\n Process: 'sub/b.any'\n Process: 'sub/deeper/d'\n", 5));
    EXPECT_EQ(run.status, 3);  // two packages could not be compacted
    for (const auto& file : files)
        EXPECT_EQ(ReadFileBytes(scratch / file.name), file.compacts ? Compacted(file.bytes) : file.bytes) << file.name;
    EXPECT_FALSE(FileExists(scratch / ".a.mtx.staging"));
}

// One folder walks that folder alone; anything else gets the usage and touches nothing.
TEST(Mtxtrim, ArgumentsChooseTheFolderToWalk)
{
    const std::string usage = kTrimBanner + "usage: Mtxtrim [folder]\n";
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string out;
        bool top = false, deep = false;  // whether a.mtx and sub/d.mtx are compacted
    } cases[] = {
        {"the working folder", {"."}, TrimOutput(" Process: './a.mtx'\n Process: './sub/d.mtx'\n", 2), true, true},
        {"a folder below", {"sub"}, TrimOutput(" Process: 'sub/d.mtx'\n", 1), false, true},
        {"short help", {"-h"}, usage}, {"long help", {"--help"}, usage}, {"Windows help", {"/?"}, usage},
        {"an option", {"-x"}, usage}, {"a plus option", {"+x"}, usage}, {"two folders", {".", "."}, usage},
        {"a file", {"notes.txt"}, usage}, {"a missing folder", {"missing"}, usage},
    };
    for (const auto& c : cases) {
        ScratchDir scratch;
        for (const char* folder : {"sub", "-x", "+x"})  // folders named like options are still options
            fs::create_directory(scratch / folder);
        WriteFileBytes(scratch / "a.mtx", LoosePackage("a"));
        WriteFileBytes(scratch / "sub/d.mtx", LoosePackage("d"));
        WriteFileBytes(scratch / "notes.txt", ToBytes("text"));
        const RunResult run = RunTool(MTXTRIM_EXE, c.args, scratch.path());
        EXPECT_EQ(run.out, c.out) << c.name;
        EXPECT_EQ(run.status, c.out == usage ? 1 : 0) << c.name;
        EXPECT_EQ(ReadFileBytes(scratch / "a.mtx"), c.top ? Compacted(LoosePackage("a")) : LoosePackage("a")) << c.name;
        EXPECT_EQ(ReadFileBytes(scratch / "sub/d.mtx"), c.deep ? Compacted(LoosePackage("d")) : LoosePackage("d"))
            << c.name;
    }
}

TEST(Mtxtrim, AnAlreadyCompactPackageIsNotWrittenAgain)
{
    ScratchDir scratch;
    const Bytes compact = Compacted(LoosePackage("a"));
    WriteFileBytes(scratch / "a.mtx", compact);
    const auto lastWrite = fs::last_write_time(scratch / "a.mtx") - std::chrono::hours(1);
    fs::last_write_time(scratch / "a.mtx", lastWrite);
    const uint64_t identity = FileIdentity(scratch / "a.mtx");
    const RunResult run = RunTool(MTXTRIM_EXE, {}, scratch.path());
    EXPECT_EQ(run.out, TrimOutput(" Process: 'a.mtx'\n", 1));
    EXPECT_EQ(ReadFileBytes(scratch / "a.mtx"), compact);
    EXPECT_EQ(fs::last_write_time(scratch / "a.mtx"), lastWrite);
    EXPECT_EQ(FileIdentity(scratch / "a.mtx"), identity);
}

#endif

}  // namespace
