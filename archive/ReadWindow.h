// Reads through a window of bytes read ahead: walks and copies that visit a file mostly
// front to back read it in a few large pieces instead of many small ones.
#pragma once

#include "archive/PackageChain.h"
#include "common/HeapBuffer.h"

#include <cstddef>
#include <cstdint>

class ReadWindow {
public:
    ReadWindow(ReadAtFunction readAt, size_t windowSize);

    // Reads exactly `count` bytes at `offset`, from the window when it holds them, else
    // after moving the window there; a read of more than a sixteenth of the window, or one
    // near the end of the source where no whole window can be read, goes to the source
    // directly.
    bool Read(int64_t offset, void* dst, size_t count);

private:
    bool Holds(int64_t offset, size_t count) const;

    ReadAtFunction m_readAt;
    size_t m_size;
    HeapBytes m_bytes;  // null when it could not be allocated
    int64_t m_start = 0;
    bool m_filled = false;
};
