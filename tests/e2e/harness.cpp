#include "harness.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef TLX_TERRALUX_BIN
#error "TLX_TERRALUX_BIN must name the terralux binary"
#endif
#ifndef TLX_BUILD_RUN_DIR
#error "TLX_BUILD_RUN_DIR must name the build's run directory"
#endif
#ifndef TLX_WMCLOSE_BIN
#error "TLX_WMCLOSE_BIN must name the wmclose helper"
#endif

extern char** environ;

namespace fs = std::filesystem;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

std::string g_display;   // ":N"
std::string g_tempRoot;  // holds the run dirs, the program logs and the harness log
pid_t g_xvfb = -1;
int g_runDirCount = 0;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int decodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

std::string harnessLog() { return g_tempRoot.empty() ? "/dev/null" : g_tempRoot + "/harness.log"; }

// The environment handed to children: the test's own without SDL_* variables, then `extra`.
std::vector<std::string> childEnvironment(const Env& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        if (entry.rfind("SDL_", 0) == 0) continue;
        std::string name = entry.substr(0, entry.find('='));
        if (extra.count(name)) continue;
        env.push_back(entry);
    }
    for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
    // The program holds its resources until exit by design; in a sanitizer build, leak reports
    // at exit would change its exit status and standard error.
    if (!getenv("ASAN_OPTIONS") && !extra.count("ASAN_OPTIONS")) {
        env.push_back("ASAN_OPTIONS=detect_leaks=0");
    }
    return env;
}

std::vector<char*> cStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

struct SpawnArgs {
    std::vector<std::string> argv;
    std::vector<std::string> env;  // empty: inherit
    std::string cwd;               // empty: inherit
    int outFd = -1;                // -1: /dev/null
    int errFd = -1;
    int fd3 = -1;  // handed to the child as its file descriptor 3 when >= 0
};

// fork + exec in a new process group; the child dies with the test process.
pid_t spawn(SpawnArgs args) {
    std::vector<char*> argv = cStrings(args.argv);
    std::vector<char*> envp = cStrings(args.env);
    int nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid != 0) {
        close(nullFd);
        return pid;
    }
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(nullFd, 0);
    dup2(args.outFd >= 0 ? args.outFd : nullFd, 1);
    dup2(args.errFd >= 0 ? args.errFd : nullFd, 2);
    if (args.fd3 == 3) {
        fcntl(3, F_SETFD, 0);
    } else if (args.fd3 >= 0) {
        dup2(args.fd3, 3);
    }
    if (!args.cwd.empty() && chdir(args.cwd.c_str()) != 0) _exit(127);
    if (args.env.empty()) {
        execvp(argv[0], argv.data());
    } else {
        execve(argv[0], argv.data(), envp.data());
    }
    _exit(127);
}

// Waits for pid until the deadline; kills its process group on timeout.
int reap(pid_t pid, Clock::time_point deadline, bool* timedOut) {
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0) return -1;
        if (Clock::now() >= deadline) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            if (timedOut) *timedOut = true;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int openLog(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

void startXvfb() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    int logFd = openLog(harnessLog());
    SpawnArgs args;
    args.argv = {"Xvfb", "-displayfd", "3", "-noreset", "-screen", "0", "1024x768x24"};
    args.fd3 = fds[1];
    args.errFd = logFd;
    g_xvfb = spawn(args);
    close(fds[1]);
    if (logFd >= 0) close(logFd);

    // Xvfb writes the display number and a line end to the descriptor once it accepts clients.
    std::string number;
    auto deadline = Clock::now() + std::chrono::seconds(20);
    for (;;) {
        int left = int(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, left) <= 0) break;
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not report its display");
    g_display = ":" + number;
    setenv("DISPLAY", g_display.c_str(), 1);
}

void stopXvfb() {
    if (g_xvfb <= 0) return;
    ::kill(g_xvfb, SIGTERM);
    bool timedOut = false;
    reap(g_xvfb, Clock::now() + std::chrono::seconds(5), &timedOut);
    g_xvfb = -1;
}

class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "terralux-e2e-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        g_tempRoot = tmpl;
        startXvfb();
    }
    void TearDown() override {
        stopXvfb();
        // Kept for inspection when something failed.
        if (::testing::UnitTest::GetInstance()->Passed()) {
            std::error_code ec;
            fs::remove_all(g_tempRoot, ec);
        } else {
            std::fprintf(stderr, "e2e scratch files kept in %s\n", g_tempRoot.c_str());
        }
    }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

CommandResult runOrFail(const std::vector<std::string>& argv, double timeoutSeconds = 10) {
    CommandResult r = runCommand(argv, timeoutSeconds);
    if (r.status != 0) {
        std::string line;
        for (const auto& a : argv) line += a + " ";
        ADD_FAILURE() << "command failed with status " << r.status << ": " << line;
    }
    return r;
}

std::string hexId(WinId window) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%lx", window);
    return buf;
}

void xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), "xdotool");
    runOrFail(args);
}

void putLe16(std::string& out, unsigned v) {
    out += char(v & 0xff);
    out += char((v >> 8) & 0xff);
}

void putLe32(std::string& out, unsigned long v) {
    for (int i = 0; i < 4; ++i) out += char((v >> (8 * i)) & 0xff);
}

// Clips [start, start + length) seconds to the data, in frames.
std::pair<std::size_t, std::size_t> frameWindow(const Pcm& pcm, double start, double length) {
    double first = std::max(0.0, start * pcm.rate);
    double last = std::min(double(pcm.frames()), (start + length) * pcm.rate);
    if (last <= first) return {0, 0};
    return {std::size_t(first), std::size_t(last)};
}

double monoSample(const Pcm& pcm, std::size_t frame) {
    return (double(pcm.samples[2 * frame]) + double(pcm.samples[2 * frame + 1])) / (2 * 32768.0);
}

}  // namespace

// ---- Locations -----------------------------------------------------------------------------

std::string terraluxBinary() {
    // TERRALUX_BIN runs the suite against another build of the program.
    const char* other = getenv("TERRALUX_BIN");
    return other && *other ? other : TLX_TERRALUX_BIN;
}
std::string buildRunDir() { return TLX_BUILD_RUN_DIR; }
std::string display() { return g_display; }

// ---- Commands ------------------------------------------------------------------------------

CommandResult runCommand(const std::vector<std::string>& argv, double timeoutSeconds) {
    CommandResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return result;
    int logFd = openLog(harnessLog());
    SpawnArgs args;
    args.argv = argv;
    args.outFd = fds[1];
    args.errFd = logFd;
    pid_t pid = spawn(args);
    close(fds[1]);
    if (logFd >= 0) close(logFd);

    auto deadline = Clock::now() + std::chrono::milliseconds(long(timeoutSeconds * 1000));
    bool timedOut = false;
    char buf[65536];
    for (;;) {
        int left = int(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, left) <= 0) continue;
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        result.out.append(buf, std::size_t(n));
    }
    close(fds[0]);
    int status = reap(pid, timedOut ? Clock::now() : deadline, &timedOut);
    result.status = timedOut ? -1 : decodeStatus(status);
    return result;
}

void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::microseconds(long(seconds * 1e6)));
}

// ---- Run directories -----------------------------------------------------------------------

Config defaultConfig() {
    return {{"window_Width", "800"},    {"window_Height", "600"}, {"window_Depth", "16"},
            {"window_fullscreen", "0"}, {"music", "0"},           {"sounds", "0"}};
}

Config withSetting(Config config, const std::string& key, const char* value) {
    for (auto it = config.begin(); it != config.end(); ++it) {
        if (it->first != key) continue;
        if (value) {
            it->second = value;
        } else {
            config.erase(it);
        }
        return config;
    }
    if (value) config.emplace_back(key, value);
    return config;
}

std::string configXml(const Config& config) {
    std::string xml = "<?xml version=\"1.0\" ?>\n<config>\n";
    for (const auto& [key, value] : config) {
        xml += "    <entry key=\"" + key + "\">" + value + "</entry>\n";
    }
    return xml + "</config>\n";
}

std::string makeRunDir(const std::string& name) {
    std::string dir = g_tempRoot + "/" + std::to_string(++g_runDirCount) + "-" + name + "/run";
    fs::create_directories(dir);
    return dir;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

void writeConfig(const std::string& dir, const Config& config) {
    writeText(dir + "/config.xml", configXml(config));
}

void linkBuildData(const std::string& dir, const std::string& sub,
                   const std::vector<std::string>& except) {
    fs::path target = fs::path(dir) / sub;
    fs::create_directories(target);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(buildRunDir()) / sub, ec)) {
        std::string name = entry.path().filename().string();
        bool skip = false;
        for (const auto& e : except) skip = skip || e == name;
        if (!skip) fs::create_symlink(entry.path(), target / name);
    }
}

std::string scratchRun(const std::string& name, const Config& config) {
    std::string dir = makeRunDir(name);
    writeConfig(dir, config);
    linkBuildData(dir, "textures");
    linkBuildData(dir, "audio");
    return dir;
}

void writeToneWav(const std::string& path, double hz, double seconds, int rate, double amplitude) {
    const double pi = 3.14159265358979323846;
    unsigned long frames = (unsigned long)(seconds * rate);
    std::string data;
    for (unsigned long i = 0; i < frames; ++i) {
        // Short linear fades keep the ends free of clicks.
        double fade = std::min({1.0, i / (0.005 * rate), (frames - i) / (0.005 * rate)});
        long v = std::lround(amplitude * fade * 32767.0 * std::sin(2 * pi * hz * i / rate));
        putLe16(data, unsigned(v) & 0xffff);
        putLe16(data, unsigned(v) & 0xffff);
    }
    std::string wav = "RIFF";
    putLe32(wav, 36 + data.size());
    wav += "WAVEfmt ";
    putLe32(wav, 16);
    putLe16(wav, 1);  // PCM
    putLe16(wav, 2);  // channels
    putLe32(wav, rate);
    putLe32(wav, rate * 4);  // bytes a second
    putLe16(wav, 4);         // bytes a frame
    putLe16(wav, 16);        // bits a sample
    wav += "data";
    putLe32(wav, data.size());
    writeText(path, wav + data);
}

// ---- The program ---------------------------------------------------------------------------

Env dummyAudio() { return {{"SDL_AUDIODRIVER", "dummy"}}; }

Env diskAudio(const std::string& rawFile) {
    // SDL's disk driver sleeps this many milliseconds after each buffer; 0 or empty would fall
    // back to its default, so it is always given.
    return {
        {"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", rawFile}, {"SDL_DISKAUDIODELAY", "10"}};
}

Env missingAudioDriver() { return {{"SDL_AUDIODRIVER", "nosuchaudiodriver"}}; }

Program::Program(Program&& other) noexcept { *this = std::move(other); }

Program& Program::operator=(Program&& other) noexcept {
    if (this != &other) {
        stop(*this);
        pid = other.pid;
        dir = std::move(other.dir);
        outPath = std::move(other.outPath);
        errPath = std::move(other.errPath);
        reaped = other.reaped;
        waitStatus = other.waitStatus;
        other.pid = -1;
    }
    return *this;
}

Program::~Program() { stop(*this); }

Program launch(const std::string& dir, const Env& env) {
    Program program;
    program.dir = dir;
    std::string base = fs::path(dir).parent_path().string();
    program.outPath = base + "/stdout.txt";
    program.errPath = base + "/stderr.txt";
    int outFd = open(program.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int errFd = open(program.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    SpawnArgs args;
    args.argv = {terraluxBinary()};
    args.env = childEnvironment(env);
    args.cwd = dir;
    args.outFd = outFd;
    args.errFd = errFd;
    program.pid = spawn(args);
    close(outFd);
    close(errFd);
    return program;
}

bool running(Program& program) {
    if (program.pid <= 0 || program.reaped) return false;
    int status = 0;
    if (waitpid(program.pid, &status, WNOHANG) == program.pid) {
        program.reaped = true;
        program.waitStatus = status;
        return false;
    }
    return true;
}

int waitExit(Program& program, double timeoutSeconds) {
    if (program.pid <= 0) return -1;
    if (!program.reaped) {
        bool timedOut = false;
        auto deadline = Clock::now() + std::chrono::milliseconds(long(timeoutSeconds * 1000));
        program.waitStatus = reap(program.pid, deadline, &timedOut);
        program.reaped = true;
        if (timedOut) {
            ADD_FAILURE() << "terralux in " << program.dir << " still running after "
                          << timeoutSeconds << " s; killed";
            return -1;
        }
    }
    return decodeStatus(program.waitStatus);
}

void stop(Program& program) {
    if (program.pid <= 0 || program.reaped) return;
    ::kill(-program.pid, SIGKILL);
    ::kill(program.pid, SIGKILL);
    waitpid(program.pid, &program.waitStatus, 0);
    program.reaped = true;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string stdoutText(const Program& program) { return readFile(program.outPath); }
std::string stderrText(const Program& program) { return readFile(program.errPath); }

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> diagnosticLines(const Program& program) {
    std::vector<std::string> lines;
    for (auto& line : splitLines(stderrText(program))) {
        if (line == "WARNING: You are using the SDL disk writer audio driver!") continue;
        if (line.rfind(" Writing to file [", 0) == 0) continue;
        lines.push_back(line);
    }
    return lines;
}

// ---- Windows -------------------------------------------------------------------------------

std::optional<WinId> findWindow(Program& program, double timeoutSeconds,
                                const std::string& nameRegex) {
    auto start = Clock::now();
    while (secondsSince(start) < timeoutSeconds) {
        CommandResult r = runCommand({"xdotool", "search", "--onlyvisible", "--name", nameRegex});
        if (r.status == 0) {
            std::istringstream in(r.out);
            unsigned long id = 0;
            if (in >> id) return id;
        }
        if (!running(program)) return std::nullopt;
        sleepSeconds(0.05);
    }
    return std::nullopt;
}

Geometry windowGeometry(WinId window) {
    Geometry g;
    CommandResult r =
        runOrFail({"xdotool", "getwindowgeometry", "--shell", std::to_string(window)});
    for (const auto& line : splitLines(r.out)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string name = line.substr(0, eq);
        int value = std::atoi(line.c_str() + eq + 1);
        if (name == "X") g.x = value;
        if (name == "Y") g.y = value;
        if (name == "WIDTH") g.width = value;
        if (name == "HEIGHT") g.height = value;
    }
    return g;
}

std::string windowName(WinId window) {
    std::string out = runOrFail({"xdotool", "getwindowname", std::to_string(window)}).out;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

MapWatch::MapWatch() {
    Display* d = XOpenDisplay(g_display.c_str());
    if (!d) {
        ADD_FAILURE() << "cannot open display " << g_display;
        return;
    }
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);
    connection = d;
}

MapWatch::~MapWatch() {
    if (connection) XCloseDisplay(static_cast<Display*>(connection));
}

std::vector<WinId> MapWatch::mapped() {
    auto* d = static_cast<Display*>(connection);
    if (!d) return seen;
    XSync(d, False);
    while (XPending(d) > 0) {
        XEvent event;
        XNextEvent(d, &event);
        if (event.type == MapNotify) seen.push_back(event.xmap.window);
        if (event.type == CreateNotify) {
            const XCreateWindowEvent& e = event.xcreatewindow;
            sizes[e.window] = {e.x, e.y, e.width, e.height};
        }
        if (event.type == ConfigureNotify) {
            const XConfigureEvent& e = event.xconfigure;
            sizes[e.window] = {e.x, e.y, e.width, e.height};
        }
    }
    return seen;
}

Geometry MapWatch::geometry(WinId window) {
    mapped();
    auto it = sizes.find(window);
    return it == sizes.end() ? Geometry{} : it->second;
}

// ---- Input ---------------------------------------------------------------------------------

void focus(WinId window) { xdotool({"windowfocus", "--sync", std::to_string(window)}); }
void key(const std::string& keys) { xdotool({"key", keys}); }
void keyDown(const std::string& keyName) { xdotool({"keydown", keyName}); }
void keyUp(const std::string& keyName) { xdotool({"keyup", keyName}); }

void mouseMove(WinId window, int x, int y) {
    Geometry g = windowGeometry(window);
    int targetX = g.x + x, targetY = g.y + y;
    // "mousemove --sync" waits for the pointer to move, forever when it is already there.
    int hereX = -1, hereY = -1;
    for (const auto& line : splitLines(runOrFail({"xdotool", "getmouselocation", "--shell"}).out)) {
        if (line.rfind("X=", 0) == 0) hereX = std::atoi(line.c_str() + 2);
        if (line.rfind("Y=", 0) == 0) hereY = std::atoi(line.c_str() + 2);
    }
    if (hereX == targetX && hereY == targetY) return;
    xdotool({"mousemove", "--sync", std::to_string(targetX), std::to_string(targetY)});
}

void drag(WinId window, int button, int x0, int y0, int x1, int y1, int steps, double pause) {
    // SDL measures the first motion it sees from (0, 0): make sure that one is not in the drag.
    mouseMove(window, x0 > 0 ? x0 - 1 : x0 + 1, y0);
    mouseMove(window, x0, y0);
    mouseDown(button);
    sleepSeconds(pause);
    for (int i = 1; i <= steps; ++i) {
        mouseMove(window, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
        sleepSeconds(pause);
    }
    mouseUp(button);
}

void mouseDown(int button) { xdotool({"mousedown", std::to_string(button)}); }
void mouseUp(int button) { xdotool({"mouseup", std::to_string(button)}); }
void click(int button) { xdotool({"click", std::to_string(button)}); }

void wheel(int notches) {
    for (int i = 0; i < std::abs(notches); ++i) click(notches > 0 ? 4 : 5);
}

void requestClose(WinId window) { runOrFail({TLX_WMCLOSE_BIN, hexId(window)}); }

// ---- Screenshots ---------------------------------------------------------------------------

Rgb Image::at(int x, int y) const {
    std::size_t i = 3 * (std::size_t(y) * width + x);
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

Image parsePpm(const std::string& bytes) {
    Image image;
    std::size_t pos = 0;
    // Header: "P6", width, height, maxval, separated by white space; '#' starts a comment.
    auto token = [&]() {
        std::string t;
        while (pos < bytes.size()) {
            char c = bytes[pos];
            if (c == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                if (!t.empty()) break;
                ++pos;
            } else {
                t += c;
                ++pos;
            }
        }
        return t;
    };
    if (token() != "P6") return image;
    int width = std::atoi(token().c_str());
    int height = std::atoi(token().c_str());
    int maxval = std::atoi(token().c_str());
    ++pos;  // the single white-space character before the raster
    if (width <= 0 || height <= 0 || maxval <= 0 || maxval > 65535) return image;
    std::size_t bytesPerSample = maxval > 255 ? 2 : 1;
    std::size_t samples = std::size_t(width) * height * 3;
    if (bytes.size() < pos + samples * bytesPerSample) return image;
    image.width = width;
    image.height = height;
    image.rgb.resize(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        unsigned v = static_cast<unsigned char>(bytes[pos + i * bytesPerSample]);
        if (bytesPerSample == 2) v = (v << 8) | static_cast<unsigned char>(bytes[pos + 2 * i + 1]);
        image.rgb[i] = uint8_t((v * 255 + maxval / 2) / maxval);
    }
    return image;
}

Image screenshot(WinId window) {
    CommandResult r = runOrFail(
        {"sh", "-c", "xwd -id " + hexId(window) + " -silent | convert xwd:- -depth 8 ppm:-"}, 20);
    Image image = parsePpm(r.out);
    if (image.empty()) ADD_FAILURE() << "screenshot of window " << hexId(window) << " unreadable";
    return image;
}

Image screenshotWhen(WinId window, const std::function<bool(const Image&)>& ready,
                     double timeoutSeconds) {
    auto start = Clock::now();
    Image image = screenshot(window);
    while (!ready(image) && secondsSince(start) < timeoutSeconds) {
        sleepSeconds(0.1);
        image = screenshot(window);
    }
    return image;
}

bool savePng(const Image& image, const std::string& path) {
    std::string ppm =
        "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    ppm.append(reinterpret_cast<const char*>(image.rgb.data()), image.rgb.size());
    std::string tmp = path + ".ppm";
    writeText(tmp, ppm);
    bool ok = runCommand({"convert", tmp, path}).status == 0;
    std::remove(tmp.c_str());
    return ok;
}

// ---- Disk audio ----------------------------------------------------------------------------

Pcm readDiskAudio(const std::string& path, int rate) {
    Pcm pcm;
    pcm.rate = rate;
    std::string raw = readFile(path);
    std::size_t count = raw.size() / 4 * 2;
    pcm.samples.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        unsigned lo = static_cast<unsigned char>(raw[2 * i]);
        unsigned hi = static_cast<unsigned char>(raw[2 * i + 1]);
        pcm.samples[i] = int16_t(uint16_t(lo | (hi << 8)));
    }
    return pcm;
}

double toneLevel(const Pcm& pcm, double hz, double startSecond, double lengthSeconds) {
    auto [first, last] = frameWindow(pcm, startSecond, lengthSeconds);
    std::size_t n = last - first;
    if (n == 0) return 0;
    const double pi = 3.14159265358979323846;
    double coeff = 2 * std::cos(2 * pi * hz / pcm.rate);
    double s1 = 0, s2 = 0;
    for (std::size_t i = first; i < last; ++i) {
        double s0 = monoSample(pcm, i) + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / double(n);
}

double rmsLevel(const Pcm& pcm, double startSecond, double lengthSeconds) {
    auto [first, last] = frameWindow(pcm, startSecond, lengthSeconds);
    if (last == first) return 0;
    double sum = 0;
    for (std::size_t i = first; i < last; ++i) sum += monoSample(pcm, i) * monoSample(pcm, i);
    return std::sqrt(sum / double(last - first));
}

// ---- Test images ---------------------------------------------------------------------------

void writeTga(const std::string& path, int width, int height,
              const std::function<Rgb(int x, int y)>& pixel, bool topFirst) {
    std::string tga(18, '\0');
    tga[2] = 2;  // uncompressed true colour
    tga[12] = char(width & 0xff);
    tga[13] = char(width >> 8);
    tga[14] = char(height & 0xff);
    tga[15] = char(height >> 8);
    tga[16] = 24;
    tga[17] = topFirst ? 0x20 : 0x00;
    for (int row = 0; row < height; ++row) {
        int y = topFirst ? row : height - 1 - row;
        for (int x = 0; x < width; ++x) {
            Rgb c = pixel(x, y);
            tga += char(c.b);
            tga += char(c.g);
            tga += char(c.r);
        }
    }
    writeText(path, tga);
}

// ---- Geometry ------------------------------------------------------------------------------

namespace {

const double kPi = 3.14159265358979323846;
const double kDeg = kPi / 180;

Vec3 rotateX(Vec3 p, double deg) {
    double c = std::cos(deg * kDeg), s = std::sin(deg * kDeg);
    return {p.x, p.y * c - p.z * s, p.y * s + p.z * c};
}

Vec3 rotateY(Vec3 p, double deg) {
    double c = std::cos(deg * kDeg), s = std::sin(deg * kDeg);
    return {p.x * c + p.z * s, p.y, -p.x * s + p.z * c};
}

double focalPixels(const View& view) { return view.height / 2.0 / std::tan(22.5 * kDeg); }

}  // namespace

Vec3 scenePoint(double latDeg, double lonDeg, double altMetres) {
    double r = (altMetres + 6.5e6) * 15 / 6.5e6;
    double lat = latDeg * kDeg, lon = lonDeg * kDeg;
    return {r * std::cos(lat) * std::sin(lon), r * std::sin(lat),
            r * std::cos(lat) * std::cos(lon)};
}

double length(Vec3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

Vec3 markerToEye(const View& view, Vec3 p) {
    Vec3 e = rotateX(rotateY(rotateX(p, 15), view.yaw), view.pitch);
    e.z += view.zoom - 50;
    return e;
}

Vec3 eyeToMarker(const View& view, Vec3 e) {
    e.z -= view.zoom - 50;
    return rotateX(rotateY(rotateX(e, -view.pitch), -view.yaw), -15);
}

std::pair<double, double> project(const View& view, Vec3 p) {
    Vec3 e = markerToEye(view, p);
    double f = focalPixels(view);
    return {view.width / 2.0 + f * e.x / -e.z, view.height / 2.0 - f * e.y / -e.z};
}

std::optional<Vec3> sphereHit(Vec3 a, Vec3 b, double radius) {
    Vec3 d{b.x - a.x, b.y - a.y, b.z - a.z};
    double qa = d.x * d.x + d.y * d.y + d.z * d.z;
    double qb = 2 * (a.x * d.x + a.y * d.y + a.z * d.z);
    double qc = a.x * a.x + a.y * a.y + a.z * a.z - radius * radius;
    double disc = qb * qb - 4 * qa * qc;
    if (disc < 0) return std::nullopt;
    double t = (-qb - std::sqrt(disc)) / (2 * qa);
    return Vec3{a.x + d.x * t, a.y + d.y * t, a.z + d.z * t};
}

double diskRadius(const View& view) {
    double dist = 50 - view.zoom;
    return focalPixels(view) * 15 / std::sqrt(dist * dist - 225);
}

long residentKb(pid_t pid) {
    std::istringstream in(readFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// ---- The test textures ---------------------------------------------------------------------

Rgb testEarth(double latDeg, double lonDeg) {
    const uint8_t m = kEarthMax;
    if (std::abs(lonDeg) < 4) return {m, m, m};
    if (latDeg >= 0) return lonDeg > 0 ? Rgb{m, 0, 0} : Rgb{0, m, 0};
    return lonDeg > 0 ? Rgb{0, 0, m} : Rgb{0, m, m};
}

void writeTestTextures(const std::string& dir, bool topFirst) {
    fs::create_directories(dir + "/textures");
    const int w = 512, h = 256;
    writeTga(
        dir + "/textures/earth.tga", w, h,
        [&](int x, int y) {
            return testEarth(90 - (y + 0.5) * 180 / h, (x + 0.5) * 360 / w - 180);
        },
        topFirst);
    const uint8_t g = kStarsGrey;
    writeTga(
        dir + "/textures/stars.tga", 16, 16,
        [&](int, int) {
            return Rgb{g, g, g};
        },
        topFirst);
}

std::optional<std::pair<double, double>> centroid(const Image& image, bool (*test)(Rgb)) {
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (!test(image.at(x, y))) continue;
            sx += x + 0.5;
            sy += y + 0.5;
            ++n;
        }
    }
    if (n == 0) return std::nullopt;
    return std::make_pair(sx / n, sy / n);
}

int countAround(const Image& image, double cx, double cy, int half, bool (*test)(Rgb)) {
    int n = 0;
    for (int y = int(cy) - half; y <= int(cy) + half; ++y) {
        for (int x = int(cx) - half; x <= int(cx) + half; ++x) {
            if (x >= 0 && y >= 0 && x < image.width && y < image.height && test(image.at(x, y)))
                ++n;
        }
    }
    return n;
}

Hue hueOf(Rgb c) {
    int r = c.r, g = c.g, b = c.b;
    int hi = std::max({r, g, b}), lo = std::min({r, g, b});
    if (hi < 12) return Hue::Other;
    if (hi - lo <= hi / 6) return Hue::Grey;
    if (r == hi && g <= r / 4 && b <= r / 4) return Hue::Red;
    if (g == hi && r <= g / 4 && b <= g / 4) return Hue::Green;
    if (b == hi && r <= b / 4 && g <= b / 4) return Hue::Blue;
    if (r <= lo + hi / 4 && std::abs(g - b) <= hi / 5) return Hue::Cyan;
    return Hue::Other;
}

}  // namespace e2e
