// The staging writer: staging file names, leftovers of killed runs, commit and discard.
#include "archive/PackageStaging.h"

#include "host/DirectorySearch.h"
#include "host/StagedFile.h"


namespace {

// Room for "." and the suffix within the 255 bytes hosts allow for one name.
constexpr size_t kMaxStagedStem = 240;

}  // namespace

std::string StagingPathFor(const std::string& packagePath)
{
    const std::string target = ResolveLinks(packagePath);
    const std::string directory = PatternDirectory(target);
    const std::string name = target.substr(directory.size());
    return directory + "." + name.substr(0, kMaxStagedStem) + kStagingSuffix;
}

void RemoveLeftoverStagingOf(const std::string& packagePath)
{
    ::RemoveStagingLeftover(StagingPathFor(packagePath));
}

PackageStaging::PackageStaging(const std::string& packagePath)
    : m_target(ResolveLinks(packagePath)), m_path(StagingPathFor(packagePath))
{
}

PackageStaging::~PackageStaging()
{
    Discard();
}

bool PackageStaging::Create(std::string& errorText)
{
    Discard();
    ::RemoveStagingLeftover(m_path);
    m_stream = CreateStagingFile(m_path, errorText);
    return m_stream != nullptr;
}

bool PackageStaging::Commit(std::string& errorText)
{
    if (!m_stream)
        return false;
    std::FILE* stream = m_stream;
    m_stream = nullptr;
    return MoveStagedOver(stream, m_path, m_target, errorText);
}

void PackageStaging::Discard()
{
    if (!m_stream)
        return;
    DiscardStagingFile(m_stream, m_path);
    m_stream = nullptr;
}
