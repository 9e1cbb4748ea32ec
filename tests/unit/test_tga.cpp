// Byte-level decoding of hand-built TGA files, and the failure path.
#include "tga_test_util.h"

#include <string>
#include <vector>

namespace {

using namespace tgatest;

class TgaDecode : public TextureTest {
protected:
    // Decodes b without uploading it; returns what the loader printed.
    std::string load(const Bytes& b, tgaFLAG mode = 0) {
        path_ = write(b);
        return loadPath(path_, mode | TGA_NO_UPLOAD);
    }

    Bytes pixels() const { return img.data ? Bytes(img.data, img.data + img.info.bytes) : Bytes(); }

    std::string path_;
};

TEST_F(TgaDecode, RawTrueColourTurnsBgrIntoRgb) {
    EXPECT_EQ(load(tga(2, 2, 1, 24, {0x10, 0x20, 0x30, 1, 2, 3})), "");
    EXPECT_EQ(img.info.tgaColourType, GLenum(GL_RGB));
    EXPECT_EQ(img.info.components, 3);
    EXPECT_EQ(img.info.bytes, 6);
    EXPECT_EQ(pixels(), (Bytes{0x30, 0x20, 0x10, 3, 2, 1}));

    EXPECT_EQ(load(tga(2, 2, 1, 32, {0x10, 0x20, 0x30, 0x40, 1, 2, 3, 4})), "");
    EXPECT_EQ(img.info.tgaColourType, GLenum(GL_RGBA));
    EXPECT_EQ(pixels(), (Bytes{0x30, 0x20, 0x10, 0x40, 3, 2, 1, 4}));
}

TEST_F(TgaDecode, RunAndRawPacketsFlowAcrossRowEnds) {
    // 0x85: one value, six pixels, covering both rows of a 3x2 image.
    EXPECT_EQ(load(tga(10, 3, 2, 24, {0x85, 1, 2, 3})), "");
    EXPECT_EQ(pixels(), (Bytes{3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1}));

    // 0x02: three values; then a run of three; the raw packet ends mid second row of 2x3.
    EXPECT_EQ(load(tga(10, 2, 3, 24, {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x82, 10, 11, 12})), "");
    EXPECT_EQ(pixels(), (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 12, 11, 10, 12, 11, 10}));

    // 32-bit packets keep alpha; runs long enough to take the four-pixel fill path.
    EXPECT_EQ(load(tga(10, 5, 2, 32,
                       {0x86, 1, 2, 3, 4, 0x02, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16})),
              "");
    Bytes want;
    for (int i = 0; i < 7; ++i) want.insert(want.end(), {3, 2, 1, 4});
    want.insert(want.end(), {7, 6, 5, 8, 11, 10, 9, 12, 15, 14, 13, 16});
    EXPECT_EQ(pixels(), want);

    want.clear();
    EXPECT_EQ(load(tga(10, 7, 1, 24, {0x86, 9, 8, 7})), "");
    for (int i = 0; i < 7; ++i) want.insert(want.end(), {7, 8, 9});
    EXPECT_EQ(pixels(), want);
}

TEST_F(TgaDecode, LongPacketsAndRowsMatchPixelByPixel) {
    // 37x3: a run of 20, a raw packet of 50 and a run of 41; the same pixels stored raw.
    for (int depth : {24, 32}) {
        SCOPED_TRACE(depth);
        const int c = depth / 8;
        Bytes stored, packed, want;
        auto value = [c](int i) {
            Bytes v;
            for (int k = 0; k < c; ++k) v.push_back(static_cast<unsigned char>(i * 31 + k * 7));
            return v;
        };
        auto put = [&](int n, int of) {
            const Bytes v = value(of);
            for (int i = 0; i < n; ++i) {
                stored.insert(stored.end(), v.begin(), v.end());
                want.insert(want.end(), {v[2], v[1], v[0]});
                if (c == 4) want.push_back(v[3]);
            }
        };
        packed.push_back(0x80 | 19);
        const Bytes first = value(1);
        packed.insert(packed.end(), first.begin(), first.end());
        put(20, 1);
        packed.push_back(49);
        for (int i = 0; i < 50; ++i) {
            const Bytes v = value(100 + i);
            packed.insert(packed.end(), v.begin(), v.end());
            put(1, 100 + i);
        }
        packed.push_back(0x80 | 40);
        const Bytes last = value(2);
        packed.insert(packed.end(), last.begin(), last.end());
        put(41, 2);

        EXPECT_EQ(load(tga(10, 37, 3, depth, packed)), "");
        EXPECT_EQ(pixels(), want);
        EXPECT_EQ(load(tga(2, 37, 3, depth, stored)), "");
        EXPECT_EQ(pixels(), want);
    }
}

TEST_F(TgaDecode, PacketClaimingMorePixelsThanRemainIsCut) {
    EXPECT_EQ(load(tga(10, 2, 1, 24, {0x80, 1, 2, 3, 0x7f, 4, 5, 6})), "");
    EXPECT_EQ(pixels(), (Bytes{3, 2, 1, 6, 5, 4}));
    EXPECT_EQ(load(tga(10, 2, 2, 24, {0x80, 1, 2, 3, 0xff, 4, 5, 6})), "");
    EXPECT_EQ(pixels(), (Bytes{3, 2, 1, 6, 5, 4, 6, 5, 4, 6, 5, 4}));
}

TEST_F(TgaDecode, GreyscaleFollowsTheGreyBits) {
    const Bytes raw = tga(3, 3, 1, 8, {7, 8, 9});
    EXPECT_EQ(load(raw, TGA_GREY_AS_LUMINANCE | TGA_GREY_AS_ALPHA), "");
    EXPECT_EQ(img.info.tgaColourType, GLenum(GL_LUMINANCE));
    EXPECT_EQ(pixels(), (Bytes{7, 8, 9}));
    EXPECT_EQ(load(raw, TGA_GREY_AS_ALPHA), "");
    EXPECT_EQ(img.info.tgaColourType, GLenum(GL_ALPHA));
    EXPECT_EQ(pixels(), (Bytes{7, 8, 9}));

    // Run-length greyscale (type 11) decodes like type 3.
    EXPECT_EQ(load(tga(11, 3, 2, 8, {0x83, 5, 0x01, 6, 7}), TGA_GREY_AS_LUMINANCE), "");
    EXPECT_EQ(img.info.tgaColourType, GLenum(GL_LUMINANCE));
    EXPECT_EQ(pixels(), (Bytes{5, 5, 5, 5, 6, 7}));
}

TEST_F(TgaDecode, ImageIdAndColourMapAreSkipped) {
    Bytes b = tga(2, 1, 1, 24, {'i', 'd', 0, 0, 0, 0, 0, 0, 1, 2, 3});
    b[0] = 2;   // two ID bytes
    b[1] = 1;   // a colour map of
    b[5] = 2;   // two entries
    b[7] = 24;  // of three bytes
    EXPECT_EQ(load(b), "");
    EXPECT_EQ(pixels(), (Bytes{3, 2, 1}));

    // 15-bit entries take two bytes each.
    b = tga(10, 1, 1, 24, {0, 0, 0, 0, 0, 0, 0x80, 1, 2, 3});
    b[1] = 1;
    b[5] = 3;
    b[7] = 15;
    EXPECT_EQ(load(b), "");
    EXPECT_EQ(pixels(), (Bytes{3, 2, 1}));
}

TEST_F(TgaDecode, BufferHoldsBottomRowFirstLeftToRight) {
    // 2x2 grey image stored as rows {1, 2}, {3, 4} in file order.
    const Bytes stored = {1, 2, 3, 4};
    const tgaFLAG grey = TGA_GREY_AS_LUMINANCE;
    EXPECT_EQ(load(tga(3, 2, 2, 8, stored, 0x00), grey), "");
    EXPECT_EQ(pixels(), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(load(tga(3, 2, 2, 8, stored, 0x20), grey), "");
    EXPECT_EQ(pixels(), (Bytes{3, 4, 1, 2}));
    EXPECT_EQ(load(tga(3, 2, 2, 8, stored, 0x10), grey), "");
    EXPECT_EQ(pixels(), (Bytes{2, 1, 4, 3}));
    EXPECT_EQ(load(tga(3, 2, 2, 8, stored, 0x30), grey), "");
    EXPECT_EQ(pixels(), (Bytes{4, 3, 2, 1}));

    // Three rows of three RGB pixels, top first and right to left, run-length encoded.
    EXPECT_EQ(load(tga(10, 3, 3, 24, {0x08, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5,
                                      0,    0, 6, 0, 0, 7, 0, 0, 8, 0, 0, 9, 0, 0},
                       0x30)),
              "");
    EXPECT_EQ(pixels(), (Bytes{0, 0, 9, 0, 0, 8, 0, 0, 7, 0, 0, 6, 0, 0,
                               5, 0, 0, 4, 0, 0, 3, 0, 0, 2, 0, 0, 1}));
}

TEST_F(TgaDecode, ReleaseAndNoUploadBits) {
    const Bytes b = tga(2, 1, 1, 24, {1, 2, 3});
    EXPECT_EQ(load(b, TGA_RELEASE_DATA), "");
    EXPECT_EQ(img.data, nullptr);
    EXPECT_EQ(img.info.width, 1);
    EXPECT_EQ(level(0, GL_TEXTURE_WIDTH), 0);

    EXPECT_EQ(load(b), "");
    ASSERT_NE(img.data, nullptr);
    tgaFree(&img);
    EXPECT_EQ(img.data, nullptr);
    tgaFree(&img);
}

struct Failure {
    const char* what;
    Bytes file;
    tgaFLAG mode;
    const char* message;
};

TEST_F(TgaDecode, FailuresPrintOneLineAndLeaveTheCheckerboard) {
    Bytes with_id = tga(2, 1, 1, 24, {1, 2, 3});
    with_id[0] = 200;
    Bytes huge_map = tga(2, 1, 1, 24, {1, 2, 3});
    huge_map[1] = 1;
    huge_map[5] = huge_map[6] = 0xff;
    huge_map[7] = 32;
    const Bytes rgb3 = {1, 2, 3};
    const std::vector<Failure> cases = {
        {"colour-mapped", tga(1, 1, 1, 8, {0}), 0, "8-bit colour no longer supported"},
        {"colour-mapped RLE", tga(9, 1, 1, 8, {0x80, 0}), 0, "8-bit colour no longer supported"},
        {"16-bit", tga(2, 1, 1, 16, {1, 2}), 0, "Unsupported RGB format"},
        {"8-bit true colour", tga(2, 1, 1, 8, {1}), 0, "Unsupported RGB format"},
        {"16-bit RLE", tga(10, 1, 1, 16, {0x80, 1, 2}), 0, "Unsupported compressed RGB format"},
        {"grey, no grey bit", tga(3, 1, 1, 8, {1}), TGA_FOUR_BIT_FORMATS,
         "Must be LUMINANCE or ALPHA greyscale"},
        {"RLE grey, no grey bit", tga(11, 1, 1, 8, {0x80, 1}), 0,
         "Must be LUMINANCE or ALPHA greyscale"},
        {"16-bit grey", tga(3, 1, 1, 16, {1, 2}), TGA_GREY_AS_ALPHA,
         "Unsupported greyscale format"},
        {"4-bit grey", tga(11, 2, 1, 4, {0x81, 1}), TGA_GREY_AS_LUMINANCE,
         "Unsupported greyscale format"},
        {"no image data", tga(0, 1, 1, 24, rgb3), 0, "Unsupported image type"},
        {"type 4", tga(4, 1, 1, 24, rgb3), 0, "Unsupported image type"},
        {"Huffman", tga(32, 1, 1, 24, rgb3), 0, "Unsupported image type"},
        {"zero width", tga(2, 0, 1, 24, {}), 0, "Invalid image size"},
        {"negative height", tga(2, 1, -3, 24, rgb3), 0, "Invalid image size"},
        {"byte count beyond int", tga(2, 32767, 32767, 32, {}), 0, "Image too large"},
        {"short header", Bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, 0, "Unexpected end of file"},
        {"empty file", Bytes{}, 0, "Unexpected end of file"},
        {"raw one byte short", tga(2, 2, 1, 24, {1, 2, 3, 4, 5}), 0, "Unexpected end of file"},
        {"huge size, few bytes", tga(2, 20000, 20000, 24, rgb3), 0, "Unexpected end of file"},
        {"ID past the end", with_id, 0, "Unexpected end of file"},
        {"colour map past the end", huge_map, 0, "Unexpected end of file"},
        {"RLE value cut short", tga(10, 2, 1, 24, {0x81, 1, 2}), 0, "Unexpected end of file"},
        {"RLE raw packet cut short", tga(10, 2, 1, 24, {0x01, 1, 2, 3, 4}), 0,
         "Unexpected end of file"},
        {"RLE out of packets",
         tga(10, 400, 1, 24, {0xff, 1, 2, 3, 0xff, 1, 2, 3, 0xff, 1, 2, 3, 0, 1, 2, 3}), 0,
         "Unexpected end of file"},
    };
    for (const Failure& f : cases) {
        SCOPED_TRACE(f.what);
        const unsigned char one = 9;
        glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, 1, 1, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, &one);
        const std::string printed = load(f.file, f.mode);
        EXPECT_EQ(printed, std::string(f.message) + " - " + path_ + "\n");
        EXPECT_EQ(img.data, nullptr);
        EXPECT_EQ(img.info.image_type, 3);
        EXPECT_EQ(img.info.width, 128);
        EXPECT_EQ(img.info.height, 128);
        EXPECT_EQ(img.info.pixel_depth, 8);
        EXPECT_EQ(img.info.components, 1);
        EXPECT_EQ(img.info.bytes, 16384);
        EXPECT_EQ(level(0, GL_TEXTURE_WIDTH), 128);
    }
}

TEST_F(TgaDecode, MissingFileNamesThePathTried) {
    const std::string missing = dir_ + "/textures/earth.tga";
    EXPECT_EQ(loadPath(missing, TGA_FOUR_BIT_FORMATS | TGA_RELEASE_DATA),
              "File not found - " + missing + "\n");
    EXPECT_EQ(img.data, nullptr);
    EXPECT_EQ(img.info.width, 128);
    EXPECT_EQ(level(0, GL_TEXTURE_WIDTH), 128);
}

}  // namespace

int main(int argc, char** argv) { return tgatest::runTests(argc, argv); }
