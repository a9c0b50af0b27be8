// Mtxdump's option scan and usage texts.
#include "extractor/DumpOptions.h"

#include "archive/PackageFormat.h"
#include "common/StringUtil.h"

#include <cstdio>

namespace {

bool IsOption(const std::string& arg, const char* option)
{
    return EqualsIgnoringCase(arg.c_str(), option);
}

bool EndsInSeparator(const std::string& path)
{
    return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

}  // namespace

DumpParseResult ParseDumpArguments(const std::vector<std::string>& args, DumpSettings& settings)
{
    DumpParseResult result;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (IsOption(arg, "+extract")) {
            settings.extract = true;
        } else if (IsOption(arg, "+dds")) {
            settings.dds = true;
        } else if (IsOption(arg, "+png")) {
            settings.png = true;
        } else if (IsOption(arg, "+gallery")) {
            settings.gallery = settings.extract = settings.png = true;
        } else if (IsOption(arg, "+list")) {
            settings.list = true;
        } else if (IsOption(arg, "+quarklinks")) {
            settings.quarkLinks = true;
        } else if (IsOption(arg, "+jobs")) {
            if (i + 1 == args.size() || !ParseWorkerCount(args[++i].c_str(), settings.jobs)) {
                result.status = DumpParseStatus::BadJobs;
                return result;
            }
        } else if (IsOption(arg, "-out")) {
            if (i + 1 == args.size()) {
                result.status = DumpParseStatus::NoPattern;
                return result;
            }
            settings.outputDirectory = args[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            result.status = DumpParseStatus::UnknownOption;
            result.badOption = arg;
            return result;
        } else {
            settings.patterns.push_back(arg);
        }
    }
    if (settings.patterns.empty()) {
        result.status = DumpParseStatus::NoPattern;
        return result;
    }
    if (!settings.extract && !settings.list)
        settings.list = true;
    if (settings.extract && !settings.outputDirectory.empty() &&
        !EndsInSeparator(settings.outputDirectory))
        settings.outputDirectory += '/';
    return result;
}

std::string DumpSearchPattern(const std::string& patternArgument)
{
    return AddDefaultExtension(StripExtension(patternArgument), kPackageExtension);
}

void PrintDumpUsage()
{
    std::fputs("usage: Mtxdump [options] mtxfile (or *.*)\n"
               "options:\n"
               "   +extract\n"
               "   +dds\n"
               "   +png\n"
               "   +gallery\n"
               "   +list\n"
               "   +quarklinks\n"
               "   +jobs N\n"
               "   -out\n",
               stdout);
}
