// Writes the demonstration images, one per accepted format, into a directory:
// TGA (24 and 32 bit), PCX, GIF, PNG, JPEG and a DXT1 DDS. All pictures are drawn
// here, so the same program always writes the same bytes.
#include "common/ByteReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kSide = 32;
constexpr int kColours = 256;

// An RGBA picture, top row first.
struct Picture {
    int width = kSide;
    int height = kSide;
    Bytes rgba = Bytes(static_cast<size_t>(kSide) * kSide * 4);
    uint8_t* at(int x, int y) { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    const uint8_t* at(int x, int y) const
    {
        return &rgba[(static_cast<size_t>(y) * width + x) * 4];
    }
};

// A picture of palette indices with its RGB palette.
struct IndexedPicture {
    int width = kSide;
    int height = kSide;
    Bytes indices = Bytes(static_cast<size_t>(kSide) * kSide);
    Bytes palette = Bytes(kColours * 3);
};

Picture Bricks()
{
    Picture picture;
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

Picture Glass()
{
    Picture picture;
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

Picture Sky()
{
    Picture picture;
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

Picture Stone()
{
    Picture picture;
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
IndexedPicture Rings()
{
    IndexedPicture picture;
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
IndexedPicture Grass()
{
    IndexedPicture picture;
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

void Append16(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Append32(Bytes& out, uint32_t value)
{
    Append16(out, value & 0xFFFF);
    Append16(out, value >> 16);
}

// Uncompressed true-colour TGA, top row first.
Bytes EncodeTga(const Picture& picture, bool alpha)
{
    constexpr uint8_t kTrueColour = 2, kTopFirst = 0x20, kAlphaBits = 8;
    Bytes out = {0, 0, kTrueColour, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Append16(out, static_cast<uint32_t>(picture.width));
    Append16(out, static_cast<uint32_t>(picture.height));
    out.push_back(alpha ? 32 : 24);
    out.push_back(alpha ? kTopFirst | kAlphaBits : kTopFirst);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t* pixel = picture.at(x, y);
            out.insert(out.end(), {pixel[2], pixel[1], pixel[0]});
            if (alpha)
                out.push_back(pixel[3]);
        }
    }
    return out;
}

// 8-bit run-length PCX with its 256-colour palette at the end.
Bytes EncodePcx(const IndexedPicture& picture)
{
    constexpr size_t kPcxHeaderSize = 128;
    constexpr uint8_t kRunFlag = 0xC0, kMaxRun = 63, kPaletteMarker = 12;
    Bytes out(kPcxHeaderSize, 0);
    out[0] = 10;  // manufacturer
    out[1] = 5;   // version
    out[2] = 1;   // run-length encoding
    out[3] = 8;   // bits per pixel and plane
    PutU16(&out[8], static_cast<uint32_t>(picture.width - 1));
    PutU16(&out[10], static_cast<uint32_t>(picture.height - 1));
    PutU16(&out[12], 72);
    PutU16(&out[14], 72);
    out[65] = 1;  // planes
    PutU16(&out[66], static_cast<uint32_t>(picture.width));
    PutU16(&out[68], 1);  // colour palette
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t* row = &picture.indices[static_cast<size_t>(y) * picture.width];
        for (int x = 0; x < picture.width;) {
            int run = 1;
            while (x + run < picture.width && run < kMaxRun && row[x + run] == row[x])
                ++run;
            if (run > 1 || (row[x] & kRunFlag) == kRunFlag)
                out.push_back(static_cast<uint8_t>(kRunFlag | run));
            out.push_back(row[x]);
            x += run;
        }
    }
    out.push_back(kPaletteMarker);
    out.insert(out.end(), picture.palette.begin(), picture.palette.end());
    return out;
}

// Packs variable-width codes least significant bit first, as GIF's LZW stream wants.
class CodeWriter {
public:
    void put(uint32_t code, int width)
    {
        m_bits |= code << m_count;
        m_count += width;
        while (m_count >= 8) {
            m_bytes.push_back(static_cast<uint8_t>(m_bits));
            m_bits >>= 8;
            m_count -= 8;
        }
    }
    Bytes finish()
    {
        if (m_count > 0)
            m_bytes.push_back(static_cast<uint8_t>(m_bits));
        return m_bytes;
    }

private:
    Bytes m_bytes;
    uint32_t m_bits = 0;
    int m_count = 0;
};

// GIF89a with a 256-colour global table and one transparent index. The LZW stream
// sends every pixel as a literal and a clear code often enough that codes stay 9 bits.
Bytes EncodeGif(const IndexedPicture& picture, uint8_t transparentIndex)
{
    constexpr int kMinCodeSize = 8;
    constexpr uint32_t kClear = 1u << kMinCodeSize, kEnd = kClear + 1;
    constexpr int kCodeWidth = kMinCodeSize + 1;
    constexpr int kLiteralsPerClear = 250;
    constexpr size_t kMaxSubBlock = 255;

    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    Append16(out, static_cast<uint32_t>(picture.width));
    Append16(out, static_cast<uint32_t>(picture.height));
    out.insert(out.end(), {0xF7, 0, 0});  // global table of 256 entries, 8-bit colour
    out.insert(out.end(), picture.palette.begin(), picture.palette.end());
    out.insert(out.end(), {0x21, 0xF9, 4, 0x01, 0, 0, transparentIndex, 0});
    out.push_back(0x2C);
    Append16(out, 0);
    Append16(out, 0);
    Append16(out, static_cast<uint32_t>(picture.width));
    Append16(out, static_cast<uint32_t>(picture.height));
    out.push_back(0);  // no local table, not interlaced
    out.push_back(kMinCodeSize);

    CodeWriter codes;
    for (size_t i = 0; i < picture.indices.size(); ++i) {
        if (i % kLiteralsPerClear == 0)
            codes.put(kClear, kCodeWidth);
        codes.put(picture.indices[i], kCodeWidth);
    }
    codes.put(kEnd, kCodeWidth);
    const Bytes stream = codes.finish();
    for (size_t at = 0; at < stream.size(); at += kMaxSubBlock) {
        const size_t length = std::min(kMaxSubBlock, stream.size() - at);
        out.push_back(static_cast<uint8_t>(length));
        out.insert(out.end(), stream.begin() + static_cast<long>(at),
                   stream.begin() + static_cast<long>(at + length));
    }
    out.push_back(0);
    out.push_back(0x3B);
    return out;
}

uint16_t To565(const uint8_t* rgb)
{
    return static_cast<uint16_t>(((rgb[0] >> 3) << 11) | ((rgb[1] >> 2) << 5) | (rgb[2] >> 3));
}

void From565(uint16_t colour, int out[3])
{
    out[0] = ((colour >> 11) & 31) * 255 / 31;
    out[1] = ((colour >> 5) & 63) * 255 / 63;
    out[2] = (colour & 31) * 255 / 31;
}

// One DXT1 block: the block's darkest and brightest corners of its colour box as end
// points, each pixel given the nearest of the four colours between them.
void EncodeDxt1Block(const Picture& picture, int blockX, int blockY, Bytes& out)
{
    uint8_t low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            const uint8_t* pixel = picture.at(blockX + x, blockY + y);
            for (int c = 0; c < 3; ++c) {
                low[c] = std::min(low[c], pixel[c]);
                high[c] = std::max(high[c], pixel[c]);
            }
        }
    }
    uint16_t colour0 = To565(high), colour1 = To565(low);
    if (colour0 < colour1)
        std::swap(colour0, colour1);
    int ends[2][3];
    From565(colour0, ends[0]);
    From565(colour1, ends[1]);
    int palette[4][3];
    for (int c = 0; c < 3; ++c) {
        palette[0][c] = ends[0][c];
        palette[1][c] = ends[1][c];
        palette[2][c] = (2 * ends[0][c] + ends[1][c]) / 3;
        palette[3][c] = (ends[0][c] + 2 * ends[1][c]) / 3;
    }
    uint32_t indexBits = 0;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            const uint8_t* pixel = picture.at(blockX + x, blockY + y);
            int best = 0, bestDistance = 1 << 30;
            for (int i = 0; i < (colour0 == colour1 ? 1 : 4); ++i) {
                int distance = 0;
                for (int c = 0; c < 3; ++c)
                    distance += (pixel[c] - palette[i][c]) * (pixel[c] - palette[i][c]);
                if (distance < bestDistance) {
                    best = i;
                    bestDistance = distance;
                }
            }
            indexBits |= static_cast<uint32_t>(best) << (2 * (y * 4 + x));
        }
    }
    Append16(out, colour0);
    Append16(out, colour1);
    Append32(out, indexBits);
}

// DDS file with one DXT1 level.
Bytes EncodeDds(const Picture& picture)
{
    constexpr uint32_t kSurfaceHeaderSize = 124, kPixelFormatSize = 32;
    constexpr uint32_t kFlags = 0x1 | 0x2 | 0x4 | 0x1000 | 0x80000;  // caps, size, format, linear size
    constexpr uint32_t kFourCcFlag = 0x4, kTextureCaps = 0x1000;
    constexpr uint32_t kBlockBytes = 8;
    const uint32_t blocks = static_cast<uint32_t>((picture.width / 4) * (picture.height / 4));

    Bytes out = {'D', 'D', 'S', ' '};
    Append32(out, kSurfaceHeaderSize);
    Append32(out, kFlags);
    Append32(out, static_cast<uint32_t>(picture.height));
    Append32(out, static_cast<uint32_t>(picture.width));
    Append32(out, blocks * kBlockBytes);
    Append32(out, 0);  // depth
    Append32(out, 0);  // mipmap count
    out.resize(out.size() + 11 * 4, 0);
    Append32(out, kPixelFormatSize);
    Append32(out, kFourCcFlag);
    out.insert(out.end(), {'D', 'X', 'T', '1'});
    out.resize(out.size() + 5 * 4, 0);  // bit count and masks
    Append32(out, kTextureCaps);
    out.resize(out.size() + 4 * 4, 0);  // caps 2 to 4, reserved
    for (int y = 0; y < picture.height; y += 4)
        for (int x = 0; x < picture.width; x += 4)
            EncodeDxt1Block(picture, x, y, out);
    return out;
}

void AppendPngBytes(png_structp png, png_bytep data, png_size_t length)
{
    Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

// 8-bit RGBA PNG.
Bytes EncodePng(const Picture& picture)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, AppendPngBytes, FlushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
                 static_cast<png_uint_32>(picture.height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < picture.height; ++y)
        png_write_row(png, picture.at(0, y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Baseline JPEG of the RGB channels.
Bytes EncodeJpeg(const Picture& picture)
{
    constexpr int kQuality = 90;
    jpeg_compress_struct compress;
    jpeg_error_mgr errors;
    compress.err = jpeg_std_error(&errors);
    jpeg_create_compress(&compress);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&compress, &buffer, &size);
    compress.image_width = static_cast<JDIMENSION>(picture.width);
    compress.image_height = static_cast<JDIMENSION>(picture.height);
    compress.input_components = 3;
    compress.in_color_space = JCS_RGB;
    jpeg_set_defaults(&compress);
    jpeg_set_quality(&compress, kQuality, TRUE);
    jpeg_start_compress(&compress, TRUE);
    Bytes row(static_cast<size_t>(picture.width) * 3);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x)
            std::memcpy(&row[static_cast<size_t>(x) * 3], picture.at(x, y), 3);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&compress, rows, 1);
    }
    jpeg_finish_compress(&compress);
    jpeg_destroy_compress(&compress);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
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
        {"brick.tga", EncodeTga(Bricks(), false)},
        {"glass.tga", EncodeTga(Glass(), true)},
        {"grass.pcx", EncodePcx(Grass())},
        {"rings.gif", EncodeGif(Rings(), 0)},
        {"sky.png", EncodePng(Sky())},
        {"stone.jpg", EncodeJpeg(Stone())},
        {"metal.dds", EncodeDds(Bricks())},
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
