// Clients: the record of each managed window and its index, taking windows over and
// releasing them, closing, hiding and tab toggling.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <optional>
#include <string>
#include <vector>

#include "calc.h"

// An unmap the manager asked for: the request's serial and the window it unmapped (the
// client window, the frame or the tab).
struct OwnUnmap {
    unsigned long serial;
    Window window;
};

struct Client {
    Client *next = nullptr;
    Window window = 0, frame = 0, tab = 0;
    int tab_width = 0, tab_offset = 0;
    // WM_NORMAL_HINTS as last read (increments of 1 when the window has none).
    XSizeHints size_hints{};
    // The unmaps the manager asked for whose reports are still to come: they are not
    // withdrawals. Each is known by the request's serial, so an application's own unmap
    // arriving in between is never taken for one of them (a count could not tell them
    // apart). Only unmaps that will be reported are listed.
    std::vector<OwnUnmap> ignore_unmap;
    // Request number of the manager's latest map of the client window: an unmap or a
    // withdrawal the server delivered before it speaks of an earlier state.
    unsigned long map_serial = 0;
    // Serial of the latest unmap of the client window by its application that such a
    // later map overtook.
    unsigned long overtaken_unmap_serial = 0;
    // Serial of the latest reported unmap of the client window by the manager (hiding it,
    // leaving its desktop).
    unsigned long hidden_serial = 0;
    int tab_visible = 0;
    int iconic = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int saved_x = 0, saved_y = 0, saved_width = 0, saved_height = 0;
    int border = 0;                  // the frame's
    int window_border = 0;           // the window's own X border when it was taken over, given back
    std::optional<std::string> name; // WM_NAME in UTF-8
    int desktop = 0;

    // An X error named one of this client's windows: it is released before the next
    // event is handled, and nothing acts on it meanwhile.
    bool doomed = false;
    // The application took its window out of the frame: releasing leaves it alone.
    bool reparented_away = false;
    // Rectangles of the bounding shape when the window was taken over; -1: not known.
    int shape_rects = -1;
    // Extended hints.
    bool fullscreen = false;
    // What full screen covers up, restored when it ends: geometry, border, tab.
    calc::Rect fs_geometry;
    int fs_border = 0, fs_tab_visible = 0;
    bool takes_focus = false;    // WM_TAKE_FOCUS in WM_PROTOCOLS
    bool deletes_window = false; // WM_DELETE_WINDOW in WM_PROTOCOLS
    bool accepts_input = true;   // WM_HINTS input
    // Kept above or below the other windows whatever is raised or lowered.
    bool above = false, below = false;
    // Asks for attention (_NET_WM_STATE_DEMANDS_ATTENTION, or the urgency of WM_HINTS not
    // yet seen by the user): drawn in the attention colour until it is active.
    bool demands_attention = false;
    bool urgency_hint = false, urgency_seen = false;
    bool skip_taskbar = false, skip_pager = false;
    // It draws its own decorations: no border and no tab while shown.
    bool undecorated = false;
    // The client window of the client it is a dialog of (WM_TRANSIENT_FOR), or 0.
    Window transient_for = 0;
    std::optional<std::string> net_name; // _NET_WM_NAME (well-formed UTF-8)
};

// The client one of whose windows (client window, frame, tab) is w; null for other
// windows and for clients an X error has doomed.
Client *lookup_client(Window w);
void write_wm_state(Client *c, long state);
void send_synthetic_configure(Client *c);
// Moves the record by the window's gravity offset (sign +1) or back (-1).
void apply_gravity(Client *c, int sign);
// The client window's rectangle in root coordinates, and setting it.
calc::Rect client_rect(const Client *c);
void set_client_rect(Client *c, const calc::Rect &r);

// How a window comes to be taken over: somebody sent a map request naming it; its
// application's map request was redirected (carried out also when the window is no longer
// a child of the root, where it is then); it was found mapped behind the manager's back
// (taken only if still viewable); it was on screen when the manager started (it gets back
// the desktop and hidden state its properties keep from the manager before).
enum class TakeOver { sent, redirected, if_shown, adopted };
void new_client(Window w, TakeOver how = TakeOver::redirected);
// Releases the client. window_unmapped: its application has unmapped the window; with
// map_again, a window still in the frame is handed back mapped.
void unmanage_client(Client *c, bool window_unmapped = false, bool map_again = false);
// Unmaps one of the client's windows (client window, frame or tab) that is mapped, and
// notes the request so that its report is not taken for a withdrawal.
void unmap_own(Client *c, Window w);
// Maps (and raises, if asked) the client window in its frame, and notes the request: an
// application's withdrawal sent before it no longer speaks for the window.
void map_own(Client *c, bool raise = false);
// Maps and raises the client's windows on the shown desktop (the frame and window only
// when it is not hidden).
void map_client(Client *c);
void close_client(Client *c);
// The dialogs of c, oldest first.
std::vector<Client *> transients_of(const Client *c);
void toggle_iconic(Client *c);
void toggle_tab(Client *c);
void toggle_hidden(Client *c);

void handle_map_request(XMapRequestEvent *e);
void handle_unmap_notify(XUnmapEvent *e);
void handle_destroy_notify(XDestroyWindowEvent *e);
void handle_map_notify(XMapEvent *e);
void handle_reparent_notify(XReparentEvent *e);
