// Keyboard and mouse: key bindings, button bindings, root-click mode, and the
// pointer-grab loops that move, resize, drag tabs and confirm close clicks.
#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <cstdlib>

#include "tavrel.h"

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

void raise_client(Client *c) {
    XRaiseWindow(wm.display, c->frame);
    XRaiseWindow(wm.display, c->tab);
    ewmh_restacked();
}

void lower_client(Client *c) {
    XLowerWindow(wm.display, c->frame);
    XLowerWindow(wm.display, c->tab);
    ewmh_restacked();
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

void warp_into(Client *c) {
    XWarpPointer(wm.display, None, c->window, 0, 0, 0, 0, c->width - 1, c->height - 1);
}

void keyboard_move(Client *c, int dx, int dy) {
    c->x = calc::clamp_coord(static_cast<long long>(c->x) + dx);
    c->y = calc::clamp_coord(static_cast<long long>(c->y) + dy);
    snap_geometry(c, false);
    move_client(c);
    warp_into(c);
}

void keyboard_resize(Client *c, int dw, int dh, int constrain_times) {
    c->width = calc::clamp_size(static_cast<long long>(c->width) + dw);
    c->height = calc::clamp_size(static_cast<long long>(c->height) + dh);
    for (int i = 0; i < constrain_times; ++i)
        constrain_to_hints(c);
    raise_client(c);
    snap_geometry(c, true);
    move_resize_client(c);
    warp_into(c);
}

void corner(Client *c, int which) {
    const calc::Rect h = head_rect(head_under_pointer());
    const int b = c->border, th = wm.title_height * (c->tab_visible ? 1 : 0);
    bool right = which == 1 || which == 3, bottom = which >= 2;
    c->x = right ? h.x + h.w - (c->width + b) : h.x + b;
    c->y = bottom ? h.y + h.h - (b + c->height) : h.y + b + th;
    move_client(c);
}

} // namespace

void handle_key_press(XKeyEvent *e) {
    KeySym sym = XkbKeycodeToKeysym(wm.display, static_cast<KeyCode>(e->keycode), 0, 0);
    Client *c = wm.active;
    // Bindings that act with or without an active client.
    switch (sym) {
    case XK_Return:
        spawn_command(settings.command1);
        return;
    case XK_space:
        spawn_command(settings.command2);
        return;
    case XK_e:
        spawn_command(settings.command3);
        return;
    case XK_Left:
        if (wm.current_desktop > 1) switch_desktop(wm.current_desktop - 1);
        return;
    case XK_Right:
        if (wm.current_desktop < wm.desktop_count) switch_desktop(wm.current_desktop + 1);
        return;
    case XK_Tab:
        cycle_focus();
        return;
    default:
        break;
    }
    if (sym >= XK_1 && sym <= XK_9) {
        int n = static_cast<int>(sym - XK_0);
        // The properties follow a switch by themselves; a grown count alone needs telling.
        if (n > wm.desktop_count) {
            wm.desktop_count = n;
            ewmh_update_desktops();
        }
        switch_desktop(n);
        return;
    }
    if (!c) return;
    switch (sym) {
    case XK_q:
        close_client(c);
        break;
    case XK_n:
        corner(c, 0);
        break;
    case XK_m:
        corner(c, 1);
        break;
    case XK_comma:
        corner(c, 2);
        break;
    case XK_period:
        corner(c, 3);
        break;
    case XK_h:
        keyboard_move(c, -kStep, 0);
        break;
    case XK_l:
        keyboard_move(c, kStep, 0);
        break;
    case XK_j:
        keyboard_move(c, 0, kStep);
        break;
    case XK_k:
        keyboard_move(c, 0, -kStep);
        break;
    case XK_Down:
        lower_client(c);
        break;
    case XK_Up:
        raise_client(c);
        break;
    case XK_t:
        toggle_tab(c);
        break;
    case XK_v:
        toggle_max_vertical(c);
        move_resize_client(c);
        break;
    case XK_x:
        toggle_max_vertical(c);
        toggle_max_horizontal(c);
        move_resize_client(c);
        break;
    case XK_b:
        toggle_max_horizontal(c);
        move_resize_client(c);
        break;
    case XK_i:
        keyboard_resize(c, 0, kStep, 4);
        break;
    case XK_o:
        keyboard_resize(c, 0, -kStep, 3);
        break;
    case XK_p:
        keyboard_resize(c, kStep, 0, 2);
        break;
    case XK_u:
        keyboard_resize(c, -kStep, 0, 1);
        break;
    case XK_s:
        toggle_hidden(c);
        break;
    case XK_f:
        toggle_fixed(c);
        break;
    default:
        break;
    }
}

void handle_button_press(XButtonEvent *e) {
    Client *c = wm.active;
    if (c && (e->window == c->tab || e->window == c->frame)) {
        switch (e->button) {
        case Button1:
            if (e->window == c->tab && e->x > c->tab_width - 10)
                close_on_release(c);
            else if (e->state & ShiftMask)
                drag_tab(c);
            else {
                raise_client(c);
                interactive_move(c);
            }
            break;
        case Button2:
            toggle_hidden(c);
            break;
        case Button3:
            interactive_resize(c);
            break;
        case Button4:
            raise_client(c);
            break;
        case Button5:
            lower_client(c);
            break;
        default:
            break;
        }
        return;
    }
    switch (e->button) {
    case Button5:
        if (wm.current_desktop > 1) switch_desktop(wm.current_desktop - 1);
        break;
    case Button4:
        if (wm.current_desktop < wm.desktop_count) switch_desktop(wm.current_desktop + 1);
        break;
    case Button1:
    case Button3:
        root_click_mode();
        break;
    default:
        break;
    }
}

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

void interactive_move(Client *c) {
    const int sx = c->x, sy = c->y;
    c->saved_x = c->saved_y = c->saved_width = c->saved_height = 0;
    if (!grab_pointer(kDragMask, wm.move_cursor)) return;
    int px0, py0;
    query_pointer_root(&px0, &py0);
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
                switch_desktop(wm.current_desktop + 1);
                ewmh_update_client_desktop(c);
            }
            if (ex <= 2 && wm.current_desktop >= 2) {
                XWarpPointer(wm.display, None, wm.root, 0, 0, 0, 0, W - 5, ey);
                c->desktop -= 1;
                switch_desktop(wm.current_desktop - 1);
                ewmh_update_client_desktop(c);
            }
        }
    }
    ungrab_pointer();
}

void interactive_resize(Client *c) {
    if (!grab_pointer(kDragMask, wm.resize_cursor)) return;
    if (c->iconic) toggle_iconic(c);
    c->saved_x = c->saved_y = c->saved_width = c->saved_height = 0;
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
        XMoveResizeWindow(d, c->frame, c->x - c->border, c->y - c->border,
                          calc::clamp_size(c->width + 2LL * c->border),
                          calc::clamp_size(c->height + 2LL * c->border));
        if (settings.solid_resize)
            XMoveResizeWindow(d, c->window, c->border, c->border, c->width, c->height);
        fit_tab(c);
        XMoveResizeWindow(d, c->tab, c->x - c->border + c->tab_offset,
                          c->y - c->border - wm.title_height, calc::clamp_size(c->tab_width),
                          wm.title_height);
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
        XMoveWindow(wm.display, c->tab, c->x - c->border + c->tab_offset,
                    c->y - c->border - wm.title_height);
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
