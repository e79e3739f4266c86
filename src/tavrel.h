// The shared types of the manager and the operations one subsystem calls in another.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xinerama.h>

#include <csignal>
#include <vector>

#include "calc.h"

constexpr const char *kVersionLine = "tavrel version 0.3.5";

// ---------------------------------------------------------------------------
// Settings: command line, then X resources, then built-in defaults.

struct Settings {
    const char *display_name = "";
    const char *font_name = nullptr;
    const char *fg_name = nullptr;
    const char *bg_name = nullptr;
    const char *active_bg_name = nullptr;
    const char *fixed_color_name = nullptr;
    const char *tabless_list = nullptr;
    int border_width = 0;
    int solid_resize = 0;
    int snap = 0;
    const char *command1 = nullptr;
    const char *command2 = nullptr;
    const char *command3 = nullptr;
};

enum class ParseResult { ok, version, usage };

// Fills the settings (and the desktop count) from the arguments after the program
// name. Pure: prints nothing and never exits.
ParseResult parse_args(int argc, char **argv, Settings *s, int *desktop_count);
// Resource lookup under the program name; returns null when the resource is unset.
using ResourceLookup = const char *(*)(void *ctx, const char *name);
// Fills every setting that is still unset from the lookup or the built-in default.
void merge_resources(Settings *s, int *desktop_count, ResourceLookup lookup, void *ctx);
// The usage text, three lines.
const char *usage_text();
// Widest frame border accepted: wider ones would push frames past the protocol's sizes.
constexpr int kMaxBorder = 1000;
// Name of the first setting holding a value the manager refuses, or null.
const char *invalid_setting(const Settings &s);

// parse_args plus its messages and exits.
void parse_options(int argc, char **argv);
// merge_resources against the open display's resource database.
void load_resources();

// ---------------------------------------------------------------------------
// Clients.

using Head = XineramaScreenInfo;

// An unmap the manager asked for: the request's serial and the window it unmapped (the
// client window, the frame or the tab).
struct OwnUnmap {
    unsigned long serial;
    Window window;
};

struct Client {
    Client *next = nullptr;
    Window window = 0;
    Window frame = 0;
    Window tab = 0;
    int tab_width = 0;
    int tab_offset = 0;
    XSizeHints *size_hints = nullptr;
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
    int tab_visible = 0;
    int iconic = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int saved_x = 0, saved_y = 0, saved_width = 0, saved_height = 0;
    int border = 0;
    char *name = nullptr;
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
    int fs_x = 0, fs_y = 0, fs_width = 0, fs_height = 0, fs_border = 0, fs_tab_visible = 0;
    bool takes_focus = false;  // WM_TAKE_FOCUS in WM_PROTOCOLS
    bool accepts_input = true; // WM_HINTS input
    char *net_name = nullptr;  // _NET_WM_NAME when the font can show it (owned, malloc)
};

// The process-wide state of the running manager.
struct ManagerState {
    Display *display = nullptr;
    int screen = 0;
    Window root = 0;
    Atom atom_wm_state = 0;
    Atom atom_wm_protocols = 0;
    Atom atom_wm_delete_window = 0;
    XFontStruct *font = nullptr;
    int title_height = 0;
    GC gc = nullptr;
    unsigned long fg_pixel = 0, active_bg_pixel = 0, bg_pixel = 0, fixed_pixel = 0;
    Cursor move_cursor = 0, resize_cursor = 0, close_cursor = 0, tab_cursor = 0;
    int xinerama_active = 0;
    Head *heads = nullptr;
    int head_count = 0;
    unsigned int numlock_mask = 0;
    int shape_present = 0;
    int shape_event_base = 0;
    Client *client_list = nullptr;
    Client *active = nullptr;
    int current_desktop = 1;
    int desktop_count = 0;
    Window pending_window = 0;
    int quitting = 0;

    int client_count = 0;
    int doomed_count = 0;
    int signal_pipe[2] = {-1, -1};
};

extern ManagerState wm;
extern Settings settings;
// Set by the signal handler; the shutdown runs in normal context when it is seen.
extern volatile sig_atomic_t quit_requested;

// The ordered key table (0-terminated).
extern const KeySym key_table[];

// main.cpp: event loop, signals, shutdown, errors
int error_handler(Display *d, XErrorEvent *e);
int ignore_errors_handler(Display *d, XErrorEvent *e);
void quit_handler(int sig);
// Releases every client an X error named. Called before each event.
void release_doomed_clients();
// Nested loops: the next event matching mask, or false when the manager must stop
// (a shutdown signal arrived, or *stop became true).
bool next_masked_event(long mask, XEvent *ev, const bool *stop = nullptr);
void dispatch_event(XEvent *ev);
[[noreturn]] void shutdown_manager();
// From now on a signal leads to the orderly shutdown instead of a plain exit.
void mark_display_open();

// setup.cpp
void setup_display();

// spawn.cpp
void spawn_command(const char *command);

// client.cpp
Client *lookup_client(Window w);
void write_wm_state(Client *c, long state);
void send_synthetic_configure(Client *c);
void apply_gravity(Client *c, int sign);
void new_client(Window w, bool only_if_shown = false);
void place_client(Client *c);
// Placement with the pointer position already known.
void place_client_at(Client *c, int px, int py);
void build_frame(Client *c);
void copy_shape(Client *c);
void fit_tab(Client *c);
void draw_tab(Client *c);
void unmanage_client(Client *c, bool window_unmapped = false);
// Unmaps one of the client's windows (client window, frame or tab) that is mapped, and
// notes the request so that its report is not taken for a withdrawal.
void unmap_own(Client *c, Window w);
// Maps (and raises, if asked) the client window in its frame, and notes the request: an
// application's withdrawal sent before it no longer speaks for the window.
void map_own(Client *c, bool raise = false);
void close_client(Client *c);
void toggle_iconic(Client *c);
void toggle_tab(Client *c);
void toggle_hidden(Client *c);
void map_client(Client *c);
void handle_map_request(XMapRequestEvent *e);
void handle_shape_notify(XEvent *e);
void handle_expose(XExposeEvent *e);
void handle_configure_request(XConfigureRequestEvent *e);
void handle_property_notify(XPropertyEvent *e);
void handle_unmap_notify(XUnmapEvent *e);
void handle_destroy_notify(XDestroyWindowEvent *e);
void handle_map_notify(XMapEvent *e);
void handle_reparent_notify(XReparentEvent *e);
// Text width of the client's tab name in the manager's font, or -1 without a name.
int tab_text_width(Client *c);
const char *tab_text(Client *c);

// geometry.cpp
void query_pointer_root(int *x, int *y);
int head_under_pointer();
int head_at(int px, int py);
calc::Rect head_rect(int index);
int head_total();
void constrain_to_hints(Client *c);
void move_client(Client *c);
void move_resize_client(Client *c);
// Snapping; the pointer position decides the head (queried when px/py are null).
void snap_geometry(Client *c, bool resizing, const int *px = nullptr, const int *py = nullptr);
void toggle_max_vertical(Client *c);
void toggle_max_horizontal(Client *c);
calc::SizeHints plain_hints(const XSizeHints *h);

// input.cpp
void handle_key_press(XKeyEvent *e);
void handle_button_press(XButtonEvent *e);
void root_click_mode();
void interactive_move(Client *c);
void interactive_resize(Client *c);
void drag_tab(Client *c);
void close_on_release(Client *c);

// desktop.cpp
void set_active(Client *c);
void handle_enter_notify(XCrossingEvent *e);
void cycle_focus();
void switch_desktop(int n);
// Unmaps a shown client for a desktop change (counting the unmaps), or maps it again.
void take_out_of_view(Client *c);
void bring_into_view(Client *c);
void toggle_fixed(Client *c);
// Gives c the focus as its hints ask; t is the time of the event that led here.
void focus_client(Client *c, Time t = CurrentTime);
void grab_alt_buttons(Client *c);

// Atoms of the extended hints that other subsystems read; filled by ewmh_setup.
struct NetAtoms {
    Atom utf8_string = 0, net_wm_name = 0, net_wm_window_type = 0, net_wm_window_type_dock = 0,
         wm_take_focus = 0, net_wm_state = 0, net_wm_state_fullscreen = 0;
};
extern NetAtoms net_atoms;
// UTF-8 text in Latin-1, the repertoire of the core fonts; null when it does not fit (malloc).
char *latin1_from_utf8(const unsigned char *s, size_t n);

// ewmh.cpp: extended hints for today's tools and ICCCM client requests
void ewmh_setup();
void ewmh_client_new(Client *c); // after a client is framed and mapped
void ewmh_client_gone(Window w); // after a client is released
void ewmh_update_client_list();
void ewmh_update_active();
// Marks the stacking order changed; the list follows when the manager goes idle.
void ewmh_restacked();
void ewmh_update_stacking();
void ewmh_update_desktops(); // number and current desktop
void ewmh_update_client_desktop(Client *c);
void ewmh_update_state(Client *c);
void ewmh_frame_extents(Client *c);
void handle_client_message(XClientMessageEvent *e);
// Follows a property change; true when the tab's text changed.
bool ewmh_property_changed(Client *c, Atom a);
void set_fullscreen(Client *c, bool on);
