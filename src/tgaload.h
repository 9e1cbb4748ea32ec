// TGA texture loader: reads true-colour and greyscale TGA images (raw or run-length encoded)
// into a pixel buffer and hands them to OpenGL as the texture bound to GL_TEXTURE_2D.
#ifndef TERRALUX_TGALOAD_H
#define TERRALUX_TGALOAD_H

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdint>
#include <cstdio>

// Option bits for a load.
typedef uint32_t tgaFLAG;

const tgaFLAG TGA_RELEASE_DATA = 0x00000001;        // free the pixel buffer after the load
const tgaFLAG TGA_NO_UPLOAD = 0x00000010;           // decode only, make no texture
const tgaFLAG TGA_GREY_AS_ALPHA = 0x00000100;       // accept greyscale images as GL_ALPHA
const tgaFLAG TGA_GREY_AS_LUMINANCE = 0x00001000;   // accept greyscale as GL_LUMINANCE (wins)
const tgaFLAG TGA_BASE_LEVEL_ONLY = 0x00010000;     // level 0 only, no mipmaps
const tgaFLAG TGA_FOUR_BIT_FORMATS = 0x00100000;    // 4 bits per component internal formats
const tgaFLAG TGA_COMPRESSED_FORMATS = 0x01000000;  // compressed internal formats when offered

// The 18-byte file header as read, plus the derived fields.
struct tgaHeader_t {
    uint8_t id_length;
    uint8_t colour_map_type;
    uint8_t image_type;
    int16_t colour_map_first_entry;
    int16_t colour_map_length;
    uint8_t colour_map_entry_size;
    int16_t x_origin;
    int16_t y_origin;
    int16_t width;
    int16_t height;
    uint8_t pixel_depth;
    uint8_t image_descriptor;
    int components;        // bytes per pixel
    int bytes;             // width * height * components
    GLenum tgaColourType;  // GL_RGB, GL_RGBA, GL_LUMINANCE or GL_ALPHA
};

// A decoded image. The buffer holds rows bottom row first, pixels left to right, each pixel
// red, green, blue (and alpha), or one byte for greyscale. It is malloc'ed by the loader and
// released with tgaFree.
struct image_t {
    tgaHeader_t info;
    unsigned char* data;
};

// Whether the GL offers GL_ARB_texture_compression; a load that finds it missing clears it.
extern bool tgaCompressedTexSupport;

// Loads file_name into p and, unless TGA_NO_UPLOAD is set, into the texture bound to
// GL_TEXTURE_2D. On failure prints "<message> - <file_name>" on standard output and leaves a
// 128x128 checkerboard in level 0 of the bound texture.
void tgaLoad(const char* file_name, image_t* p, tgaFLAG mode);

// Creates a texture name, binds it, loads and uploads file_name into it and frees the pixels.
// Returns the name whether or not the load succeeded.
GLuint tgaLoadAndBind(const char* file_name, tgaFLAG mode);

// Sets the bound texture's filters and the texture environment mode.
void tgaSetTexParams(unsigned int min_filter, unsigned int mag_filter, unsigned int application);

// Releases the record's pixel buffer, if any.
void tgaFree(image_t* p);

// The steps of a load. Functions returning const char* give null on success, else the
// message for the failure line. The run-length steps tgaGetAPacket and tgaPutPacketTuples are
// kept inside tgaload.cpp, made for each pixel size.
int tgaLoadTheImage(const char* file_name, image_t* p, tgaFLAG mode);
void tgaGetExtensions();
const char* tgaReadImage(FILE* file, image_t* p, tgaFLAG mode);
const char* tgaGetImageHeader(FILE* file, tgaHeader_t* info);
const char* tgaGetImageData(image_t* p, FILE* file);
unsigned char* tgaAllocMem(tgaHeader_t info);
const char* tgaGetPackets(image_t* p, FILE* file);
// Writes pixels from file order (blue, green, red, alpha) to out as red, green, blue, alpha;
// out may equal in. Greyscale pixels (one component) are copied.
void tgaSwizzle(unsigned char* out, const unsigned char* in, size_t pixels, int components);
void tgaUploadImage(image_t* p, tgaFLAG mode);
void tgaError(const char* error_string, const char* file_name, FILE* file, image_t* p);
void tgaChecker(image_t* p);

#endif
