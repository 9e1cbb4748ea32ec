#include "platform.h"

#include <SDL.h>
#include <dlfcn.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

const char* const EARTH_TEXTURE = "textures/earth.tga";
const char* const STARS_TEXTURE = "textures/stars.tga";

namespace {

// Set just before the program itself calls exit.
std::atomic<bool> exitAsked{false};

// The first exit handler to run. An exit the program did not ask for comes from a library that
// lost the display: Xlib's I/O error handler prints its line and calls exit(1). SDL_Quit would
// then wait for an answer on the dead connection, so the process ends here, with status 1.
void endUnaskedExit() {
    if (exitAsked) return;
    std::fflush(nullptr);
    _exit(1);
}

// The socket of the Wayland compositor named by WAYLAND_DISPLAY (a name in XDG_RUNTIME_DIR, or a
// path), when SDL draws through Wayland; empty otherwise or when it cannot be told.
std::string waylandSocket() {
    char driver[32];
    const char* name = getenv("WAYLAND_DISPLAY");
    if (SDL_VideoDriverName(driver, sizeof driver) == nullptr ||
        std::strcmp(driver, "wayland") != 0 || name == nullptr || *name == '\0')
        return "";
    if (*name == '/') return name;
    const char* dir = getenv("XDG_RUNTIME_DIR");
    return dir ? std::string(dir) + "/" + name : "";
}

// SDL reports a Wayland connection that the compositor closed only as a quit event. A compositor
// that still runs answers a new client's wl_display.sync: a message to object 1 (the display)
// with opcode 0 and the id of a new callback object, 2; a header word holds the object, the next
// the message's size in bytes (high 16 bits) and its opcode, in the machine's byte order. One
// that is going away refuses the connection, or closes it unanswered, even when its socket still
// took it.
bool waylandLost(const std::string& path) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const uint32_t sync[] = {1, (12u << 16) | 0, 2};
    bool lost = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                send(fd, sync, sizeof sync, MSG_NOSIGNAL) != ssize_t(sizeof sync);
    pollfd reply = {fd, POLLIN, 0};
    char answer[64];
    // No answer within a second: a compositor too busy to answer, but there.
    if (!lost && poll(&reply, 1, 1000) == 1) lost = recv(fd, answer, sizeof answer, 0) <= 0;
    close(fd);
    return lost;
}

}  // namespace

// sdl12-compat draws an OpenGL program into a framebuffer of its own and copies that to the
// window at each buffer swap. On Mesa's software renderer (llvmpipe) the copy frees the fence of
// a drawing that a drawing thread is still unlocking, which corrupts the heap. Drawing straight
// to the window, as classic SDL 1.2 does, avoids it; a user's own setting stays.
void platform_start() { setenv("SDL12COMPAT_OPENGL_SCALING", "0", 0); }

void platform_at_exit() { atexit(endUnaskedExit); }

void platform_exit_asked() { exitAsked = true; }

bool platform_display_lost() {
    const std::string socket = waylandSocket();
    if (!waylandLost(socket)) return false;
    std::cerr << "Wayland connection to " << socket << " lost" << std::endl;
    return true;
}

// Under GLX and EGL a lookup by name yields an entry point even for functions the context does
// not offer: callers check the extension string first.
void* platform_gl_proc(const char* name) { return dlsym(RTLD_DEFAULT, name); }

// A fresh 32 MB block otherwise takes thousands of page faults as it is first written; only
// whole 2 MB pages inside the buffer are advised.
void platform_large_buffer(void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    const uintptr_t huge = uintptr_t(2) << 20;
    if (data == nullptr || bytes < 4 * huge) return;
    const uintptr_t first = (uintptr_t(data) + huge - 1) & ~(huge - 1);
    const uintptr_t last = (uintptr_t(data) + bytes) & ~(huge - 1);
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}
