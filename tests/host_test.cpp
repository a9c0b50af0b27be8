// The host layer: wildcard matching, sorted enumeration, making directories, replacing
// files and removing them.
#include "host/AskYesNo.h"
#include "host/DirectorySearch.h"
#include "host/FileIO.h"
#include "host/MakeDirectory.h"
#include "host/ReplaceFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::vector<std::string> Enumerate(const std::string& pattern, std::vector<bool>* directories = nullptr)
{
    DirectorySearch search;
    EXPECT_TRUE(search.Start(pattern)) << pattern;
    std::vector<std::string> names;
    FoundFile found;
    while (search.Next(found)) {
        names.push_back(found.name);
        if (directories)
            directories->push_back(found.isDirectory);
    }
    return names;
}

}  // namespace

TEST(WildcardMatch, StarQuestionMarkAndCase)
{
    const struct {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"*", "anything.at.all", true},
        {"*.*", "noextension", true},
        {"*.*", "a.b.c", true},
        {"*.mtx", "WALLS.MTX", true},
        {"Walls.Mtx", "wALLS.mTX", true},
        {"*.mtx", "walls.mtx.bak", false},
        {"*.mtx", "walls.mt", false},
        {"?alls", "walls", true},
        {"?alls", "alls", false},
        {"a?c", "ac", false},
        {"a*b*c", "aXXbYYbc", true},
        {"*ab", "aab", true},
        {"a*", "a", true},
        {"a.*", "a", true},
        {"walls", "walls2", false},
        {"w*s", "walls.mtx", false},
        {"[x]", "[x]", true},
        {"\xC4", "\xE4", false},  // only ASCII letters fold
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
}

TEST(DirectorySearch, ReturnsMatchesSortedWithoutCaseAndMarksDirectories)
{
    ScratchDir dir;
    for (const char* name : {"b.mtx", "a.mtx", "C.MTX", "ab.mtx", ".hidden.mtx", "note.txt"})
        WriteFileBytes(dir / name, ToBytes("x"));
    std::filesystem::create_directory(dir / "sub.mtx");

    std::vector<bool> directories;
    EXPECT_EQ(Enumerate(dir / "*.mtx", &directories),
              (std::vector<std::string>{".hidden.mtx", "a.mtx", "ab.mtx", "b.mtx", "C.MTX", "sub.mtx"}));
    EXPECT_EQ(directories, (std::vector<bool>{false, false, false, false, false, true}));

    // "." and ".." are never returned, other dot-names are.
    const std::vector<std::string> all = Enumerate(dir / "*");
    EXPECT_EQ(all.size(), 7u);
    EXPECT_EQ(all.front(), ".hidden.mtx");
}

TEST(PatternDirectory, EndsAtTheHostsLastSeparatorOrDrive)
{
    const struct {
        const char* pattern;
        const char* posix;
        const char* windows;
    } cases[] = {
        {"*.mtx", "", ""}, {"a/b\\c*", "a/", "a/b\\"}, {"C:x*", "", "C:"}, {"C:\\x\\y*", "", "C:\\x\\"}, {"1:x", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PatternDirectory(c.pattern), kWindowsHost ? c.windows : c.posix) << c.pattern;
}

#ifndef _WIN32  // fifos, symbolic links and names differing in case only are POSIX's

TEST(DirectorySearch, TellsEveryKindOfName)
{
    ScratchDir dir;
    WriteFileBytes(dir / "File", ToBytes("x"));  // a tie without case: the bytes decide
    WriteFileBytes(dir / "file", ToBytes("x"));
    std::filesystem::create_directory(dir / "folder");
    mkfifo((dir / "pipe").c_str(), 0644);
    ASSERT_EQ(symlink("file", (dir / "to-file").c_str()), 0);
    ASSERT_EQ(symlink("folder", (dir / "to-folder").c_str()), 0);
    ASSERT_EQ(symlink("pipe", (dir / "to-pipe").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir / "to-nothing").c_str()), 0);

    const struct {
        const char* name;
        bool isDirectory, isRegular, isSymlink;
    } expected[] = {
        {"File", false, true, false},      {"file", false, true, false},      {"folder", true, false, false},
        {"pipe", false, false, false},     {"to-file", false, true, true},
        {"to-folder", true, false, true},  {"to-nothing", false, false, true},
        {"to-pipe", false, false, true},
    };
    DirectorySearch search;
    ASSERT_TRUE(search.Start(dir / "*"));
    FoundFile found;
    for (const auto& e : expected) {
        ASSERT_TRUE(search.Next(found));
        EXPECT_EQ(found.name, e.name);
        EXPECT_EQ(found.isDirectory, e.isDirectory) << e.name;
        EXPECT_EQ(found.isRegular, e.isRegular) << e.name;
        EXPECT_EQ(found.isSymlink, e.isSymlink) << e.name;
    }
    EXPECT_FALSE(search.Next(found));
}

#endif

TEST(DirectorySearch, SplitsPatternAtLastSlash)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir / "tex");
    WriteFileBytes(dir / "tex/walls.mtx", ToBytes("x"));
    WriteFileBytes(dir / "walls.mtx", ToBytes("x"));

    DirectorySearch search;
    ASSERT_TRUE(search.Start(dir / "tex/*.mtx"));
    EXPECT_EQ(search.directory(), dir / "tex/");
    FoundFile found;
    ASSERT_TRUE(search.Next(found));
    EXPECT_EQ(found.name, "walls.mtx");
    EXPECT_FALSE(search.Next(found));

    WorkingDirectory inside(dir.path());
    ASSERT_TRUE(search.Start("w*"));
    EXPECT_EQ(search.directory(), "");
    EXPECT_EQ(Enumerate("tex/W*"), std::vector<std::string>{"walls.mtx"});
}

TEST(DirectorySearch, DirectoryThatCannotBeReadFailsTheStart)
{
    ScratchDir dir;
    WriteFileBytes(dir / "file", ToBytes("x"));
    DirectorySearch search;
    FoundFile found;
    for (const std::string& pattern : {dir / "missing/*", dir / "file/*"}) {
        EXPECT_FALSE(search.Start(pattern)) << pattern;
        EXPECT_FALSE(search.Next(found)) << pattern;
    }
}

TEST(MakeDir, AcceptsNewAndExistingDirectoriesOnly)
{
    ScratchDir dir;
    std::string errorText;
    EXPECT_TRUE(MakeDir(dir / "new", errorText));
    EXPECT_TRUE(MakeDir(dir / "new", errorText));
    EXPECT_FALSE(MakeDir(dir / "missing/new", errorText));
    EXPECT_TRUE(IsHostError(errorText, "", "No such file or directory"));
}

#ifndef _WIN32  // permission bits, inode numbers and /dev/shm are POSIX's

TEST(MoveFileOver, SameFileSystemRenamesTheStagedFileWithTheTargetsMode)
{
    ScratchDir dir;
    WriteFileBytes(dir / "target", {1, 2, 3});
    ASSERT_EQ(chmod((dir / "target").c_str(), 0640), 0);
    WriteFileBytes(dir / "staged", {4, 5});
    struct stat staged {};
    ASSERT_EQ(stat((dir / "staged").c_str(), &staged), 0);
    std::string errorText;
    ASSERT_TRUE(MoveFileOver(dir / "target", dir / "staged", errorText)) << errorText;
    struct stat target {};
    ASSERT_EQ(stat((dir / "target").c_str(), &target), 0);
    EXPECT_EQ(target.st_ino, staged.st_ino);  // moved, not copied
    EXPECT_EQ(target.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(dir / "target"), (Bytes{4, 5}));
    EXPECT_FALSE(FileExists(dir / "staged"));
}

TEST(MoveFileOver, OtherFileSystemCopiesBesideTheTargetAndDeletesTheStagedFile)
{
    ScratchDir dir;
    ScratchDir other("/dev/shm");
    struct stat here {};
    struct stat there {};
    ASSERT_EQ(stat(dir.path().c_str(), &here), 0);
    ASSERT_EQ(stat(other.path().c_str(), &there), 0);
    ASSERT_NE(here.st_dev, there.st_dev) << "needs /dev/shm on a file system of its own";
    WriteFileBytes(dir / "target", {1, 2, 3});
    ASSERT_EQ(chmod((dir / "target").c_str(), 0604), 0);
    WriteFileBytes(other / "staged", {7, 8, 9, 10});
    std::string errorText;
    ASSERT_TRUE(MoveFileOver(dir / "target", other / "staged", errorText)) << errorText;
    EXPECT_EQ(ReadFileBytes(dir / "target"), (Bytes{7, 8, 9, 10}));
    struct stat target {};
    ASSERT_EQ(stat((dir / "target").c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0604u);
    EXPECT_FALSE(FileExists(other / "staged"));
}

#else

TEST(MoveFileOver, ReadOnlyOrHeldOpenTargetIsLeftAsItIs)
{
    ScratchDir dir;
    WriteFileBytes(dir / "target", {1, 2, 3});
    WriteFileBytes(dir / "staged", {4, 5});
    const auto writable = [&](bool on) {
        std::filesystem::permissions(dir / "target", std::filesystem::perms::owner_write,
                                     on ? std::filesystem::perm_options::add : std::filesystem::perm_options::remove);
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
    writable(true);
    ASSERT_TRUE(MoveFileOver(dir / "target", dir / "staged", errorText)) << errorText;
    EXPECT_EQ(ReadFileBytes(dir / "target"), (Bytes{4, 5}));
    EXPECT_FALSE(FileExists(dir / "staged"));
}

#endif

TEST(MoveFileOver, FailureLeavesBothFilesAlone)
{
    ScratchDir dir;
    WriteFileBytes(dir / "staged", {4, 5});
    std::string errorText;
    EXPECT_FALSE(MoveFileOver(dir / "missing/target", dir / "staged", errorText));
    EXPECT_TRUE(IsHostError(errorText, "cannot examine " + (dir / "missing/target") + ": ", "No such file or directory"));
    EXPECT_EQ(ReadFileBytes(dir / "staged"), (Bytes{4, 5}));
}

TEST(RemoveFile, RemovesFilesNeverDirectories)
{
    ScratchDir dir;
    WriteFileBytes(dir / "file", {1});
    ASSERT_TRUE(std::filesystem::create_directory(dir / "folder"));
    std::string errorText;
    EXPECT_TRUE(RemoveFile(dir / "file", errorText));
    EXPECT_FALSE(FileExists(dir / "file"));
    EXPECT_FALSE(RemoveFile(dir / "folder", errorText));
    EXPECT_TRUE(IsHostError(errorText, "", "Is a directory"));
    EXPECT_TRUE(FileExists(dir / "folder"));
}

TEST(AskYesNo, AnswerFromAFileIsReadWithoutAPrompt)
{
    std::FILE* piped = std::tmpfile();
    ASSERT_NE(piped, nullptr);
    std::fputs("  no\n", piped);
    std::rewind(piped);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(AskYesNo("Mtxmake", "Use shared palette", piped));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    std::fclose(piped);
}

#ifndef _WIN32  // terminals are POSIX's; a Windows console gets a message box
TEST(AskYesNo, TerminalGetsThePromptOnStandardError)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::FILE* terminal = std::fopen(ptsname(master), "r");
    ASSERT_NE(terminal, nullptr);
    ASSERT_EQ(write(master, "\n", 1), 1);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(AskYesNo("Mtxmake", "Use shared palette", terminal));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mtxmake: Use shared palette? [Y/n] ");
    std::fclose(terminal);
    close(master);
}
#endif
