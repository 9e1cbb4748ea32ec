#include "platform.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

const char* const EARTH_TEXTURE = ".\\textures\\earth.tga";
const char* const STARS_TEXTURE = ".\\textures\\stars.tga";

namespace {

bool hasHandle(DWORD stream) {
    const HANDLE handle = GetStdHandle(stream);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

// A program of the GUI subsystem gets standard streams only when its parent hands it some: a
// redirection to a file or a pipe. Started from a console window without one, it writes its
// lines to that console.
void platform_start() {
    const bool out = hasHandle(STD_OUTPUT_HANDLE), err = hasHandle(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!out) std::freopen("CONOUT$", "w", stdout);
    if (!err) std::freopen("CONOUT$", "w", stderr);
}

void platform_at_exit() {}

void platform_exit_asked() {}

// Windows tells a lost display apart from a quit on its own: every quit event is the user's.
bool platform_display_lost() { return false; }

// wglGetProcAddress gives null for a function the current context does not offer; some drivers
// give 1, 2, 3 or -1 instead.
void* platform_gl_proc(const char* name) {
    const intptr_t proc = reinterpret_cast<intptr_t>(wglGetProcAddress(name));
    return proc == 0 || proc == 1 || proc == 2 || proc == 3 || proc == -1
               ? nullptr
               : reinterpret_cast<void*>(proc);
}

void platform_large_buffer(void*, std::size_t) {}
