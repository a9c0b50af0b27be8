#include "common/Banner.h"

#include <cstdio>

const char kMakerNotice[] = " - mtxtools, free texture package tools (2026)";

void PrintBanner(const char* title)
{
    std::printf("%s%s\n \n", title, kMakerNotice);
}
