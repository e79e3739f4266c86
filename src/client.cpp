// Clients: the record and its index, managing, the tab, client requests, releasing,
// closing, hiding and tab toggling.
#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <unordered_map>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include "tavrel.h"

// Every window of every client (client window, frame, tab) to its record, kept in
// step with the list so a lookup never walks it.
static std::unordered_map<Window, Client *> client_index;

static void index_client(Client *c) {
    if (c->window) client_index[c->window] = c;
    if (c->frame) client_index[c->frame] = c;
    if (c->tab) client_index[c->tab] = c;
}

static void unindex_client(Client *c) {
    for (Window w : {c->window, c->frame, c->tab}) {
        auto it = client_index.find(w);
        if (w && it != client_index.end() && it->second == c) client_index.erase(it);
    }
}

Client *lookup_client(Window w) {
    if (w == 0) return nullptr;
    auto it = client_index.find(w);
    if (it == client_index.end() || it->second->doomed) return nullptr;
    return it->second;
}

void write_wm_state(Client *c, long state) {
    long data[2] = {state, None};
    XChangeProperty(wm.display, c->window, wm.atom_wm_state, wm.atom_wm_state, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(data), 2);
}

void send_synthetic_configure(Client *c) {
    XConfigureEvent ce{};
    ce.type = ConfigureNotify;
    ce.display = wm.display;
    ce.event = c->window;
    ce.window = c->window;
    ce.x = c->x;
    ce.y = c->y;
    ce.width = c->width;
    ce.height = c->height;
    ce.border_width = 0;
    ce.above = None;
    ce.override_redirect = False;
    XSendEvent(wm.display, c->window, False, StructureNotifyMask, reinterpret_cast<XEvent *>(&ce));
}

void apply_gravity(Client *c, int sign) {
    int dx, dy;
    bool has = c->size_hints && (c->size_hints->flags & PWinGravity);
    calc::gravity_offset(has, has ? c->size_hints->win_gravity : 0, c->border, &dx, &dy);
    c->x = calc::clamp_coord(static_cast<long long>(c->x) + sign * dx);
    c->y = calc::clamp_coord(static_cast<long long>(c->y) + sign * dy);
}

const char *tab_text(Client *c) {
    return c->net_name ? c->net_name : c->name;
}

// Only what fits in any tab is measured and drawn.
static int tab_text_length(const char *s) {
    size_t n = std::strlen(s);
    return n > 1024 ? 1024 : static_cast<int>(n);
}

int tab_text_width(Client *c) {
    const char *t = tab_text(c);
    if (!t) return -1;
    return XTextWidth(wm.font, t, tab_text_length(t));
}

void fit_tab(Client *c) {
    calc::fit_tab(tab_text_width(c), c->width, &c->tab_width, &c->tab_offset);
}

void draw_tab(Client *c) {
    const int th = wm.title_height;
    if (const char *t = tab_text(c))
        XDrawString(wm.display, c->tab, wm.gc, 2, th - 3, t, tab_text_length(t));
    XClearArea(wm.display, c->tab, c->tab_width - 4, 0, 4, th, False);
    XDrawLine(wm.display, c->tab, wm.gc, c->tab_width - 2, 1, c->tab_width - 2, th);
}

void handle_expose(XExposeEvent *e) {
    Client *c = lookup_client(e->window);
    if (c && c->tab_visible && e->count == 0 && e->window == c->tab) draw_tab(c);
}

static unsigned int tab_width_px(Client *c) {
    return calc::clamp_size(c->tab_width);
}
static unsigned int frame_w(Client *c) {
    return calc::clamp_size(c->width + 2LL * c->border);
}
static unsigned int frame_h(Client *c) {
    return calc::clamp_size(c->height + 2LL * c->border);
}

void place_client(Client *c) {
    int px = 0, py = 0;
    query_pointer_root(&px, &py);
    place_client_at(c, px, py);
}

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
    in.hint_flags = c->size_hints->flags;
    in.hint_x = c->size_hints->x;
    in.hint_y = c->size_hints->y;
    in.px = px;
    in.py = py;
    in.head = head_rect(head_at(px, py));
    calc::PlaceOutput out = calc::place(in);
    c->x = out.x;
    c->y = out.y;
    c->width = out.w;
    c->height = out.h;
}

static void set_frame_shape(Client *c);

// The serial of the request just made. Read after the request: the X library learns the
// numbers its XCB connection used for requests of its own only when it makes the next one.
static unsigned long last_request_serial() {
    return NextRequest(wm.display) - 1;
}

// The serial of build_frame's reparenting of the client window into its frame.
static unsigned long last_reparent_serial = 0;

void build_frame(Client *c) {
    Display *d = wm.display;
    XSelectInput(d, c->window, PropertyChangeMask | EnterWindowMask);
    XSetWindowAttributes sa;
    sa.background_pixel = wm.bg_pixel;
    sa.override_redirect = True;
    sa.event_mask =
        ButtonPressMask | EnterWindowMask | SubstructureNotifyMask | SubstructureRedirectMask;
    c->frame =
        XCreateWindow(d, wm.root, c->x - c->border, c->y - c->border, frame_w(c), frame_h(c), 0,
                      DefaultDepth(d, wm.screen), CopyFromParent, DefaultVisual(d, wm.screen),
                      CWBackPixel | CWOverrideRedirect | CWEventMask, &sa);
    if (c->tab_width > c->width) c->tab_width = c->width;
    sa.event_mask |= ExposureMask;
    c->tab = XCreateWindow(d, wm.root, c->x - c->border, c->y - c->border - wm.title_height,
                           tab_width_px(c), wm.title_height, 0, DefaultDepth(d, wm.screen),
                           CopyFromParent, DefaultVisual(d, wm.screen),
                           CWBackPixel | CWOverrideRedirect | CWEventMask, &sa);
    index_client(c);
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
    last_reparent_serial = last_request_serial();
    send_synthetic_configure(c);
}

static void set_frame_shape(Client *c) {
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

void handle_shape_notify(XEvent *e) {
    Client *c = lookup_client(reinterpret_cast<XShapeEvent *>(e)->window);
    if (c) copy_shape(c);
}

static void free_client_memory(Client *c) {
    if (c->size_hints) XFree(c->size_hints);
    if (c->name) XFree(c->name);
    std::free(c->net_name);
    delete c;
}

static void unlink_client(Client *c) {
    if (wm.client_list == c) {
        wm.client_list = c->next;
    } else {
        for (Client *p = wm.client_list; p; p = p->next) {
            if (p->next == c) {
                p->next = c->next;
                break;
            }
        }
    }
    --wm.client_count;
}

static bool window_is_managed_elsewhere(Window w) {
    if (w == 0 || w == wm.root) return true;
    auto it = client_index.find(w);
    return it != client_index.end();
}

namespace {

// Everything the manager reads about a window it takes over, asked for in one batch:
// the requests go out together and the replies come back in one round trip.
struct WindowFacts {
    bool exists = false;
    bool top_level = false; // a child of the root
    bool override_redirect = false;
    int map_state = IsUnmapped;
    int x = 0, y = 0, width = 1, height = 1;
    char *name = nullptr;     // WM_NAME as a Latin-1 STRING (XFree-able)
    char *net_name = nullptr; // _NET_WM_NAME in Latin-1 when it fits (malloc)
    bool has_hints = false;
    XSizeHints hints{};
    bool has_wm_hints = false;
    long wm_hints_flags = 0;
    bool input = true;
    int initial_state = NormalState;
    bool takes_focus = false;
    bool dock = false;
    bool fullscreen = false;   // asks to start full-screen
    char *res_class = nullptr; // malloc
    int px = 0, py = 0;
    int shape_rects = -1; // rectangles of the bounding shape; -1 when not asked
};

xcb_get_property_cookie_t ask_property(xcb_connection_t *xc, Window w, Atom prop, Atom type,
                                       uint32_t longs) {
    return xcb_get_property(xc, 0, static_cast<xcb_window_t>(w), static_cast<xcb_atom_t>(prop),
                            static_cast<xcb_atom_t>(type), 0, longs);
}

// The property's value when it has the given type and format, else null (freed by caller
// through the reply).
const void *property_value(xcb_get_property_reply_t *r, Atom type, int format, int *items) {
    *items = 0;
    if (!r || r->type != type || r->format != format) return nullptr;
    *items = xcb_get_property_value_length(r) / (format / 8);
    return xcb_get_property_value(r);
}

bool atom_listed(xcb_get_property_reply_t *r, Atom atom) {
    int n;
    auto *list = static_cast<const uint32_t *>(property_value(r, XA_ATOM, 32, &n));
    for (int i = 0; list && i < n; ++i)
        if (list[i] == atom) return true;
    return false;
}

void read_size_hints(xcb_get_property_reply_t *r, WindowFacts *f) {
    int n;
    auto *v = static_cast<const uint32_t *>(property_value(r, XA_WM_SIZE_HINTS, 32, &n));
    if (!v || n < 15) return;
    auto at = [&](int i) { return static_cast<int>(static_cast<int32_t>(v[i])); };
    XSizeHints &h = f->hints;
    h.flags = static_cast<long>(v[0]) & (USPosition | USSize | PAllHints);
    h.x = at(1);
    h.y = at(2);
    h.width = at(3);
    h.height = at(4);
    h.min_width = at(5);
    h.min_height = at(6);
    h.max_width = at(7);
    h.max_height = at(8);
    h.width_inc = at(9);
    h.height_inc = at(10);
    h.min_aspect.x = at(11);
    h.min_aspect.y = at(12);
    h.max_aspect.x = at(13);
    h.max_aspect.y = at(14);
    if (n >= 18) {
        h.flags |= static_cast<long>(v[0]) & (PBaseSize | PWinGravity);
        h.base_width = at(15);
        h.base_height = at(16);
        h.win_gravity = at(17);
    }
    f->has_hints = true;
}

void fetch_window_facts(Window w, WindowFacts *f) {
    xcb_connection_t *xc = XGetXCBConnection(wm.display);
    const xcb_window_t xw = static_cast<xcb_window_t>(w);
    auto attr_c = xcb_get_window_attributes(xc, xw);
    auto geom_c = xcb_get_geometry(xc, xw);
    auto tree_c = xcb_query_tree(xc, xw);
    auto name_c = ask_property(xc, w, XA_WM_NAME, XA_STRING, 16384);
    auto net_name_c = ask_property(xc, w, net_atoms.net_wm_name, net_atoms.utf8_string, 16384);
    auto hints_c = ask_property(xc, w, XA_WM_NORMAL_HINTS, XA_WM_SIZE_HINTS, 18);
    auto wm_hints_c = ask_property(xc, w, XA_WM_HINTS, XA_WM_HINTS, 9);
    auto protocols_c = ask_property(xc, w, wm.atom_wm_protocols, XA_ATOM, 64);
    auto type_c = ask_property(xc, w, net_atoms.net_wm_window_type, XA_ATOM, 32);
    auto state_c = ask_property(xc, w, net_atoms.net_wm_state, XA_ATOM, 32);
    xcb_get_property_cookie_t class_c{};
    if (settings.tabless_list) class_c = ask_property(xc, w, XA_WM_CLASS, XA_STRING, 256);
    auto pointer_c = xcb_query_pointer(xc, static_cast<xcb_window_t>(wm.root));
    xcb_shape_get_rectangles_cookie_t shape_c{};
    if (wm.shape_present) shape_c = xcb_shape_get_rectangles(xc, xw, XCB_SHAPE_SK_BOUNDING);

    // The replies come in the order of the requests: waiting for the last one first
    // means the others are already here, and the wait happens once.
    auto *shape = wm.shape_present ? xcb_shape_get_rectangles_reply(xc, shape_c, nullptr) : nullptr;
    if (shape) f->shape_rects = xcb_shape_get_rectangles_rectangles_length(shape);
    auto *pointer = xcb_query_pointer_reply(xc, pointer_c, nullptr);
    xcb_generic_error_t *err = nullptr;
    auto *attr = xcb_get_window_attributes_reply(xc, attr_c, &err);
    auto *geom = xcb_get_geometry_reply(xc, geom_c, nullptr);
    auto *tree = xcb_query_tree_reply(xc, tree_c, nullptr);
    auto *name = xcb_get_property_reply(xc, name_c, nullptr);
    auto *net_name = xcb_get_property_reply(xc, net_name_c, nullptr);
    auto *hints = xcb_get_property_reply(xc, hints_c, nullptr);
    auto *wm_hints = xcb_get_property_reply(xc, wm_hints_c, nullptr);
    auto *protocols = xcb_get_property_reply(xc, protocols_c, nullptr);
    auto *type = xcb_get_property_reply(xc, type_c, nullptr);
    auto *state = xcb_get_property_reply(xc, state_c, nullptr);
    auto *cls = settings.tabless_list ? xcb_get_property_reply(xc, class_c, nullptr) : nullptr;

    f->exists = attr && geom && !err;
    f->top_level = tree && tree->parent == static_cast<xcb_window_t>(wm.root);
    if (f->exists) {
        f->override_redirect = attr->override_redirect;
        f->map_state = attr->map_state;
        f->x = geom->x;
        f->y = geom->y;
        f->width = geom->width;
        f->height = geom->height;
        int n;
        if (auto *v = static_cast<const char *>(property_value(name, XA_STRING, 8, &n))) {
            f->name = static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1));
            if (f->name) {
                std::memcpy(f->name, v, static_cast<size_t>(n));
                f->name[n] = '\0';
            }
        }
        if (auto *v = static_cast<const unsigned char *>(
                property_value(net_name, net_atoms.utf8_string, 8, &n));
            v && n > 0)
            f->net_name = latin1_from_utf8(v, static_cast<size_t>(n));
        read_size_hints(hints, f);
        if (auto *v = static_cast<const uint32_t *>(property_value(wm_hints, XA_WM_HINTS, 32, &n));
            v && n >= 8) {
            f->has_wm_hints = true;
            f->wm_hints_flags = static_cast<long>(v[0]);
            if (v[0] & InputHint) f->input = v[1] != 0;
            if (v[0] & StateHint) f->initial_state = static_cast<int>(static_cast<int32_t>(v[2]));
        }
        f->takes_focus = atom_listed(protocols, net_atoms.wm_take_focus);
        f->dock = atom_listed(type, net_atoms.net_wm_window_type_dock);
        f->fullscreen = atom_listed(state, net_atoms.net_wm_state_fullscreen);
        if (auto *v = static_cast<const char *>(property_value(cls, XA_STRING, 8, &n))) {
            // "instance\0class\0": the class is the second string.
            const char *end = v + n;
            const char *second = static_cast<const char *>(std::memchr(v, '\0', n));
            if (second && ++second < end) {
                size_t len = strnlen(second, static_cast<size_t>(end - second));
                f->res_class = static_cast<char *>(std::malloc(len + 1));
                if (f->res_class) {
                    std::memcpy(f->res_class, second, len);
                    f->res_class[len] = '\0';
                }
            }
        }
        if (pointer) {
            f->px = pointer->root_x;
            f->py = pointer->root_y;
        }
    }
    for (void *p :
         {static_cast<void *>(attr), static_cast<void *>(geom), static_cast<void *>(tree),
          static_cast<void *>(name), static_cast<void *>(net_name), static_cast<void *>(hints),
          static_cast<void *>(wm_hints), static_cast<void *>(protocols), static_cast<void *>(type),
          static_cast<void *>(state), static_cast<void *>(cls), static_cast<void *>(pointer),
          static_cast<void *>(shape), static_cast<void *>(err)})
        std::free(p);
}

} // namespace

void new_client(Window w, bool only_if_shown) {
    Display *d = wm.display;
    // Never the root, nor one of the manager's own windows.
    if (window_is_managed_elsewhere(w)) return;
    XGrabServer(d);
    Client *c = new (std::nothrow) Client;
    XSizeHints *hints = c ? XAllocSizeHints() : nullptr;
    if (!c || !hints) {
        std::fputs("out of memory in new_client; limping onward\n", stderr);
        delete c;
        if (hints) XFree(hints);
        XUngrabServer(d);
        return;
    }
    WindowFacts f;
    fetch_window_facts(w, &f);
    c->size_hints = hints;
    c->name = f.name;
    c->net_name = f.net_name;
    // A window that is gone is abandoned, and so is one that is no longer a child of the
    // root: its application put it into another of its windows after asking to map it,
    // or somebody sent a map request naming an inner window. Override-redirect windows
    // and docks place themselves and are not framed.
    if (!f.exists || !f.top_level || f.override_redirect || f.dock ||
        (only_if_shown && f.map_state != IsViewable)) {
        if (f.exists && f.top_level && f.dock && !f.override_redirect) XMapWindow(d, w);
        std::free(f.res_class);
        free_client_memory(c);
        XUngrabServer(d);
        return;
    }
    c->next = wm.client_list;
    wm.client_list = c;
    ++wm.client_count;
    c->window = w;
    index_client(c);
    c->ignore_unmap.clear();
    c->iconic = 0;
    c->tab_offset = 0;
    c->tab_width = c->name || c->net_name ? tab_text_width(c) + 8 : 6;
    if (f.has_hints) {
        *hints = f.hints;
    } else {
        hints->width_inc = 1;
        hints->height_inc = 1;
    }
    c->x = f.x;
    c->y = f.y;
    c->width = calc::clamp_size(f.width);
    c->height = calc::clamp_size(f.height);
    c->border = settings.border_width;
    c->saved_width = c->saved_height = 0;
    c->tab_visible = c->border != 0;
    c->desktop = wm.current_desktop;
    c->accepts_input = f.input;
    c->takes_focus = f.takes_focus;
    c->shape_rects = f.shape_rects;
    bool start_hidden = false;
    const bool viewable = f.map_state == IsViewable;
    if (!viewable) {
        place_client_at(c, f.px, f.py);
        if (f.wm_hints_flags & StateHint) {
            write_wm_state(c, f.initial_state);
            start_hidden = f.initial_state == IconicState;
        }
    }
    apply_gravity(c, +1);
    // Placement may have enlarged or shrunk the window: it gets the size its frame holds.
    if (c->width != f.width || c->height != f.height) XResizeWindow(d, w, c->width, c->height);
    build_frame(c);
    // Reparenting a window that is mapped unmaps it first: that report is the manager's.
    if (viewable) c->ignore_unmap.push_back({last_reparent_serial, c->window});
    map_own(c);
    XMapRaised(d, c->frame);
    if (c->border != 0) XMapRaised(d, c->tab);
    write_wm_state(c, NormalState);
    // Errors about the window now come back with the next read and release the client
    // before the next event; no round trip is spent waiting for them here.
    XUngrabServer(d);
    if (f.res_class && calc::class_in_list(settings.tabless_list, f.res_class)) toggle_tab(c);
    std::free(f.res_class);
    ewmh_client_new(c);
    if (f.fullscreen) set_fullscreen(c, true);
    if (start_hidden) toggle_hidden(c);
}

void handle_map_request(XMapRequestEvent *e) {
    Client *c = lookup_client(e->window);
    if (c) {
        // A request naming a frame or a tab comes from somebody else: ignored.
        if (e->window != c->window) return;
        if (c->desktop != 0 && c->desktop != wm.current_desktop) switch_desktop(c->desktop);
        map_client(c);
        return;
    }
    // Anybody can send a map request naming any window: new_client takes only direct
    // children of the root.
    new_client(e->window);
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
        c->fs_x = c->x;
        c->fs_y = c->y;
        c->fs_width = c->width;
        c->fs_height = c->height;
        set_fullscreen(c, true);
        return;
    }
    wc.x = c->x - c->border;
    wc.y = c->y - c->border;
    wc.width = frame_w(c);
    wc.height = frame_h(c);
    XConfigureWindow(wm.display, c->frame, e->value_mask, &wc);
    if (e->value_mask & CWStackMode) ewmh_restacked();
    fit_tab(c);
    XMoveResizeWindow(wm.display, c->tab, c->x - c->border + c->tab_offset,
                      c->y - c->border - wm.title_height, tab_width_px(c), wm.title_height);
    // The tab goes directly above its frame, wherever the request put the frame: a tab
    // never floats over windows that cover its own frame, and the server is spared
    // restacking the whole screen on every request.
    XWindowChanges tc;
    tc.sibling = c->frame;
    tc.stack_mode = Above;
    XConfigureWindow(wm.display, c->tab, CWSibling | CWStackMode, &tc);
    send_synthetic_configure(c);
    wc.x = c->border;
    wc.y = c->border;
    wc.width = c->width;
    wc.height = c->height;
    XConfigureWindow(wm.display, c->window, e->value_mask, &wc);
}

void handle_property_notify(XPropertyEvent *e) {
    Client *c = lookup_client(e->window);
    if (!c || e->window != c->window) return;
    if (e->atom == XA_WM_NORMAL_HINTS) {
        long supplied = 0;
        XSizeHints fresh{};
        // Read into a copy: the record keeps its content when the property is gone.
        if (XGetWMNormalHints(wm.display, c->window, &fresh, &supplied) && !c->doomed)
            *c->size_hints = fresh;
        return;
    }
    if (e->atom == XA_WM_NAME) {
        if (c->name) XFree(c->name);
        c->name = nullptr;
        char *name = nullptr;
        XFetchName(wm.display, c->window, &name);
        if (c->doomed) {
            if (name) XFree(name);
            return;
        }
        c->name = name;
    } else if (!ewmh_property_changed(c, e->atom) || c->doomed) {
        return;
    }
    fit_tab(c);
    XMoveResizeWindow(wm.display, c->tab, c->x - c->border + c->tab_offset,
                      c->y - c->border - wm.title_height, tab_width_px(c), wm.title_height);
    XClearWindow(wm.display, c->tab);
    draw_tab(c);
}

// The children of one of the manager's windows (empty when it is gone).
static std::vector<Window> children_of(Window holder) {
    Window root_ret, parent_ret, *children = nullptr;
    unsigned int n = 0;
    if (!holder || !XQueryTree(wm.display, holder, &root_ret, &parent_ret, &children, &n))
        return {};
    std::vector<Window> out(children, children + n);
    if (children) XFree(children);
    return out;
}

// Whatever else is inside the frame or the tab when they are about to be destroyed goes
// back to the root first: windows other clients put there, and a client window its
// application took out and put back before the manager heard of it. Destroying them
// with the frame would lose them.
static void hand_back_strays(const std::vector<Window> &strays) {
    for (Window w : strays) {
        XWindowAttributes a;
        if (XGetWindowAttributes(wm.display, w, &a))
            XReparentWindow(wm.display, w, wm.root, a.x, a.y);
    }
}

// Drops the report of the window's own map that reparenting it to the root while mapped
// has just caused: the manager let it go, and must not take it back for a window shown
// behind its back (see handle_map_notify).
static Bool is_map_of(Display *, XEvent *ev, XPointer arg) {
    return ev->type == MapNotify && ev->xmap.event == wm.root &&
           ev->xmap.window == *reinterpret_cast<Window *>(arg);
}

void unmanage_client(Client *c, bool window_unmapped) {
    Display *d = wm.display;
    XGrabServer(d);
    XSetErrorHandler(ignore_errors_handler);
    // Under the grab, what the frame holds is final. The client window may be gone
    // already (destroyed, its application disconnected) with the report still on its
    // way: then its id may already name a new window of another application, which
    // the manager must not move, resize or mark withdrawn. Only a window still in the
    // frame is handed back.
    std::vector<Window> held = children_of(c->frame);
    const bool inside = std::erase(held, c->window) > 0;
    if (!wm.quitting || c->reparented_away) XRemoveFromSaveSet(d, c->window);
    if (inside) {
        if (!wm.quitting) write_wm_state(c, WithdrawnState);
        apply_gravity(c, -1);
        XSetWindowBorderWidth(d, c->window, 1);
        XReparentWindow(d, c->window, wm.root, c->x, c->y);
    }
    for (Window w : children_of(c->tab))
        held.push_back(w);
    hand_back_strays(held);
    if (c->frame) XDestroyWindow(d, c->frame);
    if (c->tab) XDestroyWindow(d, c->tab);
    unlink_client(c);
    unindex_client(c);
    Window gone = c->window;
    if (wm.active == c) wm.active = nullptr;
    free_client_memory(c);
    XSync(d, False);
    XSetErrorHandler(error_handler);
    // The shutdown holds the server until the end.
    if (wm.quitting) return;
    XUngrabServer(d);
    // (After an unmap report, only a window its application made override-redirect and
    // mapped again can be mapped here, and the manager never takes such a window back:
    // the queue need not be searched on every withdrawal.)
    if (inside && !window_unmapped) {
        XEvent ev;
        while (XCheckIfEvent(d, &ev, is_map_of, reinterpret_cast<XPointer>(&gone))) {
        }
    }
    ewmh_client_gone(gone);
}

namespace {

// What the reports still queued for a window just released tell of its application's
// last word, once the release has made the server answer everything before it.
struct ReleaseWitness {
    Window window, frame;
    unsigned long own_map;
    std::vector<OwnUnmap> own_unmaps;

    struct Scan {
        const ReleaseWitness *w;
        bool mapped = false;
    };

    // Looks at each queued event and takes none.
    static Bool look(Display *, XEvent *ev, XPointer arg) {
        auto *scan = reinterpret_cast<Scan *>(arg);
        const ReleaseWitness &w = *scan->w;
        if (ev->type == MapNotify && ev->xmap.event == w.frame && ev->xmap.window == w.window &&
            ev->xmap.override_redirect && ev->xmap.serial != w.own_map)
            scan->mapped = true;
        if (ev->type == UnmapNotify && ev->xunmap.event == w.frame &&
            ev->xunmap.window == w.window &&
            std::none_of(w.own_unmaps.begin(), w.own_unmaps.end(), [&](const OwnUnmap &u) {
                return u.window == w.window && u.serial == ev->xunmap.serial;
            }))
            scan->mapped = false;
        return False;
    }

    // True when the application's own map (possible only without redirection) came
    // after its unmap, and no unmap but the manager's followed.
    bool mapped_again_by_itself() const {
        Scan scan{this};
        XEvent ev;
        XCheckIfEvent(wm.display, &ev, look, reinterpret_cast<XPointer>(&scan));
        return scan.mapped;
    }
};

} // namespace

void handle_unmap_notify(XUnmapEvent *e) {
    Client *c = lookup_client(e->window);
    if (!c) return;
    // A client window's unmap reported by the frame of an earlier management of the same
    // window (released, then managed again before the report arrived) is history.
    if (!e->send_event && e->window == c->window && e->event != c->frame && e->event != wm.root)
        return;
    // An application's unmap (or the UnmapNotify it sends, as the ICCCM has it withdraw
    // a window that may be unmapped already) that the server delivered before the
    // manager's latest map of the window speaks of an earlier state: the manager,
    // not knowing yet, has mapped the window again since (taking it over, restoring it,
    // showing its desktop), and the application has been told so by the MapNotify. Its
    // own map in between found the window mapped and did nothing, so taking the
    // withdrawal now would leave a window it believes mapped unmapped, or mapped on the
    // root without a frame. The window stays managed, as it is shown.
    const bool superseded = e->window == c->window && e->serial < c->map_serial;
    if (e->send_event) {
        // A sent unmap naming a frame or a tab speaks for nobody.
        if (e->window == c->window && !superseded) unmanage_client(c);
        return;
    }
    // Reports come in the order the server made them, each carrying the serial of the
    // manager's last request processed by then: the report of an own unmap carries that
    // unmap's serial. An own unmap older than this report and not reported yet found its
    // window unmapped already (the application had unmapped it first) and is never
    // reported.
    bool own = false;
    std::erase_if(c->ignore_unmap, [&](const OwnUnmap &u) {
        if (!own && u.serial == e->serial && u.window == e->window) {
            own = true;
            return true;
        }
        return u.serial < e->serial;
    });
    if (own) return;
    if (superseded) {
        // Kept, in case the window is being moved out of the frame: see below.
        c->overtaken_unmap_serial = e->serial;
        return;
    }
    // An application whose window redirects nothing may have mapped it again itself
    // right after this unmap, and an unmap of the manager's (leaving its desktop, say)
    // may have undone that before the manager knew: the window is left as its
    // application last put it. Only an unmap of the manager's made after this report
    // can have undone anything; without one the queue is not looked at.
    const bool own_unmap_later =
        std::any_of(c->ignore_unmap.begin(), c->ignore_unmap.end(), [&](const OwnUnmap &u) {
            return u.window == c->window && u.serial > e->serial;
        });
    std::optional<ReleaseWitness> witness;
    if (own_unmap_later)
        witness = ReleaseWitness{c->window, c->frame, c->map_serial, c->ignore_unmap};
    unmanage_client(c, true);
    if (witness && witness->mapped_again_by_itself()) XMapWindow(wm.display, witness->window);
}

void map_own(Client *c, bool raise) {
    // Raising is a request of its own before the map.
    if (raise)
        XMapRaised(wm.display, c->window);
    else
        XMapWindow(wm.display, c->window);
    c->map_serial = last_request_serial();
}

void unmap_own(Client *c, Window w) {
    XUnmapWindow(wm.display, w);
    c->ignore_unmap.push_back({last_request_serial(), w});
}

void handle_reparent_notify(XReparentEvent *e) {
    // The application moved its window out of the frame (into another window, or back
    // to the root) while it was unmapped, so no unmap said so: the frame and tab go,
    // and the window stays where its application put it.
    // Only the current frame's report counts: reports from a frame of an earlier
    // management of the same window are history.
    Client *c = lookup_client(e->window);
    if (!c || c->window != e->window || e->event != c->frame || e->parent == c->frame) return;
    // The manager may have mapped or unmapped the window since (showing or leaving its
    // desktop, restoring or hiding it), not knowing yet that it had left: that landed
    // wherever the window is now. In another window it goes back to how its application
    // left it: mapped only if it was mapped in the frame when it left, which the unmap
    // reported with the same serial says. On the root it stays as it is: a map of the
    // manager's that showed it there is reported next and takes it under management
    // (see handle_map_notify). Unmapping it instead could swallow a map its application
    // sent since, which found it mapped and asked the manager nothing.
    bool touched = c->map_serial > e->serial;
    for (const OwnUnmap &u : c->ignore_unmap)
        touched = touched || (u.window == c->window && u.serial > e->serial);
    const bool was_mapped = e->parent != wm.root && c->overtaken_unmap_serial == e->serial;
    const Window w = c->window;
    c->reparented_away = true;
    unmanage_client(c);
    if (!touched || e->parent == wm.root) return;
    if (was_mapped)
        XMapWindow(wm.display, w);
    else
        XUnmapWindow(wm.display, w);
}

void handle_map_notify(XMapEvent *e) {
    // A top-level window that is not the manager's and does not redirect its map gets
    // mapped only through a map request to the manager, or by the manager itself. One
    // mapped otherwise was mapped by a request the manager made for a window that had
    // just gone, whose id a new window of another application had taken meanwhile: it
    // is taken under management as if it had asked.
    if (e->event != wm.root || e->override_redirect || lookup_client(e->window)) return;
    new_client(e->window, true);
}

void handle_destroy_notify(XDestroyWindowEvent *e) {
    // A window destroyed while it was unmapped (hidden, or on a desktop not shown)
    // sends no unmap: its client is released here.
    Client *c = lookup_client(e->window);
    if (c && c->window == e->window) unmanage_client(c);
}

void close_client(Client *c) {
    if (!c) return;
    Atom *protocols = nullptr;
    int n = 0;
    Window w = c->window;
    if (XGetWMProtocols(wm.display, w, &protocols, &n)) {
        int count = 0;
        for (int i = 0; i < n; ++i)
            if (protocols[i] == wm.atom_wm_delete_window) ++count;
        if (protocols) XFree(protocols);
        if (c->doomed) return;
        if (count) {
            XEvent ev{};
            ev.xclient.type = ClientMessage;
            ev.xclient.window = w;
            ev.xclient.message_type = wm.atom_wm_protocols;
            ev.xclient.format = 32;
            ev.xclient.data.l[0] = static_cast<long>(wm.atom_wm_delete_window);
            ev.xclient.data.l[1] = CurrentTime;
            XSendEvent(wm.display, w, False, NoEventMask, &ev);
            return;
        }
    }
    if (c->doomed) return;
    XKillClient(wm.display, w);
}

// Whether the client's desktop is being shown: only then are its windows mapped, and only
// then does unmapping them cause unmaps to count. Extended-hint requests can hide, restore
// or untab a client of another desktop.
static bool in_view(const Client *c) {
    return c->desktop == 0 || c->desktop == wm.current_desktop;
}

void toggle_iconic(Client *c) {
    Display *d = wm.display;
    const bool shown = in_view(c);
    if (c->iconic) {
        // The count of unmaps still on their way is kept: a hide handled just before
        // must not turn into a release when its unmaps arrive.
        c->iconic = 0;
        if (shown) {
            XMapWindow(d, c->frame);
            map_own(c);
            write_wm_state(c, NormalState);
            focus_client(c);
        }
    } else {
        if (shown) {
            unmap_own(c, c->frame);
            unmap_own(c, c->window);
        }
        write_wm_state(c, IconicState);
        c->iconic = 1;
    }
    ewmh_update_state(c);
}

void toggle_tab(Client *c) {
    if (c->iconic) toggle_iconic(c);
    const bool shown = in_view(c);
    if (c->tab_visible) {
        if (shown) unmap_own(c, c->tab);
        c->tab_visible = 0;
    } else {
        if (shown) XMapWindow(wm.display, c->tab);
        c->tab_visible = 1;
    }
    ewmh_frame_extents(c);
}

void toggle_hidden(Client *c) {
    if (!c->tab_visible && !c->iconic) {
        if (in_view(c)) XMapWindow(wm.display, c->tab);
        c->tab_visible = 1;
        ewmh_frame_extents(c);
    }
    toggle_iconic(c);
}

void map_client(Client *c) {
    if (c->tab_visible) XMapRaised(wm.display, c->tab);
    if (!c->iconic) {
        XMapRaised(wm.display, c->frame);
        map_own(c, true);
    }
    write_wm_state(c, NormalState);
    ewmh_restacked();
}
