// Frames and tabs: geometry, building, shapes, drawing, pushing geometry, stacking, and
// the application's configure requests.
#include "frame.h"

#include <X11/extensions/shape.h>

#include <cstring>
#include <string>
#include <vector>

#include "clients.h"
#include "docks.h"
#include "ewmh.h"
#include "font.h"
#include "state.h"
#include "x/connection.h"

calc::Rect frame_rect(const Client *c) {
    return {c->x - c->border, c->y - c->border, calc::clamp_size(c->width + 2LL * c->border),
            calc::clamp_size(c->height + 2LL * c->border)};
}

calc::Rect tab_rect(const Client *c) {
    return {c->x - c->border + c->tab_offset, c->y - c->border - wm.title_height,
            calc::clamp_size(c->tab_width), wm.title_height};
}

namespace {

void move_resize(Window w, const calc::Rect &r) {
    XMoveResizeWindow(wm.display, w, r.x, r.y, static_cast<unsigned>(r.w),
                      static_cast<unsigned>(r.h));
}

void place_tab(Client *c) {
    move_resize(c->tab, tab_rect(c));
}

void set_frame_shape(Client *c) {
    XShapeCombineShape(wm.display, c->frame, ShapeBounding, c->border, c->border, c->window,
                       ShapeBounding, ShapeSet);
}

void copy_shape(Client *c) {
    int count = 0, ordering = 0;
    XRectangle *rects =
        XShapeGetRectangles(wm.display, c->window, ShapeBounding, &count, &ordering);
    if (count > 1) set_frame_shape(c);
    if (rects) XFree(rects);
}

// The name in the tab: _NET_WM_NAME whenever the window has one, else WM_NAME.
const std::string *tab_text(const Client *c) {
    if (c->net_name) return &*c->net_name;
    return c->name ? &*c->name : nullptr;
}

} // namespace

void create_frame(Client *c) {
    Display *d = wm.display;
    XSelectInput(d, c->window, PropertyChangeMask | EnterWindowMask);
    XSetWindowAttributes sa;
    sa.background_pixel = wm.bg_pixel;
    sa.override_redirect = True;
    sa.event_mask =
        ButtonPressMask | EnterWindowMask | SubstructureNotifyMask | SubstructureRedirectMask;
    const calc::Rect f = frame_rect(c);
    c->frame =
        XCreateWindow(d, wm.root, f.x, f.y, static_cast<unsigned>(f.w), static_cast<unsigned>(f.h),
                      0, DefaultDepth(d, wm.screen), CopyFromParent, DefaultVisual(d, wm.screen),
                      CWBackPixel | CWOverrideRedirect | CWEventMask, &sa);
    if (c->tab_width > c->width) c->tab_width = c->width;
    sa.event_mask |= ExposureMask;
    const calc::Rect t = tab_rect(c);
    c->tab =
        XCreateWindow(d, wm.root, t.x, t.y, static_cast<unsigned>(t.w), static_cast<unsigned>(t.h),
                      0, DefaultDepth(d, wm.screen), CopyFromParent, DefaultVisual(d, wm.screen),
                      CWBackPixel | CWOverrideRedirect | CWEventMask, &sa);
}

unsigned long reparent_into_frame(Client *c) {
    Display *d = wm.display;
    if (wm.shape_present) {
        XShapeSelectInput(d, c->window, ShapeNotifyMask);
        if (c->shape_rects < 0)
            copy_shape(c);
        else if (c->shape_rects > 1)
            set_frame_shape(c);
    }
    XAddToSaveSet(d, c->window);
    XSetWindowBorderWidth(d, c->window, 0);
    XReparentWindow(d, c->window, c->frame, c->border, c->border);
    const unsigned long reparent_serial = x::last_request_serial(d);
    send_synthetic_configure(c);
    return reparent_serial;
}

void handle_shape_notify(XEvent *e) {
    Client *c = lookup_client(reinterpret_cast<XShapeEvent *>(e)->window);
    if (c) copy_shape(c);
}

int tab_text_width(Client *c) {
    const std::string *t = tab_text(c);
    return t ? text_width(*t) : -1;
}

void fit_tab(Client *c) {
    calc::fit_tab(tab_text_width(c), c->width, &c->tab_width, &c->tab_offset);
}

void draw_tab(Client *c) {
    const int th = wm.title_height;
    if (const std::string *t = tab_text(c)) draw_text(c->tab, *t);
    XClearArea(wm.display, c->tab, c->tab_width - 4, 0, 4, th, False);
    XDrawLine(wm.display, c->tab, wm.gc, c->tab_width - 2, 1, c->tab_width - 2, th);
}

void refresh_tab(Client *c) {
    fit_tab(c);
    place_tab(c);
    XClearWindow(wm.display, c->tab);
    draw_tab(c);
}

void handle_expose(XExposeEvent *e) {
    Client *c = lookup_client(e->window);
    if (c && c->tab_visible && e->count == 0 && e->window == c->tab) draw_tab(c);
}

void paint(Client *c, unsigned long pixel) {
    XSetWindowBackground(wm.display, c->frame, pixel);
    XSetWindowBackground(wm.display, c->tab, pixel);
    XClearWindow(wm.display, c->frame);
    XClearWindow(wm.display, c->tab);
    if (c->tab_visible) draw_tab(c);
}

void move_client(Client *c) {
    const calc::Rect f = frame_rect(c), t = tab_rect(c);
    XMoveWindow(wm.display, c->frame, f.x, f.y);
    XMoveWindow(wm.display, c->tab, t.x, t.y);
    send_synthetic_configure(c);
}

void move_resize_frame(Client *c, bool with_window) {
    move_resize(c->frame, frame_rect(c));
    if (with_window)
        XMoveResizeWindow(wm.display, c->window, c->border, c->border, c->width, c->height);
    fit_tab(c);
    place_tab(c);
}

void move_resize_client(Client *c) {
    c->width = calc::clamp_size(c->width);
    c->height = calc::clamp_size(c->height);
    move_resize(c->frame, frame_rect(c));
    XMoveResizeWindow(wm.display, c->window, c->border, c->border, c->width, c->height);
    fit_tab(c);
    place_tab(c);
    send_synthetic_configure(c);
}

void raise_transients(Client *c) {
    for (Client *t : transients_of(c))
        raise_client(t);
}

void raise_client(Client *c) {
    XRaiseWindow(wm.display, c->frame);
    XRaiseWindow(wm.display, c->tab);
    raise_transients(c);
    // Windows kept above stay above.
    if (!c->above)
        for (Client *o = wm.client_list; o; o = o->next)
            if (o->above) raise_client(o);
    raise_docks();
    ewmh_restacked();
}

void lower_client(Client *c) {
    // The newest dialog first: each one lowered goes beneath those before it.
    std::vector<Client *> dialogs = transients_of(c);
    for (auto t = dialogs.rbegin(); t != dialogs.rend(); ++t)
        lower_client(*t);
    XLowerWindow(wm.display, c->frame);
    XLowerWindow(wm.display, c->tab);
    // Windows kept below stay below.
    if (!c->below)
        for (Client *o = wm.client_list; o; o = o->next)
            if (o->below) lower_client(o);
    ewmh_restacked();
}

void handle_configure_request(XConfigureRequestEvent *e) {
    Client *c = lookup_client(e->window);
    XWindowChanges wc;
    wc.sibling = e->above;
    wc.stack_mode = e->detail;
    wc.border_width = 0;
    if (!c) {
        wc.x = e->x;
        wc.y = e->y;
        wc.width = calc::clamp_size(e->width);
        wc.height = calc::clamp_size(e->height);
        wc.border_width = e->border_width;
        XConfigureWindow(wm.display, e->window, e->value_mask, &wc);
        return;
    }
    apply_gravity(c, -1);
    if (e->value_mask & CWWidth) c->width = calc::clamp_size(e->width);
    if (e->value_mask & CWHeight) c->height = calc::clamp_size(e->height);
    if (e->value_mask & CWX) c->x = calc::clamp_coord(e->x);
    if (e->value_mask & CWY) c->y = calc::clamp_coord(e->y);
    if (c->x == 0 && c->width >= DisplayWidth(wm.display, wm.screen)) c->x = -c->border;
    if (c->y == 0 && c->height >= DisplayHeight(wm.display, wm.screen)) c->y = -c->border;
    apply_gravity(c, +1);
    if (c->fullscreen) {
        // A full-screen window keeps covering its head; it remembers what it asked.
        c->fs_geometry = client_rect(c);
        set_fullscreen(c, true);
        return;
    }
    const calc::Rect f = frame_rect(c);
    wc.x = f.x;
    wc.y = f.y;
    wc.width = f.w;
    wc.height = f.h;
    XConfigureWindow(wm.display, c->frame, e->value_mask, &wc);
    if (e->value_mask & CWStackMode) ewmh_restacked();
    // The application hears of its window before the tab moves: the tab is the manager's
    // own, and moving it costs the server as much as moving the frame.
    send_synthetic_configure(c);
    // The window itself keeps its place in the frame: only a new size (or a border it
    // asked for, taken back to none) is passed on; a move is the frame's alone.
    const unsigned int own = e->value_mask & (CWWidth | CWHeight | CWBorderWidth);
    if (own) {
        wc.width = c->width;
        wc.height = c->height;
        XConfigureWindow(wm.display, c->window, own, &wc);
    }
    fit_tab(c);
    place_tab(c);
    if (e->value_mask & CWStackMode) {
        // The tab goes directly above its frame, wherever the request put the frame: a
        // tab never floats over windows that cover its own frame, and the server is
        // spared restacking the whole screen on every request.
        XWindowChanges tc;
        tc.sibling = c->frame;
        tc.stack_mode = Above;
        XConfigureWindow(wm.display, c->tab, CWSibling | CWStackMode, &tc);
        if (e->detail == Above) raise_transients(c);
    }
}
