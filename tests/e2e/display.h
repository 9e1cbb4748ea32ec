// The harness's seam for the display server the programs run on, chosen once at start-up: Xvfb
// with input through libxdo and screenshots with XGetImage (x11.cpp), or with
// TERRALUX_E2E_DISPLAY=wayland a headless sway compositor with the program on SDL's Wayland driver
// (wayland.cpp). Each serves one test executable. Positions and sizes are in the window's own
// pixels, as the program sees them.
#pragma once

#include "harness.h"

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace e2e {
namespace detail {
// The display's size: Xvfb's screen in pixels, the compositor's output in units of its layout.
constexpr int kScreenWidth = 1024, kScreenHeight = 768;
constexpr double kInputDelay = 0.01;  // seconds between keys and between clicks

using Clock = std::chrono::steady_clock;
inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// From harness.cpp:
// fork + exec as the harness starts every process (see there); -1 for outFd or errFd: /dev/null.
pid_t spawn(std::vector<std::string> argv, const Env& env, int outFd, int errFd,
            const std::string& cwd = "");
int reap(pid_t pid, double timeoutSeconds);  // the raw status; -1 when killed at timeout
}  // namespace detail

struct DisplayServer {
    // Starts the server and sets the environment that the programs started afterwards find it by.
    void (*start)(const std::string& tempRoot);
    void (*stop)();             // ends the server and everything of the harness's on it
    void (*kill)();             // kills the server at once, as a crash would; stop still follows
    std::string (*describe)();  // for the log
    std::optional<WinId> (*shownWindow)();  // a viewable top-level window named "terralux"
    Geometry (*geometry)(WinId window);
    std::string (*name)(WinId window);
    Geometry (*screen)();
    void (*focus)(WinId window);
    void (*key)(const std::string& keys);
    void (*move)(WinId window, int x, int y);
    void (*button)(int button, bool pressed);  // X numbering: 1 left, 2 middle, 3 right, 4/5 wheel
    void (*close)(WinId window);
    Image (*screenshot)(WinId window);
    // MapWatch's record: a connection of its own, closed with the last copy, and what has come
    // on it.
    std::shared_ptr<void> (*watchStart)();
    void (*watchPoll)(void* watch, MapWatch& record);
};

namespace x11 {
extern const DisplayServer server;
}
namespace wayland {
extern const DisplayServer server;
}

}  // namespace e2e
