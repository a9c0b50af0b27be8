// The builder's run: package name, enumeration, DDS and image intake, one flush per file.
#include "builder/Mtxmake.h"

#include "archive/MipTexture.h"
#include "archive/ResFile.h"
#include "builder/DdsTexture.h"
#include "builder/MipConvert.h"
#include "common/Banner.h"
#include "common/StringUtil.h"
#include "host/AskYesNo.h"
#include "host/DirectorySearch.h"
#include "host/FileIO.h"
#include "image/Image.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

const char kMtxmakeTitle[] = "Img (Gif,Jpg,Pcx,Png,Tga,DDS) to MTX package converter v1.0";

namespace {

constexpr char kToolName[] = "Mtxmake";
constexpr size_t kMaxTextureName = kMipNameSize - 1;
constexpr size_t kMaxFileSize = UINT32_MAX;  // the image loader takes 32-bit sizes

void PrintUsage()
{
    std::printf("usage: Mtxmake packname file(s) (*.* for all files)\n");
}

// The message that ends the run after a failure of the package handle.
std::string PackageFailure(const CResFile& package)
{
    const char* text = package.mfGetError();
    return std::string(text ? text : "") + "\n";
}

// One run's state: the package, the palette decision, and the adding of one file. Each
// step returns false when the run must stop, with the message in fatalMessage().
class CPackageBuilder {
public:
    CPackageBuilder(CResFile& package, const std::string& packageName, std::FILE* answers)
        : m_Package(package), m_PackageName(packageName), m_Answers(answers) {}

    bool mfAddMatch(const std::string& directory, const FoundFile& match);
    const std::string& fatalMessage() const { return m_FatalMessage; }

private:
    bool mfAddDds(FileBytes file, const DdsSurface& surface, const std::string& fileName);
    bool mfAddImage(FileBytes file, const std::string& fileName);
    bool mfAskPalette(const CImage& image);
    void mfSetTextureName(MipTexture& header, const std::string& fileName, const char* suffix);
    bool mfAddEntry(const char* name, int32_t type, const uint8_t* data, size_t size);
    bool mfAddRecord(const char* name, RecordBuffer record, size_t size);
    bool mfFail(std::string message);

    CResFile& m_Package;
    const std::string& m_PackageName;
    std::FILE* m_Answers;
    bool m_PaletteAsked = false;
    bool m_SharedPalette = false;
    RgbaPalette m_Palette{};                 // the shared palette, once chosen
    std::string m_FatalMessage;
};

bool CPackageBuilder::mfAddMatch(const std::string& directory, const FoundFile& match)
{
    const std::string path = directory + match.name;
    // Pipes and devices are skipped too: opening one could block the run.
    if (match.isDirectory || !match.isRegular || match.name[0] == '.' ||
        EqualsIgnoringCase(path.c_str(), m_PackageName.c_str()))
        return true;
    FileBytes file;
    std::string hostError;
    if (!ReadWholeFile(path, kMaxFileSize, file, hostError))
        return true;
    DdsSurface surface;
    switch (ReadDdsSurface(file.data.get(), file.size, surface)) {
    case DdsKind::Dxt:
        return mfAddDds(std::move(file), surface, match.name);
    case DdsKind::UnknownCode:
        std::printf(" Unknown DXT format\n");
        break;
    case DdsKind::NotDds:
        break;
    }
    return mfAddImage(std::move(file), match.name);
}

bool CPackageBuilder::mfAddDds(FileBytes file, const DdsSurface& surface, const std::string& fileName)
{
    std::printf("Add %s texture <%s>...\n", surface.code, fileName.c_str());
    MipTexture header{};
    mfSetTextureName(header, fileName, kDxtNameSuffix);
    size_t recordSize = 0;
    RecordBuffer record = BuildDxtRecord(file.data.get(), file.size, surface, header, recordSize);
    file.data.reset();
    return mfAddRecord(header.name, std::move(record), recordSize);
}

bool CPackageBuilder::mfAddImage(FileBytes file, const std::string& fileName)
{
    std::unique_ptr<CImage> image(LoadImageMemory(file.data.get(), static_cast<uint32_t>(file.size)));
    file.data.reset();
    if (!image)
        return true;
    std::printf("Add file <%s>...\n", fileName.c_str());
    if (g_ImageError != IMGERR_NONE || !CanBuildMipTexture(*image))
        return true;

    const bool indexed = image->m_Format == IMG_PCX || image->m_Format == IMG_GIF;
    if (indexed && !m_PaletteAsked && !mfAskPalette(*image))
        return false;
    const bool ownPalette = indexed && !m_SharedPalette;
    // The record keeps the image's indices, which the shared palette then colours.
    if (indexed && m_SharedPalette && UsesOtherColours(*image, m_Palette))
        std::printf("Warning: Colours of <%s> differ from the shared palette\n", fileName.c_str());

    MipTexture header{};
    header.width = image->m_Width;
    header.height = image->m_Height;
    header.ownPalette = ownPalette ? 1 : 0;
    mfSetTextureName(header, fileName, "");
    size_t recordSize = 0;
    RecordBuffer record = BuildMipTexture(*image, header, recordSize, ownPalette);
    image.reset();
    return mfAddRecord(header.name, std::move(record), recordSize);
}

// Asks the shared-palette question once; on yes, the image's palette becomes the entry
// "Palette", written by the flush that follows the image's record.
bool CPackageBuilder::mfAskPalette(const CImage& image)
{
    m_PaletteAsked = true;
    m_SharedPalette = AskYesNo(kToolName, "Use shared palette", m_Answers);
    const RgbaPalette* palette = m_SharedPalette ? ExpandPalette(image.m_pPalette, image.m_TransIndex) : nullptr;
    if (!palette)
        return true;
    m_Palette = *palette;
    return mfAddEntry(kPaletteEntryName, RT_PALETTE, reinterpret_cast<const uint8_t*>(palette), kRgbaPaletteSize);
}

void CPackageBuilder::mfSetTextureName(MipTexture& header, const std::string& fileName,
                                       const char* suffix)
{
    if (!MakeTextureName(fileName, suffix, header.name))
        std::printf("Warning: Texture name of <%s> cut to <%s>\n", fileName.c_str(), header.name);
}

bool CPackageBuilder::mfAddEntry(const char* name, int32_t type, const uint8_t* data, size_t size)
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
    return m_Package.mfFileAdd(&entry) == before + 1 || mfFail(PackageFailure(m_Package));
}

// Adds a texture record and flushes at once, so the package is complete after every file.
bool CPackageBuilder::mfAddRecord(const char* name, RecordBuffer record, size_t size)
{
    if (!record)
        return mfFail(kRecordAllocationFailed);
    if (!mfAddEntry(name, RT_TEXTURE, record.get(), size))
        return false;
    record.reset();
    return m_Package.mfFlush() == 1 || mfFail(PackageFailure(m_Package));
}

bool CPackageBuilder::mfFail(std::string message)
{
    m_FatalMessage = std::move(message);
    return false;
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
    std::string packageName;
    if (argc < 3 || !MakePackageName(argv[1], packageName) ||
        std::strlen(argv[2]) > kMaxPathLength) {
        PrintUsage();
        return 1;
    }
    const std::string pattern = argv[2];
    std::printf("\nCreate package: <%s>...\n\n", packageName.c_str());

    // The files are found before the package is created, so that a pattern that matches
    // nothing leaves an existing package alone.
    DirectorySearch search;
    FoundFile match;
    if (!search.Start(pattern) || !search.Next(match)) {
        std::printf("Warning: no file matches %s\n", pattern.c_str());
        return 2;
    }
    CResFile package(packageName.c_str());
    if (package.Open(RA_WRITE | RA_CREATE) != 1) {
        fatalMessage = PackageFailure(package);
        return 1;
    }
    CPackageBuilder builder(package, packageName, answers);
    do {
        if (!builder.mfAddMatch(search.directory(), match)) {
            fatalMessage = builder.fatalMessage();
            return 1;
        }
    } while (search.Next(match));

    package.mfClose();
    std::printf("\nDone produce package <%s>\n\n", packageName.c_str());
    return 0;
}
