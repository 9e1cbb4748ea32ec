#include "harness.h"

#include "wayland.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
extern "C" {
#include <xdo.h>
}
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

const useconds_t kInputDelay = 10000;  // microseconds between keys and between clicks

// The lines each SDL 1.2 runtime writes on standard error itself when its disk audio driver
// opens, in the order of Runtime; %s stands for the file it writes. SDL3 adds the format its
// device writes: the mixer's signed 16-bit stereo, at the device's own 44100 Hz.
const char* const kRuntimeLines[3][2] = {
    {"WARNING: You are using the SDL disk writer audio driver!", " Writing to file [%s]."},
    {"CRITICAL: You are using the SDL disk i/o audio driver!", "CRITICAL:  Writing to file [%s]."},
    {"CRITICAL: You are using the SDL disk i/o audio driver!",
     "CRITICAL:  Writing to file [%s], format=S16LE channels=2 freq=44100."}};

std::string g_tempRoot;  // the run dirs, the program logs and the audio probe's output
pid_t g_xvfb = -1;
Display* g_display = nullptr;
xdo_t* g_xdo = nullptr;
int g_runDirCount = 0;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int decodeStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int openFile(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// fork + exec in a process group of its own that dies with the test process, with standard
// output and error to outFd and errFd (-1: /dev/null) and the test's environment less SDL_*,
// plus `env`.
pid_t spawn(std::vector<std::string> argv, const Env& env, const std::string& cwd, int outFd,
            int errFd) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> sdl;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "SDL_", 4) == 0) sdl.emplace_back(*e, std::strcspn(*e, "="));
    pid_t parent = getpid(), pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    int nullFd = open("/dev/null", O_RDWR);
    dup2(nullFd, 0);
    dup2(outFd >= 0 ? outFd : nullFd, 1);
    dup2(errFd >= 0 ? errFd : nullFd, 2);
    // As from a terminal's shell: every signal handled by default, none blocked.
    for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const auto& name : sdl) unsetenv(name.c_str());
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    // The program holds its resources until exit by design; in a sanitizer build, leak reports
    // at exit would change its exit status and standard error.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 0);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    execvp(args[0], args.data());
    _exit(127);
}

// Waits for pid; on timeout kills its process group and returns -1, else the raw status.
int reap(pid_t pid, double timeoutSeconds) {
    auto start = Clock::now();
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (secondsSince(start) >= timeoutSeconds) {
            ::kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        sleepSeconds(0.005);
    }
    return status;
}

std::string versionText(const uint8_t* v) {  // major, minor, patch
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
}

// The version that libSDL-1.2.so.0 reports, as the loader finds it with this environment.
std::string sdlVersion() {
    static const std::string version = [] {
        void* sdl = dlopen("libSDL-1.2.so.0", RTLD_NOW | RTLD_LOCAL);
        auto linked = reinterpret_cast<const uint8_t* (*)()>(sdl ? dlsym(sdl, "SDL_Linked_Version")
                                                                 : nullptr);
        if (!linked) throw std::runtime_error("libSDL-1.2.so.0 not found");
        return versionText(linked());
    }();
    return version;
}

// The version that libSDL2-2.0.so.0, which sdl12-compat loads, reports; "" when there is none.
std::string sdl2Version() {
    static const std::string version = [] {
        void* sdl = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        auto get =
            reinterpret_cast<void (*)(uint8_t*)>(sdl ? dlsym(sdl, "SDL_GetVersion") : nullptr);
        uint8_t v[3] = {0, 0, 0};
        if (get) get(v);
        return get ? versionText(v) : std::string();
    }();
    return version;
}

std::array<int, 3> versionNumbers(const std::string& text) {
    std::array<int, 3> v = {0, 0, 0};
    std::sscanf(text.c_str(), "%d.%d.%d", &v[0], &v[1], &v[2]);
    return v;
}

// The Xvfb server; DISPLAY names it for the programs started.
void startXvfb() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    int logFd =
        open((g_tempRoot + "/xvfb.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    std::string screen =
        std::to_string(detail::kScreenWidth) + "x" + std::to_string(detail::kScreenHeight) + "x24";
    g_xvfb = spawn({"Xvfb", "-displayfd", "1", "-noreset", "-screen", "0", screen}, {}, "", fds[1],
                   logFd);
    close(fds[1]);
    close(logFd);
    // Xvfb writes the display number and a line end once it takes clients.
    std::string display = ":";
    char c;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 20000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') display += c;
    close(fds[0]);
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");  // SDL would take a desktop's Wayland over DISPLAY
    g_display = XOpenDisplay(display.c_str());
    if (!g_display) throw std::runtime_error("Xvfb did not start");
    // Windows vanish when their program ends; a request about one then just fails.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    g_xdo = xdo_new_with_opened_display(g_display, display.c_str(), 0);
}

// One display server for the whole test executable: Xvfb, or sway when the suite runs on Wayland.
class DisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // The programs run in directories of their own: a relative library path would find
        // another SDL for them than for this process.
        if (const char* paths = getenv("LD_LIBRARY_PATH")) {
            std::string absolute;
            std::istringstream in(paths);
            for (std::string p; std::getline(in, p, ':');)
                absolute += (absolute.empty() ? "" : ":") + fs::absolute(p).string();
            setenv("LD_LIBRARY_PATH", absolute.c_str(), 1);
        }
        std::string root = (fs::temp_directory_path() / "terralux-e2e-XXXXXX").string();
        if (!mkdtemp(root.data())) throw std::runtime_error("no temporary directory");
        g_tempRoot = root;
        // A desktop session's private runtime directory: SDL3 asks for one at start-up.
        const std::string runtimeDir = root + "/xdg-runtime";
        if (mkdir(runtimeDir.c_str(), 0700) != 0) throw std::runtime_error("no runtime directory");
        setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        if (wayland::selected())
            wayland::start(root);
        else
            startXvfb();
        const std::string over = sdlCompat() ? " over SDL " + sdl2Version() : "";
        std::printf("SDL runtime %s%s on %s\n", sdlVersion().c_str(), over.c_str(),
                    wayland::selected() ? wayland::describe().c_str() : getenv("DISPLAY"));
    }
    void TearDown() override {
        if (wayland::selected()) {
            wayland::stop();
        } else {
            xdo_free(g_xdo);
            XCloseDisplay(g_display);
            ::kill(g_xvfb, SIGTERM);
            reap(g_xvfb, 5);
        }
        if (::testing::UnitTest::GetInstance()->Passed()) {
            std::error_code ec;
            fs::remove_all(g_tempRoot, ec);
        } else {
            std::fprintf(stderr, "e2e scratch files kept in %s\n", g_tempRoot.c_str());
        }
    }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

bool g_displayKilled = false;

// After a test that killed the display server, a fresh one for the tests that follow.
class DisplayRestart : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override {
        if (!g_displayKilled) return;
        g_displayKilled = false;
        if (wayland::selected()) {
            wayland::stop();
            wayland::start(g_tempRoot);
        } else {
            startXvfb();
        }
    }
};

[[maybe_unused]] const bool g_displayRestart =
    (::testing::UnitTest::GetInstance()->listeners().Append(new DisplayRestart), true);

// A viewable top-level window named "terralux", if there is one.
std::optional<WinId> shownWindow() {
    if (wayland::selected()) return wayland::shownWindow();
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    XQueryTree(g_display, DefaultRootWindow(g_display), &root, &parent, &children, &count);
    std::optional<WinId> found;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(g_display, children[i], &a) && a.map_state == IsViewable &&
            windowName(children[i]) == "terralux")
            found = children[i];
    }
    if (children) XFree(children);
    return found;
}

// Once this returns, the server has carried out every request sent: the pointer is where it was
// sent, and the events are on their way to the program.
void settle() { XSync(g_display, False); }

void putLe(std::string& out, unsigned long v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char((v >> (8 * i)) & 0xff);
}

Pcm decodePcm(const std::string& raw, int rate) {
    Pcm pcm{rate, std::vector<int16_t>(raw.size() / 4 * 2)};
    for (std::size_t i = 0; i < pcm.samples.size(); ++i)
        pcm.samples[i] = int16_t(uint16_t(uint8_t(raw[2 * i]) | uint8_t(raw[2 * i + 1]) << 8));
    return pcm;
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

// The probe plays 1000 Hz at half of full scale, equal on both channels, through the mixer
// opened as the program opens it, on the runtime in use. Read as signed 16-bit stereo, its
// recording must show both channels equal and the tone at that level; the device's rate is 1000
// times the frames per cycle, from the upward zero crossings of the left channel.
int measureDiskRate() {
    const double hz = 1000;
    std::string raw = g_tempRoot + "/probe.raw", err = g_tempRoot + "/probe.err";
    int errFd = openFile(err);
    int status = reap(spawn({TLX_SDLPROBE_BIN, "tone"}, diskAudio(raw), "", -1, errFd), 20);
    close(errFd);
    if (status == -1 || decodeStatus(status) != 0) {
        ADD_FAILURE() << "the audio probe failed: " << readFile(err);
        return 0;
    }
    Pcm pcm = decodePcm(readFile(raw), 0);
    std::size_t first = 0, last = pcm.frames();
    while (first < last && std::abs(pcm.samples[2 * first]) < 8192) ++first;
    while (last > first && std::abs(pcm.samples[2 * last - 2]) < 8192) --last;
    double firstCrossing = 0, lastCrossing = 0;
    int cycles = -1;
    bool equal = true;
    for (std::size_t i = first; i + 1 < last; ++i) {
        double a = pcm.samples[2 * i], b = pcm.samples[2 * i + 2];
        equal = equal && pcm.samples[2 * i] == pcm.samples[2 * i + 1];
        if (a >= 0 || b < 0) continue;
        lastCrossing = i + a / (a - b);
        if (++cycles == 0) firstCrossing = lastCrossing;
    }
    pcm.rate = cycles > 0 ? int(std::lround(hz * (lastCrossing - firstCrossing) / cycles)) : 0;
    double level = pcm.rate ? toneLevel(pcm, hz, (first + last) / 2.0 / pcm.rate - 0.1, 0.2) : 0;
    if (cycles < 100 || !equal || std::abs(level - 0.5) > 0.05) {
        ADD_FAILURE() << "disk audio is not signed 16-bit stereo: " << cycles << " cycles, level "
                      << level << (equal ? "" : ", channels differ");
        return 0;
    }
    std::printf("disk audio: signed 16-bit stereo at %d Hz, measured\n", pcm.rate);
    return pcm.rate;
}

}  // namespace

// ---- The display server -------------------------------------------------------------------------

bool onWayland() { return wayland::selected(); }

void killDisplayServer() {
    g_displayKilled = true;
    if (onWayland()) return wayland::kill();
    ::kill(g_xvfb, SIGKILL);
    reap(g_xvfb, 5);
    xdo_free(g_xdo);
    // The old connection is left unclosed: closing it would write to the dead server, and Xlib
    // ends the process on that.
    g_display = nullptr;
}

Geometry screenGeometry() {
    return onWayland() ? wayland::screen()
                       : Geometry{0, 0, detail::kScreenWidth, detail::kScreenHeight};
}

// ---- The SDL 1.2 runtime ------------------------------------------------------------------------

Runtime sdlRuntime() {
    const std::array<int, 3> v = versionNumbers(sdlVersion());
    if (v[0] != 1 || v[1] != 2 || v[2] < 50) return Runtime::Classic;
    const std::array<int, 3> sdl3 = {2, 32, 50};
    return versionNumbers(sdl2Version()) >= sdl3 ? Runtime::OverSdl3 : Runtime::OverSdl2;
}

void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::microseconds(long(seconds * 1e6)));
}

// ---- Run directories ----------------------------------------------------------------------------

Config defaultConfig() {
    return {{"window_Width", "800"},    {"window_Height", "600"}, {"window_Depth", "16"},
            {"window_fullscreen", "0"}, {"music", "0"},           {"sounds", "0"}};
}

Config withSetting(Config config, const std::string& key, const char* value) {
    auto it = std::find_if(config.begin(), config.end(), [&](auto& e) { return e.first == key; });
    if (it == config.end() && value) config.emplace_back(key, value);
    if (it != config.end() && value) it->second = value;
    if (it != config.end() && !value) config.erase(it);
    return config;
}

std::string configXml(const Config& config) {
    std::string xml = "<?xml version=\"1.0\" ?>\n<config>\n";
    for (const auto& [key, value] : config)
        xml += "    <entry key=\"" + key + "\">" + value + "</entry>\n";
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

void linkBuildData(const std::string& dir, const std::string& sub,
                   const std::vector<std::string>& except) {
    fs::create_directories(fs::path(dir) / sub);
    for (const auto& entry : fs::directory_iterator(fs::path(TLX_BUILD_RUN_DIR) / sub)) {
        fs::path name = entry.path().filename();
        if (std::find(except.begin(), except.end(), name.string()) == except.end())
            fs::create_symlink(entry.path(), fs::path(dir) / sub / name);
    }
}

std::string scratchRun(const std::string& name, const Config& config) {
    std::string dir = makeRunDir(name);
    writeConfig(dir, config);
    linkBuildData(dir, "textures");
    linkBuildData(dir, "audio");
    return dir;
}

void writeToneWav(const std::string& path, double hz, double seconds) {
    const unsigned long rate = 22050, frames = (unsigned long)(seconds * rate);
    std::string data;
    for (unsigned long i = 0; i < frames; ++i) {
        // Short linear fades keep the ends free of clicks.
        double fade = std::min({1.0, i / (0.005 * rate), (frames - i) / (0.005 * rate)});
        long v = std::lround(0.5 * fade * 32767.0 * std::sin(2 * kPi * hz * i / rate));
        putLe(data, (unsigned long)v << 16 | ((unsigned long)v & 0xffff), 4);  // left, right
    }
    // RIFF header; format: PCM, 2 channels, the rate, bytes a second, bytes a frame, bits.
    std::string wav = "RIFF";
    putLe(wav, 36 + data.size(), 4);
    wav += "WAVEfmt ";
    for (auto [value, bytes] :
         {std::pair{16ul, 4}, {1ul, 2}, {2ul, 2}, {rate, 4}, {rate * 4, 4}, {4ul, 2}, {16ul, 2}})
        putLe(wav, value, bytes);
    wav += "data";
    putLe(wav, data.size(), 4);
    writeText(path, wav + data);
}

// ---- The program --------------------------------------------------------------------------------

Program& Program::operator=(Program&& other) noexcept {
    std::swap(pid, other.pid);  // what this held is killed with `other`
    std::swap(status, other.status);
    std::swap(dir, other.dir);
    std::swap(outPath, other.outPath);
    std::swap(errPath, other.errPath);
    std::swap(diskFile, other.diskFile);
    return *this;
}

Program::~Program() {
    if (pid <= 0 || status >= 0) return;
    ::kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

Program launch(const std::string& dir, const Env& env) {
    Program program;
    program.dir = dir;
    program.outPath = fs::path(dir).parent_path() / "stdout.txt";
    program.errPath = fs::path(dir).parent_path() / "stderr.txt";
    if (env.count("SDL_DISKAUDIOFILE")) program.diskFile = env.at("SDL_DISKAUDIOFILE");
    int outFd = openFile(program.outPath), errFd = openFile(program.errPath);
    // The server closes the windows of a program that has ended soon, not at once.
    for (auto start = Clock::now(); shownWindow() && secondsSince(start) < 5;) sleepSeconds(0.01);
    if (shownWindow()) ADD_FAILURE() << "a terralux window is still shown";
    // TERRALUX_BIN runs the tests against another build of the program.
    const char* other = getenv("TERRALUX_BIN");
    program.pid = spawn({other && *other ? other : TLX_TERRALUX_BIN}, env, dir, outFd, errFd);
    close(outFd);
    close(errFd);
    return program;
}

bool running(Program& program) {
    int status = 0;
    if (program.pid <= 0 || program.status >= 0) return false;
    if (waitpid(program.pid, &status, WNOHANG) != program.pid) return true;
    program.status = decodeStatus(status);
    return false;
}

int waitExit(Program& program, double timeoutSeconds) {
    if (program.pid <= 0) return -1;
    if (program.status >= 0) return program.status;
    int status = reap(program.pid, timeoutSeconds);
    if (status != -1) return program.status = decodeStatus(status);
    program.status = 128 + SIGKILL;
    ADD_FAILURE() << "terralux in " << program.dir << " still running after " << timeoutSeconds
                  << " s; killed";
    return -1;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> diagnosticLines(const Program& program) {
    std::vector<std::string> runtime, lines;
    for (const char* pattern : kRuntimeLines[int(sdlRuntime())]) {
        char line[4096];
        std::snprintf(line, sizeof line, pattern, program.diskFile.c_str());
        runtime.push_back(line);
    }
    for (auto& line : splitLines(stderrText(program)))
        if (std::find(runtime.begin(), runtime.end(), line) == runtime.end()) lines.push_back(line);
    return lines;
}

// ---- Windows ------------------------------------------------------------------------------------

std::optional<WinId> findWindow(Program& program, double timeoutSeconds) {
    for (auto start = Clock::now(); secondsSince(start) < timeoutSeconds && running(program);) {
        if (auto window = shownWindow()) return window;
        sleepSeconds(0.02);
    }
    return std::nullopt;
}

Geometry windowGeometry(WinId window) {
    if (onWayland()) return wayland::geometry(window);
    Geometry g;
    XWindowAttributes a;
    Window child;
    bool known = XGetWindowAttributes(g_display, window, &a) &&
                 XTranslateCoordinates(g_display, window, a.root, 0, 0, &g.x, &g.y, &child);
    if (!known) ADD_FAILURE() << "no window " << window;
    if (known) g.width = a.width, g.height = a.height;
    return g;
}

std::string windowName(WinId window) {
    if (onWayland()) return wayland::name(window);
    char* name = nullptr;
    XFetchName(g_display, window, &name);
    std::string out = name ? name : "";
    XFree(name);
    return out;
}

MapWatch::MapWatch() {
    if (onWayland()) {
        connection = wayland::watchStart();
        return;
    }
    Display* d = XOpenDisplay(nullptr);
    if (!d) ADD_FAILURE() << "cannot open the display";
    if (!d) return;
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);
    connection = d;
}

MapWatch::~MapWatch() {
    if (onWayland())
        wayland::watchStop(connection);
    else if (connection)
        XCloseDisplay(static_cast<Display*>(connection));
}

std::vector<WinId> MapWatch::mapped() {
    if (onWayland()) {
        wayland::watchPoll(connection, *this);
        return seen;
    }
    auto* d = static_cast<Display*>(connection);
    if (!d) return seen;
    Atom state = XInternAtom(d, "_NET_WM_STATE", False);
    Atom full = XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False);
    XSync(d, False);
    while (XPending(d) > 0) {
        XEvent event;
        XNextEvent(d, &event);
        const XCreateWindowEvent& c = event.xcreatewindow;
        const XConfigureEvent& s = event.xconfigure;
        const XClientMessageEvent& m = event.xclient;
        if (event.type == CreateNotify) sizes[c.window] = {c.x, c.y, c.width, c.height};
        if (event.type == ConfigureNotify) sizes[s.window] = {s.x, s.y, s.width, s.height};
        // A request to a window manager: 1 adds the states named in data.l[1] and data.l[2].
        if (event.type == ClientMessage && m.message_type == state && m.data.l[0] == 1 &&
            (Atom(m.data.l[1]) == full || Atom(m.data.l[2]) == full))
            fullScreen.insert(m.window);
        if (event.type != MapNotify) continue;
        seen.push_back(event.xmap.window);
        Atom type;
        int format;
        unsigned long count = 0, after;
        unsigned char* data = nullptr;
        XGetWindowProperty(d, event.xmap.window, state, 0, 64, False, XA_ATOM, &type, &format,
                           &count, &after, &data);
        auto* atoms = reinterpret_cast<Atom*>(data);
        if (data && std::find(atoms, atoms + count, full) != atoms + count)
            fullScreen.insert(event.xmap.window);
        if (data) XFree(data);
    }
    return seen;
}

// ---- Input --------------------------------------------------------------------------------------

void focus(WinId window) {
    if (onWayland()) return wayland::focus(window);
    xdo_focus_window(g_xdo, window);
    xdo_wait_for_window_focus(g_xdo, window, 1);
}

void key(const std::string& keys) {
    if (onWayland()) return wayland::key(keys);
    xdo_send_keysequence_window(g_xdo, CURRENTWINDOW, keys.c_str(), kInputDelay);
    settle();
}

void mouseMove(WinId window, int x, int y) {
    if (onWayland()) return wayland::move(window, x, y);
    Geometry g = windowGeometry(window);
    xdo_move_mouse(g_xdo, g.x + x, g.y + y, 0);
    settle();
}

void drag(WinId window, int button, int x0, int y0, int x1, int y1, int steps, double pause) {
    // SDL measures the first motion it sees from (0, 0): make sure that one is not in the drag.
    mouseMove(window, x0 > 0 ? x0 - 1 : x0 + 1, y0);
    mouseMove(window, x0, y0);
    if (onWayland()) {
        wayland::button(button, true);
    } else {
        xdo_mouse_down(g_xdo, CURRENTWINDOW, button);
        settle();
    }
    sleepSeconds(pause);
    for (int i = 1; i <= steps; ++i) {
        mouseMove(window, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
        sleepSeconds(pause);
    }
    if (onWayland()) return wayland::button(button, false);
    xdo_mouse_up(g_xdo, CURRENTWINDOW, button);
    settle();
}

void click(int button, int count) {
    if (onWayland()) {
        for (int i = 0; i < count; ++i) {
            if (i > 0) usleep(kInputDelay);
            wayland::button(button, true);
            wayland::button(button, false);
        }
        return;
    }
    xdo_click_window_multiple(g_xdo, CURRENTWINDOW, button, count, kInputDelay);
    settle();
}

void requestClose(WinId window) {
    if (onWayland()) return wayland::close(window);
    Atom deleteWindow = XInternAtom(g_display, "WM_DELETE_WINDOW", False);
    // Like a window manager, it sends the message only to a window that takes it.
    Atom* listed = nullptr;
    int count = 0;
    bool takes = XGetWMProtocols(g_display, window, &listed, &count) &&
                 std::find(listed, listed + count, deleteWindow) != listed + count;
    if (listed) XFree(listed);
    if (!takes) ADD_FAILURE() << "window " << window << " does not take WM_DELETE_WINDOW";
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(g_display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(deleteWindow);
    event.xclient.data.l[1] = CurrentTime;
    if (takes) XSendEvent(g_display, window, False, NoEventMask, &event);
    settle();
}

// ---- Screenshots --------------------------------------------------------------------------------

Image screenshot(WinId window) {
    if (onWayland()) return wayland::screenshot(window);
    XWindowAttributes a;
    XImage* x = XGetWindowAttributes(g_display, window, &a)
                    ? XGetImage(g_display, window, 0, 0, a.width, a.height, AllPlanes, ZPixmap)
                    : nullptr;
    if (!x) ADD_FAILURE() << "screenshot of window " << window << " unreadable";
    if (!x) return {};
    Image image{a.width, a.height, std::vector<uint8_t>(3 * std::size_t(a.width) * a.height)};
    // A channel's bits of the pixel, scaled to 0..255.
    auto channel = [](unsigned long pixel, unsigned long mask) {
        unsigned long low = mask & -mask;
        return uint8_t((pixel & mask) / low * 255 / (mask / low));
    };
    uint8_t* out = image.rgb.data();
    for (int j = 0; j < a.height; ++j) {
        for (int i = 0; i < a.width; ++i) {
            unsigned long p = XGetPixel(x, i, j);
            *out++ = channel(p, x->red_mask);
            *out++ = channel(p, x->green_mask);
            *out++ = channel(p, x->blue_mask);
        }
    }
    XDestroyImage(x);
    return image;
}

Image screenshotWhen(WinId window, const std::function<bool(const Image&)>& ready,
                     double timeoutSeconds) {
    auto start = Clock::now();
    Image image = screenshot(window);
    while (!ready(image) && secondsSince(start) < timeoutSeconds) {
        sleepSeconds(0.05);
        image = screenshot(window);
    }
    return image;
}

bool savePng(const Image& image, const std::string& path) {
    return stbi_write_png(path.c_str(), image.width, image.height, 3, image.rgb.data(),
                          3 * image.width) != 0;
}

// ---- Disk audio ---------------------------------------------------------------------------------

Pcm readDiskAudio(const std::string& path) {
    static const int rate = measureDiskRate();
    if (rate == 0) ADD_FAILURE() << "the disk audio device's rate is unknown";
    return decodePcm(readFile(path), rate);
}

double toneLevel(const Pcm& pcm, double hz, double startSecond, double lengthSeconds) {
    auto [first, last] = frameWindow(pcm, startSecond, lengthSeconds);
    if (last == first) return 0;
    double coeff = 2 * std::cos(2 * kPi * hz / pcm.rate), s1 = 0, s2 = 0;
    for (std::size_t i = first; i < last; ++i) {
        double s0 = monoSample(pcm, i) + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / double(last - first);
}

double rmsLevel(const Pcm& pcm, double startSecond, double lengthSeconds) {
    auto [first, last] = frameWindow(pcm, startSecond, lengthSeconds);
    double sum = 0;
    for (std::size_t i = first; i < last; ++i) sum += monoSample(pcm, i) * monoSample(pcm, i);
    return last == first ? 0 : std::sqrt(sum / double(last - first));
}

// ---- For the Wayland display --------------------------------------------------------------------

namespace detail {

pid_t spawnProcess(const std::vector<std::string>& argv, const Env& env, int outFd, int errFd) {
    return spawn(argv, env, "", outFd, errFd);
}

int reapProcess(pid_t pid, double timeoutSeconds) { return reap(pid, timeoutSeconds); }

}  // namespace detail

}  // namespace e2e
