// The extractor's PCX and TGA writers: the bytes of the files they write.
#include "extractor/ImageWriters.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

// A palette whose entry i is (i, 255 - i, i / 2).
Bytes TestPcxPalette()
{
    Bytes palette(kPcxPaletteSize);
    for (size_t i = 0; i < 256; ++i) {
        palette[i * 3] = static_cast<uint8_t>(i);
        palette[i * 3 + 1] = static_cast<uint8_t>(255 - i);
        palette[i * 3 + 2] = static_cast<uint8_t>(i / 2);
    }
    return palette;
}

int GetU16(const Bytes& bytes, size_t offset)
{
    return bytes.at(offset) | (bytes.at(offset + 1) << 8);
}

Bytes Slice(const Bytes& bytes, size_t from, size_t count)
{
    return Bytes(bytes.begin() + static_cast<ptrdiff_t>(from),
                 bytes.begin() + static_cast<ptrdiff_t>(from + count));
}

Bytes WritePcxFile(const ScratchDir& dir, const Bytes& indices, int32_t width, int32_t height)
{
    const std::string path = dir / "out.pcx";
    WritePcx(path, indices.data(), TestPcxPalette().data(), width, height);
    return ReadFileBytes(path);
}

}  // namespace

TEST(WritePcx, ThreeByOneImageHasFullHeaderRunFlaggedBodyAndPalette)
{
    ScratchDir dir;
    const Bytes file = WritePcxFile(dir, {0, 200, 7}, 3, 1);
    ASSERT_EQ(file.size(), 901u);

    Bytes header(128, 0);
    header[0] = 10;
    header[1] = 5;
    header[2] = 1;
    header[3] = 8;
    header[8] = 2;    // Xmax
    header[12] = 3;   // width in the resolution field
    header[14] = 1;   // height in the resolution field
    header[65] = 1;   // planes
    header[66] = 3;   // bytes per line
    header[68] = 2;   // palette information
    EXPECT_EQ(Slice(file, 0, 128), header);
    EXPECT_EQ(Slice(file, 128, 4), (Bytes{0, 0xC1, 200, 7}));
    EXPECT_EQ(file[132], 12);
    EXPECT_EQ(Slice(file, 133, 768), TestPcxPalette());
}

TEST(WritePcx, OnlyBytesWithBothTopBitsSetGetARunCount)
{
    const struct {
        uint8_t index;
        Bytes body;
    } cases[] = {
        {0, {0}}, {63, {63}}, {128, {128}}, {191, {191}}, {192, {0xC1, 0xC0}}, {255, {0xC1, 0xFF}},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const Bytes file = WritePcxFile(dir, {c.index}, 1, 1);
        ASSERT_EQ(file.size(), 128 + c.body.size() + 769) << int(c.index);
        EXPECT_EQ(Slice(file, 128, c.body.size()), c.body) << int(c.index);
    }
}

TEST(WritePcx, ZeroSizeGivesHeaderMarkerAndPalette)
{
    ScratchDir dir;
    const Bytes wide = WritePcxFile(dir, {}, 0, 4);
    ASSERT_EQ(wide.size(), 897u);
    EXPECT_EQ(GetU16(wide, 8), 0xFFFF);
    EXPECT_EQ(GetU16(wide, 10), 3);
    EXPECT_EQ(wide[128], 12);
    const Bytes tall = WritePcxFile(dir, {}, 4, 0);
    ASSERT_EQ(tall.size(), 897u);
    EXPECT_EQ(GetU16(tall, 10), 0xFFFF);
}

TEST(WritePcx, WideImageKeepsLow16BitsOfItsSizeFields)
{
    ScratchDir dir;
    const Bytes file = WritePcxFile(dir, Bytes(65537, 1), 65537, 1);
    ASSERT_EQ(file.size(), 128u + 65537 + 769);
    EXPECT_EQ(GetU16(file, 8), 0);    // Xmax 65536
    EXPECT_EQ(GetU16(file, 12), 1);
    EXPECT_EQ(GetU16(file, 66), 1);
}

TEST(WriteTga, TwoByTwoImageInBothDepths)
{
    // Pixels R, G, B, A; the file holds B, G, R (, A) in the given row order.
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ScratchDir dir;
    WriteTga24(pixels.data(), 2, 2, dir / "a.tga");
    WriteTga32(pixels.data(), 2, 2, dir / "b.tga");
    const Bytes tga24 = ReadFileBytes(dir / "a.tga");
    const Bytes tga32 = ReadFileBytes(dir / "b.tga");

    const Bytes header24 = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20};
    const Bytes header32 = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 32, 0x28};
    ASSERT_EQ(tga24.size(), 30u);
    ASSERT_EQ(tga32.size(), 34u);
    EXPECT_EQ(Slice(tga24, 0, 18), header24);
    EXPECT_EQ(Slice(tga32, 0, 18), header32);
    EXPECT_EQ(Slice(tga24, 18, 12), (Bytes{3, 2, 1, 7, 6, 5, 11, 10, 9, 15, 14, 13}));
    EXPECT_EQ(Slice(tga32, 18, 16),
              (Bytes{3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12, 15, 14, 13, 16}));
}

TEST(WriteTga, ZeroSizeIsHeaderAloneAndWideSizesKeepLow16Bits)
{
    ScratchDir dir;
    const Bytes none;
    WriteTga24(none.data(), 0, 5, dir / "a.tga");
    WriteTga32(none.data(), 5, 0, dir / "b.tga");
    EXPECT_EQ(ReadFileBytes(dir / "a.tga").size(), 18u);
    EXPECT_EQ(ReadFileBytes(dir / "b.tga").size(), 18u);

    const Bytes pixels(65537 * 4, 9);
    WriteTga24(pixels.data(), 65537, 1, dir / "c.tga");
    const Bytes wide = ReadFileBytes(dir / "c.tga");
    ASSERT_EQ(wide.size(), 18u + 65537 * 3);
    EXPECT_EQ(GetU16(wide, 12), 1);
    EXPECT_EQ(GetU16(wide, 14), 1);
    WriteTga32(pixels.data(), 1, 65536, dir / "d.tga");
    EXPECT_EQ(GetU16(ReadFileBytes(dir / "d.tga"), 14), 0);
}

#ifndef _WIN32  // permission bits and the umask are POSIX's

TEST(ImageWriters, CreateFilesWithMode0666BeforeUmaskAndSkipUncreatableOnes)
{
    ScratchDir dir;
    const mode_t previous = umask(0);
    const Bytes pixels(4, 0);
    WriteTga24(pixels.data(), 1, 1, dir / "a.tga");
    WritePcx(dir / "b.pcx", pixels.data(), TestPcxPalette().data(), 1, 1);
    umask(previous);
    for (const char* name : {"a.tga", "b.pcx"}) {
        struct stat info {};
        ASSERT_EQ(stat((dir / name).c_str(), &info), 0) << name;
        EXPECT_EQ(info.st_mode & 0777, 0666u) << name;
    }
    // A file in a missing directory is silently not written.
    WriteTga32(pixels.data(), 1, 1, dir / "missing/a.tga");
    EXPECT_FALSE(FileExists(dir / "missing/a.tga"));
}

#endif
