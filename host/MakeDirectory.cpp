#include "host/MakeDirectory.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

MakeDirStatus MakeDir(const std::string& path, std::string& errorText)
{
    if (mkdir(path.c_str(), 0777) == 0)
        return MakeDirStatus::Created;
    if (errno == EEXIST)
        return MakeDirStatus::AlreadyExists;
    errorText = std::strerror(errno);
    return MakeDirStatus::Failed;
}
