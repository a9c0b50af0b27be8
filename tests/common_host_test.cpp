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
#include <random>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
static const char* const kNoSuchFile = "No such file or directory";

TEST(ByteReaderWriter, RandomFieldsRoundTripAndAnOverrunFailsWholeAndSticks)
{
    std::mt19937 random(11);
    for (int round = 0; round < 400; ++round) {
        std::vector<std::pair<size_t, uint32_t>> fields;  // width in bytes, a full 32-bit value
        Bytes expected;
        for (int i = 0; i < 8; ++i) {
            fields.push_back({size_t{1} << (random() % 3), static_cast<uint32_t>(random())});
            for (size_t b = 0; b < fields.back().first; ++b)
                expected.push_back(static_cast<uint8_t>(fields.back().second >> (8 * b)));
        }
        const size_t size = expected.size() - random() % 4;  // mostly a few bytes short
        Bytes written(expected.size(), 0xEE);
        ByteWriter writer(written.data(), size);
        ByteReader reader(expected.data(), size);
        size_t at = 0, good = 0;  // fields after a failed one fail too, though they would fit
        for (const auto& [width, value] : fields) {
            const bool fits = at == good && at + width <= size;
            const uint32_t got = width < 2 ? reader.u8() : width < 4 ? reader.u16() : uint32_t(reader.i32());
            width < 2 ? writer.u8(value) : width < 4 ? writer.u16(value) : writer.u32(value);
            ASSERT_EQ(got, fits ? value & uint32_t(~0ull >> (64 - 8 * width)) : 0) << "width " << width;
            good += fits ? width : 0, at += width;
        }
        expected.resize(good), expected.resize(written.size(), 0xEE);  // failed writes write nothing
        EXPECT_TRUE(writer.position() == good && reader.position() == good && reader.remaining() == size - good);
        writer.seek(size);  // the very end is a position, unless the writer has failed
        EXPECT_TRUE(writer.ok() == (good == at) && reader.seek(size) == (good == at) && reader.ok() == (good == at));
        EXPECT_TRUE((writer.seek(size + 1), !writer.ok()) && written == expected);
    }
}

TEST(Names, ExtensionRulesCaseFoldingWildcardsAndListingsSortedWithoutCase)
{
    const struct { const char *in, *stripped, *defaulted; } cases[] = {
        {"../x.y", "../x", "../x.y"}, {"walls", "walls", "walls.mtx"}, {".", "", "..mtx"},
        {"..\\x.y", "..\\x", "..\\x.y"}, {"", "", ".mtx"}, {"dir.d/pak", "dir", "dir.d/pak.mtx"},
        {".pak", "", ".pak.mtx"}, {"x/.", "x/", "x/."}, {"d.x\\pak", "d", "d.x\\pak"}, {"./a/b.c", "./a/b", "./a/b.c"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StripExtension(c.in), c.stripped) << c.in;
        EXPECT_EQ(AddDefaultExtension(c.in, ".mtx"), c.defaulted) << c.in;
    }
    for (int c = 0; c < 256; ++c)
        ASSERT_EQ(FoldAsciiCase(static_cast<char>(c)), static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c)) << c;
    EXPECT_TRUE(EqualsIgnoringCase("Ab@[\xC4", "aB@[\xC4") && EqualsIgnoringCase("", ""));
    for (const char* other : {"ab@[", "ab@[\xC4x", "ab`[\xC4", "ab@{\xC4", "ab@[\xE4"})  // prefixes, neighbours of A-Z
        EXPECT_FALSE(EqualsIgnoringCase(other, "AB@[\xC4") || EqualsIgnoringCase("AB@[\xC4", other)) << other;
    const struct { const char *pattern, *name; bool matches; } matches[] = {
        {"*", "", true}, {"", "", true}, {"", "a", false}, {"?", "", false}, {"*.m", "w.m.b", false}, {".*", "", true},
        {"a.*", "a", true}, {"a.*", "ab", false}, {"a?", "a.", true}, {"*.mtx", "w.mt", false}, {"?b", "ab", true},
        {"?ab", "ab", false}, {"a?c", "ac", false}, {"ab", "abc", false}, {"a*b*c", "aXbYbc", true},
        {"*ab", "aab", true}, {"a*b", "ab", true}, {"@[", "`{", false}, {"\xC4", "\xE4", false}, {"w*s", "ws.m", false},
    };
    for (const auto& m : matches)
        EXPECT_EQ(WildcardMatch(m.pattern, m.name), m.matches) << m.pattern << " vs " << m.name;
    const struct { const char *pattern, *posix, *windows; } splits[] = {
        {"x*", "", ""}, {"a/b\\c*", "a/", "a/b\\"}, {"C:x*", "", "C:"}, {"C:\\x\\y*", "", "C:\\x\\"}, {"1:x", "", ""},
    };
    for (const auto& s : splits)
        EXPECT_EQ(PatternDirectory(s.pattern), kWindowsHost ? s.windows : s.posix) << s.pattern;
    const auto Listing = [](const std::string& pattern) {  // "@" a link, "/" a directory, "!" neither a file
        static DirectorySearch search;  // one search for all: every Start begins afresh
        Names names(search.Start(pattern) ? 0 : 1, "?");  // the directory cannot be read
        for (FoundFile f; search.Next(f);)
            names.push_back(f.name + (f.isSymlink ? "@" : "") + (f.isDirectory ? "/" : f.isRegular ? "" : "!"));
        return names;
    };
    const struct { const char* pattern; Names names; } listings[] = {
        {"*.*", {".hidden.mtx", "_x.mtx", "a", "a.mtx", "ab.mtx", "b.mtx", "C.MTX", "noext", "note.txt", "sub.mtx/"}},
        {"*.mtx", {".hidden.mtx", "_x.mtx", "a.mtx", "ab.mtx", "b.mtx", "C.MTX", "sub.mtx/"}},
        {"?.MTX", {"a.mtx", "b.mtx", "C.MTX"}}, {"A*", {"a", "a.mtx", "ab.mtx"}}, {"noext.*", {"noext"}}, {"zz*", {}},
        {"missing/*", {"?"}}, {"note.txt/*", {"?"}}, {"sub.mtx/*", {"t/"}}, {"n*", {"noext", "note.txt"}},
    };
    ScratchDir dir;
    WorkingDirectory inside(dir.path());
    for (const std::string& name : listings[0].names)  // "*.*" lists them all; the folder holds one more
        name.back() == '/' ? void(fs::create_directories(name + "t")) : WriteFileBytes(name, ToBytes("x"));
    for (const auto& c : listings)
        EXPECT_EQ(Listing(c.pattern), c.names) << c.pattern;
#ifndef _WIN32  // fifos, symbolic links, raw byte names and names differing in case only
    ASSERT_TRUE(fs::create_directories("kinds/folder") && MakeFifo("kinds/pipe"));
    for (const std::string target : {"file", "folder", "pipe", "no"})
        fs::create_symlink(target, "kinds/to-" + target);
    for (const char* name : {"kinds/file", "kinds/File", "kinds/\xC3\xA9"})  // a tie without case: the bytes decide
        WriteFileBytes(name, ToBytes("x"));
    EXPECT_EQ(Listing("kinds/*"), (Names{"File", "file", "folder/", "pipe!", "to-file@", "to-folder@/", "to-no@!",
                                         "to-pipe@!", "\xC3\xA9"}));
#endif
}

TEST(Host, FilesReadWrittenRemovedAndReplacedOrLeftAloneAndYesNoReadsOneLine)
{
    ScratchDir dir;
    WorkingDirectory inside(dir.path());
    std::FILE* file = std::fopen("f", "w+b");
    const ByteSpan spans[] = {{"ab", 2}, {"", 0}, {"cde", 3}, {"fghi", 4}};
    std::string errorText;
    const std::vector<ByteSpan> many(3000, ByteSpan{"x", 1});  // more pieces than one system call takes
    char back[16] = {};
    ASSERT_TRUE(file && WriteAt(file, 3, spans, 4) == 9 && WriteAt(file, 0, spans + 3, 1) == 4);
    EXPECT_TRUE(FileLength(file) == 12 && ReadAt(file, 0, back, 12) && std::string(back, 12) == "fghibcdefghi");
    EXPECT_FALSE(ReadAt(file, 9, back, 4) || ReadAt(file, -1, back, 1) || ReadAt(nullptr, 0, back, 1));
    EXPECT_TRUE(WriteAt(file, -1, spans, 1) == 0 && FileLength(nullptr) == -1 && IsWritableFile("f", errorText));
    EXPECT_TRUE(WriteAt(file, 12, many.data(), many.size()) == 3000 && FileLength(file) == 3012);
    std::fclose(file), WriteFileBytes("empty", {});
    const auto fails = [&](bool done, const char* prefix = "", const char* posixText = kNoSuchFile) {
        return !done && IsHostError(errorText, prefix, posixText);
    };
    EXPECT_TRUE(MakeDir("sub", errorText) && MakeDir("sub", errorText) && fails(MakeDir("no/d", errorText)));
    const struct { const char* name; size_t maxSize; const char* error; } cases[] = {
        {"f", 5000, nullptr}, {"empty", 0, nullptr}, {"f", 11, "file too large"}, {"missing", 9, kNoSuchFile},
        {"sub", 9, "not a regular file"}, {MakeFifo("pipe") ? "pipe" : "sub", 9, "not a regular file"},
    };
    FileBytes got;
    for (const auto& c : cases) {
        const bool read = ReadWholeFile(c.name, c.maxSize, got, errorText);
        EXPECT_TRUE(c.error ? fails(read, "", c.error) && (c.error[0] != 'f' || errorText == c.error)  // own text
                    : read && Bytes(got.data.get(), got.data.get() + got.size) == ReadFileBytes(c.name)) << c.name;
    }
    fs::permissions("f", fs::perms::all, fs::perm_options::remove);
    // Read-only also for a user the system lets write it.
    EXPECT_FALSE(IsWritableFile("f", errorText) || IsWritableFile("missing", errorText));
    fs::permissions("f", fs::perms::owner_write, fs::perm_options::add);
    EXPECT_TRUE(RemoveFile("f", errorText) && !FileExists("f") && fails(RemoveFile("f", errorText)));
    EXPECT_TRUE(fails(RemoveFile("sub", errorText), "", "Is a directory") && IsFolder("sub") && !IsFolder("empty"));
    const struct { const char *input; bool yes; const char* rest; } answers[] = {  // only a first non-blank n means no
        {"", true, ""}, {"\n", true, ""}, {"\nn\n", true, "n\n"}, {"yes\nno", true, "no"}, {"  no\nyes", false, "yes"},
        {"\tN", false, ""}, {" \t nah\n\n", false, "\n"}, {"x no\n", true, ""}, {"-n\n", true, ""},
    };
    testing::internal::CaptureStderr();  // a prompt only when asked on a terminal
    for (const auto& c : answers) {
        std::FILE* piped = std::tmpfile();
        ASSERT_TRUE(piped && std::fputs(c.input, piped) >= 0 && std::fseek(piped, 0, SEEK_SET) == 0);
        EXPECT_EQ(AskYesNo("Mtxmake", "Use shared palette", "", piped), c.yes) << c.input;
        char rest[8] = {};
        EXPECT_STREQ((std::fread(rest, 1, sizeof rest - 1, piped), rest), c.rest) << c.input;
        std::fclose(piped);
    }
#ifndef _WIN32  // a terminal gets the prompt on standard error; a Windows console gets a message box
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    std::FILE* terminal = std::fopen(ptsname(master), "r");
    ASSERT_TRUE(terminal && write(master, "n\n", 2) == 2);
    EXPECT_FALSE(AskYesNo("Mtxmake", "Use shared palette", "", terminal));
    std::fclose(terminal), close(master);
#endif
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kWindowsHost ? "" : "Mtxmake: Use shared palette? [Y/n] ");
}

// Staged replacement: the target holds its old bytes or its new ones, never anything else.
class StagedFile : public testing::Test {
protected:
    StagedFile() : m_inside(m_dir.path()) {}
    // A staging file "staged" holding `bytes`, still open.
    std::FILE* Staged(const Bytes& bytes)
    {
        std::FILE* stream = CreateStagingFile("staged", m_error);
        EXPECT_NE(stream, nullptr) << m_error;
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
        return stream;
    }
    ScratchDir m_dir;
    WorkingDirectory m_inside;
    std::string m_error;
};

TEST_F(StagedFile, AFailedMoveLeavesTheTargetAndRemovesTheStagedFile)
{
    fs::create_directories("target/inside");  // no file can be renamed over a folder that holds something
    EXPECT_FALSE(MoveStagedOver(Staged({4, 5}), "staged", "target", m_error));
    EXPECT_TRUE(IsHostError(m_error, "cannot rename over target: ", "Is a directory"));
    EXPECT_TRUE(IsFolder("target/inside"));
    EXPECT_FALSE(FileExists("staged"));
}

TEST_F(StagedFile, ALeftoverIsRemovedButAFileStillBeingWrittenStays)
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

TEST_F(StagedFile, AScratchFileLeavesNothingBehind)
{
    std::FILE* scratch = CreateScratchFile("", m_error);
    ASSERT_NE(scratch, nullptr) << m_error;
    const ByteSpan span{"abc", 3};
    EXPECT_EQ(WriteAt(scratch, 0, &span, 1), 3u);
    char back[3] = {};
    EXPECT_TRUE(ReadAt(scratch, 0, back, 3));
    EXPECT_EQ(std::string(back, 3), "abc");
    std::fclose(scratch);
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 0);
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
