// CImage planes and the decoders' process-wide last-error state.
#include "image/Image.h"

#include <cstdlib>
#include <cstring>

int32_t g_ImageError = IMGERR_NONE;
char g_ImageErrorText[kImageErrorTextSize] = "";

void SetImageError(int32_t code, const char* text)
{
    g_ImageError = code;
    g_ImageErrorText[0] = '\0';
    if (text) {
        std::strncpy(g_ImageErrorText, text, kImageErrorTextSize - 1);
        g_ImageErrorText[kImageErrorTextSize - 1] = '\0';
    }
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

    // At most 2^62 bytes, so the product cannot overflow 64 bits; planes are cleared
    // so that pixels a short file never reaches hold no stale memory.
    const uint64_t pixelCount = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (pixelCount * 4 > SIZE_MAX)
        return false;
    // At least one byte each, so an empty image still has planes to point at.
    const size_t count = pixelCount ? static_cast<size_t>(pixelCount) : 1;
    m_pPixels = static_cast<uint8_t*>(std::calloc(count, 4));
    m_pIndices = static_cast<uint8_t*>(std::calloc(count, 1));
    if (!m_pPixels || !m_pIndices) {
        std::free(m_pPixels);
        std::free(m_pIndices);
        m_pPixels = nullptr;
        m_pIndices = nullptr;
        return false;
    }
    m_Width = width;
    m_Height = height;
    return true;
}
