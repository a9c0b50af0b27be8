// The read-ahead window.
#include "archive/ReadWindow.h"

#include <cstring>
#include <utility>

namespace {

// Only reads of at most this share of the window go through it: a larger one is read
// straight into its destination, sparing a copy.
constexpr size_t kSmallShare = 16;

}  // namespace

ReadWindow::ReadWindow(ReadAtFunction readAt, size_t windowSize)
    : m_readAt(std::move(readAt)), m_size(windowSize), m_bytes(AllocateBytes(windowSize))
{
}

bool ReadWindow::Holds(int64_t offset, size_t count) const
{
    return m_filled && offset >= m_start &&
           offset + static_cast<int64_t>(count) <= m_start + static_cast<int64_t>(m_size);
}

bool ReadWindow::Read(int64_t offset, void* dst, size_t count)
{
    if (!Holds(offset, count)) {
        m_filled = m_bytes && count <= m_size / kSmallShare && offset >= 0 && m_readAt(offset, m_bytes.get(), m_size);
        m_start = offset;
        if (!m_filled)
            return m_readAt(offset, dst, count);
    }
    std::memcpy(dst, m_bytes.get() + (offset - m_start), count);
    return true;
}
