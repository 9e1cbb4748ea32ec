// Decoding speed of the TGA loader against stb_image and against a bare floor, on 4096x2048
// images of six kinds. Prints the best of 15 times of each and the ratios; asserts nothing.
//
// The floor is the least work any decoder of the file has to do: a fresh buffer of the image's
// size from the loader's own allocation, one read of the whole file and one pass of the loader's
// own red/blue swizzle over that buffer. For raw images the read goes straight into the buffer;
// run-length files are read into a buffer of their own first.
//
// Every side takes its buffers from malloc and frees them outside the timed part, under the
// same allocator settings: glibc maps blocks of 32 MB and more fresh on every call, and smaller
// blocks come from a heap that is never trimmed, so that they are reused alike whatever order
// the sides run in. The loader and the floor allocate the output through tgaAllocMem, which
// asks for 2 MB pages for large buffers; stb_image allocates its own way, so on the 32-bit
// image (a fresh mapping every time) it takes a page fault for every 4 KB.
#include "tgaload.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#include <stb_image.h>
#pragma GCC diagnostic pop

#include <malloc.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const int kWidth = 4096, kHeight = 2048;

Bytes header(int type, int depth) {
    Bytes b(18, 0);
    b[2] = static_cast<unsigned char>(type);
    b[12] = kWidth & 0xff;
    b[13] = kWidth >> 8;
    b[14] = kHeight & 0xff;
    b[15] = kHeight >> 8;
    b[16] = static_cast<unsigned char>(depth);
    return b;
}

struct Random {
    uint64_t state = 0x9e3779b97f4a7c15ull;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return uint32_t(state >> 16);
    }
};

enum Content { kNoise, kChoppy, kFlat };

// Pixels of c bytes: noise that repeats a pixel every 256 or so (nearly every packet raw, most
// of 128 pixels); choppy noise that repeats a pixel every 16 or so (short raw packets between runs
// of two or three); or flat bands of 1000 pixels (runs of 128).
Bytes pixels(int c, Content content) {
    Bytes p(size_t(kWidth) * kHeight * c);
    Random r;
    for (size_t i = 0; i < size_t(kWidth) * kHeight; ++i) {
        unsigned char* px = &p[i * c];
        if (content == kFlat) {
            const uint32_t band = uint32_t(i / 1000) * 2654435761u;
            memcpy(px, &band, size_t(c));
        } else if (i > 0 && r.next() % (content == kNoise ? 256 : 16) == 0) {
            memcpy(px, px - c, size_t(c));
        } else {
            const uint32_t v = r.next();
            memcpy(px, &v, size_t(c));
        }
    }
    return p;
}

// Run-length packets: runs of two or more equal pixels, the rest in raw packets.
Bytes encode(const Bytes& p, int c) {
    Bytes out;
    const size_t n = p.size() / c;
    auto same = [&](size_t a, size_t b) { return memcmp(&p[a * c], &p[b * c], size_t(c)) == 0; };
    for (size_t i = 0; i < n;) {
        size_t run = 1;
        while (i + run < n && run < 128 && same(i, i + run)) ++run;
        if (run >= 2) {
            out.push_back(static_cast<unsigned char>(0x80 | (run - 1)));
            out.insert(out.end(), &p[i * c], &p[i * c] + c);
            i += run;
            continue;
        }
        size_t raw = 1;
        while (i + raw < n && raw < 128 && !(i + raw + 1 < n && same(i + raw, i + raw + 1))) ++raw;
        out.push_back(static_cast<unsigned char>(raw - 1));
        out.insert(out.end(), &p[i * c], &p[(i + raw) * c]);
        i += raw;
    }
    return out;
}

// Elapsed time. The thread's CPU time would leave other processes out, but in a virtual machine
// it was seen to count a single 25 MB read() as 0.4 ms where it took 1.5 ms, while the same read
// in 4 KB pieces, as stb_image makes it, was counted in full; the best of many rounds leaves
// most of the other processes' share out instead.
double millis() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// One decoding, timed; the clean-up after it is not.
struct Side {
    std::function<void()> run, after;
    double best = 1e300;
};

// Runs the sides in turn, round after round and each round starting with the next side, so
// that a busy machine and the cache state treat them alike; keeps the best time of each.
void measure(std::vector<Side*> sides) {
    for (size_t round = 0; round < 15; ++round) {
        for (size_t turn = 0; turn < sides.size(); ++turn) {
            Side* side = sides[(round + turn) % sides.size()];
            const double start = millis();
            side->run();
            const double stop = millis();
            side->after();
            side->best = std::min(side->best, stop - start);
        }
    }
}

struct Kind {
    const char* name;
    int type, depth;
    Content content;
};

}  // namespace

int main() {
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
    char pattern[] = "/tmp/bench-tga-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string dir = pattern;
    const Kind kinds[] = {
        {"raw 24-bit", 2, 24, kNoise},          {"raw 32-bit", 2, 32, kNoise},
        {"RLE mostly literal", 10, 24, kNoise}, {"RLE long runs", 10, 24, kFlat},
        {"RLE short packets", 10, 24, kChoppy}, {"RLE 32-bit literal", 10, 32, kNoise}};
    printf("%-20s %8s %10s %10s %10s %12s %12s\n", "4096x2048", "file MB", "tgaload", "stb_image",
           "floor", "stb/tgaload", "tgaload/floor");
    for (const Kind& k : kinds) {
        const int c = k.depth / 8;
        const Bytes source = pixels(c, k.content);
        Bytes file = header(k.type, k.depth);
        const Bytes body = k.type == 10 ? encode(source, c) : source;
        file.insert(file.end(), body.begin(), body.end());
        const std::string path = dir + "/image.tga";
        FILE* out = fopen(path.c_str(), "wb");
        fwrite(file.data(), 1, file.size(), out);
        fclose(out);

        image_t img = {};
        Side ours{[&] { tgaLoad(path.c_str(), &img, TGA_NO_UPLOAD); }, [&] { tgaFree(&img); }};
        unsigned char* stb = nullptr;
        int w = 0, h = 0, n = 0;
        Side theirs{[&] { stb = stbi_load(path.c_str(), &w, &h, &n, 0); },
                    [&] { stbi_image_free(stb); }};
        unsigned char* floor_out = nullptr;
        unsigned char* floor_in = nullptr;
        const size_t bytes = source.size();
        tgaHeader_t floor_header = {};
        floor_header.bytes = int(bytes);
        Side floor{[&] {
                       floor_out = tgaAllocMem(floor_header);
                       FILE* f = fopen(path.c_str(), "rb");
                       if (k.type == 2) {
                           fseek(f, 18, SEEK_SET);
                           if (fread(floor_out, 1, bytes, f) != bytes) abort();
                       } else {
                           floor_in = static_cast<unsigned char*>(malloc(file.size()));
                           if (fread(floor_in, 1, file.size(), f) != file.size()) abort();
                       }
                       fclose(f);
                       tgaSwizzle(floor_out, floor_out, bytes / c, c);
                   },
                   [&] {
                       free(floor_out);
                       free(floor_in);
                       floor_in = nullptr;
                   }};
        measure({&ours, &theirs, &floor});

        // Both decoders must agree: stb_image puts the top row first, the loader the bottom.
        tgaLoad(path.c_str(), &img, TGA_NO_UPLOAD);
        stb = stbi_load(path.c_str(), &w, &h, &n, 0);
        bool agree = img.data && stb && w == kWidth && h == kHeight && n == c;
        const size_t row = size_t(kWidth) * c;
        for (int y = 0; agree && y < kHeight; ++y)
            agree = memcmp(img.data + y * row, stb + (kHeight - 1 - y) * row, row) == 0;
        tgaFree(&img);
        stbi_image_free(stb);

        printf("%-20s %8.1f %8.2fms %8.2fms %8.2fms %11.2fx %11.2fx%s\n", k.name, file.size() / 1e6,
               ours.best, theirs.best, floor.best, theirs.best / ours.best, ours.best / floor.best,
               agree ? "" : "  (outputs differ!)");
        unlink(path.c_str());
    }
    rmdir(dir.c_str());
    return 0;
}
