// The builder's run: command line, enumeration, DDS and image intake, and the records'
// way into a new package or into an update of an existing one.
#include "builder/Mtxmake.h"

#include "archive/MipTexture.h"
#include "archive/PackageStaging.h"
#include "archive/ResFile.h"
#include "builder/DdsTexture.h"
#include "builder/DecodeAhead.h"
#include "builder/MipConvert.h"
#include "builder/PackageUpdate.h"
#include "builder/RecordSink.h"
#include "common/Banner.h"
#include "common/OrderedTasks.h"
#include "common/StringUtil.h"
#include "host/AskYesNo.h"
#include "host/DirectorySearch.h"
#include "host/FileIO.h"
#include "image/Image.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>

const char kMtxmakeTitle[] = "Img (Gif,Jpg,Pcx,Png,Tga,DDS) to MTX package converter v1.0";

namespace {

constexpr char kToolName[] = "Mtxmake";
constexpr size_t kMaxTextureName = kMipNameSize - 1;
constexpr size_t kMaxFileSize = UINT32_MAX;  // the image loader takes 32-bit sizes

// Why a matched file gives no record.
constexpr char kNotAnImage[] = "not an image this tool reads";
constexpr char kUnknownDxt[] = "a DDS file whose block format is not DXT1, DXT3 or DXT5";
constexpr char kNoPixels[] = "an image without pixels";

// What the answers to the palette question do, for hosts that show it in a box.
constexpr char kPaletteYes[] =
    "Yes: palette images share this image's palette, stored once; one whose colours differ keeps its own.";
constexpr char kPaletteNo[] = "No: every palette image keeps its own palette, 1 KB more each.";

enum class MakeMode { Create, Update, Sync, Remove };

struct MakeSettings {
    MakeMode mode = MakeMode::Create;
    std::string packageName;
    std::vector<std::string> patterns;
    unsigned jobs = DefaultWorkerCount();  // threads that read and decode files ahead
};

void PrintUsage()
{
    std::printf("usage: Mtxmake packname file(s) (*.* for all files)\n"
                "       Mtxmake +update packname file(s)  add new textures, replace changed ones\n"
                "       Mtxmake +sync packname file(s)    as +update, and remove textures no file gave\n"
                "       Mtxmake +remove packname name(s)  remove the entries whose names match\n"
                "       +jobs N (anywhere) reads and decodes on N threads; the default is one per core\n");
}

// The patterns joined as they were given, for messages about all of them.
std::string JoinedPatterns(const std::vector<std::string>& patterns)
{
    std::string joined;
    for (const std::string& pattern : patterns)
        joined += (joined.empty() ? "" : " ") + pattern;
    return joined;
}

// Records go straight into the new package: each is added and flushed at once, and the
// shared "Palette" goes out with the flush of the record that follows it.
class CreateSink : public RecordSink {
public:
    explicit CreateSink(CResFile& package) : m_Package(package) {}
    void Announce(const char* line) override { std::printf("%s", line); }
    bool PaletteRule(PaletteChoice& choice, std::string& /*fatalMessage*/) override
    {
        choice = PaletteChoice();  // a new package leaves it to the user
        return true;
    }
    bool Put(const char* name, int32_t type, const uint8_t* data, size_t size, const std::string& /*fileName*/,
             std::string& fatalMessage) override
    {
        // Lookups find the first entry of a name, so a later one would be out of reach.
        if (m_Package.mfFileGetNum(name) >= 0)
            std::printf("Warning: Duplicate texture name %s\n", name);
        DirEntry entry{};
        std::strncpy(entry.name, name, sizeof entry.name - 1);
        entry.size = static_cast<int32_t>(size);
        entry.type = type;
        entry.method = RC_NONE;
        entry.data = data;
        const int32_t before = m_Package.mfGetCount();
        const bool added = m_Package.mfFileAdd(&entry) == before + 1;
        if (added && type == RT_TEXTURE)
            ++m_Records;
        if (added && (type != RT_TEXTURE || m_Package.mfFlush() == 1))
            return true;
        fatalMessage = PackageFailure(m_Package);
        return false;
    }
    int32_t records() const { return m_Records; }

private:
    CResFile& m_Package;
    int32_t m_Records = 0;
};

// One run's record making: the palette decision and the intake of one file. Each step
// returns false when the run must stop, with the message in fatalMessage().
class CPackageBuilder {
public:
    CPackageBuilder(RecordSink& sink, std::FILE* answers) : m_Sink(sink), m_Answers(answers) {}

    // Makes the record of one matched file from what was read and decoded of it.
    bool mfAddMatch(const std::string& fileName, FileIntake intake);
    const std::string& fatalMessage() const { return m_FatalMessage; }

private:
    bool mfAddDds(FileBytes file, const DdsSurface& surface, const std::string& fileName);
    bool mfAddImage(std::unique_ptr<CImage> image, const std::string& fileName);
    bool mfAskPalette(const CImage& image, const std::string& fileName);
    bool mfSkip(const std::string& fileName, const char* reason);
    void mfSetTextureName(MipTexture& header, const std::string& fileName, const char* suffix);
    bool mfAddRecord(const char* name, RecordBuffer record, size_t size, const std::string& fileName);
    bool mfFail(std::string message);

    RecordSink& m_Sink;
    std::FILE* m_Answers;
    bool m_PaletteAsked = false;           // decided, by the user or by the package
    bool m_SharedPalette = false;
    RgbaPalette m_Palette{};               // the shared palette, once chosen
    std::string m_FatalMessage;
};

bool CPackageBuilder::mfAddMatch(const std::string& fileName, FileIntake intake)
{
    if (intake.readFailed)
        return mfSkip(fileName, intake.readError.c_str());
    if (intake.dds == DdsKind::Dxt)
        return mfAddDds(std::move(intake.file), intake.surface, fileName);
    if (!intake.image) {
        // A PNG that failed past its signature names its fault; other files no decoder took,
        // a DDS file of another block format among them.
        const char* rejection = intake.dds == DdsKind::UnknownCode ? kUnknownDxt : kNotAnImage;
        return mfSkip(fileName, intake.imageError == IMGERR_NOMEMORY ? intake.imageErrorText.c_str() : rejection);
    }
    return mfAddImage(std::move(intake.image), fileName);
}

// Every matched file that gives no record says so, with the reason, on a line of its own.
bool CPackageBuilder::mfSkip(const std::string& fileName, const char* reason)
{
    std::printf("Skip file <%s>: %s\n", fileName.c_str(), reason);
    return true;
}

bool CPackageBuilder::mfAddDds(FileBytes file, const DdsSurface& surface, const std::string& fileName)
{
    const std::string line = std::string("Add ") + surface.code + " texture <" + fileName + ">...\n";
    m_Sink.Announce(line.c_str());
    MipTexture header{};
    mfSetTextureName(header, fileName, kDxtNameSuffix);
    size_t recordSize = 0;
    RecordBuffer record = BuildDxtRecord(file.data.get(), file.size, surface, header, recordSize);
    file.data.reset();
    return mfAddRecord(header.name, std::move(record), recordSize, fileName);
}

bool CPackageBuilder::mfAddImage(std::unique_ptr<CImage> image, const std::string& fileName)
{
    if (!CanBuildMipTexture(*image))
        return mfSkip(fileName, kNoPixels);
    const std::string line = "Add file <" + fileName + ">...\n";
    m_Sink.Announce(line.c_str());

    const bool indexed = image->m_Format == IMG_PCX || image->m_Format == IMG_GIF;
    if (indexed && !m_PaletteAsked && !mfAskPalette(*image, fileName))
        return false;
    // An image whose own colours differ from the shared palette where its pixels use it
    // keeps its own palette, so that it is drawn in its own colours.
    bool ownPalette = indexed && !m_SharedPalette;
    if (indexed && m_SharedPalette && UsesOtherColours(*image, m_Palette)) {
        std::printf("Warning: Colours of <%s> differ from the shared palette; it keeps its own\n", fileName.c_str());
        ownPalette = true;
    }

    MipTexture header{};
    header.width = image->m_Width;
    header.height = image->m_Height;
    header.ownPalette = ownPalette ? 1 : 0;
    mfSetTextureName(header, fileName, "");
    size_t recordSize = 0;
    RecordBuffer record = BuildMipTexture(*image, header, recordSize, ownPalette);
    image.reset();
    return mfAddRecord(header.name, std::move(record), recordSize, fileName);
}

// Decides once how palette images are stored: as the package says, or by asking. On yes,
// the image's palette becomes the entry "Palette", which goes into the package just
// before the image's record.
bool CPackageBuilder::mfAskPalette(const CImage& image, const std::string& fileName)
{
    m_PaletteAsked = true;
    PaletteChoice choice;
    if (!m_Sink.PaletteRule(choice, m_FatalMessage))
        return false;
    if (choice.decided) {
        m_SharedPalette = choice.shared;
        m_Palette = choice.palette;
        return true;
    }
    const std::string explanation = "The first palette image is " + fileName + ".\n\n" + kPaletteYes + "\n" + kPaletteNo;
    m_SharedPalette = AskYesNo(kToolName, "Use shared palette", explanation.c_str(), m_Answers);
    const RgbaPalette* palette = m_SharedPalette ? ExpandPalette(image.m_pPalette, image.m_TransIndex) : nullptr;
    if (!palette)
        return true;
    m_Palette = *palette;
    return m_Sink.Put(kPaletteEntryName, RT_PALETTE, reinterpret_cast<const uint8_t*>(palette), kRgbaPaletteSize, "",
                      m_FatalMessage);
}

void CPackageBuilder::mfSetTextureName(MipTexture& header, const std::string& fileName,
                                       const char* suffix)
{
    if (!MakeTextureName(fileName, suffix, header.name))
        std::printf("Warning: Texture name of <%s> cut to <%s>\n", fileName.c_str(), header.name);
}

bool CPackageBuilder::mfAddRecord(const char* name, RecordBuffer record, size_t size, const std::string& fileName)
{
    if (!record)
        return mfFail(kRecordAllocationFailed);
    return m_Sink.Put(name, RT_TEXTURE, record.get(), size, fileName, m_FatalMessage);
}

bool CPackageBuilder::mfFail(std::string message)
{
    m_FatalMessage = std::move(message);
    return false;
}

bool IsOption(const char* arg)
{
    return arg[0] == '+';
}

// Options may stand anywhere, in any letter case; the first other argument is the package
// name and the rest are patterns. False when the line is no valid one, with the unknown
// option in `badOption` when that is why.
bool ParseMakeArguments(int argc, const char* const argv[], MakeSettings& settings, std::string& badOption)
{
    int modes = 0;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!IsOption(arg)) {
            words.emplace_back(arg);
            continue;
        }
        if (EqualsIgnoringCase(arg, "+jobs")) {
            if (i + 1 == argc || !ParseWorkerCount(argv[++i], settings.jobs))
                return false;
            continue;
        }
        ++modes;
        if (EqualsIgnoringCase(arg, "+update")) {
            settings.mode = MakeMode::Update;
        } else if (EqualsIgnoringCase(arg, "+sync")) {
            settings.mode = MakeMode::Sync;
        } else if (EqualsIgnoringCase(arg, "+remove")) {
            settings.mode = MakeMode::Remove;
        } else {
            badOption = arg;
            return false;
        }
    }
    if (modes > 1 || words.size() < 2 || !MakePackageName(words[0].c_str(), settings.packageName))
        return false;
    for (size_t i = 1; i < words.size(); ++i) {
        if (words[i].size() > kMaxPathLength)
            return false;
        settings.patterns.push_back(words[i]);
    }
    return true;
}

// One matched file and the folder it was found in.
struct Match {
    std::string directory;
    FoundFile file;
};

// Every file the patterns match, each once, in one order: names compared without letter
// case, ties in byte order, then by folder. A pattern that matches nothing is named.
std::vector<Match> FindMatches(const std::vector<std::string>& patterns, bool& everyPatternMatched)
{
    std::vector<Match> matches;
    everyPatternMatched = true;
    for (const std::string& pattern : patterns) {
        DirectorySearch search;
        FoundFile found;
        bool any = false;
        if (search.Start(pattern)) {
            while (search.Next(found)) {
                matches.push_back({search.directory(), found});
                any = true;
            }
        }
        if (!any) {
            std::printf("Warning: no file matches %s\n", pattern.c_str());
            everyPatternMatched = false;
        }
    }
    const auto key = [](const Match& match) {
        std::string folded = match.file.name;
        std::transform(folded.begin(), folded.end(), folded.begin(), FoldAsciiCase);
        return std::make_tuple(folded, match.file.name, match.directory);
    };
    std::stable_sort(matches.begin(), matches.end(), [&](const Match& a, const Match& b) { return key(a) < key(b); });
    const auto same = [](const Match& a, const Match& b) {
        return a.directory == b.directory && a.file.name == b.file.name;
    };
    matches.erase(std::unique(matches.begin(), matches.end(), same), matches.end());
    return matches;
}

// Whether a matched file is offered to the decoders at all; the others are passed over
// without a word. Pipes and devices are among them: opening one could block the run.
bool IsCandidate(const Match& match, const std::string& packageName)
{
    const std::string path = match.directory + match.file.name;
    return !match.file.isDirectory && match.file.isRegular && match.file.name[0] != '.' &&
           !EqualsIgnoringCase(path.c_str(), packageName.c_str());
}

// Takes every candidate in file order, its bytes read and decoded ahead on `workers` threads.
bool AddAll(CPackageBuilder& builder, const MakeSettings& settings, const std::vector<Match>& matches,
            std::string& fatalMessage)
{
    std::vector<std::string> paths;
    for (const Match& match : matches)
        paths.push_back(IsCandidate(match, settings.packageName) ? match.directory + match.file.name : "");
    DecodeAhead ahead(paths, kMaxFileSize, settings.jobs);
    for (size_t i = 0; i < matches.size(); ++i) {
        FileIntake intake = ahead.Next();
        if (paths[i].empty())
            continue;
        if (!builder.mfAddMatch(matches[i].file.name, std::move(intake))) {
            fatalMessage = builder.fatalMessage();
            return false;
        }
    }
    return true;
}

int NoImage(const MakeSettings& settings)
{
    std::printf("Warning: no image among the files matching %s\n", JoinedPatterns(settings.patterns).c_str());
    return 2;
}

int CreatePackage(const MakeSettings& settings, const std::vector<Match>& matches, bool everyPatternMatched,
                  std::FILE* answers, std::string& fatalMessage)
{
    CResFile package(settings.packageName.c_str());
    if (package.mfCreateStaged() != 1) {
        fatalMessage = PackageFailure(package);
        return 1;
    }
    CreateSink sink(package);
    CPackageBuilder builder(sink, answers);
    if (!AddAll(builder, settings, matches, fatalMessage))
        return 1;
    if (sink.records() == 0)
        return NoImage(settings);  // the staged package goes with the handle
    if (package.mfCommit() != 1) {
        fatalMessage = PackageFailure(package);
        return 1;
    }
    std::printf("\nDone produce package <%s>\n\n", settings.packageName.c_str());
    return everyPatternMatched ? 0 : 2;
}

// Opens the package an update mode works on: the existing one for reading, or none when
// there is no file of that name (an empty one counts as none). False, with the message,
// when it exists but cannot be read or may not be written.
bool OpenExisting(CResFile& package, std::string& fatalMessage)
{
    if (!PathExists(package.mfGetName()))
        return true;
    if (!package.mfCheckWritable("Open")) {
        fatalMessage = PackageFailure(package);
        return false;
    }
    if (package.Open(RA_READ) == 1 || package.mfIsEmptyPackage())
        return true;
    fatalMessage = PackageFailure(package);
    return false;
}

void PrintUpdateEnd(bool changed, const std::string& packageName)
{
    if (changed)
        std::printf("\nDone update package <%s>\n\n", packageName.c_str());
    else
        std::printf("\nNothing to change in package <%s>\n\n", packageName.c_str());
}

int UpdatePackage(const MakeSettings& settings, const std::vector<Match>& matches, bool everyPatternMatched,
                  std::FILE* answers, std::string& fatalMessage)
{
    CResFile package(settings.packageName.c_str());
    if (!OpenExisting(package, fatalMessage))
        return 1;
    UpdateSink sink(package);
    CPackageBuilder builder(sink, answers);
    if (!AddAll(builder, settings, matches, fatalMessage))
        return 1;
    if (sink.records() == 0)
        return NoImage(settings);
    bool changed = false;
    if (!sink.Finish(settings.mode == MakeMode::Sync, changed, fatalMessage))
        return 1;
    PrintUpdateEnd(changed, settings.packageName);
    return everyPatternMatched ? 0 : 2;
}

int RemoveEntries(const MakeSettings& settings, std::string& fatalMessage)
{
    CResFile package(settings.packageName.c_str());
    if (!package.mfCheckWritable("Open") || package.Open(RA_READ) != 1) {
        fatalMessage = PackageFailure(package);
        return 1;
    }
    bool changed = false;
    const int status = RemoveMatchingEntries(package, settings.patterns, changed, fatalMessage);
    if (changed)
        PrintUpdateEnd(changed, settings.packageName);
    return status;
}

}  // namespace

bool MakePackageName(const char* argument, std::string& packageName)
{
    if (std::strlen(argument) > kMaxPathLength)
        return false;
    const std::string stem = StripExtension(std::string(argument));
    if (stem.empty())
        return false;
    const std::string name = AddDefaultExtension(stem, kPackageExtension);
    if (name.size() > kMaxPathLength)
        return false;
    packageName = name;
    return true;
}

bool MakeTextureName(const std::string& fileName, const char* suffix, char* name)
{
    std::string stem = StripExtension(fileName);
    const size_t suffixLength = std::strlen(suffix);
    const bool fits = stem.size() + suffixLength <= kMaxTextureName;
    if (!fits)
        stem.resize(kMaxTextureName - suffixLength);
    const std::string textureName = stem + suffix;
    std::memset(name, 0, kMipNameSize);
    std::memcpy(name, textureName.data(), textureName.size());
    return fits;
}

int RunMtxmake(int argc, const char* const argv[], std::FILE* answers, std::string& fatalMessage)
{
    PrintBanner(kMtxmakeTitle);
    MakeSettings settings;
    std::string badOption;
    if (!ParseMakeArguments(argc, argv, settings, badOption)) {
        if (!badOption.empty()) {
            fatalMessage = "Unknown option \"" + badOption + "\"\n";
            return 1;
        }
        PrintUsage();
        return 1;
    }
    // A staging file a killed run left beside the package goes first, whatever this run does.
    RemoveLeftoverStagingOf(settings.packageName);
    const bool creating = settings.mode == MakeMode::Create;
    std::printf(creating ? "\nCreate package: <%s>...\n\n" : "\nUpdate package: <%s>...\n\n",
                settings.packageName.c_str());
    if (settings.mode == MakeMode::Remove)
        return RemoveEntries(settings, fatalMessage);

    // The files are found before the package is touched, so that a pattern that matches
    // nothing leaves an existing package alone.
    bool everyPatternMatched = true;
    const std::vector<Match> matches = FindMatches(settings.patterns, everyPatternMatched);
    if (matches.empty())
        return 2;
    if (creating)
        return CreatePackage(settings, matches, everyPatternMatched, answers, fatalMessage);
    return UpdatePackage(settings, matches, everyPatternMatched, answers, fatalMessage);
}
