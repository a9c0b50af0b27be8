// Package compaction: CResFile::mfOptimize, and Mtxtrim walking a tree, failing and being killed.
#include "archive/ResFile.h"
#include "common/Banner.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string Err(const CResFile& package) { return package.mfGetError() ? package.mfGetError() : ""; }

Bytes With(Bytes bytes, const std::function<void(Bytes&)>& change)
{
    change(bytes);
    return bytes;
}

// What compacting `package` must give: its header with compactFlag 1, the chain's records
// (every byte but the links and offset carried over) back to back, then their data.
Bytes Compacted(const Bytes& package)
{
    std::vector<size_t> records;
    for (int32_t at = GetI32(package, 16); at >= 0; at = GetI32(package, static_cast<size_t>(at) + 72))
        records.push_back(static_cast<size_t>(at));
    const auto count = static_cast<int32_t>(records.size());
    Bytes out(package.begin(), package.begin() + 20), data;
    SetI32(out, 8, 1);
    SetI32(out, 16, 20);
    for (int32_t i = 0; i < count; ++i) {
        Bytes record(package.begin() + static_cast<long>(records[i]), package.begin() + static_cast<long>(records[i] + 88));
        const auto from = package.begin() + GetI32(record, 68);
        data.insert(data.end(), from, from + GetI32(record, 64));
        SetI32(record, 68, 20 + 88 * count + static_cast<int32_t>(data.size()) - GetI32(record, 64));
        SetI32(record, 72, i + 1 < count ? 20 + 88 * (i + 1) : -1);
        SetI32(record, 76, i > 0 ? 20 + 88 * (i - 1) : -1);
        out.insert(out.end(), record.begin(), record.end());
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes Filled(size_t size, int seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + (i * 7) / (seed + 1));
    return bytes;
}

class Compaction : public ::testing::Test {
protected:
    ScratchDir scratch;
    WorkingDirectory cwd{scratch.path()};
    const std::string path = scratch / "p.mtx";
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(scratch.path()))
            names.push_back(item.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(Compaction, KeepsEveryEntryInChainOrderAndChangesNothingTheSecondTime)
{
    const std::vector<TestEntry> three = {{"a", Packed(Filled(300, 2)), 2, RC_LZSS}, {"b", Filled(50, 3), 5}, {"c", Filled(7, 4)}};
    Bytes reversed = MakePackageBytes({three[0], three[1], {"third", {}}}, 9);
    SetI32(reversed, 16, GetI32(reversed, 20 + 72));  // chain: b, a, third
    SetI32(reversed, static_cast<size_t>(GetI32(reversed, 16)) + 72, 20);
    SetI32(reversed, 20 + 72, GetI32(reversed, 16) + 88 + 50 + 9);
    reversed[20 + 2] = 'x';  // after the name's terminator: carried over as it is
    Bytes flushed;
    {
        CResFile writer("flushed.mtx");
        ASSERT_EQ(writer.Open(RA_WRITE | RA_CREATE), 1);
        for (int i = 0; i < 4; ++i) {
            DirEntry entry{};
            const Bytes data = Filled(i == 2 ? 1 : 3000, i);
            std::snprintf(entry.name, sizeof entry.name, "packed%d", i);
            entry.size = static_cast<int32_t>(data.size());
            entry.method = RC_LZSS;
            entry.data = data.data();
            ASSERT_EQ(writer.mfFileAdd(&entry), i + 1);
        }
        ASSERT_EQ(writer.mfFlush(), 1);
        flushed = ReadFileBytes("flushed.mtx");
        fs::remove("flushed.mtx");
    }
    const struct {
        const char* what;
        Bytes package;
        size_t size;
    } cases[] = {
        {"one entry", MakePackageBytes({{"wall", Filled(1000, 1)}}), 1108},
        {"dead space between entries", MakePackageBytes(three, 40), 0},
        {"chain out of file order, an empty entry last", reversed, 0},
        {"empty entries first and in the middle", MakePackageBytes({{"e1", {}}, {"x", {1, 2}}, {"e2", {}}, {"y", {3}}}), 375},
        {"flushed packed entries with gaps", flushed, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(path, c.package);
        const Bytes expected = Compacted(c.package);
        EXPECT_TRUE(c.size == 0 || expected.size() == c.size);
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_READ), 1);
        ASSERT_EQ(package.mfOptimize(0), 1) << Err(package);
        EXPECT_EQ(ReadFileBytes(path), expected);
        EXPECT_EQ(Names(), std::vector<std::string>{"p.mtx"});
        for (int32_t i = 0; i < package.mfGetCount(); ++i) {  // the directory is the new one
            EXPECT_EQ(package.mfGetEntry(i).offset, GetI32(expected, 20 + 88 * static_cast<size_t>(i) + 68));
            Bytes back(static_cast<size_t>(package.mfFileSize(i)));
            EXPECT_EQ(package.mfFileRead(i, back.data()), static_cast<int32_t>(back.size()));
        }
        EXPECT_EQ(package.mfFlush(), -1);  // reopened for reading
        ASSERT_EQ(package.mfOptimize(0), 1);
        EXPECT_EQ(ReadFileBytes(path), expected);
    }
}

TEST_F(Compaction, FailureReportsAndLeavesThePackageAsItWas)
{
    const Bytes good = MakePackageBytes({{"a", Packed(Filled(200, 1)), 2, RC_LZSS}, {"b", Filled(9, 2)}}, 100);
    const Bytes large = MakePackageBytes({{"a", Filled(9000, 1)}, {"b", Filled(9, 2)}}, 100);
    const std::string quoted = " <" + path + ">";
    const std::string fullDisk = "CResFile::mfOptimize - Error write resource file <Temp>";
    const struct {
        const char* what;
        Bytes package;
        std::function<void(CResFile&)> prepare;  // runs after Open
        uint64_t sizeLimit;                       // 0: none
        std::string error;
    } cases[] = {
        {"staging name taken by a directory", good, [](CResFile&) { fs::create_directory("_Temp"); }, 0,
         "CResFile::mfOptimize - Can't create resource file <Temp>"},
        {"entry data beyond the end", With(good, [](Bytes& b) { SetI32(b, 20 + 68, 10000); }), {}, 0,
         "CResFile::mfOptimize - Error read data in resource file" + quoted},
        {"negative offset", With(good, [](Bytes& b) { SetI32(b, 20 + 68, -1); }), {}, 0,
         "CResFile::mfOptimize - Error read data in resource file" + quoted},
        {"record cut off after opening", good, [&](CResFile&) { fs::resize_file(path, 150); }, 0,
         "CResFile::mfFlush - Error read directory in resource file" + quoted},
        {"header count changed after opening", good,
         [&](CResFile&) { WriteFileBytes(path, With(good, [](Bytes& b) { SetI32(b, 12, 3); })); }, 0,
         "CResFile::mfOptimize - Error number directory files in resource file" + quoted},
        {"closed handle", good, [](CResFile& p) { p.mfClose(); }, 0,
         "CResFile::mfOptimize - Resource file <> is not open"},
        {"read-only", good, [&](CResFile&) { fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write, fs::perm_options::remove); }, 0,
         "CResFile::mfOptimize - Resource file" + quoted + " is read-only"},
#ifndef _WIN32  // a full disk comes from the file-size limit
        {"disk full at the closing flush", good, {}, 100, fullDisk},
        {"disk full while copying data", large, {}, 5000, fullDisk},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
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
        EXPECT_EQ(Names(), std::vector<std::string>{"p.mtx"});
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
    }
    // A package named like the staging file is not truncated; an unflushed handle is refused.
    WriteFileBytes("_Temp", good);
    CResFile temp("_Temp");
    ASSERT_EQ(temp.Open(RA_READ), 1);
    EXPECT_EQ(temp.mfOptimize(0), 0);
    EXPECT_EQ(Err(temp), "CResFile::mfOptimize - Can't create resource file <Temp>");
    EXPECT_EQ(ReadFileBytes("_Temp"), good);
    CResFile update("_Temp");
    ASSERT_EQ(update.Open(RA_READ | RA_WRITE), 1);
    DirEntry entry{};
    entry.name[0] = 'n';
    entry.size = 1;
    entry.data = good.data();
    ASSERT_EQ(update.mfFileAdd(&entry), 3);
    EXPECT_EQ(update.mfOptimize(0), 0);
    EXPECT_EQ(Err(update), "CResFile::mfOptimize - Unflushed files in resource file <_Temp>");
}

#ifndef _WIN32  // permission bits and links are POSIX's
TEST_F(Compaction, KeepsPermissionBitsAndFollowsALink)
{
    const Bytes package = MakePackageBytes({{"a", Filled(10, 1)}}, 5);
    WriteFileBytes(scratch / "real.mtx", package);
    chmod((scratch / "real.mtx").c_str(), 0640);
    ASSERT_EQ(symlink("real.mtx", path.c_str()), 0);
    CResFile linked(path.c_str());
    ASSERT_EQ(linked.Open(RA_READ), 1);
    ASSERT_EQ(linked.mfOptimize(0), 1);
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(ReadFileBytes(scratch / "real.mtx"), Compacted(package));
    struct stat info {};
    stat(path.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}
#endif

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
        {"_Temp.d/e.mtx", With(Small("e"), [](Bytes& b) { SetI32(b, 20 + 64, 0); })}};
    const std::vector<std::pair<std::string, Bytes>> untouched = {
        {".x.mtx", Small("x")}, {".hidden/h.mtx", Small("h")}, {"notes.txt", ToBytes("plain text")},
        {"empty.mtx", MakePackageBytes({})}, {"bad.mtx", With(Small("f"), [](Bytes& b) { SetI32(b, 20 + 68, 99999); })},
        {"locked.mtx", Small("l")}};
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
    // A directory named like the staging file stays, and no compaction can succeed.
    fs::create_directory(scratch / "_Temp");
    const std::string out = RunTool(MTXTRIM_EXE, {}, scratch.path()).out;
    EXPECT_NE(out.find(" Process: 'a.mtx'\nWarning: CResFile::mfOptimize - Can't create resource file <Temp>\n"),
              std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 25), "\n 0 file(s) is optimized\n");
    EXPECT_TRUE(IsDirectory(scratch / "_Temp"));
}

#ifndef _WIN32  // file-size limits and signals are POSIX's

TEST(Mtxtrim, FullDiskIsAWarningNotACompaction)
{
    ScratchDir scratch;
    WriteFileBytes(scratch / "a.mtx", Small("a"));
    RunResult run;
    {
        FileSizeLimit limit(100);
        run = RunTool(MTXTRIM_EXE, {}, scratch.path());
    }
    EXPECT_EQ(run.out, TrimOutput({" Process: 'a.mtx'", "Warning: CResFile::mfOptimize - Error write resource file <Temp>"}, 0));
    EXPECT_EQ(ReadFileBytes(scratch / "a.mtx"), Small("a"));
    EXPECT_FALSE(FileExists(scratch / "_Temp"));
}

// Runs Mtxtrim in `cwd`, killed by SIGXFSZ when any file it writes would pass `limit` bytes.
int TrimWithFileLimit(const std::string& cwd, rlim_t limit)
{
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        rlimit bound{limit, limit};
        signal(SIGXFSZ, SIG_DFL);
        if (setrlimit(RLIMIT_FSIZE, &bound) != 0 || chdir(cwd.c_str()) != 0)
            _exit(126);
        execl(MTXTRIM_EXE, MTXTRIM_EXE, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

TEST(Mtxtrim, KilledAtAnyWriteLeavesTheOldOrTheNewPackage)
{
    ScratchDir scratch;
    fs::create_directory(scratch / "sub");
    const std::string path = scratch / "sub/big.mtx";
    std::vector<TestEntry> entries;
    for (int i = 0; i < 12; ++i)
        entries.push_back({"entry" + std::to_string(i), Filled(200 + 37 * static_cast<size_t>(i), i), 2, i % 2 ? RC_NONE : RC_LZSS});
    const Bytes original = MakePackageBytes(entries, 300);
    const Bytes compacted = Compacted(original);
    for (rlim_t blocks = 0; blocks * 512 <= compacted.size() + 512; ++blocks) {
        WriteFileBytes(path, original);
        const int status = TrimWithFileLimit(scratch.path(), blocks * 512);
        const Bytes now = ReadFileBytes(path);
        if (blocks * 512 < compacted.size())
            EXPECT_TRUE(status == 128 + SIGXFSZ && now == original) << blocks << ": " << status;
        else
            EXPECT_TRUE(status == 0 && now == compacted) << blocks << ": " << status;
        const RunResult run = RunTool(MTXTRIM_EXE, {}, scratch.path());
        EXPECT_EQ(run.out, TrimOutput({" Process: 'sub/big.mtx'"}, 1));
        EXPECT_EQ(ReadFileBytes(path), compacted);
        EXPECT_FALSE(FileExists(scratch / "_Temp"));
    }
}

#endif
#endif

}  // namespace
