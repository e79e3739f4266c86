// Geometry: heads and the pointer, placement, size hints, snapping and maximizing. The
// arithmetic itself lives in calc; this file feeds it.
#include "geometry.h"

#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

#include "clients.h"
#include "desktops.h"
#include "docks.h"
#include "ewmh.h"
#include "frame.h"
#include "settings.h"
#include "state.h"

void query_pointer_root(int *x, int *y) {
    Window root_ret, child;
    int wx, wy;
    unsigned int mask;
    *x = 0;
    *y = 0;
    XQueryPointer(wm.display, wm.root, &root_ret, &child, x, y, &wx, &wy, &mask);
}

calc::Rect head_rect(int i) {
    return wm.heads[static_cast<size_t>(i)];
}

calc::Rect work_rect(int i) {
    const auto n = static_cast<size_t>(i);
    return n < wm.work.size() ? wm.work[n] : head_rect(i);
}

int head_at(int px, int py) {
    return calc::head_index(wm.heads.data(), static_cast<int>(wm.heads.size()), px, py);
}

int head_under_pointer() {
    int px, py;
    query_pointer_root(&px, &py);
    return head_at(px, py);
}

namespace {

calc::SizeHints plain_hints(const XSizeHints &h) {
    calc::SizeHints p;
    p.flags = h.flags;
    p.min_width = h.min_width;
    p.min_height = h.min_height;
    p.max_width = h.max_width;
    p.max_height = h.max_height;
    p.width_inc = h.width_inc;
    p.height_inc = h.height_inc;
    p.min_aspect_x = h.min_aspect.x;
    p.min_aspect_y = h.min_aspect.y;
    p.base_width = h.base_width;
    p.base_height = h.base_height;
    return p;
}

calc::SnapWindow snap_window(const Client *c) {
    return calc::SnapWindow{c->x, c->y, c->width, c->height, c->border, c->tab_visible};
}

} // namespace

void place_client_at(Client *c, int px, int py) {
    calc::PlaceInput in{};
    in.x = c->x;
    in.y = c->y;
    in.w = c->width;
    in.h = c->height;
    in.border = c->border;
    in.tab_height = c->tab_visible ? wm.title_height : 0;
    in.screen_w = DisplayWidth(wm.display, wm.screen);
    in.screen_h = DisplayHeight(wm.display, wm.screen);
    in.hint_flags = c->size_hints.flags;
    in.hint_x = c->size_hints.x;
    in.hint_y = c->size_hints.y;
    in.px = px;
    in.py = py;
    in.head = work_rect(head_at(px, py));
    in.hints = plain_hints(c->size_hints);
    calc::PlaceOutput out = calc::place(in);
    c->x = out.x;
    c->y = out.y;
    c->width = out.w;
    c->height = out.h;
}

void constrain_to_hints(Client *c) {
    calc::constrain(plain_hints(c->size_hints), &c->width, &c->height);
}

std::vector<calc::SnapWindow> snap_neighbours(const Client *c) {
    std::vector<calc::SnapWindow> out;
    for (const Client *n = wm.client_list; n; n = n->next)
        if (n != c && !n->iconic && on_current_desktop(n)) out.push_back(snap_window(n));
    return out;
}

void snap_geometry(Client *c, bool resizing, const int *ppx, const int *ppy,
                   const std::vector<calc::SnapWindow> *neighbours) {
    if (settings.snap <= 0) return;
    int px, py;
    if (ppx && ppy) {
        px = *ppx;
        py = *ppy;
    } else {
        query_pointer_root(&px, &py);
    }
    calc::Rect head = work_rect(head_at(px, py));
    calc::SnapState st;
    calc::snap_begin(&st, snap_window(c), settings.snap, wm.title_height, resizing);
    std::vector<calc::SnapWindow> taken;
    if (!neighbours) {
        taken = snap_neighbours(c);
        neighbours = &taken;
    }
    for (const calc::SnapWindow &n : *neighbours)
        calc::snap_offer(&st, n);
    calc::SnapWindow out;
    calc::snap_finish(&st, head, &out);
    if (resizing) {
        c->width = out.w;
        c->height = out.h;
    } else {
        c->x = out.x;
        c->y = out.y;
    }
}

void toggle_max_horizontal(Client *c) {
    calc::Rect head = work_rect(head_under_pointer());
    bool restoring = c->saved_width != 0;
    calc::max_horizontal(head, c->border, &c->x, &c->width, &c->saved_x, &c->saved_width);
    if (!restoring) constrain_to_hints(c);
}

void toggle_max_vertical(Client *c) {
    calc::Rect head = work_rect(head_under_pointer());
    bool restoring = c->saved_height != 0;
    calc::max_vertical(head, c->border, c->tab_visible, wm.title_height, &c->y, &c->height,
                       &c->saved_y, &c->saved_height);
    if (!restoring) constrain_to_hints(c);
}

// The heads Xinerama reports when it is active, else the whole screen as one head.
void find_heads() {
    wm.heads.clear();
    int ev_base, err_base, count = 0;
    if (XineramaQueryExtension(wm.display, &ev_base, &err_base)) {
        const bool active = XineramaIsActive(wm.display);
        XineramaScreenInfo *screens = XineramaQueryScreens(wm.display, &count);
        // Active but without a screen: the whole screen serves as the one head.
        for (int i = 0; active && screens && i < count; ++i)
            wm.heads.push_back(
                {screens[i].x_org, screens[i].y_org, screens[i].width, screens[i].height});
        if (screens) XFree(screens);
    }
    if (wm.heads.empty())
        wm.heads.push_back(
            {0, 0, DisplayWidth(wm.display, wm.screen), DisplayHeight(wm.display, wm.screen)});
}

namespace {

// The rate the screen shows frames at, as RandR reports it; 60 when it does not know (a
// virtual server reports 0).
void read_refresh_rate() {
    wm.refresh_hz = 60;
    if (wm.randr_event_base < 0) return;
    XRRScreenConfiguration *config = XRRGetScreenInfo(wm.display, wm.root);
    if (!config) return;
    const int rate = XRRConfigCurrentRate(config);
    XRRFreeScreenConfigInfo(config);
    if (rate >= 20 && rate <= 1000) wm.refresh_hz = rate;
}

} // namespace

void select_screen_changes() {
    int error_base = 0;
    if (!XRRQueryExtension(wm.display, &wm.randr_event_base, &error_base)) {
        wm.randr_event_base = -1;
        return;
    }
    XRRSelectInput(wm.display, wm.root, RRScreenChangeNotifyMask);
    read_refresh_rate();
}

void handle_screen_change(XEvent *e) {
    XRRUpdateConfiguration(e);
    read_refresh_rate();
    find_heads();
    update_work_areas();
    ewmh_update_desktop_geometry();
    for (Client *c = wm.client_list; c; c = c->next) {
        if (c->doomed) continue;
        if (c->fullscreen) {
            set_fullscreen(c, true); // the head its centre is on now
            continue;
        }
        // Back onto the nearest head when it is on none, tab on screen.
        const int th = c->tab_visible ? wm.title_height : 0;
        const calc::Rect f = calc::onto_nearest_head(
            wm.heads.data(), static_cast<int>(wm.heads.size()), frame_rect(c), th);
        c->x = f.x + c->border;
        c->y = f.y + c->border;
        // Maximized windows fill their head as it is now, keeping what they restore to.
        const calc::Rect area = work_rect(head_at(c->x + c->width / 2, c->y + c->height / 2));
        if (c->saved_width) {
            int sx = c->saved_x, sw = c->saved_width;
            c->saved_width = 0;
            calc::max_horizontal(area, c->border, &c->x, &c->width, &c->saved_x, &c->saved_width);
            c->saved_x = sx;
            c->saved_width = sw;
        }
        if (c->saved_height) {
            int sy = c->saved_y, sh = c->saved_height;
            c->saved_height = 0;
            calc::max_vertical(area, c->border, c->tab_visible, wm.title_height, &c->y, &c->height,
                               &c->saved_y, &c->saved_height);
            c->saved_y = sy;
            c->saved_height = sh;
        }
        move_resize_client(c);
    }
}
