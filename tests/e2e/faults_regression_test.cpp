// Regressions for faults a hostile or careless client could trigger: forged map requests
// naming windows that must never be managed, a managed window destroyed while hidden, and
// one its application moves out of the frame while hidden.
#include "harness.h"

#include <X11/keysym.h>
#include <signal.h>

#include <string>
#include <vector>

namespace {

using harness::Connection;
using harness::find_tab;
using harness::Geometry;
using harness::kCtrlAlt;
using harness::manager_holds_root;
using harness::proc_stat;
using harness::Wm;

bool exists(Connection &c, Window w) {
    return c.try_geometry(w).has_value();
}

// Waits until the window is back on the root, withdrawn, in the given map state.
bool released(Connection &c, Window w, int map_state) {
    return c.wait_until([&] {
        return c.parent(w) == c.root() && c.wm_state(w) == WithdrawnState &&
               c.map_state(w) == map_state;
    });
}

// Waits until the window is in a frame and viewable.
bool framed_and_shown(Connection &c, Window w) {
    return c.wait_until([&] { return c.is_framed(w) && c.map_state(w) == IsViewable; });
}

// The window is in its frame, viewable, in the normal state.
::testing::AssertionResult managed_and_shown(Connection &c, Window w) {
    if (!c.is_framed(w)) return ::testing::AssertionFailure() << "it is not in a frame";
    if (c.map_state(w) != IsViewable) return ::testing::AssertionFailure() << "it is not viewable";
    if (c.wm_state(w) != NormalState)
        return ::testing::AssertionFailure() << "its WM_STATE is not NormalState";
    return ::testing::AssertionSuccess();
}

// The UnmapNotify an application sends to withdraw its window, as the ICCCM has it.
void send_withdrawal(Connection &c, Window w) {
    XEvent ev{};
    ev.xunmap.type = UnmapNotify;
    ev.xunmap.event = c.root();
    ev.xunmap.window = w;
    XSendEvent(c.dpy(), c.root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
}

// A pager's request to show the desktop of the given index.
void show_desktop(Connection &c, long index) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = c.root();
    ev.xclient.message_type = XInternAtom(c.dpy(), "_NET_CURRENT_DESKTOP", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = index;
    XSendEvent(c.dpy(), c.root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
}

// A MapRequest as the server would redirect it, but sent by the test to the manager.
void send_map_request(Connection &c, Window w) {
    XEvent ev{};
    ev.xmaprequest.type = MapRequest;
    ev.xmaprequest.parent = c.root();
    ev.xmaprequest.window = w;
    XSendEvent(c.dpy(), c.root(), False, SubstructureRedirectMask, &ev);
    XSync(c.dpy(), False);
}

// Creates the next window of this connection under a chosen id: one the server has
// freed (the ids of a connection's destroyed windows may be used again).
class ForcedId {
  public:
    ForcedId(Display *d, XID id) : d_(reinterpret_cast<_XPrivDisplay>(d)) {
        saved_ = d_->resource_alloc;
        next_ = id;
        d_->resource_alloc = take;
    }
    ForcedId(const ForcedId &) = delete;
    ForcedId &operator=(const ForcedId &) = delete;
    ~ForcedId() { d_->resource_alloc = saved_; }

  private:
    static XID take(Display *d) {
        XID id = next_;
        reinterpret_cast<_XPrivDisplay>(d)->resource_alloc = saved_;
        return id;
    }
    _XPrivDisplay d_;
    static inline XID (*saved_)(Display *) = nullptr;
    static inline XID next_ = 0;
};

// Keeps the manager stopped for the scope: what the test does meanwhile reaches the
// manager in one burst when it goes on, as if it had been busy all that time.
class ManagerPaused {
  public:
    ManagerPaused(Connection &c, const Wm &wm) : pid_(wm.pid()) {
        kill(pid_, SIGSTOP);
        stopped_ = c.wait_until([&] {
            auto st = proc_stat(pid_);
            return st && st->state == 'T';
        });
    }
    ManagerPaused(const ManagerPaused &) = delete;
    ManagerPaused &operator=(const ManagerPaused &) = delete;
    ~ManagerPaused() { kill(pid_, SIGCONT); }
    bool stopped() const { return stopped_; }

  private:
    pid_t pid_;
    bool stopped_ = false;
};

// Every test here runs on its own server, with the manager and one client connection,
// opened once the manager holds the root. Each test keeps its own suite name.
using ManagerAndClient = harness::SessionTest;
using ForgedMapRequests = ManagerAndClient;
using DestroyedWhileHidden = ManagerAndClient;
using ReparentedWhileHidden = ManagerAndClient;
using WithdrawnAndMappedInOneBurst = ManagerAndClient;
using WithdrawalSentBeforeTheManagersMap = ManagerAndClient;
using UnmappedWhileTheManagerSwitchedDesktops = ManagerAndClient;
using ReparentedBeforeBeingManaged = ManagerAndClient;
using FocusGivenToAWindowJustUnmapped = ManagerAndClient;
using MovedOutWhileItsDesktopWasShownAgain = ManagerAndClient;
using IdTakenOverWhileTheManagerWasBehind = ManagerAndClient;
using IdTakenOverBeforeTheReleaseOfItsPredecessor = ManagerAndClient;
using MappedAgainByItselfWhileItsDesktopWasLeft = ManagerAndClient;
using WithdrawnJustBeforeItsDesktopWasLeft = ManagerAndClient;
using MovedIntoAnotherWindowAfterAskingToBeMappedAgain = ManagerAndClient;
using MovedIntoAnotherWindowWhileHidden = ManagerAndClient;

TEST_F(ForgedMapRequests, RootFramesTabsAndInnerWindowsAreIgnored) {
    Window w = c.create_managed({.name = "managed"});
    ASSERT_NE(w, 0u);
    const Window frame = c.parent(w);
    const Window tab = find_tab(c, frame);
    ASSERT_NE(tab, 0u);
    // Windows that are not top-level: a child of an unmapped top-level window, and a
    // child of the managed window.
    Window holder = c.create_window({.x = 600, .y = 500});
    Window inner = XCreateSimpleWindow(c.dpy(), holder, 5, 5, 50, 50, 0, 0, 0);
    Window inner_managed = XCreateSimpleWindow(c.dpy(), w, 5, 5, 50, 50, 0, 0, 0);
    XSync(c.dpy(), False);
    ASSERT_TRUE(c.sync_with_wm());
    const auto before = c.children(c.root());

    for (Window target : {c.root(), frame, tab, inner, inner_managed})
        send_map_request(c, target);
    ASSERT_TRUE(c.sync_with_wm());

    EXPECT_TRUE(wm.running());
    EXPECT_TRUE(manager_holds_root(c));
    EXPECT_EQ(c.children(c.root()), before);
    EXPECT_EQ(c.parent(frame), c.root());
    EXPECT_EQ(c.parent(tab), c.root());
    EXPECT_EQ(c.parent(w), frame);
    EXPECT_EQ(c.parent(inner), holder);
    EXPECT_EQ(c.map_state(inner), IsUnmapped);
    EXPECT_EQ(c.parent(inner_managed), w);
    EXPECT_EQ(c.map_state(inner_managed), IsUnmapped);
    EXPECT_EQ(c.map_state(frame), IsViewable);
    EXPECT_EQ(c.map_state(tab), IsViewable);

    // Managing goes on for the rest of the session.
    Window later = c.create_managed({.name = "later"});
    EXPECT_NE(later, 0u);
    EXPECT_NE(c.parent(later), frame);
}

TEST_F(DestroyedWhileHidden, ClientIsReleasedAndItsIdServesANewWindow) {
    // Hidden through the key binding, then destroyed by its application; `reuse_at_once`
    // creates the window with the same id in the same burst as the destruction.
    for (bool reuse_at_once : {false, true}) {
        SCOPED_TRACE(reuse_at_once ? "id reused at once" : "id reused after the release");
        Window w = c.create_managed({.name = "doomed"});
        ASSERT_NE(w, 0u);
        const Window frame = c.parent(w);
        const Window tab = find_tab(c, frame);
        ASSERT_NE(tab, 0u);
        Geometry g = c.geometry(w);
        c.move_pointer(g.x + 10, g.y + 10);
        ASSERT_TRUE(c.wait_until([&] { return c.focus() == w; }));
        c.key_chord(XK_s, kCtrlAlt);
        ASSERT_TRUE(c.wait_until([&] { return c.map_state(frame) == IsUnmapped; }));
        ASSERT_EQ(c.map_state(tab), IsViewable);

        Window again = 0;
        if (reuse_at_once) {
            XDestroyWindow(c.dpy(), w);
            ForcedId same(c.dpy(), w);
            again = c.create_window({.name = "again"});
            XMapWindow(c.dpy(), again);
            XSync(c.dpy(), False);
        } else {
            c.destroy(w);
        }
        // Released: neither its tab nor its frame remains.
        EXPECT_TRUE(c.wait_until([&] { return !exists(c, tab) && !exists(c, frame); }))
            << "the dead window's tab stayed on the screen";
        if (!reuse_at_once) {
            ForcedId same(c.dpy(), w);
            again = c.create_window({.name = "again"});
            c.map(again);
        }
        ASSERT_EQ(again, w);
        EXPECT_TRUE(c.wait_until([&] {
            return c.is_framed(again) && c.map_state(again) == IsViewable;
        })) << "a window reusing the id was not framed";
        Window new_frame = c.parent(again);
        EXPECT_NE(find_tab(c, new_frame), 0u);
        c.destroy(again);
        ASSERT_TRUE(c.wait_until([&] { return !exists(c, new_frame); }));
    }
}

// Found by the stress driver: an application that reparents its hidden window out of the
// frame left the frame (and its tab) behind, empty, for the rest of the session.
TEST_F(ReparentedWhileHidden, FrameAndTabGoAndTheWindowStaysWhereItWasPut) {
    Window w = c.create_managed({.name = "wanderer"});
    ASSERT_NE(w, 0u);
    const Window frame = c.parent(w);
    const Window tab = find_tab(c, frame);
    ASSERT_NE(tab, 0u);
    Geometry g = c.geometry(w);
    c.move_pointer(g.x + 10, g.y + 10);
    ASSERT_TRUE(c.wait_until([&] { return c.focus() == w; }));
    c.key_chord(XK_s, kCtrlAlt);
    ASSERT_TRUE(c.wait_until([&] { return c.map_state(frame) == IsUnmapped; }));

    Window home = c.create_window({.x = 10, .y = 10, .width = 300, .height = 300});
    XReparentWindow(c.dpy(), w, home, 5, 5);
    XSync(c.dpy(), False);
    EXPECT_TRUE(c.wait_until([&] { return !exists(c, tab) && !exists(c, frame); }))
        << "an empty frame and its tab stayed behind";
    EXPECT_EQ(c.parent(w), home) << "the window was taken away from where it was put";
    EXPECT_TRUE(manager_holds_root(c));

    // Managing goes on as before.
    Window next = c.create_managed({.name = "next"});
    EXPECT_NE(next, 0u);
    EXPECT_TRUE(c.is_framed(next));
}

// Found by the stress driver: a window withdrawn and mapped again in one burst was managed
// anew before the reports of its release arrived, and those stale reports then released
// the new management, leaving the window unframed on the root.
TEST_F(WithdrawnAndMappedInOneBurst, StaleReportsDoNotReleaseTheNewManagement) {
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Window w = c.create_managed({.name = "flicker"});
        ASSERT_NE(w, 0u);
        XUnmapWindow(c.dpy(), w);
        if (round % 2) XSync(c.dpy(), False);
        XMapRaised(c.dpy(), w);
        XUnmapWindow(c.dpy(), w);
        XMapWindow(c.dpy(), w);
        XSync(c.dpy(), False);
        ASSERT_TRUE(c.sync_with_wm());
        EXPECT_TRUE(c.wait_until([&] {
            return c.is_framed(w) && c.map_state(w) == IsViewable && c.wm_state(w) == NormalState;
        })) << "the window was left unframed";
        c.destroy(w);
    }
}

// Found by the stress driver: an application mapped its window, withdrew it (unmap, then
// the sent UnmapNotify) before the manager had mapped it, and mapped it again once the
// manager had: its final map found the window mapped and did nothing, and the late
// withdrawal released the management, leaving the window mapped on the root unframed.
TEST_F(WithdrawalSentBeforeTheManagersMap, DoesNotReleaseTheWindowShownSince) {
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Window w = c.create_window({.name = "early"});
        ASSERT_NE(w, 0u);
        // Map, unmap and the sent withdrawal all reach the server before the manager
        // sees the map request.
        XGrabServer(c.dpy());
        XMapWindow(c.dpy(), w);
        XUnmapWindow(c.dpy(), w);
        send_withdrawal(c, w);
        XUngrabServer(c.dpy());
        XSync(c.dpy(), False);
        ASSERT_TRUE(framed_and_shown(c, w));
        // The application's final map: the window is mapped already, so nothing happens.
        XMapWindow(c.dpy(), w);
        XSync(c.dpy(), False);
        ASSERT_TRUE(c.sync_with_wm());
        EXPECT_TRUE(managed_and_shown(c, w)) << "the window was left unframed";
        c.destroy(w);
    }
    // A withdrawal sent once the window is shown releases it; a window mapped all along
    // stays mapped on the root, one its application unmapped stays unmapped.
    Window a = c.create_managed({.name = "mapped"});
    Window b = c.create_managed({.name = "unmapped"});
    ASSERT_TRUE(a && b);
    send_withdrawal(c, a);
    XUnmapWindow(c.dpy(), b);
    send_withdrawal(c, b);
    XSync(c.dpy(), False);
    EXPECT_TRUE(released(c, a, IsViewable));
    EXPECT_TRUE(released(c, b, IsUnmapped));
}

// Found by the stress driver: an application unmapped its window just as the manager
// switched to another desktop and back. The manager's own unmap found the window unmapped
// already, so the application's unmap was counted as the manager's; the manager's last
// unmap report then released the window it had shown again meanwhile, mapped, onto the
// root without a frame. Now the manager's showing the window again, after the unmap,
// stands: the window stays managed as it is shown, and a later unmap releases it.
TEST_F(UnmappedWhileTheManagerSwitchedDesktops, StaysManagedAsShown) {
    Window w = c.create_managed({.name = "busy"});
    ASSERT_NE(w, 0u);
    // A pager asks for desktop 2 and back to 1, and the application unmaps its window,
    // all before any request of the manager's is carried out: the manager reads the
    // unmap only after it has switched back.
    XGrabServer(c.dpy());
    show_desktop(c, 1);
    show_desktop(c, 0);
    XUnmapWindow(c.dpy(), w);
    XUngrabServer(c.dpy());
    XSync(c.dpy(), False);
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_TRUE(managed_and_shown(c, w)) << "the window shown again was released";
    // The application's next unmap is a withdrawal again.
    XUnmapWindow(c.dpy(), w);
    XSync(c.dpy(), False);
    EXPECT_TRUE(released(c, w, IsUnmapped));
}

// Found by the stress driver: an application asked to map its top-level window and then
// put the window into another of its windows before the manager got to the request. The
// manager framed it anyway, taking it out of the window its application had put it in.
TEST_F(ReparentedBeforeBeingManaged, StaysWhereItsApplicationPutIt) {
    Window holder = c.create_managed({.name = "holder"});
    ASSERT_NE(holder, 0u);
    Window w = c.create_window({.name = "moved"});
    ASSERT_NE(w, 0u);
    XGrabServer(c.dpy());
    XMapWindow(c.dpy(), w);
    XReparentWindow(c.dpy(), w, holder, 10, 10);
    XUngrabServer(c.dpy());
    XSync(c.dpy(), False);
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.parent(w), holder) << "the window was taken out of its application's window";
    // Mapped where it is now, it is its application's own business.
    XMapWindow(c.dpy(), w);
    XSync(c.dpy(), False);
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.parent(w), holder);
    EXPECT_EQ(c.map_state(w), IsViewable);
    // Back on the root and mapped, it is managed.
    XUnmapWindow(c.dpy(), w);
    XReparentWindow(c.dpy(), w, c.root(), 50, 50);
    XMapWindow(c.dpy(), w);
    XSync(c.dpy(), False);
    EXPECT_TRUE(framed_and_shown(c, w));
}

// Found while testing the case above: the focus given to a window that its application
// had just unmapped failed with BadMatch, and that error released the client, which the
// manager had mapped again meanwhile: the window was left mapped on the root unframed.
TEST_F(FocusGivenToAWindowJustUnmapped, DoesNotReleaseIt) {
    Window w = c.create_managed({.name = "focused"});
    ASSERT_NE(w, 0u);
    XGrabServer(c.dpy());
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(c.dpy(), "_NET_ACTIVE_WINDOW", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = 2;
    XSendEvent(c.dpy(), c.root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    show_desktop(c, 1);
    show_desktop(c, 0);
    XUnmapWindow(c.dpy(), w);
    XUngrabServer(c.dpy());
    XSync(c.dpy(), False);
    ASSERT_TRUE(c.sync_with_wm());
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_TRUE(managed_and_shown(c, w)) << "the failed focus released the window";
}

// Found by the stress driver: an application moved its window, hidden on a desktop not
// shown, out of the frame onto the root just as the desktop was shown again. The manager,
// not knowing yet, mapped the window to show it, which mapped it on the root; the release
// that followed left it there, mapped without a frame. Unmapping it again was no cure
// either (found by a one-hour run): a map its application sent after the manager's had
// found it mapped and asked nothing, and the manager's unmap then hid it for good. The
// window the manager showed is managed as shown.
TEST_F(MovedOutWhileItsDesktopWasShownAgain, IsManagedAsTheManagerShowedIt) {
    Window w = c.create_managed({.name = "leaving"});
    ASSERT_NE(w, 0u);
    Window frame = c.parent(w);
    show_desktop(c, 1);
    XSync(c.dpy(), False);
    ASSERT_TRUE(c.wait_until([&] { return c.map_state(w) == IsUnmapped; }));
    ASSERT_TRUE(c.sync_with_wm());
    // The pager's request reaches the manager before the report of the move, and the
    // manager's requests are carried out only after the move.
    XGrabServer(c.dpy());
    show_desktop(c, 0);
    XReparentWindow(c.dpy(), w, c.root(), 40, 40);
    XUngrabServer(c.dpy());
    XSync(c.dpy(), False);
    ASSERT_TRUE(c.wait_until([&] { return !c.try_geometry(frame).has_value(); }));
    // Whatever its application asks next finds it mapped and managed: a map changes
    // nothing, an unmap withdraws it.
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_TRUE(managed_and_shown(c, w));
    EXPECT_NE(c.parent(w), frame);
    c.unmap(w);
    EXPECT_TRUE(released(c, w, IsUnmapped));
}

// A window destroyed while the manager was busy, its id taken at once by a new window
// (the ids of a closed connection serve the next one): the manager, not knowing yet,
// shows the old window's desktop and maps the id, which shows the new window on the
// root. It is taken under management then, not left unframed for good (its own map
// finds it mapped already and asks the manager nothing).
TEST_F(IdTakenOverWhileTheManagerWasBehind, NewWindowShownByTheManagerIsFramed) {
    Window w = c.create_managed({.name = "first"});
    ASSERT_NE(w, 0u);
    const Window frame = c.parent(w);
    show_desktop(c, 1);
    ASSERT_TRUE(c.wait_until([&] { return c.map_state(frame) == IsUnmapped; }));
    ASSERT_TRUE(c.sync_with_wm());

    Window again = 0;
    {
        ManagerPaused paused(c, wm);
        ASSERT_TRUE(paused.stopped());
        show_desktop(c, 0);
        XDestroyWindow(c.dpy(), w);
        ForcedId same(c.dpy(), w);
        again = c.create_window({.x = 300, .y = 200, .name = "again"});
        XSync(c.dpy(), False);
    }
    ASSERT_EQ(again, w);
    // The manager has caught up (and shown the new window) before its application maps it.
    ASSERT_TRUE(c.sync_with_wm());
    c.map(again);
    EXPECT_TRUE(c.wait_until([&] {
        return !exists(c, frame) && bool(managed_and_shown(c, again));
    })) << "the window that took the id: "
        << managed_and_shown(c, again).message();
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_TRUE(managed_and_shown(c, again));
}

// The same race when the manager releases the old window: the release must not move,
// resize or mark withdrawn the new window that now has its id.
TEST_F(IdTakenOverBeforeTheReleaseOfItsPredecessor, NewWindowIsLeftAsItsApplicationMadeIt) {
    for (bool shown : {true, false}) {
        SCOPED_TRACE(shown ? "destroyed while shown" : "destroyed while hidden");
        Window w = c.create_managed({.x = 40, .y = 60, .name = "first"});
        ASSERT_NE(w, 0u);
        const Window frame = c.parent(w);
        if (!shown) {
            show_desktop(c, 1);
            ASSERT_TRUE(c.wait_until([&] { return c.map_state(frame) == IsUnmapped; }));
        }
        ASSERT_TRUE(c.sync_with_wm());

        Window again = 0;
        {
            ManagerPaused paused(c, wm);
            ASSERT_TRUE(paused.stopped());
            XDestroyWindow(c.dpy(), w);
            ForcedId same(c.dpy(), w);
            again = c.create_window({.x = 300, .y = 200, .name = "again"});
            XSync(c.dpy(), False);
        }
        ASSERT_EQ(again, w);
        ASSERT_TRUE(c.wait_until([&] { return !exists(c, frame); }));
        ASSERT_TRUE(c.sync_with_wm());
        EXPECT_EQ(c.parent(again), c.root());
        EXPECT_EQ(c.map_state(again), IsUnmapped);
        EXPECT_EQ(c.geometry(again), (Geometry{300, 200, 200, 100, 0}));
        EXPECT_FALSE(c.wm_state(again).has_value()) << "marked withdrawn by the release";

        if (!shown) show_desktop(c, 0);
        c.map(again);
        EXPECT_TRUE(c.wait_until([&] { return bool(managed_and_shown(c, again)); }));
        c.destroy(again);
        ASSERT_TRUE(c.sync_with_wm());
    }
}

// An application that turned its managed window override-redirect unmaps it and maps it
// again itself (no map request: nothing is redirected any more), while the manager,
// not knowing yet, leaves the window's desktop and unmaps it. The manager releases the
// window on its application's unmap; the window is left as its application last put
// it, mapped, not unmapped by the manager's unmap of a window it no longer manages.
TEST_F(MappedAgainByItselfWhileItsDesktopWasLeft, StaysMappedWhenReleased) {
    Window w = c.create_managed({.name = "flips"});
    ASSERT_NE(w, 0u);
    const Window frame = c.parent(w);
    {
        ManagerPaused paused(c, wm);
        ASSERT_TRUE(paused.stopped());
        show_desktop(c, 1);
        XSetWindowAttributes a{};
        a.override_redirect = True;
        XChangeWindowAttributes(c.dpy(), w, CWOverrideRedirect, &a);
        XUnmapWindow(c.dpy(), w);
        XMapWindow(c.dpy(), w);
        XSync(c.dpy(), False);
    }
    EXPECT_TRUE(released(c, w, IsViewable)) << "the window was left unmapped";
    EXPECT_FALSE(exists(c, frame));
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.map_state(w), IsViewable);
}

// Found by the hostile-client tester: an application sent the UnmapNotify of a withdrawal
// for its window (to the frame) without unmapping it, and the manager, behind with its
// queue, left the window's desktop before it read the withdrawal: its unmap came after
// the withdrawal, and the release handed the window back unmapped, though its
// application had left it mapped. Moved into another of its windows and back onto the
// root, it was not mapped, so nothing asked the manager to map it: it stayed unframed
// and unmapped for good.
TEST_F(WithdrawnJustBeforeItsDesktopWasLeft, IsReleasedMappedAsItsApplicationLeftIt) {
    Window w = c.create_managed({.name = "withdrawn"});
    ASSERT_NE(w, 0u);
    const Window frame = c.parent(w);
    Window holder = c.create_window({.x = 300, .y = 300});
    {
        ManagerPaused paused(c, wm);
        ASSERT_TRUE(paused.stopped());
        show_desktop(c, 1);
        XEvent ev{};
        ev.xunmap.type = UnmapNotify;
        ev.xunmap.event = frame;
        ev.xunmap.window = w;
        XSendEvent(c.dpy(), frame, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
        XSync(c.dpy(), False);
    }
    EXPECT_TRUE(released(c, w, IsViewable)) << "the window was handed back unmapped";
    // Still mapped, the window put back onto the root asks the manager to map it.
    XReparentWindow(c.dpy(), w, holder, 5, 5);
    XReparentWindow(c.dpy(), w, c.root(), 40, 40);
    XSync(c.dpy(), False);
    EXPECT_TRUE(framed_and_shown(c, w));
}

// Found by the hostile-client tester: an application unmapped its window and mapped it
// again at once (the map came to the manager as a request from the frame), then put the
// window into another of its windows, all before the manager read the unmap. The manager
// dropped the map request of a window that was no longer a child of the root, which left
// it unmapped where its application had put it; moved back onto the root, it was not
// mapped, so nothing asked the manager to map it.
TEST_F(MovedIntoAnotherWindowAfterAskingToBeMappedAgain, IsMappedWhereItsApplicationPutIt) {
    Window w = c.create_managed({.name = "restless"});
    Window holder = c.create_managed({.x = 300, .y = 300, .name = "holder"});
    ASSERT_TRUE(w && holder);
    {
        ManagerPaused paused(c, wm);
        ASSERT_TRUE(paused.stopped());
        XUnmapWindow(c.dpy(), w);
        XMapWindow(c.dpy(), w);
        XReparentWindow(c.dpy(), w, holder, 10, 10);
        XSync(c.dpy(), False);
    }
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.parent(w), holder);
    EXPECT_EQ(c.map_state(w), IsViewable) << "the map its application asked for was dropped";
    XReparentWindow(c.dpy(), w, c.root(), 40, 40);
    XSync(c.dpy(), False);
    EXPECT_TRUE(framed_and_shown(c, w));
}

// Found by the hostile-client tester: an application moved its window, hidden on a desktop
// not shown, into another of its windows. The manager let the window go but left it
// unmapped, as it had hidden it, though its application had never unmapped it; moved
// back onto the root, it was still unmapped, so nothing asked the manager to map it, and
// nothing ever showed it again. Showing the desktop again just before the manager read of
// the move ended the same: its map landed in the other window, and the manager unmapped
// the window there again. The hiding ends with the management.
TEST_F(MovedIntoAnotherWindowWhileHidden, IsMappedThereAsItsApplicationLeftIt) {
    for (bool shown_again : {false, true}) {
        SCOPED_TRACE(shown_again ? "desktop shown again meanwhile" : "desktop left as it was");
        show_desktop(c, 0);
        Window w = c.create_managed({.name = "hidden"});
        ASSERT_NE(w, 0u);
        const Window frame = c.parent(w);
        Window holder = c.create_window({.x = 300, .y = 300});
        show_desktop(c, 1);
        XSync(c.dpy(), False);
        ASSERT_TRUE(c.wait_until([&] { return c.map_state(w) == IsUnmapped; }));
        ASSERT_TRUE(c.sync_with_wm());
        // The manager's requests for the pager's request are carried out after the move.
        XGrabServer(c.dpy());
        if (shown_again) show_desktop(c, 0);
        XReparentWindow(c.dpy(), w, holder, 5, 5);
        XUngrabServer(c.dpy());
        XSync(c.dpy(), False);
        ASSERT_TRUE(c.wait_until([&] { return !exists(c, frame); }));
        ASSERT_TRUE(c.sync_with_wm());
        EXPECT_EQ(c.parent(w), holder);
        EXPECT_EQ(c.map_state(w), IsUnviewable) << "the window was left unmapped";
        XReparentWindow(c.dpy(), w, c.root(), 40, 40);
        XSync(c.dpy(), False);
        EXPECT_TRUE(framed_and_shown(c, w));
        c.destroy(w);
        c.destroy(holder);
    }
}

} // namespace
