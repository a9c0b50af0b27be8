// Mtxdump: lists the entries of MTX packages and writes their textures out as images.
#include "common/Banner.h"
#include "common/FatalError.h"
#include "extractor/DumpOptions.h"
#include "extractor/PackageWalk.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    PrintBanner(kDumpTitle);
    if (argc < 2) {
        PrintDumpUsage();
        return 1;
    }

    DumpSettings settings;
    const DumpParseResult parsed =
        ParseDumpArguments(std::vector<std::string>(argv + 1, argv + argc), settings);
    if (parsed.status == DumpParseStatus::UnknownOption)
        FatalError("Unknown option \"%s\"\n", parsed.badOption.c_str());
    if (parsed.status != DumpParseStatus::Ok)
        FatalError("%s", kDumpShortUsage);

    DumpResult result;
    std::string errorText;
    if (!RunDump(settings, result, errorText))
        FatalError("%s", errorText.c_str());
    return DumpExitStatus(result);
}
