// An OpenGL context without a window or a display server, for the unit tests that draw: desktop
// OpenGL (compatibility profile) through EGL on Mesa's surfaceless platform, drawing into an
// RGBA pbuffer with a 16-bit depth buffer, on Mesa's software rasterizer. The GL calls go
// through glvnd's libGL, as the program's do; EGL makes the context current for it.
// A test program includes this header once.
#pragma once

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

class OffscreenGl {
public:
    OffscreenGl() = default;
    OffscreenGl(const OffscreenGl&) = delete;
    OffscreenGl& operator=(const OffscreenGl&) = delete;
    ~OffscreenGl() { close(); }

    // Makes a width x height context current on this thread. Returns "" or what failed.
    std::string open(int width, int height) {
        // The same rasterizer whatever GPU the machine has, so that results do not vary.
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
        display_ =
            eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr))
            return failed("eglInitialize on the surfaceless platform");
        // Attribute and value pairs: a pbuffer, desktop OpenGL, RGBA of 8 bits each, depth 16.
        const EGLint config[][2] = {{EGL_SURFACE_TYPE, EGL_PBUFFER_BIT},
                                    {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT},
                                    {EGL_RED_SIZE, 8},
                                    {EGL_GREEN_SIZE, 8},
                                    {EGL_BLUE_SIZE, 8},
                                    {EGL_ALPHA_SIZE, 8},
                                    {EGL_DEPTH_SIZE, 16},
                                    {EGL_NONE, EGL_NONE}};
        EGLConfig chosen;
        EGLint count = 0;
        if (!eglChooseConfig(display_, config[0], &chosen, 1, &count) || count < 1)
            return failed("eglChooseConfig (RGBA8, depth 16, pbuffer, OpenGL)");
        const EGLint size[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
        surface_ = eglCreatePbufferSurface(display_, chosen, size);
        if (surface_ == EGL_NO_SURFACE) return failed("eglCreatePbufferSurface");
        if (!eglBindAPI(EGL_OPENGL_API)) return failed("eglBindAPI(EGL_OPENGL_API)");
        context_ = eglCreateContext(display_, chosen, EGL_NO_CONTEXT, nullptr);
        if (context_ == EGL_NO_CONTEXT) return failed("eglCreateContext");
        if (!eglMakeCurrent(display_, surface_, surface_, context_))
            return failed("eglMakeCurrent");
        return "";
    }

    // The display stays initialized: eglTerminate would unload Mesa's driver, and LeakSanitizer
    // could then neither see what the driver still holds nor say whose blocks they were.
    void close() {
        if (display_ == EGL_NO_DISPLAY) return;
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
        if (surface_ != EGL_NO_SURFACE) eglDestroySurface(display_, surface_);
        display_ = EGL_NO_DISPLAY;
        context_ = EGL_NO_CONTEXT;
        surface_ = EGL_NO_SURFACE;
    }

private:
    std::string failed(const char* step) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04x", unsigned(eglGetError()));
        return std::string(step) + " failed, EGL error " + code;
    }

    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLSurface surface_ = EGL_NO_SURFACE;
    EGLContext context_ = EGL_NO_CONTEXT;
};

// Mesa keeps blocks of its own until exit: its EGL library the display, its driver some from
// contexts already destroyed. Only a sanitizer build asks for this list. The driver is
// swrast_dri.so in Mesa 22, libgallium in later releases.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libEGL_mesa.so\nleak:swrast_dri.so\nleak:libgallium\n";
}
