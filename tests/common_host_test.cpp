// Byte readers and writers, string rules, the banner and fatal exit, and the host layer.
#include "common/Banner.h"
#include "common/ByteReader.h"
#include "common/ByteWriter.h"
#include "common/FatalError.h"
#include "common/StringUtil.h"
#include "host/AskYesNo.h"
#include "host/DirectorySearch.h"
#include "host/FileIO.h"
#include "host/MakeDirectory.h"
#include "host/ReplaceFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

TEST(ByteReaderWriter, RandomFieldsRoundTripInLittleEndian)
{
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::pair<size_t, uint32_t>> fields;  // width in bytes, a full 32-bit value
        Bytes expected;
        for (int i = 0; i < 8; ++i) {
            fields.push_back({size_t{1} << (random() % 3), static_cast<uint32_t>(random())});
            for (size_t b = 0; b < fields.back().first; ++b)
                expected.push_back(static_cast<uint8_t>(fields.back().second >> (8 * b)));
        }
        Bytes written(expected.size()), put(expected.size());
        ByteWriter writer(written.data(), written.size());
        ByteReader reader(expected.data(), expected.size());
        size_t at = 0;
        for (const auto& [width, value] : fields) {
            uint32_t got = 0;
            if (width == 1) { writer.u8(value); put[at] = static_cast<uint8_t>(value); got = reader.u8(); }
            if (width == 2) { writer.u16(value); PutU16(&put[at], value); got = reader.u16(); }
            if (width == 4) { writer.i32(static_cast<int32_t>(value)); PutU32(&put[at], value); got = static_cast<uint32_t>(reader.i32());
                EXPECT_EQ(GetU32(&expected[at]), value); }
            ASSERT_EQ(got, value & (width == 4 ? ~0u : (1u << (8 * width)) - 1)) << "width " << width;
            at += width;
        }
        EXPECT_TRUE(writer.ok());
        EXPECT_EQ(writer.position(), expected.size());
        EXPECT_EQ(written, expected);
        EXPECT_EQ(put, expected);
        EXPECT_TRUE(reader.ok());
        EXPECT_EQ(reader.remaining(), 0u);
    }
}

TEST(ByteReaderWriter, OverrunFailsWholeLeavesThePositionAndSticks)
{
    const uint8_t data[6] = {1, 2, 3, 4, 0xFE, 0xFF};
    ByteReader reader(data, sizeof data);
    EXPECT_EQ(reader.i32(), 0x04030201);
    EXPECT_EQ(reader.u16(), 0xFFFEu);  // exactly to the end
    uint8_t out[4] = {};
    EXPECT_TRUE(reader.ok() && reader.take(0) && reader.seek(6) && reader.seek(1) && reader.skip(1) && reader.read(out, 3));
    EXPECT_EQ(std::memcmp(out, data + 2, 3), 0);
    EXPECT_EQ(reader.u32(), 0u);  // one byte short: nothing taken
    EXPECT_FALSE(reader.ok());
    EXPECT_EQ(reader.position(), 5u);
    EXPECT_EQ(reader.u8(), 0u);  // a failed reader stays failed
    EXPECT_EQ(ByteReader(data, 6).seek(7), false);

    uint8_t bytes[8] = {};
    ByteWriter writer(bytes, sizeof bytes);
    const uint8_t three[3] = {7, 8, 9};
    writer.u16(0x0201);
    writer.bytes(three, 3);
    writer.zeros(1);
    EXPECT_TRUE(writer.ok());
    writer.u32(0xAAAAAAAA);  // one byte too many: nothing of it is written
    EXPECT_FALSE(writer.ok());
    EXPECT_EQ(writer.position(), 6u);
    writer.seek(0);
    writer.u8(0x55);
    EXPECT_EQ(Bytes(bytes, bytes + 8), (Bytes{1, 2, 7, 8, 9, 0, 0, 0}));
    ByteWriter seeking(bytes, sizeof bytes);
    seeking.seek(8);
    seeking.zeros(0);
    EXPECT_TRUE(seeking.ok());
    seeking.seek(9);
    EXPECT_FALSE(seeking.ok());
}

TEST(StringUtil, ExtensionsAndCaseFolding)
{
    const struct { const char *in, *stripped, *defaulted; } cases[] = {
        {"a.b.c", "a", "a.b.c"},         {"../x.y", "../x", "../x.y"}, {"walls", "walls", "walls.mtx"},
        {"a.", "a", "a."},               {".", "", "..mtx"},               {"..\\x.y", "..\\x", "..\\x.y"},
        {"./a/b.c", "./a/b", "./a/b.c"}, {"", "", ".mtx"},             {"dir.d/pak", "dir", "dir.d/pak.mtx"},
        {".pak", "", ".pak.mtx"},        {"x/.", "x/", "x/."},         {"d.x\\pak", "d", "d.x\\pak"},
    };
    for (const auto& c : cases) {
        char buffer[64];
        std::strcpy(buffer, c.in);
        StripExtension(buffer, buffer);
        EXPECT_STREQ(buffer, c.stripped) << c.in;
        EXPECT_EQ(StripExtension(std::string(c.in)), c.stripped) << c.in;
        std::strcpy(buffer, c.in);
        AddDefaultExtension(buffer, ".mtx");
        EXPECT_STREQ(buffer, c.defaulted) << c.in;
        EXPECT_EQ(AddDefaultExtension(std::string(c.in), ".mtx"), c.defaulted) << c.in;
    }
    for (int c = 0; c < 256; ++c)
        ASSERT_EQ(FoldAsciiCase(static_cast<char>(c)), static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c)) << c;
    const struct { const char *a, *b; bool equal; } pairs[] = {
        {"Walls.MTX", "wALLS.mtx", true}, {"", "", true},  {"ab", "abc", false}, {"abc", "ab", false},
        {"abc", "abd", false},            {"@[", "`{", false}, {"\xC4", "\xE4", false},
    };
    for (const auto& p : pairs)
        EXPECT_EQ(EqualsIgnoringCase(p.a, p.b), p.equal) << p.a << " vs " << p.b;
}

TEST(BannerAndFatalError, PrintTheirTexts)
{
    testing::internal::CaptureStdout();
    PrintBanner("Title v1");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("Title v1") + kMakerNotice + "\n \n");
    EXPECT_EXIT(FatalError("bad %d", 7), testing::ExitedWithCode(1), "");
}

TEST(WildcardMatch, StarQuestionMarkDotStarAndCase)
{
    const struct { const char *pattern, *name; bool matches; } cases[] = {
        {"*", "any.thing", true},   {"*", "", true},          {"", "", true},          {"", "a", false},
        {"*.*", "noext", true},     {".*", "", true},         {"a.*", "a", true},      {"a.*", "ab", false},
        {"*.mtx", "W.MTX", true},   {"*.mtx", "w.mtx.bak", false}, {"*.mtx", "w.mt", false}, {"?", "", false},
        {"?alls", "walls", true},   {"?alls", "alls", false}, {"a?c", "ac", false},    {"a?", "a.", true},
        {"a*b*c", "aXXbYYbc", true}, {"*ab", "aab", true},    {"a*b", "ab", true},     {"walls", "walls2", false},
        {"w*s", "walls.mtx", false}, {"[x]", "[x]", true},    {"@[", "`{", false},     {"\xC4", "\xE4", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
    const struct { const char *pattern, *posix, *windows; } splits[] = {
        {"*.mtx", "", ""}, {"a/b\\c*", "a/", "a/b\\"}, {"C:x*", "", "C:"}, {"C:\\x\\y*", "", "C:\\x\\"}, {"1:x", "", ""},
    };
    for (const auto& s : splits)
        EXPECT_EQ(PatternDirectory(s.pattern), kWindowsHost ? s.windows : s.posix) << s.pattern;
}

// Every match in order: "/" marks a directory, "@" a link, "!" neither file nor directory.
static std::vector<std::string> Listing(DirectorySearch& search, const std::string& pattern)
{
    std::vector<std::string> names;
    if (!search.Start(pattern))
        names.push_back("<unreadable>");
    for (FoundFile found; search.Next(found);)
        names.push_back(found.name + (found.isDirectory ? "/" : "") + (found.isSymlink ? "@" : "") +
                        (found.isDirectory || found.isRegular ? "" : "!"));
    return names;
}

TEST(DirectorySearch, PatternsListMatchesSortedWithoutCase)
{
    ScratchDir dir;
    for (const char* name : {"b.mtx", "a.mtx", "C.MTX", "ab.mtx", ".hidden.mtx", "note.txt", "_x.mtx", "noext", "a"})
        WriteFileBytes(dir / name, ToBytes("x"));
    fs::create_directory(dir / "sub.mtx");
    WriteFileBytes(dir / "sub.mtx/in.tga", ToBytes("x"));
    using Names = std::vector<std::string>;
    const struct { const char* pattern; Names names; } cases[] = {
        {"*.mtx", {".hidden.mtx", "_x.mtx", "a.mtx", "ab.mtx", "b.mtx", "C.MTX", "sub.mtx/"}},
        {"*.*", {".hidden.mtx", "_x.mtx", "a", "a.mtx", "ab.mtx", "b.mtx", "C.MTX", "noext", "note.txt", "sub.mtx/"}},
        {"?.MTX", {"a.mtx", "b.mtx", "C.MTX"}}, {"A*", {"a", "a.mtx", "ab.mtx"}}, {"noext.*", {"noext"}},
        {"zz*", {}}, {"sub.mtx/*", {"in.tga"}}, {"missing/*", {"<unreadable>"}}, {"note.txt/*", {"<unreadable>"}},
    };
    DirectorySearch search;  // one search for all: every Start begins afresh
    for (const auto& c : cases)
        EXPECT_EQ(Listing(search, dir / c.pattern), c.names) << c.pattern;
    EXPECT_EQ(Listing(search, dir / "sub.mtx/*"), Names{"in.tga"});
    EXPECT_EQ(search.directory(), dir / "sub.mtx/");
    WorkingDirectory inside(dir.path());
    EXPECT_EQ(Listing(search, "n*"), (Names{"noext", "note.txt"}));
    EXPECT_EQ(search.directory(), "");
}

#ifndef _WIN32  // fifos, symbolic links, raw byte names and names differing in case only
TEST(DirectorySearch, TellsEveryKindOfName)
{
    ScratchDir dir;
    for (const char* name : {"file", "File", "\xC3\xA9"})  // a tie without case: the bytes decide
        WriteFileBytes(dir / name, ToBytes("x"));
    fs::create_directory(dir / "folder");
    ASSERT_TRUE(MakeFifo(dir / "pipe"));
    for (const char* target : {"file", "folder", "pipe", "nothing"})
        ASSERT_EQ(symlink(target, (dir / ("to-" + std::string(target))).c_str()), 0);
    DirectorySearch search;
    EXPECT_EQ(Listing(search, dir / "*"), (std::vector<std::string>{"File", "file", "folder/", "pipe!", "to-file@",
                                                                     "to-folder/@", "to-nothing@!", "to-pipe@!", "\xC3\xA9"}));
}
#endif

TEST(FileIO, PositionedWritesAndReadsReachTheFileExactly)
{
    ScratchDir dir;
    std::FILE* file = std::fopen((dir / "f").c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    Bytes source(3000), expected{0, 0, 0};
    std::vector<ByteSpan> spans;  // more pieces than one system call takes, some empty
    for (size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<uint8_t>(i * 7 + i / 256);
        spans.push_back({&source[i], i % 3 ? 1u : 0u});
        if (i % 3)
            expected.push_back(source[i]);
    }
    EXPECT_EQ(WriteAt(file, 3, spans.data(), spans.size()), 2000u);
    EXPECT_EQ(WriteAt(file, -1, spans.data(), spans.size()), 0u);
    EXPECT_EQ(FileLength(file), 2003);
    Bytes back(2003, 0xEE);
    EXPECT_TRUE(ReadAt(file, 0, back.data(), 2003) && back == expected);
    EXPECT_TRUE(ReadAt(file, 2000, back.data(), 3) && ReadAt(file, 2003, back.data(), 0));
    EXPECT_FALSE(ReadAt(file, 2000, back.data(), 4) || ReadAt(file, -1, back.data(), 1) || ReadAt(nullptr, 0, back.data(), 1));
    EXPECT_EQ(FileLength(nullptr), -1);
#ifndef _WIN32
    {
        FileSizeLimit limit(2008);  // the second span is cut short like on a full disk
        const ByteSpan two[] = {{"abc", 3}, {"defg", 4}};
        EXPECT_EQ(WriteAt(file, 2002, two, 2), 6u);
    }
    expected.resize(2002);
    for (char c : std::string("abcdef"))
        expected.push_back(static_cast<uint8_t>(c));
#endif
    std::fclose(file);
    EXPECT_EQ(ReadFileBytes(dir / "f"), expected);
}

TEST(FileIO, WholeFilesWritabilityAndRemoval)
{
    ScratchDir dir;
    WriteFileBytes(dir / "f", {1, 2, 3});
    WriteFileBytes(dir / "empty", {});
    fs::create_directory(dir / "folder");
    const bool fifo = MakeFifo(dir / "pipe");
    const struct { const char* name; size_t maxSize; const char* error; } cases[] = {
        {"f", 3, nullptr}, {"empty", 0, nullptr}, {"f", 2, "file too large"},
        {"missing", 9, "No such file or directory"}, {"folder", 9, "not a regular file"}, {"pipe", 9, "not a regular file"},
    };
    for (const auto& c : cases) {
        if (std::string(c.name) == "pipe" && !fifo)
            continue;
        FileBytes bytes;
        std::string errorText;
        const bool read = ReadWholeFile(dir / c.name, c.maxSize, bytes, errorText);
        EXPECT_EQ(read, !c.error) << c.name;
        if (read)
            EXPECT_EQ(Bytes(bytes.data.get(), bytes.data.get() + bytes.size), ReadFileBytes(dir / c.name));
        else if (std::strcmp(c.error, "file too large") == 0)
            EXPECT_EQ(errorText, c.error);  // the project's own text on every host
        else
            EXPECT_TRUE(IsHostError(errorText, "", c.error)) << c.name;
    }
    EXPECT_TRUE(IsWritableFile(dir / "f"));
    EXPECT_FALSE(IsWritableFile(dir / "missing"));
    fs::permissions(dir / "f", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(IsWritableFile(dir / "f"));  // also for a user whom the system lets write it
    fs::permissions(dir / "f", fs::perms::owner_write, fs::perm_options::add);
    std::string errorText;
    EXPECT_TRUE(RemoveFile(dir / "f", errorText));
    EXPECT_FALSE(FileExists(dir / "f"));
    EXPECT_FALSE(RemoveFile(dir / "f", errorText));
    EXPECT_TRUE(IsHostError(errorText, "", "No such file or directory"));
    EXPECT_FALSE(RemoveFile(dir / "folder", errorText));
    EXPECT_TRUE(IsHostError(errorText, "", "Is a directory"));
    EXPECT_TRUE(IsDirectory(dir / "folder"));
    EXPECT_TRUE(MakeDir(dir / "new", errorText) && MakeDir(dir / "new", errorText) && IsDirectory(dir / "new"));
    EXPECT_FALSE(MakeDir(dir / "missing/new", errorText));
    EXPECT_TRUE(IsHostError(errorText, "", "No such file or directory"));
}

TEST(MoveFileOver, ReplacesTheTargetOrLeavesBothFilesAlone)
{
    ScratchDir dir;
    WriteFileBytes(dir / "target", {1, 2, 3});
    WriteFileBytes(dir / "staged", {4, 5});
    std::string errorText;
    EXPECT_FALSE(MoveFileOver(dir / "missing/target", dir / "staged", errorText));
    EXPECT_TRUE(IsHostError(errorText, "cannot examine " + (dir / "missing/target") + ": ", "No such file or directory"));
    EXPECT_FALSE(MoveFileOver(dir / "target", dir / "nothing", errorText));
    EXPECT_TRUE(IsHostError(errorText, "cannot examine " + (dir / "nothing") + ": ", "No such file or directory"));
    EXPECT_EQ(ReadFileBytes(dir / "target"), (Bytes{1, 2, 3}));
    EXPECT_EQ(ReadFileBytes(dir / "staged"), (Bytes{4, 5}));
    EXPECT_FALSE(IsSameFile(dir / "target", dir / "staged") || IsSameFile(dir / "target", dir / "nothing"));
    EXPECT_TRUE(IsSameFile(dir / "target", dir / "../" + fs::path(dir.path()).filename().string() + "/target"));
    ASSERT_TRUE(MoveFileOver(dir / "target", dir / "staged", errorText)) << errorText;
    EXPECT_EQ(ReadFileBytes(dir / "target"), (Bytes{4, 5}));
    EXPECT_FALSE(FileExists(dir / "staged"));

    WriteFileBytes(dir / "source", {6});
    EXPECT_FALSE(ReplaceFileFrom(dir / "target", dir / "nothing", errorText));
    EXPECT_TRUE(IsHostError(errorText, "cannot open " + (dir / "nothing") + ": ", "No such file or directory"));
    ASSERT_TRUE(ReplaceFileFrom(dir / "target", dir / "source", errorText) && ReplaceFileFrom(dir / "new", dir / "source", errorText));
    EXPECT_EQ(ReadFileBytes(dir / "target"), Bytes{6});
    EXPECT_EQ(ReadFileBytes(dir / "new"), Bytes{6});
    EXPECT_EQ(ReadFileBytes(dir / "source"), Bytes{6});
}

#ifndef _WIN32  // permission bits, inode numbers, links and /dev/shm
TEST(MoveFileOver, KeepsModeFollowsLinksAndCopiesAcrossFileSystems)
{
    ScratchDir dir, other("/dev/shm");
    struct stat here {}, there {}, info {};
    ASSERT_TRUE(stat(dir.path().c_str(), &here) == 0 && stat(other.path().c_str(), &there) == 0);
    ASSERT_NE(here.st_dev, there.st_dev) << "needs /dev/shm on a file system of its own";
    for (const ScratchDir* from : {&dir, &other}) {
        WriteFileBytes(dir / "target", {1, 2, 3});
        ASSERT_EQ(chmod((dir / "target").c_str(), from == &dir ? 0640 : 0604), 0);
        ASSERT_EQ(symlink("target", (dir / "link").c_str()), 0);
        WriteFileBytes(*from / "staged", {4, 5});
        ASSERT_EQ(stat((*from / "staged").c_str(), &info), 0);
        const ino_t staged = info.st_ino;
        std::string errorText;
        ASSERT_TRUE(MoveFileOver(dir / "link", *from / "staged", errorText)) << errorText;
        EXPECT_FALSE(FileExists(*from / "staged"));
        ASSERT_EQ(lstat((dir / "link").c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode));
        ASSERT_EQ(stat((dir / "target").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, from == &dir ? 0640u : 0604u);
        EXPECT_EQ(info.st_ino == staged, from == &dir);  // moved, not copied, on one file system
        EXPECT_EQ(ReadFileBytes(dir / "target"), (Bytes{4, 5}));
        EXPECT_TRUE(IsSameFile(dir / "link", dir / "target"));
        fs::remove(dir / "link");
    }
    const mode_t mask = umask(0);
    umask(mask);
    std::string errorText;
    ASSERT_TRUE(ReplaceFileFrom(dir / "fresh", dir / "target", errorText)) << errorText;
    ASSERT_EQ(stat((dir / "fresh").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0666u & ~mask);
}
#else
TEST(MoveFileOver, ReadOnlyOrHeldOpenTargetIsLeftAsItIs)
{
    ScratchDir dir;
    WriteFileBytes(dir / "target", {1, 2, 3});
    WriteFileBytes(dir / "staged", {4, 5});
    const auto writable = [&](bool on) {
        fs::permissions(dir / "target", fs::perms::owner_write, on ? fs::perm_options::add : fs::perm_options::remove);
    };
    std::string errorText;
    for (bool readOnly : {true, false}) {
        std::ifstream held;  // the C runtime shares a file it opens for reading and writing, not for deleting
        if (!readOnly)
            held.open(dir / "target");
        writable(!readOnly);
        EXPECT_FALSE(MoveFileOver(dir / "target", dir / "staged", errorText)) << readOnly;
        EXPECT_TRUE(IsHostError(errorText, "cannot rename over " + (dir / "target") + ": ", ""));
        EXPECT_EQ(ReadFileBytes(dir / "target"), (Bytes{1, 2, 3}));
    }
}
#endif

TEST(AskYesNo, OnlyAFirstNonBlankNMeansNoAndOneLineIsRead)
{
    const struct { const char* input; bool yes; const char* rest; } cases[] = {
        {"", true, ""},          {"\n", true, ""},      {"\nn\n", true, "n\n"}, {"yes\nno", true, "no"},
        {"  no\nyes", false, "yes"}, {"\tN", false, ""}, {" \t nah\n\n", false, "\n"}, {"x no\n", true, ""},
        {"-n\n", true, ""},      {"Nein", false, ""},
    };
    for (const auto& c : cases) {
        std::FILE* piped = std::tmpfile();
        ASSERT_NE(piped, nullptr);
        std::fputs(c.input, piped);
        std::rewind(piped);
        testing::internal::CaptureStderr();
        EXPECT_EQ(AskYesNo("Mtxmake", "Use shared palette", piped), c.yes) << c.input;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // no prompt when not asked on a terminal
        std::string rest;
        for (int ch; (ch = std::fgetc(piped)) != EOF;)
            rest += static_cast<char>(ch);
        EXPECT_EQ(rest, c.rest) << c.input;
        std::fclose(piped);
    }
}

#ifndef _WIN32  // terminals are POSIX's; a Windows console gets a message box
TEST(AskYesNo, TerminalGetsThePromptOnStandardError)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    std::FILE* terminal = std::fopen(ptsname(master), "r");
    ASSERT_NE(terminal, nullptr);
    ASSERT_EQ(write(master, "n\n", 2), 2);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(AskYesNo("Mtxmake", "Use shared palette", terminal));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mtxmake: Use shared palette? [Y/n] ");
    std::fclose(terminal);
    close(master);
}
#endif
