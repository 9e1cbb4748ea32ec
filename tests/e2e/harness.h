// End-to-end harness: runs the real terralux binary in a scratch directory, in a window on a
// display server that this test executable starts once, acts on it as a user would, and reads its
// window back and the output of SDL's disk audio driver. The server is Xvfb, or with
// TERRALUX_E2E_DISPLAY=wayland a headless sway compositor (see display.h). The program is the
// build's own, another build of it that TERRALUX_BIN names, or with TERRALUX_E2E_LAUNCHER=wine the
// Windows build's terralux.exe that TERRALUX_BIN names, run under Wine on Xvfb.
#pragma once

#include <sys/types.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

constexpr double kPi = 3.14159265358979323846;

// The SDL 1.2 runtime that the loader finds for the programs started: classic SDL 1.2 reports
// version 1.2.15; sdl12-compat, SDL 1.2's interface over SDL2, 1.2.50 or later. The SDL2 under it
// is SDL2 itself, or sdl2-compat, SDL2's interface over SDL3, which reports 2.32.50 or later.
enum class Runtime { Classic, OverSdl2, OverSdl3 };
Runtime sdlRuntime();
inline bool sdlCompat() { return sdlRuntime() != Runtime::Classic; }
void sleepSeconds(double seconds);

bool onWayland();  // the display is the Wayland compositor, not Xvfb
bool underWine();  // the programs are the Windows build's, run under Wine
// Kills the display server at once under whatever runs on it; a fresh one serves the tests that
// follow this one.
void killDisplayServer();

// ---- Scratch run directories -------------------------------------------------------------------

using Config = std::vector<std::pair<std::string, std::string>>;  // key, value; in file order

Config defaultConfig();  // 800x600, depth 16, windowed, music 0, sounds 0
// The config with the key's value replaced (or appended), or removed when value is null.
Config withSetting(Config config, const std::string& key, const char* value);
std::string configXml(const Config& config);

std::string makeRunDir(const std::string& name);  // fresh and empty, under the temporary root
void writeText(const std::string& path, const std::string& text);
inline void writeConfig(const std::string& dir, const Config& config) {
    writeText(dir + "/config.xml", configXml(config));
}
// Symlinks the files of the build's run directory's `sub` ("textures", "audio") but `except`
// into dir/sub.
void linkBuildData(const std::string& dir, const std::string& sub,
                   const std::vector<std::string>& except = {});
// makeRunDir + writeConfig + textures/ and audio/ linked from the build.
std::string scratchRun(const std::string& name, const Config& config = defaultConfig());
// A 22050 Hz 16-bit PCM stereo WAV holding a sine of the given frequency at half full scale.
void writeToneWav(const std::string& path, double hz, double seconds);

// ---- The program -------------------------------------------------------------------------------

using Env = std::map<std::string, std::string>;  // set on top of the test's own, SDL_* removed

inline Env dummyAudio() { return {{"SDL_AUDIODRIVER", "dummy"}}; }
// SDL's disk driver writing raw PCM to rawFile, many times faster than real time: fine for
// seconds, not for a long soak. SDL 1.2 and SDL2 sleep SDL_DISKAUDIODELAY ms after each buffer
// (0 or empty would mean their default, so the delay is always given). SDL3 ignores that and
// keeps to real time multiplied by SDL_AUDIO_DISK_TIMESCALE: 0.1 writes about 7 times faster.
inline Env diskAudio(const std::string& rawFile) {
    return {{"SDL_AUDIODRIVER", "disk"},
            {"SDL_DISKAUDIOFILE", rawFile},
            {"SDL_DISKAUDIODELAY", "10"},
            {"SDL_AUDIO_DISK_TIMESCALE", "0.1"}};
}
// A driver that SDL does not have.
inline Env missingAudioDriver() { return {{"SDL_AUDIODRIVER", "nosuchaudiodriver"}}; }

// A running (or finished) terralux process; killed when destroyed while still running.
struct Program {
    pid_t pid = -1;
    int status = -1;  // once it has ended: exit code, or 128 + signal
    std::string dir, outPath, errPath, diskFile;

    Program() = default;
    Program(Program&& other) noexcept { *this = std::move(other); }
    Program& operator=(Program&& other) noexcept;
    ~Program();
};

// Starts the binary in `dir`; its standard output and error go to files in dir's parent.
Program launch(const std::string& dir, const Env& env = dummyAudio());
bool running(Program& program);
// The exit code, or 128 + signal. On timeout the program is killed, a test failure is recorded
// and -1 is returned.
int waitExit(Program& program, double timeoutSeconds = 10);

std::string readFile(const std::string& path);
// The program's standard output and error, line ends as LF.
std::string stdoutText(const Program& program);
std::string stderrText(const Program& program);
std::vector<std::string> splitLines(const std::string& text);
// The program's standard-error lines, less the exact lines that the SDL runtime in use writes
// there itself when its disk audio driver opens (listed in the harness).
std::vector<std::string> diagnosticLines(const Program& program);

// ---- Windows -----------------------------------------------------------------------------------

using WinId = unsigned long;

// Polls for a viewable top-level window named "terralux"; gives up at the timeout or when the
// program ends.
std::optional<WinId> findWindow(Program& program, double timeoutSeconds = 15);

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};
// Position on the screen and size, in the window's pixels. On Wayland the position is that in the
// compositor's layout, in the window's pixels too.
Geometry windowGeometry(WinId window);
Geometry screenGeometry();  // Xvfb's screen, or the compositor's output, in those same pixels
std::string windowName(WinId window);

// Records from the X server's events, from its construction on, every top-level window mapped,
// the size each was last given, and the windows that asked for full screen: a _NET_WM_STATE
// listing _NET_WM_STATE_FULLSCREEN when mapped (read only while the window exists), or the
// client message asking a window manager to add that state. So even a window shown for an
// instant is seen, and what a program showed can be checked after it has exited. On Wayland the
// record comes from the compositor's window events: a window is mapped once it shows, and asked
// for full screen when the compositor has put it there (sway grants every such request).
struct MapWatch {
    MapWatch();
    MapWatch(const MapWatch&) = delete;
    MapWatch& operator=(const MapWatch&) = delete;
    std::vector<WinId> mapped();  // in order
    Geometry geometry(WinId window) { return mapped(), sizes[window]; }
    bool fullScreenAsked() { return mapped(), !fullScreen.empty(); }

    std::shared_ptr<void> connection;
    std::vector<WinId> seen;
    std::map<WinId, Geometry> sizes;
    std::set<WinId> fullScreen;
};

// ---- Input, as a user gives it -----------------------------------------------------------------

void focus(WinId window);                    // and waits until the window has it
void key(const std::string& keys);           // xdotool's syntax: "q", "shift+q", "KP_Add"
void mouseMove(WinId window, int x, int y);  // to (x, y) from the window's top-left corner
// Presses `button` at (x0, y0), moves to (x1, y1) in `steps` equal moves, pausing after the
// press and after each move so that they reach the program in separate frames, and releases it.
// Each move reaches SDL as one motion event whose relative motion is that step; the pointer is
// moved next to (x0, y0) first, since SDL measures the first motion it ever sees from (0, 0).
void drag(WinId window, int button, int x0, int y0, int x1, int y1, int steps = 1,
          double pause = 0.1);
void click(int button, int count = 1);  // 10 ms apart
// > 0: button 4 (up), < 0: button 5 (down), one click per notch.
inline void wheel(int notches) { click(notches > 0 ? 4 : 5, std::abs(notches)); }
// WM_DELETE_WINDOW, as the window's close box sends it; on Wayland the compositor's close
// (xdg_toplevel.close).
void requestClose(WinId window);

// ---- Screenshots -------------------------------------------------------------------------------

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};
inline bool operator==(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // rows top first, 3 bytes a pixel
    Rgb at(int x, int y) const {
        const uint8_t* p = &rgb[3 * (std::size_t(y) * width + x)];
        return {p[0], p[1], p[2]};
    }
    bool empty() const { return width == 0 || height == 0; }
};

Image screenshot(WinId window);
// Takes screenshots until `ready` accepts one or the timeout passes; returns the last taken.
// A window shows nothing until the program has drawn and swapped its first frame.
Image screenshotWhen(WinId window, const std::function<bool(const Image&)>& ready,
                     double timeoutSeconds = 10);
bool savePng(const Image& image, const std::string& path);

// ---- Disk audio --------------------------------------------------------------------------------

// The raw output of SDL's disk driver: signed 16-bit little-endian, two channels interleaved.
struct Pcm {
    int rate = 0;
    std::vector<int16_t> samples;  // left, right, left, right, ...
    std::size_t frames() const { return samples.size() / 2; }
    double seconds() const { return rate ? double(frames()) / rate : 0; }
};
// Reads the file at the rate the disk device really writes. The mixer asks for 22050 Hz, but
// sdl12-compat's device, SDL2's or SDL3's, runs at a rate of its own (44100 Hz seen on both), and
// no interface reports it: the harness measures it once from a reference tone, checking the
// format with it.
Pcm readDiskAudio(const std::string& path);

// Amplitude of the component at `hz` in [startSecond, startSecond + lengthSeconds) of the mean
// of both channels (Goertzel), as a fraction of full scale: a full-scale sine at hz gives about
// 1, silence 0. The window is clipped to the data.
double toneLevel(const Pcm& pcm, double hz, double startSecond, double lengthSeconds);
// Root mean square of the mean of both channels in the window, as a fraction of full scale.
double rmsLevel(const Pcm& pcm, double startSecond, double lengthSeconds);

}  // namespace e2e
