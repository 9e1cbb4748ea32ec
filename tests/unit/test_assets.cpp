// Runs the asset generator into a temporary directory and reads back what it wrote.
#include <gtest/gtest.h>

#include <algorithm>
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
    std::string command = std::string(TLX_GENASSETS) + "'" + dir.string() + "'";
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

// The samples of a 16-bit mono PCM file at 22050 Hz, scaled to [-1, 1]; none if the RIFF layout,
// the format or the chunk sizes are not exactly that.
std::vector<double> readWav(const std::string& b) {
    const bool ok = b.substr(0, 4) == "RIFF" && le32(b, 4) == b.size() - 8 &&
                    b.substr(8, 8) == "WAVEfmt " && le32(b, 16) == 16 && le16(b, 20) == 1 &&
                    le16(b, 22) == 1 && le32(b, 24) == 22050 && le32(b, 28) == 44100 &&
                    le16(b, 32) == 2 && le16(b, 34) == 16 && b.substr(36, 4) == "data" &&
                    le32(b, 40) == b.size() - 44 && b.size() % 2 == 0;
    std::vector<double> s;
    for (size_t i = 44; ok && i < b.size(); i += 2) s.push_back(std::int16_t(le16(b, i)) / 32768.0);
    return s;
}

// The frequency, on a 5 Hz grid from 100 Hz to 4 kHz, with the largest DFT magnitude.
double dominantFrequency(const std::vector<double>& s) {
    double best = 0, bestPower = -1;
    for (double f = 100; f <= 4000; f += 5) {
        double re = 0, im = 0, w = 2 * kPi * f / 22050;
        for (size_t i = 0; i < s.size(); ++i)
            re += s[i] * std::cos(w * i), im += s[i] * std::sin(w * i);
        if (re * re + im * im > bestPower) bestPower = re * re + im * im, best = f;
    }
    return best;
}

TEST_F(Assets, EffectsAreShortCleanPcmWithDistinctTones) {
    for (auto [name, tone] : {std::pair{"hit.wav", kHitTone}, {"message.wav", kMessageTone}}) {
        SCOPED_TRACE(name);
        std::vector<double> s = readWav(slurp(dir / "audio" / name));
        ASSERT_TRUE(s.size() > 2205 && s.size() < 22050) << "malformed, or not 0.1 s to 1 s long";
        double peak = 0;
        for (double v : s) peak = std::max(peak, std::fabs(v));
        EXPECT_TRUE(peak > 0.3 && peak < 0.99) << "peak " << peak;  // audible, not clipped
        EXPECT_TRUE(std::fabs(s.front()) < 0.01 && std::fabs(s.back()) < 0.01) << "clicks";
        EXPECT_NEAR(dominantFrequency(s), tone, tone * 0.03);
    }
}

TEST_F(Assets, MusicIsAStandardMidiFileEndingOnABarLine) {
    const std::string b = slurp(dir / "audio" / "music.mid");
    ASSERT_TRUE(b.substr(0, 4) == "MThd" && be32(b, 4) == 6 && be16(b, 8) <= 1);
    const unsigned tracks = be16(b, 10), division = be16(b, 12);
    ASSERT_TRUE(division > 0 && division < 0x8000);  // ticks per quarter note, not SMPTE

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
        EXPECT_TRUE(pos == end && ended) << "no end-of-track event at the end of the chunk";
        ends.insert(tick);
    }
    EXPECT_EQ(pos, b.size());
    EXPECT_TRUE(noteOns > 100 && programs.size() >= 3) << noteOns << " notes";
    for (auto [key, count] : sounding) EXPECT_EQ(count, 0) << "note " << key << " left on";
    ASSERT_EQ(ends.size(), 1u) << "tracks end at different times";
    EXPECT_TRUE(*ends.begin() > 0 && *ends.begin() % (4 * division) == 0) << "not on a bar line";
}

TEST_F(Assets, StarFieldIsBottomUpRleTrueColourWithTintedStars) {
    const std::string b = slurp(dir / "textures" / "stars.tga");
    // No colour map, run-length encoded true colour, 24 bits, bottom-left origin, no alpha bits.
    ASSERT_EQ(b.substr(1, 2), std::string("\0\x0A", 2));
    ASSERT_EQ(b.substr(16, 2), std::string("\x18\0", 2));
    const size_t width = le16(b, 12), height = le16(b, 14);
    ASSERT_TRUE(width >= 256 && height >= 256);

    std::vector<std::uint8_t> px;  // blue, green, red as stored
    size_t pos = 18 + byte(b, 0);
    for (size_t row = 0; row < height && pos < b.size(); ++row) {
        for (size_t x = 0; x < width && pos < b.size();) {
            const unsigned head = byte(b, pos++), count = (head & 0x7F) + 1;
            ASSERT_LE(x + count, width) << "packet crosses row " << row;
            for (unsigned i = 0; i < 3 * count; ++i)
                px.push_back(byte(b, pos + (head & 0x80 ? i % 3 : i)));
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
    EXPECT_GT(dark, width * height * 8 / 10) << "the sky is not mostly black";
    EXPECT_TRUE(bright > 100 && bright < width * height / 100) << bright << " bright pixels";
    EXPECT_TRUE(warm > 20 && cool > 20) << warm << " warm and " << cool << " blue star pixels";
}

TEST_F(Assets, OutputIsTheSameOnEveryRun) {
    const fs::path again = generate("tlx_assets_again");
    for (const char* file :
         {"audio/hit.wav", "audio/message.wav", "audio/music.mid", "textures/stars.tga"})
        EXPECT_TRUE(!slurp(dir / file).empty() && slurp(dir / file) == slurp(again / file)) << file;
    fs::remove_all(again);
}

}  // namespace
