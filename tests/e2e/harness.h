// End-to-end harness: runs the real terralux binary in a scratch directory, in a window on an
// Xvfb server that this test executable starts once, and acts on it as a user would (xdotool),
// reads its window back (xwd) and its disk-audio output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace e2e {

// ---- Locations fixed by the build -------------------------------------------------------------

std::string terraluxBinary();  // the program under test; TERRALUX_BIN overrides the build's
std::string buildRunDir();     // the build's run directory, holding textures/ and audio/
std::string display();         // ":N" of this executable's Xvfb server

// ---- Running helper commands -------------------------------------------------------------------

struct CommandResult {
    int status = -1;  // exit code; 128 + signal when killed; -1 on timeout
    std::string out;  // everything written to standard output
};
// Runs argv[0] (looked up in PATH) with the test's environment; stderr goes to the harness log.
CommandResult runCommand(const std::vector<std::string>& argv, double timeoutSeconds = 10);

void sleepSeconds(double seconds);

// ---- Scratch run directories -------------------------------------------------------------------

using Config = std::vector<std::pair<std::string, std::string>>;  // key, value; in file order

// 800x600, depth 16, windowed, music 0, sounds 0.
Config defaultConfig();
// Returns the config with the key's value replaced (or appended), or removed when value is null.
Config withSetting(Config config, const std::string& key, const char* value);
std::string configXml(const Config& config);

// A fresh empty directory under this executable's temporary root.
std::string makeRunDir(const std::string& name);
void writeConfig(const std::string& dir, const Config& config);
void writeText(const std::string& path, const std::string& text);
// Symlinks every file of the build's run dir subdirectory `sub` ("textures", "audio") into
// dir/sub, creating dir/sub. `except` names files to leave out.
void linkBuildData(const std::string& dir, const std::string& sub,
                   const std::vector<std::string>& except = {});
// makeRunDir + writeConfig + textures/ and audio/ linked from the build.
std::string scratchRun(const std::string& name, const Config& config = defaultConfig());

// A 16-bit PCM stereo WAV holding a sine of the given frequency.
void writeToneWav(const std::string& path, double hz, double seconds, int rate = 22050,
                  double amplitude = 0.5);

// ---- The program -------------------------------------------------------------------------------

using Env = std::map<std::string, std::string>;  // set on top of the test's own, SDL_* removed

Env dummyAudio();  // SDL_AUDIODRIVER=dummy
// SDL's disk driver writing raw PCM to rawFile, about 18 times faster than real time (some
// 1.6 MB a second): fine for seconds, not for a long soak.
Env diskAudio(const std::string& rawFile);
Env missingAudioDriver();  // a driver name that SDL does not have

// A running (or finished) terralux process. Killed when destroyed while still running.
struct Program {
    pid_t pid = -1;
    std::string dir;
    std::string outPath;  // its standard output
    std::string errPath;  // its standard error
    bool reaped = false;
    int waitStatus = 0;  // raw status from waitpid once reaped

    Program() = default;
    Program(Program&& other) noexcept;
    Program& operator=(Program&& other) noexcept;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program();
};

// Starts the binary with `dir` as its working directory; stdout and stderr go to files in the
// parent of `dir` so that they never show up among the program's own files.
Program launch(const std::string& dir, const Env& env = dummyAudio());
bool running(Program& program);
// Waits for the exit. Returns the exit code, or 128 + signal when it died of a signal. On
// timeout the program is killed, a test failure is recorded and -1 is returned.
int waitExit(Program& program, double timeoutSeconds = 10);
void stop(Program& program);  // SIGKILL and reap, if still running

std::string readFile(const std::string& path);
std::string stdoutText(const Program& program);
std::string stderrText(const Program& program);
std::vector<std::string> splitLines(const std::string& text);
// The program's standard-error lines, less the two that SDL's disk audio driver writes there
// when it opens ("WARNING: You are using the SDL disk writer audio driver!" and the file name).
std::vector<std::string> diagnosticLines(const Program& program);

// ---- Windows -----------------------------------------------------------------------------------

using WinId = unsigned long;

// Polls `xdotool search --onlyvisible --name REGEX` until a window shows; gives up at the timeout
// or as soon as the program has exited.
std::optional<WinId> findWindow(Program& program, double timeoutSeconds = 15,
                                const std::string& nameRegex = "^terralux$");

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};
Geometry windowGeometry(WinId window);
std::string windowName(WinId window);

// Records every top-level window mapped on the display from its construction on, and the size
// each top-level window was last given, straight from the X server's events (MapNotify,
// CreateNotify, ConfigureNotify). So even a window shown for an instant is seen, and what a
// program showed can be checked after it has exited.
struct MapWatch {
    MapWatch();
    ~MapWatch();
    MapWatch(const MapWatch&) = delete;
    MapWatch& operator=(const MapWatch&) = delete;
    std::vector<WinId> mapped();      // all windows mapped so far, in order
    Geometry geometry(WinId window);  // last known position and size

    void* connection = nullptr;
    std::vector<WinId> seen;
    std::map<WinId, Geometry> sizes;
};

// ---- Input, as a user gives it -----------------------------------------------------------------

void focus(WinId window);                    // xdotool windowfocus --sync
void key(const std::string& keys);           // xdotool key, e.g. "q", "shift+q", "KP_Add"
void keyDown(const std::string& keyName);    // xdotool keydown
void keyUp(const std::string& keyName);      // xdotool keyup
void mouseMove(WinId window, int x, int y);  // to (x, y) from the window's top-left corner
// Presses `button` at (x0, y0), moves to (x1, y1) in `steps` equal moves, pausing after the
// press and after each move so that they reach the program in separate frames, and releases it.
// Each move reaches SDL as one motion event whose relative motion is that step; the pointer is
// moved to (x0, y0) first, since SDL measures the first motion it ever sees from (0, 0).
void drag(WinId window, int button, int x0, int y0, int x1, int y1, int steps = 1,
          double pause = 0.1);
void mouseDown(int button);
void mouseUp(int button);
void click(int button);
void wheel(int notches);          // > 0: button 4 (up), < 0: button 5 (down), one click per notch
void requestClose(WinId window);  // WM_DELETE_WINDOW, as the window's close box sends it

// ---- Screenshots -------------------------------------------------------------------------------

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};
inline bool operator==(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // rows top first, 3 bytes a pixel
    Rgb at(int x, int y) const;
    bool empty() const { return width == 0 || height == 0; }
};

Image parsePpm(const std::string& bytes);  // binary PPM (P6), maxval 255 or 65535
Image screenshot(WinId window);            // xwd -id WID | convert xwd:- ppm:-
// Takes screenshots until `ready` accepts one or the timeout passes; returns the last taken.
// A window shows nothing until the program has drawn and swapped its first frame.
Image screenshotWhen(WinId window, const std::function<bool(const Image&)>& ready,
                     double timeoutSeconds = 10);
bool savePng(const Image& image, const std::string& path);

// ---- Disk audio --------------------------------------------------------------------------------

// The raw output of SDL's disk driver as the mixer opens it: 22050 Hz, signed 16-bit
// little-endian, two channels interleaved.
struct Pcm {
    int rate = 22050;
    std::vector<int16_t> samples;  // left, right, left, right, ...
    std::size_t frames() const { return samples.size() / 2; }
    double seconds() const { return double(frames()) / rate; }
};
Pcm readDiskAudio(const std::string& path, int rate = 22050);

// Amplitude of the component at `hz` in [startSecond, startSecond + lengthSeconds) of the mean
// of both channels (Goertzel), as a fraction of full scale: a full-scale sine at hz gives about
// 1, silence 0. The window is clipped to the data.
double toneLevel(const Pcm& pcm, double hz, double startSecond, double lengthSeconds);
// Root mean square of the mean of both channels in the window, as a fraction of full scale.
double rmsLevel(const Pcm& pcm, double startSecond, double lengthSeconds);

// ---- Test images -------------------------------------------------------------------------------

// Writes an uncompressed 24-bit TGA (type 2) of width x height pixels; pixel(x, y) gives the
// colour with y counted from the top row. Rows are stored top first (descriptor 0x20) or bottom
// first (descriptor 0x00).
void writeTga(const std::string& path, int width, int height,
              const std::function<Rgb(int x, int y)>& pixel, bool topFirst);

// ---- The scene's geometry, computed independently of the program -------------------------------

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

// The scene point of a place: radius (alt + 6.5e6) * 15 / 6.5e6, +y north, longitude 0 on +z,
// longitude +90 on +x.
Vec3 scenePoint(double latDeg, double lonDeg, double altMetres);
double length(Vec3 v);

// The camera and window: perspective of 45 degrees vertical, near 1, far 250; the globe 50 - zoom
// in front of the eye, turned by pitch about x and then by yaw about y. Geographic positions
// live in the marker frame, the camera frame turned a further 15 degrees about x.
struct View {
    int width = 800, height = 600;
    double yaw = 0, pitch = 0, zoom = 0;
};
Vec3 markerToEye(const View& view, Vec3 p);
Vec3 eyeToMarker(const View& view, Vec3 e);
// Window position of a marker-frame point, from the window's top-left corner, in pixels
// (pixel (i, j) covers [i, i + 1) x [j, j + 1)).
std::pair<double, double> project(const View& view, Vec3 p);
// The nearer crossing of the line through a and b with the sphere of the given radius about the
// origin, if they meet.
std::optional<Vec3> sphereHit(Vec3 a, Vec3 b, double radius);
// Pixels from the disk centre to the rim of a sphere of radius 15 whose centre is dist in front
// of the eye on the view axis.
double diskRadius(const View& view);

// Resident set size of a process in kB (VmRSS), -1 when it cannot be read.
long residentKb(pid_t pid);

// ---- The test textures -------------------------------------------------------------------------

// A test Earth in plain colours whose every component is a multiple of 17 (kept exactly by the
// program's 4-bit texture formats) and at most 204, so that no lit globe pixel reaches the
// full-intensity colours of the markers, the trace and the picked point: north-east red,
// north-west green, south-east blue, south-west cyan, and a grey band along longitude 0, 4
// degrees either side.
Rgb testEarth(double latDeg, double lonDeg);
constexpr int kEarthMax = 204;   // the largest component of testEarth
constexpr int kStarsGrey = 204;  // every pixel of the test star image
// Writes textures/earth.tga (512x256, testEarth as an equirectangular map, longitude -180 at the
// left, north at the top) and textures/stars.tga (16x16, uniform grey) into the run dir.
void writeTestTextures(const std::string& dir, bool topFirst);

// The scene's unlit full-intensity colours, which no pixel of the test Earth reaches.
inline bool isYellow(Rgb c) { return c.r > 230 && c.g > 230 && c.b < 40; }   // markers
inline bool isGreen(Rgb c) { return c.r < 40 && c.g > 230 && c.b < 40; }     // trace head
inline bool isMagenta(Rgb c) { return c.r > 230 && c.g < 40 && c.b > 230; }  // trace path
inline bool isBlue(Rgb c) { return c.r < 40 && c.g < 40 && c.b > 230; }      // picked point

// The centre of the pixels that pass `test` (pixel centres at +0.5), if any.
std::optional<std::pair<double, double>> centroid(const Image& image, bool (*test)(Rgb));
// The number of pixels passing `test` in the square of half-width `half` around (x, y).
int countAround(const Image& image, double x, double y, int half, bool (*test)(Rgb));

enum class Hue { Other, Red, Green, Blue, Cyan, Grey };
// The hue class of a pixel of the test Earth under any lighting, or of a grey pixel.
Hue hueOf(Rgb c);

}  // namespace e2e
