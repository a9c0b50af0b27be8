// The builder's read-ahead: a few worker threads, a window of files ahead of the builder,
// and results handed out strictly in file order.
#include "builder/DecodeAhead.h"

#include <utility>

FileIntake TakeInFile(const std::string& path, size_t maxFileSize)
{
    FileIntake intake;
    if (path.empty())
        return intake;
    if (!ReadWholeFile(path, maxFileSize, intake.file, intake.readError)) {
        intake.readFailed = true;
        return intake;
    }
    intake.dds = ReadDdsSurface(intake.file.data.get(), intake.file.size, intake.surface);
    if (intake.dds == DdsKind::Dxt)
        return intake;
    intake.image.reset(LoadImageMemory(intake.file.data.get(), static_cast<uint32_t>(intake.file.size)));
    intake.imageError = g_ImageError;
    intake.imageErrorText = g_ImageErrorText;
    intake.file = FileBytes();  // the image holds what the builder needs
    return intake;
}

DecodeAhead::DecodeAhead(std::vector<std::string> paths, size_t maxFileSize, unsigned workers)
    : m_paths(std::move(paths)), m_maxFileSize(maxFileSize), m_ahead(workers), m_ready(m_paths.size())
{
    if (workers <= 1)
        return;
    for (unsigned i = 0; i < workers; ++i)
        m_workers.emplace_back(&DecodeAhead::Work, this);
}

DecodeAhead::~DecodeAhead()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

void DecodeAhead::Work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] {
            return m_stopping || (m_started < m_paths.size() && m_started < m_handedOut + m_ahead);
        });
        if (m_stopping)
            return;
        const size_t index = m_started++;
        lock.unlock();
        auto intake = std::make_unique<FileIntake>(TakeInFile(m_paths[index], m_maxFileSize));
        lock.lock();
        m_ready[index] = std::move(intake);
        m_changed.notify_all();
    }
}

FileIntake DecodeAhead::Next()
{
    if (m_workers.empty())
        return TakeInFile(m_paths[m_handedOut++], m_maxFileSize);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_ready[m_handedOut] != nullptr; });
    std::unique_ptr<FileIntake> intake = std::move(m_ready[m_handedOut++]);
    lock.unlock();
    m_changed.notify_all();  // the window moved on
    return std::move(*intake);
}
