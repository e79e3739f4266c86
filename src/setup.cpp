// Display setup: connection, resources, atoms, font, cursors, heads, colours, the
// root window, key grabs and the adoption of windows already on screen.
#include <X11/XKBlib.h>
#include <X11/cursorfont.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>

#include "tavrel.h"

const KeySym key_table[] = {
    XK_Return, XK_space, XK_e, XK_q, XK_n, XK_m, XK_comma, XK_period, XK_h, XK_l, XK_j, XK_k,
    XK_Down,   XK_Up,    XK_t, XK_v, XK_x, XK_i, XK_p,     XK_o,      XK_u, XK_s, XK_b, XK_f,
    XK_Left,   XK_Right, XK_1, XK_2, XK_3, XK_4, XK_5,     XK_6,      XK_7, XK_8, XK_9, 0};

static const char *x_lookup(void *, const char *name) {
    return XGetDefault(wm.display, "tavrel", name);
}

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

void load_resources() {
    merge_resources(&settings, &wm.desktop_count, x_lookup, nullptr);
    if (const char *bad = invalid_setting(settings)) {
        std::fprintf(stderr, "tavrel: %s %d is out of range (0 to %d)\n", bad,
                     settings.border_width, kMaxBorder);
        std::exit(2);
    }
}

static void grab_key(KeySym sym, unsigned int mods) {
    KeyCode code = XKeysymToKeycode(wm.display, sym);
    // A keysym without a key would grab keycode 0, which means every key.
    if (code == 0) return;
    const unsigned int variants[4] = {mods, mods | LockMask, wm.numlock_mask | mods,
                                      wm.numlock_mask | mods | LockMask};
    int n = wm.numlock_mask ? 4 : 2;
    for (int i = 0; i < n; ++i)
        XGrabKey(wm.display, code, variants[i], wm.root, True, GrabModeAsync, GrabModeAsync);
}

static void find_numlock() {
    XModifierKeymap *map = XGetModifierMapping(wm.display);
    KeyCode nl = XKeysymToKeycode(wm.display, XK_Num_Lock);
    wm.numlock_mask = 0;
    if (map && nl != 0) {
        for (int m = 0; m < 8; ++m)
            for (int k = 0; k < map->max_keypermod; ++k)
                if (map->modifiermap[m * map->max_keypermod + k] == nl) wm.numlock_mask = 1u << m;
    }
    if (map) XFreeModifiermap(map);
}

static unsigned long named_pixel(const char *name) {
    XColor screen_def, exact;
    if (XAllocNamedColor(wm.display, DefaultColormap(wm.display, wm.screen), name, &screen_def,
                         &exact))
        return screen_def.pixel;
    return 0;
}

static void set_fallback_head() {
    Head *h = static_cast<Head *>(std::calloc(1, sizeof(Head)));
    if (!h) {
        std::fprintf(stderr, "out of memory, looking for %d bytes\n",
                     static_cast<int>(sizeof(Head)));
        std::exit(1);
    }
    h->x_org = 0;
    h->y_org = 0;
    h->width = static_cast<short>(DisplayWidth(wm.display, wm.screen));
    h->height = static_cast<short>(DisplayHeight(wm.display, wm.screen));
    if (wm.heads) XFree(wm.heads);
    wm.heads = h;
}

static void adopt_existing_windows() {
    Window root_ret, parent_ret, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(wm.display, wm.root, &root_ret, &parent_ret, &children, &n)) return;
    for (unsigned int i = 0; i < n; ++i) {
        XWindowAttributes attr;
        if (!XGetWindowAttributes(wm.display, children[i], &attr)) continue;
        if (!attr.override_redirect && attr.map_state == IsViewable) new_client(children[i]);
        release_doomed_clients();
    }
    if (children) XFree(children);
}

void setup_display() {
    // 1. Connect.
    wm.display = XOpenDisplay(settings.display_name);
    if (!wm.display) {
        std::fprintf(stderr, "can't open display %s\n", settings.display_name);
        std::exit(1);
    }
    mark_display_open();
    // 2. Settings from resources and defaults.
    load_resources();
    // 3. Errors.
    XSetErrorHandler(error_handler);
    // 4. Atoms.
    wm.atom_wm_state = XInternAtom(wm.display, "WM_STATE", False);
    wm.atom_wm_protocols = XInternAtom(wm.display, "WM_PROTOCOLS", False);
    wm.atom_wm_delete_window = XInternAtom(wm.display, "WM_DELETE_WINDOW", False);
    // 5, 6. Font.
    wm.font = XLoadQueryFont(wm.display, settings.font_name);
    if (!wm.font) wm.font = XLoadQueryFont(wm.display, "fixed");
    if (!wm.font) {
        std::fprintf(stderr, "tavrel: can't load font %s, nor fixed\n", settings.font_name);
        std::exit(1);
    }
    wm.title_height = wm.font->ascent + wm.font->descent + 2;
    // 7. Cursors.
    wm.move_cursor = XCreateFontCursor(wm.display, XC_fleur);
    wm.resize_cursor = XCreateFontCursor(wm.display, XC_plus);
    wm.close_cursor = XCreateFontCursor(wm.display, XC_pirate);
    wm.tab_cursor = XCreateFontCursor(wm.display, XC_sb_h_double_arrow);
    // 8. Heads.
    int ev_base, err_base;
    if (XineramaQueryExtension(wm.display, &ev_base, &err_base)) {
        wm.xinerama_active = XineramaIsActive(wm.display);
        wm.heads = XineramaQueryScreens(wm.display, &wm.head_count);
        if (!wm.heads) wm.head_count = 0;
        // Active but without a screen: the whole screen serves as the one head.
        if (wm.head_count <= 0) wm.xinerama_active = 0;
    }
    // 9. NumLock.
    find_numlock();
    // 10. Screen and root.
    wm.screen = DefaultScreen(wm.display);
    wm.root = RootWindow(wm.display, wm.screen);
    // 11. Colours.
    wm.fg_pixel = named_pixel(settings.fg_name);
    wm.active_bg_pixel = named_pixel(settings.active_bg_name);
    wm.bg_pixel = named_pixel(settings.bg_name);
    wm.fixed_pixel = named_pixel(settings.fixed_color_name);
    // 12. GC.
    XGCValues gv;
    gv.function = GXcopy;
    gv.foreground = wm.fg_pixel;
    gv.line_width = 2;
    gv.font = wm.font->fid;
    gv.subwindow_mode = IncludeInferiors;
    wm.gc = XCreateGC(wm.display, wm.root,
                      GCFunction | GCForeground | GCLineWidth | GCFont | GCSubwindowMode, &gv);
    // 13. Take over the root window.
    XSetWindowAttributes sa;
    sa.event_mask = ButtonPressMask | ButtonReleaseMask | EnterWindowMask | LeaveWindowMask |
                    SubstructureNotifyMask | SubstructureRedirectMask | PropertyChangeMask;
    XChangeWindowAttributes(wm.display, wm.root, CWEventMask, &sa);
    // Any other manager's refusal arrives here and ends the process.
    XSync(wm.display, False);
    // 14. Key grabs.
    for (const KeySym *k = key_table; *k; ++k)
        grab_key(*k, ControlMask | Mod1Mask);
    grab_key(XK_Tab, Mod1Mask);
    ewmh_setup();
    // 16 comes before 15 here: windows adopted at start-up already have a head.
    if (!wm.xinerama_active) {
        set_fallback_head();
        wm.head_count = 0;
    }
    // 15. Adopt what is already on screen.
    adopt_existing_windows();
    ewmh_update_client_list();
}
