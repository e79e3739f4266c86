// Clients: the record and its index, managing, the tab, client requests, releasing,
// closing, hiding and tab toggling.
#include <X11/Xatom.h>
#include <X11/extensions/shape.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>

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
        copy_shape(c);
    }
    XAddToSaveSet(d, c->window);
    XSetWindowBorderWidth(d, c->window, 0);
    XReparentWindow(d, c->window, c->frame, c->border, c->border);
    send_synthetic_configure(c);
}

void copy_shape(Client *c) {
    int count = 0, ordering = 0;
    XRectangle *rects =
        XShapeGetRectangles(wm.display, c->window, ShapeBounding, &count, &ordering);
    if (count > 1)
        XShapeCombineShape(wm.display, c->frame, ShapeBounding, c->border, c->border, c->window,
                           ShapeBounding, ShapeSet);
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

void new_client(Window w) {
    Display *d = wm.display;
    // Never the root, nor one of the manager's own windows.
    if (window_is_managed_elsewhere(w)) return;
    XGrabServer(d);
    Client *c = new (std::nothrow) Client;
    XSizeHints *hints = c ? XAllocSizeHints() : nullptr;
    if (!c || !hints) {
        std::fputs("out of memory in new_client; limping onward\n", stderr);
        delete c;
        XUngrabServer(d);
        return;
    }
    wm.pending_window = w;
    XFetchName(d, w, &c->name);
    XWindowAttributes attr;
    bool ok = wm.pending_window != 0;
    if (ok) ok = XGetWindowAttributes(d, w, &attr) && wm.pending_window != 0;
    // Override-redirect windows and docks place themselves: they are not framed.
    if (ok && (attr.override_redirect || ewmh_is_dock(w))) {
        if (!attr.override_redirect && wm.pending_window != 0) XMapWindow(d, w);
        ok = false;
    }
    if (!ok) {
        wm.pending_window = 0;
        c->size_hints = hints;
        free_client_memory(c);
        XSync(d, False);
        XUngrabServer(d);
        return;
    }
    wm.pending_window = 0;
    c->next = wm.client_list;
    wm.client_list = c;
    ++wm.client_count;
    c->window = w;
    index_client(c);
    c->ignore_unmap = 0;
    c->iconic = 0;
    c->tab_offset = 0;
    c->size_hints = hints;
    ewmh_read_client(c); // extended name, protocols
    c->tab_width = c->name || c->net_name ? tab_text_width(c) + 8 : 6;
    hints->width_inc = 1;
    hints->height_inc = 1;
    long supplied = 0;
    XGetWMNormalHints(d, w, hints, &supplied);
    c->x = attr.x;
    c->y = attr.y;
    c->width = calc::clamp_size(attr.width);
    c->height = calc::clamp_size(attr.height);
    c->border = settings.border_width;
    c->saved_width = c->saved_height = 0;
    c->tab_visible = c->border != 0;
    c->desktop = wm.current_desktop;
    bool start_hidden = false;
    XWMHints *wh = XGetWMHints(d, w);
    c->accepts_input = !(wh && (wh->flags & InputHint)) || wh->input;
    if (attr.map_state == IsViewable) {
        c->ignore_unmap += 1;
    } else {
        place_client(c);
        if (wh && (wh->flags & StateHint)) {
            write_wm_state(c, wh->initial_state);
            start_hidden = wh->initial_state == IconicState;
        }
    }
    if (wh) XFree(wh);
    apply_gravity(c, +1);
    // Placement may have enlarged or shrunk the window: it gets the size its frame holds.
    if (c->width != attr.width || c->height != attr.height)
        XResizeWindow(d, w, c->width, c->height);
    build_frame(c);
    XMapWindow(d, c->window);
    XMapRaised(d, c->frame);
    if (c->border != 0) XMapRaised(d, c->tab);
    write_wm_state(c, NormalState);
    XSync(d, False);
    XUngrabServer(d);
    if (c->doomed) return;
    if (settings.tabless_list) {
        if (XClassHint *ch = XAllocClassHint()) {
            if (XGetClassHint(d, w, ch) && !c->doomed && ch->res_class) {
                if (calc::class_in_list(settings.tabless_list, ch->res_class)) toggle_tab(c);
            }
            if (ch->res_name) XFree(ch->res_name);
            if (ch->res_class) XFree(ch->res_class);
            XFree(ch);
        }
        if (c->doomed) return;
    }
    ewmh_client_new(c);
    if (start_hidden && !c->doomed) toggle_hidden(c);
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
    if (e->send_event) {
        // Anybody can send a map request naming any window: only direct children of
        // the root are taken under management.
        Window root_ret, parent = 0, *children = nullptr;
        unsigned int n = 0;
        Status ok = XQueryTree(wm.display, e->window, &root_ret, &parent, &children, &n);
        if (children) XFree(children);
        if (!ok || parent != wm.root) return;
    }
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
    fit_tab(c);
    XMoveResizeWindow(wm.display, c->tab, c->x - c->border + c->tab_offset,
                      c->y - c->border - wm.title_height, tab_width_px(c), wm.title_height);
    XRaiseWindow(wm.display, c->tab);
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

void unmanage_client(Client *c) {
    Display *d = wm.display;
    XGrabServer(d);
    XSetErrorHandler(ignore_errors_handler);
    if (!wm.quitting) {
        write_wm_state(c, WithdrawnState);
        XRemoveFromSaveSet(d, c->window);
    }
    apply_gravity(c, -1);
    XSetWindowBorderWidth(d, c->window, 1);
    XReparentWindow(d, c->window, wm.root, c->x, c->y);
    if (c->frame) XDestroyWindow(d, c->frame);
    if (c->tab) XDestroyWindow(d, c->tab);
    unlink_client(c);
    unindex_client(c);
    Window gone = c->window;
    if (wm.active == c) wm.active = nullptr;
    free_client_memory(c);
    XSync(d, False);
    XSetErrorHandler(error_handler);
    XUngrabServer(d);
    if (!wm.quitting) ewmh_client_gone(gone);
}

void handle_unmap_notify(XUnmapEvent *e) {
    Client *c = lookup_client(e->window);
    if (!c) return;
    if (c->ignore_unmap == 0)
        unmanage_client(c);
    else
        --c->ignore_unmap;
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

void toggle_iconic(Client *c) {
    Display *d = wm.display;
    if (c->iconic) {
        XMapWindow(d, c->frame);
        XMapWindow(d, c->window);
        // The count of unmaps still on their way is kept: a hide handled just before
        // must not turn into a release when its unmaps arrive.
        c->iconic = 0;
        write_wm_state(c, NormalState);
        focus_client(c);
    } else {
        c->ignore_unmap += 2;
        XUnmapWindow(d, c->frame);
        XUnmapWindow(d, c->window);
        write_wm_state(c, IconicState);
        c->iconic = 1;
    }
    ewmh_update_state(c);
}

void toggle_tab(Client *c) {
    if (c->iconic) toggle_iconic(c);
    if (c->tab_visible) {
        c->ignore_unmap += 1;
        XUnmapWindow(wm.display, c->tab);
        c->tab_visible = 0;
    } else {
        XMapWindow(wm.display, c->tab);
        c->tab_visible = 1;
    }
    ewmh_frame_extents(c);
}

void toggle_hidden(Client *c) {
    if (!c->tab_visible && !c->iconic) {
        XMapWindow(wm.display, c->tab);
        c->tab_visible = 1;
        ewmh_frame_extents(c);
    }
    toggle_iconic(c);
}

void map_client(Client *c) {
    if (c->tab_visible) XMapRaised(wm.display, c->tab);
    if (!c->iconic) {
        XMapRaised(wm.display, c->frame);
        XMapRaised(wm.display, c->window);
    }
    write_wm_state(c, NormalState);
}
