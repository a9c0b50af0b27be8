// Byte readers and writers, string rules, and the host layer: wildcard search, file access, replacing files, yes/no.
#include "common/ByteReader.h"
#include "common/ByteWriter.h"
#include "common/StringUtil.h"
#include "host/AskYesNo.h"
#include "host/DirectorySearch.h"
#include "host/FileIO.h"
#include "host/MakeDirectory.h"
#include "host/ReplaceFile.h"
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
        Bytes written(expected.size(), 0xEE), put(expected.size());
        ByteWriter writer(written.data(), size);
        ByteReader reader(expected.data(), size);
        size_t at = 0, good = 0;  // fields after a failed one fail too, though they would fit
        for (const auto& [width, value] : fields) {
            const bool fits = at == good && at + width <= size;
            const uint32_t got = width == 1 ? reader.u8() : width == 2 ? reader.u16() : static_cast<uint32_t>(reader.i32());
            width == 1 ? writer.u8(value) : width == 2 ? writer.u16(value) : writer.u32(value);
            width == 1 ? void(put[at] = static_cast<uint8_t>(value)) : width == 2 ? PutU16(&put[at], value) : PutU32(&put[at], value);
            ASSERT_EQ(got, fits ? value & (width == 4 ? ~0u : (1u << (8 * width)) - 1) : 0) << "width " << width;
            good += fits ? width : 0, at += width;
        }
        EXPECT_TRUE(put == expected && GetU32(expected.data()) == ByteReader(expected.data(), 4).u32());
        std::fill(expected.begin() + static_cast<std::ptrdiff_t>(good), expected.end(), 0xEE);  // failed writes write nothing
        EXPECT_TRUE(writer.position() == good && reader.position() == good && reader.remaining() == size - good);
        writer.seek(size);  // the very end is a position, unless the writer has failed
        EXPECT_TRUE(writer.ok() == (good == at) && reader.seek(size) == (good == at) && reader.ok() == (good == at));
        writer.seek(size + 1);
        EXPECT_TRUE(!writer.ok() && written == expected);
    }
}

TEST(StringUtil, ExtensionsAndCaseFolding)
{
    const struct { const char *in, *stripped, *defaulted; } cases[] = {
        {"../x.y", "../x", "../x.y"}, {"walls", "walls", "walls.mtx"}, {".", "", "..mtx"},      {"..\\x.y", "..\\x", "..\\x.y"},
        {"", "", ".mtx"},             {"dir.d/pak", "dir", "dir.d/pak.mtx"}, {".pak", "", ".pak.mtx"}, {"x/.", "x/", "x/."},
        {"d.x\\pak", "d", "d.x\\pak"},  {"./a/b.c", "./a/b", "./a/b.c"},
    };
    for (const auto& c : cases) {
        char stripped[64], defaulted[64];  // the first is stripped in place; dots past the end must not count
        std::memset(defaulted, '.', sizeof defaulted);
        StripExtension(std::strcpy(stripped, c.in), stripped), AddDefaultExtension(std::strcpy(defaulted, c.in), ".mtx");
        EXPECT_TRUE(stripped == StripExtension(std::string(c.in)) && StripExtension(c.in) == c.stripped) << c.in;
        EXPECT_TRUE(defaulted == AddDefaultExtension(std::string(c.in), ".mtx") && c.defaulted == std::string(defaulted)) << c.in;
    }
    for (int c = 0; c < 256; ++c)
        ASSERT_EQ(FoldAsciiCase(static_cast<char>(c)), static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c)) << c;
    EXPECT_TRUE(EqualsIgnoringCase("Ab@[\xC4", "aB@[\xC4") && EqualsIgnoringCase("", ""));
    for (const char* other : {"ab@[", "ab@[\xC4x", "ab`[\xC4", "ab@{\xC4", "ab@[\xE4"})  // prefixes, neighbours of A-Z
        EXPECT_FALSE(EqualsIgnoringCase(other, "AB@[\xC4") || EqualsIgnoringCase("AB@[\xC4", other)) << other;
}

TEST(DirectorySearch, WildcardsMatchAndPatternsListMatchesSortedWithoutCase)
{
    const struct { const char *pattern, *name; bool matches; } matches[] = {
        {"*", "", true},      {"", "", true},      {"", "a", false},     {"?", "", false},     {"*.mtx", "w.mtx.b", false},
        {".*", "", true},     {"a.*", "a", true},  {"a.*", "ab", false}, {"a?", "a.", true},   {"*.mtx", "w.mt", false},
        {"?b", "ab", true},   {"?ab", "ab", false}, {"a?c", "ac", false}, {"ab", "abc", false}, {"a*b*c", "aXbYbc", true},
        {"*ab", "aab", true}, {"a*b", "ab", true},  {"@[", "`{", false},  {"\xC4", "\xE4", false}, {"w*s", "ws.mtx", false},
    };
    for (const auto& m : matches)
        EXPECT_EQ(WildcardMatch(m.pattern, m.name), m.matches) << m.pattern << " vs " << m.name;
    const struct { const char *pattern, *posix, *windows; } splits[] = {
        {"*.mtx", "", ""}, {"a/b\\c*", "a/", "a/b\\"}, {"C:x*", "", "C:"}, {"C:\\x\\y*", "", "C:\\x\\"}, {"1:x", "", ""},
    };
    for (const auto& s : splits)
        EXPECT_EQ(PatternDirectory(s.pattern), kWindowsHost ? s.windows : s.posix) << s.pattern;
    const auto Listing = [](DirectorySearch& search, const std::string& pattern) {  // "/" a directory, "@" a link, "!" other
        Names names(search.Start(pattern) ? 0 : 1, "<unreadable>");
        for (FoundFile f; search.Next(f);)
            names.push_back(f.name + (f.isDirectory ? "/" : "") + (f.isSymlink ? "@" : "") + (f.isDirectory || f.isRegular ? "" : "!"));
        return names;
    };
    ScratchDir dir;
    fs::create_directory(dir / "sub.mtx");
    for (const char* name : {"b.mtx", "a.mtx", "C.MTX", "ab.mtx", ".hidden.mtx", "note.txt", "_x.mtx", "noext", "a", "sub.mtx/t"})
        WriteFileBytes(dir / name, ToBytes("x"));
    const struct { const char* pattern; Names names; } cases[] = {
        {"*.mtx", {".hidden.mtx", "_x.mtx", "a.mtx", "ab.mtx", "b.mtx", "C.MTX", "sub.mtx/"}},
        {"*.*", {".hidden.mtx", "_x.mtx", "a", "a.mtx", "ab.mtx", "b.mtx", "C.MTX", "noext", "note.txt", "sub.mtx/"}},
        {"?.MTX", {"a.mtx", "b.mtx", "C.MTX"}}, {"A*", {"a", "a.mtx", "ab.mtx"}}, {"noext.*", {"noext"}},
        {"zz*", {}}, {"missing/*", {"<unreadable>"}}, {"note.txt/*", {"<unreadable>"}}, {"sub.mtx/*", {"t"}},
    };
    DirectorySearch search;  // one search for all: every Start begins afresh
    for (const auto& c : cases)
        EXPECT_EQ(Listing(search, dir / c.pattern), c.names) << c.pattern;
    WorkingDirectory inside(dir.path());
    EXPECT_TRUE(Listing(search, "n*") == (Names{"noext", "note.txt"}) && search.directory().empty());
#ifndef _WIN32  // fifos, symbolic links, raw byte names and names differing in case only
    ASSERT_TRUE(fs::create_directories("kinds/folder") && MakeFifo("kinds/pipe") && symlink("file", "kinds/to-file") == 0 &&
                symlink("../kinds", "kinds/to-dir") == 0 && symlink("pipe", "kinds/to-pipe") == 0 && symlink("no", "kinds/to-no") == 0);
    for (const char* name : {"kinds/file", "kinds/File", "kinds/\xC3\xA9"})  // a tie without case: the bytes decide
        WriteFileBytes(name, ToBytes("x"));
    EXPECT_EQ(Listing(search, "kinds/*"), (Names{"File", "file", "folder/", "pipe!", "to-dir/@", "to-file@", "to-no@!", "to-pipe@!",
                                                 "\xC3\xA9"}));
#endif
}

TEST(FileIO, PositionedAndWholeReadsWritabilityRemovalAndDirectories)
{
    ScratchDir dir;
    std::FILE* file = std::fopen((dir / "f").c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    const ByteSpan spans[] = {{"ab", 2}, {"", 0}, {"cde", 3}, {"fghi", 4}};
    const std::vector<ByteSpan> many(3000, ByteSpan{"x", 1});  // more pieces than one system call takes
    uint8_t back[16] = {};
    EXPECT_TRUE(WriteAt(file, 3, spans, 4) == 9 && WriteAt(file, 0, spans + 3, 1) == 4 && WriteAt(file, -1, spans, 1) == 0);
    EXPECT_TRUE(FileLength(file) == 12 && ReadAt(file, 0, back, 12) && std::string(back, back + 12) == "fghibcdefghi");
    EXPECT_FALSE(ReadAt(file, 9, back, 4) || ReadAt(file, -1, back, 1) || ReadAt(nullptr, 0, back, 1) || FileLength(nullptr) != -1);
    EXPECT_TRUE(WriteAt(file, 12, many.data(), many.size()) == 3000 && FileLength(file) == 3012);
    std::fclose(file);
    WriteFileBytes(dir / "empty", {});
    fs::create_directory(dir / "folder");
    const struct { const char* name; size_t maxSize; const char* error; } cases[] = {
        {"f", 5000, nullptr}, {"empty", 0, nullptr}, {"f", 11, "file too large"}, {"missing", 9, kNoSuchFile},
        {"folder", 9, "not a regular file"}, {MakeFifo(dir / "pipe") ? "pipe" : "folder", 9, "not a regular file"},
    };
    std::string errorText;
    for (const auto& c : cases) {
        FileBytes bytes;
        EXPECT_EQ(ReadWholeFile(dir / c.name, c.maxSize, bytes, errorText), !c.error) << c.name;
        EXPECT_TRUE(c.error ? (c.error[0] == 'f' ? errorText == c.error : IsHostError(errorText, "", c.error))  // own text
                            : Bytes(bytes.data.get(), bytes.data.get() + bytes.size) == ReadFileBytes(dir / c.name)) << c.name;
    }
    const auto fails = [&](bool done, const char* posixText) { return !done && IsHostError(errorText, "", posixText); };
    EXPECT_TRUE(IsWritableFile(dir / "f") && !IsWritableFile(dir / "missing"));
    fs::permissions(dir / "f", fs::perms::all, fs::perm_options::remove);
    EXPECT_FALSE(IsWritableFile(dir / "f"));  // also for a user whom the system would let write it
    fs::permissions(dir / "f", fs::perms::owner_write, fs::perm_options::add);
    EXPECT_TRUE(RemoveFile(dir / "f", errorText) && !FileExists(dir / "f") && fails(RemoveFile(dir / "f", errorText), kNoSuchFile));
    EXPECT_TRUE(fails(RemoveFile(dir / "folder", errorText), "Is a directory") && IsDirectory(dir / "folder"));
    EXPECT_TRUE(MakeDir(dir / "new", errorText) && MakeDir(dir / "new", errorText) && fails(MakeDir(dir / "no/d", errorText), kNoSuchFile));
}

TEST(MoveFileOver, ReplacesTheTargetOrLeavesBothFilesAlone)
{
    ScratchDir dir;
    WriteFileBytes(dir / "target", {1, 2, 3});
    WriteFileBytes(dir / "staged", {4, 5});
    const std::string target = dir / "target", staged = dir / "staged", missing = dir / "missing/t", nothing = dir / "no";
    std::string errorText;
    const auto fails = [&](bool done, const std::string& prefix) { return !done && IsHostError(errorText, prefix, kNoSuchFile); };
    EXPECT_TRUE(fails(MoveFileOver(missing, staged, errorText), "cannot examine " + missing + ": "));
    EXPECT_TRUE(fails(MoveFileOver(target, nothing, errorText), "cannot examine " + nothing + ": "));
    EXPECT_TRUE(!ReplaceFileFrom(target, dir.path(), errorText) && std::distance(fs::directory_iterator(dir.path()), {}) == 2);
    EXPECT_TRUE(fails(ReplaceFileFrom(missing, staged, errorText), "cannot create a temporary file in " + dir / "missing/: "));
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::remove);  // Windows refuses a read-only target
    EXPECT_TRUE(!kWindowsHost ||
                (!MoveFileOver(target, staged, errorText) && IsHostError(errorText, "cannot rename over " + target + ": ", "")));
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_TRUE(ReadFileBytes(target) == (Bytes{1, 2, 3}) && ReadFileBytes(staged) == (Bytes{4, 5}) && !IsSameFile(target, staged));
#ifndef _WIN32  // the target's permission bits are kept and a link to it is followed
    struct stat info {};
    ASSERT_TRUE(chmod(target.c_str(), 0751) == 0 && symlink("target", (dir / "link").c_str()) == 0 && stat(staged.c_str(), &info) == 0);
    const ino_t stagedNode = info.st_ino;
#endif
    ASSERT_TRUE(MoveFileOver(kWindowsHost ? target : dir / "link", staged, errorText)) << errorText;
    EXPECT_TRUE(ReadFileBytes(target) == (Bytes{4, 5}) && !FileExists(staged) && IsSameFile(dir / "./target", target));
#ifndef _WIN32  // moved, not copied, within a file system; across to /dev/shm, which is one of its own, copied over
    EXPECT_TRUE(stat(target.c_str(), &info) == 0 && info.st_ino == stagedNode && (info.st_mode & 07777) == 0751);
    ScratchDir other("/dev/shm");
    WriteFileBytes(other / "staged", {6, 7});
    ASSERT_TRUE(chmod(target.c_str(), 0605) == 0 && MoveFileOver(dir / "link", other / "staged", errorText)) << errorText;
    EXPECT_TRUE(lstat((dir / "link").c_str(), &info) == 0 && S_ISLNK(info.st_mode) && !FileExists(other / "staged"));
    EXPECT_TRUE(stat(target.c_str(), &info) == 0 && (info.st_mode & 07777) == 0605 && ReadFileBytes(target) == (Bytes{6, 7}));
#endif
}

TEST(AskYesNo, OnlyAFirstNonBlankNMeansNoAndOneLineIsRead)
{
    const struct { const char *input; bool yes; const char* rest; } cases[] = {
        {"", true, ""},  {"\n", true, ""},  {"\nn\n", true, "n\n"},  {"yes\nno", true, "no"},  {"  no\nyes", false, "yes"},
        {"\tN", false, ""},  {" \t nah\n\n", false, "\n"},  {"x no\n", true, ""},  {"-n\n", true, ""},
    };
    for (const auto& c : cases) {
        std::FILE* piped = std::tmpfile();
        ASSERT_TRUE(piped && std::fputs(c.input, piped) >= 0 && std::fseek(piped, 0, SEEK_SET) == 0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(AskYesNo("Mtxmake", "Use shared palette", piped), c.yes) << c.input;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // a prompt only when asked on a terminal
        char rest[8] = {};
        EXPECT_STREQ((std::fread(rest, 1, sizeof rest - 1, piped), rest), c.rest) << c.input;
        std::fclose(piped);
    }
#ifndef _WIN32  // a terminal gets the prompt on standard error; a Windows console gets a message box
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    std::FILE* terminal = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? std::fopen(ptsname(master), "r") : nullptr;
    ASSERT_TRUE(terminal && write(master, "n\n", 2) == 2);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(AskYesNo("Mtxmake", "Use shared palette", terminal));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mtxmake: Use shared palette? [Y/n] ");
    std::fclose(terminal), close(master);
#endif
}
