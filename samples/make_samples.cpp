// Writes the demonstration images, one per accepted format, into a directory:
// TGA (24 and 32 bit), PCX, GIF, PNG, JPEG and a DXT1 DDS. All pictures are drawn
// here, so the same program always writes the same bytes.
#include "samples/ImageEncoders.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr int kSide = 32;
constexpr int kColours = 256;
constexpr int kJpegQuality = 90;
constexpr uint8_t kTopFirst = 0x20, kAlphaBits = 8;

SamplePicture Bricks()
{
    SamplePicture picture(kSide, kSide);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const int row = y / 8;
            const bool mortar = y % 8 == 7 || (x + (row % 2) * 8) % 16 == 15;
            uint8_t* pixel = picture.at(x, y);
            pixel[0] = mortar ? 180 : static_cast<uint8_t>(150 + (x * 3 + y * 5) % 40);
            pixel[1] = mortar ? 175 : static_cast<uint8_t>(60 + (x * 7 + y) % 20);
            pixel[2] = mortar ? 170 : 40;
            pixel[3] = 255;
        }
    }
    return picture;
}

SamplePicture Glass()
{
    SamplePicture picture(kSide, kSide);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            uint8_t* pixel = picture.at(x, y);
            pixel[0] = static_cast<uint8_t>(100 + x * 4);
            pixel[1] = static_cast<uint8_t>(160 + y * 2);
            pixel[2] = 230;
            pixel[3] = static_cast<uint8_t>(64 + ((x + y) % 8) * 16);
        }
    }
    return picture;
}

SamplePicture Sky()
{
    SamplePicture picture(kSide, kSide);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const int dx = x - 20, dy = y - 10;
            const bool cloud = dx * dx + 3 * dy * dy < 60;
            uint8_t* pixel = picture.at(x, y);
            pixel[0] = cloud ? 250 : static_cast<uint8_t>(60 + y * 3);
            pixel[1] = cloud ? 250 : static_cast<uint8_t>(120 + y * 3);
            pixel[2] = cloud ? 255 : 240;
            pixel[3] = 255;
        }
    }
    return picture;
}

SamplePicture Stone()
{
    SamplePicture picture(kSide, kSide);
    uint32_t seed = 12345;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const uint8_t grey = static_cast<uint8_t>(110 + ((seed >> 16) % 50));
            uint8_t* pixel = picture.at(x, y);
            pixel[0] = grey;
            pixel[1] = grey;
            pixel[2] = static_cast<uint8_t>(grey + 8);
            pixel[3] = 255;
        }
    }
    return picture;
}

// Rings of colour around the centre; index 0 is the transparent corner colour.
SamplePicture Rings()
{
    SamplePicture picture(kSide, kSide);
    for (int i = 0; i < kColours; ++i) {
        picture.palette[i * 3 + 0] = static_cast<uint8_t>(i);
        picture.palette[i * 3 + 1] = static_cast<uint8_t>(255 - i);
        picture.palette[i * 3 + 2] = static_cast<uint8_t>((i * 4) & 0xFF);
    }
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const int dx = x - 16, dy = y - 16;
            const int distance = dx * dx + dy * dy;
            picture.indices[static_cast<size_t>(y) * picture.width + x] =
                distance > 256 ? 0 : static_cast<uint8_t>(1 + distance % 255);
        }
    }
    return picture;
}

// Grass: a few greens in runs, so the PCX encoder has runs to pack.
SamplePicture Grass()
{
    SamplePicture picture(kSide, kSide);
    for (int i = 0; i < kColours; ++i) {
        picture.palette[i * 3 + 0] = static_cast<uint8_t>(i / 4);
        picture.palette[i * 3 + 1] = static_cast<uint8_t>(80 + i / 2);
        picture.palette[i * 3 + 2] = static_cast<uint8_t>(i / 8);
    }
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            picture.indices[static_cast<size_t>(y) * picture.width + x] =
                static_cast<uint8_t>(((x / 5) * 37 + y * 11) % 256);
    return picture;
}

bool WriteFile(const std::string& path, const Bytes& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written && !bytes.empty();
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::printf("usage: make_samples directory\n");
        return 1;
    }
    const std::string directory = std::string(argv[1]) + "/";
    const struct {
        const char* name;
        Bytes bytes;
    } samples[] = {
        {"brick.tga", EncodeTga(Bricks(), {2, 24, 0, kTopFirst, false})},
        {"glass.tga", EncodeTga(Glass(), {2, 32, 0, kTopFirst | kAlphaBits, false})},
        {"grass.pcx", EncodePcx(Grass())},
        {"rings.gif", EncodeGifPicture(Rings(), GifGraphicControl(true, 0))},
        {"sky.png", EncodePngRgba(Sky(), true)},
        {"stone.jpg", EncodeJpegRgb(Stone(), kJpegQuality)},
        {"metal.dds", EncodeDdsDxt1(Bricks())},
    };
    int status = 0;
    for (const auto& sample : samples) {
        if (!WriteFile(directory + sample.name, sample.bytes)) {
            std::printf("Can't write <%s%s>\n", directory.c_str(), sample.name);
            status = 1;
        }
    }
    return status;
}
