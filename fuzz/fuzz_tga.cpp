// libFuzzer target: decodes arbitrary bytes as a TGA file, without any GL.
#include "tgaload.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (file == nullptr) return 0;
    // The last byte picks the greyscale bits, so that every decoding path is reachable.
    const tgaFLAG modes[] = {0, TGA_GREY_AS_ALPHA, TGA_GREY_AS_LUMINANCE};
    image_t img = {};
    const char* error = tgaReadImage(file, &img, modes[data[size - 1] % 3]);
    fclose(file);
    if (error == nullptr) {
        // A decoded image fills exactly its buffer; touch every byte of it.
        if (img.data == nullptr || img.info.bytes <= 0 ||
            img.info.bytes != img.info.width * img.info.height * img.info.components)
            __builtin_trap();
        unsigned sum = 0;
        for (int i = 0; i < img.info.bytes; ++i) sum += img.data[i];
        if (sum == 0xffffffffu) __builtin_trap();
    }
    tgaFree(&img);
    return 0;
}
