// Extended window-manager hints for today's tools (window lists, pagers, switchers,
// full-screen players, docks) and the ICCCM client requests for iconifying.
#include "ewmh.h"

#include <X11/Xatom.h>

#include <vector>

#include "clients.h"
#include "desktops.h"
#include "drag.h"
#include "focus.h"
#include "frame.h"
#include "geometry.h"
#include "settings.h"
#include "state.h"
#include "x/atoms.h"
#include "x/connection.h"

using namespace atom;

namespace {

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

// The border alone: a configure request puts the frame's outer corner where the window asked
// (its gravity applied), and the tab, a window of its own above the frame, is not in the
// reckoning. A toolkit that moves its own window by the extents lands where it meant to.
void set_extents(Window w, int border) {
    long ext[4] = {border, border, border, border};
    set_cardinals(w, _NET_FRAME_EXTENTS, ext, 4);
}

void activate(Client *c, long source) {
    if (source == 1 && !on_current_desktop(c)) return;
    if (!on_current_desktop(c)) switch_desktop(c->desktop);
    if (c->iconic) toggle_hidden(c);
    if (c->tab_visible) XMapRaised(wm.display, c->tab);
    raise_client(c);
    set_active(c);
    focus_client(c);
}

// The state a _NET_WM_STATE message asks for: 0 remove, 1 add, 2 toggle.
bool wanted(long action, bool now) {
    return action == 1 || (action == 2 && !now);
}

void change_state(Client *c, long action, Atom prop) {
    if (prop == atoms[_NET_WM_STATE_FULLSCREEN]) {
        const bool on = wanted(action, c->fullscreen);
        if (on != c->fullscreen) set_fullscreen(c, on);
    } else if (prop == atoms[_NET_WM_STATE_HIDDEN]) {
        const bool on = wanted(action, c->iconic);
        if (on != static_cast<bool>(c->iconic)) toggle_hidden(c);
    } else if (prop == atoms[_NET_WM_STATE_MAXIMIZED_VERT]) {
        if (wanted(action, c->saved_height != 0) != (c->saved_height != 0)) {
            toggle_max_vertical(c);
            move_resize_client(c);
        }
    } else if (prop == atoms[_NET_WM_STATE_MAXIMIZED_HORZ]) {
        if (wanted(action, c->saved_width != 0) != (c->saved_width != 0)) {
            toggle_max_horizontal(c);
            move_resize_client(c);
        }
    } else if (prop == atoms[_NET_WM_STATE_STICKY]) {
        if (wanted(action, c->desktop == 0) != (c->desktop == 0)) toggle_fixed(c);
    } else if (prop == atoms[_NET_WM_STATE_ABOVE]) {
        c->above = wanted(action, c->above);
        if (c->above) {
            c->below = false;
            raise_client(c);
        }
    } else if (prop == atoms[_NET_WM_STATE_BELOW]) {
        c->below = wanted(action, c->below);
        if (c->below) {
            c->above = false;
            lower_client(c);
        }
    } else if (prop == atoms[_NET_WM_STATE_DEMANDS_ATTENTION]) {
        const bool on = wanted(action, c->demands_attention) && c != wm.active;
        if (on == c->demands_attention) return;
        c->demands_attention = on;
        if (c != wm.active) paint_inactive(c);
    } else if (prop == atoms[_NET_WM_STATE_SKIP_TASKBAR]) {
        c->skip_taskbar = wanted(action, c->skip_taskbar);
    } else if (prop == atoms[_NET_WM_STATE_SKIP_PAGER]) {
        c->skip_pager = wanted(action, c->skip_pager);
    }
}

} // namespace

void ewmh_setup() {
    XSetWindowAttributes sa;
    sa.override_redirect = True;
    check_window = XCreateWindow(wm.display, wm.root, -1, -1, 1, 1, 0, CopyFromParent, InputOnly,
                                 CopyFromParent, CWOverrideRedirect, &sa);
    long cw = static_cast<long>(check_window);
    set_windows(check_window, _NET_SUPPORTING_WM_CHECK, &cw, 1);
    XChangeProperty(wm.display, check_window, atoms[_NET_WM_NAME], atoms[UTF8_STRING], 8,
                    PropModeReplace, reinterpret_cast<const unsigned char *>("tavrel"), 6);
    set_windows(wm.root, _NET_SUPPORTING_WM_CHECK, &cw, 1);
    const std::vector<long> supported = supported_atoms();
    XChangeProperty(wm.display, wm.root, atoms[_NET_SUPPORTED], XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(supported.data()),
                    static_cast<int>(supported.size()));
    long viewport[2] = {0, 0};
    set_cardinals(wm.root, _NET_DESKTOP_VIEWPORT, viewport, 2);
    ewmh_update_desktop_geometry();
    ewmh_update_desktops();
    ewmh_update_active();
    // Clients are appended as they come: start from an empty list, not a stale one.
    set_windows(wm.root, _NET_CLIENT_LIST, nullptr, 0);
    set_windows(wm.root, _NET_CLIENT_LIST_STACKING, nullptr, 0);
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
    std::vector<long> list;
    list.reserve(static_cast<size_t>(wm.client_count));
    for (Window w : x::query_tree(wm.display, wm.root)) {
        Client *c = lookup_client(w);
        if (c && c->frame == w) list.push_back(static_cast<long>(c->window));
    }
    set_windows(wm.root, _NET_CLIENT_LIST_STACKING, list.data(), static_cast<int>(list.size()));
    stacking_written = std::move(list);
}

void ewmh_update_active() {
    long w = wm.active && !wm.active->iconic ? static_cast<long>(wm.active->window) : 0;
    set_windows(wm.root, _NET_ACTIVE_WINDOW, &w, 1);
}

void ewmh_update_desktops() {
    long n = wm.desktop_count > 0 ? wm.desktop_count : 1;
    long cur = wm.current_desktop - 1;
    set_cardinals(wm.root, _NET_NUMBER_OF_DESKTOPS, &n, 1);
    set_cardinals(wm.root, _NET_CURRENT_DESKTOP, &cur, 1);
}

void ewmh_update_desktop_geometry() {
    long size[2] = {DisplayWidth(wm.display, wm.screen), DisplayHeight(wm.display, wm.screen)};
    set_cardinals(wm.root, _NET_DESKTOP_GEOMETRY, size, 2);
}

void ewmh_update_client_desktop(Client *c) {
    long d = c->desktop == 0 ? kAllDesktops : c->desktop - 1;
    set_cardinals(c->window, _NET_WM_DESKTOP, &d, 1);
    ewmh_update_state(c); // sticky or not
}

void ewmh_update_state(Client *c) {
    const std::pair<bool, int> states[] = {
        {c->fullscreen, _NET_WM_STATE_FULLSCREEN},
        {c->iconic != 0, _NET_WM_STATE_HIDDEN},
        {c->saved_height != 0, _NET_WM_STATE_MAXIMIZED_VERT},
        {c->saved_width != 0, _NET_WM_STATE_MAXIMIZED_HORZ},
        {c->desktop == 0, _NET_WM_STATE_STICKY},
        {c->above, _NET_WM_STATE_ABOVE},
        {c->below, _NET_WM_STATE_BELOW},
        {wants_attention(c), _NET_WM_STATE_DEMANDS_ATTENTION},
        {c->skip_taskbar, _NET_WM_STATE_SKIP_TASKBAR},
        {c->skip_pager, _NET_WM_STATE_SKIP_PAGER},
    };
    std::vector<long> st;
    for (const auto &[on, which] : states)
        if (on) st.push_back(static_cast<long>(atoms[which]));
    XChangeProperty(wm.display, c->window, atoms[_NET_WM_STATE], XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(st.data()),
                    static_cast<int>(st.size()));
}

void ewmh_frame_extents(Client *c) {
    set_extents(c->window, c->border);
}

void set_fullscreen(Client *c, bool on) {
    if (on) {
        if (!c->fullscreen) {
            c->fs_geometry = client_rect(c);
            c->fs_border = c->border;
            c->fs_tab_visible = c->tab_visible;
            c->fullscreen = true;
            if (c->tab_visible) toggle_tab(c);
        }
        // The head the window's centre is on.
        int cx = c->x + c->width / 2, cy = c->y + c->height / 2;
        calc::Rect h = head_rect(head_at(cx, cy));
        c->border = 0;
        set_client_rect(c, h);
        XRaiseWindow(wm.display, c->frame);
    } else {
        if (!c->fullscreen) return;
        c->fullscreen = false;
        c->border = c->fs_border;
        set_client_rect(c, c->fs_geometry);
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
        if (l[0] >= 0 && l[0] < 1024) goto_desktop(static_cast<int>(l[0]) + 1);
        return;
    }
    if (t == atoms[_NET_REQUEST_FRAME_EXTENTS]) {
        if (!lookup_client(e->window)) set_extents(e->window, settings.border_width);
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
        if (!c->doomed) ewmh_update_state(c);
    } else if (t == atoms[_NET_WM_MOVERESIZE]) {
        // Ends with the button's release; a cancel has nothing left to cancel then.
        client_moveresize(c, l[2], static_cast<int>(l[0]), static_cast<int>(l[1]));
    } else if (t == atoms[_NET_MOVERESIZE_WINDOW]) {
        // As a configure request: flags for x, y, width and height in bits 8 to 11.
        XConfigureRequestEvent ce{};
        ce.window = c->window;
        const unsigned long bits[4] = {CWX, CWY, CWWidth, CWHeight};
        for (int i = 0; i < 4; ++i)
            if (l[0] & (1L << (8 + i))) ce.value_mask |= bits[i];
        ce.x = static_cast<int>(l[1]);
        ce.y = static_cast<int>(l[2]);
        ce.width = static_cast<int>(l[3]);
        ce.height = static_cast<int>(l[4]);
        handle_configure_request(&ce);
    } else if (t == atoms[WM_CHANGE_STATE]) {
        if (l[0] == IconicState && !c->iconic) toggle_hidden(c);
    }
}
