// Decoding of TGA files written by ImageMagick and netpbm, pixel by pixel against each tool's
// own reading of the same file. The files are made at test time from a picture made here. Also
// the build's own textures/earth.tga, whichever ImageMagick made it, at known places.
#include "tga_test_util.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace tgatest;

const int kWidth = 37, kHeight = 23;  // odd sizes: rows of any length, packets across rows

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
};

class TgaConformance : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        if (HasFatalFailure()) return;
        const std::string size = std::to_string(kWidth) + " " + std::to_string(kHeight);
        writeFile(dir_ + "/in.pgm", picture(1), "P5\n" + size + "\n255\n");
        writeFile(dir_ + "/in.ppm", picture(3), "P6\n" + size + "\n255\n");
        writeFile(dir_ + "/in.pam", picture(4),
                  "P7\nWIDTH " + std::to_string(kWidth) + "\nHEIGHT " + std::to_string(kHeight) +
                      "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n");
    }

    std::string expand(std::string command, const std::string& in, const std::string& out) {
        for (size_t at; (at = command.find("{in}")) != std::string::npos;)
            command.replace(at, 4, dir_ + "/" + in);
        for (size_t at; (at = command.find("{out}")) != std::string::npos;)
            command.replace(at, 5, dir_ + "/" + out);
        return command;
    }

    int run(const std::string& command) { return std::system(command.c_str()); }

    // With TLX_TGA_KEEP naming a directory, each file made here is also copied there, as 1.tga,
    // 2.tga, ...: the corpus that scripts/cross decodes on two architectures.
    void keep(const std::string& path) {
        static int kept = 0;
        if (const char* dir = std::getenv("TLX_TGA_KEEP"))
            std::filesystem::copy_file(path, dir + ("/" + std::to_string(++kept) + ".tga"),
                                       std::filesystem::copy_options::overwrite_existing);
    }

    // Makes the file, decodes it with the loader and checks the header against what the tool
    // was asked to write (the origin is left to the tool: ImageMagick versions differ). Returns the
    // decoded buffer, bottom row first.
    Bytes decode(const Made& m) {
        const char* in = m.channels == 1 ? "in.pgm" : m.channels == 3 ? "in.ppm" : "in.pam";
        const std::string command = expand(m.command, in, "out.tga");
        EXPECT_EQ(run(command), 0) << command;
        keep(dir_ + "/out.tga");
        EXPECT_EQ(loadPath(dir_ + "/out.tga", TGA_NO_UPLOAD | TGA_GREY_AS_LUMINANCE), "");
        EXPECT_EQ(img.info.image_type, m.image_type);
        EXPECT_EQ(img.info.pixel_depth, m.channels * 8);
        EXPECT_EQ(img.info.width, kWidth);
        EXPECT_EQ(img.info.height, kHeight);
        if (img.data == nullptr) return Bytes();
        return Bytes(img.data, img.data + img.info.bytes);
    }
};

TEST_F(TgaConformance, ImageMagickFilesMatchImageMagicksReading) {
    const std::vector<Made> made = {
        {"convert {in} -compress None {out}", 3, 2},
        {"convert {in} -compress RLE {out}", 3, 10},
        {"convert {in} -orient TopLeft -compress None {out}", 3, 2},
        {"convert {in} -orient TopLeft -compress RLE {out}", 3, 10},
        {"convert {in} -compress None {out}", 4, 2},
        {"convert {in} -compress RLE {out}", 4, 10},
        {"convert {in} -orient TopLeft -compress None {out}", 4, 2},
        {"convert {in} -orient TopLeft -compress RLE {out}", 4, 10},
        {"convert {in} -compress None {out}", 1, 3},
        {"convert {in} -orient TopLeft -compress RLE {out}", 1, 11},
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
    }
}

TEST_F(TgaConformance, NetpbmFilesMatchNetpbmsReading) {
    const std::vector<Made> made = {
        {"pamtotga -quiet -rgb -norle {in} > {out}", 3, 2},
        {"pamtotga -quiet -rgb {in} > {out}", 3, 10},
        {"pamtotga -quiet -rgb -norle {in} > {out}", 4, 2},
        {"pamtotga -quiet -rgb {in} > {out}", 4, 10},
        {"pamtotga -quiet -mono -norle {in} > {out}", 1, 3},
        {"pamtotga -quiet -mono {in} > {out}", 1, 11},
    };
    for (const Made& m : made) {
        SCOPED_TRACE(std::string(m.command) + ", channels " + std::to_string(m.channels));
        const Bytes ours = decode(m);
        // pamtotga writes an image ID ahead of the pixels, and the bottom row first.
        EXPECT_GT(img.info.id_length, 0);
        EXPECT_EQ(img.info.image_descriptor & 0x20, 0);
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
        writeFile(dir_ + "/few.ppm", Bytes{1, 2, 3, 4, 5, 6}, "P6\n2 1\n255\n");
        const std::string make = expand(command, "few.ppm", "cmap.tga");
        ASSERT_EQ(run(make), 0) << make;
        const std::string path = dir_ + "/cmap.tga";
        keep(path);
        EXPECT_EQ(loadPath(path, TGA_NO_UPLOAD),
                  "8-bit colour no longer supported - " + path + "\n");
        EXPECT_EQ(img.data, nullptr);
    }
}

// The build's Blue Marble texture: north up and east to the right, whichever way the
// ImageMagick at hand stored its rows. Mirrored or upside down, a desert lands on the ocean.
class EarthTexture : public ScratchTest {};

TEST_F(EarthTexture, IsNorthUpAndEastRightAtKnownPlaces) {
    ASSERT_EQ(loadPath(TLX_EARTH_TGA, TGA_NO_UPLOAD), "");
    ASSERT_EQ(img.info.components, 3);
    const int w = img.info.width, h = img.info.height;
    // Mean colour of the 9x9 block at a place; the buffer holds rows bottom (south) first.
    auto at = [&](double lat, double lon) {
        const int cx = int((lon + 180) / 360 * w), cy = int((lat + 90) / 180 * h);
        double sum[3] = {};
        for (int y = cy - 4; y <= cy + 4; ++y)
            for (int x = cx - 4; x <= cx + 4; ++x)
                for (int c = 0; c < 3; ++c) sum[c] += img.data[(size_t(y) * w + x) * 3 + c] / 81.0;
        return std::vector<double>(sum, sum + 3);
    };
    struct Place {
        const char* name;
        double lat, lon;
        bool bright;  // bright desert or ice; otherwise dark ocean
    };
    for (const Place& p :
         {Place{"Sahara", 23, 10, true}, Place{"Arabia", 22, 47, true},
          Place{"Antarctica", -85, 0, true}, Place{"Antarctica", -80, 120, true},
          Place{"mid-Atlantic", 25, -40, false}, Place{"central Pacific", 0, -160, false},
          Place{"Indian Ocean", -20, 80, false}}) {
        const std::vector<double> c = at(p.lat, p.lon);
        SCOPED_TRACE(std::string(p.name) + ": " + std::to_string(c[0]) + " " +
                     std::to_string(c[1]) + " " + std::to_string(c[2]));
        if (p.bright) {
            EXPECT_GT(std::min({c[0], c[1], c[2]}), 150);
        } else {
            EXPECT_LT(std::max({c[0], c[1]}), 40);
            EXPECT_GT(c[2], c[0] + 20);  // blue
        }
    }
    // Ice all along the last rows of the picture, the southernmost.
    for (int x = 0; x < w; x += 16) {
        const unsigned char* p = img.data + size_t(x) * 3;
        EXPECT_GT(std::min({p[0], p[1], p[2]}), 150) << "column " << x;
    }
}

}  // namespace

int main(int argc, char** argv) { return tgatest::runTests(argc, argv); }
