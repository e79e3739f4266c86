// Display setup: connection, resources, atoms, font, cursors, heads, colours, the
// root window, key grabs and the adoption of windows already on screen.
#include "setup.h"

#include <X11/Xatom.h>
#include <X11/Xproto.h>
#include <X11/cursorfont.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>

#include "bindings.h"
#include "clients.h"
#include "docks.h"
#include "ewmh.h"
#include "font.h"
#include "geometry.h"
#include "loop.h"
#include "settings.h"
#include "state.h"
#include "x/atoms.h"
#include "x/connection.h"

Settings settings;

namespace {

const char *x_lookup(void *, const char *name) {
    return XGetDefault(wm.display, "tavrel", name);
}

} // namespace

void parse_options(int argc, char **argv) {
    switch (parse_args(argc, argv, &settings, &wm.desktop_count)) {
    case ParseResult::ok:
        break;
    case ParseResult::version:
        std::printf("%s\n", kVersionLine);
        std::exit(0);
    case ParseResult::usage:
        std::fputs(usage_text(), stdout);
        std::exit(2);
    }
}

namespace {

void load_resources() {
    merge_resources(&settings, &wm.desktop_count, x_lookup, nullptr);
    if (const char *bad = invalid_setting(settings)) {
        std::fprintf(stderr, "tavrel: %s %d is out of range (0 to %d)\n", bad,
                     settings.border_width, kMaxBorder);
        std::exit(2);
    }
}

unsigned long named_pixel(const char *name) {
    XColor screen_def, exact;
    if (XAllocNamedColor(wm.display, DefaultColormap(wm.display, wm.screen), name, &screen_def,
                         &exact))
        return screen_def.pixel;
    return 0;
}

// Another manager holding the root refuses the selection of its substructure.
int startup_error_handler(Display *d, XErrorEvent *e) {
    if (e->error_code == BadAccess && e->request_code == X_ChangeWindowAttributes) {
        std::fputs("root window unavailable (maybe another wm is running?)\n", stderr);
        std::exit(1);
    }
    return error_handler(d, e);
}

// Whether the server shapes windows, and the number of its event.
void query_shape_extension() {
    int error_base = 0;
    wm.shape_present = XShapeQueryExtension(wm.display, &wm.shape_event_base, &error_base);
}

// The desktop a manager before this one showed, from the root's property: the session goes
// on where it was.
void resume_desktop() {
    auto p = x::property_reply(
        wm.display,
        x::ask_property(wm.display, wm.root, atoms[atom::_NET_CURRENT_DESKTOP], XA_CARDINAL, 1));
    auto v = p.view().longs(XA_CARDINAL);
    if (!v || v->empty() || (*v)[0] >= 1024) return;
    wm.current_desktop = static_cast<int>((*v)[0]) + 1;
    if (wm.current_desktop > wm.desktop_count) wm.desktop_count = wm.current_desktop;
}

void adopt_existing_windows() {
    for (Window w : x::query_tree(wm.display, wm.root)) {
        XWindowAttributes attr;
        if (!XGetWindowAttributes(wm.display, w, &attr)) continue;
        if (!attr.override_redirect && attr.map_state == IsViewable)
            new_client(w, TakeOver::adopted);
        release_doomed_clients();
    }
}

} // namespace

void setup_display() {
    // 1. Connect, in a UTF-8 locale for the titles.
    choose_text_locale();
    wm.display = XOpenDisplay(settings.display_name);
    if (!wm.display) {
        std::fprintf(stderr, "can't open display %s\n", settings.display_name);
        std::exit(1);
    }
    mark_display_open();
    // 2. Settings from resources and defaults.
    load_resources();
    // 3. Errors: until the root is taken over, a refusal ends the process.
    XSetErrorHandler(startup_error_handler);
    // 4. Atoms.
    intern_atoms(wm.display);
    // 5, 6. Font.
    load_font(settings.font_name);
    // 7. Cursors.
    wm.move_cursor = XCreateFontCursor(wm.display, XC_fleur);
    wm.resize_cursor = XCreateFontCursor(wm.display, XC_plus);
    wm.close_cursor = XCreateFontCursor(wm.display, XC_pirate);
    wm.tab_cursor = XCreateFontCursor(wm.display, XC_sb_h_double_arrow);
    // 8 comes after 10 here: the fallback head is the default screen.
    // 9. NumLock.
    find_numlock();
    // 10. Screen and root.
    wm.screen = DefaultScreen(wm.display);
    wm.root = RootWindow(wm.display, wm.screen);
    // 8. Heads, and whether the screen may change size.
    find_heads();
    select_screen_changes();
    // 11. Colours.
    wm.fg_pixel = named_pixel(settings.fg_name);
    wm.active_bg_pixel = named_pixel(settings.active_bg_name);
    wm.bg_pixel = named_pixel(settings.bg_name);
    wm.fixed_pixel = named_pixel(settings.fixed_color_name);
    wm.attention_pixel = named_pixel(settings.attention_color_name);
    // 12. GC.
    XGCValues gv;
    gv.function = GXcopy;
    gv.foreground = wm.fg_pixel;
    gv.line_width = 2;
    gv.subwindow_mode = IncludeInferiors;
    wm.gc = XCreateGC(wm.display, wm.root,
                      GCFunction | GCForeground | GCLineWidth | GCSubwindowMode, &gv);
    prepare_text_drawing();
    // 13. Take over the root window.
    drop_echoes();
    XSetWindowAttributes sa;
    sa.event_mask = ButtonPressMask | ButtonReleaseMask | EnterWindowMask | LeaveWindowMask |
                    SubstructureNotifyMask | SubstructureRedirectMask | PropertyChangeMask;
    XChangeWindowAttributes(wm.display, wm.root, CWEventMask, &sa);
    // Any other manager's refusal arrives here and ends the process.
    XSync(wm.display, False);
    XSetErrorHandler(error_handler);
    // 14. Key grabs.
    grab_bindings();
    resume_desktop();
    ewmh_setup();
    // Windows adopted below are shaped like any other.
    query_shape_extension();
    update_work_areas();
    // 15. Adopt what is already on screen.
    adopt_existing_windows();
    ewmh_update_client_list();
}
