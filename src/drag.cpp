// The pointer-grab loops: root-click mode, interactive move and resize, tab drag and
// the close click.
#include "drag.h"

#include <chrono>
#include <cstdlib>

#include "clients.h"
#include "desktops.h"
#include "ewmh.h"
#include "frame.h"
#include "geometry.h"
#include "loop.h"
#include "settings.h"
#include "state.h"
#include "x/connection.h"

namespace {

constexpr int kStep = 16;
constexpr long kDragMask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask;

bool grab_pointer(unsigned int mask, Cursor cursor) {
    return XGrabPointer(wm.display, wm.root, False, mask, GrabModeAsync, GrabModeAsync, None,
                        cursor, CurrentTime) == GrabSuccess;
}

void ungrab_pointer() {
    XUngrabPointer(wm.display, CurrentTime);
}

// Of the motion events already waiting, only the latest before any button event
// counts: the window goes where the pointer is now, without replaying every place it
// has been. Button events, and everything after them, keep their order.
Bool motion_before_buttons(Display *, XEvent *e, XPointer arg) {
    bool *blocked = reinterpret_cast<bool *>(arg);
    if (*blocked) return False;
    if (e->type == ButtonPress || e->type == ButtonRelease) {
        *blocked = true;
        return False;
    }
    return e->type == MotionNotify;
}

void skip_to_latest_motion(XEvent *ev) {
    for (;;) {
        bool blocked = false;
        XEvent next;
        if (!XCheckIfEvent(wm.display, &next, motion_before_buttons,
                           reinterpret_cast<XPointer>(&blocked)))
            return;
        *ev = next;
    }
}

// The next event of a grab loop working on c, or false when the loop must end: a
// shutdown is due, or an X error named the client (its window was destroyed, say).
// The error is seen as soon as it is read, also while the loop waits for the pointer,
// so the loop ends at once and the pointer is given back.
bool next_grab_event(Client *c, long mask, XEvent *ev) {
    return next_masked_event(mask, ev, &c->doomed);
}

// Whether a button is down now: a drag asked for by a message ends at once without one
// (the application saw its release before the manager could take the pointer).
bool button_held() {
    Window r, child;
    int rx, ry, wx, wy;
    unsigned int mask = 0;
    XQueryPointer(wm.display, wm.root, &r, &child, &rx, &ry, &wx, &wy, &mask);
    return mask & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask);
}

// Drives a drag on c: show(x, y) takes the window to the pointer's root position. The
// window moves no more often than the screen shows frames (a 1000 Hz mouse on a 60 Hz
// screen would otherwise have the server move it 16 times per frame seen), and a new
// position goes out only once the server has done the previous one (the frame's or the
// tab's ConfigureNotify on the root says so, as does any event sent after the last
// request), so a busy server is not buried either; a server that says nothing for four
// frames is not waited for longer. The release shows the last position at once: the drag
// ends where the pointer was last seen. Exposures are handled on the way and presses
// swallowed. True at the release; false when the drag ends early (a shutdown, the client
// gone, or with needs_button no button held as it starts).
template <typename Show> bool paced_drag(Client *c, Show show, bool needs_button = false) {
    struct KeepConfigureNotifies {
        KeepConfigureNotifies() { keep_configure_notifies(true); }
        ~KeepConfigureNotifies() { keep_configure_notifies(false); }
    } keep;
    using clock = std::chrono::steady_clock;
    const auto frame = std::chrono::microseconds(1000000 / wm.refresh_hz);
    XEvent ev;
    int px = 0, py = 0;
    bool unshown = false, in_flight = false;
    unsigned long sent_after = 0, done_at = 0;
    clock::time_point shown_at{}, next_frame = clock::now();
    auto show_latest = [&] {
        sent_after = x::last_request_serial(wm.display);
        show(px, py);
        done_at = x::last_request_serial(wm.display);
        in_flight = done_at != sent_after;
        unshown = false;
        shown_at = clock::now();
        next_frame = shown_at + frame;
    };
    auto done_by = [&](const XEvent &e) {
        if (e.xany.serial >= done_at) return true;
        return e.type == ConfigureNotify && !e.xconfigure.send_event &&
               (e.xconfigure.window == c->frame || e.xconfigure.window == c->tab) &&
               e.xany.serial > sent_after;
    };
    // Once the pointer is grabbed, the release comes here; a button let go just before
    // the grab went to the application, and ends the drag now.
    if (needs_button && !button_held()) return false;
    for (;;) {
        // Woken with a position to show: at the next frame, or when the server has kept
        // quiet about the previous one for too long.
        const auto wake = !unshown    ? clock::time_point::max()
                          : in_flight ? shown_at + 4 * frame
                                      : next_frame;
        const Next got = next_masked_event_until(kDragMask | ExposureMask | StructureNotifyMask,
                                                 &ev, &c->doomed, wake);
        if (got == Next::stop) break;
        if (got == Next::timeout) {
            show_latest();
            continue;
        }
        if (ev.type == Expose) {
            handle_expose(&ev.xexpose);
        } else if (ev.type == ButtonRelease) {
            if (unshown) show_latest();
            return true;
        } else if (ev.type == MotionNotify) {
            skip_to_latest_motion(&ev);
            px = ev.xmotion.x_root;
            py = ev.xmotion.y_root;
            unshown = true;
        }
        if (in_flight && done_by(ev)) in_flight = false;
        if (unshown && !in_flight && clock::now() >= next_frame) show_latest();
    }
    return false;
}

// A window moved or resized by hand is no longer maximized.
void forget_maximized(Client *c) {
    const bool was = c->saved_width != 0 || c->saved_height != 0;
    c->saved_x = c->saved_y = c->saved_width = c->saved_height = 0;
    if (was) ewmh_update_state(c);
}

} // namespace

void root_click_mode() {
    XGrabPointer(wm.display, wm.root, False, ButtonPressMask | ButtonReleaseMask, GrabModeAsync,
                 GrabModeAsync, None, wm.resize_cursor, CurrentTime);
    XEvent ev;
    bool done = false;
    while (!done && next_masked_event(ButtonPressMask | ButtonReleaseMask | ExposureMask, &ev)) {
        if (ev.type == Expose) {
            handle_expose(&ev.xexpose);
            continue;
        }
        if (ev.type != ButtonPress) continue;
        Client *t = lookup_client(ev.xbutton.subwindow);
        if (!t) break;
        switch (ev.xbutton.button) {
        case Button1:
            raise_client(t);
            interactive_move(t);
            done = true;
            break;
        case Button2:
            toggle_hidden(t);
            done = true;
            break;
        case Button3:
            interactive_resize(t);
            done = true;
            break;
        case Button4:
            raise_client(t);
            break;
        case Button5:
            lower_client(t);
            break;
        default:
            done = true;
            break;
        }
    }
    ungrab_pointer();
}

namespace {

void move_from(Client *c, const int *from);

// Resizes by the given edges, the pointer's travel measured from (px0, py0).
void resize_by_edges(Client *c, int edges, int px0, int py0) {
    if (!grab_pointer(kDragMask, wm.resize_cursor)) return;
    forget_maximized(c);
    const calc::Rect start = client_rect(c);
    auto show = [&](int px, int py) {
        calc::Rect r = calc::resize_edges(start, edges, px - px0, py - py0);
        c->width = r.w;
        c->height = r.h;
        constrain_to_hints(c);
        r.w = c->width;
        r.h = c->height;
        calc::anchor_edges(start, edges, &r);
        set_client_rect(c, r);
        move_resize_frame(c, settings.solid_resize != 0);
    };
    paced_drag(c, show, true);
    if (!c->doomed) {
        XMoveResizeWindow(wm.display, c->window, c->border, c->border, c->width, c->height);
        send_synthetic_configure(c);
    }
    ungrab_pointer();
}

} // namespace

void client_moveresize(Client *c, long direction, int x, int y) {
    using namespace calc;
    static constexpr int kEdges[8] = {
        kEdgeTop | kEdgeLeft,     kEdgeTop,    kEdgeTop | kEdgeRight,   kEdgeRight,
        kEdgeBottom | kEdgeRight, kEdgeBottom, kEdgeBottom | kEdgeLeft, kEdgeLeft};
    if (c->iconic || c->fullscreen) return;
    const int from[2] = {x, y};
    if (direction >= 0 && direction < 8) {
        if (button_held()) resize_by_edges(c, kEdges[direction], x, y);
    } else if (direction == 8) {
        if (button_held()) move_from(c, from);
    } else if (direction == 9) {
        interactive_resize(c);
    } else if (direction == 10) {
        move_from(c, nullptr);
    }
}

void interactive_move(Client *c) {
    move_from(c, nullptr);
}

namespace {

// The move, the pointer's travel measured from `from` (null: where the pointer is).
void move_from(Client *c, const int *from) {
    const int sx = c->x, sy = c->y;
    forget_maximized(c);
    if (!grab_pointer(kDragMask, wm.move_cursor)) return;
    int px0, py0;
    query_pointer_root(&px0, &py0);
    if (from) {
        px0 = from[0];
        py0 = from[1];
    }
    const int W = DisplayWidth(wm.display, wm.screen);
    std::vector<calc::SnapWindow> neighbours = snap_neighbours(c);
    auto show = [&](const int ex, const int ey) {
        c->x = calc::clamp_coord(static_cast<long long>(sx) + ex - px0);
        c->y = calc::clamp_coord(static_cast<long long>(sy) + ey - py0);
        // The motion event carries the pointer position the head is taken from.
        if (settings.snap != 0) snap_geometry(c, false, &ex, &ey, &neighbours);
        move_client(c);
        if (c->desktop != 0) {
            if (ex > W - 3 && wm.current_desktop < wm.desktop_count) {
                XWarpPointer(wm.display, None, wm.root, 0, 0, 0, 0, 5, ey);
                c->desktop += 1;
                carry_transients(c);
                switch_desktop(wm.current_desktop + 1);
                ewmh_update_client_desktop(c);
                neighbours = snap_neighbours(c);
            }
            if (ex <= 2 && wm.current_desktop >= 2) {
                XWarpPointer(wm.display, None, wm.root, 0, 0, 0, 0, W - 5, ey);
                c->desktop -= 1;
                carry_transients(c);
                switch_desktop(wm.current_desktop - 1);
                ewmh_update_client_desktop(c);
                neighbours = snap_neighbours(c);
            }
        }
    };
    paced_drag(c, show);
    ungrab_pointer();
}

} // namespace

void interactive_resize(Client *c) {
    if (!grab_pointer(kDragMask, wm.resize_cursor)) return;
    if (c->iconic) toggle_iconic(c);
    forget_maximized(c);
    XWarpPointer(wm.display, None, c->window, 0, 0, 0, 0, c->width, c->height);
    Display *d = wm.display;
    const std::vector<calc::SnapWindow> neighbours = snap_neighbours(c);
    auto show = [&](const int ex, const int ey) {
        c->width = calc::clamp_size(std::llabs(static_cast<long long>(ex) - c->x));
        c->height = calc::clamp_size(std::llabs(static_cast<long long>(ey) - c->y));
        snap_geometry(c, true, &ex, &ey, &neighbours);
        constrain_to_hints(c);
        move_resize_frame(c, settings.solid_resize != 0);
    };
    const bool released = paced_drag(c, show);
    if (!c->doomed) {
        // Also when a shutdown cut the drag short: the window gets the size it shows.
        XMoveResizeWindow(d, c->window, c->border, c->border, c->width, c->height);
        if (released) send_synthetic_configure(c);
    }
    ungrab_pointer();
}

void drag_tab(Client *c) {
    const int o0 = c->tab_offset;
    if (!grab_pointer(kDragMask, wm.tab_cursor)) return;
    int px0, py0;
    query_pointer_root(&px0, &py0);
    paced_drag(c, [&](int px, int) {
        c->tab_offset = calc::clamp_coord(static_cast<long long>(o0) + px - px0);
        fit_tab(c);
        const calc::Rect t = tab_rect(c);
        XMoveWindow(wm.display, c->tab, t.x, t.y);
    });
    ungrab_pointer();
}

void close_on_release(Client *c) {
    if (!grab_pointer(ButtonPressMask | ButtonReleaseMask, wm.close_cursor)) return;
    XEvent ev;
    while (next_grab_event(c, kDragMask, &ev)) {
        if (ev.type != ButtonRelease) continue;
        if (ev.xbutton.subwindow == c->frame) close_client(c);
        break;
    }
    ungrab_pointer();
}
