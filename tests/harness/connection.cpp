// The test's own X connection: creating windows, waiting, reading state, XTest input.
#include "harness.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xinerama.h>
#include <X11/keysym.h>
#include <poll.h>

#include <map>
#include <ostream>
#include <stdexcept>

namespace harness {

namespace {
// Connections by display, for the process-wide X error handler.
std::map<Display *, std::vector<XError> *> &error_sinks() {
    static std::map<Display *, std::vector<XError> *> sinks;
    return sinks;
}
} // namespace

std::ostream &operator<<(std::ostream &os, const Geometry &g) {
    return os << g.width << "x" << g.height << "+" << g.x << "+" << g.y << " (border "
              << g.border_width << ")";
}

int Connection::record_error(Display *d, XErrorEvent *e) {
    auto it = error_sinks().find(d);
    if (it != error_sinks().end())
        it->second->push_back({e->resourceid, e->error_code, e->request_code, e->minor_code});
    return 0;
}

Connection::Connection(const std::string &display) {
    dpy_ = XOpenDisplay(display.c_str());
    if (!dpy_) throw std::runtime_error("cannot open display " + display);
    XSetErrorHandler(record_error);
    error_sinks()[dpy_] = &errors_;
    root_ = DefaultRootWindow(dpy_);
    int ev, err, major, minor;
    if (!XTestQueryExtension(dpy_, &ev, &err, &major, &minor))
        throw std::runtime_error("no XTEST on " + display);
    if (!XFixesQueryExtension(dpy_, &ev, &err) || !XFixesQueryVersion(dpy_, &major, &minor))
        throw std::runtime_error("no XFIXES on " + display);
    // Xephyr's Xinerama joins several internal screens, and there XTest motion is
    // clamped to the screen the pointer is on; a warp reaches every head. The server
    // turns both into the same motion and crossing events, and delivers them before
    // it answers the next request.
    warp_pointer_ = XineramaQueryExtension(dpy_, &ev, &err) && XineramaIsActive(dpy_);
}

Connection::~Connection() {
    error_sinks().erase(dpy_);
    XCloseDisplay(dpy_);
}

Atom Connection::atom(const char *name) const {
    return XInternAtom(dpy_, name, False);
}

// --- windows

Window Connection::create_window(const WindowDesc &desc) {
    XSetWindowAttributes a{};
    a.background_pixel = desc.background;
    a.event_mask = desc.event_mask;
    a.override_redirect = desc.override_redirect;
    Window w = XCreateWindow(dpy_, root_, desc.x, desc.y, desc.width, desc.height, 0,
                             CopyFromParent, InputOutput, CopyFromParent,
                             CWBackPixel | CWEventMask | CWOverrideRedirect, &a);
    if (!desc.name.empty()) XStoreName(dpy_, w, desc.name.c_str());
    if (!desc.res_name.empty() || !desc.res_class.empty()) {
        std::string n = desc.res_name, c = desc.res_class;
        XClassHint hint{n.data(), c.data()};
        XSetClassHint(dpy_, w, &hint);
    }
    if (desc.normal_hints) {
        XSizeHints h = *desc.normal_hints;
        XSetWMNormalHints(dpy_, w, &h);
    }
    if (desc.wm_hints) {
        XWMHints h = *desc.wm_hints;
        XSetWMHints(dpy_, w, &h);
    }
    if (!desc.protocols.empty()) {
        std::vector<Atom> atoms;
        for (const auto &p : desc.protocols)
            atoms.push_back(atom(p.c_str()));
        XSetWMProtocols(dpy_, w, atoms.data(), static_cast<int>(atoms.size()));
    }
    XSync(dpy_, False);
    return w;
}

void Connection::map(Window w) {
    XMapWindow(dpy_, w);
    XSync(dpy_, False);
}

void Connection::unmap(Window w) {
    XUnmapWindow(dpy_, w);
    XSync(dpy_, False);
}

void Connection::destroy(Window w) {
    XDestroyWindow(dpy_, w);
    XSync(dpy_, False);
}

Window Connection::create_managed(const WindowDesc &desc, Deadline deadline) {
    Window w = create_window(desc);
    map(w);
    if (wait_until([&] { return is_framed(w) && map_state(w) == IsViewable; }, deadline)) return w;
    ADD_FAILURE() << "window 0x" << std::hex << w << " was not framed and shown by the manager";
    return 0;
}

// --- waiting

void Connection::pump() {
    while (XPending(dpy_)) {
        XEvent ev;
        XNextEvent(dpy_, &ev);
        if (sync_window_ && ev.xany.window == sync_window_) {
            if (ev.type == ConfigureNotify && ev.xconfigure.window == sync_window_ &&
                static_cast<unsigned>(ev.xconfigure.width) == sync_width_)
                sync_seen_ = true;
            continue;
        }
        events_.push_back(ev);
    }
}

bool Connection::wait_until(const std::function<bool()> &pred, Deadline deadline,
                            std::chrono::milliseconds slice) {
    for (;;) {
        pump();
        if (pred()) return true;
        auto now = Clock::now();
        if (now >= deadline) return false;
        if (XQLength(dpy_) > 0) continue;
        auto left = std::min<Clock::duration>(slice, deadline - now);
        pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
        poll(&p, 1,
             static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) +
                 1);
    }
}

std::optional<XEvent> Connection::wait_event(const std::function<bool(const XEvent &)> &pred,
                                             Deadline deadline) {
    std::optional<XEvent> found;
    wait_until(
        [&] {
            for (auto it = events_.begin(); it != events_.end(); ++it) {
                if (pred(*it)) {
                    found = *it;
                    events_.erase(it);
                    return true;
                }
            }
            return false;
        },
        deadline);
    return found;
}

bool Connection::sync_with_wm(Deadline deadline) {
    if (!sync_window_) {
        XSetWindowAttributes a{};
        a.event_mask = StructureNotifyMask;
        sync_window_ = XCreateWindow(dpy_, root_, -100, -100, 1, 1, 0, CopyFromParent, InputOutput,
                                     CopyFromParent, CWEventMask, &a);
    }
    // A different width each time, so every round trip is a real change, and one that an
    // answer to an earlier round trip still on its way does not match.
    sync_width_ = sync_width_ % 64 + 1;
    sync_seen_ = false;
    XResizeWindow(dpy_, sync_window_, sync_width_, 1);
    XFlush(dpy_);
    return wait_until([&] { return sync_seen_; }, deadline);
}

// --- reading state

Window Connection::parent(Window w) {
    Window root, parent = 0, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy_, w, &root, &parent, &kids, &n)) return 0;
    if (kids) XFree(kids);
    return parent;
}

std::vector<Window> Connection::children(Window w) {
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    std::vector<Window> out;
    if (!XQueryTree(dpy_, w, &root, &parent, &kids, &n)) return out;
    out.assign(kids, kids + n);
    if (kids) XFree(kids);
    return out;
}

bool Connection::is_framed(Window w) {
    Window p = parent(w);
    return p != 0 && p != root_;
}

std::optional<Geometry> Connection::try_geometry(Window w) {
    Window root, child;
    int x, y;
    unsigned width, height, border, depth;
    if (!XGetGeometry(dpy_, w, &root, &x, &y, &width, &height, &border, &depth))
        return std::nullopt;
    int rx, ry;
    if (!XTranslateCoordinates(dpy_, w, root_, 0, 0, &rx, &ry, &child)) return std::nullopt;
    return Geometry{rx, ry, width, height, border};
}

Geometry Connection::geometry(Window w) {
    auto g = try_geometry(w);
    if (!g) {
        ADD_FAILURE() << "no geometry for window 0x" << std::hex << w;
        return {};
    }
    return *g;
}

int Connection::map_state(Window w) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy_, w, &a)) return -1;
    return a.map_state;
}

std::optional<long> Connection::wm_state(Window w) {
    auto v = property_longs(w, "WM_STATE");
    if (!v || v->empty()) return std::nullopt;
    return (*v)[0];
}

Window Connection::focus() {
    Window f;
    int revert;
    XGetInputFocus(dpy_, &f, &revert);
    return f;
}

std::optional<unsigned long> Connection::pixel(Window w, int x, int y) {
    size_t before = errors_.size();
    XImage *img = XGetImage(dpy_, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!img || errors_.size() != before) {
        if (img) XDestroyImage(img);
        return std::nullopt;
    }
    unsigned long p = XGetPixel(img, 0, 0);
    XDestroyImage(img);
    return p;
}

std::optional<std::vector<long>> Connection::property_longs(Window w, const char *name) {
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(dpy_, w, atom(name), 0, 1 << 20, False, AnyPropertyType, &type, &format,
                           &n, &after, &data) != Success)
        return std::nullopt;
    std::optional<std::vector<long>> out;
    if (type != None && format == 32) {
        const long *items = reinterpret_cast<const long *>(data);
        out.emplace(items, items + n);
    }
    if (data) XFree(data);
    return out;
}

std::optional<std::string> Connection::property_string(Window w, const char *name) {
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(dpy_, w, atom(name), 0, 1 << 20, False, AnyPropertyType, &type, &format,
                           &n, &after, &data) != Success)
        return std::nullopt;
    std::optional<std::string> out;
    if (type != None && format == 8) out.emplace(reinterpret_cast<const char *>(data), n);
    if (data) XFree(data);
    return out;
}

Window Connection::find_by_class(const std::string &res_class) {
    std::vector<Window> todo = children(root_);
    while (!todo.empty()) {
        Window w = todo.back();
        todo.pop_back();
        XClassHint hint{nullptr, nullptr};
        if (XGetClassHint(dpy_, w, &hint)) {
            bool match = hint.res_class && res_class == hint.res_class;
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
            if (match) return w;
        }
        for (Window c : children(w))
            todo.push_back(c);
    }
    return 0;
}

std::pair<int, int> Connection::pointer() {
    Window root, child;
    int rx = 0, ry = 0, wx, wy;
    unsigned mask;
    XQueryPointer(dpy_, root_, &root, &child, &rx, &ry, &wx, &wy, &mask);
    return {rx, ry};
}

// --- XTest input

KeyCode Connection::keycode(KeySym key) {
    KeyCode code = XKeysymToKeycode(dpy_, key);
    if (!code) ADD_FAILURE() << "no key for keysym " << XKeysymToString(key);
    return code;
}

void Connection::key_down(KeySym key) {
    XTestFakeKeyEvent(dpy_, keycode(key), True, CurrentTime);
    XSync(dpy_, False);
}

void Connection::key_up(KeySym key) {
    XTestFakeKeyEvent(dpy_, keycode(key), False, CurrentTime);
    XSync(dpy_, False);
}

namespace {
constexpr std::pair<unsigned, KeySym> kHeldModifiers[] = {{ShiftMask, XK_Shift_L},
                                                          {ControlMask, XK_Control_L},
                                                          {Mod1Mask, XK_Alt_L},
                                                          {Mod4Mask, XK_Super_L}};
constexpr std::pair<unsigned, KeySym> kLockModifiers[] = {{LockMask, XK_Caps_Lock},
                                                          {Mod2Mask, XK_Num_Lock}};
} // namespace

void Connection::press_modifiers(unsigned modifiers) {
    for (auto [mask, key] : kLockModifiers) {
        if (modifiers & mask) {
            XTestFakeKeyEvent(dpy_, keycode(key), True, CurrentTime);
            XTestFakeKeyEvent(dpy_, keycode(key), False, CurrentTime);
        }
    }
    for (auto [mask, key] : kHeldModifiers)
        if (modifiers & mask) XTestFakeKeyEvent(dpy_, keycode(key), True, CurrentTime);
    XSync(dpy_, False);
}

void Connection::release_modifiers(unsigned modifiers) {
    for (auto [mask, key] : kHeldModifiers)
        if (modifiers & mask) XTestFakeKeyEvent(dpy_, keycode(key), False, CurrentTime);
    for (auto [mask, key] : kLockModifiers) {
        if (modifiers & mask) {
            XTestFakeKeyEvent(dpy_, keycode(key), True, CurrentTime);
            XTestFakeKeyEvent(dpy_, keycode(key), False, CurrentTime);
        }
    }
    XSync(dpy_, False);
}

void Connection::key_chord(KeySym key, unsigned modifiers) {
    press_modifiers(modifiers);
    XTestFakeKeyEvent(dpy_, keycode(key), True, CurrentTime);
    XTestFakeKeyEvent(dpy_, keycode(key), False, CurrentTime);
    release_modifiers(modifiers);
}

void Connection::move_pointer(int x, int y) {
    if (warp_pointer_)
        XWarpPointer(dpy_, None, root_, 0, 0, 0, 0, x, y);
    else
        XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), x, y, CurrentTime);
    XSync(dpy_, False);
}

void Connection::button_down(unsigned button) {
    XTestFakeButtonEvent(dpy_, button, True, CurrentTime);
    XSync(dpy_, False);
}

void Connection::button_up(unsigned button) {
    XTestFakeButtonEvent(dpy_, button, False, CurrentTime);
    XSync(dpy_, False);
}

void Connection::click(unsigned button, unsigned modifiers) {
    press_modifiers(modifiers);
    XTestFakeButtonEvent(dpy_, button, True, CurrentTime);
    XTestFakeButtonEvent(dpy_, button, False, CurrentTime);
    release_modifiers(modifiers);
}

unsigned long Connection::cursor_serial() {
    XFixesCursorImage *image = XFixesGetCursorImage(dpy_);
    if (!image) return 0;
    unsigned long serial = image->cursor_serial;
    XFree(image);
    return serial;
}

bool Connection::button_down_grabbed(unsigned button, Deadline deadline) {
    const unsigned long before = cursor_serial();
    button_down(button);
    return wait_until([&] { return cursor_serial() != before; }, deadline);
}

bool Connection::drag(std::pair<int, int> from, std::pair<int, int> to, unsigned button,
                      unsigned modifiers, int steps, bool wait_for_grab) {
    move_pointer(from.first, from.second);
    press_modifiers(modifiers);
    bool grabbed = true;
    if (wait_for_grab)
        grabbed = button_down_grabbed(button);
    else
        button_down(button);
    if (steps < 1) steps = 1;
    for (int i = 1; i <= steps; ++i) {
        move_pointer(from.first + (to.first - from.first) * i / steps,
                     from.second + (to.second - from.second) * i / steps);
    }
    button_up(button);
    release_modifiers(modifiers);
    return grabbed;
}

bool manager_holds_root(Connection &c) {
    XWindowAttributes a;
    return XGetWindowAttributes(c.dpy(), c.root(), &a) &&
           (a.all_event_masks & SubstructureRedirectMask) != 0;
}

} // namespace harness
