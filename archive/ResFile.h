// CResFile: the handle through which every tool opens, reads, extends and compacts
// one MTX package.
#pragma once

#include "archive/PackageFormat.h"

#include <cstdint>
#include <cstdio>
#include <vector>

// Access modes for Open.
constexpr int32_t RA_READ = 1;
constexpr int32_t RA_WRITE = 2;
constexpr int32_t RA_CREATE = 4;

// DirEntry flags.
constexpr int32_t DE_PENDING = 1;  // added and not yet written

constexpr size_t kResNameCapacity = 1024;

// The staging file of mfOptimize, in the process's working directory.
constexpr char kOptimizeTempName[] = "_Temp";
constexpr size_t kErrorCapacity = 1024;

// One directory entry in memory; also what a caller fills and hands to mfFileAdd.
struct DirEntry {
    char name[kNameSize];
    int32_t size;
    int32_t offset;
    int32_t readPos;
    int32_t type;
    int32_t method;
    uint8_t* data;  // caller's bytes while the entry is pending
    int32_t flags;
};

class CResFile {
public:
    explicit CResFile(const char* name);
    ~CResFile();
    CResFile(const CResFile&) = delete;
    CResFile& operator=(const CResFile&) = delete;

    int32_t Open(int32_t mode);
    int32_t mfClose();
    const char* mfGetError() const;

    // Lookup and reading.
    int32_t mfFileGetNum(const char* name);
    int32_t mfFileRead(int32_t index, void* dst);
    int32_t mfFileRead(const char* name, void* dst);
    // As above, but never writes more than `capacity` bytes: an entry that does not fit
    // fails with the short-read message.
    int32_t mfFileRead(int32_t index, void* dst, int64_t capacity);
    uint8_t* mfFileRead2(int32_t index, int32_t len);
    uint8_t* mfFileRead2(const char* name, int32_t len);

    // Adding and flushing.
    int32_t mfFileAdd(const DirEntry* entry);
    int32_t mfFlush();

    // Compaction.
    int32_t mfOptimize(int32_t unused);

    // Directory access.
    int32_t mfGetCount() const { return static_cast<int32_t>(m_Dir.size()); }
    int32_t mfGetCapacity() const { return m_Capacity; }
    const DirEntry& mfGetEntry(int32_t index) const { return m_Dir[static_cast<size_t>(index)]; }
    const char* mfGetName() const { return m_Name; }

private:
    void mfSetError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void mfReleasePending();
    void mfCloseStream();
    int32_t mfLoadDirectory();
    int64_t mfBytesAvailable(int64_t position);
    bool mfReadAt(int64_t position, void* dst, size_t count);
    bool mfWriteAt(int64_t position, const void* src, size_t count);
    int32_t mfLoadChainTail();
    int32_t mfAbandonFlush();

    char m_Name[kResNameCapacity];
    std::FILE* m_File = nullptr;
    std::vector<DirEntry> m_Dir;
    int32_t m_Capacity = 0;
    int32_t m_Mode = 0;
    char m_Error[kErrorCapacity];
    // The chain's last record on disk, the record count, the header and the file's end,
    // learnt by the first flush after Open and kept current by every later one.
    bool m_TailKnown = false;
    int32_t m_TailOffset = kNoRecord;
    int32_t m_DiskCount = 0;
    uint8_t m_TailRecord[kRecordSize] = {};
    PackageHeader m_DiskHeader{};
    int64_t m_EndOffset = 0;
};
