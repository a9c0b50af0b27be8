// The image loader: decoder order, how failures pass along the chain, reading files,
// and the shared error state.
#include "image/Image.h"

#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// A 2 x 1 top-down 24-bit TGA: blue-green-red (1, 2, 3), (4, 5, 6).
const Bytes kTga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 24, 0x20, 1, 2, 3, 4, 5, 6};

// A 2 x 1 PCX of index 3 twice, entry 3 of its palette red 90.
Bytes SmallPcx()
{
    SamplePicture picture(2, 1);
    picture.indices = {3, 3};
    picture.palette.assign(768, 0);
    picture.palette[9] = 90;
    return EncodePcx(picture);
}

std::unique_ptr<CImage> Load(const Bytes& bytes)
{
    return std::unique_ptr<CImage>(LoadImageMemory(bytes.data(), static_cast<uint32_t>(bytes.size())));
}

Bytes Pixels(const CImage& image)
{
    return Bytes(image.m_pPixels, image.m_pPixels + size_t(image.m_Width) * image.m_Height * 4);
}

}  // namespace

TEST(ImageLoader, RecognisesFormatsByContent)
{
    auto tga = Load(kTga);
    ASSERT_TRUE(tga);
    EXPECT_EQ(g_ImageError, IMGERR_NONE);
    EXPECT_EQ(tga->m_Format, IMG_TGA);
    EXPECT_EQ(Pixels(*tga), (Bytes{3, 2, 1, 255, 6, 5, 4, 255}));

    auto pcx = Load(SmallPcx());
    ASSERT_TRUE(pcx);
    EXPECT_EQ(g_ImageError, IMGERR_NONE);
    EXPECT_EQ(pcx->m_Format, IMG_PCX);
    EXPECT_EQ(Bytes(pcx->m_pIndices, pcx->m_pIndices + 2), (Bytes{3, 3}));
    EXPECT_EQ(Pixels(*pcx), (Bytes{90, 0, 0, 0, 90, 0, 0, 0}));
}

TEST(ImageLoader, FailedLoadKeepsWhatTheLastDecoderReported)
{
    struct Case {
        const char* name;
        Bytes data;
        const char* text;
    };
    Bytes badPcx = SmallPcx();
    badPcx[9] = 0x7F;  // Xmax far too large: PCX rejects, TGA sees colour-map type 5
    const Case cases[] = {
        // pixel aspect ratio not 0: a bad screen descriptor
        {"corrupt GIF", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0x31, 0x3B}, "Unknown Targa image type"},
        {"rejected PCX", badPcx, "Mapped image with bad color map type"},
        {"empty", Bytes(), "Unknown Targa image type"},
    };
    for (const Case& c : cases) {
        SetImageError(IMGERR_NONE, nullptr);
        EXPECT_EQ(Load(c.data), nullptr) << c.name;
        EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT) << c.name;
        EXPECT_STREQ(g_ImageErrorText, c.text) << c.name;
    }
}

TEST(ImageLoader, SuccessClearsAnEarlierError)
{
    SetImageError(IMGERR_NOMEMORY, "Not enough memory");
    auto image = Load(kTga);
    ASSERT_TRUE(image);
    EXPECT_EQ(g_ImageError, IMGERR_NONE);
    EXPECT_STREQ(g_ImageErrorText, "");
}

TEST(ImageLoader, LoadImageFileIgnoresTheNameAndReadsTheContent)
{
    ScratchDir dir;
    WriteFileBytes(dir / "picture.gif", kTga);
    WriteFileBytes(dir / "empty.tga", Bytes());

    std::unique_ptr<CImage> image(LoadImageFile((dir / "picture.gif").c_str()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->m_Format, IMG_TGA);
    EXPECT_EQ(Pixels(*image), (Bytes{3, 2, 1, 255, 6, 5, 4, 255}));

    EXPECT_EQ(LoadImageFile((dir / "empty.tga").c_str()), nullptr);
    EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT);
}

TEST(ImageLoader, UnreadableFileLeavesTheErrorState)
{
    ScratchDir dir;
    for (const std::string& path : {dir / "missing.tga", dir.path()}) {
        SetImageError(IMGERR_NOMEMORY, "earlier");
        EXPECT_EQ(LoadImageFile(path.c_str()), nullptr) << path;
        EXPECT_EQ(g_ImageError, IMGERR_NOMEMORY) << path;
        EXPECT_STREQ(g_ImageErrorText, "earlier") << path;
    }
}

TEST(ImageModel, ErrorTextIsCutToItsBufferAndNullLeavesItEmpty)
{
    const std::string longText(300, 'x');
    SetImageError(IMGERR_BADFORMAT, longText.c_str());
    EXPECT_EQ(std::string(g_ImageErrorText), longText.substr(0, kImageErrorTextSize - 1));
    SetImageError(IMGERR_BADFORMAT, nullptr);
    EXPECT_EQ(g_ImageError, IMGERR_BADFORMAT);
    EXPECT_STREQ(g_ImageErrorText, "");
}

TEST(ImageModel, SetSizeReplacesPlanesWithClearedOnes)
{
    CImage image;
    EXPECT_EQ(image.m_Format, IMG_NONE);
    EXPECT_EQ(image.m_TransIndex, -1);
    ASSERT_TRUE(image.mfSetSize(3, 2));
    image.m_pPixels[23] = 9;
    ASSERT_TRUE(image.mfSetSize(2, 3));
    EXPECT_EQ(image.m_Width, 2);
    EXPECT_EQ(image.m_Height, 3);
    EXPECT_EQ(Pixels(image), Bytes(24, 0));
    EXPECT_EQ(Bytes(image.m_pIndices, image.m_pIndices + 6), Bytes(6, 0));

    // Both planes, 5 bytes a pixel, may take 1 GiB at most; nothing is allocated past it.
    const struct {
        int32_t width, height;
        bool accepted;
    } sizes[] = {{-1, 4, false},        {214748364, 1, true},          {1, 214748365, false},
                 {65536, 65536, false}, {INT32_MAX, INT32_MAX, false}, {0, INT32_MAX, true}};
    for (const auto& size : sizes) {
        EXPECT_EQ(image.mfSetSize(size.width, size.height), size.accepted) << size.width << " x " << size.height;
        EXPECT_EQ(image.m_pPixels != nullptr, size.accepted);
        EXPECT_EQ(image.m_Width, size.accepted ? size.width : 0);
    }
}
