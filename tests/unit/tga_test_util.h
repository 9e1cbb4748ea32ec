// Shared pieces of the TGA loader tests: an offscreen GL context for the whole program,
// TGA files built byte by byte, and fixtures that write them into a scratch directory.
// Each TGA test program is one source file that includes this header once.
#pragma once

#include "offscreen_gl.h"
#include "tgaload.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tgatest {

using Bytes = std::vector<unsigned char>;

// A context drawing into a frame x frame buffer, current while the tests run. The tests read
// pixels back with glReadPixels, in the order they ask for.
class OffscreenContext : public testing::Environment {
public:
    explicit OffscreenContext(int frame) : frame_(frame) {}

    void SetUp() override { ASSERT_EQ(gl_.open(frame_, frame_), ""); }
    void TearDown() override { gl_.close(); }

private:
    int frame_;
    OffscreenGl gl_;
};

// Runs every test with an offscreen context of frame x frame pixels.
inline int runTests(int argc, char** argv, int frame = 16) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new OffscreenContext(frame));
    return RUN_ALL_TESTS();
}

// An 18-byte header followed by the given tail (ID, colour map and pixels).
inline Bytes tga(int type, int width, int height, int depth, const Bytes& tail,
                 int descriptor = 0) {
    Bytes b(18 + tail.size(), 0);
    b[2] = static_cast<unsigned char>(type);
    b[12] = static_cast<unsigned char>(width & 0xff);
    b[13] = static_cast<unsigned char>((width >> 8) & 0xff);
    b[14] = static_cast<unsigned char>(height & 0xff);
    b[15] = static_cast<unsigned char>((height >> 8) & 0xff);
    b[16] = static_cast<unsigned char>(depth);
    b[17] = static_cast<unsigned char>(descriptor);
    std::copy(tail.begin(), tail.end(), b.begin() + 18);
    return b;
}

// A raw, bottom-left TGA image whose pixel values count up from seed.
inline Bytes image(int type, int width, int height, int depth, int seed = 1) {
    Bytes pixels;
    for (int i = 0; i < width * height * depth / 8; ++i)
        pixels.push_back(static_cast<unsigned char>(seed + 7 * i));
    return tga(type, width, height, depth, pixels);
}

// A parameter of one mipmap level of the bound 2-D texture.
inline GLint level(int lod, GLenum what) {
    GLint v = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, lod, what, &v);
    return v;
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Bytes& body, const std::string& head = "") {
    std::ofstream out(path, std::ios::binary);
    out << head;
    out.write(reinterpret_cast<const char*>(body.data()), std::streamsize(body.size()));
}

// A fresh directory under /tmp for each test, and the image the test loads into.
class ScratchTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tga-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        tgaFree(&img);
        std::filesystem::remove_all(dir_);
    }

    // Writes b as the next of image0.tga, image1.tga, ... and returns its path.
    std::string write(const Bytes& b) {
        const std::string path = dir_ + "/image" + std::to_string(count_++) + ".tga";
        writeFile(path, b);
        return path;
    }

    // Frees the last image, loads path into img and returns what the loader printed.
    std::string loadPath(const std::string& path, tgaFLAG mode) {
        tgaFree(&img);
        testing::internal::CaptureStdout();
        tgaLoad(path.c_str(), &img, mode);
        return testing::internal::GetCapturedStdout();
    }

    image_t img = {};
    std::string dir_;
    int count_ = 0;
};

// ScratchTest with a texture name of its own bound to GL_TEXTURE_2D.
class TextureTest : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        glGenTextures(1, &texture_);
        glBindTexture(GL_TEXTURE_2D, texture_);
    }
    void TearDown() override {
        glDeleteTextures(1, &texture_);
        ScratchTest::TearDown();
    }

    GLuint texture_ = 0;
};

}  // namespace tgatest
