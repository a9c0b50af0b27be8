// GIF decoder: the first image of a GIF87a or GIF89a file, with its own LZW decompressor.
#include "image/GifImage.h"

#include <array>
#include <cstring>

#include "common/ByteReader.h"
#include "common/HeapBuffer.h"

namespace {

const char kTextNotGif[] = "not a GIF file";
const char kTextBadScreen[] = "corrupt GIF file (bad screen descriptor)";
const char kTextBadBlock[] = "corrupt GIF89a file";
const char kTextBadExtension[] = "invalid GIF89 extension";
const char kTextBadSubBlocks[] = "corrupt GIF file (unblock)";
const char kTextBadCodes[] = "Corrupt GIF file (OutCount)!";
const char kTextNoColourTable[] = "GIF file without a colour table";
const char kTextBadCodeSize[] = "corrupt GIF file (bad LZW code size)";
const char kTextTooLittleData[] = "corrupt GIF file (too little image data for its size)";

constexpr size_t kSignatureSize = 6;
constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kLabelPlainText = 0x01;
constexpr uint8_t kLabelGraphicControl = 0xF9;
constexpr uint8_t kLabelComment = 0xFE;
constexpr uint8_t kLabelApplication = 0xFF;
constexpr uint8_t kColourTableFlag = 0x80;
constexpr uint8_t kColourTableSizeMask = 0x07;
constexpr uint8_t kInterlaceFlag = 0x40;
constexpr uint8_t kTransparencyFlag = 0x01;
constexpr size_t kDelayTimeSize = 2;

constexpr int kMaxMinCodeSize = 11;
constexpr int kMaxCodeSize = 12;
constexpr int kTableSize = 1 << kMaxCodeSize;
// Room for the longest string a code may expand to.
constexpr int kStackSize = 1025;

// Where the rows of each interlace pass start and how far apart they are.
constexpr int kInterlacePasses = 4;
constexpr int kPassStart[kInterlacePasses] = {0, 4, 2, 1};
constexpr int kPassStep[kInterlacePasses] = {8, 8, 4, 2};

using Palette = std::array<uint8_t, kPaletteSize>;

// Copies a colour table of 2^(sizeBits+1) entries into the palette; false when truncated.
bool ReadColourTable(ByteReader& reader, uint8_t packed, Palette& palette, int& colourCount)
{
    colourCount = 2 << (packed & kColourTableSizeMask);
    return reader.read(palette.data(), size_t(colourCount) * kRgbBytes);
}

// Skips data sub-blocks up to and including the zero length byte.
bool SkipSubBlocks(ByteReader& reader)
{
    for (uint8_t length = reader.u8(); reader.ok() && length != 0; length = reader.u8())
        reader.skip(length);
    return reader.ok();
}

// Most pixels `codeCount` codes can produce: the k-th code after a clear expands to at
// most k pixels, and no code to more than the stack holds.
uint64_t MaxDecodablePixels(uint64_t codeCount)
{
    if (codeCount <= kStackSize)
        return codeCount * (codeCount + 1) / 2;
    return uint64_t(kStackSize) * (kStackSize + 1) / 2 + (codeCount - kStackSize) * kStackSize;
}

// Places decoded palette indices into both planes, in plain or interlaced row order.
class PixelWriter {
public:
    PixelWriter(CImage& image, const Palette& palette, bool interlaced)
        : m_image(image), m_palette(palette), m_interlaced(interlaced)
    {
    }

    void Emit(uint8_t index)
    {
        if (m_row < m_image.m_Height) {
            const size_t place = size_t(m_row) * size_t(m_image.m_Width) + size_t(m_column);
            m_image.m_pIndices[place] = index;
            uint8_t* pixel = m_image.m_pPixels + place * kRgbaBytes;
            std::memcpy(pixel, &m_palette[size_t(index) * kRgbBytes], kRgbBytes);
            pixel[3] = 0;
        }
        if (++m_column == m_image.m_Width) {
            m_column = 0;
            NextRow();
        }
    }

private:
    void NextRow()
    {
        if (!m_interlaced) {
            ++m_row;
            return;
        }
        m_row += kPassStep[m_pass];
        // Passes whose first row lies outside the image contribute nothing; after the
        // last pass rows run past the image and are dropped.
        while (m_row >= m_image.m_Height && m_pass + 1 < kInterlacePasses)
            m_row = kPassStart[++m_pass];
    }

    CImage& m_image;
    const Palette& m_palette;
    bool m_interlaced;
    int64_t m_row = 0;
    int32_t m_column = 0;
    int m_pass = 0;
};

// Expands an LZW code stream (codes packed least significant bit first) into pixels.
class LzwDecoder {
public:
    LzwDecoder(const uint8_t* data, size_t size, int minCodeSize, int colourMask, PixelWriter& out)
        : m_data(data), m_size(size), m_totalBits(uint64_t(size) * 8), m_colourMask(colourMask),
          m_clearCode(1 << minCodeSize), m_endCode(m_clearCode + 1),
          m_firstFreeCode(m_clearCode + 2), m_initialCodeSize(minCodeSize + 1), m_out(out)
    {
        ResetTable();
    }

    // True when the end code is reached or the data used up; false, with the last error
    // set, for a code stream that breaks the rules.
    bool Run()
    {
        bool cleared = false;
        bool started = false;
        int code;
        while (ReadCode(code) && code != m_endCode) {
            if (code == m_clearCode) {
                ResetTable();
                cleared = true;
                started = false;
                continue;
            }
            if (!started) {
                // A stream begins with a clear code, and a root follows every clear.
                if (!cleared || code >= m_clearCode)
                    return RejectImage(kTextBadCodes);
                m_oldCode = code;
                m_firstPixel = uint8_t(code & m_colourMask);
                m_out.Emit(m_firstPixel);
                started = true;
                continue;
            }
            if (!ExpandCode(code))
                return RejectImage(kTextBadCodes);
        }
        return true;
    }

private:
    void ResetTable()
    {
        m_codeSize = m_initialCodeSize;
        m_readMask = (1u << m_codeSize) - 1;
        m_nextFreeCode = m_firstFreeCode;
    }

    bool ReadCode(int& code)
    {
        if (m_bitOffset + uint64_t(m_codeSize) > m_totalBits)
            return false;
        const size_t index = size_t(m_bitOffset / 8);
        const uint32_t window = uint32_t(ByteAt(index)) | uint32_t(ByteAt(index + 1)) << 8 |
                                uint32_t(ByteAt(index + 2)) << 16;
        code = int((window >> (m_bitOffset % 8)) & m_readMask);
        m_bitOffset += uint64_t(m_codeSize);
        return true;
    }

    uint8_t ByteAt(size_t index) const { return index < m_size ? m_data[index] : 0; }

    // Emits the string of one code that is not a clear or end code and adds the next
    // table entry. False when the code names nothing defined or its string is too long.
    bool ExpandCode(int code)
    {
        int stackCount = 0;
        int current = code;
        if (code >= m_nextFreeCode) {
            if (code > m_nextFreeCode)
                return false;
            m_stack[stackCount++] = m_firstPixel;
            current = m_oldCode;
        }
        // Only roots and entries written since the last clear are ever walked, and
        // every entry's prefix is a smaller code, so the walk ends.
        while (current >= m_clearCode) {
            if (stackCount >= kStackSize - 1)
                return false;
            m_stack[stackCount++] = m_suffix[current];
            current = m_prefix[current];
        }
        m_firstPixel = uint8_t(current & m_colourMask);
        m_stack[stackCount++] = m_firstPixel;
        while (stackCount > 0)
            m_out.Emit(m_stack[--stackCount]);

        if (m_nextFreeCode < kTableSize) {
            m_prefix[m_nextFreeCode] = uint16_t(m_oldCode);
            m_suffix[m_nextFreeCode] = m_firstPixel;
            ++m_nextFreeCode;
            if (m_nextFreeCode > int(m_readMask) && m_codeSize < kMaxCodeSize) {
                ++m_codeSize;
                m_readMask = (1u << m_codeSize) - 1;
            }
        }
        m_oldCode = code;
        return true;
    }

    const uint8_t* m_data;
    const size_t m_size;
    const uint64_t m_totalBits;
    const int m_colourMask;
    const int m_clearCode;
    const int m_endCode;
    const int m_firstFreeCode;
    const int m_initialCodeSize;
    PixelWriter& m_out;

    uint64_t m_bitOffset = 0;
    int m_codeSize = 0;
    uint32_t m_readMask = 0;
    int m_nextFreeCode = 0;
    int m_oldCode = 0;
    uint8_t m_firstPixel = 0;
    std::array<uint16_t, kTableSize> m_prefix{};
    std::array<uint8_t, kTableSize> m_suffix{};
    std::array<uint8_t, kStackSize> m_stack{};
};

// Joins the image data's sub-blocks into one block of `size` bytes; false, with the last
// error set, when they run past the end of the data or memory runs out.
bool JoinSubBlocks(ByteReader& reader, HeapBytes& joined, size_t& size)
{
    ByteReader counter = reader;
    size = 0;
    for (uint8_t length = counter.u8(); length != 0; length = counter.u8()) {
        counter.skip(length);
        size += length;
    }
    if (!counter.ok())
        return RejectImage(kTextBadSubBlocks);
    joined = AllocateBytes(size);
    if (!joined)
        return RejectImage(kImageNoMemoryText);
    size_t filled = 0;
    for (uint8_t length = reader.u8(); length != 0; length = reader.u8()) {
        reader.read(joined.get() + filled, length);
        filled += length;
    }
    return true;
}

// Decodes the whole file into `image`; false, with the last error set, when it cannot.
bool DecodeGif(CImage& image, const uint8_t* data, uint32_t size)
{
    ByteReader reader(data, size);
    const uint8_t* signature = reader.take(kSignatureSize);
    if (!signature || (std::memcmp(signature, "GIF87a", kSignatureSize) != 0 &&
                       std::memcmp(signature, "GIF89a", kSignatureSize) != 0))
        return RejectImage(kTextNotGif);
    image.m_Format = IMG_GIF;

    // Logical screen descriptor: the size and background colour play no part.
    reader.skip(4);
    const uint8_t screenPacked = reader.u8();
    reader.skip(1);
    const uint8_t aspectRatio = reader.u8();
    if (!reader.ok() || aspectRatio != 0)
        return RejectImage(kTextBadScreen);

    Palette palette{};
    int colourCount = 0;
    if ((screenPacked & kColourTableFlag) && !ReadColourTable(reader, screenPacked, palette, colourCount))
        return RejectImage(kTextBadScreen);

    // Extensions before the first image; only the graphic control block matters.
    int32_t transIndex = -1;
    for (;;) {
        const uint8_t introducer = reader.u8();
        if (!reader.ok())
            return RejectImage(kTextBadBlock);
        if (introducer == kImageSeparator)
            break;
        if (introducer != kExtensionIntroducer)
            return RejectImage(kTextBadBlock);
        const uint8_t label = reader.u8();
        if (!reader.ok())
            return RejectImage(kTextBadBlock);
        if (label == kLabelGraphicControl) {
            const uint8_t blockSize = reader.u8();
            const size_t packedAt = reader.position();
            // Packed byte, delay time, transparent index; the block size is trusted
            // only for where the block ends.
            ByteReader control = reader;
            const uint8_t controlPacked = control.u8();
            control.skip(kDelayTimeSize);
            const uint8_t controlIndex = control.u8();
            if (controlPacked & kTransparencyFlag) {
                if (!control.ok())
                    return RejectImage(kTextBadBlock);
                transIndex = controlIndex;
            }
            if (!reader.seek(packedAt + blockSize))
                return RejectImage(kTextBadBlock);
        } else if (label != kLabelPlainText && label != kLabelComment && label != kLabelApplication) {
            return RejectImage(kTextBadExtension);
        }
        if (!SkipSubBlocks(reader))
            return RejectImage(kTextBadBlock);
    }
    image.m_TransIndex = transIndex;

    // Image descriptor: the position on the logical screen is ignored.
    reader.skip(4);
    const int32_t width = reader.u16();
    const int32_t height = reader.u16();
    const uint8_t imagePacked = reader.u8();
    if (!reader.ok())
        return RejectImage(kTextBadBlock);
    // A local colour table replaces the global one for this image.
    if (imagePacked & kColourTableFlag) {
        palette.fill(0);
        if (!ReadColourTable(reader, imagePacked, palette, colourCount))
            return RejectImage(kTextBadBlock);
    }
    if (colourCount == 0)
        return RejectImage(kTextNoColourTable);

    const int minCodeSize = reader.u8();
    if (!reader.ok())
        return RejectImage(kTextBadSubBlocks);
    if (minCodeSize < 1 || minCodeSize > kMaxMinCodeSize)
        return RejectImage(kTextBadCodeSize);

    HeapBytes codes;
    size_t codesSize = 0;
    if (!JoinSubBlocks(reader, codes, codesSize))
        return false;

    const uint64_t pixelCount = uint64_t(width) * uint64_t(height);
    const uint64_t codeCount = uint64_t(codesSize) * 8 / uint64_t(minCodeSize + 1);
    if (pixelCount > MaxDecodablePixels(codeCount))
        return RejectImage(kTextTooLittleData);

    image.m_pPalette = AllocateBytes(palette.size()).release();
    if (!image.m_pPalette)
        return RejectImage(kImageNoMemoryText);
    std::memcpy(image.m_pPalette, palette.data(), palette.size());
    // Pixels the data never reaches stay as mfSetSize cleared them.
    if (!image.mfSetSize(width, height))
        return RejectImage(kImageTooLargeText);
    // A descriptor of width or height 0 gives an image without pixels: its data is
    // never decoded.
    if (pixelCount == 0)
        return true;

    PixelWriter writer(image, palette, (imagePacked & kInterlaceFlag) != 0);
    LzwDecoder decoder(codes.get(), codesSize, minCodeSize, colourCount - 1, writer);
    return decoder.Run();
}

}  // namespace

CGifImage::CGifImage(const uint8_t* data, uint32_t size)
{
    DecodeGif(*this, data, size);
}
