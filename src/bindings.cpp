// Key and mouse bindings: the table of key chords (grabbed on the root and dispatched
// from the same entries), the keyboard actions, and the button bindings.
#include "bindings.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <vector>

#include "calc.h"
#include "clients.h"
#include "desktops.h"
#include "drag.h"
#include "ewmh.h"
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
    // The display given with -display is the commands' too, whatever DISPLAY says.
    spawn_command(commands[which], *settings.display_name ? DisplayString(wm.display) : nullptr);
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
    const calc::Rect h = work_rect(head_under_pointer());
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
    ewmh_update_state(c);
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

const Binding *binding_for(KeySym sym) {
    for (const Binding &b : kBindings)
        if (b.keysym == sym) return &b;
    return nullptr;
}

// What the manager knows of each key: the first keysym of each of its layout groups, and
// the binding the key serves when its keysym in the active group is bound to nothing (the
// key carrying the binding's keysym in another group: 'l' on a Russian keyboard that also
// has a US group). Rebuilt whenever the keyboard mapping changes.
struct Key {
    std::vector<KeySym> by_group;
    const Binding *fallback = nullptr;
};
std::array<Key, 256> keys;

void grab_key(KeyCode code, unsigned int mods) {
    unsigned int variants[4];
    const int n = lock_variants(mods, variants);
    for (int i = 0; i < n; ++i)
        XGrabKey(wm.display, code, variants[i], wm.root, True, GrabModeAsync, GrabModeAsync);
}

using Grabs = std::vector<std::pair<KeyCode, const Binding *>>;

void note_key(KeyCode code, KeySym sym, bool first_level, Grabs *grabs) {
    Key &key = keys[code];
    if (first_level) key.by_group.push_back(sym);
    const Binding *b = binding_for(sym);
    if (!b) return;
    if (!key.fallback) key.fallback = b;
    if (std::find(grabs->begin(), grabs->end(), std::pair(code, b)) == grabs->end())
        grabs->emplace_back(code, b);
}

// Every key that carries a bound keysym, in any group and at any level, is grabbed for that
// binding; a key serves first the binding found in the lowest group, then the lowest level.
Grabs read_keyboard() {
    for (Key &k : keys)
        k = Key{};
    Grabs grabs;
    XkbDescPtr xkb = XkbGetMap(wm.display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (!xkb) {
        // No keyboard extension: the core mapping's first key for each keysym.
        for (const Binding &b : kBindings) {
            const KeyCode code = XKeysymToKeycode(wm.display, b.keysym);
            // A keysym without a key would grab keycode 0, which means every key.
            if (code != 0) note_key(code, b.keysym, true, &grabs);
        }
        return grabs;
    }
    for (int group = 0; group < XkbNumKbdGroups; ++group)
        for (int level = 0; level < XkbMaxShiftLevel; ++level)
            for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc)
                if (group < XkbKeyNumGroups(xkb, kc) && level < XkbKeyGroupWidth(xkb, kc, group))
                    note_key(static_cast<KeyCode>(kc), XkbKeySymEntry(xkb, kc, level, group),
                             level == 0, &grabs);
    XkbFreeKeyboard(xkb, 0, True);
    return grabs;
}

// The old grabs go and the new ones come with the server held, so that no key pressed
// meanwhile finds neither.
void grab_keys(const Grabs &grabs) {
    XGrabServer(wm.display);
    XUngrabKey(wm.display, AnyKey, AnyModifier, wm.root);
    for (const auto &[code, b] : grabs)
        grab_key(code, b->modifiers);
    XUngrabServer(wm.display);
}

// The binding of a key press: the key's keysym in the active group, else the binding the
// key carries in another group.
const Binding *binding_of(const XKeyEvent *e) {
    if (e->keycode >= keys.size()) return nullptr;
    const Key &key = keys[e->keycode];
    if (!key.by_group.empty()) {
        const size_t group = static_cast<size_t>(XkbGroupForCoreState(e->state));
        if (const Binding *b = binding_for(key.by_group[group % key.by_group.size()])) return b;
    }
    return key.fallback;
}

} // namespace

void find_numlock() {
    XModifierKeymap *map = XGetModifierMapping(wm.display);
    KeyCode nl = XKeysymToKeycode(wm.display, XK_Num_Lock);
    wm.numlock_mask = 0;
    if (map && nl != 0) {
        for (int m = 0; m < 8; ++m)
            for (int k = 0; k < map->max_keypermod; ++k)
                if (map->modifiermap[m * map->max_keypermod + k] == nl) wm.numlock_mask = 1u << m;
    }
    if (map) XFreeModifiermap(map);
}

int lock_variants(unsigned int mods, unsigned int out[4]) {
    out[0] = mods;
    out[1] = mods | LockMask;
    out[2] = wm.numlock_mask | mods;
    out[3] = wm.numlock_mask | mods | LockMask;
    return wm.numlock_mask ? 4 : 2;
}

void grab_bindings() {
    grab_keys(read_keyboard());
}

void handle_mapping_notify(XMappingEvent *e) {
    if (e->request == MappingPointer) return;
    XRefreshKeyboardMapping(e);
    // A new layout or modifier map moves the keys and maybe NumLock: grab afresh.
    find_numlock();
    grab_keys(read_keyboard());
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
    const Binding *b = binding_of(e);
    if (!b || (b->needs_client && !wm.active)) return;
    b->action(wm.active, b->arg);
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
