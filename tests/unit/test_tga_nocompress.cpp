// Loading under a GL without GL_ARB_texture_compression: the compressed formats are ignored.
#include "tga_test_util.h"

#include <stdlib.h>

#include <string>

namespace {

using namespace tgatest;

class TgaWithoutCompression : public TextureTest {};

TEST_F(TgaWithoutCompression, CompressedBitIsQuietlyIgnored) {
    const std::string list =
        " " + std::string(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS))) + " ";
    // Names that merely begin with it, such as GL_ARB_texture_compression_rgtc, remain.
    ASSERT_EQ(list.find(" GL_ARB_texture_compression "), std::string::npos);
    ASSERT_NE(list.find(" GL_ARB_texture_compression_"), std::string::npos);

    const std::string path = write(tga(2, 8, 8, 24, Bytes(8 * 8 * 3, 0x40)));
    EXPECT_EQ(loadPath(path, TGA_COMPRESSED_FORMATS | TGA_FOUR_BIT_FORMATS | TGA_RELEASE_DATA), "");
    EXPECT_FALSE(tgaCompressedTexSupport);
    EXPECT_EQ(level(0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGB4);
    EXPECT_EQ(level(0, GL_TEXTURE_COMPRESSED), GL_FALSE);

    EXPECT_EQ(loadPath(path, TGA_COMPRESSED_FORMATS | TGA_RELEASE_DATA), "");
    EXPECT_EQ(level(0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGB);
    EXPECT_EQ(level(0, GL_TEXTURE_COMPRESSED), GL_FALSE);
}

}  // namespace

int main(int argc, char** argv) {
    // Mesa reads the override when the first context is made.
    setenv("MESA_EXTENSION_OVERRIDE", "-GL_ARB_texture_compression", 0);
    return tgatest::runTests(argc, argv);
}
