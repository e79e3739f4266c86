// Start-up and shutdown of the real manager: command line, display, a second manager,
// X resources, shutdown signals and the command launcher.
#include "harness.h"

#include <X11/keysym.h>
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using harness::children_of;
using harness::Connection;
using harness::kCtrlAlt;
using harness::manager_holds_root;
using harness::proc_stat;
using harness::Process;
using harness::Wm;
using harness::XServer;

constexpr const char *kUsage =
    "usage: tavrel [-display display] [-title 0/1] [-cmd1 command1] [-cmd2 command2] "
    "[-cmd3 command3]\n"
    "\t [-fg foreground] [-bg background] [-abg active background] [-fc fixed color][-fn font] \n"
    "\t[-snap num] [-vd num] [-wlist wclass1,wclass2,...] [-sr 0/1] [-V]\n";

Process::Options without_display() {
    Process::Options o;
    o.env.push_back({"DISPLAY", std::nullopt});
    return o;
}

std::string joined(const std::vector<std::string> &args) {
    std::string s;
    for (const auto &a : args)
        s += "'" + a + "' ";
    return s;
}

// --- command line: these end before any display is opened

TEST(CommandLine, VersionGoesToStdoutWithStatusZero) {
    for (std::vector<std::string> args : {std::vector<std::string>{"-V"}, {"-fg", "red", "-V"}}) {
        Wm wm(args, without_display());
        EXPECT_EQ(wm.wait_exit(), 0) << joined(args);
        EXPECT_EQ(wm.out(), "tavrel version 0.3.5\n") << joined(args);
        EXPECT_EQ(wm.err(), "") << joined(args);
    }
}

TEST(CommandLine, BadArgumentsPrintUsageWithStatusTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"-bogus"}, {"-title", "1"}, {"-fn"}, {"-bw", "2", "stray"}, {"-V3"}};
    for (const auto &args : cases) {
        Wm wm(args, without_display());
        EXPECT_EQ(wm.wait_exit(), 2) << joined(args);
        EXPECT_EQ(wm.out(), kUsage) << joined(args);
        EXPECT_EQ(wm.err(), "") << joined(args);
    }
}

// --- display

TEST(Display, UnreachableDisplayOptionWinsOverDisplayVariable) {
    XServer x; // DISPLAY names a live server; -display does not
    const std::string nowhere = harness::unused_display();
    Wm wm(x, {"-display", nowhere});
    EXPECT_EQ(wm.wait_exit(), 1);
    EXPECT_EQ(wm.err(), "can't open display " + nowhere + "\n");
    EXPECT_EQ(wm.out(), "");
}

TEST(Display, NoDisplayAtAll) {
    Wm wm({}, without_display());
    EXPECT_EQ(wm.wait_exit(), 1);
    EXPECT_EQ(wm.err(), "can't open display \n");
    EXPECT_EQ(wm.out(), "");
}

TEST(Display, DisplayOptionNamesTheServer) {
    XServer x;
    Wm wm({"-display", x.display()}, without_display());
    Connection c(x);
    ASSERT_TRUE(c.wait_until([&] {
        XWindowAttributes a;
        XGetWindowAttributes(c.dpy(), c.root(), &a);
        return (a.all_event_masks & SubstructureRedirectMask) || !wm.running();
    }));
    ASSERT_TRUE(wm.running()) << wm.err();
    EXPECT_TRUE(c.create_managed({.x = 100, .y = 100}));
}

// --- another manager holds the root

constexpr const char *kRootTaken = "root window unavailable (maybe another wm is running?)\n";

bool any_reparent(const Connection &c) {
    for (const XEvent &e : c.events())
        if (e.type == ReparentNotify) return true;
    return false;
}

TEST(SecondManager, ExitsWithStatusOneAndAdoptsNothing) {
    XServer x;
    Wm first(x);
    ASSERT_TRUE(first.wait_ready());
    Connection c(x);
    Window w = c.create_managed({.x = 100, .y = 100});
    ASSERT_TRUE(w);
    const Window frame = c.parent(w);
    const harness::Geometry frame_geometry = c.geometry(frame);
    ASSERT_TRUE(c.sync_with_wm());
    XSelectInput(c.dpy(), c.root(), SubstructureNotifyMask);
    c.clear_events();

    Wm second(x);
    EXPECT_EQ(second.wait_exit(), 1);
    EXPECT_EQ(second.err(), kRootTaken);
    EXPECT_EQ(second.out(), "");

    // Everything the second manager asked for has been done by now: nothing was
    // reparented, the first manager still runs and answers.
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_FALSE(any_reparent(c));
    EXPECT_EQ(c.parent(w), frame);
    EXPECT_EQ(c.parent(frame), c.root());
    EXPECT_EQ(c.geometry(frame), frame_geometry);
    EXPECT_TRUE(first.running());
}

// Any client holding substructure redirection stops the manager before it touches a
// window: here the test itself holds it, with one of its own windows mapped.
TEST(SecondManager, AnyRedirectingClientStopsIt) {
    XServer x;
    Connection other(x);
    Window mapped = other.create_window({.x = 10, .y = 10});
    other.map(mapped);
    Connection holder(x);
    XSelectInput(holder.dpy(), holder.root(), SubstructureRedirectMask | SubstructureNotifyMask);
    XSync(holder.dpy(), False);
    ASSERT_TRUE(holder.errors().empty());

    Wm wm(x);
    EXPECT_EQ(wm.wait_exit(), 1);
    EXPECT_EQ(wm.err(), kRootTaken);
    XSync(holder.dpy(), False);
    holder.pump();
    EXPECT_FALSE(any_reparent(holder));
    EXPECT_EQ(other.parent(mapped), other.root());
    EXPECT_EQ(other.wm_state(mapped), std::nullopt);
}

// --- X resources, observed through the border of a managed window

struct BorderCase {
    const char *name;
    const char *resources;
    std::vector<std::string> args;
    unsigned border;
};

class BorderWidth : public testing::TestWithParam<BorderCase> {};

TEST_P(BorderWidth, FrameIsClientPlusTwoBorders) {
    const BorderCase &p = GetParam();
    XServer x;
    if (*p.resources) x.set_resources(p.resources);
    Wm wm(x, p.args);
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    Window w = c.create_managed({.x = 300, .y = 200, .width = 200, .height = 100});
    ASSERT_TRUE(w);
    harness::Geometry frame = c.geometry(c.parent(w));
    harness::Geometry client = c.geometry(w);
    EXPECT_EQ(frame.width, 200 + 2 * p.border);
    EXPECT_EQ(frame.height, 100 + 2 * p.border);
    EXPECT_EQ(client.width, 200u);
    EXPECT_EQ(client.height, 100u);
    EXPECT_EQ(client.x - frame.x, static_cast<int>(p.border));
    EXPECT_EQ(client.y - frame.y, static_cast<int>(p.border));
}

INSTANTIATE_TEST_SUITE_P(
    Resources, BorderWidth,
    testing::Values(BorderCase{"Default", "", {}, 2},
                    BorderCase{"Resource", "tavrel.borderWidth: 5\n", {}, 5},
                    BorderCase{"OptionBeatsResource", "tavrel.borderWidth: 5\n", {"-bw", "3"}, 3},
                    BorderCase{"ZeroOptionIsNoOption", "tavrel.borderWidth: 5\n", {"-bw", "0"}, 5},
                    BorderCase{"ZeroOptionGivesDefault", "", {"-bw", "0"}, 2},
                    BorderCase{"ZeroResourceStays", "tavrel.borderWidth: 0\n", {}, 0},
                    BorderCase{"OtherProgramsResourceIgnored", "xterm.borderWidth: 9\n", {}, 2},
                    BorderCase{"WildcardResource", "*borderWidth: 4\n", {}, 4}),
    [](const testing::TestParamInfo<BorderCase> &i) { return std::string(i.param.name); });

// Colour resources, seen in the frame's border. Active and inactive colours are the
// same, so it does not matter whether the window has become active.
TEST(Resources, ColoursFromResourcesAndOptions) {
    struct Case {
        std::vector<std::string> args;
        unsigned long pixel;
    };
    for (const Case &k :
         {Case{{}, 0xff0000}, Case{{"-bg", "#00ff00", "-abg", "#00ff00"}, 0x00ff00}}) {
        XServer x;
        x.set_resources("tavrel.background: #ff0000\ntavrel.activeBackground: #ff0000\n");
        Wm wm(x, k.args);
        ASSERT_TRUE(wm.wait_ready());
        Connection c(x);
        Window w = c.create_managed({.x = 300, .y = 200, .width = 200, .height = 100});
        ASSERT_TRUE(w);
        ASSERT_TRUE(c.sync_with_wm());
        EXPECT_EQ(c.pixel(c.parent(w), 0, 0), k.pixel) << joined(k.args);
    }
}

// --- shutdown by signal

class Shutdown : public harness::SessionTest, public testing::WithParamInterface<int> {};

TEST_P(Shutdown, EndsWithStatusZeroWindowsBackOnRootAndFocusToPointerRoot) {
    Window w = c.create_managed({.x = 300, .y = 200});
    ASSERT_TRUE(w);
    const Window frame = c.parent(w);
    // Focus somewhere else than PointerRoot, and such that losing the window does not
    // bring PointerRoot back by itself.
    XSetInputFocus(c.dpy(), w, RevertToNone, CurrentTime);
    ASSERT_TRUE(c.sync_with_wm());
    ASSERT_EQ(c.focus(), w);

    wm.signal(GetParam());
    EXPECT_EQ(wm.wait_exit(), 0);
    EXPECT_EQ(wm.out(), "");
    EXPECT_EQ(wm.err(), "");
    // The server may still be working through the manager's last requests.
    EXPECT_TRUE(c.wait_until([&] { return c.focus() == PointerRoot; })) << "focus " << c.focus();
    EXPECT_TRUE(c.wait_until([&] { return c.parent(w) == c.root(); }));
    EXPECT_TRUE(c.wait_until([&] { return !c.try_geometry(frame); })) << "frame left behind";
    EXPECT_EQ(c.map_state(w), IsViewable);
}

INSTANTIATE_TEST_SUITE_P(Signals, Shutdown, testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const testing::TestParamInfo<int> &i) {
                             return std::string(sigabbrev_np(i.param));
                         });

// --- the command launcher

// Makes the test process the reaper of orphans started below it for its lifetime, so
// the launched commands, which outlive the manager, are the test's to end: at the end
// every such orphan is killed and reaped. Declare it before the server and the manager
// (which are then gone when it runs).
class OrphanReaper {
  public:
    OrphanReaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~OrphanReaper() {
        for (pid_t pid : children_of(getpid())) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        prctl(PR_SET_CHILD_SUBREAPER, 0);
    }
};

class TempFile {
  public:
    TempFile() {
        const char *dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/tavrel-launch-XXXXXX";
        int fd = mkstemp(path_.data());
        if (fd >= 0) close(fd);
    }
    ~TempFile() { unlink(path_.c_str()); }
    const std::string &path() const { return path_; }
    std::vector<pid_t> pids() const {
        std::ifstream f(path_);
        std::vector<pid_t> out;
        for (pid_t p; f >> p;)
            out.push_back(p);
        return out;
    }

  private:
    std::string path_;
};

TEST(Launcher, CommandsRunDetachedAndOutliveTheManager) {
    OrphanReaper reaper;
    TempFile record;
    XServer x;
    // Each run appends the pid of its shell, which then becomes the long sleep.
    Wm wm(x, {"-cmd1", "echo $$ >> '" + record.path() + "'; exec sleep 30"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);

    // The chord works with Caps Lock and Num Lock on; with Shift added it is not the
    // manager's, so it runs nothing (checked after the round trip below).
    const unsigned variants[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
    const size_t kRuns = std::size(variants);
    for (unsigned lock : variants)
        c.key_chord(XK_Return, kCtrlAlt | lock);
    c.key_chord(XK_Return, kCtrlAlt | ShiftMask);
    ASSERT_TRUE(c.wait_until([&] { return record.pids().size() >= kRuns; }))
        << record.pids().size() << " of " << kRuns << " commands started";
    // The key presses have all been handled, the launcher's waits included.
    ASSERT_TRUE(c.sync_with_wm());
    EXPECT_EQ(record.pids().size(), kRuns);

    for (pid_t child : children_of(wm.pid())) {
        auto s = proc_stat(child);
        EXPECT_NE(s ? s->state : 0, 'Z') << "zombie child " << child << " of the manager";
    }
    const pid_t wm_session = getsid(wm.pid());
    for (pid_t pid : record.pids()) {
        auto s = proc_stat(pid);
        ASSERT_TRUE(s) << "command " << pid << " is gone";
        EXPECT_NE(s->ppid, wm.pid()) << "command " << pid << " is the manager's child";
        EXPECT_NE(getsid(pid), wm_session) << "command " << pid << " in the manager's session";
        EXPECT_NE(s->state, 'Z');
    }

    wm.signal(SIGTERM);
    ASSERT_EQ(wm.wait_exit(), 0);
    for (pid_t pid : record.pids()) {
        auto s = proc_stat(pid);
        EXPECT_TRUE(s && s->state != 'Z') << "command " << pid << " ended with the manager";
    }
}

// Commands run on the display the manager was given with -display, whatever DISPLAY
// names; the rest of the environment is the manager's.
TEST(Launcher, CommandsRunOnTheDisplayGivenWithDashDisplay) {
    TempFile record;
    XServer x;
    Process::Options env;
    env.env = {{"DISPLAY", harness::unused_display()}, {"TAVREL_TEST_MARK", "kept"}};
    Wm wm({"-display", x.display(), "-cmd1",
           "echo \"$DISPLAY $TAVREL_TEST_MARK\" > '" + record.path() + ".part'; mv '" +
               record.path() + ".part' '" + record.path() + "'"},
          env);
    Connection c(x);
    ASSERT_TRUE(c.wait_until([&] { return manager_holds_root(c); }));
    ASSERT_TRUE(c.sync_with_wm());
    c.key_chord(XK_Return, ControlMask | Mod1Mask);
    std::string seen;
    ASSERT_TRUE(c.wait_until([&] {
        std::ifstream f(record.path());
        return static_cast<bool>(std::getline(f, seen));
    }));
    EXPECT_EQ(seen, x.display() + " kept");
    wm.signal(SIGTERM);
    EXPECT_EQ(wm.wait_exit(), 0);
}

} // namespace
