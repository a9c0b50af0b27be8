// CResFile's whole-package writes: staged creation, compaction and rewriting in compacted
// layout. Every one goes through a staging file beside the package, which replaces the
// package only once it is complete and synced.
#include "archive/ResFile.h"

#include "archive/PackageStaging.h"
#include "archive/ReadWindow.h"
#include "host/FileIO.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Stored bytes are copied in chain order, which in most packages is file order.
constexpr size_t kStoredWindowSize = 1 << 20;

}  // namespace

// A package the user may not write is left exactly as it is.
bool CResFile::mfCheckWritable(const char* caller)
{
    std::string reason;
    if (!PathExists(m_Name) || IsWritableFile(m_Name, reason))
        return true;
    mfSetError("CResFile::%s - Resource file <%s> is read-only (%s)", caller, m_Name, reason.c_str());
    return false;
}

int32_t CResFile::mfCreateStaged()
{
    if (m_Name[0] == '\0') {
        mfSetError("CResFile::Open - No Resource name");
        return 0;
    }
    mfDropPending();
    mfCloseStream();
    m_Dir.Truncate(0);
    if (!mfCheckWritable("Open"))
        return 0;
    auto staging = std::make_unique<PackageStaging>(m_Name);
    std::string reason;
    if (!staging->Create(reason)) {
        mfSetError("CResFile::Open - Can't create resource file <%s> (%s)", m_Name, reason.c_str());
        return 0;
    }
    m_File = staging->stream();
    m_Staging = std::move(staging);
    m_Mode = RA_WRITE | RA_CREATE;
    return mfWriteFreshHeader();
}

int32_t CResFile::mfCommit()
{
    if (!m_Staging) {
        mfSetError("CResFile::mfCommit - Resource file <%s> is not staged", m_Name);
        return 0;
    }
    if (m_PendingCount != 0) {
        mfSetError("CResFile::mfCommit - Unflushed files in resource file <%s>", m_Name);
        return 0;
    }
    std::unique_ptr<PackageStaging> staging = std::move(m_Staging);
    m_File = nullptr;
    mfCloseStream();
    std::string reason;
    if (!staging->Commit(reason)) {
        mfSetError("CResFile::mfCommit - Can't replace resource file <%s> (%s)", m_Name, reason.c_str());
        return 0;
    }
    return 1;
}

CompactEntry CResFile::mfStoredEntry(int32_t index)
{
    const DirEntry& entry = m_Dir[static_cast<size_t>(index)];
    CompactEntry stored;
    std::snprintf(stored.record.name, sizeof stored.record.name, "%s", entry.name);
    stored.record.size = entry.size;
    stored.record.type = entry.type;
    stored.record.method = entry.method;
    if (!m_StoredWindow)
        m_StoredWindow = std::make_shared<ReadWindow>(mfReader(), kStoredWindowSize);
    std::shared_ptr<ReadWindow> window = m_StoredWindow;
    stored.read = [window](int64_t offset, void* dst, size_t count) { return window->Read(offset, dst, count); };
    stored.at = entry.offset;
    return stored;
}

int32_t CResFile::mfOptimize(int32_t /*unused*/)
{
    if (!m_File) {
        mfSetError("CResFile::mfOptimize - Resource file <%s> is not open", m_Name);
        return 0;
    }
    if (m_Dir.empty()) {
        mfSetError("CResFile::mfOptimize - Empty resource file <%s>", m_Name);
        return 0;
    }
    if (!mfCheckWritable("mfOptimize"))
        return 0;
    if (m_PendingCount != 0) {
        mfSetError("CResFile::mfOptimize - Unflushed files in resource file <%s>", m_Name);
        return 0;
    }
    for (const DirEntry& entry : m_Dir) {
        if (entry.size < 0 || entry.offset < 0) {
            mfSetError("CResFile::mfOptimize - Error read data in resource file <%s>", m_Name);
            return 0;
        }
    }
    // Every byte of a record but its links and offset is carried over, so the chain is
    // read again from the file; it must still match the directory.
    PackageHeader header{};
    std::vector<ChainLink> links;
    if (!mfReadChainAgain(header, links))
        return 0;
    std::vector<CompactEntry> entries;
    for (int32_t i = 0; i < mfGetCount(); ++i) {
        entries.push_back(mfStoredEntry(i));
        entries.back().record = links[static_cast<size_t>(i)].record;  // every byte of it carried over
    }
    return mfWriteCompacted("mfOptimize", header, entries, true);
}

int32_t CResFile::mfRewrite(const std::vector<CompactEntry>& entries)
{
    if (!mfCheckWritable("mfRewrite"))
        return 0;
    PackageHeader header = MakeEmptyHeader();
    uint8_t headerBytes[kHeaderSize];
    if (m_File && mfReadAt(0, headerBytes, kHeaderSize))
        header = DecodeHeader(headerBytes);
    return mfWriteCompacted("mfRewrite", header, entries, false);
}

// Writes `entries` in compacted layout through a staging file. When every entry is one of
// this package's own (`ownEntries`, a compaction), the handle is reopened for reading on
// the result, and a package that already holds exactly those bytes is not written at all;
// otherwise the handle is closed.
int32_t CResFile::mfWriteCompacted(const char* caller, const PackageHeader& header,
                                   const std::vector<CompactEntry>& entries, bool ownEntries)
{
    // Offsets are 32-bit: entries that share data in the package could not all fit.
    const int64_t length = CompactedLength(entries);
    if (length > kMaxPackageOffset) {
        mfSetError("CResFile::%s - Resource file <%s> is too large to compact", caller, m_Name);
        return 0;
    }
    const std::vector<uint8_t> directory = EncodeCompactedDirectory(header, entries);
    if (ownEntries && mfIsLaidOutAs(directory, entries, length))
        return 1;

    PackageStaging staging(m_Name);
    std::string reason;
    if (!staging.Create(reason)) {
        mfSetError("CResFile::%s - Can't create resource file <%s> (%s)", caller, StagingPathFor(m_Name).c_str(),
                   reason.c_str());
        return 0;
    }
    switch (WriteCompactedPackage(staging.stream(), directory, entries)) {
    case CompactWriteStatus::Done:
        break;
    case CompactWriteStatus::ReadFailed:
        mfSetError("CResFile::%s - Error read data in resource file <%s>", caller, m_Name);
        return 0;
    case CompactWriteStatus::WriteFailed:
        mfSetError("CResFile::%s - Error write resource file <%s>", caller, StagingPathFor(m_Name).c_str());
        return 0;
    case CompactWriteStatus::OutOfMemory:
        mfSetError("CResFile::%s - Can't allocate memory for resource file <%s>", caller, m_Name);
        return 0;
    }
    // The handle's own stream is closed first: some hosts never replace an open file.
    const bool wasOpen = m_File != nullptr;
    mfCloseStream();
    if (!staging.Commit(reason)) {
        mfSetError("CResFile::%s - Can't replace resource file <%s> (%s)", caller, m_Name, reason.c_str());
        if (wasOpen)
            m_File = std::fopen(m_Name, (m_Mode & RA_WRITE) ? "r+b" : "rb");  // the old package, as before
        return 0;
    }
    // Reopened so that the directory holds the new offsets; an empty package has none,
    // and a rewrite's caller is done with the handle.
    if (entries.empty() || !ownEntries) {
        mfClose();
        return 1;
    }
    char name[kResNameCapacity];
    std::snprintf(name, sizeof name, "%s", m_Name);
    mfClose();
    std::snprintf(m_Name, sizeof m_Name, "%s", name);
    return Open(RA_READ);
}

// True when the open package already is `directory` followed by the entries' bytes in
// place, so that writing it again would change nothing.
bool CResFile::mfIsLaidOutAs(const std::vector<uint8_t>& directory, const std::vector<CompactEntry>& entries,
                             int64_t length)
{
    if (!m_File || FileLength(m_File) != length)
        return false;
    std::vector<uint8_t> present(directory.size());
    if (!mfReadAt(0, present.data(), present.size()) || present != directory)
        return false;
    // The records point at the compacted places, so each entry's bytes must come from there.
    int64_t dataPosition = CompactedDataOffset(static_cast<int64_t>(entries.size()));
    for (const CompactEntry& entry : entries) {
        if (entry.at != dataPosition)
            return false;
        dataPosition += entry.record.size;
    }
    return true;
}

bool CResFile::mfReadChainAgain(PackageHeader& header, std::vector<ChainLink>& links)
{
    uint8_t headerBytes[kHeaderSize];
    if (!mfReadAt(0, headerBytes, kHeaderSize)) {
        mfSetError("CResFile::mfOptimize - Error read header in resource file <%s>", m_Name);
        return false;
    }
    header = DecodeHeader(headerBytes);
    if (header.entryCount != mfGetCount()) {
        mfSetError("CResFile::mfOptimize - Error number directory files in resource file <%s>", m_Name);
        return false;
    }
    links.clear();
    const ChainStatus status = WalkChain(mfReader(), header.firstRecord, m_Dir.size(),
                                         [&links](const ChainLink& link) { links.push_back(link); });
    bool matches = status == ChainStatus::Complete && links.size() == m_Dir.size();
    for (size_t i = 0; matches && i < links.size(); ++i)
        matches = links[i].record.size == m_Dir[i].size && links[i].record.offset == m_Dir[i].offset;
    if (!matches)
        mfSetError("CResFile::mfFlush - Error read directory in resource file <%s>", m_Name);
    return matches;
}
