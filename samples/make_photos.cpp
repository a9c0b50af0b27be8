// Writes photograph-like PNG or JPEG files for the benchmarks of the tools at work:
// make_photos FOLDER COUNT SIDE png|jpg
#include "samples/ImageEncoders.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kJpegQuality = 90;

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 5 || (std::strcmp(argv[4], "png") != 0 && std::strcmp(argv[4], "jpg") != 0)) {
        std::fprintf(stderr, "usage: make_photos FOLDER COUNT SIDE png|jpg\n");
        return 1;
    }
    const int count = std::atoi(argv[2]);
    const int side = std::atoi(argv[3]);
    const bool png = std::strcmp(argv[4], "png") == 0;
    for (int i = 0; i < count; ++i) {
        const SamplePicture picture = PhotoPicture(side, static_cast<uint32_t>(i));
        const Bytes bytes = png ? EncodePngRgba(picture, false) : EncodeJpegRgb(picture, kJpegQuality);
        char name[32];
        std::snprintf(name, sizeof name, "/photo%04d.%s", i, argv[4]);
        const std::string path = argv[1] + std::string(name);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) {
            std::fprintf(stderr, "make_photos: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
