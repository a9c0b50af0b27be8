// Mtxtrim as a program: its whole output, the packages it rewrites, and what a kill
// in the middle of a compaction leaves behind.
#include "common/Banner.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifdef MTXTRIM_EXE

namespace {

const std::string kBanner = std::string("Mtxtrim v1.0") + kMakerNotice + "\n \n";

std::string Output(const std::vector<std::string>& processed, int total)
{
    std::string out = kBanner;
    for (const std::string& line : processed)
        out += line + "\n";
    return out + "\n " + std::to_string(total) + " file(s) is optimized\n";
}

Bytes SmallPackage(const char* name)
{
    return MakePackageBytes({{name, ToBytes("texture bytes"), 2, 2}, {"b", ToBytes("more")}}, 16);
}

bool IsCompacted(const std::string& path)
{
    const Bytes bytes = ReadFileBytes(path);
    return bytes.size() > 20 && GetI32(bytes, 8) == 1;
}

TEST(Mtxtrim, EmptyDirectoryAndArgumentsIgnored)
{
    ScratchDir scratch;
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"anything", "*.mtx"}}) {
        const RunResult run = RunTool(MTXTRIM_EXE, args, scratch.path());
        EXPECT_EQ(run.out, Output({}, 0));
        EXPECT_EQ(run.status, 0);
    }
}

TEST(Mtxtrim, WalksTwoLevelsAndSkipsNonPackagesDotNamesAndStagingFile)
{
    ScratchDir scratch;
    std::filesystem::create_directory(scratch / "sub");
    std::filesystem::create_directory(scratch / ".hidden");
    WriteFileBytes(scratch / "a.mtx", SmallPackage("a"));
    WriteFileBytes(scratch / "sub/b.any", SmallPackage("b"));
    WriteFileBytes(scratch / "sub/_Temp", SmallPackage("c"));  // only the top one is staging
    const std::vector<std::pair<std::string, Bytes>> untouched = {
        {".x.mtx", SmallPackage("x")},
        {".hidden/h.mtx", SmallPackage("h")},
        {"notes.txt", ToBytes("plain text")},
        {"empty.mtx", MakePackageBytes({})},
    };
    for (const auto& [name, bytes] : untouched)
        WriteFileBytes(scratch / name, bytes);
    WriteFileBytes(scratch / "_Temp", SmallPackage("t"));  // left by an interrupted run
    MakeFifo(scratch / "pipe.mtx");  // opening it would block

    const RunResult run = RunTool(MTXTRIM_EXE, {}, scratch.path());
    EXPECT_EQ(run.out, Output({" Process: 'a.mtx'", " Process: 'sub/_Temp'", " Process: 'sub/b.any'"}, 3));
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(IsCompacted(scratch / "a.mtx"));
    EXPECT_TRUE(IsCompacted(scratch / "sub/b.any"));
    EXPECT_FALSE(FileExists(scratch / "_Temp"));
    for (const auto& [name, bytes] : untouched)
        EXPECT_EQ(ReadFileBytes(scratch / name), bytes) << name;
}

TEST(Mtxtrim, FailedCompactionWarnsAndIsNotCounted)
{
    ScratchDir scratch;
    Bytes broken = SmallPackage("a");
    SetI32(broken, 20 + 68, 100000);  // entry data beyond the end of the file
    WriteFileBytes(scratch / "bad.mtx", broken);
    WriteFileBytes(scratch / "good.mtx", SmallPackage("g"));
    WriteFileBytes(scratch / "locked.mtx", SmallPackage("l"));
    std::filesystem::permissions(scratch / "locked.mtx", std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::group_read |
                                                             std::filesystem::perms::others_read);
    const RunResult run = RunTool(MTXTRIM_EXE, {}, scratch.path());
    EXPECT_EQ(run.out, Output({" Process: 'bad.mtx'",
                               "Warning: CResFile::mfOptimize - Error read data in resource file <bad.mtx>",
                               " Process: 'good.mtx'", " Process: 'locked.mtx'",
                               "Warning: CResFile::mfOptimize - Resource file <locked.mtx> is read-only"},
                              1));
    EXPECT_EQ(ReadFileBytes(scratch / "bad.mtx"), broken);
    EXPECT_EQ(ReadFileBytes(scratch / "locked.mtx"), SmallPackage("l"));
    EXPECT_EQ(run.status, 0);
}

TEST(Mtxtrim, DirectoryNamedLikeTheStagingFileIsKept)
{
    ScratchDir scratch;
    std::filesystem::create_directory(scratch / "_Temp");
    WriteFileBytes(scratch / "a.mtx", SmallPackage("a"));
    const RunResult run = RunTool(MTXTRIM_EXE, {}, scratch.path());
    EXPECT_EQ(run.out, Output({" Process: 'a.mtx'", "Warning: CResFile::mfOptimize - Can't create resource file <Temp>"}, 0));
    EXPECT_TRUE(IsDirectory(scratch / "_Temp"));
    EXPECT_EQ(ReadFileBytes(scratch / "a.mtx"), SmallPackage("a"));
}

#ifndef _WIN32  // symbolic links, and killing with a signal, are POSIX's

TEST(Mtxtrim, SymbolicLinksAreNotFollowed)
{
    ScratchDir scratch;
    std::filesystem::create_directory(scratch / "a");
    WriteFileBytes(scratch / "a/p.mtx", SmallPackage("p"));
    ASSERT_EQ(symlink("..", (scratch / "a/loop").c_str()), 0);
    ASSERT_EQ(symlink("a/p.mtx", (scratch / "link.mtx").c_str()), 0);
    const RunResult run = RunTool(MTXTRIM_EXE, {}, scratch.path());
    EXPECT_EQ(run.out, Output({" Process: 'a/p.mtx'"}, 1));
}

// Forks Mtxtrim in `cwd` with its output discarded.
pid_t StartTrim(const std::string& cwd)
{
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        execl(MTXTRIM_EXE, MTXTRIM_EXE, static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

TEST(Mtxtrim, KilledAnywhereLeavesOldOrNewPackage)
{
    ScratchDir scratch;
    std::filesystem::create_directory(scratch / "sub");
    const std::string path = scratch / "sub/big.mtx";
    std::vector<TestEntry> entries;
    std::mt19937 random(20261206);
    for (int i = 0; i < 48; ++i) {
        Bytes data(64 * 1024 + random() % 4096);
        for (uint8_t& byte : data)
            byte = static_cast<uint8_t>(random());
        entries.push_back({"entry" + std::to_string(i), data, 2, 2});
    }
    const Bytes original = MakePackageBytes(entries, 1024);

    // One whole run gives the compacted bytes and the span in which to kill.
    WriteFileBytes(path, original);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunTool(MTXTRIM_EXE, {}, scratch.path()).status, 0);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const Bytes compacted = ReadFileBytes(path);
    ASSERT_EQ(compacted.size(), original.size() - 47 * 1024);

    for (int round = 0; round < 30; ++round) {
        WriteFileBytes(path, original);
        const pid_t child = StartTrim(scratch.path());
        ASSERT_GT(child, 0);
        usleep(static_cast<useconds_t>(random() % (span.count() + 1)));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const Bytes now = ReadFileBytes(path);
        EXPECT_TRUE(now == original || now == compacted) << "round " << round << ": " << now.size() << " bytes";
    }

    // Whatever the kills left behind, the next run compacts the package once.
    WriteFileBytes(path, original);
    const RunResult run = RunTool(MTXTRIM_EXE, {}, scratch.path());
    EXPECT_EQ(run.out, Output({" Process: 'sub/big.mtx'"}, 1));
    EXPECT_EQ(ReadFileBytes(path), compacted);
}

#endif

}  // namespace

#endif
