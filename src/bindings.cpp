// Key and mouse bindings: the table of key chords (grabbed on the root and dispatched
// from the same entries), the keyboard actions, and the button bindings.
#include "bindings.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include "calc.h"
#include "clients.h"
#include "desktops.h"
#include "drag.h"
#include "focus.h"
#include "frame.h"
#include "geometry.h"
#include "settings.h"
#include "spawn.h"
#include "state.h"

namespace {

constexpr int kStep = 16;
constexpr unsigned int kChord = ControlMask | Mod1Mask;

void warp_into(Client *c) {
    XWarpPointer(wm.display, None, c->window, 0, 0, 0, 0, c->width - 1, c->height - 1);
}

// Actions. Those that need an active client get it; the others get null. arg is the
// entry's number (a command, a desktop, a direction, a step).
void run_command(Client *, int which) {
    const char *commands[] = {settings.command1, settings.command2, settings.command3};
    spawn_command(commands[which]);
}

void previous_desktop(Client *, int) {
    if (wm.current_desktop > 1) switch_desktop(wm.current_desktop - 1);
}

void next_desktop(Client *, int) {
    if (wm.current_desktop < wm.desktop_count) switch_desktop(wm.current_desktop + 1);
}

void desktop_number(Client *, int n) {
    goto_desktop(n);
}

void cycle(Client *, int) {
    cycle_focus();
}

void close_active(Client *c, int) {
    close_client(c);
}

// Corners 0 to 3: top left, top right, bottom left, bottom right of the head under the
// pointer.
void corner(Client *c, int which) {
    const calc::Rect h = head_rect(head_under_pointer());
    const int b = c->border, th = wm.title_height * (c->tab_visible ? 1 : 0);
    bool right = which == 1 || which == 3, bottom = which >= 2;
    c->x = right ? h.x + h.w - (c->width + b) : h.x + b;
    c->y = bottom ? h.y + h.h - (b + c->height) : h.y + b + th;
    move_client(c);
}

// Directions 0 to 3: left, right, down, up.
void step_move(Client *c, int direction) {
    const int dx[4] = {-kStep, kStep, 0, 0}, dy[4] = {0, 0, kStep, -kStep};
    c->x = calc::clamp_coord(static_cast<long long>(c->x) + dx[direction]);
    c->y = calc::clamp_coord(static_cast<long long>(c->y) + dy[direction]);
    snap_geometry(c, false);
    move_client(c);
    warp_into(c);
}

// Steps 0 to 3: taller, shorter, wider, narrower; the size hints are applied four, three,
// two and one times.
void step_resize(Client *c, int step) {
    const int dw[4] = {0, 0, kStep, -kStep}, dh[4] = {kStep, -kStep, 0, 0};
    const int constrain_times[4] = {4, 3, 2, 1};
    c->width = calc::clamp_size(static_cast<long long>(c->width) + dw[step]);
    c->height = calc::clamp_size(static_cast<long long>(c->height) + dh[step]);
    for (int i = 0; i < constrain_times[step]; ++i)
        constrain_to_hints(c);
    raise_client(c);
    snap_geometry(c, true);
    move_resize_client(c);
    warp_into(c);
}

void lower_active(Client *c, int) {
    lower_client(c);
}

void raise_active(Client *c, int) {
    raise_client(c);
}

void tab(Client *c, int) {
    toggle_tab(c);
}

// Bit 1: vertically, bit 2: horizontally.
void maximize(Client *c, int axes) {
    if (axes & 1) toggle_max_vertical(c);
    if (axes & 2) toggle_max_horizontal(c);
    move_resize_client(c);
}

void hide(Client *c, int) {
    toggle_hidden(c);
}

void fix(Client *c, int) {
    toggle_fixed(c);
}

struct Binding {
    KeySym keysym;
    unsigned int modifiers;
    void (*action)(Client *c, int arg);
    int arg;
    bool needs_client;
};

// Grabbed in this order.
const Binding kBindings[] = {
    {XK_Return, kChord, run_command, 0, false},
    {XK_space, kChord, run_command, 1, false},
    {XK_e, kChord, run_command, 2, false},
    {XK_q, kChord, close_active, 0, true},
    {XK_n, kChord, corner, 0, true},
    {XK_m, kChord, corner, 1, true},
    {XK_comma, kChord, corner, 2, true},
    {XK_period, kChord, corner, 3, true},
    {XK_h, kChord, step_move, 0, true},
    {XK_l, kChord, step_move, 1, true},
    {XK_j, kChord, step_move, 2, true},
    {XK_k, kChord, step_move, 3, true},
    {XK_Down, kChord, lower_active, 0, true},
    {XK_Up, kChord, raise_active, 0, true},
    {XK_t, kChord, tab, 0, true},
    {XK_v, kChord, maximize, 1, true},
    {XK_x, kChord, maximize, 3, true},
    {XK_i, kChord, step_resize, 0, true},
    {XK_p, kChord, step_resize, 2, true},
    {XK_o, kChord, step_resize, 1, true},
    {XK_u, kChord, step_resize, 3, true},
    {XK_s, kChord, hide, 0, true},
    {XK_b, kChord, maximize, 2, true},
    {XK_f, kChord, fix, 0, true},
    {XK_Left, kChord, previous_desktop, 0, false},
    {XK_Right, kChord, next_desktop, 0, false},
    {XK_1, kChord, desktop_number, 1, false},
    {XK_2, kChord, desktop_number, 2, false},
    {XK_3, kChord, desktop_number, 3, false},
    {XK_4, kChord, desktop_number, 4, false},
    {XK_5, kChord, desktop_number, 5, false},
    {XK_6, kChord, desktop_number, 6, false},
    {XK_7, kChord, desktop_number, 7, false},
    {XK_8, kChord, desktop_number, 8, false},
    {XK_9, kChord, desktop_number, 9, false},
    {XK_Tab, Mod1Mask, cycle, 0, false},
};

void grab_key(KeySym sym, unsigned int mods) {
    KeyCode code = XKeysymToKeycode(wm.display, sym);
    // A keysym without a key would grab keycode 0, which means every key.
    if (code == 0) return;
    unsigned int variants[4];
    const int n = lock_variants(mods, variants);
    for (int i = 0; i < n; ++i)
        XGrabKey(wm.display, code, variants[i], wm.root, True, GrabModeAsync, GrabModeAsync);
}

} // namespace

int lock_variants(unsigned int mods, unsigned int out[4]) {
    out[0] = mods;
    out[1] = mods | LockMask;
    out[2] = wm.numlock_mask | mods;
    out[3] = wm.numlock_mask | mods | LockMask;
    return wm.numlock_mask ? 4 : 2;
}

void grab_bindings() {
    for (const Binding &b : kBindings)
        grab_key(b.keysym, b.modifiers);
}

void grab_alt_buttons(Window frame) {
    unsigned int variants[4];
    const int n = lock_variants(Mod1Mask, variants);
    for (int i = 0; i < n; ++i)
        XGrabButton(wm.display, AnyButton, variants[i], frame, False,
                    ButtonPressMask | ButtonReleaseMask, GrabModeAsync, GrabModeSync, None, None);
}

void handle_key_press(XKeyEvent *e) {
    // Only the grabbed chords reach the manager: the key alone says which one it is.
    const KeySym sym = XkbKeycodeToKeysym(wm.display, static_cast<KeyCode>(e->keycode), 0, 0);
    for (const Binding &b : kBindings) {
        if (b.keysym != sym) continue;
        if (b.needs_client && !wm.active) return;
        b.action(wm.active, b.arg);
        return;
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
        previous_desktop(nullptr, 0);
        break;
    case Button4:
        next_desktop(nullptr, 0);
        break;
    case Button1:
    case Button3:
        root_click_mode();
        break;
    default:
        break;
    }
}
