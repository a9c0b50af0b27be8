// Heap blocks whose size comes from input, and how every layer runs out of memory.
//
// Running out of memory, one way for the whole program: a buffer whose size a file, a
// record or an image decides is allocated here, after that size was checked against the
// bytes that could justify it, and a failure comes back as null for the caller to report
// through its own channel (a return value, an error text, the decoders' last error).
// Nothing throws std::bad_alloc for such a buffer and no code catches one. Bookkeeping
// that grows only with what the program already holds (names, paths, messages, lists
// of entries or found files) lives in the standard containers; should even that fail,
// the uncaught exception ends the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>

struct HeapFree {
    void operator()(void* block) const { std::free(block); }
};
template <class T>
using HeapArray = std::unique_ptr<T[], HeapFree>;
using HeapBytes = HeapArray<uint8_t>;

// `count` zero-filled elements, or null when memory runs out or the size overflows. A
// count of 0 still gives a block, so that null always means failure.
template <class T>
HeapArray<T> AllocateZeroed(size_t count)
{
    static_assert(std::is_trivial<T>::value, "plain data only: no constructor runs");
    return HeapArray<T>(static_cast<T*>(std::calloc(count ? count : 1, sizeof(T))));
}

// `count` bytes left as they are, or null when memory runs out; 0 still gives a block.
inline HeapBytes AllocateBytes(size_t count)
{
    return HeapBytes(static_cast<uint8_t*>(std::malloc(count ? count : 1)));
}

// A list of plain data in one heap block that grows only through Reserve, which reports
// running out of memory instead of throwing.
template <class T>
class HeapVector {
public:
    size_t size() const { return m_size; }
    size_t capacity() const { return m_capacity; }
    bool empty() const { return m_size == 0; }
    T& operator[](size_t index) { return m_items[index]; }
    const T& operator[](size_t index) const { return m_items[index]; }
    T* begin() { return m_items.get(); }
    T* end() { return m_items.get() + m_size; }
    const T* begin() const { return m_items.get(); }
    const T* end() const { return m_items.get() + m_size; }

    // Makes room for `capacity` elements; false, with the elements kept, when memory runs
    // out or the size overflows.
    bool Reserve(size_t capacity)
    {
        static_assert(std::is_trivial<T>::value, "plain data only: elements move as bytes");
        if (capacity <= m_capacity)
            return true;
        if (capacity > SIZE_MAX / sizeof(T))
            return false;
        T* grown = static_cast<T*>(std::realloc(m_items.get(), capacity * sizeof(T)));
        if (!grown)
            return false;
        m_items.release();
        m_items.reset(grown);
        m_capacity = capacity;
        return true;
    }
    // Appends within the room Reserve made; false, appending nothing, when there is none.
    bool Append(const T& value)
    {
        if (m_size == m_capacity)
            return false;
        m_items[m_size++] = value;
        return true;
    }
    // Appends `count` elements within the room Reserve made; false, appending nothing,
    // when there is not that much room.
    bool Append(const T* items, size_t count)
    {
        if (count > m_capacity - m_size)
            return false;
        std::memcpy(m_items.get() + m_size, items, count * sizeof(T));
        m_size += count;
        return true;
    }
    // Keeps the first `count` elements.
    void Truncate(size_t count) { m_size = count < m_size ? count : m_size; }
    void Swap(HeapVector& other)
    {
        m_items.swap(other.m_items);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }
    // Drops every element and the block.
    void Release()
    {
        m_items.reset();
        m_size = 0;
        m_capacity = 0;
    }

private:
    HeapArray<T> m_items;
    size_t m_size = 0;
    size_t m_capacity = 0;
};
