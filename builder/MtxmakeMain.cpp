// Mtxmake entry point.
#include "builder/Mtxmake.h"
#include "common/FatalError.h"

#include <string>

int main(int argc, char* argv[])
{
    std::string fatalMessage;
    const int status = RunMtxmake(argc, argv, stdin, fatalMessage);
    if (!fatalMessage.empty())
        FatalError("%s", fatalMessage.c_str());
    return status;
}
