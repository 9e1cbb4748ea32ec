// The harness's Wayland display, used in place of Xvfb when TERRALUX_E2E_DISPLAY is "wayland":
// a headless sway compositor (one per test executable) whose output is kScreenWidth x kScreenHeight
// units of the layout at the scale TERRALUX_E2E_SCALE gives (1 when unset). Windows are found,
// focused and closed through sway's IPC socket; input comes from one virtual pointer and one
// virtual keyboard that live as long as the compositor; screenshots are grim's.
//
// Positions and sizes that the harness gives the tests are in the window's own pixels, as the
// program sees them. How many of those a unit of the layout holds depends on the runtime (see
// wayland.cpp) and is measured once with a probe window.
#pragma once

#include "harness.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace e2e {
namespace detail {
// The display's size: Xvfb's screen in pixels, the compositor's output in units of its layout.
constexpr int kScreenWidth = 1024, kScreenHeight = 768;

// From harness.cpp:
// fork + exec as the harness starts every process (see there); -1 for outFd or errFd: /dev/null.
pid_t spawnProcess(const std::vector<std::string>& argv, const Env& env, int outFd, int errFd);
int reapProcess(pid_t pid, double timeoutSeconds);  // the raw status; -1 when killed at timeout
}  // namespace detail

namespace wayland {

bool selected();  // TERRALUX_E2E_DISPLAY is "wayland"
// Starts the compositor and the input devices, and sets the environment that the programs started
// afterwards find it by (WAYLAND_DISPLAY, XDG_RUNTIME_DIR; no DISPLAY).
void start(const std::string& tempRoot);
void stop();  // ends the compositor and everything of the harness's on it
void kill();  // kills the compositor at once, as a crash would

std::optional<WinId> shownWindow();  // a visible window named "terralux"
Geometry geometry(WinId window);
std::string name(WinId window);
Geometry screen();
std::string describe();  // for the log: compositor, scale, pixels per unit

void focus(WinId window);
void key(const std::string& keys);
void move(WinId window, int x, int y);
void button(int button, bool pressed);  // X numbering: 1 left, 2 middle, 3 right, 4/5 wheel
void close(WinId window);
Image screenshot(WinId window);

// MapWatch's record, from sway's window events and its tree.
void* watchStart();
void watchStop(void* watch);
void watchPoll(void* watch, MapWatch& record);

}  // namespace wayland
}  // namespace e2e
