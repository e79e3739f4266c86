// Clients: the record and its index, taking windows over and releasing them (with the
// races of unmaps, reparents and maps that releasing must read right), closing, hiding
// and tab toggling.
#include "clients.h"

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <unordered_map>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include "desktops.h"
#include "docks.h"
#include "ewmh.h"
#include "focus.h"
#include "frame.h"
#include "geometry.h"
#include "hints.h"
#include "settings.h"
#include "state.h"
#include "x/atoms.h"
#include "x/connection.h"

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
    XChangeProperty(wm.display, c->window, atoms[atom::WM_STATE], atoms[atom::WM_STATE], 32,
                    PropModeReplace, reinterpret_cast<unsigned char *>(data), 2);
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
    const bool has = c->size_hints.flags & PWinGravity;
    calc::gravity_offset(has, has ? c->size_hints.win_gravity : 0, c->border, &dx, &dy);
    c->x = calc::clamp_coord(static_cast<long long>(c->x) + sign * dx);
    c->y = calc::clamp_coord(static_cast<long long>(c->y) + sign * dy);
}

calc::Rect client_rect(const Client *c) {
    return {c->x, c->y, c->width, c->height};
}

void set_client_rect(Client *c, const calc::Rect &r) {
    c->x = r.x;
    c->y = r.y;
    c->width = r.w;
    c->height = r.h;
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

// A frame or a tab of the manager's (not a client window).
static bool is_frame_or_tab(Window w) {
    auto it = client_index.find(w);
    return it != client_index.end() && it->second->window != w;
}

namespace {

// What the manager reads about a window it takes over besides the properties it goes
// on following, asked for in one batch with them: the requests go out together and the
// replies come back in one round trip.
struct WindowFacts {
    bool exists = false;
    bool top_level = false; // a child of the root
    Window parent = 0;
    bool override_redirect = false;
    int map_state = IsUnmapped;
    int x = 0, y = 0, width = 1, height = 1, border_width = 0;
    WmHints wm_hints;
    bool dock = false;
    bool fullscreen = false; // asks to start full-screen
    bool undecorated = false;
    bool hidden = false;                                                  // _NET_WM_STATE_HIDDEN
    bool sticky = false, above = false, below = false, attention = false; // and the others
    bool max_vert = false, max_horz = false;
    bool skip_taskbar = false, skip_pager = false;
    std::optional<long> desktop;  // _NET_WM_DESKTOP
    std::optional<long> wm_state; // WM_STATE
    Window transient_for = 0;
    std::optional<std::string> res_class;
    int px = 0, py = 0;
    int shape_rects = -1; // rectangles of the bounding shape; -1 when not asked
};

void fetch_window_facts(Window w, Client *c, WindowFacts *f) {
    Display *d = wm.display;
    xcb_connection_t *xc = XGetXCBConnection(d);
    const xcb_window_t xw = static_cast<xcb_window_t>(w);
    auto attr_c = xcb_get_window_attributes(xc, xw);
    auto geom_c = xcb_get_geometry(xc, xw);
    auto tree_c = xcb_query_tree(xc, xw);
    hints::Asked followed;
    hints::ask_followed(d, w, &followed);
    auto type_c = x::ask_property(d, w, atoms[atom::_NET_WM_WINDOW_TYPE], XA_ATOM, 32);
    auto state_c = x::ask_property(d, w, atoms[atom::_NET_WM_STATE], XA_ATOM, 32);
    auto motif_c =
        x::ask_property(d, w, atoms[atom::_MOTIF_WM_HINTS], atoms[atom::_MOTIF_WM_HINTS], 5);
    auto transient_c = x::ask_property(d, w, XA_WM_TRANSIENT_FOR, XA_WINDOW, 1);
    auto desktop_c = x::ask_property(d, w, atoms[atom::_NET_WM_DESKTOP], XA_CARDINAL, 1);
    auto wm_state_c = x::ask_property(d, w, atoms[atom::WM_STATE], atoms[atom::WM_STATE], 1);
    x::PropertyCookie class_c;
    if (settings.tabless_list) class_c = x::ask_property(d, w, XA_WM_CLASS, XA_STRING, 256);
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
    const WmHints wm_hints = hints::take_followed(d, followed, c);
    x::Property type = x::property_reply(d, type_c);
    x::Property state = x::property_reply(d, state_c);
    x::Property motif = x::property_reply(d, motif_c);
    x::Property transient = x::property_reply(d, transient_c);
    x::Property desktop = x::property_reply(d, desktop_c);
    x::Property wm_state = x::property_reply(d, wm_state_c);
    x::Property cls = x::property_reply(d, class_c);

    f->exists = attr && geom && !err;
    f->top_level = tree && tree->parent == static_cast<xcb_window_t>(wm.root);
    if (tree) f->parent = tree->parent;
    if (f->exists) {
        f->override_redirect = attr->override_redirect;
        f->map_state = attr->map_state;
        f->x = geom->x;
        f->y = geom->y;
        f->width = geom->width;
        f->height = geom->height;
        f->border_width = geom->border_width;
        f->wm_hints = wm_hints;
        f->dock = type.view().lists_atom(atoms[atom::_NET_WM_WINDOW_TYPE_DOCK]);
        f->fullscreen = state.view().lists_atom(atoms[atom::_NET_WM_STATE_FULLSCREEN]);
        f->hidden = state.view().lists_atom(atoms[atom::_NET_WM_STATE_HIDDEN]);
        for (auto [field, which] :
             {std::pair{&WindowFacts::sticky, atom::_NET_WM_STATE_STICKY},
              {&WindowFacts::above, atom::_NET_WM_STATE_ABOVE},
              {&WindowFacts::below, atom::_NET_WM_STATE_BELOW},
              {&WindowFacts::attention, atom::_NET_WM_STATE_DEMANDS_ATTENTION},
              {&WindowFacts::skip_taskbar, atom::_NET_WM_STATE_SKIP_TASKBAR},
              {&WindowFacts::skip_pager, atom::_NET_WM_STATE_SKIP_PAGER},
              {&WindowFacts::max_vert, atom::_NET_WM_STATE_MAXIMIZED_VERT},
              {&WindowFacts::max_horz, atom::_NET_WM_STATE_MAXIMIZED_HORZ}})
            f->*field = state.view().lists_atom(atoms[which]);
        if (auto v = desktop.view().longs(XA_CARDINAL); v && !v->empty()) f->desktop = (*v)[0];
        if (auto v = wm_state.view().longs(atoms[atom::WM_STATE]); v && !v->empty())
            f->wm_state = static_cast<int32_t>((*v)[0]);
        f->res_class = decode_class(cls.view());
        f->undecorated = decode_undecorated(motif.view());
        if (auto v = transient.view().longs(XA_WINDOW); v && !v->empty())
            f->transient_for = (*v)[0];
        if (pointer) {
            f->px = pointer->root_x;
            f->py = pointer->root_y;
        }
    }
    for (void *p :
         {static_cast<void *>(attr), static_cast<void *>(geom), static_cast<void *>(tree),
          static_cast<void *>(pointer), static_cast<void *>(shape), static_cast<void *>(err)})
        std::free(p);
}

} // namespace

void new_client(Window w, TakeOver how) {
    Display *d = wm.display;
    // Never the root, nor one of the manager's own windows.
    if (window_is_managed_elsewhere(w)) return;
    XGrabServer(d);
    std::unique_ptr<Client> owned(new (std::nothrow) Client);
    if (!owned) {
        std::fputs("out of memory in new_client; limping onward\n", stderr);
        XUngrabServer(d);
        return;
    }
    Client *c = owned.get();
    WindowFacts f;
    fetch_window_facts(w, c, &f);
    // A window that is gone is abandoned, and so is one that is no longer a child of the
    // root: its application put it into another of its windows after asking to map it,
    // or somebody sent a map request naming an inner window. Override-redirect windows
    // and docks place themselves and are not framed.
    if (!f.exists || !f.top_level || f.override_redirect || f.dock ||
        (how == TakeOver::if_shown && f.map_state != IsViewable)) {
        const bool dock = f.exists && f.top_level && f.dock && !f.override_redirect;
        if (dock) XMapWindow(d, w);
        // The application's own map request, though, is carried out where it has put the
        // window since: had the manager been quicker, the window would have been framed
        // and shown, and the move would have taken it along mapped. Dropped, it would
        // leave the window unmapped where its application believes it mapped, and still
        // unmapped when the application puts it back onto the root, which then asks the
        // manager nothing. Never inside a frame or a tab: a window there is handed back.
        if (how == TakeOver::redirected && f.exists && !f.top_level && f.parent &&
            !is_frame_or_tab(f.parent))
            XMapWindow(d, w);
        XUngrabServer(d);
        if (dock) dock_added(w);
        return;
    }
    owned.release();
    c->next = wm.client_list;
    wm.client_list = c;
    ++wm.client_count;
    c->window = w;
    index_client(c);
    c->tab_width = c->name || c->net_name ? tab_text_width(c) + 8 : 6;
    c->x = f.x;
    c->y = f.y;
    c->width = calc::clamp_size(f.width);
    c->height = calc::clamp_size(f.height);
    c->undecorated = f.undecorated;
    c->border = c->undecorated ? 0 : settings.border_width;
    c->window_border = f.border_width;
    c->tab_visible = c->border != 0;
    c->desktop = f.sticky ? 0 : wm.current_desktop;
    c->shape_rects = f.shape_rects;
    c->above = f.above;
    c->below = f.below && !f.above;
    c->demands_attention = f.attention;
    c->skip_taskbar = f.skip_taskbar;
    c->skip_pager = f.skip_pager;
    // A dialog of a managed window lives on its desktop and, unless the user placed it,
    // over it.
    const Client *parent = lookup_client(f.transient_for);
    if (parent && parent->window == f.transient_for && parent != c) {
        c->transient_for = parent->window;
        c->desktop = parent->desktop;
    } else {
        parent = nullptr;
    }
    // A window on screen when the manager started goes back where the manager before left
    // it: its desktop (all of them for a fixed one), hidden if it was.
    bool start_hidden = false;
    if (how == TakeOver::adopted) {
        if (f.desktop == 0xFFFFFFFFL)
            c->desktop = 0;
        else if (f.desktop && *f.desktop >= 0 && *f.desktop < 1024)
            c->desktop = static_cast<int>(*f.desktop) + 1;
        if (c->desktop > wm.desktop_count) {
            wm.desktop_count = c->desktop;
            ewmh_update_desktops();
        }
        // Windows of desktops not shown are iconic too, but not hidden.
        start_hidden = f.hidden || (f.wm_state == IconicState && on_current_desktop(c));
    }
    const bool viewable = f.map_state == IsViewable;
    if (!viewable) {
        place_client_at(c, f.px, f.py);
        if (f.wm_hints.flags & StateHint) {
            write_wm_state(c, f.wm_hints.initial_state);
            start_hidden = f.wm_hints.initial_state == IconicState;
        }
    }
    const int tab_height = c->tab_visible ? wm.title_height : 0;
    if (!viewable && parent && !(c->size_hints.flags & USPosition)) {
        const calc::Rect pf = frame_rect(parent);
        const calc::Rect head = work_rect(head_at(pf.x + pf.w / 2, pf.y + pf.h / 2));
        calc::centre_over(pf, head, c->width, c->height, c->border, tab_height, &c->x, &c->y);
    } else {
        apply_gravity(c, +1);
        if (!viewable)
            calc::keep_tab_on_head(work_rect(head_at(f.px, f.py)), c->border, tab_height, &c->x,
                                   &c->y);
    }
    // Placement may have enlarged or shrunk the window: it gets the size its frame holds.
    if (c->width != f.width || c->height != f.height) XResizeWindow(d, w, c->width, c->height);
    create_frame(c);
    index_client(c);
    const unsigned long reparent_serial = reparent_into_frame(c);
    // Reparenting a window that is mapped unmaps it first: that report is the manager's.
    if (viewable) c->ignore_unmap.push_back({reparent_serial, c->window});
    map_own(c);
    XMapRaised(d, c->frame);
    if (c->border != 0) XMapRaised(d, c->tab);
    write_wm_state(c, NormalState);
    // Errors about the window now come back with the next read and release the client
    // before the next event; no round trip is spent waiting for them here.
    XUngrabServer(d);
    if (f.res_class && calc::class_in_list(settings.tabless_list, f.res_class->c_str()))
        toggle_tab(c);
    if (c->demands_attention || c->urgency_hint) paint_inactive(c);
    if (c->below) lower_client(c);
    // A new window covers the others but not the panels.
    raise_docks();
    // Asked to start maximized (as it was when its application last ran).
    if (f.max_vert) toggle_max_vertical(c);
    if (f.max_horz) toggle_max_horizontal(c);
    if (f.max_vert || f.max_horz) move_resize_client(c);
    // A dialog of a window on another desktop goes there with it.
    if (!on_current_desktop(c)) take_out_of_view(c);
    ewmh_client_new(c);
    if (f.fullscreen) set_fullscreen(c, true);
    if (start_hidden) toggle_hidden(c);
}

std::vector<Client *> transients_of(const Client *c) {
    std::vector<Client *> out;
    for (Client *t = wm.client_list; t; t = t->next)
        if (t->transient_for == c->window && t != c) out.push_back(t);
    std::reverse(out.begin(), out.end());
    return out;
}

void handle_map_request(XMapRequestEvent *e) {
    Client *c = lookup_client(e->window);
    if (c) {
        // A request naming a frame or a tab comes from somebody else: ignored.
        if (e->window != c->window) return;
        if (!on_current_desktop(c)) switch_desktop(c->desktop);
        map_client(c);
        return;
    }
    // Anybody can send a map request naming any window: new_client takes only direct
    // children of the root.
    new_client(e->window, e->send_event ? TakeOver::sent : TakeOver::redirected);
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

void unmanage_client(Client *c, bool window_unmapped, bool map_again) {
    Display *d = wm.display;
    XGrabServer(d);
    bool inside = false, was_active = false;
    Window gone = c->window;
    {
        x::IgnoreErrors ignore;
        // Under the grab, what the frame holds is final. The client window may be gone
        // already (destroyed, its application disconnected) with the report still on its
        // way: then its id may already name a new window of another application, which
        // the manager must not move, resize or mark withdrawn. Only a window still in the
        // frame is handed back.
        std::vector<Window> held = x::query_tree(d, c->frame);
        inside = std::erase(held, c->window) > 0;
        if (!wm.quitting || c->reparented_away) XRemoveFromSaveSet(d, c->window);
        if (inside) {
            if (!wm.quitting) write_wm_state(c, WithdrawnState);
            apply_gravity(c, -1);
            XSetWindowBorderWidth(d, c->window, static_cast<unsigned>(c->window_border));
            // Mapped in the frame, it is mapped on the root after the move; the report of
            // that map is dropped below, as for any window handed back mapped.
            if (map_again) XMapWindow(d, c->window);
            XReparentWindow(d, c->window, wm.root, c->x, c->y);
        }
        for (Window w : x::query_tree(d, c->tab))
            held.push_back(w);
        hand_back_strays(held);
        if (c->frame) XDestroyWindow(d, c->frame);
        if (c->tab) XDestroyWindow(d, c->tab);
        unlink_client(c);
        unindex_client(c);
        was_active = wm.active == c;
        if (was_active) wm.active = nullptr;
        delete c;
        XSync(d, False);
    }
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
    if (was_active) focus_under_pointer();
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
        if (w.reports_unmap(ev) && !w.listed(ev->xunmap.serial)) scan->mapped = false;
        return False;
    }

    // Whether the event reports an unmap of the window in its frame.
    bool reports_unmap(const XEvent *ev) const {
        return ev->type == UnmapNotify && ev->xunmap.event == frame && ev->xunmap.window == window;
    }
    // Whether an unmap of the window with this serial is one of the manager's listed ones.
    bool listed(unsigned long serial) const {
        return std::any_of(own_unmaps.begin(), own_unmaps.end(), [&](const OwnUnmap &u) {
            return u.window == window && u.serial == serial;
        });
    }

    // True when the application's own map (possible only without redirection) came
    // after its unmap, and no unmap but the manager's followed.
    bool mapped_again_by_itself() const {
        Scan scan{this};
        XEvent ev;
        XCheckIfEvent(wm.display, &ev, look, reinterpret_cast<XPointer>(&scan));
        return scan.mapped;
    }

    struct OwnUnmapScan {
        const ReleaseWitness *w;
        bool seen = false;
    };

    // Looks for the report of a listed unmap and takes no event.
    static Bool look_for_own_unmap(Display *, XEvent *ev, XPointer arg) {
        auto *scan = reinterpret_cast<OwnUnmapScan *>(arg);
        const ReleaseWitness &w = *scan->w;
        if (w.reports_unmap(ev) && !ev->xunmap.send_event && w.listed(ev->xunmap.serial))
            scan->seen = true;
        return False;
    }

    // True when the report of one of the listed unmaps of the manager's is queued or on
    // its way: the window was mapped when that unmap was carried out.
    bool unmapped_by_the_manager() const {
        XSync(wm.display, False);
        OwnUnmapScan scan{this};
        XEvent ev;
        XCheckIfEvent(wm.display, &ev, look_for_own_unmap, reinterpret_cast<XPointer>(&scan));
        return scan.seen;
    }
};

} // namespace

void handle_unmap_notify(XUnmapEvent *e) {
    Client *c = lookup_client(e->window);
    if (!c) {
        if (e->event == wm.root) dock_gone(e->window);
        return;
    }
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
        if (e->window != c->window || superseded) return;
        // An application withdraws its window by unmapping it and then sending this; the
        // report of its unmap comes first and has released the window already if it was
        // mapped. A window still managed here was either mapped when the withdrawal was
        // sent, and goes back mapped, or hidden by the manager, and stays unmapped (the
        // withdrawal of an iconic window). The manager, behind with its queue, may have
        // hidden the window since (leaving its desktop, say) before it read the
        // withdrawal: the report of that unmap, queued after the withdrawal, shows that
        // the window was still mapped when it was withdrawn. It goes back mapped then,
        // as its application left it, not unmapped by a manager that lets it go.
        ReleaseWitness witness{c->window, c->frame, c->map_serial, {}};
        for (const OwnUnmap &u : c->ignore_unmap)
            if (u.window == c->window && u.serial > e->serial) witness.own_unmaps.push_back(u);
        const bool map_again = !witness.own_unmaps.empty() && witness.unmapped_by_the_manager();
        unmanage_client(c, false, map_again);
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
    if (own) {
        if (e->window == c->window) c->hidden_serial = e->serial;
        return;
    }
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
    c->map_serial = x::last_request_serial(wm.display);
}

void unmap_own(Client *c, Window w) {
    XUnmapWindow(wm.display, w);
    c->ignore_unmap.push_back({x::last_request_serial(wm.display), w});
}

void handle_reparent_notify(XReparentEvent *e) {
    // The application moved its window out of the frame (into another window, or back
    // to the root) while it was unmapped, so no unmap said so: the frame and tab go,
    // and the window stays where its application put it.
    // Only the current frame's report counts: reports from a frame of an earlier
    // management of the same window are history.
    Client *c = lookup_client(e->window);
    if (!c || c->window != e->window || e->event != c->frame || e->parent == c->frame) return;
    // A window the manager had hidden (on a desktop not shown, or iconic) when it left
    // was unmapped by the manager, not by its application, which still has it mapped:
    // the hiding ends with the management, and the window is mapped where it is now. Had
    // it been mapped, the move would have taken it along mapped, and onto the root its
    // automatic map would have asked the manager to map it; there the report of this map
    // takes it under management again (see handle_map_notify). Left unmapped, nothing
    // would ever show it again. It was hidden when the manager's latest unmap of it was
    // reported after any unmap of its application's that the manager overtook.
    const bool hidden = c->hidden_serial > c->overtaken_unmap_serial;
    // The manager may also have mapped or unmapped the window since (showing or leaving
    // its desktop, restoring or hiding it), not knowing yet that it had left: that landed
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
    if (hidden) {
        XMapWindow(wm.display, w);
        return;
    }
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
    new_client(e->window, TakeOver::if_shown);
}

void handle_destroy_notify(XDestroyWindowEvent *e) {
    // A window destroyed while it was unmapped (hidden, or on a desktop not shown)
    // sends no unmap: its client is released here.
    Client *c = lookup_client(e->window);
    if (c && c->window == e->window) unmanage_client(c);
    if (!c) dock_gone(e->window);
}

void close_client(Client *c) {
    if (!c) return;
    if (c->deletes_window)
        x::send_protocol(wm.display, c->window, atoms[atom::WM_PROTOCOLS],
                         atoms[atom::WM_DELETE_WINDOW], CurrentTime);
    else
        XKillClient(wm.display, c->window);
}

void toggle_iconic(Client *c) {
    Display *d = wm.display;
    const bool shown = on_current_desktop(c);
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
        // The tab it had only to be found while hidden goes again.
        if (c->undecorated && c->tab_visible) toggle_tab(c);
    } else {
        if (shown) {
            unmap_own(c, c->frame);
            unmap_own(c, c->window);
        }
        write_wm_state(c, IconicState);
        c->iconic = 1;
        if (shown && wm.active == c) focus_under_pointer(true);
    }
    ewmh_update_state(c);
    // A hidden client is never announced active.
    if (wm.active == c) ewmh_update_active();
}

void toggle_tab(Client *c) {
    if (c->iconic) toggle_iconic(c);
    const bool shown = on_current_desktop(c);
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
        if (on_current_desktop(c)) XMapWindow(wm.display, c->tab);
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
    raise_transients(c);
    raise_docks();
    ewmh_restacked();
}
