// Package compaction (CResFile::mfOptimize) and the atomic file replacement under it.
#include "archive/ResFile.h"
#include "host/ReplaceFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <tuple>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Bytes Filled(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

std::string Optimize(const std::string& path)
{
    CResFile package(path.c_str());
    if (!package.Open(RA_READ) || !package.mfOptimize(0))
        return package.mfGetError();
    return "";
}

std::vector<std::string> Names(const std::string& directory)
{
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    while (const dirent* item = readdir(dir))
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
            names.push_back(item->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Lets no file of this process grow beyond `limit` bytes while it lives: writes past it
// fail as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

class OptimizeTest : public ::testing::Test {
protected:
    ScratchDir scratch;
    WorkingDirectory cwd{scratch.path()};
    const std::string path = scratch / "p.mtx";
};

TEST_F(OptimizeTest, OneEntryCompactsTo1108Bytes)
{
    WriteFileBytes(path, MakePackageBytes({{"wall", Filled(1000, 1)}}));
    CResFile package(path.c_str());
    ASSERT_EQ(package.Open(RA_READ), 1);
    ASSERT_EQ(package.mfOptimize(0), 1);
    EXPECT_EQ(package.mfGetEntry(0).offset, 108);  // directory reloaded

    const Bytes out = ReadFileBytes(path);
    ASSERT_EQ(out.size(), 1108u);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "MPCK");
    EXPECT_EQ(GetI32(out, 8), 1);    // compactFlag
    EXPECT_EQ(GetI32(out, 12), 1);   // entryCount
    EXPECT_EQ(GetI32(out, 16), 20);  // firstRecord
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[20])), "wall");
    EXPECT_EQ(GetI32(out, 20 + 64), 1000);
    EXPECT_EQ(GetI32(out, 20 + 68), 108);
    EXPECT_EQ(GetI32(out, 20 + 72), -1);
    EXPECT_EQ(GetI32(out, 20 + 76), -1);
    EXPECT_EQ(Bytes(out.begin() + 108, out.end()), Filled(1000, 1));
    EXPECT_EQ(Names(scratch.path()), std::vector<std::string>{"p.mtx"});  // no staging file left
}

TEST_F(OptimizeTest, DeadSpaceDisappearsAndRecordsThenDataFollowChainOrder)
{
    const std::vector<TestEntry> entries = {
        {"a", Filled(300, 2), 2, RC_LZSS}, {"b", Filled(50, 3), 5, RC_NONE}, {"c", Filled(7, 4), 2, RC_LZSS}};
    const Bytes original = MakePackageBytes(entries, 40);
    WriteFileBytes(path, original);
    ASSERT_EQ(Optimize(path), "");

    const Bytes out = ReadFileBytes(path);
    ASSERT_EQ(out.size(), original.size() - 2 * 40);
    int32_t dataAt = 284;
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t record = 20 + 88 * i;
        SCOPED_TRACE(entries[i].name);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[record])), entries[i].name);
        EXPECT_EQ(GetI32(out, record + 64), static_cast<int32_t>(entries[i].data.size()));
        EXPECT_EQ(GetI32(out, record + 68), dataAt);
        EXPECT_EQ(GetI32(out, record + 72), i + 1 < entries.size() ? static_cast<int32_t>(record + 88) : -1);
        EXPECT_EQ(GetI32(out, record + 76), i > 0 ? static_cast<int32_t>(record - 88) : -1);
        EXPECT_EQ(GetI32(out, record + 80), entries[i].type);
        EXPECT_EQ(GetI32(out, record + 84), entries[i].method);
        EXPECT_EQ(Bytes(out.begin() + dataAt, out.begin() + dataAt + entries[i].data.size()), entries[i].data);
        dataAt += static_cast<int32_t>(entries[i].data.size());
    }

    ASSERT_EQ(Optimize(path), "");
    EXPECT_EQ(ReadFileBytes(path), out);  // compacting again changes nothing
}

TEST_F(OptimizeTest, ChainStartingElsewhereIsFollowedAndRecordBytesKept)
{
    // Data first, then the records in reverse file order; the chain starts at the last.
    Bytes layout = MakePackageBytes({});
    const Bytes first = Filled(30, 5), second = Filled(20, 6);
    layout.insert(layout.end(), first.begin(), first.end());
    layout.insert(layout.end(), second.begin(), second.end());
    const size_t secondRecord = layout.size(), firstRecord = secondRecord + 88;
    layout.resize(firstRecord + 88, 0);
    std::memcpy(&layout[firstRecord], "one\0junk", 8);  // bytes after the terminator
    std::memcpy(&layout[secondRecord], "two", 3);
    for (const auto& [record, size, offset, next] : {std::make_tuple(firstRecord, 30, 20, secondRecord),
                                                      std::make_tuple(secondRecord, 20, 50, size_t{0})}) {
        SetI32(layout, record + 64, size);
        SetI32(layout, record + 68, offset);
        SetI32(layout, record + 72, next ? static_cast<int32_t>(next) : -1);
        SetI32(layout, record + 80, 2);
    }
    SetI32(layout, 12, 2);
    SetI32(layout, 16, static_cast<int32_t>(firstRecord));
    WriteFileBytes(path, layout);
    ASSERT_EQ(Optimize(path), "");

    const Bytes out = ReadFileBytes(path);
    ASSERT_EQ(out.size(), 20u + 2 * 88 + 50);
    EXPECT_EQ(std::memcmp(&out[20], "one\0junk", 8), 0);
    EXPECT_EQ(std::memcmp(&out[108], "two", 4), 0);
    EXPECT_EQ(GetI32(out, 20 + 68), 196);
    EXPECT_EQ(GetI32(out, 108 + 68), 226);
    EXPECT_EQ(Bytes(out.begin() + 196, out.begin() + 226), first);
    EXPECT_EQ(Bytes(out.begin() + 226, out.end()), second);
}

TEST_F(OptimizeTest, PermissionBitsSurvive)
{
    for (mode_t mode : {0600, 0640, 0444, 0755}) {
        WriteFileBytes(path, MakePackageBytes({{"a", Filled(10, 1), 2, RC_LZSS}, {"b", Filled(10, 2)}}, 5));
        chmod(path.c_str(), mode);
        ASSERT_EQ(Optimize(path), "");
        struct stat info {};
        stat(path.c_str(), &info);
        EXPECT_EQ(info.st_mode & 07777, mode);
    }
}

TEST_F(OptimizeTest, FailureLeavesPackageIdenticalAndReports)
{
    const Bytes good = MakePackageBytes({{"a", Filled(5000, 1), 2, RC_LZSS}, {"b", Filled(9, 2)}}, 100);
    Bytes beyondEnd = good;
    SetI32(beyondEnd, 20 + 68, static_cast<int32_t>(good.size()));
    const std::string quoted = "<" + path + ">";
    struct Case {
        const char* what;
        Bytes package;
        std::function<void()> prepare;  // runs after Open
        rlim_t sizeLimit;               // 0: none
        std::string error;
    } cases[] = {
        {"staging name taken by a directory", good, [] { mkdir("_Temp", 0755); }, 0,
         "CResFile::mfOptimize - Can't create resource file <Temp>"},
        {"entry data beyond the end", beyondEnd, [] {}, 0,
         "CResFile::mfOptimize - Error read data in resource file " + quoted},
        {"disk full while staging", good, [] {}, 1000, "CResFile::mfOptimize - Error write resource file <Temp>"},
        {"record cut off after opening", good, [&] { ASSERT_EQ(truncate(path.c_str(), 150), 0); }, 0,
         "CResFile::mfFlush - Error read directory in resource file " + quoted},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(path, c.package);
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_READ), 1);
        c.prepare();
        const Bytes before = ReadFileBytes(path);
        {
            std::unique_ptr<FileSizeLimit> limit;
            if (c.sizeLimit)
                limit = std::make_unique<FileSizeLimit>(c.sizeLimit);
            EXPECT_EQ(package.mfOptimize(0), 0);
        }
        EXPECT_STREQ(package.mfGetError(), c.error.c_str());
        EXPECT_EQ(ReadFileBytes(path), before);
        EXPECT_EQ(package.mfGetCount(), 2);  // the handle keeps the old directory
        rmdir("_Temp");
        EXPECT_EQ(Names(scratch.path()), std::vector<std::string>{"p.mtx"});
    }
}

TEST_F(OptimizeTest, PackageNamedLikeTheStagingFileIsNotTruncated)
{
    const Bytes package = MakePackageBytes({{"a", Filled(10, 1)}});
    WriteFileBytes(scratch / "_Temp", package);
    EXPECT_EQ(Optimize("_Temp"), "CResFile::mfOptimize - Can't create resource file <Temp>");
    EXPECT_EQ(ReadFileBytes(scratch / "_Temp"), package);
}

TEST(ReplaceFile, ReplacesContentsKeepsModeAndFollowsLinks)
{
    ScratchDir scratch;
    WriteFileBytes(scratch / "target", ToBytes("old contents"));
    WriteFileBytes(scratch / "source", ToBytes("new"));
    chmod((scratch / "target").c_str(), 0604);
    ASSERT_EQ(symlink("target", (scratch / "link").c_str()), 0);
    std::string error;
    ASSERT_TRUE(ReplaceFileFrom(scratch / "link", scratch / "source", error)) << error;
    EXPECT_EQ(ReadFileText(scratch / "target"), "new");
    struct stat info {};
    lstat((scratch / "link").c_str(), &info);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    stat((scratch / "target").c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(Names(scratch.path()), (std::vector<std::string>{"link", "source", "target"}));
}

TEST(ReplaceFile, FailedCopyLeavesTargetAndNoTemporary)
{
    ScratchDir scratch;
    const Bytes old = ToBytes("old contents");
    WriteFileBytes(scratch / "target", old);
    WriteFileBytes(scratch / "source", Bytes(3 << 20, 'x'));  // more than one chunk
    std::string error;
    {
        FileSizeLimit limit(1 << 20);
        EXPECT_FALSE(ReplaceFileFrom(scratch / "target", scratch / "source", error));
    }
    EXPECT_EQ(error.rfind("cannot write " + scratch.path() + "/" + kReplaceTempPrefix + "target.", 0), 0u) << error;
    EXPECT_FALSE(ReplaceFileFrom(scratch / "target", scratch / "missing", error));
    EXPECT_EQ(ReadFileBytes(scratch / "target"), old);
    EXPECT_EQ(Names(scratch.path()), (std::vector<std::string>{"source", "target"}));
}

}  // namespace
