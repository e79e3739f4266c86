// Focus and desktops: the active client, its colours, focus-follows-pointer, focus
// cycling, virtual desktops and fixed windows.
#include "tavrel.h"

static bool on_shown_desktop(const Client *c) {
    return c->desktop == 0 || c->desktop == wm.current_desktop;
}

static void paint(Client *c, unsigned long pixel) {
    XSetWindowBackground(wm.display, c->frame, pixel);
    XSetWindowBackground(wm.display, c->tab, pixel);
    XClearWindow(wm.display, c->frame);
    XClearWindow(wm.display, c->tab);
    if (c->tab_visible) draw_tab(c);
}

void set_active(Client *c) {
    if (c) {
        paint(c, c->desktop == 0 ? wm.fixed_pixel : wm.active_bg_pixel);
        if (c == wm.active) return;
    }
    if (wm.active) paint(wm.active, wm.bg_pixel);
    if (wm.active == c) return;
    wm.active = c;
    ewmh_update_active();
}

void focus_client(Client *c, Time t) {
    if (c->accepts_input) XSetInputFocus(wm.display, c->window, RevertToPointerRoot, CurrentTime);
    if (c->takes_focus) {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = c->window;
        ev.xclient.message_type = wm.atom_wm_protocols;
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = static_cast<long>(net_atoms.wm_take_focus);
        ev.xclient.data.l[1] = static_cast<long>(t);
        XSendEvent(wm.display, c->window, False, NoEventMask, &ev);
    }
}

void grab_alt_buttons(Client *c) {
    const unsigned int mods[4] = {Mod1Mask, Mod1Mask | LockMask, wm.numlock_mask | Mod1Mask,
                                  wm.numlock_mask | Mod1Mask | LockMask};
    int n = wm.numlock_mask ? 4 : 2;
    for (int i = 0; i < n; ++i)
        XGrabButton(wm.display, AnyButton, mods[i], c->frame, False,
                    ButtonPressMask | ButtonReleaseMask, GrabModeAsync, GrabModeSync, None, None);
}

void handle_enter_notify(XCrossingEvent *e) {
    Client *c = lookup_client(e->window);
    if (!c || !on_shown_desktop(c)) return;
    if (c != wm.active) set_active(c);
    if (!c->iconic) focus_client(c, e->time);
    grab_alt_buttons(c);
    XSync(wm.display, False);
}

void cycle_focus() {
    Client *chosen = nullptr;
    if (wm.active) {
        // Each client is visited at most once, so the walk always ends.
        Client *c = wm.active;
        for (int i = 0; i < wm.client_count; ++i) {
            c = c->next ? c->next : wm.client_list;
            if (!c || c == wm.active) break;
            if (on_shown_desktop(c) && !c->doomed) {
                chosen = c;
                break;
            }
        }
        if (!chosen) chosen = wm.active;
    } else {
        for (Client *c = wm.client_list; c; c = c->next) {
            if (on_shown_desktop(c) && !c->doomed) {
                chosen = c;
                break;
            }
        }
        if (!chosen) return;
    }
    if (chosen->tab_visible) XMapRaised(wm.display, chosen->tab);
    if (!chosen->iconic) {
        XMapRaised(wm.display, chosen->frame);
        map_own(chosen, true);
    }
    write_wm_state(chosen, NormalState);
    ewmh_restacked();
    if (!chosen->iconic) focus_client(chosen);
    set_active(chosen);
    XSync(wm.display, False);
}

void take_out_of_view(Client *c) {
    // A hidden client's frame and window, and a hidden tab, are unmapped already.
    if (!c->iconic) {
        unmap_own(c, c->frame);
        unmap_own(c, c->window);
    }
    if (c->tab_visible) unmap_own(c, c->tab);
    write_wm_state(c, IconicState);
}

void bring_into_view(Client *c) {
    Display *d = wm.display;
    if (!c->iconic) {
        XMapWindow(d, c->frame);
        map_own(c);
    }
    if (c->tab_visible) XMapWindow(d, c->tab);
    write_wm_state(c, NormalState);
}

void switch_desktop(int n) {
    if (n == wm.current_desktop) return;
    if (wm.active && wm.active->desktop != 0 && wm.active->desktop != n) set_active(nullptr);
    for (Client *c = wm.client_list; c; c = c->next) {
        if (c->desktop == wm.current_desktop)
            take_out_of_view(c);
        else if (c->desktop == n)
            bring_into_view(c);
    }
    wm.current_desktop = n;
    ewmh_update_desktops();
}

void toggle_fixed(Client *c) {
    c->desktop = c->desktop != 0 ? 0 : wm.current_desktop;
    set_active(c);
    ewmh_update_client_desktop(c);
}
