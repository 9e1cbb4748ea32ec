#include "harness.h"

#include "display.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <dlfcn.h>
#include <fcntl.h>
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

using detail::Clock;
using detail::secondsSince;

// The lines each SDL 1.2 runtime writes on standard error itself when its disk audio driver
// opens, in the order of Runtime; %s stands for the file it writes. SDL3 adds the format its
// device writes: the mixer's signed 16-bit stereo, at the device's own 44100 Hz.
const char* const kRuntimeLines[3][2] = {
    {"WARNING: You are using the SDL disk writer audio driver!", " Writing to file [%s]."},
    {"CRITICAL: You are using the SDL disk i/o audio driver!", "CRITICAL:  Writing to file [%s]."},
    {"CRITICAL: You are using the SDL disk i/o audio driver!",
     "CRITICAL:  Writing to file [%s], format=S16LE channels=2 freq=44100."}};

std::string g_tempRoot;  // the run dirs, the program logs and the audio probe's output
int g_runDirCount = 0;
pid_t g_wineServer = -1;

int decodeStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int openFile(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

}  // namespace

namespace detail {

// fork + exec in a process group of its own that dies with the test process, with standard
// output and error to outFd and errFd (-1: /dev/null) and the test's environment less SDL_*,
// plus `env`.
pid_t spawn(std::vector<std::string> argv, const Env& env, int outFd, int errFd,
            const std::string& cwd) {
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

}  // namespace detail

namespace {

using detail::reap;
using detail::spawn;

bool envIs(const char* name, const std::string& value) {
    const char* set = getenv(name);
    return set && set == value;
}

const DisplayServer& display() {
    static const DisplayServer& chosen =
        envIs("TERRALUX_E2E_DISPLAY", "wayland") ? wayland::server : x11::server;
    return chosen;
}

// Wine's settings for every program: no debug output (nor the loader's hint that the 32-bit Wine
// is missing), and a new prefix does not offer to download Mono and Gecko. SDL_mixer takes
// timidity over native MIDI wherever it finds timidity's config; Wine has no MIDI synthesizer, so
// the music plays through timidity with Debian's freepats, whose rooted Unix paths Wine resolves.
// One persistent wineserver serves the suite: without it, a program started within about 3 s of
// the previous one's exit, while that one's server was ending, failed with "SDL_Init: Couldn't
// create window".
void startWine() {
    setenv("WINEDEBUG", "-all", 0);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    setenv("TIMIDITY_CFG", "/etc/timidity/freepats.cfg", 1);
    g_wineServer = spawn({"wineserver", "--foreground", "--persistent"}, {}, -1, -1);
}

// Another server that already served the prefix when the suite began (ours then ended at once)
// serves programs that are not the suite's to end.
void stopWine() {
    if (waitpid(g_wineServer, nullptr, WNOHANG) != 0) return;
    // SIGINT, as `wineserver --kill` sends it: the server ends its programs, then itself (SIGTERM
    // would leave Wine's services running).
    ::kill(g_wineServer, SIGINT);
    if (reap(g_wineServer, 10) == -1) ADD_FAILURE() << "wineserver did not end";
}

// How the programs start: natively, the build's own program or another build of it that
// TERRALUX_BIN names (the sanitized one); with TERRALUX_E2E_LAUNCHER=wine, TERRALUX_BIN names
// terralux.exe in the Windows build's run directory, which holds its DLLs, data and probe, and
// they run under Wine.
struct Launcher {
    std::vector<std::string> command;  // what a program's path and arguments follow
    std::string program, probe, data;  // data: the run dir whose textures/ and audio/ are linked
    void (*start)() = nullptr, (*stop)() = nullptr;  // around the suite
    bool crlf = false;  // its text streams end lines with CR LF, as Windows' C runtime's
};

const Launcher& launcher() {
    static const Launcher chosen = [] {
        const char* bin = getenv("TERRALUX_BIN");
        std::string program = fs::absolute(bin && *bin ? bin : TLX_TERRALUX_BIN);
        if (!underWine()) return Launcher{{}, program, TLX_SDLPROBE_BIN, TLX_BUILD_RUN_DIR};
        if (!bin || !*bin)
            throw std::runtime_error("TERRALUX_E2E_LAUNCHER=wine needs TERRALUX_BIN");
        fs::path dir = fs::path(program).parent_path();
        return Launcher{{"wine"}, program, dir / "tlx_sdlprobe.exe", dir, startWine,
                        stopWine, true};
    }();
    return chosen;
}

pid_t launchProcess(const std::string& path, const std::vector<std::string>& args, const Env& env,
                    const std::string& cwd, int outFd, int errFd) {
    std::vector<std::string> argv = launcher().command;
    argv.push_back(path);
    argv.insert(argv.end(), args.begin(), args.end());
    return spawn(argv, env, outFd, errFd, cwd);
}

// A program's output as text, its line ends as LF.
std::string outputText(const std::string& path) {
    std::string text = readFile(path);
    for (auto at = text.find("\r\n"); launcher().crlf && at != std::string::npos;
         at = text.find("\r\n", at))
        text.erase(at, 1);
    return text;
}

// The probe, run once with "tone" on the disk audio driver: it prints the version of the SDL 1.2
// runtime that the programs run on, and the driver writes the tone (see measureDiskRate).
struct ProbeRun {
    int status = -1;  // raw; -1 when killed at the timeout
    std::string version, raw, err;
};

const ProbeRun& probeRun() {
    static const ProbeRun run = [] {
        if (g_tempRoot.empty()) throw std::logic_error("the SDL runtime is known once tests run");
        ProbeRun r{-1, "", g_tempRoot + "/probe.raw", g_tempRoot + "/probe.err"};
        const std::string out = g_tempRoot + "/probe.out";
        int outFd = openFile(out), errFd = openFile(r.err);
        // The first program in a new Wine prefix waits while Wine makes the prefix.
        r.status =
            reap(launchProcess(launcher().probe, {"tone"}, diskAudio(r.raw), "", outFd, errFd), 60);
        close(outFd);
        close(errFd);
        std::vector<std::string> lines = splitLines(outputText(out));
        if (lines.empty()) throw std::runtime_error(launcher().probe + ": " + readFile(r.err));
        r.version = lines[0];
        return r;
    }();
    return run;
}

std::string sdlVersion() { return probeRun().version; }

// The version that libSDL2-2.0.so.0, which sdl12-compat loads, reports; "" when there is none.
std::string sdl2Version() {
    static const std::string version = [] {
        void* sdl = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        auto get =
            reinterpret_cast<void (*)(uint8_t*)>(sdl ? dlsym(sdl, "SDL_GetVersion") : nullptr);
        uint8_t v[3] = {0, 0, 0};
        if (get) get(v);
        return get ? std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2])
                   : std::string();
    }();
    return version;
}

std::array<int, 3> versionNumbers(const std::string& text) {
    std::array<int, 3> v = {0, 0, 0};
    std::sscanf(text.c_str(), "%d.%d.%d", &v[0], &v[1], &v[2]);
    return v;
}

// The display server, and then Wine's server, whose programs keep the display they started on.
void startServers() {
    display().start(g_tempRoot);
    if (launcher().start) launcher().start();
}

void stopServers() {
    if (launcher().stop) launcher().stop();
    display().stop();
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
        startServers();
        const std::string over = sdlCompat() ? " over SDL " + sdl2Version() : "";
        std::printf("SDL runtime %s%s on %s%s\n", sdlVersion().c_str(), over.c_str(),
                    display().describe().c_str(), underWine() ? ", under Wine" : "");
    }
    void TearDown() override {
        stopServers();
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
        stopServers();
        startServers();
    }
};

[[maybe_unused]] const bool g_displayRestart =
    (::testing::UnitTest::GetInstance()->listeners().Append(new DisplayRestart), true);

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
    const ProbeRun& probe = probeRun();
    if (probe.status == -1 || decodeStatus(probe.status) != 0) {
        ADD_FAILURE() << "the audio probe failed: " << readFile(probe.err);
        return 0;
    }
    Pcm pcm = decodePcm(readFile(probe.raw), 0);
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

bool onWayland() { return &display() == &wayland::server; }
bool underWine() { return envIs("TERRALUX_E2E_LAUNCHER", "wine"); }

void killDisplayServer() {
    g_displayKilled = true;
    display().kill();
}

Geometry screenGeometry() { return display().screen(); }

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
    for (const auto& entry : fs::directory_iterator(fs::path(launcher().data) / sub)) {
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
    auto shown = display().shownWindow;
    for (auto start = Clock::now(); shown() && secondsSince(start) < 5;) sleepSeconds(0.01);
    if (shown()) ADD_FAILURE() << "a terralux window is still shown";
    program.pid = launchProcess(launcher().program, {}, env, dir, outFd, errFd);
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

std::string stdoutText(const Program& program) { return outputText(program.outPath); }
std::string stderrText(const Program& program) { return outputText(program.errPath); }

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
        if (auto window = display().shownWindow()) return window;
        sleepSeconds(0.02);
    }
    return std::nullopt;
}

Geometry windowGeometry(WinId window) { return display().geometry(window); }
std::string windowName(WinId window) { return display().name(window); }

MapWatch::MapWatch() : connection(display().watchStart()) {}

std::vector<WinId> MapWatch::mapped() {
    display().watchPoll(connection.get(), *this);
    return seen;
}

// ---- Input --------------------------------------------------------------------------------------

void focus(WinId window) { display().focus(window); }
void key(const std::string& keys) { display().key(keys); }
void mouseMove(WinId window, int x, int y) { display().move(window, x, y); }

void drag(WinId window, int button, int x0, int y0, int x1, int y1, int steps, double pause) {
    // SDL measures the first motion it sees from (0, 0): make sure that one is not in the drag.
    mouseMove(window, x0 > 0 ? x0 - 1 : x0 + 1, y0);
    mouseMove(window, x0, y0);
    display().button(button, true);
    sleepSeconds(pause);
    for (int i = 1; i <= steps; ++i) {
        mouseMove(window, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
        sleepSeconds(pause);
    }
    display().button(button, false);
}

void click(int button, int count) {
    for (int i = 0; i < count; ++i) {
        if (i > 0) sleepSeconds(detail::kInputDelay);
        display().button(button, true);
        display().button(button, false);
    }
}

void requestClose(WinId window) { display().close(window); }

// ---- Screenshots --------------------------------------------------------------------------------

Image screenshot(WinId window) { return display().screenshot(window); }

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

}  // namespace e2e
