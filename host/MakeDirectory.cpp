// Making a directory on POSIX hosts.
#include "host/MakeDirectory.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

bool MakeDir(const std::string& path, std::string& errorText)
{
    if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST)
        return true;
    errorText = std::strerror(errno);
    return false;
}
