/* Test-only X client that does to a window what a window manager or another application
 * would, so that the end-to-end tests can drive ringwave like a desktop does:
 *
 *   x11_poke close WINDOW        the window manager's close request: a WM_PROTOCOLS client
 *                                message carrying WM_DELETE_WINDOW, sent only if the window
 *                                lists WM_DELETE_WINDOW in its WM_PROTOCOLS, as a manager does
 *   x11_poke steal-focus WINDOW  maps a second top-level window, gives it the input focus,
 *                                and then gives the focus back to WINDOW
 *
 * WINDOW is an X window id in decimal or 0x hex. Exit status 0 on success, 1 on failure,
 * 2 on a bad command line. */

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static const int kFocusTries = 100; /* bounded waits: tries of 20 ms each */

static void pause_ms(long ms) {
    struct timespec delay = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&delay, NULL);
}

/* Polls until WINDOW holds the input focus; 0 if it never does within the bound. */
static int wait_for_focus(Display* display, Window window) {
    for (int i = 0; i < kFocusTries; ++i) {
        Window focus;
        int revert;
        XGetInputFocus(display, &focus, &revert);
        if (focus == window) return 1;
        pause_ms(20);
    }
    return 0;
}

static int lists_delete_window(Display* display, Window window, Atom delete_window) {
    Atom* protocols = NULL;
    int count = 0;
    int found = 0;
    if (XGetWMProtocols(display, window, &protocols, &count)) {
        for (int i = 0; i < count; ++i) found |= protocols[i] == delete_window;
        XFree(protocols);
    }
    return found;
}

static int send_close(Display* display, Window window) {
    Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom delete_window = XInternAtom(display, "WM_DELETE_WINDOW", False);
    if (!lists_delete_window(display, window, delete_window)) {
        fprintf(stderr, "x11_poke: window 0x%lx does not accept WM_DELETE_WINDOW\n", window);
        return 1;
    }
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)delete_window;
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    return 0;
}

static int steal_focus(Display* display, Window window) {
    int screen = DefaultScreen(display);
    Window other = XCreateSimpleWindow(display, RootWindow(display, screen), 400, 300, 100, 80, 0,
                                       BlackPixel(display, screen), WhitePixel(display, screen));
    XSelectInput(display, other, StructureNotifyMask);
    XMapRaised(display, other);
    XEvent event;
    do XNextEvent(display, &event);
    while (event.type != MapNotify);

    XSetInputFocus(display, other, RevertToPointerRoot, CurrentTime);
    int ok = wait_for_focus(display, other);
    pause_ms(200);
    XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    ok = ok && wait_for_focus(display, window);
    XDestroyWindow(display, other);
    XSync(display, False);
    if (!ok) fprintf(stderr, "x11_poke: focus did not move as asked\n");
    return ok ? 0 : 1;
}

int main(int argc, char* argv[]) {
    if (argc != 3) {
        fputs("usage: x11_poke close|steal-focus WINDOW\n", stderr);
        return 2;
    }
    char* end = NULL;
    Window window = (Window)strtoul(argv[2], &end, 0);
    if (*argv[2] == '\0' || *end != '\0' || window == 0) {
        fprintf(stderr, "x11_poke: bad window id '%s'\n", argv[2]);
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fputs("x11_poke: cannot open the display\n", stderr);
        return 1;
    }
    int status = 2;
    if (strcmp(argv[1], "close") == 0) {
        status = send_close(display, window);
    } else if (strcmp(argv[1], "steal-focus") == 0) {
        status = steal_focus(display, window);
    } else {
        fprintf(stderr, "x11_poke: unknown command '%s'\n", argv[1]);
    }
    XCloseDisplay(display);
    return status;
}
