// Keyboard and mouse bindings of the real manager: every Control+Alt chord, Alt+Tab, the
// lock-key variants, moving and resizing with the mouse, hiding through the tab, the
// wheel on the root, root-click mode, the desktop flip at the screen edge, tab drags,
// close clicks, and clients or signals that cut a drag short.
//
// The pointer-grab loops of the manager are driven step by step: a press, then a wait
// until the manager has grabbed the pointer and read where it is (the RECORD extension
// shows the test the manager's requests), then the motions, then the release. A motion
// sent any earlier would be lost or would shift the point the drag starts from.
#include "harness.h"

#include <X11/Xatom.h>
#include <X11/Xproto.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using harness::Connection;
using harness::Geometry;
using harness::kCtrlAlt;
using harness::Managed;
using harness::WindowDesc;
using harness::XServer;

// Records the pointer requests of one client of the server (the manager): grabbing and
// ungrabbing the pointer, reading its position and warping it. The server handles a
// request completely before it reads the next one from anybody, so once the test has
// seen a request here, that request has taken effect.
class PointerRequests {
  public:
    PointerRequests(const std::string &display, XID owned_by_client) {
        control_ = XOpenDisplay(display.c_str());
        data_ = XOpenDisplay(display.c_str());
        int major = 0, minor = 0;
        if (!control_ || !data_ || !XRecordQueryVersion(control_, &major, &minor)) {
            close();
            throw std::runtime_error("no RECORD extension on " + display);
        }
        XRecordRange *ranges[3] = {XRecordAllocRange(), XRecordAllocRange(), XRecordAllocRange()};
        ranges[0]->core_requests = {X_GrabPointer, X_UngrabPointer};
        ranges[1]->core_requests = {X_QueryPointer, X_QueryPointer};
        ranges[2]->core_requests = {X_WarpPointer, X_WarpPointer};
        XRecordClientSpec client = owned_by_client;
        context_ = XRecordCreateContext(control_, 0, &client, 1, ranges, 3);
        for (XRecordRange *r : ranges)
            XFree(r);
        XSync(control_, False);
        if (!context_ || !XRecordEnableContextAsync(data_, context_, intercept,
                                                    reinterpret_cast<XPointer>(this))) {
            close();
            throw std::runtime_error("cannot record the manager's requests");
        }
    }
    PointerRequests(const PointerRequests &) = delete;
    PointerRequests &operator=(const PointerRequests &) = delete;
    ~PointerRequests() { close(); }

    // Drops what was recorded so far.
    void forget() {
        XRecordProcessReplies(data_);
        seen_.clear();
    }
    // Waits until the requests `opcodes` have been seen, in this order (others may lie
    // between them); consumes what it has looked at.
    bool wait_for(Connection &c, std::vector<int> opcodes) {
        size_t next = 0;
        return c.wait_until([&] {
            XRecordProcessReplies(data_);
            while (next < opcodes.size() && !seen_.empty()) {
                if (seen_.front() == opcodes[next]) ++next;
                seen_.pop_front();
            }
            return next == opcodes.size();
        });
    }

  private:
    void close() {
        if (control_ && context_) {
            XRecordDisableContext(control_, context_);
            XRecordFreeContext(control_, context_);
            XSync(control_, False);
        }
        if (data_) XCloseDisplay(data_);
        if (control_) XCloseDisplay(control_);
        data_ = control_ = nullptr;
    }
    static void intercept(XPointer self, XRecordInterceptData *d) {
        if (d->category == XRecordFromClient && d->data)
            reinterpret_cast<PointerRequests *>(self)->seen_.push_back(d->data[0]);
        XRecordFreeData(d);
    }
    Display *control_ = nullptr;
    Display *data_ = nullptr;
    XRecordContext context_ = 0;
    std::deque<int> seen_;
};

// A temporary directory, removed with everything in it.
struct TempDir {
    TempDir() {
        char name[] = "/tmp/tavrel-input-XXXXXX";
        if (!mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
        path = name;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

WindowDesc at(int x, int y, unsigned w = 200, unsigned h = 100) {
    return {.x = x, .y = y, .width = w, .height = h};
}

class Input : public ::testing::Test {
  protected:
    void start(std::vector<std::string> args = {}, XServer server = XServer()) {
        s_ = std::make_unique<harness::Session>(std::move(args), std::move(server));
        s_->require_ready();
        th_ = s_->th;
    }

    Connection &c() { return s_->c; }
    harness::Wm &wm() { return s_->wm; }
    Display *dpy() { return c().dpy(); }
    Window root() { return c().root(); }
    int W() { return s_->x.width(); }
    int H() { return s_->x.height(); }

    // Maps a window, waits until it is framed, and finds its frame and tab.
    Managed manage(const WindowDesc &desc) {
        Managed m = harness::manage(c(), desc);
        if (!m.tab) throw std::runtime_error("window not managed");
        if (!requests_) requests_ = std::make_unique<PointerRequests>(s_->x.display(), m.frame);
        return m;
    }

    Geometry geo(Window w) { return c().geometry(w); }

    // Enters the window with the pointer and waits until the manager has given it the
    // focus, i.e. made it the active client.
    void activate(Window w, int dx = -1, int dy = -1) {
        Geometry g = geo(w);
        c().move_pointer(g.x + (dx < 0 ? static_cast<int>(g.width) / 2 : dx),
                         g.y + (dy < 0 ? static_cast<int>(g.height) / 2 : dy));
        ASSERT_TRUE(c().wait_until([&] { return c().focus() == w; })) << "not activated";
        ASSERT_TRUE(c().sync_with_wm());
    }

    // A Control+Alt chord (plus `extra` modifiers), then a round trip through the manager.
    void chord(KeySym key, unsigned extra = 0) {
        c().key_chord(key, kCtrlAlt | extra);
        ASSERT_TRUE(c().sync_with_wm());
    }

    void click_at(int x, int y, unsigned button, unsigned mods = 0) {
        c().move_pointer(x, y);
        c().click(button, mods);
        ASSERT_TRUE(c().sync_with_wm());
    }

    // Presses `button` at (x, y) with `mods` held and waits until the manager has grabbed
    // the pointer and then sent the requests `then` (X_QueryPointer for the loops that
    // start from the pointer's position, X_WarpPointer for a resize).
    void press_for_grab(int x, int y, unsigned button = Button1, unsigned mods = 0,
                        std::vector<int> then = {}) {
        if (!requests_) throw std::runtime_error("no managed window yet");
        c().move_pointer(x, y);
        requests_->forget();
        c().press_modifiers(mods);
        c().button_down(button);
        then.insert(then.begin(), X_GrabPointer);
        if (!requests_->wait_for(c(), then))
            throw std::runtime_error("the manager did not grab the pointer");
    }

    void release(unsigned button = Button1, unsigned mods = 0) {
        c().button_up(button);
        c().release_modifiers(mods);
        ASSERT_TRUE(c().sync_with_wm()) << "the manager is still in its grab loop";
    }

    // What the manager told the client after handling one motion of a move: every motion
    // moves the window and sends it a synthetic ConfigureNotify.
    std::pair<int, int> told(Window w) {
        auto e = c().wait_event([&](const XEvent &e) {
            return e.type == ConfigureNotify && e.xconfigure.send_event && e.xconfigure.window == w;
        });
        if (!e) throw std::runtime_error("no ConfigureNotify after a motion of a move");
        return {e->xconfigure.x, e->xconfigure.y};
    }

    // How a window being moved lies relative to the pointer: its position, before
    // snapping, is the pointer's plus this offset.
    struct Offset {
        int x = 0, y = 0;
    };

    // Presses at (x, y) to start moving w and waits until the move has started from there.
    Offset begin_move(Window w, int x, int y, unsigned button = Button1, unsigned mods = 0) {
        const Geometry g = geo(w);
        c().clear_events();
        press_for_grab(x, y, button, mods, {X_QueryPointer});
        return {g.x - x, g.y - y};
    }

    // Moves the pointer so that the window would lie at (x, y) without snapping; returns
    // where the manager put it.
    std::pair<int, int> drag_to(Window w, Offset o, int x, int y) {
        c().move_pointer(x - o.x, y - o.y);
        return told(w);
    }

    // Waits until the window has the position (in root coordinates).
    bool wait_at(Window w, int x, int y) {
        return c().wait_until([&] {
            auto g = c().try_geometry(w);
            return g && g->x == x && g->y == y;
        });
    }
    bool wait_size(Window w, unsigned width, unsigned height) {
        return c().wait_until([&] {
            auto g = c().try_geometry(w);
            return g && g->width == width && g->height == height;
        });
    }
    bool wait_map_state(Window w, int state) {
        return c().wait_until([&] { return c().map_state(w) == state; });
    }

    // Position in the stacking order of the root's children, 0 at the bottom.
    int stack_index(Window w) {
        auto kids = c().children(root());
        for (size_t i = 0; i < kids.size(); ++i)
            if (kids[i] == w) return static_cast<int>(i);
        return -1;
    }

    // The desktop shown, as the manager announces it on the root (1-based).
    long desktop() {
        auto v = c().property_longs(root(), "_NET_CURRENT_DESKTOP");
        return v && !v->empty() ? (*v)[0] + 1 : 0;
    }
    long desktop_count() {
        auto v = c().property_longs(root(), "_NET_NUMBER_OF_DESKTOPS");
        return v && !v->empty() ? (*v)[0] : 0;
    }

    // ConfigureNotify events the window got (synthetic ones only, or all).
    std::vector<XConfigureEvent> configures(Window w, bool synthetic_only) {
        c().pump();
        std::vector<XConfigureEvent> out;
        for (const XEvent &e : c().events())
            if (e.type == ConfigureNotify && e.xconfigure.window == w &&
                (!synthetic_only || e.xconfigure.send_event))
                out.push_back(e.xconfigure);
        return out;
    }

    // WM_DELETE_WINDOW messages the window got.
    int delete_requests(Window w) {
        c().pump();
        int n = 0;
        for (const XEvent &e : c().events())
            if (e.type == ClientMessage && e.xclient.window == w &&
                e.xclient.message_type == c().atom("WM_PROTOCOLS") &&
                static_cast<Atom>(e.xclient.data.l[0]) == c().atom("WM_DELETE_WINDOW"))
                ++n;
        return n;
    }

    // True when this test's own connection can take the pointer (nobody else holds it).
    bool can_grab_pointer() {
        int r = XGrabPointer(dpy(), root(), False, ButtonPressMask, GrabModeAsync, GrabModeAsync,
                             None, None, CurrentTime);
        if (r != GrabSuccess) return false;
        XUngrabPointer(dpy(), CurrentTime);
        XSync(dpy(), False);
        return true;
    }

    // Destroyed in the reverse order: the recorder first, then the connection, the
    // manager and the server.
    std::unique_ptr<harness::Session> s_;
    std::unique_ptr<PointerRequests> requests_;
    int th_ = 0;
    const int b_ = 2; // the default border width
};

// ---------------------------------------------------------------------------
// Keyboard: bindings on the active client

TEST_F(Input, KeyboardMovesStepSixteenSnapAndWarpThePointer) {
    start();
    Managed a = manage(at(400, 300));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const Geometry g0 = geo(a.window);

    struct Step {
        KeySym key;
        int dx, dy;
    };
    int x = g0.x, y = g0.y;
    for (Step s : {Step{XK_l, 16, 0}, Step{XK_j, 0, 16}, Step{XK_h, -16, 0}, Step{XK_k, 0, -16}}) {
        c().clear_events();
        ASSERT_NO_FATAL_FAILURE(chord(s.key));
        x += s.dx;
        y += s.dy;
        Geometry g = geo(a.window);
        EXPECT_EQ(g.x, x) << XKeysymToString(s.key);
        EXPECT_EQ(g.y, y) << XKeysymToString(s.key);
        EXPECT_EQ(g.width, g0.width);
        EXPECT_EQ(g.height, g0.height);
        // The pointer lands on the bottom-right pixel of the moved window.
        EXPECT_EQ(c().pointer(), std::make_pair(x + 199, y + 99)) << XKeysymToString(s.key);
        auto notes = configures(a.window, true);
        ASSERT_EQ(notes.size(), 1u) << XKeysymToString(s.key);
        EXPECT_EQ(notes[0].x, x);
        EXPECT_EQ(notes[0].y, y);
        // The tab goes along.
        EXPECT_EQ(geo(a.tab).x, x - b_);
        EXPECT_EQ(geo(a.tab).y, y - b_ - th_);
    }

    // Every step snaps: a frame 20 pixels from the left edge of the screen, moved 16 to
    // the left, ends on the edge instead of 4 pixels beyond it.
    Managed e = manage(at(20, 600));
    ASSERT_NO_FATAL_FAILURE(activate(e.window));
    ASSERT_EQ(geo(e.frame).x, 20);
    ASSERT_NO_FATAL_FAILURE(chord(XK_h));
    EXPECT_EQ(geo(e.frame).x, 0);
    EXPECT_EQ(c().pointer().first, b_ + 199);
}

TEST_F(Input, KeyboardResizesFollowTheSizeHints) {
    start();
    // Width increment 10, no base or minimum, maximum width 95 (off the grid).
    XSizeHints hints{};
    hints.flags = PResizeInc | PMaxSize;
    hints.width_inc = 10;
    hints.height_inc = 1;
    hints.max_width = 95;
    hints.max_height = 1000;
    WindowDesc s1 = at(300, 300, 120, 100);
    s1.normal_hints = hints;
    WindowDesc s2 = at(700, 600, 90, 100);
    s2.normal_hints = hints;
    Managed a = manage(s1);
    Managed b = manage(s2);
    Managed plain = manage(at(300, 700, 200, 100));

    // Narrower: 120 - 16 = 104, onto the grid 100, clamped to 95.
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    ASSERT_LT(stack_index(a.frame), stack_index(plain.frame));
    const Geometry ga = geo(a.window);
    ASSERT_NO_FATAL_FAILURE(chord(XK_u));
    EXPECT_EQ(geo(a.window), (Geometry{ga.x, ga.y, 95, 100, 0}));
    EXPECT_EQ(geo(a.frame).width, 95u + 2 * b_);
    EXPECT_EQ(c().pointer(), std::make_pair(ga.x + 94, ga.y + 99));
    // A keyboard resize raises the window, and its tab above it.
    EXPECT_GT(stack_index(a.frame), stack_index(plain.frame));
    EXPECT_GT(stack_index(a.tab), stack_index(a.frame));

    // Wider: 90 + 16 = 106, onto the grid 100, clamped to 95; the second pass puts the
    // clamped width back on the grid: 90.
    ASSERT_NO_FATAL_FAILURE(activate(b.window));
    const Geometry gb = geo(b.window);
    ASSERT_NO_FATAL_FAILURE(chord(XK_p));
    EXPECT_EQ(geo(b.window), (Geometry{gb.x, gb.y, 90, 100, 0}));
    EXPECT_EQ(c().pointer(), std::make_pair(gb.x + 89, gb.y + 99));

    // Taller and shorter by 16, without hints; the client hears of each size.
    ASSERT_NO_FATAL_FAILURE(activate(plain.window));
    const Geometry gp = geo(plain.window);
    c().clear_events();
    ASSERT_NO_FATAL_FAILURE(chord(XK_i));
    EXPECT_EQ(geo(plain.window), (Geometry{gp.x, gp.y, 200, 116, 0}));
    EXPECT_EQ(c().pointer(), std::make_pair(gp.x + 199, gp.y + 115));
    auto notes = configures(plain.window, true);
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().height, 116);
    ASSERT_NO_FATAL_FAILURE(chord(XK_o));
    ASSERT_NO_FATAL_FAILURE(chord(XK_o));
    EXPECT_EQ(geo(plain.window), (Geometry{gp.x, gp.y, 200, 84, 0}));
    ASSERT_NO_FATAL_FAILURE(chord(XK_p));
    EXPECT_EQ(geo(plain.window).width, 216u);
    EXPECT_EQ(c().pointer(), std::make_pair(gp.x + 215, gp.y + 83));
}

TEST_F(Input, CornerKeysOnOneHead) {
    start();
    Managed a = manage(at(400, 300));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const auto p = c().pointer();
    const int right = W() - (200 + b_), bottom = H() - (b_ + 100), top = b_ + th_;

    ASSERT_NO_FATAL_FAILURE(chord(XK_n));
    EXPECT_EQ(geo(a.window).x, b_);
    EXPECT_EQ(geo(a.window).y, top);
    EXPECT_EQ(geo(a.tab).y, 0); // the tab stays on screen
    ASSERT_NO_FATAL_FAILURE(chord(XK_m));
    EXPECT_EQ(geo(a.window).x, right);
    EXPECT_EQ(geo(a.window).y, top);
    ASSERT_NO_FATAL_FAILURE(chord(XK_comma));
    EXPECT_EQ(geo(a.window).x, b_);
    EXPECT_EQ(geo(a.window).y, bottom);
    ASSERT_NO_FATAL_FAILURE(chord(XK_period));
    EXPECT_EQ(geo(a.window).x, right);
    EXPECT_EQ(geo(a.window).y, bottom);
    EXPECT_EQ(geo(a.frame).x + static_cast<int>(geo(a.frame).width), W());
    EXPECT_EQ(geo(a.frame).y + static_cast<int>(geo(a.frame).height), H());
    // Corner keys never move the pointer, and never resize.
    EXPECT_EQ(c().pointer(), p);
    EXPECT_EQ(geo(a.window).width, 200u);

    // With the tab hidden the frame's top edge meets the screen's top edge.
    ASSERT_NO_FATAL_FAILURE(chord(XK_t));
    ASSERT_NO_FATAL_FAILURE(chord(XK_n));
    EXPECT_EQ(geo(a.frame).y, 0);
    EXPECT_EQ(geo(a.window).x, b_);
}

TEST_F(Input, CornerKeysUseTheHeadUnderThePointer) {
    // Head 0: 640x480 at (0, 0); head 1: 800x600 at (640, 0).
    start({}, XServer::two_heads(640, 480, 800, 600));
    Managed a = manage(at(100, 100));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    // The window lies on head 0; the pointer goes to head 1 (over the bare root).
    c().move_pointer(1000, 300);
    ASSERT_NO_FATAL_FAILURE(chord(XK_n));
    EXPECT_EQ(geo(a.window).x, 640 + b_);
    EXPECT_EQ(geo(a.window).y, b_ + th_);
    c().move_pointer(1000, 300);
    ASSERT_NO_FATAL_FAILURE(chord(XK_period));
    EXPECT_EQ(geo(a.window).x, 640 + 800 - (200 + b_));
    EXPECT_EQ(geo(a.window).y, 600 - (b_ + 100));
    ASSERT_NO_FATAL_FAILURE(chord(XK_m));
    EXPECT_EQ(geo(a.window).x, 640 + 800 - (200 + b_));
    EXPECT_EQ(geo(a.window).y, b_ + th_);
    // Back on head 0, the shorter one.
    c().move_pointer(300, 200);
    ASSERT_NO_FATAL_FAILURE(chord(XK_comma));
    EXPECT_EQ(geo(a.window).x, b_);
    EXPECT_EQ(geo(a.window).y, 480 - (b_ + 100));
}

TEST_F(Input, RaiseAndLowerByKeyAndWheel) {
    start();
    Managed a = manage(at(100, 100, 300, 200));
    Managed b = manage(at(200, 150, 300, 200));
    ASSERT_GT(stack_index(b.frame), stack_index(a.frame));
    // Into the part of A that B does not cover.
    ASSERT_NO_FATAL_FAILURE(activate(a.window, 20, 20));

    ASSERT_NO_FATAL_FAILURE(chord(XK_Up));
    EXPECT_GT(stack_index(a.frame), stack_index(b.frame));
    EXPECT_GT(stack_index(a.frame), stack_index(b.tab));
    EXPECT_EQ(stack_index(a.tab), stack_index(a.frame) + 1);

    // Lowering sends the frame to the bottom, then the tab below it.
    ASSERT_NO_FATAL_FAILURE(chord(XK_Down));
    EXPECT_EQ(stack_index(a.tab), 0);
    EXPECT_EQ(stack_index(a.frame), 1);

    // The wheel over the active client's border: up raises, down lowers.
    const Geometry af = geo(a.frame);
    ASSERT_NO_FATAL_FAILURE(click_at(af.x, af.y + 20, Button4));
    EXPECT_GT(stack_index(a.frame), stack_index(b.frame));
    EXPECT_EQ(stack_index(a.tab), stack_index(a.frame) + 1);
    ASSERT_NO_FATAL_FAILURE(click_at(af.x, af.y + 20, Button5));
    EXPECT_EQ(stack_index(a.tab), 0);
    EXPECT_EQ(stack_index(a.frame), 1);
    EXPECT_EQ(desktop(), 1); // the wheel on a window never switches desktops
}

TEST_F(Input, TabToggleAndHideKeys) {
    start();
    Managed a = manage(at(400, 300));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    ASSERT_EQ(c().map_state(a.tab), IsViewable);

    ASSERT_NO_FATAL_FAILURE(chord(XK_t));
    EXPECT_TRUE(wait_map_state(a.tab, IsUnmapped));
    EXPECT_EQ(c().map_state(a.window), IsViewable);
    ASSERT_NO_FATAL_FAILURE(chord(XK_t));
    EXPECT_TRUE(wait_map_state(a.tab, IsViewable));

    // Hide: frame and window go, the tab stays; the window stays the active client, so
    // the same key brings it back, with the focus.
    ASSERT_NO_FATAL_FAILURE(chord(XK_s));
    EXPECT_TRUE(wait_map_state(a.frame, IsUnmapped));
    EXPECT_EQ(c().map_state(a.window), IsUnmapped);
    EXPECT_EQ(c().map_state(a.tab), IsViewable);
    EXPECT_EQ(c().wm_state(a.window), 3);
    EXPECT_TRUE(c().is_framed(a.window));
    ASSERT_NO_FATAL_FAILURE(chord(XK_s));
    EXPECT_TRUE(wait_map_state(a.window, IsViewable));
    EXPECT_EQ(c().wm_state(a.window), 1);
    EXPECT_TRUE(c().wait_until([&] { return c().focus() == a.window; }));

    // Hiding a window whose tab is hidden shows the tab first; it stays after restoring.
    ASSERT_NO_FATAL_FAILURE(chord(XK_t));
    ASSERT_TRUE(wait_map_state(a.tab, IsUnmapped));
    ASSERT_NO_FATAL_FAILURE(chord(XK_s));
    EXPECT_TRUE(wait_map_state(a.frame, IsUnmapped));
    EXPECT_EQ(c().map_state(a.tab), IsViewable);
    ASSERT_NO_FATAL_FAILURE(chord(XK_s));
    EXPECT_TRUE(wait_map_state(a.window, IsViewable));
    EXPECT_EQ(c().map_state(a.tab), IsViewable);
}

TEST_F(Input, MaximizeKeys) {
    start();
    Managed a = manage(at(400, 300));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const Geometry g0 = geo(a.window);
    const auto p = c().pointer();
    const Geometry vert{g0.x, b_ + th_, 200, static_cast<unsigned>(H() - th_ - 2 * b_), 0};
    const Geometry horz{b_, g0.y, static_cast<unsigned>(W() - 2 * b_), 100, 0};
    const Geometry both{b_, b_ + th_, static_cast<unsigned>(W() - 2 * b_),
                        static_cast<unsigned>(H() - th_ - 2 * b_), 0};

    ASSERT_NO_FATAL_FAILURE(chord(XK_v));
    EXPECT_EQ(geo(a.window), vert);
    ASSERT_NO_FATAL_FAILURE(chord(XK_v));
    EXPECT_EQ(geo(a.window), g0);
    ASSERT_NO_FATAL_FAILURE(chord(XK_b));
    EXPECT_EQ(geo(a.window), horz);
    ASSERT_NO_FATAL_FAILURE(chord(XK_b));
    EXPECT_EQ(geo(a.window), g0);
    ASSERT_NO_FATAL_FAILURE(chord(XK_x));
    EXPECT_EQ(geo(a.window), both);
    EXPECT_EQ(geo(a.frame),
              (Geometry{0, th_, static_cast<unsigned>(W()), static_cast<unsigned>(H() - th_), 0}));
    ASSERT_NO_FATAL_FAILURE(chord(XK_x));
    EXPECT_EQ(geo(a.window), g0);
    // Maximized one way only, the key for both toggles each direction on its own.
    ASSERT_NO_FATAL_FAILURE(chord(XK_v));
    ASSERT_NO_FATAL_FAILURE(chord(XK_x));
    EXPECT_EQ(geo(a.window), horz);
    // No maximize moves the pointer.
    EXPECT_EQ(c().pointer(), p);
}

TEST_F(Input, CloseAndFixedKeys) {
    start();
    WindowDesc polite = at(400, 300);
    polite.protocols = {"WM_DELETE_WINDOW"};
    Managed a = manage(polite);
    Managed other = manage(at(100, 700));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));

    ASSERT_NO_FATAL_FAILURE(chord(XK_q));
    EXPECT_TRUE(c().wait_until([&] { return delete_requests(a.window) == 1; }));
    EXPECT_EQ(delete_requests(other.window), 0);

    // Fixed: shown on every desktop; fixed again: lives on the desktop shown then.
    ASSERT_NO_FATAL_FAILURE(chord(XK_f));
    ASSERT_NO_FATAL_FAILURE(chord(XK_2));
    EXPECT_EQ(desktop(), 2);
    EXPECT_TRUE(wait_map_state(other.window, IsUnmapped));
    EXPECT_EQ(c().map_state(a.window), IsViewable);
    ASSERT_NO_FATAL_FAILURE(chord(XK_f));
    ASSERT_NO_FATAL_FAILURE(chord(XK_1));
    EXPECT_TRUE(wait_map_state(a.window, IsUnmapped));
    EXPECT_EQ(c().map_state(other.window), IsViewable);
    ASSERT_NO_FATAL_FAILURE(chord(XK_2));
    EXPECT_TRUE(wait_map_state(a.window, IsViewable));
}

// ---------------------------------------------------------------------------
// Keyboard: bindings that act without an active client

TEST_F(Input, WithoutActiveClientOnlyDesktopKeysAct) {
    start();
    c().move_pointer(W() - 1, H() - 1); // over the bare root, away from every window
    WindowDesc desc = at(400, 300);
    desc.protocols = {"WM_DELETE_WINDOW"};
    Managed a = manage(desc);
    ASSERT_NE(c().focus(), a.window);
    const Geometry g0 = geo(a.window);
    const int top = stack_index(a.frame);

    for (KeySym k : {XK_h, XK_l, XK_q, XK_Down, XK_i, XK_n, XK_v, XK_s, XK_t})
        ASSERT_NO_FATAL_FAILURE(chord(k));
    EXPECT_EQ(geo(a.window), g0);
    EXPECT_EQ(stack_index(a.frame), top);
    EXPECT_EQ(c().map_state(a.tab), IsViewable);
    EXPECT_EQ(c().map_state(a.window), IsViewable);
    EXPECT_EQ(delete_requests(a.window), 0);
    EXPECT_EQ(c().pointer(), std::make_pair(W() - 1, H() - 1));

    ASSERT_EQ(desktop(), 1);
    ASSERT_EQ(desktop_count(), 3);
    ASSERT_NO_FATAL_FAILURE(chord(XK_2));
    EXPECT_EQ(desktop(), 2);
    EXPECT_TRUE(wait_map_state(a.window, IsUnmapped));
    EXPECT_EQ(c().wm_state(a.window), 3);
    ASSERT_NO_FATAL_FAILURE(chord(XK_Left));
    EXPECT_EQ(desktop(), 1);
    EXPECT_TRUE(wait_map_state(a.window, IsViewable));
    ASSERT_NO_FATAL_FAILURE(chord(XK_Left)); // no wrap-around
    EXPECT_EQ(desktop(), 1);
    ASSERT_NO_FATAL_FAILURE(chord(XK_Right));
    ASSERT_NO_FATAL_FAILURE(chord(XK_Right));
    EXPECT_EQ(desktop(), 3);
    ASSERT_NO_FATAL_FAILURE(chord(XK_Right));
    EXPECT_EQ(desktop(), 3);
    ASSERT_NO_FATAL_FAILURE(chord(XK_3));
    EXPECT_EQ(desktop(), 3);
    // A number above the count raises the count.
    ASSERT_NO_FATAL_FAILURE(chord(XK_9));
    EXPECT_EQ(desktop(), 9);
    EXPECT_EQ(desktop_count(), 9);
    ASSERT_NO_FATAL_FAILURE(chord(XK_Right));
    EXPECT_EQ(desktop(), 9);
    ASSERT_NO_FATAL_FAILURE(chord(XK_Left));
    EXPECT_EQ(desktop(), 8);
    EXPECT_EQ(desktop_count(), 9);
    ASSERT_NO_FATAL_FAILURE(chord(XK_1));
    EXPECT_TRUE(wait_map_state(a.window, IsViewable));
    EXPECT_EQ(geo(a.window), g0);
}

TEST_F(Input, AltTabCyclesFromNewestToOldest) {
    start();
    c().move_pointer(W() - 1, H() - 1); // over the bare root: nothing gets entered
    Managed a = manage(at(100, 100));
    Managed b = manage(at(400, 100));
    Managed d = manage(at(700, 100));
    // The newest window of all lives on desktop 2 and is skipped on desktop 1.
    ASSERT_NO_FATAL_FAILURE(chord(XK_2));
    Managed e = manage(at(100, 500));
    ASSERT_NO_FATAL_FAILURE(chord(XK_1));
    ASSERT_TRUE(wait_map_state(e.window, IsUnmapped));
    ASSERT_NE(c().focus(), d.window);

    // Without an active client: the newest window of the desktop; then older ones, and
    // round to the newest again. Each is raised.
    for (Window expected : {d.window, b.window, a.window, d.window, b.window}) {
        c().key_chord(XK_Tab, Mod1Mask);
        ASSERT_TRUE(c().sync_with_wm());
        EXPECT_TRUE(c().wait_until([&] { return c().focus() == expected; }));
        Window frame = c().parent(expected);
        for (Window other : {a.frame, b.frame, d.frame}) {
            if (other == frame) continue;
            EXPECT_GT(stack_index(frame), stack_index(other));
        }
    }
    EXPECT_EQ(c().map_state(e.window), IsUnmapped);
    EXPECT_EQ(c().pointer(), std::make_pair(W() - 1, H() - 1));
}

TEST_F(Input, CommandKeysRunWithoutActiveClient) {
    TempDir dir;
    const std::string one = dir.path + "/one", two = dir.path + "/two", three = dir.path + "/three";
    start({"-cmd1", "touch " + one, "-cmd2", "touch " + two, "-cmd3", "touch " + three});
    ASSERT_NO_FATAL_FAILURE(chord(XK_Return));
    EXPECT_TRUE(c().wait_until([&] { return exists(one); }));
    ASSERT_NO_FATAL_FAILURE(chord(XK_space));
    EXPECT_TRUE(c().wait_until([&] { return exists(two); }));
    ASSERT_NO_FATAL_FAILURE(chord(XK_e));
    EXPECT_TRUE(c().wait_until([&] { return exists(three); }));
    EXPECT_TRUE(wm().running());
}

TEST_F(Input, CapsLockAndNumLockDoNotChangeTheChords) {
    start();
    Managed a = manage(at(400, 300));
    Managed b = manage(at(800, 300));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    int x = geo(a.window).x;
    for (unsigned locks : {unsigned{LockMask}, unsigned{Mod2Mask}, unsigned{LockMask | Mod2Mask}}) {
        ASSERT_NO_FATAL_FAILURE(chord(XK_l, locks));
        x += 16;
        EXPECT_EQ(geo(a.window).x, x) << "locks " << locks;
    }
    // Shift is not part of any chord: the key goes to the focused window instead.
    ASSERT_NO_FATAL_FAILURE(chord(XK_l, ShiftMask));
    EXPECT_EQ(geo(a.window).x, x);
    // Alt+Tab with both locks on.
    c().key_chord(XK_Tab, Mod1Mask | LockMask | Mod2Mask);
    ASSERT_TRUE(c().sync_with_wm());
    EXPECT_TRUE(c().wait_until([&] { return c().focus() == b.window; }));
    // The locks are off again: the plain chord still works, on the new active client.
    const int bx = geo(b.window).x;
    ASSERT_NO_FATAL_FAILURE(chord(XK_h));
    EXPECT_EQ(geo(b.window).x, bx - 16);
    EXPECT_EQ(geo(a.window).x, x);
}

// A Control+Alt chord on a key given by its code, for keys the test's own keysym lookup
// may not know yet after a mapping change.
void chord_on_keycode(Connection &c, KeyCode code) {
    c.press_modifiers(kCtrlAlt);
    XTestFakeKeyEvent(c.dpy(), code, True, CurrentTime);
    XTestFakeKeyEvent(c.dpy(), code, False, CurrentTime);
    XSync(c.dpy(), False);
    c.release_modifiers(kCtrlAlt);
}

// The bindings follow the keyboard mapping: 'l' moved to another key (as xmodmap does)
// works on its new key and no longer on its old one; with a layout whose first group has no
// Latin letters (Russian, then US) the chords work on the keys that carry their letters in
// the other group.
enum class Remap { moved_key, second_group };
class KeyboardMapping : public Input, public testing::WithParamInterface<Remap> {};

TEST_P(KeyboardMapping, ChordsFollowTheKeys) {
    start();
    Managed a = manage(at(400, 300));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const KeyCode l_code = XKeysymToKeycode(dpy(), XK_l);
    KeyCode now = l_code;
    if (GetParam() == Remap::moved_key) {
        int min = 0, max = 0, per = 0;
        XDisplayKeycodes(dpy(), &min, &max);
        KeySym *map = XGetKeyboardMapping(dpy(), static_cast<KeyCode>(min), max - min + 1, &per);
        for (int k = max; k >= min && now == l_code; --k)
            if (map[(k - min) * per] == NoSymbol) now = static_cast<KeyCode>(k);
        XFree(map);
        ASSERT_NE(now, l_code) << "no unused keycode";
        KeySym l = XK_l, other = XK_F20;
        XChangeKeyboardMapping(dpy(), now, 1, &l, 1);
        XChangeKeyboardMapping(dpy(), l_code, 1, &other, 1);
    } else {
        harness::Process layout({"setxkbmap", "-display", DisplayString(dpy()), "ru,us"});
        ASSERT_EQ(layout.wait_exit(), 0) << layout.err();
    }
    ASSERT_TRUE(c().sync_with_wm());
    const int x = geo(a.window).x;
    chord_on_keycode(c(), now);
    ASSERT_TRUE(c().sync_with_wm());
    EXPECT_EQ(geo(a.window).x, x + 16);
    if (now != l_code) {
        chord_on_keycode(c(), l_code);
        ASSERT_TRUE(c().sync_with_wm());
        EXPECT_EQ(geo(a.window).x, x + 16);
    }
}

INSTANTIATE_TEST_SUITE_P(Input, KeyboardMapping,
                         testing::Values(Remap::moved_key, Remap::second_group),
                         [](const testing::TestParamInfo<Remap> &i) {
                             return i.param == Remap::moved_key ? "MovedKey" : "SecondGroup";
                         });

// ---------------------------------------------------------------------------
// Mouse: moving and resizing

TEST_F(Input, Button1DragOnTheBorderMovesAndSnaps) {
    start();
    Managed a = manage(at(400, 300));
    Managed n = manage(at(600, 600));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    ASSERT_GT(stack_index(n.frame), stack_index(a.frame));
    const Geometry g = geo(a.window);

    // Far from every edge the window follows the pointer exactly, on every motion. The
    // press raised it above its neighbour.
    Offset o = begin_move(a.window, g.x - 1, g.y + 50);
    EXPECT_GT(stack_index(a.frame), stack_index(n.frame));
    EXPECT_GT(stack_index(a.tab), stack_index(a.frame));
    EXPECT_EQ(drag_to(a.window, o, g.x + 30, g.y + 20), std::make_pair(g.x + 30, g.y + 20));
    EXPECT_TRUE(wait_at(a.window, g.x + 30, g.y + 20));
    EXPECT_EQ(drag_to(a.window, o, g.x + 50, g.y + 40), std::make_pair(g.x + 50, g.y + 40));
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_EQ(geo(a.window), (Geometry{g.x + 50, g.y + 40, 200, 100, 0}));
    EXPECT_EQ(geo(a.tab).x, g.x + 50 - b_);
    EXPECT_EQ(geo(a.tab).y, g.y + 40 - b_ - th_);

    // 5 pixels from the left edge of the screen: the frame snaps onto it.
    Geometry h = geo(a.window);
    o = begin_move(a.window, h.x - 1, h.y + 50);
    EXPECT_EQ(drag_to(a.window, o, b_ + 5, h.y), std::make_pair(b_, h.y));
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_EQ(geo(a.frame).x, 0);

    // 5 pixels right of the neighbour's frame, overlapping it vertically: the frames end
    // touching.
    const Geometry nf = geo(n.frame);
    h = geo(a.window);
    o = begin_move(a.window, h.x - 1, h.y + 50);
    const int nright = nf.x + static_cast<int>(nf.width);
    EXPECT_EQ(drag_to(a.window, o, nright + 5 + b_, nf.y + 20 + b_),
              std::make_pair(nright + b_, nf.y + 20 + b_));
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_EQ(geo(a.frame).x, nright);
    EXPECT_EQ(geo(a.frame).y, nf.y + 20);
    EXPECT_EQ(geo(n.frame), nf);

    // Alt+Button1 anywhere inside the window moves it as well.
    h = geo(a.window);
    o = begin_move(a.window, h.x + 100, h.y + 50, Button1, Mod1Mask);
    EXPECT_EQ(drag_to(a.window, o, h.x + 100, h.y - 100), std::make_pair(h.x + 100, h.y - 100));
    ASSERT_NO_FATAL_FAILURE(release(Button1, Mod1Mask));
    EXPECT_EQ(geo(a.window).x, h.x + 100);
}

// A pointer faster than the screen: motions sent without waiting still end the move (and
// the resize) exactly where the pointer was at the release.
TEST_F(Input, FastDragsEndWhereThePointerIs) {
    start({"-snap", "0"});
    Managed a = manage(at(300, 300));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const Geometry g = geo(a.window);
    const Offset o = begin_move(a.window, g.x - 1, g.y + 50);
    for (int i = 1; i <= 60; ++i)
        c().move_pointer(g.x + 7 * i - o.x, g.y + 3 * i - o.y);
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_EQ(geo(a.window), (Geometry{g.x + 420, g.y + 180, 200, 100, 0}));

    const Geometry h = geo(a.window);
    press_for_grab(h.x - 1, h.y + 50, Button3, 0, {X_WarpPointer});
    for (int i = 1; i <= 60; ++i)
        c().move_pointer(h.x + 200 - 2 * i, h.y + 100 + i);
    ASSERT_NO_FATAL_FAILURE(release(Button3));
    EXPECT_EQ(geo(a.window), (Geometry{h.x, h.y, 80, 160, 0}));
}

class SolidResize : public Input, public ::testing::WithParamInterface<int> {};

TEST_P(SolidResize, Button3ResizeShowsTheClientItsSizeAsConfigured) {
    const bool solid = GetParam() != 0;
    start({"-snap", "0", "-sr", solid ? "1" : "0"});
    Managed a = manage(at(300, 300));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const Geometry g = geo(a.window);
    const unsigned tw = geo(a.tab).width;
    ASSERT_LT(tw, 100u);
    c().clear_events();

    // The press warps the pointer to the pixel just beyond the bottom-right corner.
    press_for_grab(g.x - 1, g.y + 50, Button3, 0, {X_WarpPointer});
    ASSERT_EQ(c().pointer(), std::make_pair(g.x + 200, g.y + 100));

    // The top-left corner stays; the size follows the pointer.
    c().move_pointer(g.x + 300, g.y + 150);
    EXPECT_TRUE(wait_size(a.frame, 300 + 2 * b_, 150 + 2 * b_));
    if (solid) {
        EXPECT_TRUE(wait_size(a.window, 300, 150));
    } else {
        EXPECT_EQ(geo(a.window), g); // the application sees its old size until the release
    }
    // Left of the window's left edge: the mirrored distance. The tab is cut to the
    // narrow window, and gets its width back when the window is wide enough again.
    c().move_pointer(g.x - 20, g.y + 150);
    EXPECT_TRUE(wait_size(a.frame, 20 + 2 * b_, 150 + 2 * b_));
    EXPECT_EQ(geo(a.frame).x, g.x - b_);
    EXPECT_TRUE(c().wait_until([&] { return geo(a.tab).width == 20; }));
    c().move_pointer(g.x + 100, g.y + 50);
    EXPECT_TRUE(wait_size(a.frame, 100 + 2 * b_, 50 + 2 * b_));
    if (solid) {
        EXPECT_TRUE(wait_size(a.window, 100, 50));
    }
    EXPECT_TRUE(c().wait_until([&] { return geo(a.tab).width == tw; }));
    // No notification during the drag; with solid resizing the real size changes only.
    auto during = configures(a.window, false);
    if (solid) {
        EXPECT_FALSE(during.empty());
    } else {
        EXPECT_TRUE(during.empty());
    }
    for (const auto &e : during)
        EXPECT_FALSE(e.send_event);

    ASSERT_NO_FATAL_FAILURE(release(Button3));
    EXPECT_EQ(geo(a.window), (Geometry{g.x, g.y, 100, 50, 0}));
    auto all = configures(a.window, false);
    auto synthetic = configures(a.window, true);
    ASSERT_EQ(synthetic.size(), 1u);
    EXPECT_EQ(synthetic[0].x, g.x);
    EXPECT_EQ(synthetic[0].y, g.y);
    EXPECT_EQ(synthetic[0].width, 100);
    EXPECT_EQ(synthetic[0].height, 50);
    ASSERT_FALSE(all.empty());
    EXPECT_TRUE(all.back().send_event); // the last word, after the real resize
    if (!solid) {
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[0].width, 100);
        EXPECT_EQ(all[0].height, 50);
    }
}

INSTANTIATE_TEST_SUITE_P(Input, SolidResize, ::testing::Values(0, 1),
                         [](const auto &info) { return info.param ? "Solid" : "Outline"; });

TEST_F(Input, Button2HidesAndTheTabRestores) {
    start();
    Managed a = manage(at(400, 300));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const Geometry fg = geo(a.frame);

    ASSERT_NO_FATAL_FAILURE(click_at(fg.x, fg.y + 50, Button2));
    EXPECT_TRUE(wait_map_state(a.frame, IsUnmapped));
    EXPECT_EQ(c().map_state(a.window), IsUnmapped);
    EXPECT_EQ(c().map_state(a.tab), IsViewable);
    EXPECT_EQ(c().wm_state(a.window), 3);

    // Button2 on the bare root does nothing.
    ASSERT_NO_FATAL_FAILURE(click_at(W() - 10, H() - 10, Button2));
    EXPECT_EQ(desktop(), 1);
    EXPECT_EQ(c().map_state(a.frame), IsUnmapped);

    // Through the tab, the only part left on screen.
    const Geometry tg = geo(a.tab);
    ASSERT_NO_FATAL_FAILURE(click_at(tg.x + 5, tg.y + th_ / 2, Button2));
    EXPECT_TRUE(wait_map_state(a.window, IsViewable));
    EXPECT_EQ(c().map_state(a.frame), IsViewable);
    EXPECT_EQ(c().wm_state(a.window), 1);
    EXPECT_TRUE(c().wait_until([&] { return c().focus() == a.window; }));
    EXPECT_EQ(geo(a.frame), fg);
}

TEST_F(Input, WheelOnTheRootSwitchesDesktopsWithinBounds) {
    start();
    Managed a = manage(at(400, 300));
    const int x = W() - 10, y = H() - 10; // bare root
    for (long expected : {2, 3, 3}) {
        ASSERT_NO_FATAL_FAILURE(click_at(x, y, Button4));
        EXPECT_EQ(desktop(), expected);
    }
    EXPECT_TRUE(wait_map_state(a.window, IsUnmapped));
    for (long expected : {2, 1, 1}) {
        ASSERT_NO_FATAL_FAILURE(click_at(x, y, Button5));
        EXPECT_EQ(desktop(), expected);
    }
    EXPECT_TRUE(wait_map_state(a.window, IsViewable));
    EXPECT_EQ(desktop_count(), 3);
}

TEST_F(Input, RootClickModeMovesAWindowThatIsNotActive) {
    start();
    Managed a = manage(at(100, 100, 300, 200));
    Managed b = manage(at(300, 200, 300, 200));
    ASSERT_NO_FATAL_FAILURE(activate(a.window, 20, 20));
    ASSERT_NO_FATAL_FAILURE(chord(XK_Up)); // A above B
    ASSERT_GT(stack_index(a.frame), stack_index(b.frame));
    const Geometry ga = geo(a.window), gb = geo(b.window);

    // Button1 on the root starts the mode; B, not active, is picked by the next press,
    // raised and moved.
    press_for_grab(W() - 10, H() - 10);
    c().button_up(Button1);
    Offset o = begin_move(b.window, gb.x + 250, gb.y + 150);
    EXPECT_GT(stack_index(b.frame), stack_index(a.frame));
    EXPECT_EQ(drag_to(b.window, o, gb.x + 330, gb.y + 230), std::make_pair(gb.x + 330, gb.y + 230));
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_EQ(geo(b.window).x, gb.x + 330);
    EXPECT_EQ(geo(b.window).y, gb.y + 230);
    EXPECT_EQ(geo(a.window), ga);

    // Button1 on the root, then a press on the bare root: the mode ends, nothing moves.
    press_for_grab(W() - 10, H() - 10);
    c().button_up(Button1);
    c().move_pointer(W() - 20, 20);
    c().click(Button1);
    ASSERT_TRUE(c().sync_with_wm()) << "root-click mode did not end";
    EXPECT_EQ(geo(a.window), ga);
    EXPECT_EQ(geo(b.window).x, gb.x + 330);
    EXPECT_EQ(desktop(), 1);
}

TEST_F(Input, DraggingAgainstTheScreenEdgeFlipsTheDesktop) {
    start();
    Managed a = manage(at(400, 300));
    Managed other = manage(at(100, 700));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const Geometry g = geo(a.window);
    const int py = g.y + 50;

    // Desktop 1 of 3, to the last column of the screen: the pointer jumps to x 5, view and
    // window go to desktop 2, and the window follows the pointer to the left edge (where
    // it snaps).
    Offset o = begin_move(a.window, g.x - 1, py);
    c().move_pointer(W() - 3, py); // the third column from the right is not enough
    EXPECT_EQ(told(a.window).first, W() - 3 + o.x);
    EXPECT_EQ(c().pointer(), std::make_pair(W() - 3, py));
    c().move_pointer(W() - 1, py);
    EXPECT_EQ(told(a.window).first, W() - 1 + o.x);
    EXPECT_EQ(told(a.window), std::make_pair(b_, g.y));
    EXPECT_EQ(c().pointer(), std::make_pair(5, py));
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_EQ(desktop(), 2);
    EXPECT_TRUE(wait_map_state(other.window, IsUnmapped));
    EXPECT_EQ(c().map_state(a.window), IsViewable);
    EXPECT_EQ(geo(a.window).x, b_);

    // From desktop 2, the first three columns lead back to desktop 1.
    o = begin_move(a.window, 1, py); // on the frame's left border
    c().move_pointer(3, py);
    EXPECT_EQ(told(a.window).first, b_); // snapped back to the edge; no flip yet
    EXPECT_EQ(c().pointer(), std::make_pair(3, py));
    c().move_pointer(2, py);
    EXPECT_EQ(told(a.window).first, b_);
    EXPECT_EQ(told(a.window).first, W() - 5 + o.x);
    EXPECT_EQ(c().pointer().first, W() - 5);
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_EQ(desktop(), 1);
    EXPECT_TRUE(wait_map_state(other.window, IsViewable));
    EXPECT_EQ(c().map_state(a.window), IsViewable);

    // On the last desktop nothing happens at the right edge.
    ASSERT_NO_FATAL_FAILURE(chord(XK_3));
    Managed d = manage(at(400, 300));
    ASSERT_NO_FATAL_FAILURE(activate(d.window));
    const Geometry gd = geo(d.window);
    o = begin_move(d.window, gd.x - 1, gd.y + 50);
    c().move_pointer(W() - 1, gd.y + 50);
    EXPECT_EQ(told(d.window).first, W() - 1 + o.x);
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_EQ(c().pointer(), std::make_pair(W() - 1, gd.y + 50));
    EXPECT_EQ(desktop(), 3);
    EXPECT_EQ(c().map_state(d.window), IsViewable);
    EXPECT_EQ(c().map_state(a.window), IsUnmapped);
}

TEST_F(Input, ShiftButton1DragsTheTabWithinTheWindow) {
    start();
    WindowDesc desc = at(300, 300, 300, 100);
    desc.name = "tab";
    Managed a = manage(desc);
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const Geometry fg = geo(a.frame), tg0 = geo(a.tab);
    const int tw = static_cast<int>(tg0.width);
    ASSERT_EQ(tg0.x, fg.x);
    ASSERT_LT(tw, 300);
    auto tab_x = [&] { return geo(a.tab).x - fg.x; }; // the tab's offset

    // Press on the tab, left of its close area.
    const int px0 = tg0.x + 4, py = tg0.y + th_ / 2;
    c().clear_events();
    press_for_grab(px0, py, Button1, ShiftMask, {X_QueryPointer});
    c().move_pointer(px0 + 40, py);
    EXPECT_TRUE(c().wait_until([&] { return tab_x() == 40; }));

    c().move_pointer(px0 + 100, py + 30); // the vertical part plays no role
    EXPECT_TRUE(c().wait_until([&] { return tab_x() == 100; }));
    EXPECT_EQ(geo(a.tab).y, tg0.y);
    c().move_pointer(px0 + 1000, py); // the tab's end stops at the window's right edge
    EXPECT_TRUE(c().wait_until([&] { return tab_x() == 300 - tw; }));
    EXPECT_EQ(geo(a.tab).width, tg0.width);
    c().move_pointer(0, py); // and its start at the left edge
    EXPECT_TRUE(c().wait_until([&] { return tab_x() == 0; }));
    c().move_pointer(px0 + 60, py);
    EXPECT_TRUE(c().wait_until([&] { return tab_x() == 60; }));
    c().move_pointer(px0 + 60, py + 200);
    ASSERT_NO_FATAL_FAILURE(release(Button1, ShiftMask));
    EXPECT_EQ(geo(a.tab), (Geometry{fg.x + 60, tg0.y, tg0.width, tg0.height, 0}));
    EXPECT_EQ(geo(a.frame), fg);
    EXPECT_TRUE(configures(a.window, false).empty()) << "a tab drag tells the client nothing";

    // Shift+Button1 on the frame's border drags the tab too.
    const int bx = fg.x, by = fg.y + 50;
    press_for_grab(bx, by, Button1, ShiftMask, {X_QueryPointer});
    c().move_pointer(bx + 40, by);
    EXPECT_TRUE(c().wait_until([&] { return tab_x() == 100; }));
    ASSERT_NO_FATAL_FAILURE(release(Button1, ShiftMask));
    EXPECT_EQ(geo(a.frame), fg);
}

TEST_F(Input, CloseClickClosesOnlyWhenReleasedOverTheFrame) {
    start();
    WindowDesc desc = at(400, 300);
    desc.protocols = {"WM_DELETE_WINDOW"};
    Managed a = manage(desc);
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const Geometry tg = geo(a.tab);
    const int tw = static_cast<int>(tg.width), ty = tg.y + th_ / 2;
    const Geometry g = geo(a.window);
    c().clear_events();

    // Released over the tab itself: nothing.
    press_for_grab(tg.x + tw - 9, ty);
    ASSERT_NO_FATAL_FAILURE(release());
    // Released over the bare root: nothing.
    press_for_grab(tg.x + tw - 5, ty);
    c().move_pointer(W() - 10, H() - 10);
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_EQ(delete_requests(a.window), 0);

    // Released over the window: closed, politely.
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    press_for_grab(tg.x + tw - 1, ty);
    c().move_pointer(g.x + 100, g.y + 50);
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_TRUE(c().wait_until([&] { return delete_requests(a.window) == 1; }));

    // Just left of the close area a press starts a move instead.
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    c().clear_events();
    Offset o = begin_move(a.window, tg.x + tw - 10, ty);
    EXPECT_EQ(drag_to(a.window, o, g.x + 30, g.y), std::make_pair(g.x + 30, g.y));
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_EQ(delete_requests(a.window), 0);
    EXPECT_EQ(geo(a.window).x, g.x + 30);
}

// ---------------------------------------------------------------------------
// Drags cut short

TEST_F(Input, ClientDestroyedDuringADragEndsTheDrag) {
    start({"-sr", "1"}); // the resize touches the client window on every motion
    Managed a = manage(at(400, 300));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const Geometry g = geo(a.window);

    // A move: the next motion after the window is gone ends the loop and the grab, with
    // the button still held.
    Offset o = begin_move(a.window, g.x - 1, g.y + 50);
    EXPECT_EQ(drag_to(a.window, o, g.x + 20, g.y), std::make_pair(g.x + 20, g.y));
    c().destroy(a.window);
    c().move_pointer(g.x + 40, g.y + 50);
    EXPECT_TRUE(c().wait_until([&] { return can_grab_pointer(); }))
        << "the manager kept the pointer";
    ASSERT_NO_FATAL_FAILURE(release());
    EXPECT_TRUE(c().wait_until([&] { return !c().try_geometry(a.frame); }));
    EXPECT_FALSE(c().try_geometry(a.tab));
    EXPECT_TRUE(wm().running());

    // A solid resize, likewise.
    Managed b = manage(at(400, 300));
    ASSERT_NO_FATAL_FAILURE(activate(b.window));
    const Geometry gb = geo(b.window);
    press_for_grab(gb.x - 1, gb.y + 50, Button3, 0, {X_WarpPointer});
    c().move_pointer(gb.x + 250, gb.y + 120);
    EXPECT_TRUE(wait_size(b.frame, 250 + 2 * b_, 120 + 2 * b_));
    c().destroy(b.window);
    c().move_pointer(gb.x + 260, gb.y + 130);
    EXPECT_TRUE(c().wait_until([&] { return can_grab_pointer(); }))
        << "the manager kept the pointer";
    ASSERT_NO_FATAL_FAILURE(release(Button3));
    EXPECT_TRUE(c().wait_until([&] { return !c().try_geometry(b.frame); }));

    // A tab drag never touches the window: it goes on to the release; then the window
    // is let go.
    Managed d = manage(at(400, 300));
    ASSERT_NO_FATAL_FAILURE(activate(d.window));
    const Geometry td = geo(d.tab);
    press_for_grab(td.x + 4, td.y + th_ / 2, Button1, ShiftMask, {X_QueryPointer});
    c().destroy(d.window);
    c().move_pointer(td.x + 30, td.y + th_ / 2);
    c().move_pointer(td.x + 50, td.y + th_ / 2);
    ASSERT_NO_FATAL_FAILURE(release(Button1, ShiftMask));
    EXPECT_TRUE(c().wait_until([&] { return !c().try_geometry(d.tab); }));

    // The manager carries on.
    EXPECT_TRUE(wm().running());
    Managed e = manage(at(200, 200));
    EXPECT_TRUE(c().is_framed(e.window));
}

TEST_F(Input, ShutdownSignalDuringADragEndsTheManager) {
    start();
    Managed a = manage(at(400, 300));
    ASSERT_NO_FATAL_FAILURE(activate(a.window));
    const Geometry g = geo(a.window);
    Offset o = begin_move(a.window, g.x - 1, g.y + 50);
    EXPECT_EQ(drag_to(a.window, o, g.x + 20, g.y + 10), std::make_pair(g.x + 20, g.y + 10));
    // The button stays down.
    wm().signal(SIGTERM);
    EXPECT_EQ(wm().wait_exit(), 0);
    EXPECT_EQ(c().parent(a.window), root());
    EXPECT_FALSE(c().try_geometry(a.frame));
    EXPECT_TRUE(can_grab_pointer());
    c().button_up(Button1);
}

} // namespace
