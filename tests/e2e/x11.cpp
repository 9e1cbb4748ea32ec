// The harness's X11 display: one Xvfb server, input through libxdo (XTEST), screenshots with
// XGetImage.
#include "display.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
extern "C" {
#include <xdo.h>
}
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace e2e::x11 {
namespace {

pid_t g_xvfb = -1;
Display* g_display = nullptr;
xdo_t* g_xdo = nullptr;

// Once this returns, the server has carried out every request sent: the pointer is where it was
// sent, and the events are on their way to the program.
void settle() { XSync(g_display, False); }

// DISPLAY names the server for the programs started.
void start(const std::string& tempRoot) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    int logFd =
        open((tempRoot + "/xvfb.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    std::string screen =
        std::to_string(detail::kScreenWidth) + "x" + std::to_string(detail::kScreenHeight) + "x24";
    g_xvfb = detail::spawn({"Xvfb", "-displayfd", "1", "-noreset", "-screen", "0", screen}, {},
                           fds[1], logFd);
    ::close(fds[1]);
    ::close(logFd);
    // Xvfb writes the display number and a line end once it takes clients.
    std::string display = ":";
    char c;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 20000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') display += c;
    ::close(fds[0]);
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");  // SDL would take a desktop's Wayland over DISPLAY
    g_display = XOpenDisplay(display.c_str());
    if (!g_display) throw std::runtime_error("Xvfb did not start");
    // Windows vanish when their program ends; a request about one then just fails.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    g_xdo = xdo_new_with_opened_display(g_display, display.c_str(), 0);
}

// Ends Xvfb with the signal. After SIGKILL the connection is left unclosed: closing it would
// write to the dead server, and Xlib ends the process on that.
void end(int signal) {
    if (g_xdo) xdo_free(g_xdo);
    if (g_display && signal != SIGKILL) XCloseDisplay(g_display);
    if (g_xvfb > 0 && ::kill(g_xvfb, signal) == 0) detail::reap(g_xvfb, 5);
    g_xdo = nullptr;
    g_display = nullptr;
    g_xvfb = -1;
}

void stop() { end(SIGTERM); }
void kill() { end(SIGKILL); }

std::string describe() { return getenv("DISPLAY"); }

std::string name(WinId window) {
    char* name = nullptr;
    XFetchName(g_display, window, &name);
    std::string out = name ? name : "";
    XFree(name);
    return out;
}

std::optional<WinId> shownWindow() {
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    XQueryTree(g_display, DefaultRootWindow(g_display), &root, &parent, &children, &count);
    std::optional<WinId> found;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(g_display, children[i], &a) && a.map_state == IsViewable &&
            name(children[i]) == "terralux")
            found = children[i];
    }
    if (children) XFree(children);
    return found;
}

Geometry geometry(WinId window) {
    Geometry g;
    XWindowAttributes a;
    Window child;
    bool known = XGetWindowAttributes(g_display, window, &a) &&
                 XTranslateCoordinates(g_display, window, a.root, 0, 0, &g.x, &g.y, &child);
    if (!known) ADD_FAILURE() << "no window " << window;
    if (known) g.width = a.width, g.height = a.height;
    return g;
}

Geometry screen() { return {0, 0, detail::kScreenWidth, detail::kScreenHeight}; }

void focus(WinId window) {
    xdo_focus_window(g_xdo, window);
    xdo_wait_for_window_focus(g_xdo, window, 1);
}

void key(const std::string& keys) {
    xdo_send_keysequence_window(g_xdo, CURRENTWINDOW, keys.c_str(),
                                useconds_t(detail::kInputDelay * 1e6));
    settle();
}

void move(WinId window, int x, int y) {
    Geometry g = geometry(window);
    xdo_move_mouse(g_xdo, g.x + x, g.y + y, 0);
    settle();
}

void button(int button, bool pressed) {
    if (pressed)
        xdo_mouse_down(g_xdo, CURRENTWINDOW, button);
    else
        xdo_mouse_up(g_xdo, CURRENTWINDOW, button);
    settle();
}

// WM_DELETE_WINDOW, as the window's close box sends it.
void close(WinId window) {
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

Image screenshot(WinId window) {
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

// A connection of its own that selects the root window's structure events.
std::shared_ptr<void> watchStart() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) ADD_FAILURE() << "cannot open the display";
    if (!d) return nullptr;
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);
    return {d, [](void* d) { XCloseDisplay(static_cast<Display*>(d)); }};
}

void watchPoll(void* watch, MapWatch& record) {
    auto* d = static_cast<Display*>(watch);
    if (!d) return;
    Atom state = XInternAtom(d, "_NET_WM_STATE", False);
    Atom full = XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False);
    XSync(d, False);
    while (XPending(d) > 0) {
        XEvent event;
        XNextEvent(d, &event);
        const XCreateWindowEvent& c = event.xcreatewindow;
        const XConfigureEvent& s = event.xconfigure;
        const XClientMessageEvent& m = event.xclient;
        if (event.type == CreateNotify) record.sizes[c.window] = {c.x, c.y, c.width, c.height};
        if (event.type == ConfigureNotify) record.sizes[s.window] = {s.x, s.y, s.width, s.height};
        // A request to a window manager: 1 adds the states named in data.l[1] and data.l[2].
        if (event.type == ClientMessage && m.message_type == state && m.data.l[0] == 1 &&
            (Atom(m.data.l[1]) == full || Atom(m.data.l[2]) == full))
            record.fullScreen.insert(m.window);
        if (event.type != MapNotify) continue;
        record.seen.push_back(event.xmap.window);
        Atom type;
        int format;
        unsigned long count = 0, after;
        unsigned char* data = nullptr;
        XGetWindowProperty(d, event.xmap.window, state, 0, 64, False, XA_ATOM, &type, &format,
                           &count, &after, &data);
        auto* atoms = reinterpret_cast<Atom*>(data);
        if (data && std::find(atoms, atoms + count, full) != atoms + count)
            record.fullScreen.insert(event.xmap.window);
        if (data) XFree(data);
    }
}

}  // namespace

const DisplayServer server = {start, stop,       kill,       describe, shownWindow, geometry,
                              name,  screen,     focus,      key,      move,        button,
                              close, screenshot, watchStart, watchPoll};

}  // namespace e2e::x11
