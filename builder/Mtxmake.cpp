// The builder's run: package name, enumeration, DDS and image intake, one flush per file.
#include "builder/Mtxmake.h"

#include "archive/ResFile.h"
#include "builder/DdsTexture.h"
#include "builder/MipConvert.h"
#include "builder/MipTexture.h"
#include "common/Banner.h"
#include "common/FatalError.h"
#include "common/StringUtil.h"
#include "host/AskYesNo.h"
#include "host/DirectorySearch.h"
#include "image/Image.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <strings.h>
#include <sys/stat.h>

const char kMtxmakeTitle[] = "Img (Gif,Jpg,Pcx,Png,Tga,DDS) to MTX package converter v1.0";

namespace {

constexpr char kToolName[] = "Mtxmake";
constexpr char kPackageExtension[] = ".mtx";
constexpr char kDxtSuffix[] = "_tc";
constexpr size_t kMaxTextureName = kMipNameSize - 1;
constexpr size_t kMaxFileSize = UINT32_MAX;  // the image loader takes 32-bit sizes

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

void PrintUsage()
{
    std::printf("usage: Mtxmake packname file(s) (*.* for all files)\n");
}

[[noreturn]] void FatalPackageError(const CResFile& package)
{
    const char* text = package.mfGetError();
    FatalError("%s\n", text ? text : "");
}

// A whole file in one heap block.
struct FileBytes {
    RecordBuffer data;
    size_t size = 0;
};

// Reads a regular file whole, as long as it is when opened: one open, one fstat, one
// read. False when it cannot be read or is longer than the image loader takes.
bool ReadWholeFile(const std::string& path, FileBytes& bytes)
{
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return false;
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<uint64_t>(info.st_size) > kMaxFileSize)
        return false;
    const size_t size = static_cast<size_t>(info.st_size);
    bytes.data.reset(static_cast<uint8_t*>(std::malloc(size ? size : 1)));
    if (!bytes.data)
        return false;
    // Unbuffered, so the bytes go straight into the block.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    bytes.size = std::fread(bytes.data.get(), 1, size, file.get());
    return !std::ferror(file.get());
}

// One run's state: the package, the palette decision, and the adding of one file.
class CPackageBuilder {
public:
    CPackageBuilder(CResFile& package, const std::string& packageName, std::FILE* answers)
        : m_Package(package), m_PackageName(packageName), m_Answers(answers) {}

    void mfAddMatch(const std::string& directory, const FoundFile& match);

private:
    void mfAddDds(const FileBytes& file, const DdsSurface& surface, const std::string& fileName);
    void mfAddImage(const FileBytes& file, const std::string& fileName);
    void mfSetTextureName(MipTexture& header, const std::string& fileName, const char* suffix);
    void mfAddEntry(const char* name, int32_t type, uint8_t* data, size_t size);
    void mfFlush();

    CResFile& m_Package;
    const std::string& m_PackageName;
    std::FILE* m_Answers;
    bool m_PaletteAsked = false;
    bool m_SharedPalette = false;
};

void CPackageBuilder::mfAddMatch(const std::string& directory, const FoundFile& match)
{
    const std::string path = directory + match.name;
    // Pipes and devices are skipped too: opening one could block the run.
    if (match.isDirectory || !match.isRegular || match.name[0] == '.' ||
        strcasecmp(path.c_str(), m_PackageName.c_str()) == 0)
        return;
    FileBytes file;
    if (!ReadWholeFile(path, file))
        return;
    DdsSurface surface;
    switch (ReadDdsSurface(file.data.get(), file.size, surface)) {
    case DdsKind::Dxt:
        mfAddDds(file, surface, match.name);
        return;
    case DdsKind::UnknownCode:
        std::printf(" Unknown DXT format\n");
        break;
    case DdsKind::NotDds:
        break;
    }
    mfAddImage(file, match.name);
}

void CPackageBuilder::mfAddDds(const FileBytes& file, const DdsSurface& surface,
                               const std::string& fileName)
{
    std::printf("Add %s texture <%s>...\n", surface.code, fileName.c_str());
    MipTexture header{};
    mfSetTextureName(header, fileName, kDxtSuffix);
    size_t recordSize = 0;
    RecordBuffer record = BuildDxtRecord(file.data.get(), file.size, surface, header, recordSize);
    mfAddEntry(header.name, RT_TEXTURE, record.get(), recordSize);
    mfFlush();
}

void CPackageBuilder::mfAddImage(const FileBytes& file, const std::string& fileName)
{
    std::unique_ptr<CImage> image(LoadImageMemory(file.data.get(), static_cast<uint32_t>(file.size)));
    if (!image)
        return;
    std::printf("Add file <%s>...\n", fileName.c_str());
    if (g_ImageError != IMGERR_NONE || !CanBuildMipTexture(*image))
        return;

    const bool indexed = image->m_Format == IMG_PCX || image->m_Format == IMG_GIF;
    if (indexed && !m_PaletteAsked) {
        m_PaletteAsked = true;
        m_SharedPalette = AskYesNo(kToolName, "Use shared palette?", m_Answers);
        if (m_SharedPalette) {
            // Written by the flush that follows this image's record.
            RgbaPalette* palette = ExpandPalette(image->m_pPalette, image->m_TransIndex);
            if (palette)
                mfAddEntry(kPaletteEntryName, RT_PALETTE, reinterpret_cast<uint8_t*>(palette),
                           kRgbaPaletteSize);
        }
    }
    const bool ownPalette = indexed && !m_SharedPalette;

    MipTexture header{};
    header.width = image->m_Width;
    header.height = image->m_Height;
    header.ownPalette = ownPalette ? 1 : 0;
    mfSetTextureName(header, fileName, "");
    size_t recordSize = 0;
    RecordBuffer record = BuildMipTexture(*image, header, recordSize, ownPalette);
    if (!record)
        return;
    mfAddEntry(header.name, RT_TEXTURE, record.get(), recordSize);
    mfFlush();
}

void CPackageBuilder::mfSetTextureName(MipTexture& header, const std::string& fileName,
                                       const char* suffix)
{
    if (!MakeTextureName(fileName, suffix, header.name))
        std::printf("Warning: Texture name of <%s> cut to <%s>\n", fileName.c_str(), header.name);
}

void CPackageBuilder::mfAddEntry(const char* name, int32_t type, uint8_t* data, size_t size)
{
    DirEntry entry{};
    std::strncpy(entry.name, name, sizeof entry.name - 1);
    entry.size = static_cast<int32_t>(size);
    entry.type = type;
    entry.method = RC_NONE;
    entry.data = data;
    m_Package.mfFileAdd(&entry);
}

void CPackageBuilder::mfFlush()
{
    if (m_Package.mfFlush() != 1)
        FatalPackageError(m_Package);
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

int RunMtxmake(int argc, const char* const argv[], std::FILE* answers)
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

    CResFile package(packageName.c_str());
    if (package.Open(RA_WRITE | RA_CREATE) != 1)
        FatalPackageError(package);

    DirectorySearch search;
    FoundFile match;
    if (!search.Start(pattern) || !search.Next(match))
        return 2;
    CPackageBuilder builder(package, packageName, answers);
    do {
        builder.mfAddMatch(search.directory(), match);
    } while (search.Next(match));

    package.mfClose();
    std::printf("\nDone produce package <%s>\n\n", packageName.c_str());
    return 0;
}
