// The decoded picture every image decoder produces, the decoders' last-error state and
// the loader that recognises a file's format by its content.
//
// Failing: a decoder reports only through the last-error state (SetImageError,
// RejectImage), one per thread. Running out of memory: every allocation here is one
// that returns null instead of throwing, made after its size was bounded by the data:
// the planes, byte buffers and decoded DXT pixels through common/HeapBuffer.h, the
// decoder objects through new (std::nothrow). A failed
// allocation rejects the data with kImageNoMemoryText (kImageTooLargeText for the
// planes); the PNG and JPEG libraries' own allocators end in their error exits, which
// set the last error the same way. Nothing in this layer throws or catches.
#pragma once

#include <cstdint>

// Format tags (CImage::m_Format).
enum {
    IMG_NONE = 0,
    IMG_PCX = 1,
    IMG_TGA = 2,
    IMG_JPEG = 3,
    IMG_GIF = 4,
    IMG_PNG = 5,
};

// Last-error codes (g_ImageError).
enum {
    IMGERR_NONE = 0,
    IMGERR_NOMEMORY = 2,   // a PNG failed after its signature matched: the chain stops
    IMGERR_BADFORMAT = 3,  // not this decoder's format, or corrupt: the chain goes on
};

constexpr int kImageErrorTextSize = 256;
constexpr int kRgbaBytes = 4;  // a pixel of the RGBA plane
constexpr int kRgbBytes = 3;   // a palette entry: red, green, blue
constexpr int kPaletteEntries = 256;
constexpr int kPaletteSize = kPaletteEntries * kRgbBytes;

// Last error of the image decoders, one per thread, so that threads decode side by side.
extern thread_local int32_t g_ImageError;
extern thread_local char g_ImageErrorText[kImageErrorTextSize];

// Stores the code and copies the text (null leaves it empty, longer texts are cut).
void SetImageError(int32_t code, const char* text);
// A decoder's rejection of data it cannot decode: SetImageError(IMGERR_BADFORMAT, text).
// Returns false, so that a check can end with `return RejectImage(...)`.
bool RejectImage(const char* text);
// The text of a decoder that ran out of memory, and of one whose image the planes' cap
// (mfSetSize) refused.
extern const char kImageNoMemoryText[];
extern const char kImageTooLargeText[];

// An RGBA plane (4 bytes per pixel: R, G, B, fourth byte), an index plane (1 byte per
// pixel) and, for palettised formats, a 256-entry RGB palette. Planes are row-major,
// top row first. Each decoder is a subclass that does all its work in its constructor
// and reports through g_ImageError.
class CImage {
public:
    CImage();
    virtual ~CImage();
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    // Stores the size and replaces both planes with zero-filled ones of that size.
    // False (planes null, size 0 x 0) for a negative size, for planes that would take
    // more than 1 GiB together (5 bytes a pixel), or when memory runs out.
    bool mfSetSize(int32_t width, int32_t height);

    int32_t m_Width = 0;
    int32_t m_Height = 0;
    int32_t m_Bpp = 0;         // source bits per pixel; 32 means the fourth byte is alpha
    int32_t m_TransIndex = -1; // transparent palette index, -1 for none
    uint8_t* m_pPixels = nullptr;
    uint8_t* m_pIndices = nullptr;
    int32_t m_Format = IMG_NONE;
    uint8_t* m_pPalette = nullptr;
};

// Offers the bytes to the decoders in the order PNG, GIF, PCX, JPEG, TGA and returns
// the first image that is not rejected, or null. The caller owns the image and keeps
// the data.
CImage* LoadImageMemory(const uint8_t* data, uint32_t size);
