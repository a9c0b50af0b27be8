// Mtxmake entry point.
#include "builder/Mtxmake.h"

int main(int argc, char* argv[])
{
    return RunMtxmake(argc, argv, stdin);
}
