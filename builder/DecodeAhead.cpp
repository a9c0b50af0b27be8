// The builder's read-ahead: a window of files ahead of the builder, taken in on worker
// threads and handed out strictly in file order.
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
    : m_paths(std::move(paths)), m_maxFileSize(maxFileSize), m_intakes(m_paths.size()), m_tasks(workers)
{
}

FileIntake DecodeAhead::Next()
{
    while (m_started < m_paths.size() && m_started < m_handedOut + m_tasks.Workers()) {
        const size_t index = m_started++;
        m_tasks.Add([this, index] { m_intakes[index] = TakeInFile(m_paths[index], m_maxFileSize); });
    }
    m_tasks.FinishFirst();
    return std::move(m_intakes[m_handedOut++]);
}
