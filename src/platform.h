// What differs between the systems terralux runs on: platform_posix.cpp serves Linux and other
// Unix systems, platform_windows.cpp Windows. The build compiles one of them.
#ifndef TERRALUX_PLATFORM_H
#define TERRALUX_PLATFORM_H

#include <cstddef>

// The texture files, relative to the working directory, in the system's own notation.
extern const char* const EARTH_TEXTURE;
extern const char* const STARS_TEXTURE;

// Before SDL starts: the settings its runtime takes from the environment, and the standard
// streams.
void platform_start();
// Right after SDL_Quit has been registered as an exit handler.
void platform_at_exit();
// Called just before the program itself calls exit.
void platform_exit_asked();
// On a quit event: whether the display went away, rather than the user quitting. When it did,
// the line that says so has been written on standard error.
bool platform_display_lost();

// The entry point of a GL function in the current context, or null when the context does not
// offer it.
void* platform_gl_proc(const char* name);
// A hint that a large buffer about to be written once is better served by large pages.
void platform_large_buffer(void* data, std::size_t bytes);

#endif
