// Package compaction: CResFile::mfOptimize, and Mtxtrim walking a tree, failing and being killed.
#include "archive/ResFile.h"
#include "common/Banner.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>

namespace {

namespace fs = std::filesystem;

std::string Err(const CResFile& package) { return package.mfGetError() ? package.mfGetError() : ""; }

Bytes Set(Bytes bytes, size_t at, int32_t value) { return SetI32(bytes, at, value), bytes; }

// What compacting `package` must give: its header with compactFlag 1, the chain's records
// (every byte but the links and offset carried over) back to back, then their data.
Bytes Compacted(const Bytes& package)
{
    std::vector<size_t> records;
    for (int32_t at = GetI32(package, 16); at >= 0; at = GetI32(package, static_cast<size_t>(at) + 72))
        records.push_back(static_cast<size_t>(at));
    const auto count = static_cast<int32_t>(records.size());
    Bytes out = Set(Set(Bytes(package.begin(), package.begin() + 20), 8, 1), 16, 20), data;
    for (int32_t i = 0; i < count; ++i) {
        const auto record = package.begin() + static_cast<long>(records[static_cast<size_t>(i)]);
        const auto stored = package.begin() + GetI32(package, records[static_cast<size_t>(i)] + 68);
        out.insert(out.end(), record, record + 88);
        SetI32(out, out.size() - 20, 20 + 88 * count + static_cast<int32_t>(data.size()));
        SetI32(out, out.size() - 16, i + 1 < count ? 20 + 88 * (i + 1) : -1);
        SetI32(out, out.size() - 12, i > 0 ? 20 + 88 * (i - 1) : -1);
        data.insert(data.end(), stored, stored + GetI32(out, out.size() - 24));
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A package of the flushed layout with dead space, some empty entries and its chain in
// an order of its own.
Bytes RandomPackage(std::mt19937& random, size_t maxSize)
{
    std::vector<TestEntry> entries(1 + random() % 6);
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].name = "entry" + std::to_string(i) + std::string(1 + random() % 40, 'x');
        entries[i].data.resize(random() % 4 ? random() % maxSize : 0);
        for (uint8_t& byte : entries[i].data)
            byte = static_cast<uint8_t>(random());
        entries[i].method = random() % 2 ? RC_LZSS : RC_NONE;
    }
    Bytes package = MakePackageBytes(entries, random() % 50);
    std::vector<int32_t> records;
    for (int32_t at = 20; at >= 0; at = GetI32(package, static_cast<size_t>(at) + 72))
        records.push_back(at);
    std::shuffle(records.begin(), records.end(), random);
    SetI32(package, 16, records[0]);
    for (size_t i = 0; i < records.size(); ++i) {
        package[static_cast<size_t>(records[i]) + 63] = 'z';  // after the terminator: carried as it is
        SetI32(package, static_cast<size_t>(records[i]) + 72, i + 1 < records.size() ? records[i + 1] : -1 - static_cast<int32_t>(i));
    }
    return package;
}

class Compaction : public ::testing::Test {
protected:
    ScratchDir scratch;
    WorkingDirectory cwd{scratch.path()};
    const std::string path = scratch / "p.mtx";
    bool OnlyThePackageIsLeft() const
    {
        return std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()) == 1;
    }
};

TEST_F(Compaction, KeepsEveryEntryInChainOrderAndChangesNothingTheSecondTime)
{
    std::mt19937 random(99);
    for (int round = 0; round < 12; ++round) {
        const Bytes original = RandomPackage(random, 300), expected = Compacted(original);
        WriteFileBytes(path, original);
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_READ), 1);
        ASSERT_EQ(package.mfOptimize(0), 1) << Err(package);
        EXPECT_EQ(ReadFileBytes(path), expected) << round;
        EXPECT_TRUE(OnlyThePackageIsLeft());
        for (int32_t i = 0; i < package.mfGetCount(); ++i)  // the directory is the new one
            EXPECT_EQ(package.mfGetEntry(i).offset, GetI32(expected, 20 + 88 * static_cast<size_t>(i) + 68));
        EXPECT_EQ(package.mfFlush(), -1);  // reopened for reading
        ASSERT_EQ(package.mfOptimize(0), 1);
        EXPECT_EQ(ReadFileBytes(path), expected);
    }
}

TEST_F(Compaction, FailureReportsAndLeavesThePackageAsItWas)
{
    Bytes good = MakePackageBytes({{"a", Packed(Bytes(200, 1)), 2, RC_LZSS}, {"b", Bytes(9, 2)}}, 100);
    const std::string in = " in resource file <" + path + ">", opt = "CResFile::mfOptimize - ";
    const std::string fullDisk = opt + "Error write resource file <Temp>";
    // `prepare` runs after Open; a size limit of 0 is none.
    const struct { Bytes package; std::function<void(CResFile&)> prepare; uint64_t sizeLimit; std::string error; } cases[] = {
        {good, [](CResFile&) { fs::create_directory("_Temp"); }, 0, opt + "Can't create resource file <Temp>"},
        {Set(good, 20 + 68, 10000), {}, 0, opt + "Error read data" + in},
        {Set(good, 20 + 68, -1), {}, 0, opt + "Error read data" + in},
        {Set(good, 20 + 64, -1), {}, 0, opt + "Error read data" + in},
        {Set(good, 20 + 64, INT32_MAX - 196 - 9), {}, 0, opt + "Error read data" + in},  // just fits
        {Set(good, 20 + 64, INT32_MAX - 196 - 8), {}, 0, opt + "Resource file <" + path + "> is too large to compact"},
        {good, [&](CResFile&) { fs::resize_file(path, 150); }, 0, "CResFile::mfFlush - Error read directory" + in},
        {good, [&](CResFile&) { WriteFileBytes(path, Set(good, 12, 3)); }, 0, opt + "Error number directory files" + in},
        {good, [](CResFile& p) { p.mfClose(); }, 0, opt + "Resource file <> is not open"},
#ifndef _WIN32  // a full disk comes from the file-size limit
        {good, {}, 100, fullDisk},  // the staged bytes wait in the stream's buffer till it closes
        {MakePackageBytes({{"a", Bytes(9000, 1)}, {"b", Bytes(9, 2)}}), {}, 5000, fullDisk},
#endif
    };
    for (const auto& c : cases) {
        WriteFileBytes(path, c.package);
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_READ), 1);
        if (c.prepare)
            c.prepare(package);
        const Bytes before = ReadFileBytes(path);
        {
#ifndef _WIN32
            std::unique_ptr<FileSizeLimit> limit(c.sizeLimit ? new FileSizeLimit(c.sizeLimit) : nullptr);
#endif
            EXPECT_EQ(package.mfOptimize(0), 0);
        }
        EXPECT_EQ(Err(package), c.error);
        EXPECT_EQ(ReadFileBytes(path), before);
        EXPECT_EQ(package.mfGetCount(), 2);  // the handle keeps the old directory
        fs::remove("_Temp");
        EXPECT_TRUE(OnlyThePackageIsLeft());
    }
    // A package named like the staging file is not truncated; an unflushed handle is refused.
    WriteFileBytes("_Temp", good);
    CResFile temp("_Temp");
    ASSERT_EQ(temp.Open(RA_READ | RA_WRITE), 1);
    EXPECT_EQ(temp.mfOptimize(0), 0);
    EXPECT_EQ(Err(temp), "CResFile::mfOptimize - Can't create resource file <Temp>");
    EXPECT_EQ(ReadFileBytes("_Temp"), good);
    const DirEntry entry{{'n'}, 1, 0, 0, 2, RC_NONE, good.data(), 0};
    ASSERT_EQ(temp.mfFileAdd(&entry), 3);
    EXPECT_EQ(temp.mfOptimize(0), 0);
    EXPECT_EQ(Err(temp), "CResFile::mfOptimize - Unflushed files in resource file <_Temp>");
}

#ifdef MTXTRIM_EXE

std::string TrimOutput(const std::vector<std::string>& lines, int total)
{
    std::string out = std::string("Mtxtrim v1.0") + kMakerNotice + "\n \n";
    for (const std::string& line : lines)
        out += line + "\n";
    return out + "\n " + std::to_string(total) + " file(s) is optimized\n";
}

Bytes Small(const char* name)
{
    return MakePackageBytes({{name, Packed(ToBytes("texture bytes")), 2, RC_LZSS}, {"b", ToBytes("more")}}, 16);
}

TEST(Mtxtrim, WalksTheTreeAndCountsOnlySuccessfulCompactions)
{
    ScratchDir scratch;
    for (const char* folder : {"sub", "sub/deeper", ".hidden", "_Temp.d"})
        fs::create_directory(scratch / folder);
    const std::vector<std::pair<std::string, Bytes>> compacted = {
        {"a.mtx", Small("a")}, {"sub/b.any", Small("b")}, {"sub/_Temp", Small("c")}, {"sub/deeper/d", Small("d")},
        {"_Temp.d/e.mtx", Set(Small("e"), 20 + 64, 0)}};
    const std::vector<std::pair<std::string, Bytes>> untouched = {
        {".x.mtx", Small("x")}, {".hidden/h.mtx", Small("h")}, {"notes.txt", ToBytes("plain text")},
        {"empty.mtx", MakePackageBytes({})}, {"bad.mtx", Set(Small("f"), 20 + 68, 99999)}, {"locked.mtx", Small("l")}};
    for (const auto& files : {compacted, untouched})
        for (const auto& [name, bytes] : files)
            WriteFileBytes(scratch / name, bytes);
    fs::permissions(scratch / "locked.mtx", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    WriteFileBytes(scratch / "_Temp", Small("t"));  // left by an interrupted run
    MakeFifo(scratch / "pipe.mtx");                  // opening it would block
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"ignored", "*.mtx"}}) {
        const RunResult run = RunTool(MTXTRIM_EXE, args, scratch.path());
        EXPECT_EQ(run.out, TrimOutput({" Process: '_Temp.d/e.mtx'", " Process: 'a.mtx'", " Process: 'bad.mtx'",
                                       "Warning: CResFile::mfOptimize - Error read data in resource file <bad.mtx>",
                                       " Process: 'locked.mtx'",
                                       "Warning: CResFile::mfOptimize - Resource file <locked.mtx> is read-only",
                                       " Process: 'sub/_Temp'", " Process: 'sub/b.any'", " Process: 'sub/deeper/d'"},
                                      5));
        EXPECT_EQ(run.status, 0);
        for (const auto& [name, bytes] : compacted)
            EXPECT_EQ(ReadFileBytes(scratch / name), Compacted(bytes)) << name;
        for (const auto& [name, bytes] : untouched)
            EXPECT_EQ(ReadFileBytes(scratch / name), bytes) << name;
        EXPECT_FALSE(FileExists(scratch / "_Temp"));
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
    WriteFileBytes(path, original);
    RunResult full;
    {
        FileSizeLimit limit(compacted.size() - 1);  // writes fail without a signal
        full = RunTool(MTXTRIM_EXE, {}, scratch.path());
    }
    EXPECT_EQ(full.out, TrimOutput({" Process: 'sub/big.mtx'", "Warning: CResFile::mfOptimize - Error write resource file <Temp>"}, 0));
    EXPECT_EQ(ReadFileBytes(path), original);
    EXPECT_FALSE(FileExists(scratch / "_Temp"));
    for (size_t limit = 0; limit <= compacted.size() + 512; limit += 512) {
        WriteFileBytes(path, original);
        // The shell counts the limit in 512-byte blocks and leaves SIGXFSZ to kill the program.
        const int status = RunTool("/bin/sh", {"-c", "ulimit -f " + std::to_string(limit / 512) + "; exec \"$0\"", MTXTRIM_EXE},
                                   scratch.path()).status;
        const Bytes now = ReadFileBytes(path);
        EXPECT_TRUE(limit < compacted.size() ? status == 128 + SIGXFSZ && now == original
                                             : status == 0 && now == compacted) << limit << ": " << status;
        const RunResult run = RunTool(MTXTRIM_EXE, {}, scratch.path());
        EXPECT_EQ(run.out, TrimOutput({" Process: 'sub/big.mtx'"}, 1));
        EXPECT_EQ(ReadFileBytes(path), compacted);
        EXPECT_FALSE(FileExists(scratch / "_Temp"));
    }
}
#endif
#endif

}  // namespace
