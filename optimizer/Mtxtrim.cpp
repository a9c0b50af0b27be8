// Mtxtrim: compacts every MTX package below the working directory.
#include "archive/ResFile.h"
#include "common/Banner.h"
#include "optimizer/OptimizeTree.h"

#include <cstdio>

int main()
{
    PrintBanner(kTrimTitle);
    // A staging file left by an interrupted run; failing to delete it is no matter.
    std::remove(kOptimizeTempName);
    const int32_t total = OptimizeTree("", 0);
    std::printf("\n %d file(s) is optimized\n", total);
    return 0;
}
