// DXT decoding: the size checks here, the block decoding in libsquish.
#include "image/DxtDecode.h"

#include "image/DdsFormat.h"

#include <squish.h>

#include <cstring>

namespace {

constexpr uint64_t kRgbaBytes = 4;

// libsquish's flag for a four-character code; 0 for codes it is not asked to decode.
int SquishFlags(const char* fourCc)
{
    if (std::memcmp(fourCc, "DXT1", kDdsFourCcSize) == 0)
        return squish::kDxt1;
    if (std::memcmp(fourCc, "DXT3", kDdsFourCcSize) == 0)
        return squish::kDxt3;
    if (std::memcmp(fourCc, "DXT5", kDdsFourCcSize) == 0)
        return squish::kDxt5;
    return 0;
}

}  // namespace

HeapBytes DecodeDxtTopLevel(const char* fourCc, int32_t width, int32_t height, const uint8_t* data, size_t size)
{
    const int flags = SquishFlags(fourCc);
    if (flags == 0 || width < 1 || height < 1)
        return nullptr;
    // The cap also keeps the library's int arithmetic (row pitch times row) in range.
    const uint64_t pixelBytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * kRgbaBytes;
    if (pixelBytes > kMaxDxtDecodedBytes || DxtTopLevelSize(fourCc, width, height) > size)
        return nullptr;
    HeapBytes pixels = AllocateBytes(static_cast<size_t>(pixelBytes));
    if (pixels)
        squish::DecompressImage(pixels.get(), width, height, data, flags);
    return pixels;
}
