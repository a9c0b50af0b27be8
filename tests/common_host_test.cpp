// Byte readers and writers, string rules, and the host layer: wildcard search, file access, replacing files, yes/no.
#include "common/ByteReader.h"
#include "common/ByteWriter.h"
#include "common/StringUtil.h"
#include "host/AskYesNo.h"
#include "host/DirectorySearch.h"
#include "host/FileIO.h"
#include "host/MakeDirectory.h"
#include "host/StagedFile.h"
#include "support/TestSupport.h"

#include <cstring>
#include <functional>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using DirectorySearchIn = InScratchDir;  // a scratch folder to search
using HostFiles = InScratchDir;          // a scratch folder to work in
const char* const kNoSuchFile = "No such file or directory";

// u8 0x1AB, u16 0x1CDEF, u32 0x89ABCDEF, i32 -2, "xy" and two zeros, as they are stored.
const Bytes kFields = {0xAB, 0xEF, 0xCD, 0xEF, 0xCD, 0xAB, 0x89, 0xFE, 0xFF, 0xFF, 0xFF, 'x', 'y', 0, 0};

// The writer stores fields little-endian, cut to their width, and the reader gives them back.
TEST(ByteReaderWriter, FieldsAreLittleEndian)
{
    Bytes written(kFields.size(), 0xEE);
    ByteWriter writer(written.data(), written.size());
    writer.u8(0x1AB);
    writer.u16(0x1CDEF);
    writer.u32(0x89ABCDEF);
    writer.i32(-2);
    writer.bytes("xy", 2);
    writer.zeros(2);
    EXPECT_EQ(written, kFields);
    EXPECT_EQ(writer.position(), kFields.size());
    ByteReader reader(written.data(), written.size());
    EXPECT_EQ(reader.u8(), 0xAB);
    EXPECT_EQ(reader.u16(), 0xCDEF);
    EXPECT_EQ(reader.u32(), 0x89ABCDEFu);
    EXPECT_EQ(reader.i32(), -2);
    char text[2] = {};
    EXPECT_TRUE(reader.read(text, 2));
    EXPECT_EQ(std::string(text, 2), "xy");
    EXPECT_TRUE(reader.skip(2));
    EXPECT_EQ(reader.remaining(), 0u);
    EXPECT_TRUE(reader.ok());
    EXPECT_TRUE(writer.ok());
}

// Past the end writes and reads fail, and then for good: a failed write writes nothing and a failed read yields 0, as
// do those after them, even where they would fit.
TEST(ByteReaderWriter, AnOverrunFailsForGood)
{
    Bytes written(3, 0xEE);
    ByteWriter writer(written.data(), written.size());
    ByteReader reader(kFields.data(), 3);
    writer.seek(3);
    EXPECT_TRUE(writer.ok());
    EXPECT_TRUE(reader.seek(3));
    writer.seek(0);
    reader.seek(0);
    writer.u16(0x0201);
    EXPECT_EQ(reader.u16(), 0xEFAB);
    writer.bytes("xy", 2);
    writer.zeros(1);
    writer.u8(3);
    writer.seek(0);
    EXPECT_EQ(reader.u16(), 0);
    EXPECT_EQ(reader.u8(), 0);
    EXPECT_FALSE(reader.seek(0));
    EXPECT_EQ(written, (Bytes{1, 2, 0xEE}));
    EXPECT_FALSE(writer.ok());
    EXPECT_FALSE(reader.ok());
    EXPECT_EQ(writer.position(), 2u);
    EXPECT_EQ(reader.position(), 2u);
    EXPECT_EQ(reader.remaining(), 1u);
    EXPECT_FALSE(ByteReader(kFields.data(), 3).seek(4));
}

// Input, then what StripExtension and AddDefaultExtension(".mtx") make of it.
const struct { const char *in, *stripped, *defaulted; } kExtensionCases[] = {
    {"walls", "walls", "walls.mtx"}, {"../x.y", "../x", "../x.y"}, {"..\\x.y", "..\\x", "..\\x.y"},
    {"./a/b.c", "./a/b", "./a/b.c"}, {".", "", "..mtx"}, {"", "", ".mtx"}, {".pak", "", ".pak.mtx"},
    {"dir.d/pak", "dir", "dir.d/pak.mtx"}, {"x/.", "x/", "x/."}, {"d.x\\pak", "d", "d.x\\pak"},
};

TEST(StringUtil, StripExtensionCutsAtTheFirstDotBeforeAName)
{
    for (const auto& c : kExtensionCases)
        EXPECT_EQ(StripExtension(std::string(c.in)), c.stripped) << c.in;
}

TEST(StringUtil, AddDefaultExtensionAppendsUnlessTheLastNameHasADot)
{
    for (const auto& c : kExtensionCases)
        EXPECT_EQ(AddDefaultExtension(std::string(c.in), ".mtx"), c.defaulted) << c.in;
}

// Texts differ by more than case in prefixes, and in the neighbours of A to Z.
TEST(StringUtil, CaseFoldingTouchesOnlyAsciiLetters)
{
    const std::pair<char, char> folds[] = {{'A', 'a'}, {'Z', 'z'}, {'@', '@'}, {'[', '['}, {'z', 'z'},
                                           {'\xC4', '\xC4'}};
    for (const auto& [in, out] : folds)
        EXPECT_EQ(FoldAsciiCase(in), out) << in;
    EXPECT_TRUE(EqualsIgnoringCase("Ab@[\xC4", "aB@[\xC4"));
    EXPECT_TRUE(EqualsIgnoringCase("", ""));
    for (const char* other : {"ab@[", "ab@[\xC4x", "ab`[\xC4", "ab@{\xC4", "ab@[\xE4"}) {
        EXPECT_FALSE(EqualsIgnoringCase(other, "AB@[\xC4")) << other;
        EXPECT_FALSE(EqualsIgnoringCase("AB@[\xC4", other)) << other;
    }
}

TEST(DirectorySearch, WildcardsMatchWholeNamesWithoutCase)
{
    const struct { const char *pattern, *name; bool matches; } cases[] = {
        {"*", "", true}, {"", "", true}, {"", "a", false}, {"?", "", false}, {"*.m", "w.m.b", false}, {".*", "", true},
        {"a.*", "a", true}, {"a.*", "ab", false}, {"a?", "a.", true}, {"*.mtx", "w.mt", false}, {"?b", "ab", true},
        {"?ab", "ab", false}, {"a?c", "ac", false}, {"ab", "abc", false}, {"a*b*c", "aXbYbc", true},
        {"*ab", "aab", true}, {"a*b", "ab", true}, {"@[", "`{", false}, {"\xC4", "\xE4", false},
        {"w*s", "ws.m", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
}

TEST(DirectorySearch, PatternDirectoryEndsAtTheHostsLastSeparator)
{
    const struct { const char *pattern, *posix, *windows; } cases[] = {
        {"x*", "", ""}, {"a/b\\c*", "a/", "a/b\\"}, {"C:x*", "", "C:"}, {"C:\\x\\y*", "", "C:\\x\\"}, {"1:x", "", ""},
        {"a:x", "", "a:"}, {"z:x", "", "z:"}, {"A:x", "", "A:"}, {"Z:x", "", "Z:"}, {"@:x", "", ""}, {"[:x", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PatternDirectory(c.pattern), kWindowsHost ? c.windows : c.posix) << c.pattern;
}

// The matches of `pattern`, marked "@" for a link, "/" for a directory, "!" for neither a directory nor a file; or
// "?" when its directory cannot be read.
Names Listing(DirectorySearch& search, const std::string& pattern)
{
    Names names;
    if (!search.Start(pattern))
        names.push_back("?");
    for (FoundFile found; search.Next(found);) {
        const std::string name = found.name + (found.isSymlink ? "@" : "");
        names.push_back(found.isDirectory ? name + "/" : found.isRegular ? name : name + "!");
    }
    return names;
}

TEST_F(DirectorySearchIn, ListsMatchesSortedWithoutCase)
{
    const Names all = {".hidden.mtx", "_x.mtx", "a", "a.mtx", "ab.mtx", "b.mtx", "C.MTX", "noext", "note.txt",
                       "sub.mtx/"};
    const struct { const char* pattern; Names names; } cases[] = {
        {"*.*", all}, {"*.mtx", {".hidden.mtx", "_x.mtx", "a.mtx", "ab.mtx", "b.mtx", "C.MTX", "sub.mtx/"}},
        {"?.MTX", {"a.mtx", "b.mtx", "C.MTX"}}, {"A*", {"a", "a.mtx", "ab.mtx"}}, {"noext.*", {"noext"}}, {"zz*", {}},
        {"missing/*", {"?"}}, {"note.txt/*", {"?"}}, {"sub.mtx/*", {"t/"}}, {"n*", {"noext", "note.txt"}},
    };
    for (const std::string& name : Names(all.begin(), all.end() - 1))
        WriteFileBytes(name, ToBytes("x"));
    fs::create_directories("sub.mtx/t");
    DirectorySearch search;  // one search for all: every Start begins afresh
    for (const auto& c : cases)
        EXPECT_EQ(Listing(search, c.pattern), c.names) << c.pattern;
}

#ifndef _WIN32  // fifos, symbolic links, raw byte names and names differing in case only
TEST_F(DirectorySearchIn, TellsTheKindOfEveryMatch)
{
    ASSERT_TRUE(fs::create_directory("folder"));
    ASSERT_TRUE(MakeFifo("pipe"));
    for (const std::string target : {"file", "folder", "pipe", "no"})
        fs::create_symlink(target, "to-" + target);
    for (const char* name : {"file", "File", "\xC3\xA9"})  // a tie without case: the bytes decide
        WriteFileBytes(name, ToBytes("x"));
    DirectorySearch search;
    const Names expected = {"File", "file", "folder/", "pipe!", "to-file@", "to-folder@/", "to-no@!", "to-pipe@!",
                            "\xC3\xA9"};
    EXPECT_EQ(Listing(search, "*"), expected);
}
#endif

const ByteSpan kSpans[] = {{"ab", 2}, {"", 0}, {"cde", 3}, {"fghi", 4}};
using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// More spans than one system call takes, empty ones among them.
TEST_F(HostFiles, WriteAtGathersEverySpanAtTheOffset)
{
    const File file(std::fopen("f", "w+b"), std::fclose);
    std::vector<ByteSpan> spans(3000, ByteSpan{"x", 1});
    spans.insert(spans.begin(), std::begin(kSpans), std::end(kSpans));
    ASSERT_EQ(WriteAt(file.get(), 3, spans.data(), spans.size()), 3009u);
    ASSERT_EQ(WriteAt(file.get(), 0, kSpans + 3, 1), 4u);
    EXPECT_EQ(FileLength(file.get()), 3012);
    std::string back(14, '\0');
    EXPECT_TRUE(ReadAt(file.get(), 0, back.data(), back.size()));
    EXPECT_EQ(back, "fghibcdefghixx");
}

TEST_F(HostFiles, PositionedCallsRefuseWhatLiesOutsideTheFile)
{
    const File file(std::fopen("f", "w+b"), std::fclose);
    ASSERT_EQ(WriteAt(file.get(), 0, kSpans, 4), 9u);
    char back[4];
    EXPECT_FALSE(ReadAt(file.get(), 6, back, 4));
    EXPECT_FALSE(ReadAt(file.get(), -1, back, 1));
    EXPECT_FALSE(ReadAt(nullptr, 0, back, 1));
    EXPECT_EQ(WriteAt(file.get(), -1, kSpans, 1), 0u);
    EXPECT_EQ(WriteAt(nullptr, 0, kSpans, 1), 0u);
    EXPECT_EQ(FileLength(nullptr), -1);
}

// No reason: the file is read whole. The tool's own reasons are the same text on every host.
TEST_F(HostFiles, ReadWholeFileReadsOnlyRegularFilesUpToTheLimit)
{
    WriteFileBytes("f", ToBytes("twelve bytes"));
    WriteFileBytes("empty", {});
    fs::create_directory("sub");
    const struct { const char *name, *file; size_t limit; const char* reason; bool own = false; } cases[] = {
        {"as long as the limit", "f", 12, nullptr}, {"empty", "empty", 0, nullptr},
        {"longer than the limit", "f", 11, "file too large", true}, {"missing", "missing", 99, kNoSuchFile},
        {"a folder", "sub", 99, "not a regular file"},
        {"a fifo, which would block", MakeFifo("pipe") ? "pipe" : "sub", 99, "not a regular file"},
    };
    for (const auto& c : cases) {
        FileBytes got;
        EXPECT_EQ(ReadWholeFile(c.file, c.limit, got, m_error), c.reason == nullptr) << c.name;
        if (!c.reason)
            EXPECT_EQ(Bytes(got.data.get(), got.data.get() + got.size), ReadFileBytes(c.file)) << c.name;
        else if (c.own)
            EXPECT_EQ(m_error, c.reason) << c.name;
        else
            EXPECT_TRUE(IsHostError(m_error, "", c.reason)) << c.name;
    }
}

// Each call in turn: success, or failure with the host's reason. A file without write bits is read-only also for a
// user the system lets write it; a folder is never removed.
TEST_F(HostFiles, CallsSucceedOrGiveTheHostsReason)
{
    WriteFileBytes("f", {1});
    WriteFileBytes("locked", {1});
    fs::permissions("locked", fs::perms::all, fs::perm_options::remove);
    const struct { const char* name; std::function<bool()> call; const char* reason; } cases[] = {
        {"make a folder", [&] { return MakeDir("sub", m_error); }, nullptr},
        {"make it again", [&] { return MakeDir("sub", m_error); }, nullptr},
        {"make one in a missing folder", [&] { return MakeDir("no/sub", m_error); }, kNoSuchFile},
        {"a writable file", [&] { return IsWritableFile("f", m_error); }, nullptr},
        {"a missing file to write", [&] { return IsWritableFile("missing", m_error); }, kNoSuchFile},
        {"a file without write bits", [&] { return IsWritableFile("locked", m_error); }, "Permission denied"},
        {"remove a file", [&] { return RemoveFile("f", m_error); }, nullptr},
        {"remove it again", [&] { return RemoveFile("f", m_error); }, kNoSuchFile},
        {"remove a folder", [&] { return RemoveFile("sub", m_error); }, "Is a directory"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), c.reason == nullptr) << c.name;
        if (c.reason) {
            EXPECT_TRUE(IsHostError(m_error, "", c.reason)) << c.name;
        }
    }
    EXPECT_TRUE(IsFolder("sub"));
    EXPECT_FALSE(FileExists("f"));
}

// A stream that reads `text`.
File Piped(const std::string& text)
{
    File stream(std::tmpfile(), std::fclose);
    EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), stream.get()), text.size());
    std::rewind(stream.get());
    return stream;
}

// One line is read; only a first non-blank 'n' or 'N' means no. Nothing is shown when the answer comes from a pipe.
TEST(AskYesNo, ReadsOneLineWhereOnlyALeadingNMeansNo)
{
    const struct { const char *input; bool yes; const char* rest; } cases[] = {
        {"", true, ""}, {"\n", true, ""}, {"\nn\n", true, "n\n"}, {"yes\nno", true, "no"}, {"  no\nyes", false, "yes"},
        {"\tN", false, ""}, {" \t nah\n\n", false, "\n"}, {"x no\n", true, ""}, {"-n\n", true, ""},
    };
    testing::internal::CaptureStderr();
    for (const auto& c : cases) {
        const auto piped = Piped(c.input);
        EXPECT_EQ(AskYesNo("Mtxmake", "Use shared palette", "", piped.get()), c.yes) << c.input;
        char rest[8] = {};
        EXPECT_EQ(std::fread(rest, 1, sizeof rest - 1, piped.get()), std::strlen(c.rest)) << c.input;
        EXPECT_STREQ(rest, c.rest) << c.input;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Staged replacement: the target holds its old bytes or its new ones, never anything else.
class StagedFile : public InScratchDir {
protected:
    // A staging file "staged" holding `bytes`, still open.
    std::FILE* Staged(const Bytes& bytes)
    {
        std::FILE* stream = CreateStagingFile("staged", m_error);
        EXPECT_NE(stream, nullptr) << m_error;
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
        return stream;
    }
};

TEST_F(StagedFile, AFailedMoveLeavesOnlyTheTarget)
{
    fs::create_directories("target/inside");  // no file can be renamed over a folder that holds something
    EXPECT_FALSE(MoveStagedOver(Staged({4, 5}), "staged", "target", m_error));
    EXPECT_TRUE(IsHostError(m_error, "cannot rename over target: ", "Is a directory"));
    EXPECT_TRUE(IsFolder("target/inside"));
    EXPECT_FALSE(FileExists("staged"));
}

TEST_F(StagedFile, OnlyALeftoverIsRemovedNeverAFileStillBeingWritten)
{
    std::FILE* live = Staged({1});
    RemoveStagingLeftover("staged");
    EXPECT_TRUE(FileExists("staged"));
    DiscardStagingFile(live, "staged");
    EXPECT_FALSE(FileExists("staged"));
    WriteFileBytes("left", {2});
    RemoveStagingLeftover("left");
    EXPECT_FALSE(FileExists("left"));
}

#ifndef _WIN32  // permission bits and symbolic links
TEST_F(StagedFile, TheNewFileGetsTheTargetsPermissionBits)
{
    WriteFileBytes("target", {1});
    ASSERT_EQ(chmod("target", 0751), 0);
    ASSERT_TRUE(MoveStagedOver(Staged({2}), "staged", "target", m_error)) << m_error;
    struct stat info {};
    ASSERT_EQ(stat("target", &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0751u);
}

TEST_F(StagedFile, LinksResolveToTheFileTheyName)
{
    WriteFileBytes("target", {1});
    ASSERT_EQ(symlink("target", "link"), 0);
    EXPECT_EQ(fs::path(ResolveLinks("link")).filename(), "target");
    EXPECT_EQ(ResolveLinks("target"), "target");
}
#endif

}  // namespace
