// A bounded little-endian writer over a byte span: every record and file encoder writes
// through it. A write past the end fails the writer (ok() turns false) and writes
// nothing, so an encoder can write a whole record and check once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteWriter {
public:
    ByteWriter(uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool ok() const { return m_ok; }
    size_t position() const { return m_pos; }

    void u8(uint32_t value)
    {
        if (uint8_t* out = take(1))
            out[0] = static_cast<uint8_t>(value);
    }
    void u16(uint32_t value)
    {
        if (uint8_t* out = take(2)) {
            out[0] = static_cast<uint8_t>(value);
            out[1] = static_cast<uint8_t>(value >> 8);
        }
    }
    void u32(uint32_t value)
    {
        if (uint8_t* out = take(4)) {
            out[0] = static_cast<uint8_t>(value);
            out[1] = static_cast<uint8_t>(value >> 8);
            out[2] = static_cast<uint8_t>(value >> 16);
            out[3] = static_cast<uint8_t>(value >> 24);
        }
    }
    void i32(int32_t value) { u32(static_cast<uint32_t>(value)); }

    void bytes(const void* source, size_t count)
    {
        uint8_t* out = take(count);
        if (out && count)
            std::memcpy(out, source, count);
    }
    void zeros(size_t count)
    {
        uint8_t* out = take(count);
        if (out && count)
            std::memset(out, 0, count);
    }

    // Moves to an absolute position; a position past the end fails the writer.
    void seek(size_t position)
    {
        if (!m_ok || position > m_size)
            m_ok = false;
        else
            m_pos = position;
    }

private:
    uint8_t* take(size_t count)
    {
        if (!m_ok || count > m_size - m_pos) {
            m_ok = false;
            return nullptr;
        }
        uint8_t* out = m_data + m_pos;
        m_pos += count;
        return out;
    }

    uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};
