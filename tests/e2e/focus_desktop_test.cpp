// End to end: focus follows the pointer and its colours, focus cycling, virtual
// desktops and fixed windows, maximizing (one head and two) and snapping on keyboard
// moves. Each test starts its own server and manager and drives them with XTest.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

using harness::Geometry;
using harness::kCtrlAlt;
using harness::manage;
using harness::Managed;
using harness::WindowDesc;
using harness::XServer;

constexpr int kBorder = 2; // the default frame border

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb &) const = default;
};
std::ostream &operator<<(std::ostream &os, const Rgb &c) {
    return os << "rgb(" << c.r << "," << c.g << "," << c.b << ")";
}

// The default colours: inactive "grey50", active "steel blue", fixed "blue".
constexpr Rgb kInactive{127, 127, 127};
constexpr Rgb kActive{70, 130, 180};
constexpr Rgb kFixed{0, 0, 255};
constexpr Rgb kUnreadable{-1, -1, -1};

// A session with the pointer on the bare root, away from every window made below.
struct ParkedSession : harness::Session {
    explicit ParkedSession(std::vector<std::string> args = {}, XServer server = XServer())
        : Session(std::move(args), std::move(server)) {
        require_ready();
        park();
    }
};

WindowDesc at(int x, int y, unsigned w = 200, unsigned h = 100, const char *name = "w") {
    return {.x = x, .y = y, .width = w, .height = h, .name = name};
}

Rgb to_rgb(Display *d, unsigned long p) {
    Visual *v = DefaultVisual(d, DefaultScreen(d));
    auto part = [p](unsigned long mask) {
        int shift = __builtin_ctzl(mask);
        unsigned long max = mask >> shift;
        return static_cast<int>(((p & mask) >> shift) * 255 / max);
    };
    return {part(v->red_mask), part(v->green_mask), part(v->blue_mask)};
}

// The colour of the frame's border (its top-left pixel).
Rgb frame_colour(ParkedSession &s, const Managed &m) {
    auto p = s.c.pixel(m.frame, 0, 0);
    return p ? to_rgb(s.c.dpy(), *p) : kUnreadable;
}

// The colour of the tab's background: its top-right pixel, which the close mark and
// the name never cover.
Rgb tab_colour(ParkedSession &s, const Managed &m) {
    auto g = s.c.try_geometry(m.tab);
    if (!g) return kUnreadable;
    auto p = s.c.pixel(m.tab, static_cast<int>(g->width) - 1, 0);
    return p ? to_rgb(s.c.dpy(), *p) : kUnreadable;
}

Window active_window(ParkedSession &s) {
    auto v = s.c.property_longs(s.c.root(), "_NET_ACTIVE_WINDOW");
    return v && !v->empty() ? static_cast<Window>((*v)[0]) : 0;
}

long current_desktop_property(ParkedSession &s) {
    auto v = s.c.property_longs(s.c.root(), "_NET_CURRENT_DESKTOP");
    return v && !v->empty() ? (*v)[0] : -1;
}

// What to say when the manager does not answer.
std::string wm_status(ParkedSession &s) {
    if (!s.wm.running()) return "the manager exited; its stderr: " + s.wm.err();
    // A second request tells a manager that is stuck from one that left an event
    // unread while it waits for input.
    bool second = s.c.sync_with_wm();
    return std::string(second ? "it answered only a second request" : "it does not answer at all") +
           "; its stderr: " + s.wm.err();
}

// Waits until the manager has handled everything sent so far; says why not otherwise.
::testing::AssertionResult synced(ParkedSession &s) {
    if (s.c.sync_with_wm()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no answer from the manager: " << wm_status(s);
}

// Control+Alt+key (or the given modifiers), then waits until the manager handled it.
void chord(ParkedSession &s, KeySym key, unsigned mods = kCtrlAlt) {
    s.c.key_chord(key, mods);
    EXPECT_TRUE(s.c.sync_with_wm())
        << "no answer after " << XKeysymToString(key) << ": " << wm_status(s);
}

// Moves the pointer to the middle of the window and waits until the manager handled
// the crossing.
void enter(ParkedSession &s, Window w) {
    Geometry g = s.c.geometry(w);
    s.c.move_pointer(g.x + static_cast<int>(g.width) / 2, g.y + static_cast<int>(g.height) / 2);
    EXPECT_TRUE(s.c.sync_with_wm()) << "no answer after entering: " << wm_status(s);
}

// Puts the pointer at a root position by warping it. On the two-head server XTest
// motion stays within the first head, so the second head is reached this way.
void warp_pointer(ParkedSession &s, int x, int y) {
    XWarpPointer(s.c.dpy(), None, s.c.root(), 0, 0, 0, 0, x, y);
    XSync(s.c.dpy(), False);
}

bool viewable(ParkedSession &s, Window w) {
    return s.c.map_state(w) == IsViewable;
}
bool unmapped(ParkedSession &s, Window w) {
    return s.c.map_state(w) == IsUnmapped;
}

// The window as its application sees it after the manager let it go.
bool released(ParkedSession &s, Window w) {
    return s.c.parent(w) == s.c.root() && s.c.wm_state(w) == WithdrawnState;
}

// An application withdrawing a window that is not mapped: the synthetic UnmapNotify
// the ICCCM asks for.
void send_withdraw(ParkedSession &s, Window w) {
    XEvent ev{};
    ev.xunmap.type = UnmapNotify;
    ev.xunmap.event = s.c.root();
    ev.xunmap.window = w;
    ev.xunmap.from_configure = False;
    XSendEvent(s.c.dpy(), s.c.root(), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &ev);
    XSync(s.c.dpy(), False);
}

// --- focus and colours

TEST(Focus, EnteringActivatesAndFocusesLeavingToRootChangesNothing) {
    ParkedSession s;
    Managed a = manage(s.c, at(100, 100, 200, 100, "A"));
    Managed b = manage(s.c, at(500, 100, 200, 100, "B"));
    ASSERT_TRUE(a.window && b.window && a.tab && b.tab);
    ASSERT_TRUE(synced(s));

    // Nobody is active yet: everything is drawn inactive.
    EXPECT_EQ(frame_colour(s, a), kInactive);
    EXPECT_EQ(tab_colour(s, a), kInactive);
    EXPECT_EQ(frame_colour(s, b), kInactive);
    EXPECT_EQ(active_window(s), 0u);

    enter(s, a.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == a.window; }));
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(frame_colour(s, a), kActive);
    EXPECT_EQ(tab_colour(s, a), kActive);
    EXPECT_EQ(frame_colour(s, b), kInactive);
    EXPECT_EQ(tab_colour(s, b), kInactive);
    EXPECT_EQ(active_window(s), a.window);

    enter(s, b.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == b.window; }));
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(frame_colour(s, b), kActive);
    EXPECT_EQ(tab_colour(s, b), kActive);
    EXPECT_EQ(frame_colour(s, a), kInactive);
    EXPECT_EQ(tab_colour(s, a), kInactive);
    EXPECT_EQ(active_window(s), b.window);

    // Onto the bare root: B stays active, coloured and focused.
    s.park();
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(s.c.focus(), b.window);
    EXPECT_EQ(frame_colour(s, b), kActive);
    EXPECT_EQ(frame_colour(s, a), kInactive);
    EXPECT_EQ(active_window(s), b.window);

    // The tab counts as the window: entering A's tab activates and focuses A.
    enter(s, a.tab);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == a.window; }));
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(frame_colour(s, a), kActive);
    EXPECT_EQ(frame_colour(s, b), kInactive);
    EXPECT_EQ(active_window(s), a.window);
}

TEST(Focus, ChosenColoursAreUsed) {
    ParkedSession s({"-bg", "#00ff00", "-abg", "#ff0000"});
    Managed a = manage(s.c, at(100, 100));
    Managed b = manage(s.c, at(500, 100));
    ASSERT_TRUE(a.window && b.window);
    enter(s, a.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == a.window; }));
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(frame_colour(s, a), (Rgb{255, 0, 0}));
    EXPECT_EQ(tab_colour(s, a), (Rgb{255, 0, 0}));
    EXPECT_EQ(frame_colour(s, b), (Rgb{0, 255, 0}));
    EXPECT_EQ(tab_colour(s, b), (Rgb{0, 255, 0}));
}

TEST(Focus, HiddenClientEnteredThroughItsTabBecomesActiveWithoutFocus) {
    ParkedSession s;
    Managed a = manage(s.c, at(100, 100, 200, 100, "A"));
    Managed b = manage(s.c, at(500, 100, 200, 100, "B"));
    ASSERT_TRUE(a.window && b.window && a.tab && b.tab);

    enter(s, b.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == b.window; }));
    chord(s, XK_s); // hide B: frame and window go, the tab stays
    ASSERT_TRUE(s.c.wait_until([&] { return unmapped(s, b.frame) && unmapped(s, b.window); }));
    EXPECT_TRUE(viewable(s, b.tab));
    EXPECT_EQ(s.c.wm_state(b.window), IconicState);

    enter(s, a.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == a.window; }));
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(active_window(s), a.window);

    enter(s, b.tab);
    ASSERT_TRUE(s.c.wait_until([&] { return tab_colour(s, b) == kActive; }));
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(active_window(s), 0u) << "a hidden window is never announced active";
    EXPECT_EQ(s.c.focus(), a.window) << "the focus must stay where it was";
    EXPECT_EQ(tab_colour(s, b), kActive);
    EXPECT_EQ(frame_colour(s, a), kInactive);
    EXPECT_EQ(tab_colour(s, a), kInactive);
    EXPECT_TRUE(unmapped(s, b.frame)) << "entering the tab does not restore the window";
}

// When the active window goes, however it goes, the window under the pointer is active
// at once: focused, drawn active and announced. (The pointer rests on it while the focus
// went elsewhere by Alt+Tab, so no crossing tells the manager.)
enum class Gone { withdrawn, destroyed, hidden };
class ActiveGoes : public testing::TestWithParam<Gone> {};

TEST_P(ActiveGoes, WindowUnderThePointerBecomesActive) {
    ParkedSession s;
    Managed under = manage(s.c, at(50, 100, 300, 200, "under"));
    Managed top = manage(s.c, at(600, 100, 200, 100, "top"));
    enter(s, under.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == under.window; }));
    chord(s, XK_Tab, Mod1Mask);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == top.window; }));
    if (GetParam() == Gone::withdrawn)
        s.c.unmap(top.window);
    else if (GetParam() == Gone::destroyed)
        s.c.destroy(top.window);
    else
        chord(s, XK_s);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == under.window; }));
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(active_window(s), under.window);
    EXPECT_EQ(frame_colour(s, under), kActive);
}

INSTANTIATE_TEST_SUITE_P(Focus, ActiveGoes,
                         testing::Values(Gone::withdrawn, Gone::destroyed, Gone::hidden),
                         [](const testing::TestParamInfo<Gone> &i) {
                             return i.param == Gone::withdrawn   ? "Withdrawn"
                                    : i.param == Gone::destroyed ? "Destroyed"
                                                                 : "Hidden";
                         });

TEST(Focus, AltTabCyclesFromActiveTowardsOlderAndWrapsIncludingHidden) {
    ParkedSession s;
    // Managed in this order, so the list reads C, B, A (newest first).
    Managed a = manage(s.c, at(50, 100, 200, 100, "A"));
    Managed b = manage(s.c, at(350, 100, 200, 100, "B"));
    Managed c = manage(s.c, at(650, 100, 200, 100, "C"));
    ASSERT_TRUE(a.window && b.window && c.window && b.tab);
    ASSERT_TRUE(synced(s));

    // Without an active client the newest client is chosen.
    chord(s, XK_Tab, Mod1Mask);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == c.window; }));
    EXPECT_EQ(active_window(s), c.window);

    // Hide B, then make A active and leave the pointer on the bare root.
    enter(s, b.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == b.window; }));
    chord(s, XK_s);
    ASSERT_TRUE(s.c.wait_until([&] { return unmapped(s, b.frame); }));
    ASSERT_EQ(s.c.wm_state(b.window), IconicState);
    enter(s, a.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == a.window; }));
    s.park();
    ASSERT_TRUE(synced(s));
    ASSERT_EQ(active_window(s), a.window);

    // A is the oldest: the walk wraps round to the newest, C.
    chord(s, XK_Tab, Mod1Mask);
    EXPECT_EQ(active_window(s), c.window);
    EXPECT_EQ(s.c.focus(), c.window);
    EXPECT_EQ(frame_colour(s, c), kActive);
    EXPECT_EQ(frame_colour(s, a), kInactive);

    // Then the hidden B: active and NormalState, but still hidden and without focus.
    chord(s, XK_Tab, Mod1Mask);
    EXPECT_EQ(active_window(s), 0u) << "a hidden window is never announced active";
    EXPECT_EQ(s.c.focus(), c.window);
    EXPECT_EQ(tab_colour(s, b), kActive);
    EXPECT_EQ(frame_colour(s, c), kInactive);
    EXPECT_EQ(s.c.wm_state(b.window), NormalState);
    EXPECT_TRUE(unmapped(s, b.frame));
    EXPECT_TRUE(unmapped(s, b.window));
    EXPECT_TRUE(viewable(s, b.tab));

    chord(s, XK_Tab, Mod1Mask);
    EXPECT_EQ(active_window(s), a.window);
    EXPECT_EQ(s.c.focus(), a.window);
    EXPECT_EQ(frame_colour(s, a), kActive);
    EXPECT_EQ(tab_colour(s, b), kInactive);

    chord(s, XK_Tab, Mod1Mask);
    EXPECT_EQ(active_window(s), c.window);
    EXPECT_EQ(s.c.focus(), c.window);
}

// --- desktops

// Stopping the manager and starting it again, or restarting it in place with SIGUSR1,
// loses nothing a user arranged: desktops, fixed and hidden windows, the desktop shown.
enum class Restart { stop_and_start, in_place };
class SessionKept : public testing::TestWithParam<Restart> {};

TEST_P(SessionKept, AcrossARestart) {
    ParkedSession s;
    Managed a = manage(s.c, at(50, 100, 200, 100, "A"));  // hidden, desktop 1
    Managed b = manage(s.c, at(350, 100, 200, 100, "B")); // desktop 2
    Managed f = manage(s.c, at(650, 100, 200, 100, "F")); // fixed
    enter(s, a.window);
    chord(s, XK_s);
    enter(s, f.window);
    chord(s, XK_f);
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = b.window;
    ev.xclient.message_type = s.c.atom("_NET_WM_DESKTOP");
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = 1;
    XSendEvent(s.c.dpy(), s.c.root(), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &ev);
    chord(s, XK_2);
    ASSERT_TRUE(viewable(s, b.window) && viewable(s, f.window) && unmapped(s, a.tab));

    // The frames of the manager that stops go; new ones (maybe with the same ids) come.
    XSelectInput(s.c.dpy(), s.c.root(), SubstructureNotifyMask);
    XSync(s.c.dpy(), False);
    std::optional<harness::Wm> again;
    if (GetParam() == Restart::stop_and_start) {
        s.wm.signal(SIGTERM);
        ASSERT_EQ(s.wm.wait_exit(), 0);
        again.emplace(s.x);
        ASSERT_TRUE(again->wait_ready());
    } else {
        s.wm.signal(SIGUSR1);
        ASSERT_TRUE(s.wm.running()) << s.wm.err();
    }
    ASSERT_TRUE(s.c.wait_event([&](const XEvent &e) {
        return e.type == DestroyNotify && e.xdestroywindow.window == a.frame;
    }));
    ASSERT_TRUE(s.c.wait_until([&] {
        return harness::manager_holds_root(s.c) && s.c.is_framed(a.window) &&
               s.c.is_framed(b.window) && s.c.is_framed(f.window);
    }));
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(s.c.property_longs(s.c.root(), "_NET_CURRENT_DESKTOP"), std::vector<long>{1});
    EXPECT_TRUE(viewable(s, b.window));
    EXPECT_TRUE(viewable(s, f.window));
    EXPECT_EQ(s.c.property_longs(f.window, "_NET_WM_DESKTOP"), std::vector<long>{-1}) << "fixed";
    EXPECT_FALSE(viewable(s, a.window));
    chord(s, XK_1);
    EXPECT_TRUE(viewable(s, f.window));
    EXPECT_FALSE(viewable(s, b.window));
    EXPECT_FALSE(viewable(s, a.window)) << "the hidden window stays hidden";
    EXPECT_TRUE(viewable(s, harness::find_tab(s.c, s.c.parent(a.window))));
}

INSTANTIATE_TEST_SUITE_P(Desktops, SessionKept,
                         testing::Values(Restart::stop_and_start, Restart::in_place),
                         [](const testing::TestParamInfo<Restart> &i) {
                             return i.param == Restart::in_place ? "InPlace" : "StopAndStart";
                         });

TEST(Desktops, SwitchingUnmapsAndMapsWithWmStateAndReleasesNothing) {
    ParkedSession s;
    Managed a = manage(s.c, at(50, 100, 200, 100, "A"));  // plain
    Managed b = manage(s.c, at(350, 100, 200, 100, "B")); // tab hidden
    Managed c = manage(s.c, at(650, 100, 200, 100, "C")); // hidden
    ASSERT_TRUE(a.tab && b.tab && c.tab);

    enter(s, b.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == b.window; }));
    chord(s, XK_t);
    ASSERT_TRUE(s.c.wait_until([&] { return unmapped(s, b.tab); }));
    enter(s, c.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == c.window; }));
    chord(s, XK_s);
    ASSERT_TRUE(s.c.wait_until([&] { return unmapped(s, c.frame); }));
    enter(s, a.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == a.window; }));
    s.park();
    ASSERT_TRUE(synced(s));
    ASSERT_EQ(active_window(s), a.window);
    EXPECT_EQ(current_desktop_property(s), 0);

    chord(s, XK_2);
    for (const Managed *m : {&a, &b, &c}) {
        EXPECT_TRUE(unmapped(s, m->frame));
        EXPECT_TRUE(unmapped(s, m->window));
        EXPECT_TRUE(unmapped(s, m->tab));
        EXPECT_EQ(s.c.wm_state(m->window), IconicState);
        EXPECT_TRUE(s.c.is_framed(m->window)) << "switching away released a client";
    }
    EXPECT_EQ(current_desktop_property(s), 1);
    // A lived on the desktop left: nobody is active, and the focus fell back.
    EXPECT_EQ(active_window(s), 0u);
    EXPECT_EQ(s.c.focus(), static_cast<Window>(PointerRoot));

    // A window made now lives on desktop 2.
    Managed d = manage(s.c, at(50, 400, 200, 100, "D"));
    ASSERT_TRUE(d.tab);
    EXPECT_EQ(s.c.wm_state(d.window), NormalState);

    chord(s, XK_1);
    EXPECT_EQ(current_desktop_property(s), 0);
    EXPECT_TRUE(viewable(s, a.frame));
    EXPECT_TRUE(viewable(s, a.window));
    EXPECT_TRUE(viewable(s, a.tab));
    EXPECT_TRUE(viewable(s, b.frame));
    EXPECT_TRUE(viewable(s, b.window));
    EXPECT_TRUE(unmapped(s, b.tab)) << "a hidden tab stays hidden";
    EXPECT_TRUE(unmapped(s, c.frame)) << "a hidden client stays hidden";
    EXPECT_TRUE(unmapped(s, c.window));
    EXPECT_TRUE(viewable(s, c.tab));
    for (const Managed *m : {&a, &b, &c}) {
        EXPECT_EQ(s.c.wm_state(m->window), NormalState);
        EXPECT_TRUE(s.c.is_framed(m->window)) << "switching back released a client";
    }
    EXPECT_TRUE(unmapped(s, d.frame));
    EXPECT_TRUE(unmapped(s, d.window));
    EXPECT_TRUE(unmapped(s, d.tab));
    EXPECT_EQ(s.c.wm_state(d.window), IconicState);
    EXPECT_TRUE(s.c.is_framed(d.window));
    // A was drawn inactive when it stopped being active.
    EXPECT_EQ(frame_colour(s, a), kInactive);
    EXPECT_EQ(active_window(s), 0u);

    // Switching to the desktop shown changes nothing.
    s.c.clear_events();
    chord(s, XK_1);
    s.c.pump();
    for (const XEvent &ev : s.c.events()) {
        EXPECT_NE(ev.type, UnmapNotify) << "window 0x" << std::hex << ev.xunmap.window;
        EXPECT_NE(ev.type, PropertyNotify) << "window 0x" << std::hex << ev.xproperty.window;
    }

    // The manager counted exactly the unmaps it caused: each application's own
    // withdrawal now releases its window.
    s.c.unmap(a.window);
    EXPECT_TRUE(s.c.wait_until([&] { return released(s, a.window); }));
    s.c.unmap(b.window);
    EXPECT_TRUE(s.c.wait_until([&] { return released(s, b.window); }));
    send_withdraw(s, c.window);
    EXPECT_TRUE(s.c.wait_until([&] { return released(s, c.window); }));
    EXPECT_TRUE(s.c.is_framed(d.window));
}

TEST(Desktops, WindowOfAnotherDesktopMappingItselfBringsItsDesktop) {
    ParkedSession s;
    Managed a = manage(s.c, at(50, 100, 200, 100, "A"));
    Managed f = manage(s.c, at(650, 100, 200, 100, "F"));
    ASSERT_TRUE(a.tab && f.tab);
    // F: fixed and hidden, so only its tab shows on every desktop.
    enter(s, f.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == f.window; }));
    chord(s, XK_f);
    chord(s, XK_s);
    ASSERT_TRUE(s.c.wait_until([&] { return unmapped(s, f.frame); }));
    s.park();

    chord(s, XK_2);
    Managed d = manage(s.c, at(350, 100, 200, 100, "D"));
    ASSERT_TRUE(d.tab);
    chord(s, XK_1);
    ASSERT_TRUE(unmapped(s, d.frame));
    ASSERT_TRUE(viewable(s, a.frame));
    ASSERT_EQ(current_desktop_property(s), 0);

    // D's application maps its window again: desktop 2 comes into view.
    s.c.map(d.window);
    ASSERT_TRUE(s.c.wait_until([&] { return viewable(s, d.frame); }));
    ASSERT_TRUE(synced(s));
    EXPECT_TRUE(viewable(s, d.window));
    EXPECT_TRUE(viewable(s, d.tab));
    EXPECT_EQ(s.c.wm_state(d.window), NormalState);
    EXPECT_TRUE(unmapped(s, a.frame));
    EXPECT_TRUE(unmapped(s, a.tab));
    EXPECT_EQ(s.c.wm_state(a.window), IconicState);
    EXPECT_EQ(current_desktop_property(s), 1);
    EXPECT_TRUE(viewable(s, f.tab));

    // The fixed window mapping itself changes no desktop; being hidden, it stays
    // hidden but reads NormalState.
    s.c.map(f.window);
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(s.c.wm_state(f.window), NormalState);
    EXPECT_TRUE(unmapped(s, f.frame));
    EXPECT_TRUE(viewable(s, f.tab));
    EXPECT_TRUE(viewable(s, d.frame));
    EXPECT_TRUE(unmapped(s, a.frame));
    EXPECT_EQ(current_desktop_property(s), 1);

    // The desktop really changed: the number key for 1 brings A back.
    chord(s, XK_1);
    EXPECT_TRUE(viewable(s, a.frame));
    EXPECT_TRUE(unmapped(s, d.frame));
    EXPECT_TRUE(s.c.is_framed(a.window));
    EXPECT_TRUE(s.c.is_framed(d.window));
}

TEST(Desktops, FixedWindowStaysOnEveryDesktopInFixedColourWhileActive) {
    ParkedSession s;
    Managed a = manage(s.c, at(50, 100, 200, 100, "A"));
    Managed f = manage(s.c, at(650, 100, 200, 100, "F"));
    ASSERT_TRUE(a.tab && f.tab);

    enter(s, f.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == f.window; }));
    chord(s, XK_f);
    EXPECT_EQ(frame_colour(s, f), kFixed);
    EXPECT_EQ(tab_colour(s, f), kFixed);
    s.park();
    ASSERT_TRUE(synced(s));

    s.c.clear_events();
    chord(s, XK_2);
    EXPECT_TRUE(unmapped(s, a.frame));
    EXPECT_TRUE(viewable(s, f.frame));
    EXPECT_TRUE(viewable(s, f.window));
    EXPECT_TRUE(viewable(s, f.tab));
    EXPECT_EQ(s.c.wm_state(f.window), NormalState);
    EXPECT_EQ(active_window(s), f.window) << "an active fixed window stays active";
    EXPECT_EQ(s.c.focus(), f.window);
    EXPECT_EQ(frame_colour(s, f), kFixed);
    // Never unmapped, WM_STATE never rewritten.
    s.c.pump();
    for (const XEvent &ev : s.c.events()) {
        if (ev.type == UnmapNotify) {
            EXPECT_NE(ev.xunmap.window, f.window);
        }
        if (ev.type == PropertyNotify && ev.xproperty.window == f.window) {
            EXPECT_NE(ev.xproperty.atom, s.c.atom("WM_STATE"));
        }
    }

    // Another client of desktop 2 takes over: the fixed one goes to the plain colour.
    Managed b = manage(s.c, at(350, 100, 200, 100, "B"));
    ASSERT_TRUE(b.tab);
    enter(s, b.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == b.window; }));
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(frame_colour(s, b), kActive);
    EXPECT_EQ(frame_colour(s, f), kInactive);
    EXPECT_EQ(tab_colour(s, f), kInactive);
    enter(s, f.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == f.window; }));
    ASSERT_TRUE(synced(s));
    EXPECT_EQ(frame_colour(s, f), kFixed);
    EXPECT_EQ(frame_colour(s, b), kInactive);

    // Un-fixed while desktop 2 shows: F now lives on desktop 2.
    chord(s, XK_f);
    EXPECT_EQ(frame_colour(s, f), kActive);
    EXPECT_EQ(tab_colour(s, f), kActive);
    s.park();
    chord(s, XK_1);
    EXPECT_TRUE(viewable(s, a.frame));
    EXPECT_TRUE(unmapped(s, b.frame));
    EXPECT_TRUE(unmapped(s, f.frame));
    EXPECT_TRUE(unmapped(s, f.tab));
    EXPECT_EQ(s.c.wm_state(f.window), IconicState);
    chord(s, XK_2);
    EXPECT_TRUE(viewable(s, f.frame));
    EXPECT_TRUE(viewable(s, b.frame));
    EXPECT_TRUE(unmapped(s, a.frame));
    for (const Managed *m : {&a, &b, &f})
        EXPECT_TRUE(s.c.is_framed(m->window));
}

// --- maximizing

TEST(Maximize, VerticalHorizontalBothAndRestore) {
    ParkedSession s;
    const int W = s.x.width(), H = s.x.height(), th = s.th, b = kBorder;
    Managed a = manage(s.c, at(100, 200, 300, 150, "A"));
    ASSERT_TRUE(a.tab);
    const Geometry g0 = s.c.geometry(a.window);
    enter(s, a.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == a.window; }));
    const auto pointer0 = s.c.pointer();

    // Vertical: the tab's top on the head's top, the frame's bottom on its bottom.
    s.c.clear_events();
    chord(s, XK_v);
    Geometry v{g0.x, th + b, g0.width, static_cast<unsigned>(H - th - 2 * b), 0};
    EXPECT_EQ(s.c.geometry(a.window), v);
    EXPECT_EQ(s.c.geometry(a.frame),
              (Geometry{g0.x - b, th, g0.width + 2 * b, static_cast<unsigned>(H - th), 0}));
    EXPECT_EQ(s.c.geometry(a.tab).y, 0);
    EXPECT_EQ(s.c.geometry(a.tab).x, g0.x - b);
    auto notify = s.c.wait_event([&](const XEvent &ev) {
        return ev.type == ConfigureNotify && ev.xconfigure.send_event &&
               ev.xconfigure.window == a.window &&
               ev.xconfigure.height == static_cast<int>(v.height);
    });
    ASSERT_TRUE(notify) << "no synthetic ConfigureNotify for the new size";
    EXPECT_EQ(notify->xconfigure.x, v.x);
    EXPECT_EQ(notify->xconfigure.y, v.y);
    EXPECT_EQ(s.c.pointer(), pointer0) << "maximizing does not move the pointer";

    chord(s, XK_v);
    EXPECT_EQ(s.c.geometry(a.window), g0);

    // Horizontal: the frame spans the head.
    chord(s, XK_b);
    EXPECT_EQ(s.c.geometry(a.window),
              (Geometry{b, g0.y, static_cast<unsigned>(W - 2 * b), g0.height, 0}));
    EXPECT_EQ(s.c.geometry(a.frame).x, 0);
    EXPECT_EQ(s.c.geometry(a.frame).width, static_cast<unsigned>(W));
    chord(s, XK_b);
    EXPECT_EQ(s.c.geometry(a.window), g0);

    // Both, and both back.
    chord(s, XK_x);
    EXPECT_EQ(s.c.geometry(a.window), (Geometry{b, th + b, static_cast<unsigned>(W - 2 * b),
                                                static_cast<unsigned>(H - th - 2 * b), 0}));
    chord(s, XK_x);
    EXPECT_EQ(s.c.geometry(a.window), g0);

    // Maximized vertically only, "both" restores vertically and maximizes horizontally.
    chord(s, XK_v);
    chord(s, XK_x);
    EXPECT_EQ(s.c.geometry(a.window),
              (Geometry{b, g0.y, static_cast<unsigned>(W - 2 * b), g0.height, 0}));
    chord(s, XK_b);
    EXPECT_EQ(s.c.geometry(a.window), g0);

    // With the tab hidden the frame's top goes onto the head's top.
    chord(s, XK_t);
    chord(s, XK_v);
    EXPECT_EQ(s.c.geometry(a.window),
              (Geometry{g0.x, b, g0.width, static_cast<unsigned>(H - 2 * b), 0}));
    chord(s, XK_v);
    EXPECT_EQ(s.c.geometry(a.window), g0);
    chord(s, XK_t);

    // A maximum width holds, anchored at the head's left edge.
    WindowDesc desc = at(700, 600, 300, 150, "M");
    XSizeHints hints{};
    hints.flags = PMaxSize;
    hints.max_width = 500;
    hints.max_height = 100000;
    desc.normal_hints = hints;
    Managed m = manage(s.c, desc);
    ASSERT_TRUE(m.window);
    const Geometry m0 = s.c.geometry(m.window);
    enter(s, m.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == m.window; }));
    chord(s, XK_b);
    EXPECT_EQ(s.c.geometry(m.window), (Geometry{b, m0.y, 500, m0.height, 0}));
    chord(s, XK_b);
    EXPECT_EQ(s.c.geometry(m.window), m0);
    EXPECT_EQ(s.c.geometry(a.window), g0) << "another window was touched";

    // Absurd hints (a maximum size of 0) still leave a window of at least 1 x 1 that
    // stays managed. (The vertical toggle's hint constraint also shrinks the width,
    // before the horizontal one saves it, so no exact restore is expected.)
    desc = at(1000, 350, 200, 100, "Z");
    hints.max_width = 0;
    hints.max_height = 0;
    desc.normal_hints = hints;
    Managed z = manage(s.c, desc);
    ASSERT_TRUE(z.window);
    const Geometry z0 = s.c.geometry(z.window);
    enter(s, z.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == z.window; }));
    chord(s, XK_x);
    Geometry zmax = s.c.geometry(z.window);
    EXPECT_EQ(zmax.x, b);
    EXPECT_EQ(zmax.y, th + b);
    EXPECT_GE(zmax.width, 1u);
    EXPECT_GE(zmax.height, 1u);
    EXPECT_TRUE(s.c.is_framed(z.window));
    chord(s, XK_x);
    Geometry zback = s.c.geometry(z.window);
    EXPECT_GE(zback.width, 1u);
    EXPECT_GE(zback.height, 1u);
    EXPECT_EQ(zback.y, z0.y);
    EXPECT_TRUE(s.c.is_framed(z.window));
    EXPECT_TRUE(s.c.errors().empty());
}

TEST(Maximize, OnTheHeadUnderThePointer) {
    ParkedSession s({}, XServer::two_heads(800, 600, 640, 480));
    const int th = s.th, b = kBorder;
    ASSERT_EQ(s.x.width(), 1440);
    Managed a = manage(s.c, at(100, 100, 200, 100, "A"));
    ASSERT_TRUE(a.tab);
    const Geometry g0 = s.c.geometry(a.window);
    ASSERT_LT(g0.x + static_cast<int>(g0.width), 800) << "the window must start on head 0";
    enter(s, a.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == a.window; }));

    // The pointer goes to head 1, on the bare root; A stays active.
    warp_pointer(s, 1100, 300);
    ASSERT_TRUE(synced(s));
    ASSERT_EQ(s.c.pointer(), std::make_pair(1100, 300));
    ASSERT_EQ(active_window(s), a.window);

    chord(s, XK_b);
    EXPECT_EQ(s.c.geometry(a.window), (Geometry{800 + b, g0.y, 640 - 2 * b, g0.height, 0}));
    chord(s, XK_v);
    EXPECT_EQ(s.c.geometry(a.window),
              (Geometry{800 + b, th + b, 640 - 2 * b, static_cast<unsigned>(480 - th - 2 * b), 0}));
    EXPECT_EQ(s.c.geometry(a.frame).x, 800);
    EXPECT_EQ(s.c.geometry(a.frame).width, 640u);
    EXPECT_EQ(s.c.geometry(a.tab).y, 0);

    // Both restored.
    chord(s, XK_x);
    EXPECT_EQ(s.c.geometry(a.window), g0);

    // In the strip below the shorter head 1 the pointer is on no head: head 0 counts.
    warp_pointer(s, 1100, 550);
    ASSERT_TRUE(synced(s));
    ASSERT_EQ(s.c.pointer(), std::make_pair(1100, 550));
    chord(s, XK_v);
    EXPECT_EQ(s.c.geometry(a.window),
              (Geometry{g0.x, th + b, g0.width, static_cast<unsigned>(600 - th - 2 * b), 0}));
}

// --- snapping on keyboard moves

TEST(Snap, KeyboardMovesEndTouchingNeighboursAndHeadEdges) {
    ParkedSession s({"-snap", "10"});
    const int th = s.th, b = kBorder;
    // B with N to its right: frames 20 pixels apart.
    Managed bw = manage(s.c, at(200, 300, 200, 100, "B"));
    Managed nw = manage(s.c, at(424, 300, 200, 100, "N"));
    // A near the left screen edge, well below B and N.
    Managed aw = manage(s.c, at(26, 600, 200, 100, "A"));
    // C near the top screen edge, far to the right.
    Managed cw = manage(s.c, at(900, th + 18, 200, 100, "C"));
    ASSERT_TRUE(bw.window && nw.window && aw.window && cw.window);
    const Geometry b0 = s.c.geometry(bw.window), n0 = s.c.geometry(nw.window);
    const Geometry a0 = s.c.geometry(aw.window), c0 = s.c.geometry(cw.window);
    auto frame_gap = [&] {
        Geometry bf = s.c.geometry(bw.frame), nf = s.c.geometry(nw.frame);
        return nf.x - (bf.x + static_cast<int>(bf.width));
    };
    ASSERT_EQ(frame_gap(), 20) << "B at " << b0 << ", N at " << n0;
    ASSERT_EQ(a0.x, 28);
    ASSERT_EQ(c0.y, th + 20);

    // 16 right leaves a gap of 4: B ends touching N.
    enter(s, bw.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == bw.window; }));
    chord(s, XK_l);
    EXPECT_EQ(frame_gap(), 0);
    EXPECT_EQ(s.c.geometry(bw.window), (Geometry{b0.x + 20, b0.y, b0.width, b0.height, 0}));
    EXPECT_EQ(s.c.geometry(nw.window), n0) << "the neighbour does not move";

    // 16 left from a frame 26 pixels off the screen edge: 10 pixels off is not
    // near enough; the next step goes past the edge and snaps back onto it.
    enter(s, aw.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == aw.window; }));
    chord(s, XK_h);
    EXPECT_EQ(s.c.geometry(aw.window).x, 12);
    chord(s, XK_h);
    EXPECT_EQ(s.c.geometry(aw.window).x, b);
    EXPECT_EQ(s.c.geometry(aw.frame).x, 0);
    EXPECT_EQ(s.c.geometry(aw.window).y, a0.y);

    // 16 up brings C's tab within 4 pixels of the top: the tab ends on the edge.
    enter(s, cw.window);
    ASSERT_TRUE(s.c.wait_until([&] { return s.c.focus() == cw.window; }));
    chord(s, XK_k);
    EXPECT_EQ(s.c.geometry(cw.window), (Geometry{c0.x, th + b, c0.width, c0.height, 0}));
    EXPECT_EQ(s.c.geometry(cw.tab).y, 0);
}

} // namespace
