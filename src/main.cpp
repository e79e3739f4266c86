// Entry, event loop, signal-driven shutdown and the X error policy.
#include <X11/Xproto.h>
#include <X11/extensions/shape.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "tavrel.h"

ManagerState wm;
Settings settings;
volatile sig_atomic_t quit_requested = 0;
// Set once the display connection exists; before that a signal simply ends the process.
static volatile sig_atomic_t display_open = 0;

void quit_handler(int) {
    if (!display_open) _exit(0);
    quit_requested = 1;
    int saved = errno;
    if (wm.signal_pipe[1] >= 0) {
        char b = 1;
        ssize_t r = write(wm.signal_pipe[1], &b, 1);
        (void)r;
    }
    errno = saved;
}

// The error handler may not make requests: it only records what failed. A client
// named by an error is marked and released right after the interrupted call, before
// the next event is handled.
int error_handler(Display *, XErrorEvent *e) {
    Client *c = lookup_client(e->resourceid);
    if (wm.pending_window != 0 && wm.pending_window == e->resourceid) {
        wm.pending_window = 0;
        return 0;
    }
    if (e->error_code == BadMatch && e->request_code == X_ConfigureWindow) {
        if (e->minor_code == 0 || !c) return 0;
    } else if (e->error_code == BadMatch && e->request_code == X_SetInputFocus) {
        // The window was unmapped (by its application, or hidden) before the focus
        // reached it: nothing is wrong with the client, and the focus stays where it was.
        return 0;
    } else if (e->error_code == BadAccess && e->request_code == X_ChangeWindowAttributes) {
        std::fputs("root window unavailable (maybe another wm is running?)\n", stderr);
        std::exit(1);
    }
    if (c && !c->doomed) {
        c->doomed = true;
        ++wm.doomed_count;
    }
    return 0;
}

int ignore_errors_handler(Display *, XErrorEvent *) {
    return 0;
}

void release_doomed_clients() {
    while (wm.doomed_count > 0) {
        Client *c = wm.client_list;
        while (c && !c->doomed)
            c = c->next;
        if (!c) {
            wm.doomed_count = 0;
            break;
        }
        --wm.doomed_count;
        unmanage_client(c);
    }
}

// Blocks until the X connection or the signal pipe is readable.
static void wait_for_input() {
    // Flushing may also read what has just arrived, events and errors; then there is no
    // point in waiting on a socket that is already drained.
    int queued = XQLength(wm.display);
    int doomed = wm.doomed_count;
    XFlush(wm.display);
    if (XQLength(wm.display) > queued || wm.doomed_count != doomed) return;
    pollfd fds[2] = {{ConnectionNumber(wm.display), POLLIN, 0}, {wm.signal_pipe[0], POLLIN, 0}};
    while (!quit_requested) {
        int r = poll(fds, 2, -1);
        if (r > 0) break;
        if (r < 0 && errno != EINTR) break;
    }
    if (fds[1].revents & POLLIN) {
        char buf[16];
        while (read(wm.signal_pipe[0], buf, sizeof buf) > 0) {
        }
    }
}

bool next_masked_event(long mask, XEvent *ev, const bool *stop) {
    for (;;) {
        if (quit_requested || (stop && *stop)) return false;
        if (XCheckMaskEvent(wm.display, mask, ev)) return true;
        // The search may have read an error that ends the loop: look before sleeping.
        if (quit_requested || (stop && *stop)) return false;
        wait_for_input();
        // Read what arrived so the masked search sees it; errors read here are recorded
        // at once (a lost connection ends here through the library's fatal-error path).
        XEventsQueued(wm.display, QueuedAfterReading);
    }
}

void dispatch_event(XEvent *ev) {
    switch (ev->type) {
    case KeyPress:
        handle_key_press(&ev->xkey);
        break;
    case ButtonPress:
        handle_button_press(&ev->xbutton);
        break;
    case EnterNotify:
        handle_enter_notify(&ev->xcrossing);
        break;
    case Expose:
        handle_expose(&ev->xexpose);
        break;
    case UnmapNotify:
        handle_unmap_notify(&ev->xunmap);
        break;
    case MapRequest:
        handle_map_request(&ev->xmaprequest);
        break;
    case ConfigureRequest:
        handle_configure_request(&ev->xconfigurerequest);
        break;
    case PropertyNotify:
        handle_property_notify(&ev->xproperty);
        break;
    case ReparentNotify:
        handle_reparent_notify(&ev->xreparent);
        break;
    case DestroyNotify:
        handle_destroy_notify(&ev->xdestroywindow);
        break;
    case MapNotify:
        handle_map_notify(&ev->xmap);
        break;
    case ClientMessage:
        handle_client_message(&ev->xclient);
        break;
    default:
        if (wm.shape_present && ev->type == wm.shape_event_base) handle_shape_notify(ev);
        break;
    }
}

[[noreturn]] void shutdown_manager() {
    static bool running = false;
    if (running) std::_Exit(0);
    running = true;
    // Further signals change nothing from here on.
    signal(SIGTERM, SIG_IGN);
    signal(SIGINT, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    wm.quitting = 1;
    // The server is held from here to the end: no window can ask to be mapped between the
    // last look at the queue and the end of the redirection, which would lose the request,
    // and no other client adds to the queue while the windows are handed back.
    XGrabServer(wm.display);
    while (wm.client_list)
        unmanage_client(wm.client_list);
    // Windows whose map requests were never handled are mapped as they are, on the root.
    XSync(wm.display, False);
    // One pass over the queue, however long a flood has made it.
    while (XQLength(wm.display) > 0) {
        XEvent ev;
        XNextEvent(wm.display, &ev);
        if (ev.type == MapRequest && !ev.xmaprequest.send_event)
            XMapWindow(wm.display, ev.xmaprequest.window);
    }
    XSetInputFocus(wm.display, PointerRoot, RevertToPointerRoot, CurrentTime);
    if (wm.font) XFreeFont(wm.display, wm.font);
    if (wm.gc) XFreeGC(wm.display, wm.gc);
    XInstallColormap(wm.display, DefaultColormap(wm.display, wm.screen));
    XCloseDisplay(wm.display);
    std::exit(0);
}

static void make_signal_pipe() {
    if (pipe(wm.signal_pipe) != 0) {
        std::perror("tavrel: pipe");
        std::exit(1);
    }
    for (int fd : wm.signal_pipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

void mark_display_open() {
    display_open = 1;
}

int main(int argc, char **argv) {
    parse_options(argc, argv);
    make_signal_pipe();
    struct sigaction sa {};
    sa.sa_handler = quit_handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    setup_display();
    int error_base = 0;
    wm.shape_present = XShapeQueryExtension(wm.display, &wm.shape_event_base, &error_base);

    XEvent ev;
    for (;;) {
        release_doomed_clients();
        if (quit_requested) shutdown_manager();
        if (XPending(wm.display) == 0) {
            ewmh_update_stacking();
            if (XPending(wm.display) != 0) continue;
            wait_for_input();
            continue;
        }
        XNextEvent(wm.display, &ev);
        // Errors read along with this event name clients that must go first.
        release_doomed_clients();
        dispatch_event(&ev);
    }
}
