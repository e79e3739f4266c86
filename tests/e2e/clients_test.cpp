// Clients under the real manager: managing (frame, tab, placement, gravity, WM_STATE,
// the synthetic ConfigureNotify), adoption at start-up, configure requests, name
// changes, withdrawal, closing, hiding and tab toggling, the tabless list, windows that
// vanish while being managed, shaped windows and the shutdown with a hidden window.
#include "harness.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

namespace {

using harness::App;
using harness::Connection;
using harness::find_tab;
using harness::Geometry;
using harness::kCtrlAlt;
using harness::manage;
using harness::Managed;
using harness::text_width;
using harness::title_height;
using harness::WindowDesc;
using harness::Wm;
using harness::XServer;

// --- finding the manager's windows

bool is_override_redirect(Connection &c, Window w) {
    XWindowAttributes a;
    return XGetWindowAttributes(c.dpy(), w, &a) && a.override_redirect;
}

bool exists(Connection &c, Window w) {
    return c.try_geometry(w).has_value();
}

int stacking_index(Connection &c, Window w) {
    auto kids = c.children(c.root());
    auto it = std::find(kids.begin(), kids.end(), w);
    return it == kids.end() ? -1 : static_cast<int>(it - kids.begin());
}

XSizeHints position_hints(long flags, int x, int y, int gravity = 0) {
    XSizeHints h{};
    h.flags = flags;
    h.x = x;
    h.y = y;
    h.win_gravity = gravity;
    return h;
}

// Moves the pointer into the client window, which makes the manager activate it and
// give it the focus.
void activate(Connection &c, Window w) {
    Geometry g = c.geometry(w);
    c.move_pointer(g.x + static_cast<int>(g.width) / 2, g.y + static_cast<int>(g.height) / 2);
    EXPECT_TRUE(c.wait_until([&] { return c.focus() == w; }))
        << "window 0x" << std::hex << w << " did not get the focus";
}

// The fields of a configure request; only those in the mask are sent.
struct Changes {
    int x = 0, y = 0, width = 0, height = 0, border_width = 0;
    int stack_mode = Above;
};

void configure(Connection &c, Window w, unsigned mask, const Changes &ch) {
    XWindowChanges wc{};
    wc.x = ch.x;
    wc.y = ch.y;
    wc.width = ch.width;
    wc.height = ch.height;
    wc.border_width = ch.border_width;
    wc.sibling = None;
    wc.stack_mode = ch.stack_mode;
    XConfigureWindow(c.dpy(), w, mask, &wc);
    XSync(c.dpy(), False);
}

std::vector<XConfigureEvent> synthetic_configures(Connection &c, Window w) {
    c.pump();
    std::vector<XConfigureEvent> out;
    for (const XEvent &e : c.events())
        if (e.type == ConfigureNotify && e.xany.send_event && e.xconfigure.window == w)
            out.push_back(e.xconfigure);
    return out;
}

std::optional<Atom> property_type(Connection &c, Window w, const char *name) {
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(c.dpy(), w, c.atom(name), 0, 16, False, AnyPropertyType, &type, &format,
                           &n, &after, &data) != Success)
        return std::nullopt;
    if (data) XFree(data);
    if (type == None) return std::nullopt;
    return type;
}

// Pixels of value `pixel` in the columns [x0, x1) of a viewable window.
int count_pixels(Connection &c, Window w, unsigned long pixel, int x0, int x1) {
    Geometry g = c.geometry(w);
    XImage *img = XGetImage(c.dpy(), w, 0, 0, g.width, g.height, AllPlanes, ZPixmap);
    if (!img) return -1;
    int n = 0;
    for (int x = std::max(0, x0); x < std::min(x1, static_cast<int>(g.width)); ++x)
        for (int y = 0; y < static_cast<int>(g.height); ++y)
            if (XGetPixel(img, x, y) == pixel) ++n;
    XDestroyImage(img);
    return n;
}

// Rectangles of a window's bounding shape. The SHAPE client library is loaded here
// rather than linked, so only this check depends on it.
int bounding_rectangles(Connection &c, Window w) {
    static void *lib = dlopen("libXext.so.6", RTLD_NOW | RTLD_LOCAL);
    using GetRectangles = decltype(&XShapeGetRectangles);
    auto get = lib ? reinterpret_cast<GetRectangles>(dlsym(lib, "XShapeGetRectangles")) : nullptr;
    if (!get) {
        ADD_FAILURE() << "libXext.so.6 not available";
        return -1;
    }
    int count = 0, ordering = 0;
    XRectangle *rects = get(c.dpy(), w, ShapeBounding, &count, &ordering);
    if (rects) XFree(rects);
    return count;
}

// A second connection of the test that owns one window, for the manager to kill.
// When the server closes it, the I/O error that Xlib then reports is absorbed instead
// of ending the test process.
class Owner {
  public:
    explicit Owner(const XServer &x) {
        previous_ = XSetIOErrorHandler(ignore_io_error);
        dpy_ = XOpenDisplay(x.display().c_str());
        if (dpy_) XSetIOErrorExitHandler(dpy_, keep_running, nullptr);
    }
    Owner(const Owner &) = delete;
    Owner &operator=(const Owner &) = delete;
    ~Owner() {
        if (dpy_) XCloseDisplay(dpy_);
        XSetIOErrorHandler(previous_);
    }
    Display *dpy() const { return dpy_; }
    Window create(const std::vector<std::string> &protocols) {
        Window w = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, 200, 100, 0, 0, 0);
        XStoreName(dpy_, w, "owned");
        std::vector<Atom> atoms;
        for (const auto &p : protocols)
            atoms.push_back(XInternAtom(dpy_, p.c_str(), False));
        if (!atoms.empty()) XSetWMProtocols(dpy_, w, atoms.data(), static_cast<int>(atoms.size()));
        XMapWindow(dpy_, w);
        XSync(dpy_, False);
        return w;
    }
    // The server has closed the connection: its socket reads end-of-file.
    bool closed_by_server() const {
        pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) return false;
        char byte;
        return recv(ConnectionNumber(dpy_), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    }

  private:
    static int ignore_io_error(Display *) { return 0; }
    static void keep_running(Display *, void *) {}
    Display *dpy_ = nullptr;
    XIOErrorHandler previous_ = nullptr;
};

// ---------------------------------------------------------------------------
// Managing

TEST(Managing, RealApplicationGetsFrameAndTab) {
    XServer x;
    Wm wm(x, {"-bw", "3"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    const int th = title_height(c);
    App app(x, {"xlogo", "-geometry", "150x120+200+100"});
    Window w = 0;
    ASSERT_TRUE(c.wait_until([&] {
        w = c.find_by_class("XLogo");
        return w && c.is_framed(w) && c.map_state(w) == IsViewable;
    }));
    const Window frame = c.parent(w);
    EXPECT_EQ(c.parent(frame), c.root());
    EXPECT_TRUE(is_override_redirect(c, frame));
    // The asked-for position is the frame's outer corner; the window sits 3 pixels in.
    EXPECT_EQ(c.geometry(frame), (Geometry{200, 100, 156, 126, 0}));
    EXPECT_EQ(c.geometry(w), (Geometry{203, 103, 150, 120, 0}));
    EXPECT_EQ(c.map_state(frame), IsViewable);

    const Window tab = find_tab(c, frame);
    ASSERT_NE(tab, 0u);
    EXPECT_EQ(c.parent(tab), c.root());
    EXPECT_EQ(c.map_state(tab), IsViewable);
    auto name = c.property_string(w, "WM_NAME");
    ASSERT_TRUE(name.has_value());
    const unsigned tab_width = std::min(text_width(c, *name) + 8, 150);
    EXPECT_EQ(c.geometry(tab), (Geometry{200, 100 - th, tab_width, static_cast<unsigned>(th), 0}));
    EXPECT_GT(stacking_index(c, tab), stacking_index(c, frame));

    EXPECT_EQ(c.property_longs(w, "WM_STATE"), (std::vector<long>{NormalState, 0}));
    EXPECT_EQ(property_type(c, w, "WM_STATE"), c.atom("WM_STATE"));
}

TEST(Managing, NewWindowIsPlacedByThePointerAndSizeLimits) {
    XServer x(800, 600);
    Wm wm(x, {"-bw", "2"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    const int th = title_height(c);
    const unsigned uth = static_cast<unsigned>(th);

    // Pointer in the middle: (800-2-400)*400/800 = 199, (600-2-300)*300/600 = 149, then
    // the border pushes the window in by 2.
    c.move_pointer(400, 300);
    Managed a = manage(c, {.width = 400, .height = 300, .name = "a"});
    EXPECT_EQ(c.geometry(a.window), (Geometry{201, 151, 400, 300, 0}));
    EXPECT_EQ(c.geometry(a.frame), (Geometry{199, 149, 404, 304, 0}));
    const unsigned tab_a = static_cast<unsigned>(text_width(c, "a") + 8);
    EXPECT_EQ(c.geometry(a.tab), (Geometry{199, 149 - th, tab_a, uth, 0}));

    // Pointer at the origin: the tab's top edge goes to the screen's top edge.
    c.move_pointer(0, 0);
    Managed b = manage(c, {.width = 400, .height = 300, .name = "b"});
    EXPECT_EQ(c.geometry(b.window), (Geometry{2, th + 2, 400, 300, 0}));
    EXPECT_EQ(c.geometry(b.frame), (Geometry{0, th, 404, 304, 0}));
    EXPECT_EQ(c.geometry(b.tab).y, 0);

    // Too small: 15x15 at least. The tab is cut at the window's width.
    Window tiny = c.create_managed({.x = 0, .y = 0, .width = 10, .height = 5});
    ASSERT_NE(tiny, 0u);
    EXPECT_EQ(c.geometry(tiny), (Geometry{2, th + 2, 15, 15, 0}));
    EXPECT_EQ(c.geometry(c.parent(tiny)), (Geometry{0, th, 19, 19, 0}));
    c.destroy(b.window);
    ASSERT_TRUE(c.wait_until([&] { return !exists(c, b.frame); }));
    Window tiny_tab = find_tab(c, c.parent(tiny));
    ASSERT_NE(tiny_tab, 0u);
    EXPECT_EQ(c.geometry(tiny_tab).width, 15u);

    // Too large (an 800-pixel tall window on a 600-pixel screen): shrunk until frame and
    // tab fit the screen, tab on top.
    Window huge = c.create_managed({.x = 0, .y = 0, .width = 1000, .height = 800});
    ASSERT_NE(huge, 0u);
    EXPECT_EQ(c.geometry(huge), (Geometry{2, th + 2, 796, static_cast<unsigned>(596 - th), 0}));
    EXPECT_EQ(c.geometry(c.parent(huge)),
              (Geometry{0, th, 800, static_cast<unsigned>(600 - th), 0}));
}

TEST(Managing, PositionHintsAndGravity) {
    XServer x(800, 600);
    Wm wm(x, {"-bw", "2"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    const int th = title_height(c);
    c.move_pointer(0, 0);

    struct Case {
        const char *what;
        WindowDesc desc;
        Geometry window, frame;
    };
    const std::vector<Case> cases = {
        {"program position",
         {.normal_hints = position_hints(PPosition, 100, 50)},
         {102, 52, 200, 100, 0},
         {100, 50, 204, 104, 0}},
        {"user position off the screen falls back to the border",
         {.normal_hints = position_hints(USPosition, -10, 50)},
         {4, th + 2, 200, 100, 0},
         {2, th, 204, 104, 0}},
        {"position (0, 0) from the hints",
         {.normal_hints = position_hints(PPosition, 0, 0)},
         {2, th + 2, 200, 100, 0},
         {0, th, 204, 104, 0}},
        {"a window at (100, 0) keeps its x",
         {.x = 100, .y = 0},
         {102, th + 2, 200, 100, 0},
         {100, th, 204, 104, 0}},
        {"a window at (-20, 20) counts as unpositioned",
         {.x = -20, .y = 20},
         {2, th + 2, 200, 100, 0},
         {0, th, 204, 104, 0}},
        {"north gravity shifts down only",
         {.normal_hints = position_hints(PPosition | PWinGravity, 100, 50, NorthGravity)},
         {100, 52, 200, 100, 0},
         {98, 50, 204, 104, 0}},
        {"south-east gravity does not shift",
         {.normal_hints = position_hints(PPosition | PWinGravity, 100, 50, SouthEastGravity)},
         {100, 50, 200, 100, 0},
         {98, 48, 204, 104, 0}},
        {"overflowing the screen: the frame's far edges meet the screen's",
         {.width = 700, .height = 500, .normal_hints = position_hints(PPosition, 300, 200)},
         {98, 98, 700, 500, 0},
         {96, 96, 704, 504, 0}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        Window w = c.create_managed(k.desc);
        ASSERT_NE(w, 0u);
        const Window frame = c.parent(w);
        EXPECT_EQ(c.geometry(w), k.window);
        EXPECT_EQ(c.geometry(frame), k.frame);
        // Each case alone on the screen.
        c.destroy(w);
        ASSERT_TRUE(c.wait_until([&] { return !exists(c, frame); }));
    }
}

TEST(Managing, WmStateAndSyntheticConfigureNotify) {
    XServer x;
    Wm wm(x, {"-bw", "2"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    // Pointer in the middle of 1280x1024: (1280-2-300)*640/1280 = 489,
    // (1024-2-200)*512/1024 = 411, plus the border.
    c.move_pointer(640, 512);
    Window w = c.create_managed({.width = 300, .height = 200});
    ASSERT_NE(w, 0u);
    EXPECT_EQ(c.geometry(w), (Geometry{491, 413, 300, 200, 0}));

    EXPECT_EQ(c.property_longs(w, "WM_STATE"), (std::vector<long>{NormalState, 0}));
    EXPECT_EQ(property_type(c, w, "WM_STATE"), c.atom("WM_STATE"));

    ASSERT_TRUE(c.wait_until([&] { return !synthetic_configures(c, w).empty(); }));
    XConfigureEvent e = synthetic_configures(c, w).back();
    EXPECT_EQ(e.event, w);
    EXPECT_EQ(e.x, 491); // root coordinates, not the position inside the frame
    EXPECT_EQ(e.y, 413);
    EXPECT_EQ(e.width, 300);
    EXPECT_EQ(e.height, 200);
    EXPECT_EQ(e.border_width, 0);
    EXPECT_EQ(e.above, 0u);
    EXPECT_FALSE(e.override_redirect);
}

TEST(Managing, WindowDestroyedWhileBeingManagedLeavesNothingBehind) {
    XServer x;
    Wm wm(x);
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    ASSERT_TRUE(c.sync_with_wm());
    const auto before = c.children(c.root());

    // Each window is gone before the manager reads its map request.
    for (int i = 0; i < 20; ++i) {
        Window w = c.create_window({.x = 10 * i, .y = 10 * i});
        XMapWindow(c.dpy(), w);
        XDestroyWindow(c.dpy(), w);
    }
    XSync(c.dpy(), False);
    // A server grab left behind would hold this round trip up to its deadline.
    ASSERT_TRUE(c.sync_with_wm());
    Window focus;
    int revert;
    XGetInputFocus(c.dpy(), &focus, &revert);
    EXPECT_EQ(c.children(c.root()), before);
    EXPECT_TRUE(wm.running());
    EXPECT_EQ(wm.err(), "");

    Window later = c.create_managed();
    EXPECT_NE(later, 0u);
}

// The shape of a window is copied to its frame, also for a window already on screen when
// the manager starts (the parameter).
class Shaped : public testing::TestWithParam<bool> {};

TEST_P(Shaped, ApplicationGetsShapedFrame) {
    XServer x;
    Connection c(x);
    std::optional<Wm> wm;
    if (!GetParam()) {
        wm.emplace(x);
        ASSERT_TRUE(wm->wait_ready());
    }
    App eyes(x, {"xeyes", "-geometry", "150x100+100+100"});
    Window w = 0;
    if (GetParam()) {
        ASSERT_TRUE(c.wait_until([&] {
            w = c.find_by_class("XEyes");
            return w && c.map_state(w) == IsViewable;
        }));
        wm.emplace(x);
        ASSERT_TRUE(wm->wait_ready());
    }
    ASSERT_TRUE(c.wait_until([&] {
        w = c.find_by_class("XEyes");
        return w && c.is_framed(w) && c.map_state(w) == IsViewable;
    }));
    const Window frame = c.parent(w);
    ASSERT_TRUE(c.wait_until([&] { return bounding_rectangles(c, frame) > 1; }))
        << "the frame kept its rectangular shape";
}

INSTANTIATE_TEST_SUITE_P(Managing, Shaped, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &i) {
                             return i.param ? "PresentAtStartUp" : "MappedLater";
                         });

// ---------------------------------------------------------------------------
// Adoption at start-up

TEST(Adoption, WindowsMappedBeforeStartUpAreAdoptedWhereTheyAre) {
    XServer x;
    Connection c(x);
    Window small = c.create_window({.x = 50, .y = 60, .width = 10, .height = 5});
    Window big = c.create_window({.x = 300, .y = 200, .width = 200, .height = 100});
    Window menu = c.create_window({.x = 10, .y = 10, .override_redirect = true});
    Window unmapped = c.create_window({.x = 600, .y = 400});
    c.map(small);
    c.map(big);
    c.map(menu);

    Wm wm(x, {"-bw", "2"});
    ASSERT_TRUE(wm.wait_ready());
    // The unmaps caused by the reparenting have been handled by now.
    ASSERT_TRUE(c.sync_with_wm());

    for (Window w : {small, big}) {
        EXPECT_TRUE(c.is_framed(w));
        EXPECT_EQ(c.map_state(w), IsViewable);
        EXPECT_EQ(c.wm_state(w), NormalState);
    }
    // No size limits and no placement: only the border shift.
    EXPECT_EQ(c.geometry(small), (Geometry{52, 62, 10, 5, 0}));
    EXPECT_EQ(c.geometry(c.parent(small)), (Geometry{50, 60, 14, 9, 0}));
    EXPECT_EQ(c.geometry(big), (Geometry{302, 202, 200, 100, 0}));

    EXPECT_EQ(c.parent(menu), c.root());
    EXPECT_EQ(c.parent(unmapped), c.root());
    EXPECT_EQ(c.map_state(unmapped), IsUnmapped);
    EXPECT_FALSE(c.wm_state(unmapped).has_value());

    // Only that one unmap was ignored: the application's own unmap releases the window.
    c.unmap(big);
    ASSERT_TRUE(c.wait_until([&] { return c.parent(big) == c.root(); }));
    EXPECT_EQ(c.wm_state(big), WithdrawnState);
}

// ---------------------------------------------------------------------------
// Configure requests

TEST(ConfigureRequests, UnmanagedWindowGetsExactlyWhatItAsks) {
    XServer x;
    Wm wm(x);
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    ASSERT_TRUE(c.sync_with_wm());
    Window w = c.create_window({.x = 10, .y = 10, .width = 50, .height = 50});
    Window above = c.create_window({.x = 20, .y = 20});
    ASSERT_LT(stacking_index(c, w), stacking_index(c, above));

    configure(
        c, w, CWX | CWY | CWWidth | CWHeight | CWBorderWidth | CWStackMode,
        {.x = 30, .y = 40, .width = 123, .height = 45, .border_width = 5, .stack_mode = Above});
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.geometry(w), (Geometry{35, 45, 123, 45, 5}));
    EXPECT_GT(stacking_index(c, w), stacking_index(c, above));
    EXPECT_FALSE(c.is_framed(w));

    // Fields not asked for stay as they are.
    configure(c, w, CWWidth, {.width = 77});
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.geometry(w), (Geometry{35, 45, 77, 45, 5}));

    EXPECT_TRUE(synthetic_configures(c, w).empty());
}

TEST(ConfigureRequests, ManagedWindowMovesItsFrameAndTab) {
    XServer x;
    Wm wm(x, {"-bw", "2"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    const int th = title_height(c);
    const unsigned uth = static_cast<unsigned>(th);
    Managed m = manage(c, {.width = 200, .height = 100});
    ASSERT_NE(m.tab, 0u);
    const unsigned tab_width = static_cast<unsigned>(text_width(c, "test window") + 8);

    // Without a gravity hint the asked-for position is the frame's outer corner.
    ASSERT_TRUE(c.sync_with_wm()); // everything sent so far is in the log
    c.clear_events();
    configure(c, m.window, CWX | CWY, {.x = 100, .y = 50});
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.geometry(m.frame), (Geometry{100, 50, 204, 104, 0}));
    EXPECT_EQ(c.geometry(m.window), (Geometry{102, 52, 200, 100, 0}));
    EXPECT_EQ(c.geometry(m.tab), (Geometry{100, 50 - th, tab_width, uth, 0}));
    EXPECT_GT(stacking_index(c, m.tab), stacking_index(c, m.frame));
    auto sent = synthetic_configures(c, m.window);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].x, 102);
    EXPECT_EQ(sent[0].y, 52);
    EXPECT_EQ(sent[0].width, 200);
    EXPECT_EQ(sent[0].height, 100);

    // A new width alone: the position stays, the tab is cut to the narrower window.
    c.clear_events();
    configure(c, m.window, CWWidth, {.width = 30});
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.geometry(m.frame), (Geometry{100, 50, 34, 104, 0}));
    EXPECT_EQ(c.geometry(m.window), (Geometry{102, 52, 30, 100, 0}));
    EXPECT_EQ(c.geometry(m.tab), (Geometry{100, 50 - th, 30, uth, 0}));
    sent = synthetic_configures(c, m.window);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].width, 30);

    // A border width request leaves no X border on frame or window.
    configure(c, m.window, CWBorderWidth, {.border_width = 7});
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.geometry(m.frame).border_width, 0u);
    EXPECT_EQ(c.geometry(m.window).border_width, 0u);

    // A size of 0 never reaches the server. The server refuses such a request itself,
    // so it can only come as a forged event; the window stays managed, 1 pixel wide.
    XEvent ev{};
    ev.xconfigurerequest.type = ConfigureRequest;
    ev.xconfigurerequest.parent = c.root();
    ev.xconfigurerequest.window = m.window;
    ev.xconfigurerequest.width = 0;
    ev.xconfigurerequest.height = 0;
    ev.xconfigurerequest.value_mask = CWWidth | CWHeight;
    XSendEvent(c.dpy(), c.root(), False, SubstructureRedirectMask, &ev);
    XSync(c.dpy(), False);
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.parent(m.window), m.frame);
    EXPECT_EQ(c.geometry(m.window), (Geometry{102, 52, 1, 1, 0}));
    EXPECT_EQ(c.geometry(m.frame), (Geometry{100, 50, 5, 5, 0}));
    EXPECT_EQ(c.geometry(m.tab).width, 1u);

    // At (0, 0) and at least the screen's size: border and tab go off the screen.
    configure(c, m.window, CWX | CWY | CWWidth | CWHeight,
              {.x = 0, .y = 0, .width = 1280, .height = 1024});
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.geometry(m.window), (Geometry{0, 0, 1280, 1024, 0}));
    EXPECT_EQ(c.geometry(m.frame), (Geometry{-2, -2, 1284, 1028, 0}));
    EXPECT_EQ(c.geometry(m.tab).y, -2 - th);

    // At (0, 0) with a smaller size: the frame's corner is at (0, 0).
    configure(c, m.window, CWX | CWY | CWWidth | CWHeight,
              {.x = 0, .y = 0, .width = 300, .height = 200});
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.geometry(m.frame), (Geometry{0, 0, 304, 204, 0}));
    EXPECT_EQ(c.geometry(m.window), (Geometry{2, 2, 300, 200, 0}));
    EXPECT_TRUE(wm.running());
}

TEST(ConfigureRequests, GravityDecidesWhatThePositionMeans) {
    XServer x;
    Wm wm(x, {"-bw", "2"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    struct Case {
        const char *what;
        int gravity;
        Geometry window, frame;
    };
    const std::vector<Case> cases = {
        {"north", NorthGravity, {100, 52, 200, 100, 0}, {98, 50, 204, 104, 0}},
        {"south-east", SouthEastGravity, {100, 50, 200, 100, 0}, {98, 48, 204, 104, 0}},
        {"center", CenterGravity, {100, 50, 200, 100, 0}, {98, 48, 204, 104, 0}},
        {"static", StaticGravity, {102, 52, 200, 100, 0}, {100, 50, 204, 104, 0}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        Window w = c.create_managed(
            {.normal_hints = position_hints(PPosition | PWinGravity, 500, 400, k.gravity)});
        ASSERT_NE(w, 0u);
        const Window frame = c.parent(w);
        ASSERT_TRUE(c.sync_with_wm());
        c.clear_events();
        configure(c, w, CWX | CWY, {.x = 100, .y = 50});
        ASSERT_TRUE(c.sync_with_wm());
        EXPECT_EQ(c.geometry(w), k.window);
        EXPECT_EQ(c.geometry(frame), k.frame);
        auto sent = synthetic_configures(c, w);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].x, k.window.x);
        EXPECT_EQ(sent[0].y, k.window.y);
        c.destroy(w);
        ASSERT_TRUE(c.wait_until([&] { return !exists(c, frame); }));
    }
}

// ---------------------------------------------------------------------------
// Name changes

TEST(ClientRequests, NameChangesRefitAndRedrawTheTab) {
    XServer x;
    Wm wm(x, {"-bw", "2", "-fg", "#ff0000", "-bg", "#0000ff", "-abg", "#00ff00"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    const unsigned long fg = 0xff0000;
    c.move_pointer(0, 0);
    Managed m = manage(c, {.width = 300,
                           .height = 100,
                           .name = "a",
                           .normal_hints = position_hints(PPosition, 100, 100)});
    ASSERT_NE(m.tab, 0u);
    auto tab_width = [&] { return static_cast<int>(c.geometry(m.tab).width); };
    const int narrow = text_width(c, "a") + 8;
    EXPECT_EQ(tab_width(), narrow);
    EXPECT_TRUE(c.wait_until([&] { return count_pixels(c, m.tab, fg, 0, narrow - 4) > 0; }));

    // A longer name widens the tab, and the new text is drawn in it.
    const std::string longer = "a somewhat longer name";
    XStoreName(c.dpy(), m.window, longer.c_str());
    XSync(c.dpy(), False);
    const int wide = text_width(c, longer) + 8;
    ASSERT_TRUE(c.wait_until([&] { return tab_width() == wide; }));
    EXPECT_TRUE(c.wait_until([&] { return count_pixels(c, m.tab, fg, narrow, wide - 4) > 0; }));

    // Never wider than the window.
    XStoreName(c.dpy(), m.window, std::string(100, 'W').c_str());
    XSync(c.dpy(), False);
    EXPECT_TRUE(c.wait_until([&] { return tab_width() == 300; }));

    // A shorter name narrows it again.
    XStoreName(c.dpy(), m.window, longer.c_str());
    XSync(c.dpy(), False);
    ASSERT_TRUE(c.wait_until([&] { return tab_width() == wide; }));

    // A deleted name keeps the width; only the close mark is left.
    XDeleteProperty(c.dpy(), m.window, XA_WM_NAME);
    XSync(c.dpy(), False);
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(tab_width(), wide);
    EXPECT_TRUE(c.wait_until([&] { return count_pixels(c, m.tab, fg, 0, wide - 4) == 0; }));
    EXPECT_GT(count_pixels(c, m.tab, fg, wide - 4, wide), 0);
    EXPECT_EQ(c.parent(m.window), m.frame);
}

// ---------------------------------------------------------------------------
// Releasing and closing

TEST(Releasing, WithdrawnWindowIsHandedBackToTheRoot) {
    XServer x;
    Wm wm(x, {"-bw", "2"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);

    // The application unmaps its window.
    Managed m = manage(c, {.normal_hints = position_hints(PPosition, 100, 80)});
    ASSERT_EQ(c.geometry(m.frame), (Geometry{100, 80, 204, 104, 0}));
    c.unmap(m.window);
    ASSERT_TRUE(c.wait_until([&] { return c.parent(m.window) == c.root(); }));
    EXPECT_EQ(c.property_longs(m.window, "WM_STATE"), (std::vector<long>{WithdrawnState, 0}));
    // The window's outer corner is where the frame's was, and it has its own border again.
    EXPECT_EQ(c.geometry(m.window), (Geometry{100, 80, 200, 100, 0}));
    EXPECT_EQ(c.map_state(m.window), IsUnmapped);
    EXPECT_FALSE(exists(c, m.frame));
    EXPECT_FALSE(exists(c, m.tab));

    // A synthetic UnmapNotify, as the ICCCM asks for, withdraws it just the same; the
    // window was mapped, so it stays mapped on the root.
    Managed s = manage(c, {.name = "s", .normal_hints = position_hints(PPosition, 400, 300)});
    XEvent ev{};
    ev.xunmap.type = UnmapNotify;
    ev.xunmap.event = c.root();
    ev.xunmap.window = s.window;
    ev.xunmap.from_configure = False;
    XSendEvent(c.dpy(), c.root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    XSync(c.dpy(), False);
    ASSERT_TRUE(c.wait_until([&] { return c.parent(s.window) == c.root(); }));
    EXPECT_EQ(c.wm_state(s.window), WithdrawnState);
    EXPECT_EQ(c.geometry(s.window), (Geometry{400, 300, 200, 100, 0}));
    EXPECT_EQ(c.map_state(s.window), IsViewable);
    EXPECT_FALSE(exists(c, s.frame));
    EXPECT_FALSE(exists(c, s.tab));

    // The withdrawn window left the manager's save set: when the manager goes, the
    // server does not map it again.
    wm.signal(SIGTERM);
    ASSERT_EQ(wm.wait_exit(), 0);
    ASSERT_TRUE(c.wait_until([&] {
        XWindowAttributes a;
        return XGetWindowAttributes(c.dpy(), c.root(), &a) &&
               !(a.all_event_masks & SubstructureRedirectMask);
    }));
    EXPECT_EQ(c.map_state(m.window), IsUnmapped);
}

// A window's own X border, which the frame replaces while it is managed, is given back
// whichever way the window is released.
enum class Release { withdrawal, shutdown };
class ReleaseBorder : public testing::TestWithParam<Release> {};

TEST_P(ReleaseBorder, WindowGetsItsOwnBorderBack) {
    XServer x;
    Wm wm(x, {"-bw", "2"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    Window w = c.create_window({.normal_hints = position_hints(PPosition, 100, 80)});
    XSetWindowBorderWidth(c.dpy(), w, 5);
    c.map(w);
    ASSERT_TRUE(c.wait_until([&] { return c.is_framed(w) && c.map_state(w) == IsViewable; }));
    EXPECT_EQ(c.geometry(w).border_width, 0u);
    if (GetParam() == Release::withdrawal) {
        c.unmap(w);
    } else {
        wm.signal(SIGTERM);
        ASSERT_EQ(wm.wait_exit(), 0);
    }
    ASSERT_TRUE(c.wait_until([&] { return c.parent(w) == c.root(); }));
    // Its outer corner is where the frame's was.
    EXPECT_EQ(c.geometry(w), (Geometry{105, 85, 200, 100, 5}));
}

INSTANTIATE_TEST_SUITE_P(Releasing, ReleaseBorder,
                         testing::Values(Release::withdrawal, Release::shutdown),
                         [](const testing::TestParamInfo<Release> &i) {
                             return i.param == Release::withdrawal ? "Withdrawal" : "Shutdown";
                         });

using Closing = harness::SessionTest;

TEST_F(Closing, DeleteWindowProtocolGetsExactlyOneMessage) {
    Window w = c.create_managed({.protocols = {"WM_SAVE_YOURSELF", "WM_DELETE_WINDOW"}});
    ASSERT_NE(w, 0u);
    activate(c, w);
    ASSERT_TRUE(c.sync_with_wm());
    c.clear_events();
    c.key_chord(XK_q, kCtrlAlt);
    ASSERT_TRUE(c.sync_with_wm());

    std::vector<XClientMessageEvent> messages;
    for (const XEvent &e : c.events())
        if (e.type == ClientMessage) messages.push_back(e.xclient);
    ASSERT_EQ(messages.size(), 1u);
    const XClientMessageEvent &m = messages[0];
    EXPECT_EQ(m.window, w);
    EXPECT_EQ(m.message_type, c.atom("WM_PROTOCOLS"));
    EXPECT_EQ(m.format, 32);
    EXPECT_EQ(static_cast<Atom>(m.data.l[0]), c.atom("WM_DELETE_WINDOW"));
    EXPECT_EQ(m.data.l[1], CurrentTime);
    EXPECT_EQ(m.data.l[2], 0);
    EXPECT_EQ(m.data.l[3], 0);
    EXPECT_EQ(m.data.l[4], 0);
    // Asking is all: the window stays managed until its application acts.
    EXPECT_TRUE(c.is_framed(w));
    EXPECT_EQ(c.map_state(w), IsViewable);
}

TEST_F(Closing, WindowWithoutDeleteProtocolHasItsApplicationKilled) {
    const std::vector<std::vector<std::string>> protocol_lists = {{}, {"WM_SAVE_YOURSELF"}};
    for (const auto &protocols : protocol_lists) {
        SCOPED_TRACE(protocols.empty() ? "no WM_PROTOCOLS" : "WM_PROTOCOLS without delete");
        Owner owner(x);
        ASSERT_NE(owner.dpy(), nullptr);
        Window w = owner.create(protocols);
        ASSERT_TRUE(c.wait_until([&] { return c.is_framed(w) && c.map_state(w) == IsViewable; }));
        const Window frame = c.parent(w);
        activate(c, w);
        c.key_chord(XK_q, kCtrlAlt);
        EXPECT_TRUE(c.wait_until([&] { return owner.closed_by_server(); }))
            << "the owning connection was not closed";
        EXPECT_TRUE(c.wait_until([&] { return !exists(c, w) && !exists(c, frame); }));
        EXPECT_TRUE(wm.running());
    }
}

// ---------------------------------------------------------------------------
// Hiding, restoring and tab toggling

using Hiding = harness::SessionTest;

TEST_F(Hiding, HideRestoreAndTabTogglesKeepTheClient) {
    Managed m = manage(c, {.width = 300, .height = 200});
    ASSERT_NE(m.tab, 0u);
    activate(c, m.window);
    auto state = [&] {
        return std::vector<int>{c.map_state(m.frame), c.map_state(m.window), c.map_state(m.tab)};
    };
    const std::vector<int> shown = {IsViewable, IsViewable, IsViewable};
    const std::vector<int> hidden = {IsUnmapped, IsUnmapped, IsViewable};
    const std::vector<int> tabless = {IsViewable, IsViewable, IsUnmapped};

    // Hide: frame and window go, the tab stays.
    c.key_chord(XK_s, kCtrlAlt);
    ASSERT_TRUE(c.wait_until([&] { return state() == hidden; }));
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(state(), hidden);
    EXPECT_EQ(c.parent(m.window), m.frame);
    EXPECT_EQ(c.wm_state(m.window), IconicState);

    // Restore: back, in NormalState, with the focus.
    c.key_chord(XK_s, kCtrlAlt);
    ASSERT_TRUE(c.wait_until([&] { return state() == shown; }));
    EXPECT_EQ(c.wm_state(m.window), NormalState);
    EXPECT_TRUE(c.wait_until([&] { return c.focus() == m.window; }));

    // Hide the tab, and show it again.
    c.key_chord(XK_t, kCtrlAlt);
    ASSERT_TRUE(c.wait_until([&] { return state() == tabless; }));
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(state(), tabless);
    c.key_chord(XK_t, kCtrlAlt);
    ASSERT_TRUE(c.wait_until([&] { return state() == shown; }));

    // Hiding a window whose tab is hidden shows the tab first.
    c.key_chord(XK_t, kCtrlAlt);
    ASSERT_TRUE(c.wait_until([&] { return state() == tabless; }));
    c.key_chord(XK_s, kCtrlAlt);
    ASSERT_TRUE(c.wait_until([&] { return state() == hidden; }));
    // Hiding the tab of a hidden window restores the window.
    c.key_chord(XK_t, kCtrlAlt);
    ASSERT_TRUE(c.wait_until([&] { return state() == tabless; }));
    EXPECT_EQ(c.wm_state(m.window), NormalState);
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(state(), tabless);
    EXPECT_EQ(c.parent(m.window), m.frame);

    // Every unmap the manager caused has been counted off exactly: the application's
    // own unmap now releases the window.
    c.unmap(m.window);
    ASSERT_TRUE(c.wait_until([&] { return c.parent(m.window) == c.root(); }));
    EXPECT_EQ(c.wm_state(m.window), WithdrawnState);
}

// A window that draws its own decorations (no decorations in _MOTIF_WM_HINTS) has no
// border and no tab while shown; its tab appears while it is hidden, to restore it by.
TEST_F(Hiding, UndecoratedWindowShowsItsTabOnlyWhileHidden) {
    Window w = c.create_window({.x = 100, .y = 100, .width = 300, .height = 200});
    const Atom motif = c.atom("_MOTIF_WM_HINTS");
    const long hints[5] = {2, 0, 0, 0, 0};
    XChangeProperty(c.dpy(), w, motif, motif, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(hints), 5);
    c.map(w);
    ASSERT_TRUE(c.wait_until([&] { return c.is_framed(w) && c.map_state(w) == IsViewable; }));
    const Window frame = c.parent(w), tab = find_tab(c, frame);
    EXPECT_EQ(c.geometry(frame), c.geometry(w));
    EXPECT_EQ(c.map_state(tab), IsUnmapped);
    activate(c, w);
    c.key_chord(XK_s, kCtrlAlt);
    EXPECT_TRUE(c.wait_until([&] { return c.map_state(tab) == IsViewable; }));
    EXPECT_EQ(c.map_state(frame), IsUnmapped);
    c.key_chord(XK_s, kCtrlAlt);
    EXPECT_TRUE(c.wait_until([&] { return c.map_state(w) == IsViewable; }));
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.map_state(tab), IsUnmapped);
}

TEST_F(Hiding, HideAndRestoreInOneBurstKeepTheClient) {
    Managed m = manage(c, {.width = 300, .height = 200});
    activate(c, m.window);

    // Two hide/restore pairs sent at once: the manager handles the restores before the
    // unmaps of the hides come back.
    Display *d = c.dpy();
    auto code = [&](KeySym k) { return XKeysymToKeycode(d, k); };
    XTestFakeKeyEvent(d, code(XK_Control_L), True, CurrentTime);
    XTestFakeKeyEvent(d, code(XK_Alt_L), True, CurrentTime);
    for (int i = 0; i < 4; ++i) {
        XTestFakeKeyEvent(d, code(XK_s), True, CurrentTime);
        XTestFakeKeyEvent(d, code(XK_s), False, CurrentTime);
    }
    XTestFakeKeyEvent(d, code(XK_Alt_L), False, CurrentTime);
    XTestFakeKeyEvent(d, code(XK_Control_L), False, CurrentTime);
    XSync(d, False);
    ASSERT_TRUE(c.sync_with_wm());

    EXPECT_EQ(c.parent(m.window), m.frame);
    EXPECT_EQ(c.map_state(m.frame), IsViewable);
    EXPECT_EQ(c.map_state(m.window), IsViewable);
    EXPECT_EQ(c.wm_state(m.window), NormalState);

    // And no unmap is left over to swallow the application's own.
    c.unmap(m.window);
    ASSERT_TRUE(c.wait_until([&] { return c.parent(m.window) == c.root(); }));
}

TEST(Tabless, ListedClassesStartWithoutTab) {
    XServer x;
    Wm wm(x, {"-wlist", "XTerm,XClock"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    c.move_pointer(0, 0);

    App term(x, {"xterm", "-geometry", "40x10+500+400"});
    Window xterm = 0;
    ASSERT_TRUE(c.wait_until([&] {
        xterm = c.find_by_class("XTerm");
        return xterm && c.is_framed(xterm) && c.map_state(xterm) == IsViewable;
    }));
    ASSERT_TRUE(c.sync_with_wm());
    Window xterm_tab = find_tab(c, c.parent(xterm));
    ASSERT_NE(xterm_tab, 0u);
    EXPECT_EQ(c.map_state(xterm_tab), IsUnmapped);

    struct Case {
        const char *res_class;
        int tab_state;
        int x;
    };
    for (const Case &k : {Case{"XClock", IsUnmapped, 50}, Case{"Term", IsViewable, 300},
                          Case{"xterm", IsViewable, 550}, Case{"X", IsViewable, 800}}) {
        SCOPED_TRACE(k.res_class);
        Managed m = manage(c, {.name = k.res_class,
                               .res_class = k.res_class,
                               .normal_hints = position_hints(PPosition, k.x, 100)});
        ASSERT_TRUE(c.sync_with_wm());
        EXPECT_EQ(c.map_state(m.tab), k.tab_state);
        EXPECT_EQ(c.parent(m.window), m.frame);
        // The unmap of the hidden tab was counted: the application's unmap releases.
        c.unmap(m.window);
        EXPECT_TRUE(c.wait_until([&] { return c.parent(m.window) == c.root(); }));
    }
    EXPECT_TRUE(c.is_framed(xterm));
}

// ---------------------------------------------------------------------------
// Shutdown

TEST(Shutdown, SigtermWithHiddenWindowLosesNothing) {
    XServer x;
    Wm wm(x, {"-bw", "2"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    std::vector<Managed> ms;
    for (int i = 0; i < 3; ++i) {
        ms.push_back(manage(c, {.name = "w" + std::to_string(i),
                                .normal_hints = position_hints(PPosition, 100 + 300 * i, 100)}));
        ASSERT_NE(ms.back().tab, 0u);
    }
    activate(c, ms[1].window);
    c.key_chord(XK_s, kCtrlAlt);
    ASSERT_TRUE(c.wait_until([&] { return c.map_state(ms[1].frame) == IsUnmapped; }));
    ASSERT_TRUE(c.sync_with_wm());

    wm.signal(SIGTERM);
    ASSERT_EQ(wm.wait_exit(), 0);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const Managed &m = ms[i];
        EXPECT_TRUE(c.wait_until(
            [&] { return c.parent(m.window) == c.root() && c.map_state(m.window) == IsViewable; }));
        EXPECT_EQ(c.geometry(m.window), (Geometry{100 + 300 * i, 100, 200, 100, 0}));
        EXPECT_FALSE(exists(c, m.frame));
        EXPECT_FALSE(exists(c, m.tab));
    }
    // WM_STATE is left as it was.
    EXPECT_EQ(c.wm_state(ms[0].window), NormalState);
    EXPECT_EQ(c.wm_state(ms[1].window), IconicState);
    EXPECT_EQ(c.wm_state(ms[2].window), NormalState);
    EXPECT_EQ(c.focus(), static_cast<Window>(PointerRoot));
}

} // namespace
