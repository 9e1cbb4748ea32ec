// What the loader leaves in OpenGL: internal formats, mipmap levels, texels, the checkerboard.
#include "tga_test_util.h"

#include <string>
#include <vector>

namespace {

using namespace tgatest;

const int kFrame = 128;

bool hasWord(const char* list, const std::string& word) {
    const std::string padded = " " + std::string(list ? list : "") + " ";
    return padded.find(" " + word + " ") != std::string::npos;
}

class TgaGl : public TextureTest {
protected:
    void TearDown() override {
        TextureTest::TearDown();
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    // Loads b into a fresh texture bound in place of the last one; returns the printed text.
    std::string load(const Bytes& b, tgaFLAG mode) {
        glDeleteTextures(1, &texture_);
        glGenTextures(1, &texture_);
        glBindTexture(GL_TEXTURE_2D, texture_);
        return loadPath(write(b), mode);
    }

    void expectCheckerboard() {
        EXPECT_EQ(level(0, GL_TEXTURE_WIDTH), 128);
        EXPECT_EQ(level(0, GL_TEXTURE_HEIGHT), 128);
        EXPECT_EQ(level(0, GL_TEXTURE_INTERNAL_FORMAT), GL_LUMINANCE4);
        EXPECT_EQ(level(1, GL_TEXTURE_WIDTH), 0);
        Bytes texels(128 * 128);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, texels.data());
        int wrong = 0;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x)
                wrong += texels[y * 128 + x] != (((x ^ y) & 16) ? 0 : 255);
        EXPECT_EQ(wrong, 0);
    }
};

TEST_F(TgaGl, InternalFormatFollowsTheOptions) {
    struct Case {
        Bytes file;
        tgaFLAG mode;
        GLint internal;
    };
    const tgaFLAG lum = TGA_GREY_AS_LUMINANCE, alpha = TGA_GREY_AS_ALPHA;
    const tgaFLAG four = TGA_FOUR_BIT_FORMATS, base = TGA_BASE_LEVEL_ONLY;
    const std::vector<Case> cases = {
        {image(2, 4, 4, 24), 0, GL_RGB},
        {image(2, 4, 4, 24), four, GL_RGB4},
        {image(2, 4, 4, 32), base, GL_RGBA},
        {image(2, 4, 4, 32), four | base, GL_RGBA4},
        {image(3, 4, 4, 8), lum | alpha, GL_LUMINANCE},
        {image(3, 4, 4, 8), lum | four, GL_LUMINANCE4},
        {image(3, 4, 4, 8), alpha | base, GL_ALPHA},
        {image(3, 4, 4, 8), alpha | four, GL_ALPHA4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.internal);
        EXPECT_EQ(load(c.file, c.mode), "");
        EXPECT_EQ(level(0, GL_TEXTURE_INTERNAL_FORMAT), c.internal);
        EXPECT_EQ(level(0, GL_TEXTURE_COMPRESSED), GL_FALSE);
        EXPECT_EQ(level(0, GL_TEXTURE_WIDTH), 4);
    }
}

TEST_F(TgaGl, CompressedFormatsWhenTheGlOffersThem) {
    ASSERT_TRUE(hasWord(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)),
                        "GL_ARB_texture_compression"));
    const tgaFLAG compressed = TGA_COMPRESSED_FORMATS | TGA_FOUR_BIT_FORMATS;
    EXPECT_EQ(load(image(2, 8, 8, 24), compressed), "");
    EXPECT_TRUE(tgaCompressedTexSupport);
    EXPECT_EQ(level(0, GL_TEXTURE_COMPRESSED), GL_TRUE);
    EXPECT_EQ(level(1, GL_TEXTURE_COMPRESSED), GL_TRUE);
    EXPECT_EQ(load(image(2, 8, 8, 32), compressed | TGA_BASE_LEVEL_ONLY), "");
    EXPECT_EQ(level(0, GL_TEXTURE_COMPRESSED), GL_TRUE);
    EXPECT_EQ(load(image(3, 8, 8, 8), compressed | TGA_GREY_AS_LUMINANCE), "");
    EXPECT_EQ(level(0, GL_TEXTURE_COMPRESSED), GL_TRUE);
}

TEST_F(TgaGl, MipmapsUnlessBaseLevelOnly) {
    EXPECT_EQ(load(image(2, 8, 4, 24), 0), "");
    EXPECT_EQ(level(0, GL_TEXTURE_WIDTH), 8);
    EXPECT_EQ(level(1, GL_TEXTURE_WIDTH), 4);
    EXPECT_EQ(level(2, GL_TEXTURE_HEIGHT), 1);
    EXPECT_EQ(level(3, GL_TEXTURE_WIDTH), 1);
    EXPECT_EQ(level(4, GL_TEXTURE_WIDTH), 0);

    EXPECT_EQ(load(image(2, 8, 4, 24), TGA_BASE_LEVEL_ONLY), "");
    EXPECT_EQ(level(0, GL_TEXTURE_WIDTH), 8);
    EXPECT_EQ(level(1, GL_TEXTURE_WIDTH), 0);
}

TEST_F(TgaGl, TexelsMatchTheBufferForAnyRowLength) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    for (int depth : {24, 32}) {
        SCOPED_TRACE(depth);
        EXPECT_EQ(load(image(2, 5, 3, depth, depth), TGA_BASE_LEVEL_ONLY), "");
        ASSERT_NE(img.data, nullptr);
        Bytes texels(size_t(img.info.bytes));
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, img.info.tgaColourType, GL_UNSIGNED_BYTE, texels.data());
        EXPECT_EQ(texels, Bytes(img.data, img.data + img.info.bytes));
        GLint unpack = 0;
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &unpack);
        EXPECT_EQ(unpack, 8);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

TEST_F(TgaGl, FailedLoadLeavesOnlyTheCheckerboard) {
    // A good image first, so that the failure has something to replace.
    EXPECT_EQ(load(image(2, 8, 8, 24), TGA_BASE_LEVEL_ONLY), "");
    const std::string missing = dir_ + "/missing.tga";
    EXPECT_EQ(loadPath(missing, TGA_RELEASE_DATA | TGA_FOUR_BIT_FORMATS),
              "File not found - " + missing + "\n");
    EXPECT_EQ(img.data, nullptr);
    expectCheckerboard();

    EXPECT_EQ(load(image(2, 4, 4, 16), TGA_COMPRESSED_FORMATS),
              "Unsupported RGB format - " + dir_ + "/image1.tga\n");
    expectCheckerboard();
}

TEST_F(TgaGl, CheckerboardDrawsOnlyWithoutMipmapFiltering) {
    loadPath(dir_ + "/missing.tga", 0);
    glEnable(GL_TEXTURE_2D);
    glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    glColor3f(0.2f, 0.2f, 0.2f);
    auto draw = [] {
        glViewport(0, 0, kFrame, kFrame);
        glClear(GL_COLOR_BUFFER_BIT);
        glBegin(GL_QUADS);
        glTexCoord2f(0, 0);
        glVertex2f(-1, -1);
        glTexCoord2f(1, 0);
        glVertex2f(1, -1);
        glTexCoord2f(1, 1);
        glVertex2f(1, 1);
        glTexCoord2f(0, 1);
        glVertex2f(-1, 1);
        glEnd();
        Bytes frame(kFrame * kFrame * 4);
        glReadPixels(0, 0, kFrame, kFrame, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
        return frame;
    };
    // The default minification filter wants mipmaps: level 0 alone is incomplete, so the
    // quad takes the plain colour.
    Bytes frame = draw();
    EXPECT_EQ(frame[0], 51);
    EXPECT_EQ(frame[16 * 4], 51);

    tgaSetTexParams(GL_NEAREST, GL_NEAREST, GL_REPLACE);
    frame = draw();
    int wrong = 0;
    for (int y = 0; y < kFrame; ++y)
        for (int x = 0; x < kFrame; ++x)
            wrong += frame[(y * kFrame + x) * 4] != (((x ^ y) & 16) ? 0 : 255);
    EXPECT_EQ(wrong, 0);
    glDisable(GL_TEXTURE_2D);
    tgaSetTexParams(GL_NEAREST_MIPMAP_LINEAR, GL_LINEAR, GL_MODULATE);
}

TEST_F(TgaGl, LoadAndBindReturnsABoundNameEvenOnFailure) {
    testing::internal::CaptureStdout();
    const GLuint missing = tgaLoadAndBind((dir_ + "/missing.tga").c_str(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "File not found - " + dir_ + "/missing.tga\n");
    EXPECT_NE(missing, 0u);
    EXPECT_EQ(glIsTexture(missing), GL_TRUE);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), missing);
    expectCheckerboard();

    // Always uploads, whatever the release and no-upload bits say.
    const GLuint good =
        tgaLoadAndBind(write(image(2, 4, 2, 32)).c_str(), TGA_NO_UPLOAD | TGA_FOUR_BIT_FORMATS);
    EXPECT_NE(good, missing);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), good);
    EXPECT_EQ(level(0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA4);
    EXPECT_EQ(level(2, GL_TEXTURE_WIDTH), 1);
    glDeleteTextures(1, &missing);
    glDeleteTextures(1, &good);
}

}  // namespace

int main(int argc, char** argv) { return tgatest::runTests(argc, argv, kFrame); }
