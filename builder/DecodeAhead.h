// Reading and decoding matched files ahead of the builder, on worker threads: decoding is
// most of a build's work, and the records must still be made and written in file order.
#pragma once

#include "builder/DdsTexture.h"
#include "host/FileIO.h"
#include "image/Image.h"

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What one matched file gives the builder: its bytes when it is a DXT DDS file, else the
// decoded image, or why it gives neither.
struct FileIntake {
    bool readFailed = false;
    std::string readError;             // the host's reason, when the file could not be read
    DdsKind dds = DdsKind::NotDds;
    DdsSurface surface;
    FileBytes file;                    // a DXT DDS file's bytes
    std::unique_ptr<CImage> image;     // null when no decoder took the file
    int32_t imageError = IMGERR_NONE;  // the decoders' last error, when none took it
    std::string imageErrorText;
};

// Reads `path` whole and, unless it is a DXT DDS file, hands it to the image decoders.
FileIntake TakeInFile(const std::string& path, size_t maxFileSize);

// Takes in the files of `paths` (an empty path is a file with nothing to take in) on
// `workers` threads, at most `workers` files ahead of the one Next hands out; one worker
// means no thread at all, each file taken in when Next asks for it.
class DecodeAhead {
public:
    DecodeAhead(std::vector<std::string> paths, size_t maxFileSize, unsigned workers);
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // The intake of the next file in order, once it is ready.
    FileIntake Next();

private:
    void Work();

    const std::vector<std::string> m_paths;
    const size_t m_maxFileSize;
    const size_t m_ahead;                      // files started but not yet handed out, at most
    std::vector<std::unique_ptr<FileIntake>> m_ready;
    size_t m_started = 0;                      // files given to workers
    size_t m_handedOut = 0;                    // files Next has returned
    bool m_stopping = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::thread> m_workers;
};
