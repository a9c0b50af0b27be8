// Atomic replacement of a file: the one way the tools overwrite a user's file.
#pragma once

#include <string>

// Prefix of the temporary files that ReplaceFileFrom creates beside a target; walks
// skip them because they begin with a dot.
extern const char kReplaceTempPrefix[];

// Replaces `target` with a copy of the file `source`. The copy is written to a new
// temporary file in the target's directory (named kReplaceTempPrefix + target's name +
// a unique suffix), flushed and synced to disk, given the target's permission bits, and
// then renamed over the target, so that at every moment the target is either its old
// or its new contents. A target that is a symbolic link is followed: the file it names
// is replaced. Memory use is bounded: the copy goes in fixed-size chunks.
// On Windows, links are not followed and a read-only target is not replaced (the
// rename fails); nor is a target that another program holds open without delete sharing.
// Returns true on success. On failure the target is untouched, the temporary file is
// removed, and `errorText` describes what failed with the host's error text.
bool ReplaceFileFrom(const std::string& target, const std::string& source, std::string& errorText);

// Replaces `target` with the file `staged`, which is used up. When the two lie on the
// same file system, `staged` is synced, given the target's permission bits (and owner,
// where allowed) and renamed over the target: every byte is written once. Otherwise its
// bytes are copied over the target by ReplaceFileFrom and `staged` is deleted. Either way
// the target is at every moment its old or its new contents, and a link is followed.
// On failure the target is untouched, `staged` is left as it is, and `errorText` says
// what failed.
bool MoveFileOver(const std::string& target, const std::string& staged, std::string& errorText);

// True when both paths name the same existing file (after following links).
bool IsSameFile(const std::string& first, const std::string& second);
