// TGA texture loader.
//
// File layout: an 18-byte little-endian header, the image ID (id_length bytes), the colour map
// (colour_map_length entries of colour_map_entry_size bits, when colour_map_type is 1), then
// the pixels. True-colour pixels are stored blue, green, red (and alpha). Bit 4 of the image
// descriptor marks rows stored right to left, bit 5 rows stored top row first. Run-length
// encoded data is a stream of packets: a header byte whose low seven bits give a count of 1 to
// 128 pixels, followed by one pixel value repeated count times (bit 7 set) or count values.
#include "tgaload.h"

#include "platform.h"

#include <GL/glu.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

bool tgaCompressedTexSupport = true;

// The compressed-texture entry points as the GL reports them; null when it does not offer them.
// Kept to this file so that they never stand in for the GL's own symbols of the same names.
static PFNGLCOMPRESSEDTEXIMAGE2DARBPROC glCompressedTexImage2DARB = nullptr;
static PFNGLGETCOMPRESSEDTEXIMAGEARBPROC glGetCompressedTexImageARB = nullptr;

static const char* const kTruncated = "Unexpected end of file";

static const int kCheckerSize = 128;

// The most run-length data held in memory at a time.
static const size_t kWindow = 1 << 20;

// Raw pixels are read and swizzled this many bytes at a time, so that the swizzle finds them in
// the cache; a whole number of pixels of each size.
static const size_t kRawBlock = 3 * 4 * (1 << 14);

// Whether the GL's extension string holds name as a whole word.
static bool tgaHasExtension(const char* name) {
    const char* list = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (list == nullptr) return false;
    const size_t n = strlen(name);
    for (const char* s = list; (s = strstr(s, name)) != nullptr; s += n) {
        const bool starts = s == list || s[-1] == ' ';
        const bool ends = s[n] == ' ' || s[n] == '\0';
        if (starts && ends) return true;
    }
    return false;
}

// Bytes from the current position to the end of the file, or -1 when the stream cannot seek.
static long tgaBytesLeft(FILE* file) {
    const long here = ftell(file);
    if (here < 0 || fseek(file, 0, SEEK_END) != 0) return -1;
    const long end = ftell(file);
    if (fseek(file, here, SEEK_SET) != 0) return -1;
    return end > here ? end - here : 0;
}

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

// Swizzles 24-bit pixels sixteen bytes at a time: five pixels, and the byte after them copied
// unchanged, so that out may equal in. Each block is loaded before the block ahead of it is
// stored, since a load that overlaps a store just made waits for it. Returns the number of
// pixels done.
__attribute__((target("ssse3"))) static size_t tgaSwizzle24Ssse3(unsigned char* out,
                                                                 const unsigned char* in,
                                                                 size_t pixels) {
    if (pixels < 6) return 0;
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    size_t i = 0;
    for (; i + 11 <= pixels; i += 5) {
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * i + 15));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm_shuffle_epi8(block, order));
        block = next;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm_shuffle_epi8(block, order));
    return i + 5;
}

// Swizzles 32-bit pixels eight at a time. Returns the number of pixels done.
__attribute__((target("avx2"))) static size_t tgaSwizzle32Avx2(unsigned char* out,
                                                               const unsigned char* in,
                                                               size_t pixels) {
    const __m256i order = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15));
    size_t i = 0;
    for (; i + 8 <= pixels; i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), _mm256_shuffle_epi8(v, order));
    }
    return i;
}

// Each reads the processor first: these initialisers may run before the one that would.
static const bool tgaHaveSsse3 = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
static const bool tgaHaveAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
#endif

#if defined(__ARM_NEON)
#include <arm_neon.h>

// Swizzles 24-bit pixels sixteen at a time; each block is loaded whole before it is stored.
// Returns the number of pixels done.
static size_t tgaSwizzle24Neon(unsigned char* out, const unsigned char* in, size_t pixels) {
    size_t i = 0;
    for (; i + 16 <= pixels; i += 16) {
        uint8x16x3_t v = vld3q_u8(in + 3 * i);
        std::swap(v.val[0], v.val[2]);
        vst3q_u8(out + 3 * i, v);
    }
    return i;
}
#endif

// A 32-bit pixel loaded from memory as a word holds its bytes 0 (blue) and 2 (red) 16 bits
// apart: byte 0 is the lower one on a little-endian machine, byte 2 on a big-endian one.
static const uint32_t kLowerOfRedBlue =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? 0x000000ffu : 0x0000ff00u;

// Swaps bytes 0 and 2 of each pixel in a word of one or more pixels.
template <typename Word>
static Word tgaSwapRedBlue(Word v) {
    const uint32_t low = kLowerOfRedBlue, keep = ~(low | low << 16);
    return (v & keep) | ((v >> 16) & low) | ((v & low) << 16);
}

// Four 32-bit pixels, which the compiler keeps in one vector register where there is one.
typedef uint32_t tgaFourPixels __attribute__((vector_size(16)));

void tgaSwizzle(unsigned char* out, const unsigned char* in, size_t pixels, int components) {
    if (components == 4) {
        size_t i = 0;
#if defined(__x86_64__) || defined(__i386__)
        if (tgaHaveAvx2) i = tgaSwizzle32Avx2(out, in, pixels);
#endif
        for (; i + 4 <= pixels; i += 4) {
            tgaFourPixels v;
            memcpy(&v, in + 4 * i, sizeof v);
            v = tgaSwapRedBlue(v);
            memcpy(out + 4 * i, &v, sizeof v);
        }
        for (; i < pixels; ++i) {
            uint32_t v;
            memcpy(&v, in + 4 * i, 4);
            v = tgaSwapRedBlue(v);
            memcpy(out + 4 * i, &v, 4);
        }
    } else if (components == 3) {
        size_t i = 0;
#if defined(__x86_64__) || defined(__i386__)
        if (tgaHaveSsse3) i = tgaSwizzle24Ssse3(out, in, pixels);
#elif defined(__ARM_NEON)
        i = tgaSwizzle24Neon(out, in, pixels);
#endif
        for (; i < pixels; ++i) {
            const unsigned char b = in[3 * i];
            out[3 * i + 1] = in[3 * i + 1];
            out[3 * i] = in[3 * i + 2];
            out[3 * i + 2] = b;
        }
    } else if (out != in) {
        memcpy(out, in, pixels);
    }
}

// Turns the buffer so that it holds the bottom row first, each row left to right.
static void tgaOrient(image_t* p) {
    const int w = p->info.width, h = p->info.height, c = p->info.components;
    const size_t row = size_t(w) * c;
    if (p->info.image_descriptor & 0x10) {
        for (int y = 0; y < h; ++y) {
            unsigned char* r = p->data + y * row;
            for (int l = 0, x = w - 1; l < x; ++l, --x)
                std::swap_ranges(r + l * c, r + (l + 1) * c, r + x * c);
        }
    }
    if (p->info.image_descriptor & 0x20) {
        for (int y = 0, z = h - 1; y < z; ++y, --z)
            std::swap_ranges(p->data + y * row, p->data + (y + 1) * row, p->data + z * row);
    }
}

void tgaGetExtensions() {
    glCompressedTexImage2DARB = nullptr;
    glGetCompressedTexImageARB = nullptr;
    // Under GLX and EGL a lookup by name yields an entry point even for functions the
    // context does not offer, so the extension string decides first.
    if (tgaHasExtension("GL_ARB_texture_compression")) {
        glCompressedTexImage2DARB = reinterpret_cast<PFNGLCOMPRESSEDTEXIMAGE2DARBPROC>(
            platform_gl_proc("glCompressedTexImage2DARB"));
        glGetCompressedTexImageARB = reinterpret_cast<PFNGLGETCOMPRESSEDTEXIMAGEARBPROC>(
            platform_gl_proc("glGetCompressedTexImageARB"));
    }
    if (glCompressedTexImage2DARB == nullptr || glGetCompressedTexImageARB == nullptr)
        tgaCompressedTexSupport = false;
}

const char* tgaGetImageHeader(FILE* file, tgaHeader_t* info) {
    unsigned char b[18] = {};
    if (fread(b, 1, sizeof b, file) != sizeof b) return kTruncated;
    auto le16 = [&b](int at) { return int16_t(uint16_t(b[at] | (b[at + 1] << 8))); };
    info->id_length = b[0];
    info->colour_map_type = b[1];
    info->image_type = b[2];
    info->colour_map_first_entry = le16(3);
    info->colour_map_length = le16(5);
    info->colour_map_entry_size = b[7];
    info->x_origin = le16(8);
    info->y_origin = le16(10);
    info->width = le16(12);
    info->height = le16(14);
    info->pixel_depth = b[16];
    info->image_descriptor = b[17];
    info->components = info->pixel_depth / 8;
    // Up to 32767 * 32767 * 31 does not fit in int; -1 marks a size too large to hold.
    const long long bytes = 1LL * info->width * info->height * info->components;
    info->bytes = bytes < INT_MIN || bytes > INT_MAX ? -1 : int(bytes);
    return nullptr;
}

// The decoder writes every byte of the buffer or fails, so the buffer is not cleared first:
// clearing a reused block would cost a pass over it.
unsigned char* tgaAllocMem(tgaHeader_t info) {
    if (info.bytes <= 0) return nullptr;
    unsigned char* data = static_cast<unsigned char*>(malloc(size_t(info.bytes)));
    platform_large_buffer(data, size_t(info.bytes));
    return data;
}

// Stores one pixel value, as read from the file, count times at out as red, green, blue
// (and alpha).
template <int C>
static void tgaPutPacketTuples(unsigned char* out, const unsigned char* temp_colour,
                               std::ptrdiff_t count) {
    if (C == 4) {
        const unsigned char rgba[4] = {temp_colour[2], temp_colour[1], temp_colour[0],
                                       temp_colour[3]};
        uint32_t v;
        memcpy(&v, rgba, 4);
        for (std::ptrdiff_t i = 0; i < count; ++i) memcpy(out + 4 * i, &v, 4);
    } else if (C == 3) {
        const unsigned char rgb[3] = {temp_colour[2], temp_colour[1], temp_colour[0]};
        std::ptrdiff_t i = 0;
        if (count >= 8) {
            // Eight pixels make 24 bytes, stored as one block.
            unsigned char w[24];
            for (int k = 0; k < 24; k += 3) memcpy(w + k, rgb, 3);
            for (; i + 8 <= count; i += 8) memcpy(out + 3 * i, w, 24);
        }
        for (; i < count; ++i) memcpy(out + 3 * i, rgb, 3);
    } else {
        memset(out, temp_colour[0], size_t(count));
    }
}

// Decodes one packet from in into out. A packet that claims more pixels than remain before
// out_end is cut there. Returns false when the data ends inside the packet.
template <int C>
static bool tgaGetAPacket(unsigned char*& out, unsigned char* out_end, const unsigned char*& in,
                          const unsigned char* end) {
    if (in >= end) return false;
    const int header = *in++;
    const std::ptrdiff_t run_length = (header & 0x7f) + 1;
    const std::ptrdiff_t keep = std::min(run_length, (out_end - out) / C);
    if (header & 0x80) {
        if (end - in < C) return false;
        tgaPutPacketTuples<C>(out, in, keep);
        in += C;
    } else {
        if (end - in < keep * C) return false;
        tgaSwizzle(out, in, size_t(keep), C);
        in += std::min(run_length * C, end - in);
    }
    out += keep * C;
    return true;
}

// The run-length data is read in large blocks into a window that stays in the cache, and
// decoded from there. The window is refilled whenever less than the largest packet (a header
// byte and 128 values) is left in it.
template <int C>
static const char* tgaGetPacketsOf(image_t* p, FILE* file) {
    const std::ptrdiff_t largest = 1 + 128 * C;
    // The longest encoding of the image has a packet header for every pixel.
    size_t size = size_t(p->info.bytes) + size_t(p->info.bytes / C);
    const long left = tgaBytesLeft(file);
    if (left >= 0) size = std::min(size, size_t(left));
    size = std::min(std::max<size_t>(size, size_t(largest)), kWindow);
    unsigned char* window = static_cast<unsigned char*>(malloc(size));
    if (window == nullptr) return "Out of memory";
    const unsigned char* in = window;
    const unsigned char* end = window;
    bool at_end = false;
    unsigned char* out = p->data;
    unsigned char* const out_end = p->data + p->info.bytes;
    const char* error = nullptr;
    while (out < out_end && error == nullptr) {
        if (!at_end && end - in < largest) {
            const size_t kept = size_t(end - in);
            memmove(window, in, kept);
            const size_t got = fread(window + kept, 1, size - kept, file);
            at_end = got < size - kept;
            in = window;
            end = window + kept + got;
        }
        const unsigned char* const safe_end = at_end ? end : end - largest;
        while (out < out_end && in <= safe_end) {
            if (!tgaGetAPacket<C>(out, out_end, in, end)) {
                error = kTruncated;
                break;
            }
        }
        if (at_end && out < out_end) error = kTruncated;
    }
    free(window);
    return error;
}

const char* tgaGetPackets(image_t* p, FILE* file) {
    switch (p->info.components) {
        case 1: return tgaGetPacketsOf<1>(p, file);
        case 3: return tgaGetPacketsOf<3>(p, file);
        case 4: return tgaGetPacketsOf<4>(p, file);
    }
    return "Unsupported image type";
}

const char* tgaGetImageData(image_t* p, FILE* file) {
    const tgaHeader_t& info = p->info;
    const bool rle = info.image_type >= 9;
    const long left = tgaBytesLeft(file);
    if (left >= 0) {
        // Refuse files too short to hold the pixels before allocating for them.
        const long long pixels = info.bytes / info.components;
        const long long least = rle ? (pixels + 127) / 128 * (1 + info.components) : info.bytes;
        if (left < least) return kTruncated;
    }
    p->data = tgaAllocMem(info);
    if (p->data == nullptr) return "Out of memory";
    if (rle) {
        if (const char* error = tgaGetPackets(p, file)) return error;
    } else {
        for (size_t at = 0, n; at < size_t(info.bytes); at += n) {
            n = std::min(kRawBlock, size_t(info.bytes) - at);
            if (fread(p->data + at, 1, n, file) != n) return kTruncated;
            tgaSwizzle(p->data + at, p->data + at, n / info.components, info.components);
        }
    }
    tgaOrient(p);
    return nullptr;
}

const char* tgaReadImage(FILE* file, image_t* p, tgaFLAG mode) {
    p->data = nullptr;
    if (const char* error = tgaGetImageHeader(file, &p->info)) return error;
    tgaHeader_t& info = p->info;
    switch (info.image_type) {
        case 1:
        case 9: return "8-bit colour no longer supported";
        case 2:
        case 10:
            if (info.pixel_depth == 24)
                info.tgaColourType = GL_RGB;
            else if (info.pixel_depth == 32)
                info.tgaColourType = GL_RGBA;
            else
                return info.image_type == 2 ? "Unsupported RGB format"
                                            : "Unsupported compressed RGB format";
            break;
        case 3:
        case 11:
            if (mode & TGA_GREY_AS_LUMINANCE)
                info.tgaColourType = GL_LUMINANCE;
            else if (mode & TGA_GREY_AS_ALPHA)
                info.tgaColourType = GL_ALPHA;
            else
                return "Must be LUMINANCE or ALPHA greyscale";
            if (info.pixel_depth != 8) return "Unsupported greyscale format";
            break;
        default: return "Unsupported image type";
    }
    if (info.width <= 0 || info.height <= 0) return "Invalid image size";
    if (info.bytes < 0) return "Image too large";
    long skip = info.id_length;
    if (info.colour_map_type != 0)
        skip += long(uint16_t(info.colour_map_length)) * ((info.colour_map_entry_size + 7) / 8);
    if (skip > 0 && fseek(file, skip, SEEK_CUR) != 0) return kTruncated;
    return tgaGetImageData(p, file);
}

int tgaLoadTheImage(const char* file_name, image_t* p, tgaFLAG mode) {
    tgaGetExtensions();
    p->data = nullptr;
    FILE* file = fopen(file_name, "rb");
    if (file == nullptr) {
        tgaError("File not found", file_name, nullptr, p);
        return 0;
    }
    if (const char* error = tgaReadImage(file, p, mode)) {
        tgaError(error, file_name, file, p);
        return 0;
    }
    fclose(file);
    return 1;
}

void tgaUploadImage(image_t* p, tgaFLAG mode) {
    if (p->data == nullptr) return;
    const GLenum format = p->info.tgaColourType;
    GLenum internal = format;
    if (mode & TGA_FOUR_BIT_FORMATS) {
        switch (format) {
            case GL_RGB: internal = GL_RGB4; break;
            case GL_RGBA: internal = GL_RGBA4; break;
            case GL_LUMINANCE: internal = GL_LUMINANCE4; break;
            case GL_ALPHA: internal = GL_ALPHA4; break;
        }
    }
    if ((mode & TGA_COMPRESSED_FORMATS) && tgaCompressedTexSupport) {
        switch (format) {
            case GL_RGB: internal = GL_COMPRESSED_RGB_ARB; break;
            case GL_RGBA: internal = GL_COMPRESSED_RGBA_ARB; break;
            case GL_LUMINANCE: internal = GL_COMPRESSED_LUMINANCE_ARB; break;
            case GL_ALPHA: internal = GL_COMPRESSED_ALPHA_ARB; break;
        }
    }
    // Rows follow one another without padding.
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (mode & TGA_BASE_LEVEL_ONLY)
        glTexImage2D(GL_TEXTURE_2D, 0, GLint(internal), p->info.width, p->info.height, 0, format,
                     GL_UNSIGNED_BYTE, p->data);
    else
        gluBuild2DMipmaps(GL_TEXTURE_2D, GLint(internal), p->info.width, p->info.height, format,
                          GL_UNSIGNED_BYTE, p->data);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
}

void tgaError(const char* error_string, const char* file_name, FILE* file, image_t* p) {
    printf("%s - %s\n", error_string, file_name);
    fflush(stdout);
    tgaFree(p);
    if (file != nullptr) fclose(file);
    tgaChecker(p);
}

void tgaChecker(image_t* p) {
    p->info.image_type = 3;
    p->info.width = kCheckerSize;
    p->info.height = kCheckerSize;
    p->info.pixel_depth = 8;
    p->info.components = 1;
    p->info.bytes = kCheckerSize * kCheckerSize;
    unsigned char TGA_CHECKER[kCheckerSize * kCheckerSize];
    for (int y = 0; y < kCheckerSize; ++y)
        for (int x = 0; x < kCheckerSize; ++x)
            TGA_CHECKER[y * kCheckerSize + x] = ((y ^ x) & 0x10) ? 0 : 255;
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE4, kCheckerSize, kCheckerSize, 0, GL_LUMINANCE,
                 GL_UNSIGNED_BYTE, TGA_CHECKER);
}

void tgaLoad(const char* file_name, image_t* p, tgaFLAG mode) {
    if (!tgaLoadTheImage(file_name, p, mode)) return;
    if (!(mode & TGA_NO_UPLOAD)) tgaUploadImage(p, mode);
    if (mode & TGA_RELEASE_DATA) tgaFree(p);
}

GLuint tgaLoadAndBind(const char* file_name, tgaFLAG mode) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    image_t temp = {};
    if (tgaLoadTheImage(file_name, &temp, mode)) {
        tgaUploadImage(&temp, mode);
        tgaFree(&temp);
    }
    return name;
}

void tgaSetTexParams(unsigned int min_filter, unsigned int mag_filter, unsigned int application) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GLint(min_filter));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GLint(mag_filter));
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GLfloat(application));
}

void tgaFree(image_t* p) {
    free(p->data);
    p->data = nullptr;
}
