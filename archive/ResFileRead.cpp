// CResFile entry lookup and reading: by name, whole entries (unpacked), and piece by piece.
#include "archive/Lzss.h"
#include "archive/ResFile.h"

#include "common/StringUtil.h"
#include "host/FileIO.h"

#include <algorithm>
#include <cstring>
#include <limits>

int64_t CResFile::mfBytesAvailable(int64_t position)
{
    const int64_t fileSize = FileLength(m_File);
    return position < 0 || fileSize < position ? -1 : fileSize - position;
}

int32_t CResFile::mfFileGetNum(const char* name)
{
    const char* wanted = name ? name : "";
    for (size_t index = 0; index < m_Dir.size(); ++index) {
        if (EqualsIgnoringCase(m_Dir[index].name, wanted))
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

int64_t CResFile::mfFileSize(int32_t index)
{
    if (index < 0 || index >= mfGetCount()) {
        mfSetError("CResFile::mfFileSize - error file number in resource file <%s>", m_Name);
        return -1;
    }
    const DirEntry& entry = m_Dir[static_cast<size_t>(index)];
    const bool pending = (entry.flags & DE_PENDING) != 0;
    // A written entry counts only when the file holds all its stored bytes, so that no
    // caller sizes a buffer by a record's claim alone.
    const bool inFile = !pending && entry.size >= 0 && mfBytesAvailable(entry.offset) >= entry.size;
    if (entry.method != RC_LZSS && (pending || inFile))
        return entry.size;
    uint8_t prefix[kLzssPrefixSize];
    // The unpacked length counts only as far as the stored stream could produce it.
    if (entry.method == RC_LZSS && inFile && entry.size >= static_cast<int32_t>(kLzssPrefixSize) &&
        mfReadAt(entry.offset, prefix, sizeof prefix)) {
        const int64_t unpacked = DecodeLzssPrefix(prefix);
        if (unpacked <= LzssMaxDecodedSize(entry.size - static_cast<int64_t>(kLzssPrefixSize)))
            return unpacked;
    }
    mfSetError("CResFile::mfFileSize - Error read file <%s> in resource file <%s>", entry.name, m_Name);
    return -1;
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
    // A pending entry has no bytes in the file yet.
    if (!(entry.flags & DE_PENDING) && entry.size >= 0) {
        if (entry.method != RC_NONE)
            return mfReadLzss(entry, dst, capacity);
        if (entry.size <= capacity && mfReadAt(entry.offset, dst, static_cast<size_t>(entry.size)))
            return entry.size;
    }
    mfSetError("CResFile::mfFileRead - Error read file <%s> in resource file <%s>", entry.name, m_Name);
    return 0;
}

// An LZSS entry: its 4-byte unpacked length, then the stream. The stored size is checked
// against the file before the work buffer is allocated, and the unpacked length against
// `dst`; a stream that ends before its announced length is damaged.
int32_t CResFile::mfReadLzss(const DirEntry& entry, void* dst, int64_t capacity)
{
    uint8_t prefix[kLzssPrefixSize];
    const bool fits = entry.size >= static_cast<int32_t>(kLzssPrefixSize) &&
                      mfBytesAvailable(entry.offset) >= entry.size && mfReadAt(entry.offset, prefix, sizeof prefix);
    const uint32_t unpacked = fits ? DecodeLzssPrefix(prefix) : 0;
    const size_t streamSize = fits ? static_cast<size_t>(entry.size) - kLzssPrefixSize : 0;
    if (fits && unpacked <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) &&
        static_cast<int64_t>(unpacked) <= capacity) {
        const HeapBytes stream = AllocateBytes(streamSize);
        if (!stream) {
            mfSetError("CResFile::mfFileRead - Can't allocate %i memory for file <%s> in resource file <%s>",
                       entry.size, entry.name, m_Name);
            return 0;
        }
        if (mfReadAt(entry.offset + static_cast<int64_t>(kLzssPrefixSize), stream.get(), streamSize) &&
            LzssDecode(stream.get(), static_cast<uint8_t*>(dst), static_cast<int32_t>(streamSize),
                       static_cast<int32_t>(unpacked)) == static_cast<int32_t>(unpacked))
            return static_cast<int32_t>(unpacked);
    }
    mfSetError("CResFile::mfFileRead - Error read file <%s> in resource file <%s>", entry.name, m_Name);
    return 0;
}

uint8_t* CResFile::mfFileRead2(int32_t index, int32_t len)
{
    if (index < 0 || index >= mfGetCount()) {
        mfSetError("CResFile::mfFileRead2 - error file number in resource file <%s>", m_Name);
        return nullptr;
    }
    DirEntry& entry = m_Dir[static_cast<size_t>(index)];
    const auto readFailed = [&]() -> uint8_t* {
        mfSetError("CResFile::mfFileRead2 - Error read file <%s> in resource file <%s>", entry.name, m_Name);
        return nullptr;
    };
    const int64_t start = entry.readPos;
    const int64_t end = start + len;
    // Never read past a pending entry's bytes, nor ask for more than the file holds.
    if (len < 0 || end > std::numeric_limits<int32_t>::max())
        return readFailed();
    if (entry.data ? (start < 0 || end > entry.size) : mfBytesAvailable(entry.offset + start) < len)
        return readFailed();

    HeapBytes buffer = AllocateBytes(static_cast<size_t>(len));
    if (!buffer) {
        mfSetError("CResFile::mfFileRead2 - Can't allocate %i memory for file <%s> in resource file <%s>", len,
                   entry.name, m_Name);
        return nullptr;
    }
    if (entry.data) {
        if (len)
            std::memcpy(buffer.get(), entry.data + start, static_cast<size_t>(len));
    } else if (!mfReadAt(entry.offset + start, buffer.get(), static_cast<size_t>(len))) {
        return readFailed();
    }
    entry.readPos = static_cast<int32_t>(end);
    return buffer.release();
}

uint8_t* CResFile::mfFileRead2(const char* name, int32_t len)
{
    return mfFileRead2(mfFileGetNum(name), len);
}

int32_t CResFile::mfFileReadHead(int32_t index, void* dst, int32_t count)
{
    if (index < 0 || index >= mfGetCount() || count < 0) {
        mfSetError("CResFile::mfFileReadHead - error file number in resource file <%s>", m_Name);
        return 0;
    }
    const DirEntry& entry = m_Dir[static_cast<size_t>(index)];
    const auto readFailed = [&]() {
        mfSetError("CResFile::mfFileReadHead - Error read file <%s> in resource file <%s>", entry.name, m_Name);
        return 0;
    };
    if ((entry.flags & DE_PENDING) || entry.size < 0)
        return readFailed();
    if (entry.method == RC_NONE) {
        const int32_t wanted = std::min(count, entry.size);
        return mfReadAt(entry.offset, dst, static_cast<size_t>(wanted)) ? wanted : readFailed();
    }
    // A packed entry's first `count` bytes come from at most this many stream bytes.
    const int64_t streamSize = std::min<int64_t>(entry.size - static_cast<int64_t>(kLzssPrefixSize),
                                                 LzssMaxEncodedSize(count));
    const size_t bufferSize = static_cast<size_t>(std::max<int64_t>(streamSize, 1));
    const HeapBytes stream = AllocateBytes(bufferSize);
    uint8_t prefix[kLzssPrefixSize];
    if (streamSize < 0 || !stream || !mfReadAt(entry.offset, prefix, sizeof prefix) ||
        !mfReadAt(entry.offset + static_cast<int64_t>(kLzssPrefixSize), stream.get(), static_cast<size_t>(streamSize)))
        return readFailed();
    const uint32_t unpacked = DecodeLzssPrefix(prefix);
    const int32_t wanted = static_cast<int32_t>(std::min<uint32_t>(unpacked, static_cast<uint32_t>(count)));
    const int32_t decoded =
        LzssDecode(stream.get(), static_cast<uint8_t*>(dst), static_cast<int32_t>(streamSize), wanted);
    return decoded == wanted ? decoded : readFailed();
}
