// Package compaction: CResFile::mfOptimize, and Mtxtrim walking a tree, failing and being killed.
#include "archive/ResFile.h"
#include "common/Banner.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>

namespace {

namespace fs = std::filesystem;
Bytes Set(Bytes bytes, size_t at, int32_t value) { return SetI32(bytes, at, value), bytes; }

// A package of the flushed layout with dead space, some empty entries and its chain in an order of its own.
Bytes RandomPackage(std::mt19937& random, size_t maxSize)
{
    std::vector<TestEntry> entries(1 + random() % 6);
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].name = "entry" + std::to_string(i) + std::string(1 + random() % 40, 'x');
        entries[i].data.resize(random() % 4 ? random() % maxSize : 0);
        for (uint8_t& byte : entries[i].data)
            byte = static_cast<uint8_t>(random());
    }
    Bytes package = MakePackageBytes(entries, random() % 50);
    std::vector<int32_t> records;
    for (int32_t at = 20; at >= 0; at = GetI32(package, static_cast<size_t>(at) + 72))
        records.push_back(at);
    std::shuffle(records.begin(), records.end(), random);
    SetI32(package, 16, records[0]);
    for (size_t i = 0; i < records.size(); ++i) {
        const auto at = static_cast<size_t>(records[i]);
        package[at + 63] = 'z';  // after the terminator: carried as it is
        if (i == 1)
            SetI32(package, at + 68, 0);  // stored at the file's start: legal, if odd
        SetI32(package, at + 72, i + 1 < records.size() ? records[i + 1] : -1 - static_cast<int32_t>(i));
    }
    return package;
}

TEST(Compaction, KeepsEveryEntryInChainOrderOrFailsLeavingThePackageAsItWas)
{
    ScratchDir scratch;
    WorkingDirectory cwd(scratch.path());
    const std::string path = scratch / "p.mtx";
    std::mt19937 random(99);
    for (int round = 0; round < 12; ++round) {
        const Bytes original = RandomPackage(random, 300), expected = Compacted(original);
        WriteFileBytes(path, original);
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_READ), 1);
        ASSERT_EQ(Outcome(package.mfOptimize(0), package), "1 ");
        EXPECT_EQ(ReadFileBytes(path), expected) << round;
        EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);  // nothing else is left
        for (int32_t i = 0; i < package.mfGetCount(); ++i)  // the directory is the new one
            EXPECT_EQ(package.mfGetEntry(i).offset, GetI32(expected, 20 + 88 * static_cast<size_t>(i) + 68));
    }
    const Bytes good = MakePackageBytes({{"a", Packed(Bytes(200, 1)), 2, RC_LZSS}, {"b", Bytes(9, 2)}}, 100);
    const std::string in = " in resource file <" + path + ">", opt = "0 CResFile::mfOptimize - ";
    const std::string staging = scratch / ".p.mtx.staging";
    const std::string readData = opt + "Error read data" + in;
    const std::string fullDisk = opt + "Error write resource file <" + staging + ">";
    std::shared_ptr<void> limit;  // a file-size limit the case sets for the compaction alone
    const struct { Bytes package; std::function<void(CResFile&)> prepare; std::string outcome; } cases[] = {
        {good, [&](CResFile&) { fs::create_directory(staging); },  // a folder is no leftover to remove
         opt + "Can't create resource file <" + staging + "> (" + kFileExists + ")"},
        {Set(good, 20 + 68, 10000), {}, readData}, {Set(good, 20 + 68, -1), {}, readData},
        {Set(good, 20 + 64, -1), {}, readData}, {Set(good, 20 + 64, INT32_MAX - 196 - 9), {}, readData},  // just fits
        {Set(good, 20 + 64, INT32_MAX - 196 - 8), {}, opt + "Resource file <" + path + "> is too large to compact"},
        {good, [&](CResFile&) { fs::resize_file(path, 150); }, "0 CResFile::mfFlush - Error read directory" + in},
        {good, [&](CResFile&) { WriteFileBytes(path, Set(good, 12, 3)); }, opt + "Error number directory files" + in},
        {good, [](CResFile& p) { p.mfClose(); }, opt + "Resource file <> is not open"},
#ifndef _WIN32  // a full disk comes from the file-size limit
        // The staged bytes wait in the stream's buffer till it closes; the last of them does not fit.
        {good, [&](CResFile&) { limit = std::make_shared<FileSizeLimit>(Compacted(good).size() - 1); }, fullDisk},
        {MakePackageBytes({{"a", Bytes(9000, 1)}, {"b", Bytes(9, 2)}}),
         [&](CResFile&) { limit = std::make_shared<FileSizeLimit>(5000); }, fullDisk},
#endif
    };
    for (const auto& c : cases) {
        WriteFileBytes(path, c.package);
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_READ), 1);
        const Bytes before = c.prepare ? (c.prepare(package), ReadFileBytes(path)) : c.package;
        const std::string outcome = Outcome(package.mfOptimize(0), package);
        limit.reset();
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(ReadFileBytes(path), before);
        EXPECT_EQ(package.mfGetCount(), 2);  // the handle keeps the old directory
        EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1 + IsDirectory(staging));
        fs::remove(staging);
    }
    // An unflushed handle is refused.
    WriteFileBytes(path, good);
    CResFile extended(path.c_str());
    ASSERT_EQ(extended.Open(RA_READ | RA_WRITE), 1);
    const DirEntry entry{{'n'}, 1, 0, 0, 2, RC_NONE, good.data(), 0};
    ASSERT_EQ(extended.mfFileAdd(&entry), 3);
    EXPECT_EQ(Outcome(extended.mfOptimize(0), extended), opt + "Unflushed files" + in);
}

#ifdef MTXTRIM_EXE

// Mtxtrim's output around `lines`, each ending in a line feed; Windows prints its paths
// with backslashes.
std::string TrimOutput(std::string lines, int total)
{
    if (kWindowsHost)
        std::replace(lines.begin(), lines.end(), '/', '\\');
    return std::string("Mtxtrim v1.0") + kMakerNotice + "\n \n" + lines + "\n " + std::to_string(total) +
           " file(s) is optimized\n";
}

// A package with dead space behind its packed entry.
Bytes LoosePackage(const char* name)
{
    return MakePackageBytes({{name, Packed(ToBytes("texture bytes")), 2, RC_LZSS}, {"b", ToBytes("more")}}, 16);
}

TEST(Mtxtrim, WalksTheTreeAndCountsOnlySuccessfulCompactions)
{
    ScratchDir scratch;
    for (const char* folder : {"sub", "sub/deeper", ".hidden", "_Temp.d"})
        fs::create_directory(scratch / folder);
    const struct { std::string name; Bytes bytes; bool compacts; } files[] = {
        {"a.mtx", LoosePackage("a"), true}, {"sub/b.any", LoosePackage("b"), true},
        {"sub/_Temp", LoosePackage("c"), true}, {"sub/deeper/d", LoosePackage("d"), true},
        {"_Temp.d/e.mtx", Set(LoosePackage("e"), 20 + 64, 0), true}, {".x.mtx", LoosePackage("x"), false},
        {".hidden/h.mtx", LoosePackage("h"), false}, {"notes.txt", ToBytes("text"), false},
        {"_Temp", ToBytes("a user's notes"), false}, {"empty.mtx", MakePackageBytes({}), false},
        {"bad.mtx", Set(LoosePackage("f"), 20 + 68, 99999), false}, {"locked.mtx", LoosePackage("l"), false}};
    for (const auto& [name, bytes, compacts] : files)
        WriteFileBytes(scratch / name, bytes);
    fs::permissions(scratch / "locked.mtx", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    WriteFileBytes(scratch / ".a.mtx.staging", LoosePackage("s"));  // left by a killed run
    MakeFifo(scratch / "pipe.mtx");                                   // opening it would block
    const RunResult run = RunTool(MTXTRIM_EXE, {}, scratch.path());
    EXPECT_EQ(run.out, TrimOutput(" Process: '_Temp.d/e.mtx'\n Process: 'a.mtx'\n Process: 'bad.mtx'\n"
        "Warning: CResFile::mfOptimize - Error read data in resource file <bad.mtx>\n Process: 'locked.mtx'\n"
        "Warning: CResFile::mfOptimize - Resource file <locked.mtx> is read-only (" + kAccessDenied + ")\n"
        " Process: 'sub/_Temp'\n Process: 'sub/b.any'\n Process: 'sub/deeper/d'\n", 5));
    EXPECT_EQ(run.status, 3);  // two packages could not be compacted
    for (const auto& [name, bytes, compacts] : files)
        EXPECT_EQ(ReadFileBytes(scratch / name), compacts ? Compacted(bytes) : bytes) << name;
    EXPECT_FALSE(FileExists(scratch / ".a.mtx.staging"));
}

TEST(Mtxtrim, AFolderArgumentLimitsTheWalkToIt)
{
    ScratchDir scratch;
    fs::create_directories(scratch / "sub/deeper");
    WriteFileBytes(scratch / "a.mtx", LoosePackage("a"));
    WriteFileBytes(scratch / "sub/deeper/d.mtx", LoosePackage("d"));
    const RunResult run = RunTool(MTXTRIM_EXE, {"sub"}, scratch.path());
    EXPECT_EQ(run.out, TrimOutput(" Process: 'sub/deeper/d.mtx'\n", 1));
    EXPECT_EQ(ReadFileBytes(scratch / "sub/deeper/d.mtx"), Compacted(LoosePackage("d")));
    EXPECT_EQ(ReadFileBytes(scratch / "a.mtx"), LoosePackage("a"));
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

TEST(Mtxtrim, AnythingButOneFolderGetsTheUsageAndTouchesNothing)
{
    ScratchDir scratch;
    WriteFileBytes(scratch / "a.mtx", LoosePackage("a"));
    WriteFileBytes(scratch / "notes.txt", ToBytes("text"));
    const std::vector<std::string> cases[] = {{"-h"}, {"--help"}, {"/?"}, {"-x"}, {"+x"}, {"."}, {".", "."},
                                              {"notes.txt"}, {"missing"}};
    for (const auto& args : cases) {
        SCOPED_TRACE(args.size() == 1 ? args[0] : "two folders");
        const RunResult run = RunTool(MTXTRIM_EXE, args, scratch.path());
        const bool oneFolder = args.size() == 1 && args[0] == ".";
        EXPECT_EQ(run.status, oneFolder ? 0 : 1);
        EXPECT_EQ(run.out, oneFolder ? TrimOutput(" Process: './a.mtx'\n", 1) : std::string("Mtxtrim v1.0") +
                                           kMakerNotice + "\n \nusage: Mtxtrim [folder]\n");
        EXPECT_EQ(ReadFileBytes(scratch / "a.mtx"), oneFolder ? Compacted(LoosePackage("a")) : LoosePackage("a"));
        WriteFileBytes(scratch / "a.mtx", LoosePackage("a"));
    }
}

#ifndef _WIN32  // file-size limits and signals are POSIX's
TEST(Mtxtrim, KilledAtAnyWriteLeavesTheOldOrTheNewPackage)
{
    ScratchDir scratch;
    fs::create_directory(scratch / "sub");
    const std::string path = scratch / "sub/big.mtx";
    std::mt19937 random(5);
    Bytes original = RandomPackage(random, 2500);
    while (original.size() < 6000)  // several buffers' worth, so the kill can come at several writes
        original = RandomPackage(random, 2500);
    const Bytes compacted = Compacted(original);
    for (size_t limit = 0; limit <= compacted.size() + 512; limit += 512) {
        WriteFileBytes(path, original);
        // The shell counts the limit in 512-byte blocks and leaves SIGXFSZ to kill the program.
        const std::string shell = "ulimit -f " + std::to_string(limit / 512) + "; exec \"$0\"";
        const int status = RunTool("/bin/sh", {"-c", shell, MTXTRIM_EXE}, scratch.path()).status;
        const Bytes now = ReadFileBytes(path);
        EXPECT_TRUE(limit < compacted.size() ? status == 128 + SIGXFSZ && now == original
                                             : status == 0 && now == compacted) << limit << ": " << status;
        const RunResult run = RunTool(MTXTRIM_EXE, {}, scratch.path());
        EXPECT_EQ(run.out, TrimOutput(" Process: 'sub/big.mtx'\n", 1));
        EXPECT_EQ(ReadFileBytes(path), compacted);
        EXPECT_FALSE(FileExists(scratch / "sub/.big.mtx.staging"));
    }
}
#endif
#endif

}  // namespace
