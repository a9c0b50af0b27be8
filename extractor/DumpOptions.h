// Mtxdump's command line: run settings, option scan and usage texts.
#pragma once

#include "common/OrderedTasks.h"

#include <string>
#include <vector>

constexpr char kDumpTitle[] = "MTX to TGA/PCX converter v1.2";
constexpr char kDumpShortUsage[] = "usage: Mtxdump [options] mtxfile";

// Settings of one run, final once the arguments are parsed.
struct DumpSettings {
    bool extract = false;
    bool dds = false;           // DXT records are extracted as DDS files
    bool png = false;           // textures are extracted as PNG files
    bool gallery = false;       // a page per package beside its PNG files; sets extract and png
    bool list = false;          // also on when neither +extract nor +list is given
    bool quarkLinks = false;
    std::string outputDirectory;  // when extracting and not empty, it ends in a separator
    std::vector<std::string> patterns;  // the pattern arguments as given, in order
    unsigned jobs = DefaultWorkerCount();  // threads that encode PNG files
};

enum class DumpParseStatus {
    Ok,
    NoPattern,      // options only, or a last "-out" without its directory
    BadJobs,        // "+jobs" without a worker count from 1 to kMaxWorkers after it
    UnknownOption,  // an argument beginning with '-' that is not "-out"
};

struct DumpParseResult {
    DumpParseStatus status = DumpParseStatus::Ok;
    std::string badOption;  // the argument, for UnknownOption
};

// Scans all the arguments (program name excluded). Options may come anywhere and are
// compared without regard to letter case; every other argument that does not begin with
// '-' is a pattern.
DumpParseResult ParseDumpArguments(const std::vector<std::string>& args, DumpSettings& settings);

// The search pattern for a pattern argument: its extension replaced by ".mtx".
std::string DumpSearchPattern(const std::string& patternArgument);

// Prints the usage block shown when the program is run without arguments.
void PrintDumpUsage();
