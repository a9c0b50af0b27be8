// A bounded little-endian reader over a byte span: every parser reads input through it.
// A read past the end fails the reader (ok() turns false) and yields zeros, so a
// parser can read a whole header and check once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool ok() const { return m_ok; }
    size_t position() const { return m_pos; }
    size_t size() const { return m_size; }
    size_t remaining() const { return m_size - m_pos; }
    const uint8_t* data() const { return m_data; }

    uint8_t u8()
    {
        const uint8_t* bytes = take(1);
        return bytes ? bytes[0] : 0;
    }
    uint16_t u16()
    {
        const uint8_t* bytes = take(2);
        return bytes ? static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)) : 0;
    }
    uint32_t u32()
    {
        const uint8_t* bytes = take(4);
        if (!bytes)
            return 0;
        return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
               (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }

    // Returns a pointer to the next `count` bytes and moves past them, or null (and
    // fails the reader) when fewer remain.
    const uint8_t* take(size_t count)
    {
        if (!m_ok || count > remaining()) {
            m_ok = false;
            return nullptr;
        }
        const uint8_t* bytes = m_data + m_pos;
        m_pos += count;
        return bytes;
    }

    // Copies the next `count` bytes into `out`; false (and failed) when fewer remain.
    bool read(void* out, size_t count)
    {
        const uint8_t* bytes = take(count);
        if (bytes && count)
            std::memcpy(out, bytes, count);
        return bytes != nullptr;
    }

    bool skip(size_t count) { return take(count) != nullptr; }

    // Moves to an absolute position; a position past the end fails the reader.
    bool seek(size_t position)
    {
        if (!m_ok || position > m_size) {
            m_ok = false;
            return false;
        }
        m_pos = position;
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};
