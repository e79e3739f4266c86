// The event loop, the signal-driven shutdown and the X error policy.
#include "loop.h"

#include <X11/Xproto.h>
#include <X11/extensions/Xrandr.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bindings.h"
#include "clients.h"
#include "ewmh.h"
#include "focus.h"
#include "font.h"
#include "frame.h"
#include "geometry.h"
#include "hints.h"
#include "state.h"
#include "x/connection.h"

ManagerState wm;

namespace {

// Set by the signal handler; the shutdown runs in normal context when it is seen.
volatile sig_atomic_t quit_requested = 0;
// Set once the display connection exists; before that a signal simply ends the process.
volatile sig_atomic_t display_open = 0;
// Written by the signal handler to wake the loop.
int signal_pipe[2] = {-1, -1};

// Set by SIGUSR1: the manager runs itself again in place.
volatile sig_atomic_t restart_requested = 0;
char **command_line = nullptr;

void wake_loop() {
    int saved = errno;
    if (signal_pipe[1] >= 0) {
        char b = 1;
        ssize_t r = write(signal_pipe[1], &b, 1);
        (void)r;
    }
    errno = saved;
}

void restart_handler(int) {
    // Before the display is open there is nothing to restart.
    if (!display_open) return;
    restart_requested = 1;
    wake_loop();
}

void quit_handler(int) {
    if (!display_open) _exit(0);
    quit_requested = 1;
    wake_loop();
}

} // namespace

// The error handler may not make requests: it only records what failed. A client
// named by an error is marked and released right after the interrupted call, before
// the next event is handled.
int error_handler(Display *, XErrorEvent *e) {
    Client *c = lookup_client(e->resourceid);
    if (e->error_code == BadMatch && e->request_code == X_ConfigureWindow) {
        if (e->minor_code == 0 || !c) return 0;
    } else if (e->error_code == BadMatch && e->request_code == X_SetInputFocus) {
        // The window was unmapped (by its application, or hidden) before the focus
        // reached it: nothing is wrong with the client, and the focus stays where it was.
        return 0;
    }
    if (c && !c->doomed) {
        c->doomed = true;
        ++wm.doomed_count;
    }
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

namespace {

// Blocks until the X connection or the signal pipe is readable, or the deadline passes.
// With flushed, the caller has just flushed and found nothing to read, and asked nothing
// since: the socket is polled at once.
void wait_for_input(
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max(),
    bool flushed = false) {
    // Flushing may also read what has just arrived, events and errors; then there is no
    // point in waiting on a socket that is already drained.
    if (!flushed) {
        int queued = XQLength(wm.display);
        int doomed = wm.doomed_count;
        XFlush(wm.display);
        if (XQLength(wm.display) > queued || wm.doomed_count != doomed) return;
    }
    pollfd fds[2] = {{ConnectionNumber(wm.display), POLLIN, 0}, {signal_pipe[0], POLLIN, 0}};
    while (!quit_requested && !restart_requested) {
        timespec wait{}, *limit = nullptr;
        if (deadline != std::chrono::steady_clock::time_point::max()) {
            const auto left = std::max(deadline - std::chrono::steady_clock::now(),
                                       std::chrono::steady_clock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            wait.tv_sec = static_cast<time_t>(ns / 1000000000);
            wait.tv_nsec = static_cast<long>(ns % 1000000000);
            limit = &wait;
        }
        int r = ppoll(fds, 2, limit, nullptr);
        if (r >= 0) break;
        if (r < 0 && errno != EINTR) break;
    }
    if (fds[1].revents & POLLIN) {
        char buf[16];
        while (read(signal_pipe[0], buf, sizeof buf) > 0) {
        }
    }
}

// One handler per event type; the SHAPE extension's event comes after the core ones.
template <typename E, void (*handler)(E *)> void call(XEvent *ev) {
    handler(reinterpret_cast<E *>(ev));
}
using Handler = void (*)(XEvent *);
struct Route {
    int type;
    Handler handler;
};
const Route kRoutes[] = {
    {KeyPress, call<XKeyEvent, handle_key_press>},
    {ButtonPress, call<XButtonEvent, handle_button_press>},
    {EnterNotify, call<XCrossingEvent, handle_enter_notify>},
    {Expose, call<XExposeEvent, handle_expose>},
    {UnmapNotify, call<XUnmapEvent, handle_unmap_notify>},
    {MapRequest, call<XMapRequestEvent, handle_map_request>},
    {ConfigureRequest, call<XConfigureRequestEvent, handle_configure_request>},
    {PropertyNotify, call<XPropertyEvent, handle_property_notify>},
    {ReparentNotify, call<XReparentEvent, handle_reparent_notify>},
    {DestroyNotify, call<XDestroyWindowEvent, handle_destroy_notify>},
    {MapNotify, call<XMapEvent, handle_map_notify>},
    {ClientMessage, call<XClientMessageEvent, handle_client_message>},
    {MappingNotify, call<XMappingEvent, handle_mapping_notify>},
};
// The routes indexed by event type.
struct HandlerTable {
    Handler by_type[LASTEvent] = {};
    HandlerTable() {
        for (const Route &r : kRoutes)
            by_type[r.type] = r.handler;
    }
};
const HandlerTable handlers;

void dispatch_event(XEvent *ev) {
    if (ev->type >= 0 && ev->type < LASTEvent) {
        if (Handler h = handlers.by_type[ev->type]) h(ev);
    } else if (wm.shape_present && ev->type == wm.shape_event_base) {
        handle_shape_notify(ev);
    } else if (wm.randr_event_base >= 0 && ev->type == wm.randr_event_base + RRScreenChangeNotify) {
        handle_screen_change(ev);
    }
}

// The server reports back much of what the manager does itself: the frames and tabs it
// creates and moves, the properties it writes on windows and on the root. Nothing reads
// those reports, and a burst of a thousand new windows queues tens of thousands of them
// at once, whose records the X library keeps for good. They are dropped as they arrive,
// as are changes of properties the manager does not follow.
bool configure_notifies_kept = false;

bool not_an_echo(const XEvent *e) {
    switch (e->type) {
    case CreateNotify:
    case GravityNotify:
    case CirculateNotify:
        return False;
    case ConfigureNotify:
        return configure_notifies_kept;
    case PropertyNotify:
        return property_followed(e->xproperty.atom);
    default:
        return True;
    }
}

// The kinds of events the nested loops wait for, with the mask bit that asks for each.
struct Selection {
    int type;
    long mask;
};
constexpr Selection kSelections[] = {
    {KeyPress, KeyPressMask},
    {KeyRelease, KeyReleaseMask},
    {ButtonPress, ButtonPressMask},
    {ButtonRelease, ButtonReleaseMask},
    {MotionNotify, PointerMotionMask},
    {Expose, ExposureMask},
    {ConfigureNotify, StructureNotifyMask},
};

bool selected_by(long mask, const XEvent *e) {
    for (const Selection &s : kSelections)
        if (s.type == e->type) return (mask & s.mask) != 0;
    return false;
}

// Events the main loop has no use for: a nested loop takes them out of the queue as it
// goes (every frame and tab moved during a drag reports itself on the root), so the
// queue does not grow with the drag and each search stays short.
bool unrouted(const XEvent *e) {
    return e->type >= 0 && e->type < LASTEvent && !handlers.by_type[e->type];
}

Bool wanted_or_unrouted(Display *, XEvent *e, XPointer mask) {
    return selected_by(*reinterpret_cast<const long *>(mask), e) || unrouted(e);
}

} // namespace

Next next_masked_event_until(long mask, XEvent *ev, const bool *stop,
                             std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (quit_requested || restart_requested || (stop && *stop)) return Next::stop;
        while (XCheckIfEvent(wm.display, ev, wanted_or_unrouted, reinterpret_cast<XPointer>(&mask)))
            if (selected_by(mask, ev)) return Next::event;
        // The search may have read an error that ends the loop: look before sleeping.
        if (quit_requested || restart_requested || (stop && *stop)) return Next::stop;
        if (std::chrono::steady_clock::now() >= deadline) return Next::timeout;
        wait_for_input(deadline);
        // Read what arrived so the search sees it; errors read here are recorded at once
        // (a lost connection ends here through the library's fatal-error path).
        XEventsQueued(wm.display, QueuedAfterReading);
    }
}

void drop_echoes() {
    for (int type : {CreateNotify, GravityNotify, CirculateNotify, ConfigureNotify, PropertyNotify})
        x::filter_arriving_events(wm.display, type, not_an_echo);
}

void keep_configure_notifies(bool keep) {
    configure_notifies_kept = keep;
}

bool next_masked_event(long mask, XEvent *ev, const bool *stop) {
    return next_masked_event_until(mask, ev, stop, std::chrono::steady_clock::time_point::max()) ==
           Next::event;
}

namespace {

// The signals the manager handles, all set to one disposition (from the shutdown and the
// restart on, further signals change nothing).
void set_signals(void (*disposition)(int)) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        signal(sig, disposition);
}

// Hands every window back to the root, their states (WM_STATE, desktop, hidden) left as
// they are for whoever manages them next. The server is held from here to the end: no
// window can ask to be mapped between the last look at the queue and the end of the
// redirection, which would lose the request, and no other client adds to the queue while
// the windows are handed back. With map_all, hidden windows and windows of other desktops
// are mapped too (otherwise the server maps them when the connection closes: they stay
// in the save set).
void hand_back_everything(bool map_all) {
    wm.quitting = 1;
    XGrabServer(wm.display);
    std::vector<Window> released;
    while (wm.client_list) {
        released.push_back(wm.client_list->window);
        unmanage_client(wm.client_list);
    }
    if (map_all) {
        x::IgnoreErrors ignore;
        for (Window w : released)
            XMapWindow(wm.display, w);
        XSync(wm.display, False);
    }
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
}

[[noreturn]] void shutdown_manager() {
    static bool running = false;
    if (running) std::_Exit(0);
    running = true;
    set_signals(SIG_IGN);
    hand_back_everything(false);
    free_font();
    if (wm.gc) XFreeGC(wm.display, wm.gc);
    XInstallColormap(wm.display, DefaultColormap(wm.display, wm.screen));
    XCloseDisplay(wm.display);
    free_font_library();
    std::exit(0);
}

// The manager runs again in place of this one, with the same arguments: every window is
// handed back mapped, the root is let go, and the new one adopts them as they were (their
// desktops, hidden windows and the desktop shown are in their properties).
[[noreturn]] void restart_in_place() {
    set_signals(SIG_IGN);
    hand_back_everything(true);
    // The new manager may ask for the root before the server has seen this connection go.
    XSelectInput(wm.display, wm.root, NoEventMask);
    XUngrabServer(wm.display);
    XSync(wm.display, False);
    fcntl(ConnectionNumber(wm.display), F_SETFD, FD_CLOEXEC);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    set_signals(SIG_DFL);
    execvp(command_line[0], command_line);
    execv("/proc/self/exe", command_line);
    std::fprintf(stderr, "tavrel: can't restart %s: %s\n", command_line[0], std::strerror(errno));
    std::exit(1);
}

} // namespace

void remember_command_line(char **argv) {
    command_line = argv;
}

void install_signal_handlers() {
    if (pipe(signal_pipe) != 0) {
        std::perror("tavrel: pipe");
        std::exit(1);
    }
    for (int fd : signal_pipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction sa {};
    sa.sa_handler = quit_handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sa.sa_handler = restart_handler;
    sigaction(SIGUSR1, &sa, nullptr);
}

void mark_display_open() {
    display_open = 1;
}

void run_event_loop() {
    XEvent ev;
    // The longest the queue has been since its spare records were last let go.
    int queue_peak = 0;
    for (;;) {
        release_doomed_clients();
        if (quit_requested) shutdown_manager();
        if (restart_requested) restart_in_place();
        // XPending flushes, and reads when nothing is queued.
        if (XPending(wm.display) == 0) {
            const unsigned long asked = NextRequest(wm.display);
            ewmh_update_stacking();
            if (queue_peak >= 256) {
                x::release_spare_event_records(wm.display);
                queue_peak = 0;
            }
            // What the stacking list asked goes out, and what came meanwhile is read.
            const bool flushed = NextRequest(wm.display) == asked;
            if (!flushed && XPending(wm.display) != 0) continue;
            wait_for_input(std::chrono::steady_clock::time_point::max(), true);
            continue;
        }
        queue_peak = std::max(queue_peak, XQLength(wm.display));
        XNextEvent(wm.display, &ev);
        // Errors read along with this event name clients that must go first.
        release_doomed_clients();
        dispatch_event(&ev);
    }
}
