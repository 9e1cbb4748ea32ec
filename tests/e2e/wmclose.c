/* Asks a window to close the way a window manager does when its close box is clicked: a
 * WM_PROTOCOLS client message carrying WM_DELETE_WINDOW. Like a window manager, it sends the
 * message only to a window that lists WM_DELETE_WINDOW among its protocols.
 * Usage: wmclose WINDOW-ID (decimal, or hexadecimal with 0x). Exit status 0 when sent. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s WINDOW-ID\n", argv[0]);
        return 2;
    }
    Window window = strtoul(argv[1], NULL, 0);
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "wmclose: cannot open display\n");
        return 1;
    }
    Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);

    Atom* listed = NULL;
    int count = 0;
    int supported = 0;
    if (XGetWMProtocols(display, window, &listed, &count)) {
        for (int i = 0; i < count; ++i) supported |= listed[i] == deleteWindow;
        XFree(listed);
    }
    if (!supported) {
        fprintf(stderr, "wmclose: window 0x%lx does not take WM_DELETE_WINDOW\n", window);
        XCloseDisplay(display);
        return 3;
    }

    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)deleteWindow;
    event.xclient.data.l[1] = CurrentTime;
    Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
