// Faults from outside: the manager killed or signalled at awkward moments, a launcher
// that cannot fork or run its command, the X server going away, and hostile values on
// the command line and in resources. Whatever happens, no client window may be lost:
// each one ends up a mapped child of the root.
#include "harness.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using harness::children_of;
using harness::Connection;
using harness::find_tab;
using harness::kCtrlAlt;
using harness::manager_holds_root;
using harness::proc_stat;
using harness::Process;
using harness::title_height;
using harness::wait_ready;
using harness::Wm;
using harness::XServer;

const std::string kLong(100 * 1024, 'x');

std::string signal_name(int sig) {
    return sigabbrev_np(sig);
}

// ---------------------------------------------------------------------------
// Process inspection through /proc

std::string proc_comm(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(f, name);
    return name;
}

// True once the process has its own handler for `sig` (SigCgt in /proc/<pid>/status).
// Before that the default action would end it, which says nothing about the manager.
bool catches(pid_t pid, int sig) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);) {
        if (line.rfind("SigCgt:", 0) != 0) continue;
        unsigned long long mask = std::strtoull(line.c_str() + 7, nullptr, 16);
        return (mask >> (sig - 1)) & 1;
    }
    return false;
}

// ---------------------------------------------------------------------------
// X state

// The manager's frames and tabs: children of the root that have children of their own
// or are override-redirect. The test creates neither kind of top-level window.
std::vector<Window> manager_windows(Connection &c) {
    std::vector<Window> out;
    for (Window w : c.children(c.root())) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(c.dpy(), w, &a)) continue;
        if (a.override_redirect || !c.children(w).empty()) out.push_back(w);
    }
    return out;
}

// Every window is a mapped child of the root, and no frame or tab is left.
bool all_given_back(Connection &c, const std::vector<Window> &windows) {
    for (Window w : windows)
        if (c.parent(w) != c.root() || c.map_state(w) != IsViewable) return false;
    return manager_windows(c).empty();
}

std::string describe(Connection &c, const std::vector<Window> &windows) {
    std::ostringstream s;
    for (Window w : windows)
        s << std::hex << "0x" << w << std::dec << ": parent root " << (c.parent(w) == c.root())
          << ", map state " << c.map_state(w) << "\n";
    s << manager_windows(c).size() << " frames or tabs left\n";
    return s.str();
}

// Moves the pointer into the window, which makes the manager activate it.
void activate(Connection &c, Window w) {
    harness::Geometry g = c.geometry(w);
    c.move_pointer(g.x + static_cast<int>(g.width) / 2, g.y + static_cast<int>(g.height) / 2);
    EXPECT_TRUE(c.wait_until([&] { return c.focus() == w; }))
        << "window 0x" << std::hex << w << " did not get the focus";
}

// Hides the window with Control+Alt+s.
void hide(Connection &c, Window w) {
    activate(c, w);
    c.key_chord(XK_s, kCtrlAlt);
    EXPECT_TRUE(c.wait_until([&] { return c.map_state(w) == IsUnmapped; }));
}

int lines(const std::string &s) {
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
}

// ---------------------------------------------------------------------------
// SIGKILL: nothing runs in the manager, the server's save-set alone gives the windows back.

using SaveSet = harness::SessionTest;

TEST_F(SaveSet, KilledManagerGivesBackHiddenWindowsAndOtherDesktops) {
    // Desktop 1: a shown window and a hidden one.
    Window shown1 = c.create_managed({.x = 100, .y = 100});
    Window hidden1 = c.create_managed({.x = 400, .y = 100});
    ASSERT_TRUE(shown1 && hidden1);
    hide(c, hidden1);
    // Desktop 2: the same again; desktop 1's windows are now unmapped.
    c.key_chord(XK_2, kCtrlAlt);
    ASSERT_TRUE(c.wait_until([&] { return c.map_state(shown1) == IsUnmapped; }));
    Window shown2 = c.create_managed({.x = 100, .y = 400});
    Window hidden2 = c.create_managed({.x = 400, .y = 400});
    ASSERT_TRUE(shown2 && hidden2);
    hide(c, hidden2);
    ASSERT_TRUE(c.sync_with_wm());
    const std::vector<Window> all = {shown1, hidden1, shown2, hidden2};
    for (Window w : all)
        ASSERT_TRUE(c.is_framed(w));
    ASSERT_EQ(c.map_state(shown2), IsViewable);

    wm.signal(SIGKILL);
    EXPECT_EQ(wm.wait_exit(), 128 + SIGKILL);
    EXPECT_TRUE(c.wait_until([&] { return all_given_back(c, all); })) << describe(c, all);
}

// ---------------------------------------------------------------------------
// Shutdown signals during start-up

class SignalAtStartup : public testing::TestWithParam<int> {};

// Many windows are mapped before the manager starts, so adopting them takes a while. The
// signal goes out at three moments: as soon as the manager handles it (the display may
// not even be open), once it holds the root (adoption running), and once it has framed
// the first window.
TEST_P(SignalAtStartup, ExitsZeroOnceAndLosesNoWindow) {
    const int sig = GetParam();
    enum Moment { handler_installed, root_held, first_framed };
    for (Moment moment : {handler_installed, root_held, first_framed}) {
        SCOPED_TRACE("moment " + std::to_string(moment));
        XServer x;
        Connection c(x);
        std::vector<Window> windows;
        for (int i = 0; i < 150; ++i) {
            Window w = c.create_window(
                {.x = (i % 15) * 80, .y = (i / 15) * 90, .width = 60, .height = 50});
            c.map(w);
            windows.push_back(w);
        }
        XSync(c.dpy(), False);

        Wm wm(x);
        const auto fast = std::chrono::milliseconds(1);
        ASSERT_TRUE(c.wait_until([&] { return !wm.running() || catches(wm.pid(), sig); },
                                 harness::within(), fast));
        if (moment >= root_held) {
            ASSERT_TRUE(
                c.wait_until([&] { return manager_holds_root(c); }, harness::within(), fast));
        }
        // Adoption goes from the bottom of the stack: the first window is framed first.
        if (moment >= first_framed) {
            ASSERT_TRUE(
                c.wait_until([&] { return c.is_framed(windows[0]); }, harness::within(), fast));
        }
        wm.signal(sig);
        EXPECT_EQ(wm.wait_exit(), 0);
        EXPECT_EQ(wm.err(), "");
        EXPECT_EQ(wm.out(), "");
        EXPECT_TRUE(c.wait_until([&] { return all_given_back(c, windows); }))
            << describe(c, windows);
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalAtStartup, testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const testing::TestParamInfo<int> &i) { return signal_name(i.param); });

// ---------------------------------------------------------------------------
// Shutdown signals inside the pointer-grab loops

enum class Grab { alt_drag, root_click, root_click_then_move };

struct GrabCase {
    Grab grab;
    int sig;
};

class SignalInGrab : public harness::SessionTest, public testing::WithParamInterface<GrabCase> {};

// The manager holds the pointer (a button may still be down); the shutdown must not wait
// for a release. A second signal right behind the first changes nothing.
TEST_P(SignalInGrab, ExitsZeroOnceWithoutARelease) {
    const GrabCase k = GetParam();
    Window a = c.create_managed({.x = 200, .y = 200, .width = 300, .height = 200});
    Window b = c.create_managed({.x = 700, .y = 200});
    Window hidden = c.create_managed({.x = 700, .y = 600});
    ASSERT_TRUE(a && b && hidden);
    hide(c, hidden);
    activate(c, a);
    ASSERT_TRUE(c.sync_with_wm());
    const std::vector<Window> all = {a, b, hidden};

    unsigned held_button = 0;
    unsigned held_mods = 0;
    switch (k.grab) {
    case Grab::alt_drag:
        c.press_modifiers(Mod1Mask);
        held_mods = Mod1Mask;
        ASSERT_TRUE(c.button_down_grabbed(1));
        held_button = 1;
        c.move_pointer(380, 330);
        break;
    case Grab::root_click:
        c.move_pointer(20, 900);
        ASSERT_TRUE(c.button_down_grabbed(1));
        c.button_up(1);
        break;
    case Grab::root_click_then_move: {
        c.move_pointer(20, 900);
        ASSERT_TRUE(c.button_down_grabbed(1));
        c.button_up(1);
        // Button1 on b inside root-click mode starts a move: a grab inside a grab.
        harness::Geometry g = c.geometry(b);
        c.move_pointer(g.x + 10, g.y + 10);
        const unsigned long mode_cursor = c.cursor_serial();
        c.button_down(1);
        held_button = 1;
        ASSERT_TRUE(c.wait_until([&] { return c.cursor_serial() != mode_cursor; }));
        c.move_pointer(g.x + 60, g.y + 40);
        break;
    }
    }
    ASSERT_TRUE(wm.running());

    wm.signal(k.sig);
    wm.signal(SIGTERM);
    EXPECT_EQ(wm.wait_exit(), 0);
    EXPECT_EQ(wm.err(), "");
    EXPECT_EQ(wm.out(), "");
    EXPECT_TRUE(c.wait_until([&] { return all_given_back(c, all); })) << describe(c, all);
    if (held_button) c.button_up(held_button);
    if (held_mods) c.release_modifiers(held_mods);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SignalInGrab,
    testing::Values(GrabCase{Grab::alt_drag, SIGTERM}, GrabCase{Grab::alt_drag, SIGINT},
                    GrabCase{Grab::alt_drag, SIGHUP}, GrabCase{Grab::root_click, SIGTERM},
                    GrabCase{Grab::root_click, SIGINT}, GrabCase{Grab::root_click, SIGHUP},
                    GrabCase{Grab::root_click_then_move, SIGTERM},
                    GrabCase{Grab::root_click_then_move, SIGHUP}),
    [](const testing::TestParamInfo<GrabCase> &i) {
        const char *grab = i.param.grab == Grab::alt_drag     ? "AltDrag"
                           : i.param.grab == Grab::root_click ? "RootClick"
                                                              : "RootClickThenMove";
        return std::string(grab) + "_" + signal_name(i.param.sig);
    });

// ---------------------------------------------------------------------------
// Shutdown signals during a flood of requests from another client

// A second client that, on its own thread and connection, keeps sending configure
// requests and name changes for its managed window, and maps and destroys short-lived
// windows, until it is stopped; every 256 rounds it waits for the manager to catch up.
class Flooder {
  public:
    explicit Flooder(const std::string &display) {
        dpy_ = XOpenDisplay(display.c_str());
        if (!dpy_) throw std::runtime_error("cannot open display " + display);
        XSetWindowAttributes a{};
        a.background_pixel = 0x336699;
        window_ = XCreateWindow(dpy_, DefaultRootWindow(dpy_), 50, 50, 150, 100, 0, CopyFromParent,
                                InputOutput, CopyFromParent, CWBackPixel, &a);
        XMapWindow(dpy_, window_);
        a.event_mask = StructureNotifyMask;
        pace_ = XCreateWindow(dpy_, DefaultRootWindow(dpy_), -100, -100, 1, 1, 0, CopyFromParent,
                              InputOutput, CopyFromParent, CWEventMask, &a);
        XSync(dpy_, False);
    }
    Flooder(const Flooder &) = delete;
    Flooder &operator=(const Flooder &) = delete;
    ~Flooder() {
        stop();
        XCloseDisplay(dpy_);
    }

    Window window() const { return window_; }
    void start() {
        thread_ = std::thread([this] { run(); });
    }
    // Stops the thread; afterwards the windows still alive are in survivors().
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        XSync(dpy_, False);
    }
    std::vector<Window> survivors() const {
        std::vector<Window> out = {window_};
        if (transient_) out.push_back(transient_);
        return out;
    }
    unsigned long sent() const { return sent_; }

  private:
    void run() {
        std::mt19937 rng(7);
        const Atom name = XA_WM_NAME;
        for (unsigned long i = 0; !stop_; ++i) {
            XWindowChanges wc{};
            wc.x = static_cast<int>(rng() % 1200) - 50;
            wc.y = static_cast<int>(rng() % 1000) - 50;
            wc.width = 1 + static_cast<int>(rng() % 600);
            wc.height = 1 + static_cast<int>(rng() % 500);
            wc.stack_mode = (i & 1) ? Above : Below;
            XConfigureWindow(dpy_, window_, CWX | CWY | CWWidth | CWHeight | CWStackMode, &wc);
            std::string title = "flood " + std::to_string(i);
            XChangeProperty(dpy_, window_, name, XA_STRING, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(title.data()),
                            static_cast<int>(title.size()));
            if (i % 16 == 0) {
                if (transient_) XDestroyWindow(dpy_, transient_);
                transient_ = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), 300, 300, 80, 60, 0,
                                                 0, 0x996633);
                XMapWindow(dpy_, transient_);
            }
            sent_ += 2;
            if (i % 64 == 0) XFlush(dpy_);
            if (i % 256 == 255) keep_pace();
        }
        XFlush(dpy_);
    }

    // Waits until the manager has handled everything sent so far (a configure request of
    // an unmanaged window comes back as a ConfigureNotify once the manager has passed it
    // on), or until stopped. The X server queues events for the manager without limit: a
    // client that never waits can put it arbitrarily far behind, and its shutdown then
    // first reads all of that, however long it takes. Keeping pace, the flood holds the
    // manager at most a few hundred events behind and still never lets it rest for long.
    void keep_pace() {
        pace_width_ = pace_width_ == 1 ? 2 : 1;
        XResizeWindow(dpy_, pace_, pace_width_, 1);
        XFlush(dpy_);
        XEvent ev;
        while (!stop_ && !XCheckTypedWindowEvent(dpy_, pace_, ConfigureNotify, &ev)) {
            pollfd fd{ConnectionNumber(dpy_), POLLIN, 0};
            poll(&fd, 1, 50);
        }
    }

    Display *dpy_ = nullptr;
    Window window_ = 0;
    Window pace_ = 0;
    unsigned pace_width_ = 1;
    Window transient_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<unsigned long> sent_{0};
};

class SignalInFlood : public testing::TestWithParam<int> {};

TEST_P(SignalInFlood, ExitsZeroOnceAndLosesNoWindow) {
    XInitThreads();
    XServer x;
    Wm wm(x);
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    Window mine = c.create_managed({.x = 600, .y = 100});
    Window hidden = c.create_managed({.x = 600, .y = 500});
    ASSERT_TRUE(mine && hidden);
    hide(c, hidden);
    Flooder flood(x.display());
    ASSERT_TRUE(c.wait_until([&] { return c.is_framed(flood.window()); }));
    ASSERT_TRUE(c.sync_with_wm());

    flood.start();
    // Let the manager get well into the flood before the signal.
    ASSERT_TRUE(c.wait_until([&] { return flood.sent() > 4000; }));
    wm.signal(GetParam());
    const int status = wm.wait_exit();
    flood.stop();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(wm.err(), "");
    EXPECT_EQ(wm.out(), "");
    std::vector<Window> all = flood.survivors();
    all.push_back(mine);
    all.push_back(hidden);
    EXPECT_TRUE(c.wait_until([&] { return all_given_back(c, all); })) << describe(c, all);
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalInFlood, testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const testing::TestParamInfo<int> &i) { return signal_name(i.param); });

// ---------------------------------------------------------------------------
// The launcher

// A copy of the manager binary that any user can run, in a folder of its own that goes
// with the test process: the checkout may sit in a folder other users cannot enter.
class ReachableBinary {
  public:
    ReachableBinary() {
        char folder[] = "/tmp/tavrel-binary-XXXXXX";
        if (!mkdtemp(folder) || chmod(folder, 0755) != 0) return;
        folder_ = folder;
        const std::string copy = folder_ + "/tavrel";
        std::ifstream in(harness::tavrel_binary(), std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
        out.close();
        if (in && out && chmod(copy.c_str(), 0755) == 0) path_ = copy;
    }
    ~ReachableBinary() {
        if (!path_.empty()) unlink(path_.c_str());
        if (!folder_.empty()) rmdir(folder_.c_str());
    }
    // Empty when the copy could not be made.
    const std::string &path() const { return path_; }

  private:
    std::string folder_, path_;
};

// The manager as another user (when the test runs as root, who is exempt from the
// process limit) under a process limit of `nproc` (0: no limit of ours).
std::vector<std::string> manager_as_nobody(unsigned nproc, std::vector<std::string> args) {
    static const ReachableBinary binary;
    std::vector<std::string> argv;
    if (geteuid() == 0) argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    if (nproc) {
        argv.insert(argv.end(), {"prlimit", "--nproc=" + std::to_string(nproc), "--"});
    }
    argv.push_back(binary.path().empty() ? harness::tavrel_binary() : binary.path());
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

TEST(Launcher, ForkFailureLeavesTheManagerRunning) {
    XServer x;
    Connection c(x);
    Process::Options env;
    env.env.push_back({"DISPLAY", x.display()});
    const std::vector<std::string> args = {"-cmd1", "echo launched >&2"};

    // Without a limit, the same user runs the command (its output is the manager's).
    {
        Process free(manager_as_nobody(0, args), env);
        if (!wait_ready(c, free)) {
            free.stop();
            GTEST_SKIP() << "the manager cannot run as uid 65534 here: " << free.err();
        }
        c.key_chord(XK_Return, kCtrlAlt);
        ASSERT_TRUE(c.wait_until([&] { return free.err().find("launched") != std::string::npos; }))
            << free.err();
        free.signal(SIGTERM);
        ASSERT_EQ(free.wait_exit(), 0);
        ASSERT_TRUE(c.wait_until([&] { return !manager_holds_root(c); }));
    }

    // With a limit of one process, the manager's own, every fork fails. (A leak check at
    // exit needs a thread of its own, which the limit forbids too: a sanitizer build of
    // the manager skips it here.)
    Process::Options limited_env = env;
    limited_env.env.push_back({"ASAN_OPTIONS", "detect_leaks=0"});
    Process limited(manager_as_nobody(1, args), limited_env);
    ASSERT_TRUE(wait_ready(c, limited)) << limited.err();
    Window w = c.create_managed({.x = 100, .y = 100});
    ASSERT_TRUE(w);
    for (int i = 0; i < 3; ++i)
        c.key_chord(XK_Return, kCtrlAlt);
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_TRUE(limited.running());
    EXPECT_EQ(limited.err(), "");
    EXPECT_TRUE(children_of(limited.pid()).empty());
    // It still manages windows and handles keys.
    Window w2 = c.create_managed({.x = 500, .y = 100});
    EXPECT_TRUE(w2);
    hide(c, w2);
    limited.signal(SIGTERM);
    EXPECT_EQ(limited.wait_exit(), 0);
    EXPECT_TRUE(c.wait_until([&] { return all_given_back(c, {w, w2}); }));
}

TEST(Launcher, MissingCommandLeavesTheManagerRunningAndNoZombie) {
    XServer x;
    Wm wm(x, {"-cmd1", "/nonexistent/thing", "-cmd3", "/nonexistent/other arg"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    Window w = c.create_managed({.x = 100, .y = 100});
    ASSERT_TRUE(w);
    for (int i = 0; i < 5; ++i) {
        c.key_chord(XK_Return, kCtrlAlt);
        c.key_chord(XK_e, kCtrlAlt);
    }
    ASSERT_TRUE(c.sync_with_wm());
    // The shell reports the missing program on the standard error it inherited.
    EXPECT_TRUE(c.wait_until([&] {
        const std::string err = wm.err();
        return err.find("/nonexistent/thing") != std::string::npos &&
               err.find("/nonexistent/other") != std::string::npos;
    })) << wm.err();
    EXPECT_TRUE(wm.running());
    for (pid_t child : children_of(wm.pid())) {
        auto s = proc_stat(child);
        EXPECT_NE(s ? s->state : 0, 'Z') << "zombie child " << child << " of the manager";
    }
    // Still at work.
    Window w2 = c.create_managed({.x = 500, .y = 100});
    EXPECT_TRUE(w2);
    wm.signal(SIGTERM);
    EXPECT_EQ(wm.wait_exit(), 0);
}

// ---------------------------------------------------------------------------
// The X server going away

// The X server the test started: the one child of the test named Xvfb.
pid_t server_pid() {
    pid_t found = 0;
    for (pid_t pid : children_of(getpid()))
        if (proc_comm(pid) == "Xvfb") {
            if (found) return 0;
            found = pid;
        }
    return found;
}

class ServerGone : public testing::TestWithParam<bool> {};

// The manager, idle or in root-click mode, loses its server: it ends by itself, through
// an exit and not a crash, and does not hang.
TEST_P(ServerGone, ManagerExitsWithoutHanging) {
    const bool in_root_click = GetParam();
    XServer x;
    Wm wm(x);
    ASSERT_TRUE(wm.wait_ready());
    {
        // The test's connection must be gone before the server: Xlib ends a process that
        // loses its server. Its windows stay (RetainPermanent), managed.
        Connection c(x);
        XSetCloseDownMode(c.dpy(), RetainPermanent);
        Window a = c.create_managed({.x = 100, .y = 100});
        Window b = c.create_managed({.x = 500, .y = 100});
        ASSERT_TRUE(a && b);
        hide(c, b);
        ASSERT_TRUE(c.sync_with_wm());
        if (in_root_click) {
            c.move_pointer(20, 900);
            ASSERT_TRUE(c.button_down_grabbed(1));
            c.button_up(1);
        }
    }
    const pid_t server = server_pid();
    ASSERT_GT(server, 0) << "cannot tell which process is the X server";
    ASSERT_EQ(kill(server, SIGKILL), 0);

    const int status = wm.wait_exit(harness::within(std::chrono::seconds(10)));
    ASSERT_NE(status, Process::kStillRunning) << "the manager hangs without its server";
    EXPECT_LT(status, 128) << "the manager was killed by signal " << status - 128;
}

INSTANTIATE_TEST_SUITE_P(Moments, ServerGone, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &i) {
                             return std::string(i.param ? "InRootClickMode" : "Idle");
                         });

// ---------------------------------------------------------------------------
// Bad values on the command line and in resources

struct BadInput {
    const char *name;
    std::vector<std::string> args{};
    std::string resources{};
    // Expected exit status and a word of the one-line message; -1: the manager runs.
    int exit_status = -1;
    const char *message = "";
    // What the running manager shows: the tab height of "fixed", frames of pixel 0.
    bool fixed_font = false;
    bool black_frame = false;
};

class BadValues : public testing::TestWithParam<BadInput> {};

// Activates the window and drags it with Alt+Button1 towards the top-left corner, through
// the snapping and move code.
void drag_to_corner(Connection &c, Window w) {
    activate(c, w);
    harness::Geometry g = c.geometry(w);
    c.press_modifiers(Mod1Mask);
    c.drag({g.x + 20, g.y + 20}, {12, 14}, 1);
    c.release_modifiers(Mod1Mask);
}

TEST_P(BadValues, ClearBehaviourAndNoCrash) {
    const BadInput &k = GetParam();
    XServer x;
    if (!k.resources.empty()) x.set_resources(k.resources);
    Wm wm(x, k.args);

    if (k.exit_status >= 0) {
        EXPECT_EQ(wm.wait_exit(), k.exit_status);
        const std::string err = wm.err();
        EXPECT_EQ(lines(err), 1) << err.substr(0, 300);
        EXPECT_NE(err.find(k.message), std::string::npos) << err.substr(0, 300);
        EXPECT_EQ(wm.out(), "");
        Connection c(x);
        EXPECT_FALSE(manager_holds_root(c));
        return;
    }

    ASSERT_TRUE(wm.wait_ready()) << wm.err().substr(0, 300);
    Connection c(x);
    Window w = c.create_managed({.x = 300, .y = 300, .width = 250, .height = 150});
    ASSERT_TRUE(w);
    ASSERT_TRUE(c.sync_with_wm());
    const Window frame = c.parent(w);
    if (k.fixed_font) {
        Window tab = find_tab(c, frame);
        ASSERT_TRUE(tab);
        EXPECT_EQ(static_cast<int>(c.geometry(tab).height), title_height(c));
    }
    if (k.black_frame) {
        EXPECT_EQ(c.pixel(frame, 0, 0), 0ul);
    }

    drag_to_corner(c, w);
    c.key_chord(XK_Right, kCtrlAlt);
    c.key_chord(XK_Left, kCtrlAlt);
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_TRUE(c.is_framed(w));
    EXPECT_TRUE(wm.running());

    wm.signal(SIGTERM);
    EXPECT_EQ(wm.wait_exit(), 0);
    EXPECT_EQ(wm.err(), "");
    EXPECT_TRUE(c.wait_until([&] { return all_given_back(c, {w}); })) << describe(c, {w});
}

const std::string kLongList = [] {
    std::string s;
    while (s.size() < 100 * 1024)
        s += "Other,";
    return s + "Last";
}();

INSTANTIATE_TEST_SUITE_P(
    Values, BadValues,
    testing::Values(
        // Border widths outside 0..1000: one line naming the setting, status 2.
        BadInput{.name = "BorderWidthHuge",
                 .args = {"-bw", "99999999999"},
                 .exit_status = 2,
                 .message = "border width"},
        BadInput{.name = "BorderWidthNegative",
                 .args = {"-bw", "-3"},
                 .exit_status = 2,
                 .message = "border width"},
        BadInput{.name = "BorderWidthJustTooBig",
                 .args = {"-bw", "1001"},
                 .exit_status = 2,
                 .message = "border width"},
        BadInput{.name = "BorderWidthResourceNegative",
                 .resources = "tavrel.borderWidth: -7\n",
                 .exit_status = 2,
                 .message = "border width"},
        BadInput{.name = "BorderWidthResourceHuge",
                 .resources = "tavrel.borderWidth: 99999999999999999999999\n",
                 .exit_status = 2,
                 .message = "border width"},
        BadInput{.name = "BorderWidthLargest", .args = {"-bw", "1000"}},
        // A display name no server has.
        BadInput{.name = "DisplayLong",
                 .args = {"-display", ":" + kLong},
                 .exit_status = 1,
                 .message = "can't open display"},
        // Fonts that cannot be loaded: "fixed" instead.
        BadInput{.name = "FontLong", .args = {"-fn", kLong}, .fixed_font = true},
        BadInput{.name = "FontUnknown", .args = {"-fn", "-no-such-font-*"}, .fixed_font = true},
        BadInput{.name = "FontEmpty", .args = {"-fn", ""}, .fixed_font = true},
        BadInput{.name = "FontResourceLong",
                 .resources = "tavrel.font: " + kLong + "\n",
                 .fixed_font = true},
        // Colours that cannot be allocated: pixel 0.
        BadInput{.name = "ColoursLong",
                 .args = {"-fg", kLong, "-bg", kLong, "-abg", kLong, "-fc", kLong},
                 .black_frame = true},
        BadInput{.name = "ColoursUnknown",
                 .args = {"-fg", "nosuchcolour", "-bg", "nosuchcolour", "-abg", "#12345", "-fc",
                          "rgb:zz/zz/zz"},
                 .black_frame = true},
        BadInput{.name = "ColourResourcesUnknown",
                 .resources = "tavrel.background: nosuchcolour\n"
                              "tavrel.activeBackground: " +
                              kLong + "\n",
                 .black_frame = true},
        // Long lists and commands are kept, not used unless asked for.
        BadInput{.name = "TablessListLong", .args = {"-wlist", kLongList}},
        BadInput{.name = "CommandsLong", .args = {"-cmd1", kLong, "-cmd2", kLong}},
        // Numbers that are not numbers or out of range.
        BadInput{.name = "DesktopsNegative", .args = {"-vd", "-5"}},
        BadInput{.name = "DesktopsHuge", .args = {"-vd", "99999999999"}},
        BadInput{.name = "DesktopsResourceGarbage", .resources = "tavrel.virtualDesktops: x\n"},
        BadInput{.name = "SnapNotANumber", .args = {"-snap", "abc"}},
        BadInput{.name = "SnapHuge", .args = {"-snap", "99999999999"}},
        BadInput{.name = "SnapNegative", .args = {"-snap", "-99999999999"}},
        BadInput{.name = "SolidResizeTwo", .args = {"-sr", "2"}},
        BadInput{.name = "SolidResizeResourceGarbage",
                 .resources = "tavrel.solidResize: " + kLong + "\n"}),
    [](const testing::TestParamInfo<BadInput> &i) { return std::string(i.param.name); });

// The number of desktops from a negative setting: the manager works with one.
TEST(BadDesktopCount, NegativeCountGivesOneDesktop) {
    XServer x;
    Wm wm(x, {"-vd", "-5"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    Window w = c.create_managed({.x = 300, .y = 300});
    ASSERT_TRUE(w);
    c.key_chord(XK_Right, kCtrlAlt);
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(c.map_state(w), IsViewable);
    EXPECT_EQ(c.property_longs(c.root(), "_NET_NUMBER_OF_DESKTOPS"), std::vector<long>{1});
    EXPECT_EQ(c.property_longs(c.root(), "_NET_CURRENT_DESKTOP"), std::vector<long>{0});
    // Choosing desktop 2 by number still works and raises the count.
    c.key_chord(XK_2, kCtrlAlt);
    ASSERT_TRUE(c.wait_until([&] { return c.map_state(w) == IsUnmapped; }));
    EXPECT_EQ(c.property_longs(c.root(), "_NET_NUMBER_OF_DESKTOPS"), std::vector<long>{2});
}

} // namespace
