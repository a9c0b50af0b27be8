// Package compaction (CResFile::mfOptimize) and the atomic file replacement under it.
#include "archive/ResFile.h"
#include "host/DirectorySearch.h"
#include "host/ReplaceFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    DirectorySearch search;
    FoundFile found;
    for (bool more = search.Start(directory + "/*"); more && search.Next(found);)
        names.push_back(found.name);
    return names;
}

class OptimizeTest : public ::testing::Test {
protected:
    ScratchDir scratch;
    WorkingDirectory cwd{scratch.path()};
    const std::string path = scratch / "p.mtx";
};

TEST_F(OptimizeTest, RecordsThenDataInChainOrderWithoutDeadSpace)
{
    const std::vector<TestEntry> one = {{"wall", Filled(1000, 1)}};
    const std::vector<TestEntry> three = {
        {"a", Filled(300, 2), 2, RC_LZSS}, {"b", Filled(50, 3), 5, RC_NONE}, {"c", Filled(7, 4), 2, RC_LZSS}};
    // The chain of a two-entry package turned around: it starts at the second record.
    Bytes reversed = MakePackageBytes({three[0], three[1]});
    const int32_t secondRecord = 20 + 88 + 300;
    SetI32(reversed, 16, secondRecord);
    SetI32(reversed, secondRecord + kRecordNextOffset, 20);
    SetI32(reversed, 20 + kRecordNextOffset, -1);
    reversed[20 + 2] = 'x';  // after the name's terminator: carried over as it is
    struct Case {
        const char* what;
        Bytes package;
        std::vector<TestEntry> chain;
        size_t compactedSize;
    } cases[] = {
        {"one entry", MakePackageBytes(one), one, 1108},
        {"three entries with dead space", MakePackageBytes(three, 40), three, 284 + 357},
        {"chain starting at the last record", reversed, {three[1], three[0]}, 196 + 350},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(path, c.package);
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_READ), 1);
        ASSERT_EQ(package.mfOptimize(0), 1);
        const Bytes out = ReadFileBytes(path);
        ASSERT_EQ(out.size(), c.compactedSize);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), Bytes(c.package.begin(), c.package.begin() + 8));
        EXPECT_EQ(GetI32(out, 8), 1);  // compactFlag
        EXPECT_EQ(GetI32(out, 12), static_cast<int32_t>(c.chain.size()));
        EXPECT_EQ(GetI32(out, 16), 20);
        int32_t dataAt = static_cast<int32_t>(20 + 88 * c.chain.size());
        for (size_t i = 0; i < c.chain.size(); ++i) {
            const TestEntry& entry = c.chain[i];
            const size_t record = 20 + 88 * i;
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[record])), entry.name);
            EXPECT_EQ(GetI32(out, record + 64), static_cast<int32_t>(entry.data.size()));
            EXPECT_EQ(GetI32(out, record + 68), dataAt);
            EXPECT_EQ(GetI32(out, record + kRecordNextOffset), i + 1 < c.chain.size() ? static_cast<int32_t>(record + 88) : -1);
            EXPECT_EQ(GetI32(out, record + 76), i > 0 ? static_cast<int32_t>(record - 88) : -1);
            EXPECT_EQ(GetI32(out, record + 80), entry.type);
            EXPECT_EQ(GetI32(out, record + 84), entry.method);
            EXPECT_EQ(Bytes(out.begin() + dataAt, out.begin() + dataAt + entry.data.size()), entry.data);
            EXPECT_EQ(package.mfGetEntry(static_cast<int32_t>(i)).offset, dataAt);  // directory reloaded
            dataAt += static_cast<int32_t>(entry.data.size());
        }
        EXPECT_EQ(Names(scratch.path()), std::vector<std::string>{"p.mtx"});  // no staging file left

        ASSERT_EQ(package.mfOptimize(0), 1);
        EXPECT_EQ(ReadFileBytes(path), out);  // compacting again changes nothing
    }
    EXPECT_EQ(ReadFileBytes(path)[20 + 88 + 2], 'x');
}

TEST_F(OptimizeTest, FlushedPackedEntriesLoseTheirDeadSpaceAndReadBack)
{
    std::vector<Bytes> contents;
    for (size_t size : {5000, 3000, 1, 200}) {
        contents.emplace_back(size);
        for (size_t i = 0; i < size; ++i)
            contents.back()[i] = static_cast<uint8_t>(i / 100);  // runs that pack well
    }
    {
        CResFile writer(path.c_str());
        ASSERT_EQ(writer.Open(RA_WRITE | RA_CREATE), 1);
        for (size_t i = 0; i < contents.size(); ++i) {
            DirEntry entry{};
            std::snprintf(entry.name, sizeof entry.name, "entry%zu", i);
            entry.size = static_cast<int32_t>(contents[i].size());
            entry.type = RT_TEXTURE;
            entry.method = RC_LZSS;
            entry.data = contents[i].data();
            ASSERT_EQ(writer.mfFileAdd(&entry), static_cast<int32_t>(i + 1));
        }
        ASSERT_EQ(writer.mfFlush(), 1);
    }
    const int64_t flushedSize = static_cast<int64_t>(ReadFileBytes(path).size());

    CResFile package(path.c_str());
    ASSERT_EQ(package.Open(RA_READ), 1);
    ASSERT_EQ(package.mfOptimize(0), 1);
    int64_t storedTotal = 0;
    for (int32_t i = 0; i < package.mfGetCount(); ++i) {
        storedTotal += package.mfGetEntry(i).size;
        Bytes back(contents[static_cast<size_t>(i)].size());
        EXPECT_EQ(package.mfFileRead(i, back.data(), static_cast<int64_t>(back.size())),
                  static_cast<int32_t>(back.size()));
        EXPECT_EQ(back, contents[static_cast<size_t>(i)]);
    }
    const int64_t compactedSize = static_cast<int64_t>(ReadFileBytes(path).size());
    EXPECT_EQ(compactedSize, 20 + 88 * 4 + storedTotal);
    EXPECT_LT(compactedSize, flushedSize - 5000);  // the gaps behind the packed runs are gone
}

#ifndef _WIN32  // permission bits and inode numbers are POSIX's

TEST_F(OptimizeTest, PermissionBitsSurviveAndReadOnlyPackagesAreLeftAlone)
{
    const Bytes package = MakePackageBytes({{"a", Filled(10, 1), 2, RC_LZSS}, {"b", Filled(10, 2)}}, 5);
    for (mode_t mode : {0600, 0640, 0755, 0444, 0400}) {
        const bool readOnly = (mode & 0222) == 0;
        WriteFileBytes(path, package);
        chmod(path.c_str(), mode);
        struct stat before {};
        stat(path.c_str(), &before);
        ASSERT_EQ(Optimize(path), readOnly ? "CResFile::mfOptimize - Resource file <" + path + "> is read-only" : "");
        struct stat after {};
        stat(path.c_str(), &after);
        EXPECT_EQ(after.st_mode & 07777, mode);
        EXPECT_EQ(after.st_ino == before.st_ino, readOnly) << std::oct << mode;
        EXPECT_EQ(ReadFileBytes(path) == package, readOnly) << std::oct << mode;
    }
}

#endif

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
        uint64_t sizeLimit;             // 0: none
        std::string error;
    } cases[] = {
        {"staging name taken by a directory", good, [] { std::filesystem::create_directory("_Temp"); }, 0,
         "CResFile::mfOptimize - Can't create resource file <Temp>"},
        {"entry data beyond the end", beyondEnd, [] {}, 0,
         "CResFile::mfOptimize - Error read data in resource file " + quoted},
#ifndef _WIN32  // a full disk comes from a file-size limit
        {"disk full while staging", good, [] {}, 1000, "CResFile::mfOptimize - Error write resource file <Temp>"},
#endif
        {"record cut off after opening", good, [&] { std::filesystem::resize_file(path, 150); }, 0,
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
#ifndef _WIN32
            std::unique_ptr<FileSizeLimit> limit;
            if (c.sizeLimit)
                limit = std::make_unique<FileSizeLimit>(c.sizeLimit);
#endif
            EXPECT_EQ(package.mfOptimize(0), 0);
        }
        EXPECT_STREQ(package.mfGetError(), c.error.c_str());
        EXPECT_EQ(ReadFileBytes(path), before);
        EXPECT_EQ(package.mfGetCount(), 2);  // the handle keeps the old directory
        std::filesystem::remove("_Temp");
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

#ifndef _WIN32  // symbolic links and file-size limits are POSIX's

TEST(ReplaceFile, LinkedTargetStaysALinkToTheNewContents)
{
    ScratchDir scratch;
    WriteFileBytes(scratch / "target", ToBytes("old contents"));
    WriteFileBytes(scratch / "source", ToBytes("new"));
    ASSERT_EQ(symlink("target", (scratch / "link").c_str()), 0);
    std::string error;
    ASSERT_TRUE(ReplaceFileFrom(scratch / "link", scratch / "source", error)) << error;
    EXPECT_EQ(ReadFileText(scratch / "link"), "new");
    struct stat info {};
    lstat((scratch / "link").c_str(), &info);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
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

#endif

}  // namespace
