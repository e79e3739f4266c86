// The manager's windows as the tests find them, and the session of a server, the manager
// and the test's connection.
#include "harness.h"

#include <stdexcept>

namespace harness {

namespace {
XFontStruct *default_font(Connection &c) {
    XFontStruct *f = XLoadQueryFont(c.dpy(), "fixed");
    if (!f) ADD_FAILURE() << "font \"fixed\" not available";
    return f;
}
} // namespace

int title_height(Connection &c) {
    XFontStruct *f = default_font(c);
    if (!f) return 0;
    int h = f->ascent + f->descent + 2;
    XFreeFont(c.dpy(), f);
    return h;
}

int text_width(Connection &c, const std::string &text) {
    XFontStruct *f = default_font(c);
    if (!f) return 0;
    int w = XTextWidth(f, text.c_str(), static_cast<int>(text.size()));
    XFreeFont(c.dpy(), f);
    return w;
}

Window find_tab(Connection &c, Window frame) {
    auto fg = c.try_geometry(frame);
    if (!fg) return 0;
    Window found = 0;
    for (Window w : c.children(c.root())) {
        if (w == frame) continue;
        XWindowAttributes a;
        if (!XGetWindowAttributes(c.dpy(), w, &a) || !a.override_redirect ||
            a.c_class != InputOutput || !c.children(w).empty())
            continue;
        if (a.x != fg->x || a.y + a.height != fg->y) continue;
        if (found) {
            ADD_FAILURE() << "two tab candidates on frame 0x" << std::hex << frame;
            return 0;
        }
        found = w;
    }
    return found;
}

Managed managed(Connection &c, Window w) {
    Managed m;
    m.window = w;
    if (!w) return m;
    m.frame = c.parent(w);
    m.tab = find_tab(c, m.frame);
    if (!m.tab) ADD_FAILURE() << "no tab found for window 0x" << std::hex << w;
    return m;
}

Managed manage(Connection &c, const WindowDesc &desc, Deadline deadline) {
    return managed(c, c.create_managed(desc, deadline));
}

Session::Session(std::vector<std::string> args, XServer server)
    : x(std::move(server)), wm(x, std::move(args)), ready(wm.wait_ready()), c(x),
      th(title_height(c)) {}

void Session::require_ready() const {
    if (!ready) throw std::runtime_error("manager not ready: " + wm.err());
}

void Session::park() {
    c.move_pointer(x.width() - 5, x.height() - 5);
}

} // namespace harness
