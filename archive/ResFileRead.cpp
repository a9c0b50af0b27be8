// CResFile entry lookup and reading: by name, whole entries (unpacked), and piece by piece.
#include "archive/Lzss.h"
#include "archive/ResFile.h"

#include "common/ByteReader.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr size_t kLzssPrefixSize = 4;   // unpacked length in front of an LZSS stream

char FoldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool NamesEqual(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        if (FoldCase(*a) != FoldCase(*b))
            return false;
    }
    return *a == *b;
}

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};
using HeapBytes = std::unique_ptr<uint8_t[], FreeDeleter>;

}  // namespace

int64_t CResFile::mfBytesAvailable(int64_t position)
{
    if (!m_File || position < 0 || fseeko(m_File, 0, SEEK_END) != 0)
        return -1;
    const int64_t fileSize = ftello(m_File);
    return fileSize < position ? -1 : fileSize - position;
}

// Reads exactly `count` bytes at `position`; false when the file holds fewer.
bool CResFile::mfReadAt(int64_t position, void* dst, size_t count)
{
    return m_File && position >= 0 && fseeko(m_File, position, SEEK_SET) == 0 &&
           std::fread(dst, 1, count, m_File) == count;
}

int32_t CResFile::mfFileGetNum(const char* name)
{
    const char* wanted = name ? name : "";
    for (size_t index = 0; index < m_Dir.size(); ++index) {
        if (NamesEqual(m_Dir[index].name, wanted))
            return static_cast<int32_t>(index);
    }
    mfSetError("CResFile::mfFileGetNum - Can't find file <%s> in resource file <%s>", wanted, m_Name);
    return -1;
}

int32_t CResFile::mfFileRead(int32_t index, void* dst)
{
    // The caller sized `dst` from the entry itself.
    return mfFileRead(index, dst, std::numeric_limits<int64_t>::max());
}

int32_t CResFile::mfFileRead(const char* name, void* dst)
{
    return mfFileRead(mfFileGetNum(name), dst);
}

int32_t CResFile::mfFileRead(int32_t index, void* dst, int64_t capacity)
{
    if (index < 0 || index >= mfGetCount()) {
        mfSetError("CResFile::mfFileRead - error file number in resource file <%s>", m_Name);
        return 0;
    }
    const DirEntry& entry = m_Dir[static_cast<size_t>(index)];
    if (!dst) {
        mfSetError("CResFile::mfFileRead - data is NULL for file <%s> in resource file <%s>", entry.name, m_Name);
        return 0;
    }
    auto shortRead = [&]() {
        mfSetError("CResFile::mfFileRead - Error read file <%s> in resource file <%s>", entry.name, m_Name);
        return 0;
    };
    // A pending entry has no bytes in the file yet.
    if ((entry.flags & DE_PENDING) || entry.size < 0)
        return shortRead();

    if (entry.method == RC_NONE) {
        if (entry.size > capacity || !mfReadAt(entry.offset, dst, static_cast<size_t>(entry.size)))
            return shortRead();
        return entry.size;
    }

    // LZSS: 4-byte unpacked length, then the stream. The stored size is checked against
    // the file before the work buffer is allocated, and the unpacked length against `dst`.
    uint8_t prefix[kLzssPrefixSize];
    if (entry.size < static_cast<int32_t>(kLzssPrefixSize) ||
        mfBytesAvailable(entry.offset) < entry.size || !mfReadAt(entry.offset, prefix, sizeof prefix))
        return shortRead();
    const uint32_t unpacked = GetU32(prefix);
    if (unpacked > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
        static_cast<int64_t>(unpacked) > capacity)
        return shortRead();
    const size_t streamSize = static_cast<size_t>(entry.size) - kLzssPrefixSize;
    HeapBytes stream(static_cast<uint8_t*>(std::malloc(streamSize ? streamSize : 1)));
    if (!stream) {
        mfSetError("CResFile::mfFileRead - Can't allocate %i memory for file <%s> in resource file <%s>",
                   entry.size, entry.name, m_Name);
        return 0;
    }
    if (std::fread(stream.get(), 1, streamSize, m_File) != streamSize)
        return shortRead();
    const int32_t produced = LzssDecode(stream.get(), static_cast<uint8_t*>(dst),
                                        static_cast<int32_t>(streamSize), static_cast<int32_t>(unpacked));
    // A stream that ends before its announced length is damaged.
    if (produced != static_cast<int32_t>(unpacked))
        return shortRead();
    return produced;
}

uint8_t* CResFile::mfFileRead2(int32_t index, int32_t len)
{
    if (index < 0 || index >= mfGetCount()) {
        mfSetError("CResFile::mfFileRead2 - error file number in resource file <%s>", m_Name);
        return nullptr;
    }
    DirEntry& entry = m_Dir[static_cast<size_t>(index)];
    auto shortRead = [&]() -> uint8_t* {
        mfSetError("CResFile::mfFileRead2 - Error read file <%s> in resource file <%s>", entry.name, m_Name);
        return nullptr;
    };
    const int64_t start = static_cast<int64_t>(entry.readPos);
    const int64_t end = start + len;
    if (len < 0 || end > std::numeric_limits<int32_t>::max())
        return shortRead();
    // Never read past the caller's pending bytes, nor ask for more than the file holds.
    if (entry.data) {
        if (start < 0 || end > entry.size)
            return shortRead();
    } else if (mfBytesAvailable(static_cast<int64_t>(entry.offset) + start) < len) {
        return shortRead();
    }

    HeapBytes buffer(static_cast<uint8_t*>(std::malloc(len ? static_cast<size_t>(len) : 1)));
    if (!buffer) {
        mfSetError("CResFile::mfFileRead2 - Can't allocate %i memory for file <%s> in resource file <%s>",
                   len, entry.name, m_Name);
        return nullptr;
    }
    if (entry.data) {
        if (len)
            std::memcpy(buffer.get(), entry.data + start, static_cast<size_t>(len));
    } else if (!mfReadAt(static_cast<int64_t>(entry.offset) + start, buffer.get(), static_cast<size_t>(len))) {
        return shortRead();
    }
    entry.readPos = static_cast<int32_t>(end);
    return buffer.release();
}

uint8_t* CResFile::mfFileRead2(const char* name, int32_t len)
{
    return mfFileRead2(mfFileGetNum(name), len);
}
