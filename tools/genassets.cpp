// Writes terralux's generated run-time assets into a directory:
//   textures/stars.tga  star field backdrop, 24-bit run-length encoded TGA, bottom-left origin
//   audio/hit.wav       hit sound, 16-bit mono PCM
//   audio/message.wav   message sound, 16-bit mono PCM
//   audio/music.mid     background tune, Standard MIDI File, format 1
// The output is the same on every run: all randomness comes from a fixed-seed generator.
//
// Usage: terralux_genassets OUTPUT_DIR

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Sound effects.
constexpr int kSampleRate = 22050;
constexpr double kHitFrequency = 440.0;  // hit: dominant partial, A4
constexpr double kHitSeconds = 0.30;
constexpr double kMessageFirstFrequency = 990.0;  // message: first, quieter note, B5
constexpr double kMessageFrequency = 1320.0;      // message: second, dominant note, E6
constexpr double kMessageSeconds = 0.35;

// Star field.
constexpr int kStarSize = 1024;
constexpr int kFaintStars = 9000;
constexpr int kBrightStars = 28;

// Music.
constexpr int kTicksPerQuarter = 480;
constexpr int kTicksPerBar = 4 * kTicksPerQuarter;
constexpr int kBeatsPerMinute = 92;

using Bytes = std::vector<std::uint8_t>;

// splitmix64: small, fast and identical on every platform.
struct Rng {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in (0, 1).
    double uniform() { return ((next() >> 11) + 0.5) * (1.0 / 9007199254740992.0); }
    double normal() {
        return std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * kPi * uniform());
    }
};

void put16(Bytes& out, unsigned v) {
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}

void put32(Bytes& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void putBig32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back((v >> shift) & 0xFF);
}

void putText(Bytes& out, const char* text) {
    for (; *text; ++text) out.push_back(static_cast<std::uint8_t>(*text));
}

bool writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    file.close();
    if (!file) std::fprintf(stderr, "terralux_genassets: cannot write %s\n", path.c_str());
    return static_cast<bool>(file);
}

// ---- Star field ----------------------------------------------------------------------------

struct Colour {
    float r, g, b;
};

struct Canvas {
    int size;
    std::vector<Colour> px;  // linear intensities, row 0 at the top

    explicit Canvas(int n) : size(n), px(static_cast<size_t>(n) * n, Colour{0, 0, 0}) {}

    void add(int x, int y, Colour c, float k) {
        if (x < 0 || y < 0 || x >= size || y >= size) return;
        Colour& p = px[static_cast<size_t>(y) * size + x];
        p.r += c.r * k;
        p.g += c.g * k;
        p.b += c.b * k;
    }

    // A round Gaussian spot of peak `peak` and width `sigma` pixels centred at (cx, cy).
    void spot(double cx, double cy, double sigma, Colour c, double peak) {
        int reach = static_cast<int>(std::ceil(3.5 * sigma));
        for (int y = int(cy) - reach; y <= int(cy) + reach; ++y)
            for (int x = int(cx) - reach; x <= int(cx) + reach; ++x) {
                double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                add(x, y, c, float(peak * std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma))));
            }
    }

    // The wide halo and the four faint diffraction spikes around a bright star.
    void glow(double cx, double cy, Colour c, double strength, bool spikes) {
        const int reach = 48;
        for (int y = int(cy) - reach; y <= int(cy) + reach; ++y)
            for (int x = int(cx) - reach; x <= int(cx) + reach; ++x) {
                double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                double r = std::sqrt(dx * dx + dy * dy);
                double k = 0.35 * std::exp(-r / 6.0) + 0.08 * std::exp(-r / 18.0);
                if (spikes)
                    k += 0.5 * std::exp(-std::fabs(dx) / 14.0) * std::exp(-dy * dy / 0.8) +
                         0.5 * std::exp(-std::fabs(dy) / 14.0) * std::exp(-dx * dx / 0.8);
                add(x, y, c, float(strength * k * std::max(0.0, 1.0 - r / reach)));
            }
    }
};

// Smooth value noise in [0, 1] on a lattice of `cell` pixels, summed over five octaves.
double hashUnit(int x, int y, std::uint32_t seed) {
    std::uint32_t h = seed ^ (std::uint32_t(x) * 0x8DA6B343u) ^ (std::uint32_t(y) * 0xD8163841u);
    h = (h ^ (h >> 13)) * 0x5BD1E995u;
    return ((h ^ (h >> 15)) & 0xFFFF) / 65535.0;
}

double valueNoise(double x, double y, std::uint32_t seed) {
    int ix = int(std::floor(x)), iy = int(std::floor(y));
    double fx = x - ix, fy = y - iy;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    double a = hashUnit(ix, iy, seed), b = hashUnit(ix + 1, iy, seed);
    double c = hashUnit(ix, iy + 1, seed), d = hashUnit(ix + 1, iy + 1, seed);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}

double fbm(double x, double y, double cell, std::uint32_t seed) {
    double sum = 0, weight = 0.5, total = 0;
    for (int octave = 0; octave < 5; ++octave) {
        sum += weight * valueNoise(x / cell, y / cell, seed + octave);
        total += weight;
        weight *= 0.5;
        cell *= 0.5;
    }
    return sum / total;
}

// Star colours from hot to cool, slight tints only.
Colour starTint(Rng& rng) {
    double u = rng.uniform();
    if (u < 0.20) return {0.72f, 0.82f, 1.00f};  // blue-white
    if (u < 0.55) return {1.00f, 1.00f, 1.00f};  // white
    if (u < 0.80) return {1.00f, 0.95f, 0.84f};  // yellow-white
    if (u < 0.95) return {1.00f, 0.84f, 0.64f};  // orange
    return {1.00f, 0.72f, 0.58f};                // red
}

Canvas starField() {
    const int n = kStarSize;
    Canvas canvas(n);
    Rng rng{20261207};

    // A faint milky band running diagonally, mottled and split by a darker dust lane.
    const double angle = 0.48, nx = -std::sin(angle), ny = std::cos(angle);
    const double width = 0.16 * n;
    auto bandDistance = [&](double x, double y) { return (x - n / 2.0) * nx + (y - n / 2.0) * ny; };
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            double d = bandDistance(x, y) + 40.0 * (fbm(x, y, 400.0, 7) - 0.5);
            double profile = std::exp(-(d * d) / (2 * width * width));
            double mottle = fbm(x, y, 160.0, 11);
            double dust = 1.0 - 0.7 * std::exp(-(d + 12) * (d + 12) / 900.0) * fbm(x, y, 90.0, 23);
            double k = 0.20 * profile * (0.35 + mottle) * dust;
            double warm = profile * profile;
            canvas.add(x, y,
                       Colour{float(0.72 + 0.28 * warm), float(0.78 + 0.12 * warm),
                              float(1.0 - 0.15 * warm)},
                       float(k));
        }

    // Faint stars: a steep brightness law, two in five crowded into the band.
    for (int i = 0; i < kFaintStars; ++i) {
        double x = rng.uniform() * n, y = rng.uniform() * n;
        if (i % 5 < 2) {
            double along = (rng.uniform() - 0.5) * 1.5 * n, across = rng.normal() * 0.6 * width;
            x = n / 2.0 + along * ny + across * nx;
            y = n / 2.0 - along * nx + across * ny;
        }
        double peak = std::min(2.5, 0.07 * std::pow(rng.uniform(), -0.7));
        Colour tint = starTint(rng);
        canvas.spot(x, y, 0.55 + 0.25 * std::min(peak, 1.5), tint, peak);
    }

    // A few bright stars with a soft glow, the brightest with spikes.
    for (int i = 0; i < kBrightStars; ++i) {
        double x = 40 + rng.uniform() * (n - 80), y = 40 + rng.uniform() * (n - 80);
        Colour tint = starTint(rng);
        double strength = 0.6 + 1.4 * rng.uniform();
        canvas.spot(x, y, 1.1 + 0.5 * strength, tint, 3.0 + strength);
        canvas.glow(x, y, tint, strength, i < 6);
    }
    return canvas;
}

// Type 10 (run-length encoded true colour), 24 bits, image descriptor 0: rows from the bottom
// up, pixels left to right, each stored blue, green, red. Packets never cross a row.
Bytes encodeTga(const Canvas& canvas) {
    const int n = canvas.size;
    Bytes out = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put16(out, n);
    put16(out, n);
    out.push_back(24);
    out.push_back(0);

    auto toByte = [](float v) {
        double shaped = 1.0 - std::exp(-double(v));  // soft roll-off instead of hard clipping
        return std::uint8_t(std::lround(255.0 * shaped));
    };
    std::vector<std::uint32_t> row(n);
    for (int r = 0; r < n; ++r) {
        const Colour* src = &canvas.px[static_cast<size_t>(n - 1 - r) * n];
        for (int x = 0; x < n; ++x)
            row[x] = (toByte(src[x].b) << 16) | (toByte(src[x].g) << 8) | toByte(src[x].r);
        auto putPixel = [&](std::uint32_t p) {
            out.push_back(p >> 16);
            out.push_back((p >> 8) & 0xFF);
            out.push_back(p & 0xFF);
        };
        int x = 0;
        while (x < n) {
            int run = 1;
            while (x + run < n && run < 128 && row[x + run] == row[x]) ++run;
            if (run >= 2) {
                out.push_back(0x80 | (run - 1));
                putPixel(row[x]);
                x += run;
                continue;
            }
            int count = 1;  // raw packet: up to the next pair of equal pixels
            while (x + count < n && count < 128 &&
                   !(x + count + 1 < n && row[x + count] == row[x + count + 1]))
                ++count;
            out.push_back(count - 1);
            for (int i = 0; i < count; ++i) putPixel(row[x + i]);
            x += count;
        }
    }
    return out;
}

// ---- Sound effects -------------------------------------------------------------------------

// RIFF/WAVE, one "fmt " chunk (PCM, mono, 16 bits) and one "data" chunk.
Bytes encodeWav(const std::vector<double>& samples) {
    Bytes out;
    const std::uint32_t dataSize = samples.size() * 2;
    putText(out, "RIFF");
    put32(out, 36 + dataSize);
    putText(out, "WAVEfmt ");
    put32(out, 16);
    put16(out, 1);  // PCM
    put16(out, 1);  // mono
    put32(out, kSampleRate);
    put32(out, kSampleRate * 2);
    put16(out, 2);
    put16(out, 16);
    putText(out, "data");
    put32(out, dataSize);
    for (double s : samples) {
        long v = std::lround(std::clamp(s, -1.0, 1.0) * 32767.0);
        put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
    }
    return out;
}

// Attack ramp at the start and a short fade to silence at the end, so that nothing clicks.
std::vector<double> shape(std::vector<double> s, double attack, double release) {
    const size_t a = size_t(attack * kSampleRate), r = size_t(release * kSampleRate);
    for (size_t i = 0; i < s.size(); ++i) {
        if (i < a) s[i] *= double(i) / a;
        size_t left = s.size() - 1 - i;
        if (left < r) s[i] *= double(left) / r;
    }
    return s;
}

// A soft mallet on a tuned bar: the fundamental rings longest, the octave and the bar's
// fourth-harmonic overtone die away fast, and the pitch settles a little after the strike.
std::vector<double> hitSound() {
    std::vector<double> s(size_t(kHitSeconds * kSampleRate));
    double phase = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        double t = double(i) / kSampleRate;
        phase += 2 * kPi * kHitFrequency * (1.0 + 0.015 * std::exp(-t / 0.012)) / kSampleRate;
        s[i] = 0.62 * (std::sin(phase) * std::exp(-t / 0.085) +
                       0.30 * std::sin(2 * phase) * std::exp(-t / 0.040) +
                       0.14 * std::sin(3.99 * phase) * std::exp(-t / 0.018));
    }
    return shape(s, 0.0015, 0.015);
}

// Two chime notes a fourth apart, rising; the second is louder and rings longer.
std::vector<double> messageSound() {
    std::vector<double> s(size_t(kMessageSeconds * kSampleRate));
    auto chime = [](double f, double t) {
        double w = 2 * kPi * f * t;
        return std::sin(w) + 0.18 * std::sin(2 * w) * std::exp(-t / 0.03) + 0.05 * std::sin(3 * w);
    };
    const double secondStart = 0.10;
    for (size_t i = 0; i < s.size(); ++i) {
        double t = double(i) / kSampleRate;
        double v = 0.55 * chime(kMessageFirstFrequency, t) * std::exp(-t / 0.07);
        if (t >= secondStart) {
            double u = t - secondStart;
            v += 0.9 * chime(kMessageFrequency, u) * std::exp(-u / 0.09) * std::min(1.0, u / 0.004);
        }
        s[i] = 0.65 * v;
    }
    return shape(s, 0.004, 0.03);
}

// ---- Music ---------------------------------------------------------------------------------

struct MidiEvent {
    int tick;
    int order;  // at equal ticks: note-offs (0) before everything else (1)
    Bytes bytes;
};

struct Track {
    std::vector<MidiEvent> events;
    void meta(int tick, int type, const Bytes& data) {
        Bytes b = {0xFF, std::uint8_t(type), std::uint8_t(data.size())};
        b.insert(b.end(), data.begin(), data.end());
        events.push_back({tick, 1, b});
    }
    void name(const char* text) {
        meta(0, 0x03, Bytes(text, text + std::char_traits<char>::length(text)));
    }
    void setup(int channel, int program, int volume, int pan) {
        events.push_back({0, 1, {std::uint8_t(0xC0 | channel), std::uint8_t(program)}});
        for (auto [cc, v] : {std::pair{7, volume}, {10, pan}, {91, 70}, {93, 20}})
            events.push_back(
                {0, 1, {std::uint8_t(0xB0 | channel), std::uint8_t(cc), std::uint8_t(v)}});
    }
    // All Sound Off: cuts what still rings, so that a player looping the file restarts at once.
    void silence(int channel, int tick) {
        events.push_back({tick, 1, {std::uint8_t(0xB0 | channel), 120, 0}});
    }
    void note(int channel, int tick, int length, int pitch, int velocity) {
        events.push_back(
            {tick, 1, {std::uint8_t(0x90 | channel), std::uint8_t(pitch), std::uint8_t(velocity)}});
        events.push_back(
            {tick + length, 0, {std::uint8_t(0x80 | channel), std::uint8_t(pitch), 0}});
    }
};

void putVarLen(Bytes& out, std::uint32_t v) {
    Bytes tmp = {std::uint8_t(v & 0x7F)};
    while (v >>= 7) tmp.push_back(0x80 | (v & 0x7F));
    out.insert(out.end(), tmp.rbegin(), tmp.rend());
}

// One "MTrk" chunk; the end-of-track event sits at `endTick`, so every track ends together.
void encodeTrack(Bytes& out, Track track, int endTick) {
    std::stable_sort(track.events.begin(), track.events.end(), [](const auto& a, const auto& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    Bytes body;
    int last = 0;
    for (const MidiEvent& e : track.events) {
        putVarLen(body, e.tick - last);
        body.insert(body.end(), e.bytes.begin(), e.bytes.end());
        last = e.tick;
    }
    putVarLen(body, endTick - last);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    putText(out, "MTrk");
    putBig32(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
}

struct Chord {
    int root;  // pitch class, 0 = C
    bool minor;
};

struct Note {
    double beat, beats;
    int pitch;
};

// A calm tune in C major, sixteen bars played twice: flute first, vibraphone second, over
// harp arpeggios, a warm pad and a bass. It ends on the tonic, held for three beats so that
// it has died away by the closing bar line, and the loop starts again from bar 1.
Bytes music() {
    const Chord C{0, false}, Am{9, true}, F{5, false}, G{7, false}, Em{4, true}, Dm{2, true};
    const std::vector<Chord> chords = {C, Am, F, G, C, Em, F, G, Am, Em, F, C, F, Dm, G, C};
    const std::vector<std::vector<Note>> melody = {
        {{0, 1, 67}, {1, 1, 72}, {2, 1.5, 76}, {3.5, 0.5, 74}},
        {{0, 2, 76}, {2, 1, 72}, {3, 1, 69}},
        {{0, 1, 69}, {1, 1, 72}, {2, 1.5, 77}, {3.5, 0.5, 76}},
        {{0, 3, 74}},
        {{0, 1, 67}, {1, 1, 72}, {2, 1.5, 76}, {3.5, 0.5, 79}},
        {{0, 2, 79}, {2, 1, 76}, {3, 1, 71}},
        {{0, 1, 72}, {1, 1, 77}, {2, 1.5, 81}, {3.5, 0.5, 79}},
        {{0, 2, 79}, {2, 1, 77}, {3, 1, 74}},
        {{0, 1.5, 81}, {1.5, 0.5, 79}, {2, 2, 76}},
        {{0, 1.5, 79}, {1.5, 0.5, 76}, {2, 2, 71}},
        {{0, 1, 72}, {1, 1, 77}, {2, 1, 81}, {3, 1, 79}},
        {{0, 3, 76}},
        {{0, 1.5, 77}, {1.5, 0.5, 76}, {2, 1, 72}, {3, 1, 69}},
        {{0, 1.5, 74}, {1.5, 0.5, 77}, {2, 1, 81}, {3, 1, 77}},
        {{0, 2, 79}, {2, 1, 74}, {3, 1, 71}},
        {{0, 3, 72}},
    };
    const int passes = 2, bars = int(chords.size()) * passes, endTick = bars * kTicksPerBar;
    const int flute = 0, vibes = 1, harp = 2, pad = 3, bass = 4;

    Track conductor, lead, arp, chordPad, low;
    conductor.name("terralux");
    conductor.meta(0, 0x58, {4, 2, 24, 8});  // 4/4
    conductor.meta(0, 0x59, {0, 0});         // C major
    const std::uint32_t tempo = 60000000 / kBeatsPerMinute;
    conductor.meta(0, 0x51,
                   {std::uint8_t(tempo >> 16), std::uint8_t(tempo >> 8), std::uint8_t(tempo)});
    lead.name("melody");
    lead.setup(flute, 73, 96, 64);
    lead.setup(vibes, 11, 100, 64);
    arp.name("harp");
    arp.setup(harp, 46, 84, 40);
    chordPad.name("pad");
    chordPad.setup(pad, 89, 64, 88);
    low.name("bass");
    low.setup(bass, 32, 92, 60);

    auto at = [](double beats) { return int(std::lround(beats * kTicksPerQuarter)); };
    auto near = [](int pc, int base) { return base + ((pc - base) % 12 + 12) % 12; };
    for (int bar = 0; bar < bars; ++bar) {
        const int pass = bar / int(chords.size()), i = bar % int(chords.size());
        const int start = bar * kTicksPerBar;
        const Chord chord = chords[i];
        const int third = chord.minor ? 3 : 4;
        const bool last = i + 1 == int(chords.size());

        for (const Note& n : melody[i])
            lead.note(pass == 0 ? flute : vibes, start + at(n.beat), at(n.beats) - 10, n.pitch,
                      n.beat == 0 ? 88 : 78);

        const int root = near(chord.root, 48);
        const int steps[8] = {0, 7, 12, 12 + third, 19, 12 + third, 12, 7};
        for (int k = 0; k < (last ? 5 : 8); ++k)
            arp.note(harp, start + k * at(0.5), at(1), root + steps[k],
                     k == 0 ? 64 : 50 + 3 * (k % 2));

        for (int interval : {0, third, 7})
            chordPad.note(pad, start, last ? at(3) : kTicksPerBar, near(chord.root + interval, 55),
                          48);

        const int bassRoot = near(chord.root, 36);
        if (last) {
            low.note(bass, start, at(3), bassRoot, 84);
        } else {
            low.note(bass, start, at(2) - 20, bassRoot, 84);
            low.note(bass, start + at(2), at(1) - 20, bassRoot, 70);
            low.note(bass, start + at(3), at(1) - 20, bassRoot + 7, 74);
        }
    }

    lead.silence(flute, endTick);
    lead.silence(vibes, endTick);
    arp.silence(harp, endTick);
    chordPad.silence(pad, endTick);
    low.silence(bass, endTick);

    Bytes out;
    putText(out, "MThd");
    putBig32(out, 6);
    for (int v : {1, 5, kTicksPerQuarter}) {  // format 1, five tracks, ticks per quarter note
        out.push_back(v >> 8);
        out.push_back(v & 0xFF);
    }
    for (const Track* t : {&conductor, &lead, &arp, &chordPad, &low}) encodeTrack(out, *t, endTick);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    bool ok = writeFile(dir / "audio" / "hit.wav", encodeWav(hitSound()));
    ok = writeFile(dir / "audio" / "message.wav", encodeWav(messageSound())) && ok;
    ok = writeFile(dir / "audio" / "music.mid", music()) && ok;
    ok = writeFile(dir / "textures" / "stars.tga", encodeTga(starField())) && ok;
    return ok ? 0 : 1;
}
