// Mtxtrim: compacts every MTX package below the working directory.
#include "archive/ResFile.h"
#include "common/Banner.h"
#include "host/FileIO.h"
#include "optimizer/OptimizeTree.h"

#include <cstdio>
#include <string>

int main()
{
    PrintBanner(kTrimTitle);
    // A staging file left by an interrupted run; failing to delete it is no matter, and a
    // directory of that name is never removed.
    std::string ignored;
    RemoveFile(kOptimizeTempName, ignored);
    const int32_t total = OptimizeTree("", 0);
    std::printf("\n %d file(s) is optimized\n", total);
    return 0;
}
