// Loading under a GL without GL_ARB_texture_compression: the compressed formats are ignored.
#include "tgaload.h"

#include <GL/osmesa.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class OffscreenContext : public testing::Environment {
public:
    void SetUp() override {
        context_ = OSMesaCreateContextExt(OSMESA_RGBA, 16, 0, 0, nullptr);
        ASSERT_NE(context_, nullptr);
        ASSERT_TRUE(OSMesaMakeCurrent(context_, frame_.data(), GL_UNSIGNED_BYTE, 16, 16));
    }
    void TearDown() override { OSMesaDestroyContext(context_); }

private:
    OSMesaContext context_ = nullptr;
    std::vector<unsigned char> frame_ = std::vector<unsigned char>(16 * 16 * 4);
};

GLint level0(GLenum what) {
    GLint v = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, what, &v);
    return v;
}

TEST(TgaWithoutCompression, CompressedBitIsQuietlyIgnored) {
    const std::string list =
        " " + std::string(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS))) + " ";
    // Names that merely begin with it, such as GL_ARB_texture_compression_rgtc, remain.
    ASSERT_EQ(list.find(" GL_ARB_texture_compression "), std::string::npos);
    ASSERT_NE(list.find(" GL_ARB_texture_compression_"), std::string::npos);

    char pattern[] = "/tmp/tga-nocompress-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/rgb.tga";
    std::vector<unsigned char> file(18, 0);
    file[2] = 2;
    file[12] = file[14] = 8;
    file[16] = 24;
    file.resize(file.size() + 8 * 8 * 3, 0x40);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));

    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    image_t img = {};
    testing::internal::CaptureStdout();
    tgaLoad(path.c_str(), &img, TGA_COMPRESSED_FORMATS | TGA_FOUR_BIT_FORMATS | TGA_RELEASE_DATA);
    EXPECT_FALSE(tgaCompressedTexSupport);
    EXPECT_EQ(level0(GL_TEXTURE_INTERNAL_FORMAT), GL_RGB4);
    EXPECT_EQ(level0(GL_TEXTURE_COMPRESSED), GL_FALSE);

    tgaLoad(path.c_str(), &img, TGA_COMPRESSED_FORMATS | TGA_RELEASE_DATA);
    EXPECT_EQ(level0(GL_TEXTURE_INTERNAL_FORMAT), GL_RGB);
    EXPECT_EQ(level0(GL_TEXTURE_COMPRESSED), GL_FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    glDeleteTextures(1, &texture);
    std::filesystem::remove_all(pattern);
}

}  // namespace

// Mesa keeps a few blocks of its own until exit; only a sanitizer build asks for this list.
extern "C" const char* __lsan_default_suppressions() { return "leak:libOSMesa.so\n"; }

int main(int argc, char** argv) {
    // Mesa reads the override when the first context is made.
    setenv("MESA_EXTENSION_OVERRIDE", "-GL_ARB_texture_compression", 0);
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new OffscreenContext);
    return RUN_ALL_TESTS();
}
