// Focus: the active client and its colours, focus-follows-pointer with the Alt+button
// grabs on the frame entered, and focus cycling.
#include "focus.h"

#include "bindings.h"
#include "clients.h"
#include "desktops.h"
#include "ewmh.h"
#include "frame.h"
#include "state.h"
#include "x/atoms.h"
#include "x/connection.h"

bool wants_attention(const Client *c) {
    return c->demands_attention || (c->urgency_hint && !c->urgency_seen);
}

void paint_inactive(Client *c) {
    paint(c, wants_attention(c) ? wm.attention_pixel : wm.bg_pixel);
}

void set_active(Client *c) {
    if (c) {
        paint(c, c->desktop == 0 ? wm.fixed_pixel : wm.active_bg_pixel);
        // Seen by the user now: it asks no more.
        if (wants_attention(c)) {
            c->demands_attention = false;
            c->urgency_seen = c->urgency_hint;
            ewmh_update_state(c);
        }
        if (c == wm.active) return;
    }
    if (wm.active) paint_inactive(wm.active);
    if (wm.active == c) return;
    wm.active = c;
    ewmh_update_active();
}

void focus_client(Client *c, Time t) {
    if (c->accepts_input) XSetInputFocus(wm.display, c->window, RevertToPointerRoot, CurrentTime);
    if (c->takes_focus)
        x::send_protocol(wm.display, c->window, atoms[atom::WM_PROTOCOLS],
                         atoms[atom::WM_TAKE_FOCUS], t);
}

namespace {

// The pointer is on the client now: it becomes active, and gets the focus unless it is
// hidden (then only its tab is there).
void enter_client(Client *c, Time t) {
    if (c != wm.active) set_active(c);
    if (!c->iconic) focus_client(c, t);
    grab_alt_buttons(c->frame);
    XSync(wm.display, False);
}

} // namespace

void handle_enter_notify(XCrossingEvent *e) {
    Client *c = lookup_client(e->window);
    if (!c || !on_current_desktop(c)) return;
    enter_client(c, e->time);
}

void focus_under_pointer(bool keep_hidden) {
    Window root_ret = 0, child = 0;
    int rx, ry, wx, wy;
    unsigned int mask;
    Client *c = nullptr;
    if (XQueryPointer(wm.display, wm.root, &root_ret, &child, &rx, &ry, &wx, &wy, &mask))
        c = lookup_client(child);
    if (c && on_current_desktop(c)) {
        enter_client(c, CurrentTime);
        return;
    }
    if (!keep_hidden) set_active(nullptr);
    XSetInputFocus(wm.display, PointerRoot, RevertToPointerRoot, CurrentTime);
}

void cycle_focus() {
    Client *chosen = nullptr;
    if (wm.active) {
        // Each client is visited at most once, so the walk always ends.
        Client *c = wm.active;
        for (int i = 0; i < wm.client_count; ++i) {
            c = c->next ? c->next : wm.client_list;
            if (!c || c == wm.active) break;
            if (on_current_desktop(c) && !c->doomed) {
                chosen = c;
                break;
            }
        }
        if (!chosen) chosen = wm.active;
    } else {
        for (Client *c = wm.client_list; c; c = c->next) {
            if (on_current_desktop(c) && !c->doomed) {
                chosen = c;
                break;
            }
        }
        if (!chosen) return;
    }
    map_client(chosen);
    if (!chosen->iconic) focus_client(chosen);
    set_active(chosen);
    XSync(wm.display, False);
}
