// Mtxtrim: compacts every MTX package below the working directory or a given folder.
#include "common/Banner.h"
#include "optimizer/OptimizeTree.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kExitSomeFailed = 3;

}  // namespace

int main(int argc, char* argv[])
{
    PrintBanner(kTrimTitle);
    std::string prefix;
    if (!TrimPrefixFor(std::vector<std::string>(argv + 1, argv + argc), prefix)) {
        std::printf("%s", kTrimUsage);
        return 1;
    }
    int32_t failures = 0;
    const int32_t total = OptimizeTree(prefix.c_str(), 0, failures);
    std::printf("\n %d file(s) is optimized\n", total);
    return failures > 0 ? kExitSomeFailed : 0;
}
