// A soak: minutes of random input from a user who never quits (drags with the left and middle
// buttons, the wheel, keys, bursts of right-click picks), with the process alive throughout, its
// resident memory flat once warmed up, every pick answered, and a clean quit at the end.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace e2e;

constexpr double kSoakSeconds = 120;
// Mesa's software GL compiles a drawing state's code the first time random input reaches that
// state, and its heap grows in 1 MB steps: seen to add up to 6 MB in a run, most of it early, and
// up to 3 MB between the samples compared here, with no leak found by LeakSanitizer at exit.
constexpr double kWarmUpSeconds = 60;
constexpr long kSlackKb = 8 * 1024;

// Resident set size of a process in kB (VmRSS), -1 when it cannot be read.
long residentKb(pid_t pid) {
    std::istringstream in(readFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Knobs for a search by hand (scripts/soak NAME=VALUE): TERRALUX_SOAK_PICKS, the share of
// actions that are bursts of picks in percent (50); TERRALUX_SOAK_EVENT_LOG=0 turns SDL2's event
// log off on sdl12-compat.
int knob(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

// A program's standard error without the runtime's event log.
std::string ownLines(const std::string& text) {
    std::string out;
    for (const auto& line : splitLines(text))
        if (line.rfind("INFO: SDL EVENT: ", 0) != 0) out += line + "\n";
    return out;
}

TEST(Soak, RandomInputForMinutesKeepsItAliveAndItsMemoryFlat) {
    Config config = withSetting(withSetting(defaultConfig(), "music", "1"), "sounds", "1");
    std::string dir = scratchRun("soak", config);
    // On sdl12-compat, SDL2 (or SDL3 under sdl2-compat) logs each event it hands on, so that a
    // press it never saw can be told from one the program dropped.
    Env env = dummyAudio();
    const bool eventLog = sdlCompat() && knob("TERRALUX_SOAK_EVENT_LOG", 1) != 0;
    if (eventLog) env["SDL_EVENT_LOGGING"] = "1";
    const int picksShare = knob("TERRALUX_SOAK_PICKS", 50);
    Program program = launch(dir, env);
    auto window = findWindow(program);
    ASSERT_TRUE(window) << "no window; stderr: " << stderrText(program);
    focus(*window);

    const unsigned seed = unsigned(std::random_device{}());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // Keys that neither quit nor zoom (the zoom keys are given below).
    const std::vector<std::string> keys = {"1",    "2",    "5",     "6", "7", "8",     "9",   "Up",
                                           "Down", "Left", "Right", "a", "0", "space", "KP_1"};

    struct Sample {
        double seconds;
        long kb;
    };
    std::vector<Sample> samples;
    long picks = 0;
    int zoom = 0;
    auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    // Every pick prints its line, flushed, before the next frame.
    auto lines = [&] {
        long n = 0;
        for (const auto& line : splitLines(stdoutText(program)))
            n += line.rfind("surface point: ", 0) == 0;
        return n;
    };
    double nextSample = 0;
    while (elapsed() < kSoakSeconds) {
        ASSERT_TRUE(running(program)) << "died after " << elapsed() << " s, status "
                                      << program.status << ", picks " << picks << "; stderr:\n"
                                      << ownLines(stderrText(program));
        if (elapsed() >= nextSample) {
            samples.push_back({elapsed(), residentKb(program.pid)});
            nextSample += 5;
        }
        // The zoom is followed here and steered back towards the globe at full size, so that
        // the globe keeps filling much of the window and most picks land on it.
        int toward = zoom > 10 ? -1 : zoom < -5 ? 1 : (pick(0, 1) ? 1 : -1);
        int action = pick(0, 99) < picksShare ? 99 : pick(0, 49);
        if (action < 10) {
            int x = pick(10, 790), y = pick(10, 590);
            int x1 = std::clamp(x + pick(-300, 300), 5, 795);
            int y1 = std::clamp(y + pick(-300, 300), 5, 595);
            drag(*window, 1, x, y, x1, y1, pick(1, 4), 0.02);
        } else if (action < 15) {
            int x = pick(10, 790), y = pick(30, 570), dy = toward * pick(1, 8);
            drag(*window, 2, x, y, x, y + dy, 1, 0.02);
            zoom += dy;
        } else if (action < 25) {
            int notches = toward * pick(1, 3);
            wheel(notches);
            zoom += notches;
        } else if (action < 30) {
            key(toward > 0 ? "KP_Add" : "KP_Subtract");
            zoom += toward;
        } else if (action < 50) {
            key(keys[pick(0, int(keys.size()) - 1)]);
        } else {
            // Mostly on or near the globe, sometimes anywhere.
            bool near = pick(0, 3) > 0;
            mouseMove(*window, near ? pick(200, 600) : pick(0, 799),
                      near ? pick(100, 500) : pick(0, 599));
            int count = pick(1, 20);
            const long answered = lines();
            click(3, count);
            picks += count;
            // As a user would, the next input waits for this burst's answers. SDL 1.2 keeps at
            // most 128 pending events, on either runtime: input given faster than a stalled
            // program takes it is dropped by SDL, before the program can see it.
            for (int i = 0; i < 40 && lines() < answered + count; ++i) sleepSeconds(0.05);
        }
    }
    for (int i = 0; i < 40 && lines() < picks; ++i) sleepSeconds(0.05);
    ASSERT_TRUE(running(program)) << "died at the end, status " << program.status << ", picks "
                                  << picks << "; stderr:\n"
                                  << ownLines(stderrText(program));
    key("Escape");
    EXPECT_EQ(waitExit(program), 0);
    if (eventLog) {
        // A right click was seen to go unanswered on sdl12-compat, about once in several thousand
        // (never on classic SDL 1.2). The program must answer every press SDL2 or SDL3 (under
        // sdl2-compat) reports having delivered; presses that never got that far are the
        // runtime's, and must stay rare. Each names the press its own way.
        const char* pressed = sdlRuntime() == Runtime::OverSdl3
                                  ? "INFO: SDL EVENT: SDL_EVENT_MOUSE_BUTTON_DOWN"
                                  : "INFO: SDL EVENT: SDL_MOUSEBUTTONDOWN";
        long delivered = 0;
        for (const auto& line : splitLines(stderrText(program)))
            delivered +=
                line.rfind(pressed, 0) == 0 && line.find(" button=3 ") != std::string::npos;
        EXPECT_LE(picks - delivered, picks / 100) << "presses lost before the program";
        EXPECT_EQ(lines(), delivered);
    } else if (sdlCompat()) {
        EXPECT_LE(picks - lines(), picks / 100) << "presses lost";
    } else {
        EXPECT_EQ(lines(), picks);
    }

    // Resident memory after the warm-up: the late samples no higher than the early ones allow.
    std::vector<long> early, late;
    std::string all;
    for (const Sample& s : samples) {
        all += std::to_string(long(s.seconds)) + "s:" + std::to_string(s.kb) + " ";
        if (s.seconds >= kWarmUpSeconds && s.seconds < kWarmUpSeconds + 25) early.push_back(s.kb);
        if (s.seconds >= kSoakSeconds - 30) late.push_back(s.kb);
    }
    ASSERT_FALSE(early.empty());
    ASSERT_FALSE(late.empty());
    std::sort(early.begin(), early.end());
    long base = early[early.size() / 2];
    long top = *std::max_element(late.begin(), late.end());
    EXPECT_LE(top, base + kSlackKb) << "resident kB: " << all;
    std::printf("picks %ld, resident kB: %s\n", picks, all.c_str());
}

}  // namespace
