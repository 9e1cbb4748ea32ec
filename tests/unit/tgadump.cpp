// Writes what the TGA loader decodes from each file given: OUTDIR/NAME.dump holds one line,
// "WIDTH HEIGHT COMPONENTS", then the decoded buffer as the loader leaves it (bottom row first);
// for a file the loader refuses, the line is its message instead. scripts/cross compares these
// files from two architectures byte for byte.
//
// Usage: tgadump OUTDIR FILE...
#include <cstdio>
#include <string>

#include "tgaload.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTDIR FILE...\n", argv[0]);
        return 2;
    }
    int status = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string in = argv[i];
        const std::string out = std::string(argv[1]) + "/" + in.substr(in.rfind('/') + 1) + ".dump";
        image_t img = {};
        FILE* file = std::fopen(in.c_str(), "rb");
        const char* error = file ? tgaReadImage(file, &img, TGA_GREY_AS_LUMINANCE) : "cannot open";
        if (file) std::fclose(file);
        FILE* dump = std::fopen(out.c_str(), "wb");
        bool ok = dump != nullptr;
        if (ok && error != nullptr) {
            ok = std::fprintf(dump, "%s\n", error) > 0;
        } else if (ok) {
            ok = std::fprintf(dump, "%d %d %d\n", img.info.width, img.info.height,
                              img.info.components) > 0 &&
                 std::fwrite(img.data, 1, size_t(img.info.bytes), dump) == size_t(img.info.bytes);
        }
        if (dump != nullptr) ok = std::fclose(dump) == 0 && ok;
        tgaFree(&img);
        if (!ok) {
            std::fprintf(stderr, "tgadump: cannot write %s\n", out.c_str());
            status = 1;
        }
    }
    return status;
}
