// CImage planes and the decoders' process-wide last-error state.
#include "image/Image.h"

#include "common/HeapBuffer.h"

#include <cstdlib>
#include <cstring>

namespace {

// Both planes of one image together take at most 1 GiB: 4 bytes a pixel for RGBA and
// 1 for the index. Every decoder sizes its image here, so this is the one cap.
constexpr uint64_t kMaxPlaneBytes = uint64_t(1) << 30;
constexpr uint64_t kPlaneBytesPerPixel = kRgbaBytes + 1;
constexpr uint64_t kMaxPixels = kMaxPlaneBytes / kPlaneBytesPerPixel;
static_assert(kMaxPlaneBytes <= SIZE_MAX, "the largest planes fit in size_t");

}  // namespace

const char kImageNoMemoryText[] = "Not enough memory";
const char kImageTooLargeText[] = "Image too large";

thread_local int32_t g_ImageError = IMGERR_NONE;
thread_local char g_ImageErrorText[kImageErrorTextSize] = "";

void SetImageError(int32_t code, const char* text)
{
    g_ImageError = code;
    g_ImageErrorText[0] = '\0';
    if (text) {
        std::strncpy(g_ImageErrorText, text, kImageErrorTextSize - 1);
        g_ImageErrorText[kImageErrorTextSize - 1] = '\0';
    }
}

bool RejectImage(const char* text)
{
    SetImageError(IMGERR_BADFORMAT, text);
    return false;
}

CImage::CImage()
{
    SetImageError(IMGERR_NONE, nullptr);
}

CImage::~CImage()
{
    std::free(m_pPixels);
    std::free(m_pIndices);
    std::free(m_pPalette);
}

bool CImage::mfSetSize(int32_t width, int32_t height)
{
    std::free(m_pPixels);
    std::free(m_pIndices);
    m_pPixels = nullptr;
    m_pIndices = nullptr;
    m_Width = 0;
    m_Height = 0;
    if (width < 0 || height < 0)
        return false;

    // Both sides are below 2^31, so the product cannot overflow 64 bits. Planes are
    // cleared so that pixels a short file never reaches hold no stale memory.
    const uint64_t pixelCount = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (pixelCount > kMaxPixels)
        return false;
    // An empty image still gets planes to point at.
    HeapBytes pixels = AllocateZeroed<uint8_t>(static_cast<size_t>(pixelCount) * kRgbaBytes);
    HeapBytes indices = AllocateZeroed<uint8_t>(static_cast<size_t>(pixelCount));
    if (!pixels || !indices)
        return false;
    m_pPixels = pixels.release();
    m_pIndices = indices.release();
    m_Width = width;
    m_Height = height;
    return true;
}
