#include "display.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <stb_image.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace e2e::wayland {
namespace {

constexpr int kOutputWidth = detail::kScreenWidth, kOutputHeight = detail::kScreenHeight;
// Sway refuses to run as root; as root, the harness runs it as nobody, as a desktop's compositor
// runs as its user.
constexpr const char* kNobody = "65534";

// sway's IPC: "i3-ipc", the payload's length and the message type (native byte order), the
// payload. Events have the high bit of the type set.
constexpr char kMagic[] = "i3-ipc";
constexpr uint32_t kRunCommand = 0, kSubscribe = 2, kGetOutputs = 3, kGetTree = 4, kGetVersion = 7,
                   kWindowEvent = 0x80000003;

struct State {
    std::string tempRoot, runtimeDir;
    pid_t sway = -1;
    int scale = 1;
    int pixelsPerUnit = 1;  // window pixels in a unit of the layout, one way
    int ipc = -1;
    wl_display* display = nullptr;
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* pointerManager = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboardManager = nullptr;
    zwlr_virtual_pointer_v1* pointer = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    xkb_context* xkb = nullptr;
    xkb_keymap* keymap = nullptr;
    xkb_state* keys = nullptr;
    xkb_mod_mask_t sentMods = 0;
    std::optional<std::pair<double, double>> pointerAt;  // in the layout, once moved
};
State g;

using detail::Clock;
using detail::secondsSince;

uint32_t nowMs() {
    return uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

// ---- sway's IPC ---------------------------------------------------------------------------------

int ipcConnect() {
    for (const auto& entry : fs::directory_iterator(g.runtimeDir)) {
        std::string name = entry.path().filename();
        if (name.rfind("sway-ipc.", 0) != 0) continue;
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", entry.path().c_str());
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
        ::close(fd);
    }
    return -1;
}

bool ipcSend(int fd, uint32_t type, const std::string& payload) {
    std::string message(kMagic, 6);
    uint32_t header[2] = {uint32_t(payload.size()), type};
    message.append(reinterpret_cast<const char*>(header), sizeof header);
    message += payload;
    return write(fd, message.data(), message.size()) == ssize_t(message.size());
}

bool readFully(int fd, char* out, std::size_t size) {
    while (size > 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return false;
        ssize_t n = read(fd, out, size);
        if (n <= 0) return false;
        out += n;
        size -= std::size_t(n);
    }
    return true;
}

// The next message: its type and payload, if one comes within 5 s.
std::optional<std::pair<uint32_t, std::string>> ipcReceive(int fd) {
    char header[14];
    uint32_t size = 0, type = 0;
    if (!readFully(fd, header, sizeof header) || std::memcmp(header, kMagic, 6) != 0)
        return std::nullopt;
    std::memcpy(&size, header + 6, 4);
    std::memcpy(&type, header + 10, 4);
    std::string payload(size, '\0');
    if (!readFully(fd, payload.data(), size)) return std::nullopt;
    return std::make_pair(type, payload);
}

json ipc(uint32_t type, const std::string& payload = "") {
    auto reply = g.ipc >= 0 && ipcSend(g.ipc, type, payload) ? ipcReceive(g.ipc) : std::nullopt;
    if (!reply || reply->first != type) {
        ADD_FAILURE() << "sway did not answer IPC message " << type << " " << payload;
        return json();
    }
    return json::parse(reply->second, nullptr, false);
}

void command(const std::string& text) {
    json reply = ipc(kRunCommand, text);
    if (!reply.is_array() || reply.empty() || !reply[0].value("success", false))
        ADD_FAILURE() << "sway did not carry out: " << text << ": " << reply.dump();
}

std::string text(const json& node, const char* key) {
    auto it = node.find(key);
    return it != node.end() && it->is_string() ? it->get<std::string>() : "";
}

// The views (windows of clients) in a tree, depth first.
void views(const json& node, std::vector<json>& out) {
    if (node.contains("app_id") || node.contains("window")) out.push_back(node);
    for (const char* children : {"nodes", "floating_nodes"})
        if (node.contains(children))
            for (const auto& child : node[children]) views(child, out);
}

std::vector<json> allViews() {
    std::vector<json> out;
    views(ipc(kGetTree), out);
    return out;
}

std::optional<json> view(WinId window) {
    for (auto& v : allViews())
        if (v.value("id", WinId(0)) == window) return v;
    return std::nullopt;
}

// The window's place in the layout, in its units.
Geometry layoutRect(const json& view) {
    const json& r = view["rect"];
    return {r.value("x", 0), r.value("y", 0), r.value("width", 0), r.value("height", 0)};
}

Geometry inPixels(Geometry g_) {
    int p = g.pixelsPerUnit;
    return {g_.x * p, g_.y * p, g_.width * p, g_.height * p};
}

// ---- The compositor -----------------------------------------------------------------------------

std::string socketName() {
    for (const auto& entry : fs::directory_iterator(g.runtimeDir)) {
        std::string name = entry.path().filename();
        if (name.rfind("wayland-", 0) == 0 && name.find('.') == std::string::npos) return name;
    }
    return "";
}

std::string logTail() {
    std::ifstream in(g.tempRoot + "/sway.log");
    std::string text{std::istreambuf_iterator<char>(in), {}};
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

void startCompositor() {
    std::string dir = (fs::temp_directory_path() / "terralux-wayland-XXXXXX").string();
    if (!mkdtemp(dir.data())) throw std::runtime_error("no runtime directory");
    g.runtimeDir = dir;
    bool root = geteuid() == 0;
    if (root && chown(dir.c_str(), 65534, 65534) != 0)
        throw std::runtime_error("cannot hand the runtime directory to nobody");
    // The output's mode is in its pixels: the layout keeps its size at any scale. Floating
    // windows keep the size their program gives them, centred on the output, as on a desktop
    // that does not tile; no borders, no bar, no X server.
    std::ofstream config(dir + "/config");
    config << "xwayland disable\n"
           << "output * mode " << kOutputWidth * g.scale << "x" << kOutputHeight * g.scale
           << " scale " << g.scale << "\n"
           << "default_border none\ndefault_floating_border none\n"
           << "for_window [app_id=\".*\"] floating enable\n";
    config.close();
    std::vector<std::string> argv = {"sway", "-c", dir + "/config"};
    if (root)
        // The new user clears the signal that ends it with the test; it is set again.
        argv.insert(argv.begin(),
                    {"setpriv", std::string("--reuid=") + kNobody,
                     std::string("--regid=") + kNobody, "--clear-groups", "--pdeathsig=keep"});
    int logFd =
        open((g.tempRoot + "/sway.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    g.sway = detail::spawn(argv,
                           {{"XDG_RUNTIME_DIR", dir},
                            {"HOME", dir},
                            {"WLR_BACKENDS", "headless"},
                            {"WLR_RENDERER", "pixman"},
                            {"WLR_LIBINPUT_NO_DEVICES", "1"}},
                           logFd, logFd);
    ::close(logFd);

    // Ready once both sockets take clients and the output is on at its scale.
    auto start = Clock::now();
    for (bool ready = false; !ready; sleepSeconds(0.02)) {
        if (waitpid(g.sway, nullptr, WNOHANG) == g.sway) {
            g.sway = -1;
            throw std::runtime_error("sway ended at start-up:\n" + logTail());
        }
        if (secondsSince(start) > 20) throw std::runtime_error("sway did not start:\n" + logTail());
        if (g.ipc < 0) g.ipc = ipcConnect();
        if (g.ipc < 0 || socketName().empty()) continue;
        for (const auto& output : ipc(kGetOutputs))
            ready =
                ready || (output.value("active", false) && output.value("scale", 0.0) == g.scale);
    }
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("WAYLAND_DISPLAY", socketName().c_str(), 1);
}

// ---- Input devices ------------------------------------------------------------------------------

void global(void*, wl_registry* registry, uint32_t id, const char* interface, uint32_t) {
    auto is = [&](const wl_interface& i) { return std::strcmp(interface, i.name) == 0; };
    if (is(wl_seat_interface) && !g.seat)
        g.seat = static_cast<wl_seat*>(wl_registry_bind(registry, id, &wl_seat_interface, 1));
    if (is(zwlr_virtual_pointer_manager_v1_interface))
        g.pointerManager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, id, &zwlr_virtual_pointer_manager_v1_interface, 1));
    if (is(zwp_virtual_keyboard_manager_v1_interface))
        g.keyboardManager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, id, &zwp_virtual_keyboard_manager_v1_interface, 1));
}

void globalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {global, globalRemove};

// The compositor has handled every request sent, and sent the programs the events they make.
void roundtrip() {
    if (wl_display_roundtrip(g.display) < 0) ADD_FAILURE() << "the Wayland connection broke";
}

void startInput() {
    g.display = wl_display_connect(nullptr);
    if (!g.display) throw std::runtime_error("cannot connect to sway's Wayland socket");
    wl_registry* registry = wl_display_get_registry(g.display);
    wl_registry_add_listener(registry, &kRegistryListener, nullptr);
    wl_display_roundtrip(g.display);
    if (!g.seat || !g.pointerManager || !g.keyboardManager)
        throw std::runtime_error("sway offers no seat or no virtual pointer or keyboard");
    g.pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.pointerManager, g.seat);
    g.keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(g.keyboardManager, g.seat);

    // A keyboard sends its keymap before its first key: the "us" layout, as text in a file.
    g.xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    g.keymap = xkb_keymap_new_from_names(g.xkb, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!g.keymap) throw std::runtime_error("cannot compile the us keymap");
    g.keys = xkb_state_new(g.keymap);
    char* text = xkb_keymap_get_as_string(g.keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    std::size_t size = std::strlen(text) + 1;
    int fd = memfd_create("keymap", MFD_CLOEXEC);
    bool written = fd >= 0 && write(fd, text, size) == ssize_t(size);
    std::free(text);
    if (!written) throw std::runtime_error("cannot write the keymap");
    zwp_virtual_keyboard_v1_keymap(g.keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   uint32_t(size));
    ::close(fd);  // sent as a copy
    g.sentMods = 0;
    roundtrip();
}

// ---- Keys ---------------------------------------------------------------------------------------

struct Stroke {
    xkb_keycode_t code = 0;
    xkb_mod_mask_t mods = 0;  // what the level with the key's symbol needs
};

// The key that gives the keysym, preferring a key's first level: "KP_1" is the keypad's 1 key
// with NumLock, "Q" the q key with Shift.
std::optional<Stroke> strokeFor(xkb_keysym_t sym) {
    xkb_keycode_t min = xkb_keymap_min_keycode(g.keymap), max = xkb_keymap_max_keycode(g.keymap);
    for (xkb_level_index_t level = 0; level < 4; ++level) {
        for (xkb_keycode_t code = min; code <= max; ++code) {
            if (level >= xkb_keymap_num_levels_for_key(g.keymap, code, 0)) continue;
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(g.keymap, code, 0, level, &syms) != 1 ||
                syms[0] != sym)
                continue;
            xkb_mod_mask_t masks[4] = {0, 0, 0, 0};
            xkb_keymap_key_get_mods_for_level(g.keymap, code, 0, level, masks, 4);
            return Stroke{code, masks[0]};
        }
    }
    return std::nullopt;
}

// The virtual keyboard's modifiers are the client's to send: those of the keys held, plus any
// that a key's level needs while it is pressed.
void sendModifiers(xkb_mod_mask_t extra) {
    xkb_mod_mask_t depressed = xkb_state_serialize_mods(g.keys, XKB_STATE_MODS_DEPRESSED) | extra;
    if (depressed == g.sentMods) return;
    zwp_virtual_keyboard_v1_modifiers(g.keyboard, depressed, 0, 0, 0);
    g.sentMods = depressed;
}

void sendKey(const Stroke& s, bool pressed) {
    if (pressed) sendModifiers(s.mods);
    zwp_virtual_keyboard_v1_key(
        g.keyboard, nowMs(), s.code - 8,  // evdev code
        pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    xkb_state_update_key(g.keys, s.code, pressed ? XKB_KEY_DOWN : XKB_KEY_UP);
    sendModifiers(pressed ? s.mods : 0);
    roundtrip();
}

// ---- The pointer and screenshots ----------------------------------------------------------------

// Half a pixel of the output: the resolution of the pointer's absolute positions.
int subunits() { return 2 * g.scale; }

void moveTo(double layoutX, double layoutY) {
    zwlr_virtual_pointer_v1_motion_absolute(
        g.pointer, nowMs(), uint32_t(std::lround(layoutX * subunits())),
        uint32_t(std::lround(layoutY * subunits())), uint32_t(kOutputWidth * subunits()),
        uint32_t(kOutputHeight * subunits()));
    zwlr_virtual_pointer_v1_frame(g.pointer);
    roundtrip();
    g.pointerAt = std::make_pair(layoutX, layoutY);
}

// The picture grim wrote.
Image readImage(const std::string& path) {
    int width = 0, height = 0, channels = 0;
    uint8_t* data = stbi_load(path.c_str(), &width, &height, &channels, 3);
    if (!data) return {};
    Image image{width, height, std::vector<uint8_t>(data, data + 3 * std::size_t(width) * height)};
    stbi_image_free(data);
    return image;
}

// A probe program on the SDL runtime in use opens a 320x240 window; the layout units it covers
// give the window pixels in a unit. The runtimes differ at output scale 2:
// - sdl12-compat over SDL2 (1.2.60 over 2.26 on Debian 12, 1.2.68 over 2.32 on Debian 13) makes
//   the window as many units as it has pixels and draws it at buffer scale 1: the compositor
//   shows each pixel as a 2x2 block of the output's, crisp.
// - sdl12-compat 1.2.78 over sdl2-compat over SDL3 (Debian 14) makes a window of 800x600 pixels
//   400x300 units and draws it at buffer scale 2, a pixel for each of the output's; the pointer's
//   position reaches the program in pixels, twice its position in units.
// At scale 1 a unit is a pixel on all of them.
int measurePixelsPerUnit() {
    std::string err = g.tempRoot + "/window-probe.err";
    int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_t probe = detail::spawn({TLX_SDLPROBE_BIN, "window"}, {}, -1, errFd);
    ::close(errFd);
    int width = 0;
    for (auto start = Clock::now(); width == 0 && secondsSince(start) < 15; sleepSeconds(0.02)) {
        if (waitpid(probe, nullptr, WNOHANG) == probe) break;
        for (auto& v : allViews())
            if (text(v, "name") == "terralux probe" && v.value("visible", false))
                width = layoutRect(v).width;
    }
    detail::reap(probe, 0);
    if (width != 320 && width * g.scale != 320)
        throw std::runtime_error("the probe's window, 320 pixels wide, took " +
                                 std::to_string(width) + " units; stderr:\n" + readFile(err));
    return 320 / width;
}

void start(const std::string& tempRoot) {
    g.tempRoot = tempRoot;
    const char* scale = getenv("TERRALUX_E2E_SCALE");
    g.scale = scale && *scale ? std::atoi(scale) : 1;
    if (g.scale < 1) throw std::runtime_error("TERRALUX_E2E_SCALE is not a whole number from 1");
    // Programs find this compositor alone, and draw in software, as under Xvfb: the machine may
    // have no GPU. Without this, Mesa's EGL on Debian 14 looks for one first and says so on
    // standard error ("libEGL warning: failed to get driver name for fd -1", four lines more).
    unsetenv("DISPLAY");
    unsetenv("SWAYSOCK");
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    startCompositor();
    startInput();
    g.pixelsPerUnit = measurePixelsPerUnit();
}

void stop() {
    if (g.display) wl_display_disconnect(g.display);
    if (g.keys) xkb_state_unref(g.keys);
    if (g.keymap) xkb_keymap_unref(g.keymap);
    if (g.xkb) xkb_context_unref(g.xkb);
    if (g.ipc >= 0) ::close(g.ipc);
    if (g.sway > 0) {
        ::kill(g.sway, SIGTERM);
        if (detail::reap(g.sway, 5) == -1) ADD_FAILURE() << "sway did not end on SIGTERM";
    }
    std::error_code ec;
    if (!g.runtimeDir.empty()) fs::remove_all(g.runtimeDir, ec);
    State fresh;  // for the same test executable and scale
    fresh.tempRoot = g.tempRoot, fresh.scale = g.scale;
    g = fresh;
}

void kill() {
    if (g.sway <= 0) return;
    ::kill(g.sway, SIGKILL);
    detail::reap(g.sway, 5);
    g.sway = -1;
}

std::string describe() {
    json version = ipc(kGetVersion);
    return "Wayland (sway " + version.value("human_readable", std::string("?")) + "), scale " +
           std::to_string(g.scale) + ", " + std::to_string(g.pixelsPerUnit) +
           " window pixel(s) a unit";
}

std::optional<WinId> shownWindow() {
    for (auto& v : allViews())
        if (text(v, "name") == "terralux" && v.value("visible", false))
            return v.value("id", WinId(0));
    return std::nullopt;
}

Geometry geometry(WinId window) {
    auto v = view(window);
    if (!v) ADD_FAILURE() << "no window " << window;
    return v ? inPixels(layoutRect(*v)) : Geometry{};
}

std::string name(WinId window) {
    auto v = view(window);
    return v ? text(*v, "name") : "";
}

Geometry screen() { return inPixels({0, 0, kOutputWidth, kOutputHeight}); }

void focus(WinId window) {
    command("[con_id=" + std::to_string(window) + "] focus");
    for (auto start = Clock::now(); secondsSince(start) < 1; sleepSeconds(0.01)) {
        auto v = view(window);
        if (!v || v->value("focused", false)) return;
    }
}

void key(const std::string& keys) {
    // xdotool's syntax: names of keysyms joined by "+", pressed in order, released in reverse.
    std::vector<Stroke> strokes;
    std::istringstream in(keys);
    for (std::string part; std::getline(in, part, '+');) {
        static const std::map<std::string, std::string> aliases = {
            {"shift", "Shift_L"}, {"ctrl", "Control_L"}, {"alt", "Alt_L"}, {"super", "Super_L"}};
        auto alias = aliases.find(part);
        xkb_keysym_t sym = xkb_keysym_from_name(
            (alias != aliases.end() ? alias->second : part).c_str(), XKB_KEYSYM_NO_FLAGS);
        auto stroke = sym == XKB_KEY_NoSymbol ? std::nullopt : strokeFor(sym);
        if (!stroke) ADD_FAILURE() << "no key gives " << part;
        if (stroke) strokes.push_back(*stroke);
    }
    for (const auto& s : strokes) sendKey(s, true);
    sleepSeconds(0.01);
    for (auto s = strokes.rbegin(); s != strokes.rend(); ++s) sendKey(*s, false);
    sleepSeconds(0.01);
}

void move(WinId window, int x, int y) {
    auto v = view(window);
    if (!v) ADD_FAILURE() << "no window " << window;
    if (!v) return;
    // The middle of the window's pixel (x, y), in the layout.
    Geometry r = layoutRect(*v);
    moveTo(r.x + (x + 0.5) / g.pixelsPerUnit, r.y + (y + 0.5) / g.pixelsPerUnit);
}

void button(int button, bool pressed) {
    if (button == 4 || button == 5) {
        // One notch of a wheel: a discrete step, 15 units of scrolling; negative is up.
        if (!pressed) return;
        int notch = button == 4 ? -1 : 1;
        zwlr_virtual_pointer_v1_axis_source(g.pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
        zwlr_virtual_pointer_v1_axis_discrete(g.pointer, nowMs(), WL_POINTER_AXIS_VERTICAL_SCROLL,
                                              wl_fixed_from_int(15 * notch), notch);
    } else {
        const uint32_t codes[] = {BTN_LEFT, BTN_MIDDLE, BTN_RIGHT};
        if (button < 1 || button > 3) ADD_FAILURE() << "no button " << button;
        if (button < 1 || button > 3) return;
        zwlr_virtual_pointer_v1_button(
            g.pointer, nowMs(), codes[button - 1],
            pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    }
    zwlr_virtual_pointer_v1_frame(g.pointer);
    roundtrip();
}

void close(WinId window) {
    // xdg_toplevel's close event, as a desktop's close button sends it.
    command("[con_id=" + std::to_string(window) + "] kill");
}

Image screenshot(WinId window) {
    auto v = view(window);
    if (!v) ADD_FAILURE() << "no window " << window << " to take a screenshot of";
    if (!v) return {};
    Geometry r = layoutRect(*v);
    std::string path = g.tempRoot + "/grim.ppm";
    std::string region = std::to_string(r.x) + "," + std::to_string(r.y) + " " +
                         std::to_string(r.width) + "x" + std::to_string(r.height);
    // The compositor draws the pointer into the picture that grim copies: it is moved to the
    // output's far corner for the shot, away from any window that does not cover the output, and
    // back again.
    auto pointerAt = g.pointerAt;
    moveTo(kOutputWidth - 1.0 / subunits(), kOutputHeight - 1.0 / subunits());
    int status =
        detail::reap(detail::spawn({"grim", "-t", "ppm", "-g", region, path}, {}, -1, -1), 10);
    if (pointerAt) moveTo(pointerAt->first, pointerAt->second);
    Image shot = readImage(path);
    if (status != 0 || shot.width != r.width * g.scale || shot.height != r.height * g.scale) {
        ADD_FAILURE() << "grim gave no " << region << " screenshot at scale " << g.scale;
        return {};
    }
    // grim gives the output's pixels. Where a window pixel covers several, they must be one
    // colour: the compositor shows the window crisp, and one of them stands for it. In full
    // screen the compositor scales the program's picture to the output, by any factor.
    int f = g.scale / g.pixelsPerUnit;
    if (f == 1) return shot;
    bool scaled = v->value("fullscreen_mode", 0) != 0;
    Image image{shot.width / f, shot.height / f,
                std::vector<uint8_t>(3 * std::size_t(shot.width / f) * (shot.height / f))};
    long blurred = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            Rgb p = shot.at(x * f, y * f);
            for (int j = 0; j < f; ++j)
                for (int i = 0; i < f; ++i) blurred += !(shot.at(x * f + i, y * f + j) == p);
            uint8_t* out = &image.rgb[3 * (std::size_t(y) * image.width + x)];
            out[0] = p.r, out[1] = p.g, out[2] = p.b;
        }
    }
    if (blurred > 0 && !scaled)
        ADD_FAILURE() << blurred << " output pixels differ from the window pixel they show";
    return image;
}

// ---- The record of windows shown ----------------------------------------------------------------

std::shared_ptr<void> watchStart() {
    int fd = ipcConnect();
    std::shared_ptr<void> watch(new int(fd), [](void* fd) {
        if (*static_cast<int*>(fd) >= 0) ::close(*static_cast<int*>(fd));
        delete static_cast<int*>(fd);
    });
    auto reply = fd >= 0 && ipcSend(fd, kSubscribe, "[\"window\"]") ? ipcReceive(fd) : std::nullopt;
    if (reply && reply->first == kSubscribe) return watch;
    ADD_FAILURE() << "cannot subscribe to sway's window events";
    return nullptr;
}

void watchPoll(void* watch, MapWatch& record) {
    if (!watch) return;
    int fd = *static_cast<int*>(watch);
    auto note = [&](const json& view, bool mapped) {
        WinId id = view.value("id", WinId(0));
        if (mapped && std::find(record.seen.begin(), record.seen.end(), id) == record.seen.end())
            record.seen.push_back(id);
        if (std::find(record.seen.begin(), record.seen.end(), id) == record.seen.end()) return;
        record.sizes[id] = inPixels(layoutRect(view));
        if (view.value("fullscreen_mode", 0) != 0) record.fullScreen.insert(id);
    };
    // Events come in the order sway made them; the answer to a request sent now comes after
    // every event made before it.
    if (!ipcSend(fd, kGetVersion, "")) return;
    for (;;) {
        auto message = ipcReceive(fd);
        if (!message) ADD_FAILURE() << "sway's window events stopped";
        if (!message || message->first == kGetVersion) break;
        if (message->first != kWindowEvent) continue;
        json event = json::parse(message->second, nullptr, false);
        if (event.is_object() && event.contains("container"))
            note(event["container"], event.value("change", "") == "new");
    }
    // The tree has the latest size and state of each window that is still there.
    for (auto& v : allViews()) note(v, false);
}

}  // namespace

const DisplayServer server = {start, stop,       kill,       describe, shownWindow, geometry,
                              name,  screen,     focus,      key,      move,        button,
                              close, screenshot, watchStart, watchPoll};

}  // namespace e2e::wayland
