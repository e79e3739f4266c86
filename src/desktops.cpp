// Virtual desktops and fixed windows.
#include "desktops.h"

#include "clients.h"
#include "ewmh.h"
#include "focus.h"
#include "state.h"

bool on_current_desktop(const Client *c) {
    return c->desktop == 0 || c->desktop == wm.current_desktop;
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

void goto_desktop(int n) {
    // The properties follow a switch by themselves; a grown count alone needs telling.
    if (n > wm.desktop_count) {
        wm.desktop_count = n;
        ewmh_update_desktops();
    }
    switch_desktop(n);
}

void move_to_desktop(Client *c, int d) {
    for (Client *t : transients_of(c))
        move_to_desktop(t, d);
    if (d == c->desktop) return;
    bool was = on_current_desktop(c);
    c->desktop = d;
    if (d > wm.desktop_count) {
        wm.desktop_count = d;
        ewmh_update_desktops();
    }
    bool now = on_current_desktop(c);
    if (was && !now) {
        take_out_of_view(c);
        if (wm.active == c) focus_under_pointer();
    } else if (!was && now) {
        bring_into_view(c);
    } else if (wm.active == c) {
        set_active(c); // fixed or not: recolour
    }
    ewmh_update_client_desktop(c);
}

void carry_transients(Client *c) {
    for (Client *t : transients_of(c)) {
        t->desktop = c->desktop;
        ewmh_update_client_desktop(t);
        carry_transients(t);
    }
}

void toggle_fixed(Client *c) {
    c->desktop = c->desktop != 0 ? 0 : wm.current_desktop;
    if (wm.active == c) set_active(c); // recoloured
    ewmh_update_client_desktop(c);
}
