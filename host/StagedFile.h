// Files written beside a target and moved over it whole, the one way the tools replace a
// user's file, and scratch files that vanish with the process.
#pragma once

#include <cstdio>
#include <string>

// The file a write to `path` really reaches: a symbolic link's final target, else `path`
// itself. Windows follows no links here.
std::string ResolveLinks(const std::string& path);

// Creates the new file `path` (never an existing one) for reading and writing, with the
// host's default permissions. While the stream is open, RemoveStagingLeftover leaves the
// file alone, so a second run cannot delete the file a first run is still writing.
// Null, with the host's error text, on failure.
std::FILE* CreateStagingFile(const std::string& path, std::string& errorText);

// Closes `stream` and deletes the staging file `path` it writes, in the order that never
// deletes another run's file of the same name.
void DiscardStagingFile(std::FILE* stream, const std::string& path);

// Deletes `path`, a staging file a killed run left behind; a file that a live run is
// still writing, or that cannot be deleted, stays.
void RemoveStagingLeftover(const std::string& path);

// Turns the staged file `staged`, written through `stream`, into `target`: flushes and
// syncs it, gives it the permission bits (and owner, where allowed) of an existing target,
// renames it over the target, and closes the stream. At every moment the target holds
// either its old or its new bytes. Returns false, with the host's error text, when any
// step fails; `staged` is then deleted and the target is untouched.
bool MoveStagedOver(std::FILE* stream, const std::string& staged, const std::string& target,
                    std::string& errorText);

// A scratch file in `directory` ("" for the working directory), open for reading and
// writing, that disappears when it is closed or the process ends, however it ends.
// Null, with the host's error text, on failure.
std::FILE* CreateScratchFile(const std::string& directory, std::string& errorText);
