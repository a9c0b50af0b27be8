// String helpers, the banner and the fatal exit.
#include "common/Banner.h"
#include "common/ByteWriter.h"
#include "common/StringUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

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

TEST(ByteWriter, WritesLittleEndianAndFailsWholeAtTheEnd)
{
    uint8_t out[8] = {};
    ByteWriter writer(out, sizeof out);
    writer.u16(0x0201);
    writer.u32(0x06050403);
    writer.u8(7);
    EXPECT_TRUE(writer.ok());
    writer.u16(0xAAAA);  // one byte too many: nothing of it is written
    EXPECT_FALSE(writer.ok());
    writer.u8(9);        // a failed writer stays failed
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 0}));

    ByteWriter seeking(out, sizeof out);
    seeking.seek(8);
    EXPECT_TRUE(seeking.ok());
    seeking.seek(9);
    EXPECT_FALSE(seeking.ok());
}

TEST(Banner, PrintsTitleNoticeAndBlankLine)
{
    testing::internal::CaptureStdout();
    PrintBanner("Title v1");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, std::string("Title v1") + kMakerNotice + "\n \n");
}
