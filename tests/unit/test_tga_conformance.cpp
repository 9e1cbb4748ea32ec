// Decoding of TGA files written by ImageMagick and netpbm, pixel by pixel against each tool's
// own reading of the same file. The files are made at test time from a picture made here.
#include "tgaload.h"

#include <GL/osmesa.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const int kWidth = 37, kHeight = 23;  // odd sizes: rows of any length, packets across rows

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

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& head, const Bytes& body) {
    std::ofstream out(path, std::ios::binary);
    out << head;
    out.write(reinterpret_cast<const char*>(body.data()), std::streamsize(body.size()));
}

// The samples of a binary PPM (P6) or PGM (P5) with maxval 255, top row first.
Bytes readPnm(const std::string& path, int* channels) {
    const Bytes file = readFile(path);
    std::string text(file.begin(), file.begin() + std::min<size_t>(file.size(), 64));
    std::istringstream head(text);
    std::string magic;
    int w = 0, h = 0, maxval = 0;
    head >> magic >> w >> h >> maxval;
    *channels = magic == "P6" ? 3 : 1;
    const size_t start = size_t(head.tellg()) + 1;
    const size_t size = size_t(w) * h * *channels;
    if (maxval != 255 || file.size() < start + size) return Bytes();
    return Bytes(file.begin() + long(start), file.begin() + long(start + size));
}

// The picture: a flat block on the left (long runs), varying values elsewhere.
Bytes picture(int channels) {
    Bytes p;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool flat = x < 12;
            const int rgba[4] = {flat ? 200 : x * 7, flat ? 100 : y * 11, flat ? 50 : (x * y) & 255,
                                 1 + (x * 13 + y * 5) % 255};
            if (channels == 1)
                p.push_back(static_cast<unsigned char>(flat ? 90 : (x * 5 + y * 9) & 255));
            else
                p.insert(p.end(), rgba, rgba + channels);
        }
    }
    return p;
}

// Rows in the opposite order.
Bytes flipRows(const Bytes& p, int channels) {
    Bytes out;
    const size_t row = size_t(kWidth) * channels;
    for (int y = kHeight - 1; y >= 0; --y)
        out.insert(out.end(), p.begin() + long(y * row), p.begin() + long((y + 1) * row));
    return out;
}

struct Made {
    const char* command;  // {in} is the picture, {out} the TGA file
    int channels;
    int image_type;
    bool top_first;
};

class TgaConformance : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tga-conformance-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        const std::string size = std::to_string(kWidth) + " " + std::to_string(kHeight);
        writeFile(dir_ + "/in.pgm", "P5\n" + size + "\n255\n", picture(1));
        writeFile(dir_ + "/in.ppm", "P6\n" + size + "\n255\n", picture(3));
        writeFile(dir_ + "/in.pam",
                  "P7\nWIDTH " + std::to_string(kWidth) + "\nHEIGHT " + std::to_string(kHeight) +
                      "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                  picture(4));
    }
    void TearDown() override {
        tgaFree(&img);
        std::filesystem::remove_all(dir_);
    }

    std::string expand(std::string command, const std::string& in, const std::string& out) {
        for (size_t at; (at = command.find("{in}")) != std::string::npos;)
            command.replace(at, 4, dir_ + "/" + in);
        for (size_t at; (at = command.find("{out}")) != std::string::npos;)
            command.replace(at, 5, dir_ + "/" + out);
        return command;
    }

    int run(const std::string& command) { return std::system(command.c_str()); }

    // Makes the file, decodes it with the loader and checks the header against what the tool
    // was asked to write. Returns the decoded buffer, bottom row first.
    Bytes decode(const Made& m) {
        const char* in = m.channels == 1 ? "in.pgm" : m.channels == 3 ? "in.ppm" : "in.pam";
        const std::string command = expand(m.command, in, "out.tga");
        EXPECT_EQ(run(command), 0) << command;
        tgaFree(&img);
        testing::internal::CaptureStdout();
        tgaLoad((dir_ + "/out.tga").c_str(), &img, TGA_NO_UPLOAD | TGA_GREY_AS_LUMINANCE);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(img.info.image_type, m.image_type);
        EXPECT_EQ(img.info.pixel_depth, m.channels * 8);
        EXPECT_EQ((img.info.image_descriptor & 0x20) != 0, m.top_first);
        EXPECT_EQ(img.info.width, kWidth);
        EXPECT_EQ(img.info.height, kHeight);
        if (img.data == nullptr) return Bytes();
        return Bytes(img.data, img.data + img.info.bytes);
    }

    image_t img = {};
    std::string dir_;
};

TEST_F(TgaConformance, ImageMagickFilesMatchImageMagicksReading) {
    const std::vector<Made> made = {
        {"convert {in} -compress None {out}", 3, 2, false},
        {"convert {in} -compress RLE {out}", 3, 10, false},
        {"convert {in} -orient TopLeft -compress None {out}", 3, 2, true},
        {"convert {in} -orient TopLeft -compress RLE {out}", 3, 10, true},
        {"convert {in} -compress None {out}", 4, 2, false},
        {"convert {in} -compress RLE {out}", 4, 10, false},
        {"convert {in} -orient TopLeft -compress None {out}", 4, 2, true},
        {"convert {in} -orient TopLeft -compress RLE {out}", 4, 10, true},
        {"convert {in} -compress None {out}", 1, 3, false},
        {"convert {in} -orient TopLeft -compress RLE {out}", 1, 11, true},
    };
    const char* raw[] = {"", "gray", "", "rgb", "rgba"};
    for (const Made& m : made) {
        SCOPED_TRACE(std::string(m.command) + ", channels " + std::to_string(m.channels));
        const Bytes ours = decode(m);
        // ImageMagick's -auto-orient puts the displayed top row first.
        const std::string ref = dir_ + "/ref.raw";
        const std::string read =
            expand("convert {out} -auto-orient " + std::string(raw[m.channels]) + ":" + ref, "",
                   "out.tga");
        ASSERT_EQ(run(read), 0) << read;
        const Bytes theirs = readFile(ref);
        ASSERT_EQ(theirs.size(), size_t(kWidth) * kHeight * m.channels);
        EXPECT_EQ(ours, flipRows(theirs, m.channels));
        // Top-first files hold the picture as made; the others carry it upside down.
        const Bytes made_picture = picture(m.channels);
        EXPECT_EQ(ours, m.top_first ? flipRows(made_picture, m.channels) : made_picture);
    }
}

TEST_F(TgaConformance, NetpbmFilesMatchNetpbmsReading) {
    const std::vector<Made> made = {
        {"pamtotga -quiet -rgb -norle {in} > {out}", 3, 2, false},
        {"pamtotga -quiet -rgb {in} > {out}", 3, 10, false},
        {"pamtotga -quiet -rgb -norle {in} > {out}", 4, 2, false},
        {"pamtotga -quiet -rgb {in} > {out}", 4, 10, false},
        {"pamtotga -quiet -mono -norle {in} > {out}", 1, 3, false},
        {"pamtotga -quiet -mono {in} > {out}", 1, 11, false},
    };
    for (const Made& m : made) {
        SCOPED_TRACE(std::string(m.command) + ", channels " + std::to_string(m.channels));
        const Bytes ours = decode(m);
        // pamtotga writes an image ID ahead of the pixels.
        EXPECT_GT(img.info.id_length, 0);
        const std::string read =
            expand("tgatoppm -quiet --alphaout={in} {out} > {in}.ppm", "ref-alpha.pgm", "out.tga");
        ASSERT_EQ(run(read), 0) << read;
        int channels = 0;
        const Bytes colour = readPnm(dir_ + "/ref-alpha.pgm.ppm", &channels);
        ASSERT_EQ(channels, 3);
        ASSERT_EQ(colour.size(), size_t(kWidth) * kHeight * 3);
        Bytes theirs;
        if (m.channels == 1) {
            for (size_t i = 0; i < colour.size(); i += 3) theirs.push_back(colour[i]);
        } else if (m.channels == 3) {
            theirs = colour;
        } else {
            const Bytes alpha = readPnm(dir_ + "/ref-alpha.pgm", &channels);
            ASSERT_EQ(alpha.size(), size_t(kWidth) * kHeight);
            for (size_t i = 0; i < alpha.size(); ++i) {
                theirs.insert(theirs.end(), colour.begin() + long(3 * i),
                              colour.begin() + long(3 * i + 3));
                theirs.push_back(alpha[i]);
            }
        }
        EXPECT_EQ(ours, flipRows(theirs, m.channels));
        EXPECT_EQ(ours, flipRows(picture(m.channels), m.channels));
    }
}

TEST_F(TgaConformance, ColourMappedFilesAreRefused) {
    for (const char* command :
         {"pamtotga -quiet -cmap {in} > {out}", "pamtotga -quiet -cmap -norle {in} > {out}"}) {
        SCOPED_TRACE(command);
        // Few colours, so that a colour map holds them all.
        writeFile(dir_ + "/few.ppm", "P6\n2 1\n255\n", Bytes{1, 2, 3, 4, 5, 6});
        const std::string make = expand(command, "few.ppm", "cmap.tga");
        ASSERT_EQ(run(make), 0) << make;
        const std::string path = dir_ + "/cmap.tga";
        testing::internal::CaptureStdout();
        tgaLoad(path.c_str(), &img, TGA_NO_UPLOAD);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "8-bit colour no longer supported - " + path + "\n");
        EXPECT_EQ(img.data, nullptr);
    }
}

}  // namespace

// Mesa keeps a few blocks of its own until exit; only a sanitizer build asks for this list.
extern "C" const char* __lsan_default_suppressions() { return "leak:libOSMesa.so\n"; }

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new OffscreenContext);
    return RUN_ALL_TESTS();
}
