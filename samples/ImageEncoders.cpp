// Writers of TGA, PCX, GIF, PNG, JPEG and DDS files from small in-memory pictures.
#include "samples/ImageEncoders.h"

#include "common/ByteWriter.h"

#include <cmath>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

namespace {

constexpr int kColours = 256;
constexpr size_t kPaletteBytes = kColours * 3;

// ---- TGA ----

constexpr size_t kTgaMaxPacket = 128;
constexpr uint8_t kTgaRepeatFlag = 0x80;
constexpr uint8_t kTgaTopFirst = 0x20;

bool IsMappedTga(uint8_t imageType) { return (imageType & 7) == 1; }

// Image rows in the order the file stores them.
std::vector<int> StoredRowOrder(int height, uint8_t descriptor)
{
    const int interlace = descriptor >> 6;
    const int step = interlace == 2 ? 4 : interlace == 1 ? 2 : 1;
    std::vector<int> rows;
    for (int base = 0; base < step; ++base)
        for (int row = base; row < height; row += step)
            rows.push_back((descriptor & kTgaTopFirst) ? row : height - 1 - row);
    return rows;
}

void RunLengthSpan(const std::vector<Bytes>& values, size_t begin, size_t end, Bytes& out)
{
    for (size_t i = begin; i < end;) {
        size_t run = 1;
        while (i + run < end && run < kTgaMaxPacket && values[i + run] == values[i])
            ++run;
        size_t literal = 1;
        while (run == 1 && i + literal < end && literal < kTgaMaxPacket &&
               !(i + literal + 1 < end && values[i + literal] == values[i + literal + 1]))
            ++literal;
        out.push_back(static_cast<uint8_t>(run > 1 ? kTgaRepeatFlag | (run - 1) : literal - 1));
        for (size_t k = 0; k < (run > 1 ? 1 : literal); ++k)
            AppendBytes(out, values[i + k]);
        i += run > 1 ? run : literal;
    }
}

// ---- PCX ----

constexpr size_t kPcxHeaderSize = 128;
constexpr uint8_t kPcxRunFlag = 0xC0;
constexpr uint8_t kPcxPaletteMarker = 12;
constexpr uint32_t kPcxDpi = 72;

// ---- GIF ----

constexpr int kLzwCodeLimit = 4096;
constexpr int kLzwMaxWidth = 12;

// The descriptor's table flag and size bits followed by the table itself.
void AppendTable(Bytes& out, int sizeBits, const Bytes& table, int rampStep)
{
    if (sizeBits < 0)
        return;
    AppendBytes(out, table.empty() ? ColourRamp(2 << sizeBits, rampStep) : table);
}

// ---- DDS ----

constexpr uint32_t kDdsSurfaceHeaderSize = 124;
constexpr uint32_t kDdsPixelFormatSize = 32;
constexpr uint32_t kDdsFlags = 0x1 | 0x2 | 0x4 | 0x1000 | 0x80000;  // caps, size, format, linear size
constexpr uint32_t kDdsFourCcFlag = 0x4;
constexpr uint32_t kDdsTextureCaps = 0x1000;
constexpr uint32_t kDxt1BlockBytes = 8;

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

void EncodeDxt1Block(const SamplePicture& picture, int blockX, int blockY, Bytes& out)
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
    AppendU16(out, colour0);
    AppendU16(out, colour1);
    AppendU32(out, indexBits);
}

}  // namespace

SamplePicture::SamplePicture(int pictureWidth, int pictureHeight)
    : width(pictureWidth),
      height(pictureHeight),
      rgba(static_cast<size_t>(pictureWidth) * pictureHeight * 4),
      indices(static_cast<size_t>(pictureWidth) * pictureHeight),
      palette(kPaletteBytes)
{
}

void AppendU16(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendU32(Bytes& out, uint32_t value)
{
    AppendU16(out, value & 0xFFFF);
    AppendU16(out, value >> 16);
}

void AppendBytes(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes ColourRamp(int count, int step)
{
    Bytes table;
    for (int i = 0; i < count * 3; ++i)
        table.push_back(static_cast<uint8_t>(i * step + 11));
    return table;
}

// ---- TGA ----

Bytes TgaFile(const TgaHeader& header, const Bytes& body)
{
    Bytes out = {static_cast<uint8_t>(header.id.size()), header.colorMapType, header.imageType};
    AppendU16(out, header.mapFirst);
    AppendU16(out, header.mapLength);
    out.push_back(header.mapEntrySize);
    AppendU16(out, 0);  // origin x and y
    AppendU16(out, 0);
    AppendU16(out, header.width);
    AppendU16(out, header.height);
    out.push_back(header.pixelSize);
    out.push_back(header.descriptor);
    AppendBytes(out, header.id);
    AppendBytes(out, header.map);
    AppendBytes(out, body);
    return out;
}

Bytes TgaStoredColor(uint8_t bits, const uint8_t* rgba)
{
    const unsigned packed = (rgba[0] >> 3) << 10 | (rgba[1] >> 3) << 5 | rgba[2] >> 3;
    switch (bits) {
    case 8: return {rgba[0]};
    case 15:
    case 16: return {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8)};
    case 24: return {rgba[2], rgba[1], rgba[0]};
    default: return {rgba[2], rgba[1], rgba[0], rgba[3]};
    }
}

Bytes TgaRunLength(const std::vector<Bytes>& values, size_t rowLength)
{
    Bytes out;
    const size_t span = rowLength ? rowLength : std::max<size_t>(values.size(), 1);
    for (size_t begin = 0; begin < values.size(); begin += span)
        RunLengthSpan(values, begin, std::min(values.size(), begin + span), out);
    return out;
}

Bytes EncodeTga(const SamplePicture& picture, const TgaOptions& options)
{
    const bool mapped = IsMappedTga(options.imageType);
    TgaHeader header;
    header.imageType = options.imageType;
    header.pixelSize = options.pixelSize;
    header.descriptor = options.descriptor;
    header.width = static_cast<uint16_t>(picture.width);
    header.height = static_cast<uint16_t>(picture.height);
    if (mapped) {
        header.colorMapType = 1;
        header.mapLength = static_cast<uint16_t>(picture.palette.size() / 3);
        header.mapEntrySize = options.mapEntrySize;
        for (size_t i = 0; i + 2 < picture.palette.size(); i += 3) {
            const uint8_t entry[4] = {picture.palette[i], picture.palette[i + 1], picture.palette[i + 2], 255};
            AppendBytes(header.map, TgaStoredColor(options.mapEntrySize, entry));
        }
    }
    std::vector<Bytes> values;
    values.reserve(static_cast<size_t>(picture.width) * picture.height);
    for (int y : StoredRowOrder(picture.height, options.descriptor)) {
        for (int x = 0; x < picture.width; ++x) {
            if (mapped) {
                const uint8_t index = picture.indices[static_cast<size_t>(y) * picture.width + x];
                values.push_back(options.pixelSize == 8 ? Bytes{index} : Bytes{index, 0});
            } else {
                values.push_back(TgaStoredColor(options.pixelSize, picture.at(x, y)));
            }
        }
    }
    Bytes body;
    if (options.imageType >= 9) {
        body = TgaRunLength(values, options.packetsInRows ? static_cast<size_t>(picture.width) : 0);
    } else {
        for (const Bytes& value : values)
            AppendBytes(body, value);
    }
    return TgaFile(header, body);
}

// ---- PCX ----

Bytes EncodePcx(const SamplePicture& picture, const PcxOptions& options)
{
    const size_t bytesPerLine = options.bytesPerLine ? options.bytesPerLine : static_cast<size_t>(picture.width);
    const size_t maxRun = static_cast<size_t>(std::max(1, options.maxRun));
    Bytes out(kPcxHeaderSize, 0);
    out[0] = 10;  // manufacturer
    out[1] = 5;   // version
    out[2] = 1;   // run-length encoding
    out[3] = 8;   // bits per pixel and plane
    ByteWriter sides(&out[8], 8);  // Xmax, Ymax, horizontal and vertical resolution
    sides.u16(static_cast<uint32_t>(picture.width - 1));
    sides.u16(static_cast<uint32_t>(picture.height - 1));
    sides.u16(kPcxDpi);
    sides.u16(kPcxDpi);
    ByteWriter layout(&out[65], 5);
    layout.u8(1);  // planes
    layout.u16(static_cast<uint32_t>(bytesPerLine));
    layout.u16(1);  // colour palette
    Bytes row;
    for (int y = 0; y < picture.height; ++y) {
        const auto first = picture.indices.begin() + static_cast<long>(y) * picture.width;
        row.assign(first, first + picture.width);
        row.resize(bytesPerLine, 0);
        for (size_t x = 0; x < row.size();) {
            size_t run = 1;
            while (x + run < row.size() && run < maxRun && row[x + run] == row[x])
                ++run;
            if (run > 1 || (row[x] & kPcxRunFlag) == kPcxRunFlag)
                out.push_back(static_cast<uint8_t>(kPcxRunFlag | run));
            out.push_back(row[x]);
            x += run;
        }
    }
    out.push_back(kPcxPaletteMarker);
    Bytes palette = picture.palette;
    palette.resize(kPaletteBytes, 0);
    AppendBytes(out, palette);
    return out;
}

// ---- GIF ----

Bytes LzwEncode(const Bytes& pixels, int minCodeSize, const LzwOptions& options)
{
    Bytes out;
    uint32_t bitBuffer = 0;
    int bitCount = 0;
    const int clearCode = 1 << minCodeSize;
    // The code of prefix + pixel, 0 for none; used slots are listed so a clear is cheap.
    std::vector<uint16_t> table(static_cast<size_t>(kLzwCodeLimit) * kColours, 0);
    std::vector<size_t> used;
    int nextCode = 0, decoderNext = 0, codeSize = 0;
    bool firstAfterClear = true;
    auto reset = [&] {
        for (size_t slot : used)
            table[slot] = 0;
        used.clear();
        nextCode = decoderNext = clearCode + 2;
        codeSize = minCodeSize + 1;
        firstAfterClear = true;
    };
    auto emit = [&](int code) {
        bitBuffer |= static_cast<uint32_t>(code) << bitCount;
        for (bitCount += codeSize; bitCount >= 8; bitCount -= 8, bitBuffer >>= 8)
            out.push_back(static_cast<uint8_t>(bitBuffer));
        if (code == clearCode)
            return reset();
        // The decoder adds each entry one code later, so the width grows one code later.
        if (!firstAfterClear && decoderNext < kLzwCodeLimit && ++decoderNext >= (1 << codeSize) &&
            codeSize < kLzwMaxWidth)
            ++codeSize;
        firstAfterClear = false;
    };
    reset();
    if (options.leadingClear)
        emit(clearCode);
    int prefix = -1;
    for (uint8_t pixel : pixels) {
        if (prefix < 0) {
            prefix = pixel;
            continue;
        }
        const size_t slot = static_cast<size_t>(prefix) * kColours + pixel;
        if (table[slot] != 0) {
            prefix = table[slot];
            continue;
        }
        emit(prefix);
        if (nextCode < kLzwCodeLimit) {
            table[slot] = static_cast<uint16_t>(nextCode++);
            used.push_back(slot);
        } else if (options.clearWhenFull) {
            emit(clearCode);
        }
        prefix = pixel;
    }
    if (prefix >= 0)
        emit(prefix);
    if (options.endCode)
        emit(clearCode + 1);
    if (bitCount > 0)
        out.push_back(static_cast<uint8_t>(bitBuffer));
    return out;
}

Bytes EncodeGif(const GifLayout& layout)
{
    constexpr uint8_t kTableFlag = 0x80, kInterlaceFlag = 0x40, kImageSeparator = 0x2C;
    Bytes gif(layout.version.begin(), layout.version.end());
    AppendU16(gif, static_cast<uint32_t>(layout.width));
    AppendU16(gif, static_cast<uint32_t>(layout.height));
    gif.push_back(static_cast<uint8_t>(layout.globalSizeBits >= 0 ? kTableFlag | layout.globalSizeBits : 0));
    gif.push_back(0);  // background
    gif.push_back(layout.aspect);
    AppendTable(gif, layout.globalSizeBits, layout.globalTable, 3);
    AppendBytes(gif, layout.extensions);
    gif.push_back(kImageSeparator);
    AppendU16(gif, 0);
    AppendU16(gif, 0);
    AppendU16(gif, static_cast<uint32_t>(layout.width));
    AppendU16(gif, static_cast<uint32_t>(layout.height));
    gif.push_back(static_cast<uint8_t>((layout.interlaced ? kInterlaceFlag : 0) |
                                       (layout.localSizeBits >= 0 ? kTableFlag | layout.localSizeBits : 0)));
    AppendTable(gif, layout.localSizeBits, layout.localTable, 7);
    gif.push_back(static_cast<uint8_t>(layout.minCodeSize));
    const Bytes codes = layout.codes.empty() ? LzwEncode(layout.pixels, layout.minCodeSize) : layout.codes;
    const size_t subBlock = std::max<size_t>(1, std::min<size_t>(255, layout.subBlockSize));
    for (size_t at = 0; at < codes.size(); at += subBlock) {
        const size_t length = std::min(subBlock, codes.size() - at);
        gif.push_back(static_cast<uint8_t>(length));
        gif.insert(gif.end(), codes.begin() + static_cast<long>(at), codes.begin() + static_cast<long>(at + length));
    }
    gif.push_back(0);
    AppendBytes(gif, layout.after);
    return gif;
}

Bytes EncodeGifPicture(const SamplePicture& picture, const Bytes& extensions)
{
    GifLayout layout;
    layout.width = picture.width;
    layout.height = picture.height;
    layout.pixels = picture.indices;
    layout.globalSizeBits = 7;
    layout.globalTable = picture.palette;
    layout.globalTable.resize(kPaletteBytes, 0);
    layout.extensions = extensions;
    layout.minCodeSize = 8;
    return EncodeGif(layout);
}

Bytes GifGraphicControl(bool transparent, uint8_t index)
{
    return {0x21, 0xF9, 4, static_cast<uint8_t>(transparent), 0, 0, index, 0};
}

// ---- PNG ----

namespace {

void AppendPngBytes(png_structp png, png_bytep data, png_size_t length)
{
    Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

}  // namespace

Bytes EncodePng(const PngLayout& layout, const std::vector<Bytes>& rows)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_color> palette;
    for (size_t i = 0; i + 2 < layout.palette.size(); i += 3)
        palette.push_back({layout.palette[i], layout.palette[i + 1], layout.palette[i + 2]});
    std::vector<png_bytep> rowPointers;
    for (const Bytes& row : rows)
        rowPointers.push_back(const_cast<png_bytep>(row.data()));
    png_color_16 zeroKey{};
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, AppendPngBytes, FlushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(layout.width), static_cast<png_uint_32>(layout.height),
                 layout.bitDepth, layout.colourType, layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (layout.colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!layout.paletteAlpha.empty())
        png_set_tRNS(png, info, layout.paletteAlpha.data(), static_cast<int>(layout.paletteAlpha.size()), nullptr);
    if (layout.zeroKey)
        png_set_tRNS(png, info, nullptr, 0, &zeroKey);
    png_write_info(png, info);
    png_set_packing(png);
    png_write_image(png, rowPointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes EncodePngRgba(const SamplePicture& picture, bool alpha)
{
    const size_t channels = alpha ? 4 : 3;
    std::vector<Bytes> rows(static_cast<size_t>(picture.height));
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            rows[y].insert(rows[y].end(), picture.at(x, y), picture.at(x, y) + channels);
    PngLayout layout;
    layout.width = picture.width;
    layout.height = picture.height;
    layout.colourType = alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    return EncodePng(layout, rows);
}

// ---- JPEG ----

Bytes EncodeJpeg(const JpegLayout& layout, const Bytes& samples)
{
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(layout.width);
    info.image_height = static_cast<JDIMENSION>(layout.height);
    info.input_components = layout.components;
    info.in_color_space = static_cast<J_COLOR_SPACE>(layout.inputSpace);
    jpeg_set_defaults(&info);
    if (layout.storedSpace >= 0)
        jpeg_set_colorspace(&info, static_cast<J_COLOR_SPACE>(layout.storedSpace));
    if (layout.quality >= 0)
        jpeg_set_quality(&info, layout.quality, TRUE);
    if (layout.progressive)
        jpeg_simple_progression(&info);
    info.arith_code = layout.arithmetic;
    jpeg_start_compress(&info, TRUE);
    const size_t rowBytes = static_cast<size_t>(layout.width) * layout.components;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&samples[info.next_scanline * rowBytes]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

Bytes EncodeJpegRgb(const SamplePicture& picture, int quality)
{
    Bytes samples;
    samples.reserve(static_cast<size_t>(picture.width) * picture.height * 3);
    for (size_t at = 0; at < picture.rgba.size(); at += 4)
        samples.insert(samples.end(), &picture.rgba[at], &picture.rgba[at] + 3);
    JpegLayout layout;
    layout.width = picture.width;
    layout.height = picture.height;
    layout.inputSpace = JCS_RGB;
    layout.quality = quality;
    return EncodeJpeg(layout, samples);
}

// ---- DDS ----

Bytes DdsHeader(const char* fourCc, uint32_t width, uint32_t height, uint32_t linearSize)
{
    Bytes out = {'D', 'D', 'S', ' '};
    AppendU32(out, kDdsSurfaceHeaderSize);
    AppendU32(out, kDdsFlags);
    AppendU32(out, height);
    AppendU32(out, width);
    AppendU32(out, linearSize);
    AppendU32(out, 0);  // depth
    AppendU32(out, 0);  // mipmap count
    out.resize(out.size() + 11 * 4, 0);
    AppendU32(out, kDdsPixelFormatSize);
    AppendU32(out, kDdsFourCcFlag);
    out.insert(out.end(), fourCc, fourCc + 4);
    out.resize(out.size() + 5 * 4, 0);  // bit count and masks
    AppendU32(out, kDdsTextureCaps);
    out.resize(out.size() + 4 * 4, 0);  // caps 2 to 4, reserved
    return out;
}

Bytes EncodeDdsDxt1(const SamplePicture& picture)
{
    const uint32_t blocks = static_cast<uint32_t>((picture.width / 4) * (picture.height / 4));
    Bytes out = DdsHeader("DXT1", static_cast<uint32_t>(picture.width), static_cast<uint32_t>(picture.height),
                          blocks * kDxt1BlockBytes);
    for (int y = 0; y < picture.height; y += 4)
        for (int x = 0; x < picture.width; x += 4)
            EncodeDxt1Block(picture, x, y, out);
    return out;
}

SamplePicture PhotoPicture(int side, uint32_t seed)
{
    SamplePicture picture(side, side);
    uint32_t state = seed * 2654435761u + 1;
    const auto grain = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<int>(state % 17) - 8;
    };
    const auto clamp = [](double value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); };
    const double scale = (5.0 + seed % 7) / side;
    const double phase = seed % 13;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            uint8_t* pixel = picture.at(x, y);
            pixel[0] = clamp(128 + 100 * std::sin(x * scale + phase) * std::cos(y * scale * 0.7) + grain());
            pixel[1] = clamp(128 + 90 * std::sin((x + y) * scale * 0.5) + grain());
            pixel[2] = clamp(110 + 80 * std::cos((x - 2 * y) * scale * 0.3 + phase) + grain());
            pixel[3] = 255;
        }
    }
    return picture;
}
