// File access the other layers need beyond buffered streams: positioned reads and writes
// on an open stream, its length and durability, whole-file reads and file removal.
//
// Failing, for every host function: a success value plus the host's error text. Running
// out of memory: a file's contents, whose size the file decides, are read into a block
// from common/HeapBuffer.h, and a failed allocation is an ordinary failure with the host's
// text for it. Paths, error texts and directory listings are standard strings and lists,
// whose exhaustion is not caught. Nothing here throws for memory or catches it.
#pragma once

#include "common/HeapBuffer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// A run of bytes for WriteAt.
struct ByteSpan {
    const void* data;
    size_t size;
};

// Reads exactly `count` bytes at `offset` of the stream's file, past the stream's buffer;
// false when the file holds fewer or the read fails.
bool ReadAt(std::FILE* file, int64_t offset, void* dst, size_t count);

// Writes the spans back to back at `offset` of the stream's file, past the stream's
// buffer (flush the stream first when it holds written bytes). Returns how many bytes
// reached the file: fewer than asked when the disk fills up or a write fails.
size_t WriteAt(std::FILE* file, int64_t offset, const ByteSpan* spans, size_t spanCount);

// The length of the stream's file, or -1 when it cannot be learnt.
int64_t FileLength(std::FILE* file);

// A whole file in one block.
struct FileBytes {
    HeapBytes data;
    size_t size = 0;
};

// Reads the regular file `path` whole, as long as it is when opened. False, with the
// host's error text, when it cannot be read, is not a regular file (a pipe would block)
// or is longer than `maxSize`.
bool ReadWholeFile(const std::string& path, size_t maxSize, FileBytes& bytes, std::string& errorText);

// True when `path` names an existing file or directory.
bool PathExists(const std::string& path);

// True when both paths name the same existing file (after following links).
bool IsSameFile(const std::string& first, const std::string& second);

// True when `path` names a folder (or a link to one).
bool IsFolder(const std::string& path);

// True when the file `path` may be rewritten: the user may write it, and it is not
// marked read-only for everyone (a file without any write permission bit counts as
// read-only, also for a user whom the system would let write it). Otherwise false, with
// the host's reason in `reason`.
bool IsWritableFile(const std::string& path, std::string& reason);

// Deletes the file `path`; never a directory. False, with the host's error text, when
// there is no such file or it cannot be deleted.
bool RemoveFile(const std::string& path, std::string& errorText);
