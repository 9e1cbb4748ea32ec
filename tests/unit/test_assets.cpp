// Runs the asset generator into a temporary directory and reads back what it wrote.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double kHitTone = 440.0;
constexpr double kMessageTone = 1320.0;
constexpr double kPi = 3.14159265358979323846;

fs::path generate(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / (name + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    std::string command = std::string("'") + TLX_GENASSETS + "' '" + dir.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return dir;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

unsigned byte(const std::string& b, size_t i) { return i < b.size() ? std::uint8_t(b[i]) : 0; }
unsigned le16(const std::string& b, size_t i) { return byte(b, i) | byte(b, i + 1) << 8; }
unsigned le32(const std::string& b, size_t i) { return le16(b, i) | le16(b, i + 2) << 16; }
unsigned be16(const std::string& b, size_t i) { return byte(b, i) << 8 | byte(b, i + 1); }
unsigned be32(const std::string& b, size_t i) { return be16(b, i) << 16 | be16(b, i + 2); }

class Assets : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dir = generate("tlx_assets"); }
    static void TearDownTestSuite() { fs::remove_all(dir); }
    static fs::path dir;
};
fs::path Assets::dir;

// Samples of the first channel, scaled to [-1, 1], after checking the RIFF layout.
std::vector<double> readWav(const std::string& b) {
    EXPECT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(b, 4), b.size() - 8);
    EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(b, 16), 16u);
    const unsigned format = le16(b, 20), channels = le16(b, 22), bits = le16(b, 34);
    EXPECT_EQ(format, 1u);
    EXPECT_TRUE(channels == 1 || channels == 2);
    EXPECT_EQ(le32(b, 24), 22050u);
    EXPECT_EQ(bits, 16u);
    EXPECT_EQ(le16(b, 32), channels * 2);
    EXPECT_EQ(le32(b, 28), 22050 * channels * 2);
    EXPECT_EQ(b.substr(36, 4), "data");
    const size_t size = le32(b, 40);
    EXPECT_EQ(size, b.size() - 44);
    std::vector<double> s;
    if (format != 1 || bits != 16 || channels < 1 || size != b.size() - 44) return s;
    for (size_t i = 44; i + 1 < b.size(); i += 2 * channels)
        s.push_back(std::int16_t(le16(b, i)) / 32768.0);
    return s;
}

// The frequency, on a 5 Hz grid from 100 Hz to 4 kHz, with the largest DFT magnitude.
double dominantFrequency(const std::vector<double>& s) {
    double best = 0, bestPower = -1;
    for (double f = 100; f <= 4000; f += 5) {
        double re = 0, im = 0, w = 2 * kPi * f / 22050;
        for (size_t i = 0; i < s.size(); ++i) {
            re += s[i] * std::cos(w * i);
            im -= s[i] * std::sin(w * i);
        }
        if (re * re + im * im > bestPower) bestPower = re * re + im * im, best = f;
    }
    return best;
}

TEST_F(Assets, EffectsAreShortCleanPcmWithDistinctTones) {
    std::map<std::string, double> tone;
    for (const char* name : {"hit.wav", "message.wav"}) {
        SCOPED_TRACE(name);
        std::vector<double> s = readWav(slurp(dir / "audio" / name));
        ASSERT_GT(s.size(), 2205u);  // at least 0.1 s
        EXPECT_LT(s.size(), 22050u);
        double peak = 0;
        for (double v : s) peak = std::max(peak, std::fabs(v));
        EXPECT_GT(peak, 0.3);
        EXPECT_LT(peak, 0.99);                  // no clipping
        EXPECT_LT(std::fabs(s.front()), 0.01);  // starts and ends without a click
        EXPECT_LT(std::fabs(s.back()), 0.01);
        tone[name] = dominantFrequency(s);
    }
    EXPECT_NEAR(tone["hit.wav"], kHitTone, kHitTone * 0.03);
    EXPECT_NEAR(tone["message.wav"], kMessageTone, kMessageTone * 0.03);
}

TEST_F(Assets, MusicIsAStandardMidiFileEndingOnABarLine) {
    const std::string b = slurp(dir / "audio" / "music.mid");
    ASSERT_EQ(b.substr(0, 4), "MThd");
    ASSERT_EQ(be32(b, 4), 6u);
    EXPECT_LE(be16(b, 8), 1u);
    const unsigned tracks = be16(b, 10), division = be16(b, 12);
    ASSERT_GT(division, 0u);
    ASSERT_LT(division, 0x8000u);  // ticks per quarter note, not SMPTE

    size_t pos = 14;
    std::set<long> ends;
    std::set<unsigned> programs;
    std::map<unsigned, int> sounding;  // channel << 8 | key -> note-ons not yet ended
    int noteOns = 0;
    for (unsigned t = 0; t < tracks; ++t) {
        SCOPED_TRACE("track " + std::to_string(t));
        ASSERT_EQ(b.substr(pos, 4), "MTrk");
        const size_t end = pos + 8 + be32(b, pos + 4);
        ASSERT_LE(end, b.size());
        pos += 8;
        long tick = 0;
        unsigned status = 0;
        bool ended = false;
        auto varLen = [&] {
            unsigned v = 0;
            while (pos < end && byte(b, pos) & 0x80) v = v << 7 | (byte(b, pos++) & 0x7F);
            return v << 7 | byte(b, pos++);
        };
        while (pos < end) {
            ASSERT_FALSE(ended) << "events after the end of the track";
            tick += varLen();
            if (byte(b, pos) & 0x80) status = byte(b, pos++);
            ASSERT_GE(status, 0x80u);
            if (status == 0xFF) {
                const unsigned type = byte(b, pos++), length = varLen();
                ended = type == 0x2F && length == 0;
                pos += length;
            } else if (status == 0xF0 || status == 0xF7) {
                pos += varLen();
            } else {
                const unsigned kind = status & 0xF0, key = (status & 0x0F) << 8 | byte(b, pos);
                if (kind == 0xC0) programs.insert(byte(b, pos));
                if (kind == 0x90 && byte(b, pos + 1) > 0) ++sounding[key], ++noteOns;
                if (kind == 0x80 || (kind == 0x90 && byte(b, pos + 1) == 0)) --sounding[key];
                pos += (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            }
        }
        EXPECT_EQ(pos, end);
        EXPECT_TRUE(ended) << "no end-of-track event";
        ends.insert(tick);
    }
    EXPECT_EQ(pos, b.size());
    EXPECT_GT(noteOns, 100);
    EXPECT_GE(programs.size(), 3u);
    for (auto [key, count] : sounding) EXPECT_EQ(count, 0) << "note " << key << " left on";
    ASSERT_EQ(ends.size(), 1u) << "tracks end at different times";
    EXPECT_GT(*ends.begin(), 0);
    EXPECT_EQ(*ends.begin() % (4 * division), 0) << "the loop does not end on a bar line";
}

TEST_F(Assets, StarFieldIsBottomUpRleTrueColourWithTintedStars) {
    const std::string b = slurp(dir / "textures" / "stars.tga");
    ASSERT_GE(b.size(), 18u);
    EXPECT_EQ(byte(b, 1), 0u);  // no colour map
    ASSERT_EQ(byte(b, 2), 10u);
    ASSERT_EQ(byte(b, 16), 24u);
    EXPECT_EQ(byte(b, 17), 0u);  // bottom-left origin, no alpha bits
    const size_t width = le16(b, 12), height = le16(b, 14);
    ASSERT_GE(width, 256u);
    ASSERT_GE(height, 256u);

    std::vector<std::uint8_t> px;  // blue, green, red as stored
    size_t pos = 18 + byte(b, 0);
    for (size_t row = 0; row < height && pos < b.size(); ++row) {
        size_t x = 0;
        while (x < width && pos < b.size()) {
            const unsigned head = byte(b, pos++), count = (head & 0x7F) + 1;
            ASSERT_LE(x + count, width) << "packet crosses row " << row;
            for (unsigned i = 0; i < count; ++i)
                for (int c = 0; c < 3; ++c)
                    px.push_back(byte(b, pos + (head & 0x80 ? c : 3 * i + c)));
            pos += head & 0x80 ? 3 : 3 * count;
            x += count;
        }
    }
    ASSERT_EQ(px.size(), width * height * 3);
    EXPECT_EQ(pos, b.size());

    size_t dark = 0, bright = 0, warm = 0, cool = 0;
    for (size_t i = 0; i < px.size(); i += 3) {
        const int blue = px[i], green = px[i + 1], red = px[i + 2];
        dark += std::max({red, green, blue}) < 48;
        bright += std::min({red, green, blue}) > 200;
        warm += green > 60 && red > blue + 20;
        cool += green > 60 && blue > red + 20;
    }
    const size_t n = width * height;
    EXPECT_GT(dark, n * 8 / 10) << "the sky is not mostly black";
    EXPECT_GT(bright, 100u) << "no bright stars";
    EXPECT_LT(bright, n / 100);
    EXPECT_GT(warm, 20u) << "no yellow or red stars";
    EXPECT_GT(cool, 20u) << "no blue stars";
}

TEST_F(Assets, OutputIsTheSameOnEveryRun) {
    const fs::path again = generate("tlx_assets_again");
    for (const char* file :
         {"audio/hit.wav", "audio/message.wav", "audio/music.mid", "textures/stars.tga"}) {
        EXPECT_FALSE(slurp(dir / file).empty()) << file;
        EXPECT_TRUE(slurp(dir / file) == slurp(again / file)) << file;
    }
    fs::remove_all(again);
}

}  // namespace
