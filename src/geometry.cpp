// Geometry: heads and the pointer, size hints, applying geometry, snapping and
// maximizing. The arithmetic itself lives in calc; this file feeds it and sends.
#include "tavrel.h"

void query_pointer_root(int *x, int *y) {
    Window root_ret, child;
    int wx, wy;
    unsigned int mask;
    *x = 0;
    *y = 0;
    XQueryPointer(wm.display, wm.root, &root_ret, &child, x, y, &wx, &wy, &mask);
}

int head_total() {
    return wm.xinerama_active ? wm.head_count : 1;
}

calc::Rect head_rect(int i) {
    const Head &h = wm.heads[i];
    return calc::Rect{h.x_org, h.y_org, h.width, h.height};
}

int head_at(int px, int py) {
    int n = head_total();
    for (int i = 0; i < n; ++i) {
        calc::Rect r = head_rect(i);
        if (r.x <= px && px < r.x + r.w && r.y <= py && py < r.y + r.h) return i;
    }
    return 0;
}

int head_under_pointer() {
    int px, py;
    query_pointer_root(&px, &py);
    return head_at(px, py);
}

calc::SizeHints plain_hints(const XSizeHints *h) {
    calc::SizeHints p;
    if (!h) return p;
    p.flags = h->flags;
    p.min_width = h->min_width;
    p.min_height = h->min_height;
    p.max_width = h->max_width;
    p.max_height = h->max_height;
    p.width_inc = h->width_inc;
    p.height_inc = h->height_inc;
    p.min_aspect_x = h->min_aspect.x;
    p.min_aspect_y = h->min_aspect.y;
    p.base_width = h->base_width;
    p.base_height = h->base_height;
    return p;
}

void constrain_to_hints(Client *c) {
    calc::constrain(plain_hints(c->size_hints), &c->width, &c->height);
}

void move_client(Client *c) {
    XMoveWindow(wm.display, c->frame, c->x - c->border, c->y - c->border);
    XMoveWindow(wm.display, c->tab, c->x - c->border + c->tab_offset,
                c->y - c->border - wm.title_height);
    send_synthetic_configure(c);
}

void move_resize_client(Client *c) {
    c->width = calc::clamp_size(c->width);
    c->height = calc::clamp_size(c->height);
    XMoveResizeWindow(wm.display, c->frame, c->x - c->border, c->y - c->border,
                      calc::clamp_size(c->width + 2LL * c->border),
                      calc::clamp_size(c->height + 2LL * c->border));
    XMoveResizeWindow(wm.display, c->window, c->border, c->border, c->width, c->height);
    fit_tab(c);
    XMoveResizeWindow(wm.display, c->tab, c->x - c->border + c->tab_offset,
                      c->y - c->border - wm.title_height, calc::clamp_size(c->tab_width),
                      wm.title_height);
    send_synthetic_configure(c);
}

static calc::SnapWindow snap_window(const Client *c) {
    return calc::SnapWindow{c->x, c->y, c->width, c->height, c->border, c->tab_visible};
}

void snap_geometry(Client *c, bool resizing, const int *ppx, const int *ppy) {
    if (settings.snap <= 0) return;
    int px, py;
    if (ppx && ppy) {
        px = *ppx;
        py = *ppy;
    } else {
        query_pointer_root(&px, &py);
    }
    calc::Rect head = head_rect(head_at(px, py));
    calc::SnapState st;
    calc::snap_begin(&st, snap_window(c), settings.snap, wm.title_height, resizing);
    for (Client *n = wm.client_list; n; n = n->next) {
        if (n == c || n->iconic) continue;
        if (n->desktop != 0 && n->desktop != wm.current_desktop) continue;
        calc::snap_offer(&st, snap_window(n));
    }
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
    calc::Rect head = head_rect(head_under_pointer());
    bool restoring = c->saved_width != 0;
    calc::max_horizontal(head, c->border, &c->x, &c->width, &c->saved_x, &c->saved_width);
    if (!restoring) constrain_to_hints(c);
}

void toggle_max_vertical(Client *c) {
    calc::Rect head = head_rect(head_under_pointer());
    bool restoring = c->saved_height != 0;
    calc::max_vertical(head, c->border, c->tab_visible, wm.title_height, &c->y, &c->height,
                       &c->saved_y, &c->saved_height);
    if (!restoring) constrain_to_hints(c);
}
