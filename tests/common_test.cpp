// String helpers, the banner and the fatal exit.
#include "common/Banner.h"
#include "common/StringUtil.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(StripExtension, StopsAtFirstDotThatStartsAnExtension)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"a.b.c", "a"},     {"../x.y", "../x"}, {"walls", "walls"},  {"walls.mtx", "walls"},
        {"a.", "a"},        {".", ""},          {"..\\x.y", "..\\x"}, {"./a/b.c", "./a/b"},
        {"wall.01.tga", "wall"}, {"", ""},
    };
    for (const auto& c : cases) {
        char buffer[64];
        StripExtension(c.in, buffer);
        EXPECT_STREQ(buffer, c.out) << c.in;
        EXPECT_EQ(StripExtension(std::string(c.in)), c.out) << c.in;
    }
}

TEST(StripExtension, WorksInPlace)
{
    char buffer[] = "my.pak.mtx";
    StripExtension(buffer, buffer);
    EXPECT_STREQ(buffer, "my");
}

TEST(AddDefaultExtension, AppendsOnlyWithoutDotInLastComponent)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"pak", "pak.mtx"},         {"pak.old", "pak.old"},     {"dir.d/pak", "dir.d/pak.mtx"},
        {".pak", ".pak.mtx"},       {"a\\b.c", "a\\b.c"},       {"", ".mtx"},
        {"x/.", "x/."},             {"d.x\\pak", "d.x\\pak"},
    };
    for (const auto& c : cases) {
        char buffer[64];
        std::strcpy(buffer, c.in);
        AddDefaultExtension(buffer, ".mtx");
        EXPECT_STREQ(buffer, c.out) << c.in;
        EXPECT_EQ(AddDefaultExtension(std::string(c.in), ".mtx"), c.out) << c.in;
    }
}

TEST(Banner, PrintsTitleNoticeAndBlankLine)
{
    testing::internal::CaptureStdout();
    PrintBanner("Title v1");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, std::string("Title v1") + kMakerNotice + "\n \n");
}
