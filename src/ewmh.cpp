// Extended window-manager hints for today's tools (window lists, pagers, switchers,
// full-screen players, docks) and the ICCCM client requests for focus and iconifying.
#include <X11/Xatom.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "tavrel.h"

namespace {

// One list feeds both the interning and _NET_SUPPORTED: what is here is implemented.
#define TAVREL_NET_ATOMS(X)                                                                        \
    X(_NET_SUPPORTED)                                                                              \
    X(_NET_SUPPORTING_WM_CHECK)                                                                    \
    X(_NET_WM_NAME)                                                                                \
    X(_NET_CLIENT_LIST)                                                                            \
    X(_NET_CLIENT_LIST_STACKING)                                                                   \
    X(_NET_ACTIVE_WINDOW)                                                                          \
    X(_NET_NUMBER_OF_DESKTOPS)                                                                     \
    X(_NET_CURRENT_DESKTOP)                                                                        \
    X(_NET_DESKTOP_VIEWPORT)                                                                       \
    X(_NET_WM_DESKTOP)                                                                             \
    X(_NET_WM_STATE)                                                                               \
    X(_NET_WM_STATE_FULLSCREEN)                                                                    \
    X(_NET_WM_STATE_HIDDEN)                                                                        \
    X(_NET_CLOSE_WINDOW)                                                                           \
    X(_NET_FRAME_EXTENTS)                                                                          \
    X(_NET_REQUEST_FRAME_EXTENTS)                                                                  \
    X(_NET_WM_WINDOW_TYPE)                                                                         \
    X(_NET_WM_WINDOW_TYPE_DOCK)

#define TAVREL_OTHER_ATOMS(X)                                                                      \
    X(UTF8_STRING)                                                                                 \
    X(WM_CHANGE_STATE)                                                                             \
    X(WM_TAKE_FOCUS)

#define TAVREL_ENUM(name) name,
enum AtomIndex { TAVREL_NET_ATOMS(TAVREL_ENUM) TAVREL_OTHER_ATOMS(TAVREL_ENUM) kAtomCount };
// The atoms before this index are the supported ones.
constexpr int kNetCount = UTF8_STRING;
#define TAVREL_NAME(name) #name,
const char *const kAtomNames[kAtomCount] = {TAVREL_NET_ATOMS(TAVREL_NAME)
                                                TAVREL_OTHER_ATOMS(TAVREL_NAME)};

Atom atoms[kAtomCount];
Window check_window = 0;
constexpr long kAllDesktops = 0xFFFFFFFFL;

void set_cardinals(Window w, int which, const long *values, int n) {
    XChangeProperty(wm.display, w, atoms[which], XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(values), n);
}

void set_windows(Window w, int which, const long *values, int n, int mode = PropModeReplace) {
    XChangeProperty(wm.display, w, atoms[which], XA_WINDOW, 32, mode,
                    reinterpret_cast<const unsigned char *>(values), n);
}

bool shown(const Client *c) {
    return c->desktop == 0 || c->desktop == wm.current_desktop;
}

// UTF-8 to Latin-1, the repertoire of the core fonts; null when a character does not fit.
} // namespace

char *latin1_from_utf8(const unsigned char *s, size_t n) {
    char *out = static_cast<char *>(std::malloc(n + 1));
    if (!out) return nullptr;
    size_t j = 0;
    for (size_t i = 0; i < n;) {
        unsigned char b = s[i];
        if (b < 0x80) {
            out[j++] = static_cast<char>(b);
            i += 1;
        } else if ((b == 0xC2 || b == 0xC3) && i + 1 < n && (s[i + 1] & 0xC0) == 0x80) {
            out[j++] = static_cast<char>(((b & 0x03) << 6) | (s[i + 1] & 0x3F));
            i += 2;
        } else {
            std::free(out);
            return nullptr;
        }
    }
    out[j] = '\0';
    return out;
}

namespace {

void read_net_name(Client *c) {
    std::free(c->net_name);
    c->net_name = nullptr;
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(wm.display, c->window, atoms[_NET_WM_NAME], 0, 16384, False,
                           atoms[UTF8_STRING], &type, &format, &n, &after, &data) == Success &&
        data && type == atoms[UTF8_STRING] && format == 8 && n > 0 && !c->doomed)
        c->net_name = latin1_from_utf8(data, n);
    if (data) XFree(data);
}

void read_wm_hints(Client *c) {
    c->accepts_input = true;
    if (XWMHints *h = XGetWMHints(wm.display, c->window)) {
        if (h->flags & InputHint) c->accepts_input = h->input != 0;
        XFree(h);
    }
}

void read_protocols(Client *c) {
    c->takes_focus = false;
    Atom *protocols = nullptr;
    int n = 0;
    if (XGetWMProtocols(wm.display, c->window, &protocols, &n)) {
        for (int i = 0; i < n; ++i)
            if (protocols[i] == atoms[WM_TAKE_FOCUS]) c->takes_focus = true;
        if (protocols) XFree(protocols);
    }
}

void set_extents(Window w, int border, bool tab) {
    long ext[4] = {border, border, border + (tab ? wm.title_height : 0), border};
    set_cardinals(w, _NET_FRAME_EXTENTS, ext, 4);
}

// Moves a client to desktop d (0: fixed), mapping or unmapping it as the view needs.
void move_to_desktop(Client *c, int d) {
    if (d == c->desktop) return;
    bool was = shown(c);
    c->desktop = d;
    if (d > wm.desktop_count) {
        wm.desktop_count = d;
        ewmh_update_desktops();
    }
    bool now = shown(c);
    if (was && !now) {
        take_out_of_view(c);
        if (wm.active == c) set_active(nullptr);
    } else if (!was && now) {
        bring_into_view(c);
    } else if (wm.active == c) {
        set_active(c); // fixed or not: recolour
    }
    ewmh_update_client_desktop(c);
}

void activate(Client *c, long source) {
    if (source == 1 && !shown(c)) return;
    if (!shown(c)) switch_desktop(c->desktop);
    if (c->iconic) toggle_hidden(c);
    if (c->tab_visible) XMapRaised(wm.display, c->tab);
    XRaiseWindow(wm.display, c->frame);
    XRaiseWindow(wm.display, c->tab);
    ewmh_restacked();
    set_active(c);
    focus_client(c);
}

void change_state(Client *c, long action, Atom prop) {
    if (prop == atoms[_NET_WM_STATE_FULLSCREEN]) {
        bool on = action == 1 || (action == 2 && !c->fullscreen);
        if (action == 0) on = false;
        if (on != c->fullscreen) set_fullscreen(c, on);
    } else if (prop == atoms[_NET_WM_STATE_HIDDEN]) {
        bool on = action == 1 || (action == 2 && !c->iconic);
        if (action == 0) on = false;
        if (on != static_cast<bool>(c->iconic)) toggle_hidden(c);
    }
}

} // namespace

NetAtoms net_atoms;

void ewmh_setup() {
    XInternAtoms(wm.display, const_cast<char **>(kAtomNames), kAtomCount, False, atoms);
    net_atoms.utf8_string = atoms[UTF8_STRING];
    net_atoms.net_wm_name = atoms[_NET_WM_NAME];
    net_atoms.net_wm_window_type = atoms[_NET_WM_WINDOW_TYPE];
    net_atoms.net_wm_window_type_dock = atoms[_NET_WM_WINDOW_TYPE_DOCK];
    net_atoms.wm_take_focus = atoms[WM_TAKE_FOCUS];
    net_atoms.net_wm_state = atoms[_NET_WM_STATE];
    net_atoms.net_wm_state_fullscreen = atoms[_NET_WM_STATE_FULLSCREEN];
    XSetWindowAttributes sa;
    sa.override_redirect = True;
    check_window = XCreateWindow(wm.display, wm.root, -1, -1, 1, 1, 0, CopyFromParent, InputOnly,
                                 CopyFromParent, CWOverrideRedirect, &sa);
    long cw = static_cast<long>(check_window);
    set_windows(check_window, _NET_SUPPORTING_WM_CHECK, &cw, 1);
    XChangeProperty(wm.display, check_window, atoms[_NET_WM_NAME], atoms[UTF8_STRING], 8,
                    PropModeReplace, reinterpret_cast<const unsigned char *>("tavrel"), 6);
    set_windows(wm.root, _NET_SUPPORTING_WM_CHECK, &cw, 1);
    long supported[kNetCount];
    for (int i = 0; i < kNetCount; ++i)
        supported[i] = static_cast<long>(atoms[i]);
    XChangeProperty(wm.display, wm.root, atoms[_NET_SUPPORTED], XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(supported), kNetCount);
    long viewport[2] = {0, 0};
    set_cardinals(wm.root, _NET_DESKTOP_VIEWPORT, viewport, 2);
    ewmh_update_desktops();
    ewmh_update_active();
    // Clients are appended as they come: start from an empty list, not a stale one.
    set_windows(wm.root, _NET_CLIENT_LIST, nullptr, 0);
    set_windows(wm.root, _NET_CLIENT_LIST_STACKING, nullptr, 0);
}

bool ewmh_property_changed(Client *c, Atom a) {
    if (a == atoms[_NET_WM_NAME]) {
        read_net_name(c);
        return true;
    }
    if (a == XA_WM_HINTS) read_wm_hints(c);
    if (a == wm.atom_wm_protocols) read_protocols(c);
    return false;
}

// What _NET_CLIENT_LIST_STACKING holds now, so that managing and releasing change it in
// the same step as _NET_CLIENT_LIST: a tool reading both never sees different sets.
static std::vector<long> stacking_written;

void ewmh_client_new(Client *c) {
    long w = static_cast<long>(c->window);
    set_windows(wm.root, _NET_CLIENT_LIST, &w, 1, PropModeAppend);
    // A new frame is created on top of its siblings.
    stacking_written.push_back(w);
    set_windows(wm.root, _NET_CLIENT_LIST_STACKING, &w, 1, PropModeAppend);
    ewmh_update_client_desktop(c);
    ewmh_frame_extents(c);
    ewmh_update_state(c);
}

void ewmh_client_gone(Window w) {
    ewmh_update_client_list();
    std::erase(stacking_written, static_cast<long>(w));
    set_windows(wm.root, _NET_CLIENT_LIST_STACKING, stacking_written.data(),
                static_cast<int>(stacking_written.size()));
    // Releasing the active client leaves no active client; the property must not go on
    // naming a window that is gone.
    ewmh_update_active();
}

void ewmh_update_client_list() {
    std::vector<long> list(static_cast<size_t>(wm.client_count));
    size_t i = list.size();
    for (Client *c = wm.client_list; c && i > 0; c = c->next)
        list[--i] = static_cast<long>(c->window);
    set_windows(wm.root, _NET_CLIENT_LIST, list.data(), static_cast<int>(list.size()));
    ewmh_restacked();
}

// The stacking list is brought up to date once the queue is drained, not at every
// restack: one tree query after a burst of raises.
static bool stacking_stale = false;

void ewmh_restacked() {
    stacking_stale = true;
}

void ewmh_update_stacking() {
    if (!stacking_stale) return;
    stacking_stale = false;
    Window root_ret, parent_ret, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(wm.display, wm.root, &root_ret, &parent_ret, &children, &n)) return;
    std::vector<long> list;
    list.reserve(static_cast<size_t>(wm.client_count));
    for (unsigned int i = 0; i < n; ++i) {
        Client *c = lookup_client(children[i]);
        if (c && c->frame == children[i]) list.push_back(static_cast<long>(c->window));
    }
    if (children) XFree(children);
    set_windows(wm.root, _NET_CLIENT_LIST_STACKING, list.data(), static_cast<int>(list.size()));
    stacking_written = std::move(list);
}

void ewmh_update_active() {
    long w = wm.active ? static_cast<long>(wm.active->window) : 0;
    set_windows(wm.root, _NET_ACTIVE_WINDOW, &w, 1);
}

void ewmh_update_desktops() {
    long n = wm.desktop_count > 0 ? wm.desktop_count : 1;
    long cur = wm.current_desktop - 1;
    set_cardinals(wm.root, _NET_NUMBER_OF_DESKTOPS, &n, 1);
    set_cardinals(wm.root, _NET_CURRENT_DESKTOP, &cur, 1);
}

void ewmh_update_client_desktop(Client *c) {
    long d = c->desktop == 0 ? kAllDesktops : c->desktop - 1;
    set_cardinals(c->window, _NET_WM_DESKTOP, &d, 1);
}

void ewmh_update_state(Client *c) {
    long st[2];
    int n = 0;
    if (c->fullscreen) st[n++] = static_cast<long>(atoms[_NET_WM_STATE_FULLSCREEN]);
    if (c->iconic) st[n++] = static_cast<long>(atoms[_NET_WM_STATE_HIDDEN]);
    XChangeProperty(wm.display, c->window, atoms[_NET_WM_STATE], XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(st), n);
}

void ewmh_frame_extents(Client *c) {
    set_extents(c->window, c->border, c->tab_visible);
}

void set_fullscreen(Client *c, bool on) {
    if (on) {
        if (!c->fullscreen) {
            c->fs_x = c->x;
            c->fs_y = c->y;
            c->fs_width = c->width;
            c->fs_height = c->height;
            c->fs_border = c->border;
            c->fs_tab_visible = c->tab_visible;
            c->fullscreen = true;
            if (c->tab_visible) toggle_tab(c);
        }
        // The head the window's centre is on.
        int cx = c->x + c->width / 2, cy = c->y + c->height / 2;
        calc::Rect h = head_rect(head_at(cx, cy));
        c->border = 0;
        c->x = h.x;
        c->y = h.y;
        c->width = h.w;
        c->height = h.h;
        XRaiseWindow(wm.display, c->frame);
    } else {
        if (!c->fullscreen) return;
        c->fullscreen = false;
        c->border = c->fs_border;
        c->x = c->fs_x;
        c->y = c->fs_y;
        c->width = c->fs_width;
        c->height = c->fs_height;
        if (c->fs_tab_visible && !c->tab_visible) toggle_tab(c);
        XRaiseWindow(wm.display, c->frame);
        XRaiseWindow(wm.display, c->tab);
    }
    move_resize_client(c);
    ewmh_frame_extents(c);
    ewmh_update_state(c);
    ewmh_restacked();
}

void handle_client_message(XClientMessageEvent *e) {
    const Atom t = e->message_type;
    const long *l = e->data.l;
    if (e->format != 32) return;
    if (t == atoms[_NET_CURRENT_DESKTOP]) {
        if (l[0] >= 0 && l[0] < 1024) {
            int n = static_cast<int>(l[0]) + 1;
            // The properties follow a switch by themselves; a grown count alone needs telling.
            if (n > wm.desktop_count) {
                wm.desktop_count = n;
                ewmh_update_desktops();
            }
            switch_desktop(n);
        }
        return;
    }
    if (t == atoms[_NET_REQUEST_FRAME_EXTENTS]) {
        if (!lookup_client(e->window))
            set_extents(e->window, settings.border_width, settings.border_width != 0);
        return;
    }
    Client *c = lookup_client(e->window);
    if (!c || c->window != e->window) return;
    if (t == atoms[_NET_ACTIVE_WINDOW]) {
        activate(c, l[0]);
    } else if (t == atoms[_NET_CLOSE_WINDOW]) {
        close_client(c);
    } else if (t == atoms[_NET_WM_DESKTOP]) {
        if ((l[0] & kAllDesktops) == kAllDesktops)
            move_to_desktop(c, 0);
        else if (l[0] >= 0 && l[0] < 1024)
            move_to_desktop(c, static_cast<int>(l[0]) + 1);
    } else if (t == atoms[_NET_WM_STATE]) {
        change_state(c, l[0], static_cast<Atom>(l[1]));
        if (!c->doomed && l[2]) change_state(c, l[0], static_cast<Atom>(l[2]));
    } else if (t == atoms[WM_CHANGE_STATE]) {
        if (l[0] == IconicState && !c->iconic) toggle_hidden(c);
    }
}
