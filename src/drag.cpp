// The pointer-grab loops: root-click mode, interactive move and resize, tab drag and
// the close click.
#include "drag.h"

#include <cstdlib>

#include "clients.h"
#include "desktops.h"
#include "ewmh.h"
#include "frame.h"
#include "geometry.h"
#include "loop.h"
#include "settings.h"
#include "state.h"

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

// The next pointer position of a drag on c: exposures are handled on the way, presses
// swallowed and piled-up motion collapsed. False at the release (*released set) or when
// the drag must end early.
bool next_drag_motion(Client *c, XEvent *ev, bool *released) {
    while (next_grab_event(c, kDragMask | ExposureMask, ev)) {
        if (ev->type == Expose) {
            handle_expose(&ev->xexpose);
        } else if (ev->type == ButtonRelease) {
            *released = true;
            return false;
        } else if (ev->type == MotionNotify) {
            skip_to_latest_motion(ev);
            return true;
        }
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

// Whether a button is down now: a drag asked for by a message ends at once without one
// (the application saw its release before the manager could take the pointer).
bool button_held() {
    Window r, child;
    int rx, ry, wx, wy;
    unsigned int mask = 0;
    XQueryPointer(wm.display, wm.root, &r, &child, &rx, &ry, &wx, &wy, &mask);
    return mask & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask);
}

void move_from(Client *c, const int *from);

// Resizes by the given edges, the pointer's travel measured from (px0, py0).
void resize_by_edges(Client *c, int edges, int px0, int py0) {
    if (!grab_pointer(kDragMask, wm.resize_cursor)) return;
    forget_maximized(c);
    const calc::Rect start = client_rect(c);
    XEvent ev;
    bool released = false;
    while (button_held() && next_drag_motion(c, &ev, &released)) {
        calc::Rect r =
            calc::resize_edges(start, edges, ev.xmotion.x_root - px0, ev.xmotion.y_root - py0);
        c->width = r.w;
        c->height = r.h;
        constrain_to_hints(c);
        r.w = c->width;
        r.h = c->height;
        calc::anchor_edges(start, edges, &r);
        set_client_rect(c, r);
        move_resize_frame(c, settings.solid_resize != 0);
    }
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
    XEvent ev;
    bool released = false;
    while (next_drag_motion(c, &ev, &released)) {
        const int ex = ev.xmotion.x_root, ey = ev.xmotion.y_root;
        c->x = calc::clamp_coord(static_cast<long long>(sx) + ex - px0);
        c->y = calc::clamp_coord(static_cast<long long>(sy) + ey - py0);
        // The motion event carries the pointer position the head is taken from.
        if (settings.snap != 0) snap_geometry(c, false, &ex, &ey);
        move_client(c);
        if (c->desktop != 0) {
            if (ex > W - 3 && wm.current_desktop < wm.desktop_count) {
                XWarpPointer(wm.display, None, wm.root, 0, 0, 0, 0, 5, ey);
                c->desktop += 1;
                carry_transients(c);
                switch_desktop(wm.current_desktop + 1);
                ewmh_update_client_desktop(c);
            }
            if (ex <= 2 && wm.current_desktop >= 2) {
                XWarpPointer(wm.display, None, wm.root, 0, 0, 0, 0, W - 5, ey);
                c->desktop -= 1;
                carry_transients(c);
                switch_desktop(wm.current_desktop - 1);
                ewmh_update_client_desktop(c);
            }
        }
    }
    ungrab_pointer();
}

} // namespace

void interactive_resize(Client *c) {
    if (!grab_pointer(kDragMask, wm.resize_cursor)) return;
    if (c->iconic) toggle_iconic(c);
    forget_maximized(c);
    XWarpPointer(wm.display, None, c->window, 0, 0, 0, 0, c->width, c->height);
    Display *d = wm.display;
    XEvent ev;
    bool released = false;
    while (next_drag_motion(c, &ev, &released)) {
        const int ex = ev.xmotion.x_root, ey = ev.xmotion.y_root;
        c->width = calc::clamp_size(std::llabs(static_cast<long long>(ex) - c->x));
        c->height = calc::clamp_size(std::llabs(static_cast<long long>(ey) - c->y));
        snap_geometry(c, true, &ex, &ey);
        constrain_to_hints(c);
        move_resize_frame(c, settings.solid_resize != 0);
    }
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
    XEvent ev;
    bool released = false;
    while (next_drag_motion(c, &ev, &released)) {
        c->tab_offset = calc::clamp_coord(static_cast<long long>(o0) + ev.xmotion.x_root - px0);
        fit_tab(c);
        const calc::Rect t = tab_rect(c);
        XMoveWindow(wm.display, c->tab, t.x, t.y);
    }
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
