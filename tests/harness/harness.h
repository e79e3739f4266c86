// End-to-end test harness: private X servers, the real manager binary, real X clients,
// and an Xlib + XTest connection that drives the manager and reads the results back.
//
// Rules the harness is built around:
// - Nothing waits for a fixed time. Every wait is for an event or a state, up to a
//   deadline (`within(...)`); the short blocking waits in between are waits on the
//   X connection or on a process's exit, never sleeps.
// - Every object owns exactly what it started: destroying a Process, an XServer, a Wm
//   or an App ends and reaps that process (SIGTERM, then SIGKILL after a deadline), so
//   teardown also happens when an assertion fails half-way through a test.
// - Setup failures (a server that does not start, a binary that cannot be run) throw
//   std::runtime_error; GoogleTest reports them as failures of the running test.
//
// Typical use:
//
//     harness::XServer x;                       // Xvfb, 1280x1024x24
//     harness::Wm wm(x, {"-bw", "3"});          // the manager on that server
//     ASSERT_TRUE(wm.wait_ready());
//     harness::Connection c(x);
//     Window w = c.create_window({.x = 100, .y = 100, .width = 200, .height = 100});
//     c.map(w);
//     ASSERT_TRUE(c.wait_until([&] { return c.is_framed(w); }));
//     EXPECT_EQ(c.geometry(c.parent(w)).width, 206u);
//
// The first four lines in one, and a window with its frame and tab:
//
//     harness::Session s({"-bw", "3"});         // s.x, s.wm, s.c
//     ASSERT_TRUE(s.ready);                     // or s.require_ready(), which throws
//     harness::Managed m = harness::manage(s.c, {.x = 100, .y = 100});
//
// or, for every test of a suite with the default settings, the fixture SessionTest.
#pragma once

// GoogleTest first: the X headers define macros (None, Bool, Status) that clash with it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace harness {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// The default patience of every wait: generous, so that a loaded machine or a
// sanitizer build does not turn into a failure. It is a limit, never an expectation.
constexpr std::chrono::milliseconds kDefaultTimeout{15000};

// A deadline `timeout` from now.
inline Deadline within(std::chrono::milliseconds timeout = kDefaultTimeout) {
    return Clock::now() + timeout;
}

// Path of the manager binary under test: $TAVREL_BINARY when set, else the path the
// build compiled in.
std::string tavrel_binary();

// ---------------------------------------------------------------------------
// Processes

// How a Process is started (see Process).
struct ProcessOptions {
    // Environment changes on top of the test's environment: {name, value} sets,
    // {name, std::nullopt} removes.
    std::vector<std::pair<std::string, std::optional<std::string>>> env{};
    // Descriptor handed to the child as fd 3 (e.g. the write end of a -displayfd pipe).
    int pass_fd = -1;
};

// A child process started with execvp, owned by this object.
//
// stdout and stderr go to unlinked temporary files (nothing is left on disk), so a
// process that writes and exits at once loses nothing and never blocks on a pipe.
// The child gets its own process group, default handling for SIGINT/SIGTERM/SIGHUP/
// SIGPIPE, an empty signal mask, no file descriptors of the test beyond 0-2 (and the
// one passed with `pass_fd`), and SIGTERM when the test process dies (so a test that
// is killed by its timeout does not leave it behind).
class Process {
  public:
    using Options = ProcessOptions;

    // Exit status returned by wait_exit: the exit code (0..255) when the process
    // exited, 128 + signal number when a signal killed it, kStillRunning at the deadline.
    static constexpr int kStillRunning = -1;

    explicit Process(std::vector<std::string> argv, Options options = {});
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;
    virtual ~Process();

    pid_t pid() const { return pid_; }
    // True while the process has not exited (reaps it when it has).
    bool running();
    // Sends `sig` to the process (only while it has not been reaped).
    void signal(int sig);
    // Waits for the exit, up to the deadline; see kStillRunning for the result.
    int wait_exit(Deadline deadline = within());
    // Everything the process has written so far to stdout / stderr.
    std::string out() const;
    std::string err() const;
    // Ends the process now (SIGTERM, SIGKILL after `grace`) and reaps it. Idempotent.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(5000));
    const std::vector<std::string> &argv() const { return argv_; }

  protected:
    bool wait_for(Deadline deadline); // true once reaped

  private:
    std::vector<std::string> argv_;
    pid_t pid_ = -1;
    int pidfd_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// ---------------------------------------------------------------------------
// X servers

// A private X server for one test.
//
// Single head: `Xvfb -displayfd 3 -screen 0 WxHxD -nolisten tcp -noreset`; Xvfb picks a
// free display number and writes it back, so parallel tests never collide. Xvfb
// answers Xinerama queries from RandR: XineramaIsActive is true and
// XineramaQueryScreens reports one head covering the whole screen.
//
// Two heads (`two_heads`): an outer Xvfb, and on it `Xephyr +xinerama -screen W1xH1
// -screen W2xH2` (also with -displayfd). Tests talk to the inner Xephyr display. It has
// ONE X screen of (W1+W2) x max(H1,H2) pixels, Xinerama active, and
// XineramaQueryScreens reports two heads side by side, top-aligned:
//     head 0: W1xH1 at (0, 0)      head 1: W2xH2 at (W1, 0)
// (with different heights, the strip below the shorter head is on no head).
//
// Destruction ends the servers (inner first) and reaps them.
class XServer {
  public:
    explicit XServer(int width = 1280, int height = 1024, int depth = 24,
                     std::vector<std::string> extra_args = {});
    static XServer two_heads(int w1, int h1, int w2, int h2);
    // One head in an Xephyr whose screen RandR can resize (`xrandr -s WxH`) inside an Xvfb.
    static XServer resizable(int width, int height);

    XServer(XServer &&) = default;
    XServer &operator=(XServer &&) = default;

    // The display name of the server the tests use, e.g. ":7".
    const std::string &display() const { return display_; }
    // Screen size of that display.
    int width() const { return width_; }
    int height() const { return height_; }

    // Replaces the RESOURCE_MANAGER property on the root window, i.e. the X resources
    // a client reads when it opens the display. Set it before starting the manager:
    // the X library reads it once, at connection time.
    // Example: x.set_resources("tavrel.borderWidth: 5\n");
    void set_resources(const std::string &text) const;
    // The process of that display's server (Xephyr on two heads): its pid, whether it
    // runs, what it has written.
    Process &process() const { return *server_; }

  private:
    static XServer nested(std::vector<std::string> args, int outer_w, int outer_h);
    struct Unstarted {};
    explicit XServer(Unstarted) {}
    std::unique_ptr<Process> outer_;  // Xvfb under Xephyr (two heads only)
    std::unique_ptr<Process> server_; // the display the tests use
    std::string display_;
    int width_ = 0, height_ = 0;
};

// Process inspection through /proc: the state letter and parent of a process, and the
// children of one (for zombie and orphan checks).
struct ProcStat {
    char state = 0;
    pid_t ppid = 0;
};
std::optional<ProcStat> proc_stat(pid_t pid);
std::vector<pid_t> children_of(pid_t parent);

// A display number with no server: no socket in /tmp/.X11-unix and no lock file.
std::string unused_display();

// ---------------------------------------------------------------------------
// The manager and real clients

// The real manager binary, with the given arguments. The constructor taking a server
// sets DISPLAY to it; the other one leaves the environment to `options` (for
// instance to remove DISPLAY, or to start a manager that exits at once). `program` is
// the manager under test unless given (the benchmark measures other managers too).
class Wm : public Process {
  public:
    Wm(const XServer &server, std::vector<std::string> args = {}, Options options = {},
       std::string program = tavrel_binary());
    Wm(std::vector<std::string> args, Options options);

    // wait_ready (below) on a connection of its own. Needs the server the manager was
    // started with.
    bool wait_ready(Deadline deadline = within());

  private:
    std::string display_;
};

// A real X client (xterm, xclock, xeyes, ...) on the server, with DISPLAY set.
class App : public Process {
  public:
    App(const XServer &server, std::vector<std::string> argv, Options options = {});
};

// ---------------------------------------------------------------------------
// Test connection: Xlib client helpers and XTest input

// Geometry of a window: position of its top-left inside corner in root coordinates,
// its size (without X border) and its X border width.
struct Geometry {
    int x = 0, y = 0;
    unsigned width = 0, height = 0;
    unsigned border_width = 0;
    bool operator==(const Geometry &) const = default;
};
std::ostream &operator<<(std::ostream &os, const Geometry &g);

// A window for create_window to make. Optional properties are set only when given.
struct WindowDesc {
    int x = 0, y = 0;
    unsigned width = 200, height = 100;
    std::string name = "test window";         // WM_NAME (XStoreName); empty: none set
    std::string res_name = "test";            // WM_CLASS instance; both empty: none set
    std::string res_class = "Test";           // WM_CLASS class
    std::optional<XSizeHints> normal_hints{}; // WM_NORMAL_HINTS
    std::optional<XWMHints> wm_hints{};       // WM_HINTS
    std::vector<std::string> protocols{};     // WM_PROTOCOLS, e.g. {"WM_DELETE_WINDOW"}
    bool override_redirect = false;
    unsigned long background = 0x808080;
    // Events selected on the window. Structure and property changes are what most
    // waits react to; add KeyPressMask etc. as needed.
    long event_mask = StructureNotifyMask | PropertyChangeMask | FocusChangeMask;
};

// One X error seen on a Connection (the fields of XErrorEvent).
struct XError {
    unsigned long resourceid;
    unsigned char error_code, request_code, minor_code;
};

// A client connection of the test to the server. Not copyable. All reads are
// synchronous queries; every X error is recorded in errors() instead of ending the
// process. Events that arrive are appended to an event log (events()), which waits
// fill and tests inspect.
class Connection {
  public:
    explicit Connection(const std::string &display);
    explicit Connection(const XServer &server) : Connection(server.display()) {}
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection();

    Display *dpy() const { return dpy_; }
    Window root() const { return root_; }
    Atom atom(const char *name) const;

    // --- windows
    // Creates an unmapped top-level window as `desc` describes.
    Window create_window(const WindowDesc &desc = {});
    void map(Window w);
    void unmap(Window w);
    void destroy(Window w);
    // Creates and maps a window, then waits until the manager has framed and shown it
    // (is_framed and viewable). Returns the window; 0 when the deadline passed.
    Window create_managed(const WindowDesc &desc = {}, Deadline deadline = within());

    // --- waiting
    // Pumps events into the log and evaluates `pred` until it is true or the deadline
    // passes. Between evaluations it blocks in poll() on the connection for at most
    // `slice`, so it wakes at once for an event and otherwise re-checks states that
    // produce no event on this connection (other clients' windows, focus, processes).
    bool wait_until(const std::function<bool()> &pred, Deadline deadline = within(),
                    std::chrono::milliseconds slice = std::chrono::milliseconds(10));
    // Reads every event that has arrived into the log, without blocking.
    void pump();
    // The first logged event satisfying `pred`, removed from the log; waits for it.
    std::optional<XEvent> wait_event(const std::function<bool(const XEvent &)> &pred,
                                     Deadline deadline = within());
    const std::deque<XEvent> &events() const { return events_; }
    void clear_events() { events_.clear(); }

    // Round trip through the manager: a ConfigureRequest for an unmapped, unmanaged
    // top-level window that this connection keeps for the purpose. The manager handles
    // events in order and answers this one by configuring the window, so when the
    // ConfigureNotify arrives, it has handled everything this connection caused
    // before (input sent through XTest included). Events of that window are not
    // logged. False at the deadline (manager dead, or stuck in a pointer grab loop,
    // which leaves configure requests queued).
    bool sync_with_wm(Deadline deadline = within());

    // --- reading state (all synchronous)
    // Parent from XQueryTree; 0 when the window does not exist.
    Window parent(Window w);
    std::vector<Window> children(Window w); // bottom to top
    // True when the window's parent is a (frame) window other than the root.
    bool is_framed(Window w);
    // Geometry in root coordinates; nullopt when the window does not exist.
    std::optional<Geometry> try_geometry(Window w);
    // Same, for windows that must exist (adds a test failure and returns {} otherwise).
    Geometry geometry(Window w);
    // IsUnmapped / IsUnviewable / IsViewable; -1 when the window does not exist.
    int map_state(Window w);
    // First item of WM_STATE (0 Withdrawn, 1 Normal, 3 Iconic); nullopt when unset.
    std::optional<long> wm_state(Window w);
    // XGetInputFocus: a window, PointerRoot (1) or None (0).
    Window focus();
    // Pixel value at (x, y) of the window (XGetImage; the point must be on screen and
    // the window viewable). nullopt on error.
    std::optional<unsigned long> pixel(Window w, int x, int y);
    // Property as 32-bit items / as text; nullopt when absent or of another format.
    std::optional<std::vector<long>> property_longs(Window w, const char *name);
    std::optional<std::string> property_string(Window w, const char *name);
    // The first window in the tree under the root whose WM_CLASS class is `res_class`.
    Window find_by_class(const std::string &res_class);
    // Pointer position in root coordinates.
    std::pair<int, int> pointer();

    // --- X errors received on this connection
    const std::vector<XError> &errors() const { return errors_; }
    void clear_errors() { errors_.clear(); }

    // --- XTest input. Each call ends with XSync, so the server has processed the
    // input (and delivered its events) when it returns; follow with sync_with_wm() to
    // know the manager has handled them.
    //
    // Modifier bits: ShiftMask, ControlMask, Mod1Mask (Alt) and Mod4Mask (Super) are
    // held with Shift_L, Control_L, Alt_L, Super_L; LockMask and Mod2Mask turn Caps
    // Lock / Num Lock on around the chord (tapping Caps_Lock / Num_Lock before and
    // after; both are assumed off), so the chord's events carry those bits as with a
    // real keyboard.
    //
    // Pointer motion is XTest motion, except on a server with active Xinerama (the
    // two-head Xephyr), where XTest motion cannot leave the head the pointer is on:
    // there move_pointer warps the pointer (XWarpPointer), which gives the same
    // MotionNotify / EnterNotify / LeaveNotify events.
    void key_chord(KeySym key, unsigned modifiers = 0);
    void key_down(KeySym key);
    void key_up(KeySym key);
    void press_modifiers(unsigned modifiers);
    void release_modifiers(unsigned modifiers);
    void move_pointer(int x, int y);
    void button_down(unsigned button);
    void button_up(unsigned button);
    // Press and release at the current position, with modifiers held.
    void click(unsigned button, unsigned modifiers = 0);

    // Interactive operations. The manager takes the pointer with XGrabPointer only
    // after it has read the button press, and measures motion from where the pointer
    // is at that moment; motion sent earlier is lost or miscounted. Every grab of the
    // manager shows its own cursor, so "the displayed cursor changed" (XFixes cursor
    // serial) tells that the grab is active.
    //
    // Serial of the cursor the server displays now.
    unsigned long cursor_serial();
    // Presses `button` (with whatever modifiers are held) and waits until the displayed
    // cursor changes, i.e. the manager's pointer grab is active. False at the deadline.
    bool button_down_grabbed(unsigned button, Deadline deadline = within());
    // Move to `from`, press (modifiers held), wait for the manager's grab as above,
    // move in `steps` even steps to `to`, release. Returns whether the grab was seen
    // (the motion and release are sent anyway). For a resize, which warps the pointer
    // after grabbing, do the steps by hand:
    //     c.move_pointer(x, y);
    //     c.press_modifiers(Mod1Mask);
    //     ASSERT_TRUE(c.button_down_grabbed(2));
    //     ASSERT_TRUE(c.wait_until([&] { return c.pointer() == corner; }));
    //     c.move_pointer(...); c.button_up(2); c.release_modifiers(Mod1Mask);
    // Pass wait_for_grab = false for a drag that starts no operation of the manager.
    bool drag(std::pair<int, int> from, std::pair<int, int> to, unsigned button = 1,
              unsigned modifiers = 0, int steps = 8, bool wait_for_grab = true);

  private:
    static int record_error(Display *d, XErrorEvent *e);
    KeyCode keycode(KeySym key);
    Display *dpy_ = nullptr;
    Window root_ = 0;
    Window sync_window_ = 0;
    unsigned sync_width_ = 1;
    bool sync_seen_ = false;
    bool warp_pointer_ = false;
    std::deque<XEvent> events_;
    std::vector<XError> errors_;
};

// True while some client (the manager) redirects the root window's substructure.
bool manager_holds_root(Connection &c);

// Waits until `manager`, a process started on the server of `c`, runs its event loop:
// first until the root window's all_event_masks contains SubstructureRedirectMask (some
// manager holds the root), then until it answers a round trip (sync_with_wm), which it
// can only do after it has adopted the existing windows. The round trip is asked again
// every 100 ms, for managers that hold the root before their event loop runs and drop
// what comes meanwhile. False when the process exited or the deadline passed. (While
// another manager holds the root, this tells nothing about this one.)
bool wait_ready(Connection &c, Process &manager, Deadline deadline = within());

// ---------------------------------------------------------------------------
// The manager as the tests know it: its chords, its font and the windows it makes

// Control+Alt: the modifiers of the manager's key chords.
constexpr unsigned kCtrlAlt = ControlMask | Mod1Mask;

// Height of the manager's tabs with its default font ("fixed"): ascent + descent + 2.
// A test failure (and 0) when the font is missing.
int title_height(Connection &c);
// Width of `text` in the default font (a test failure and 0 when it is missing).
int text_width(Connection &c, const std::string &text);

// The tab of the client framed in `frame`: the childless override-redirect InputOutput
// child of the root, other than the frame, whose bottom edge lies on the frame's top edge
// and which starts at the frame's left edge (the tab has not been slid). Mapped or not, so
// hidden tabs are found too. 0 when there is none or the frame is gone; a test failure
// and 0 when two windows qualify.
Window find_tab(Connection &c, Window frame);

// A managed window and the two windows the manager made for it.
struct Managed {
    Window window = 0, frame = 0, tab = 0;
};
// The frame and tab of a window the manager has framed (window 0: an empty record). A
// test failure when no tab is found.
Managed managed(Connection &c, Window w);
// Creates and maps a window, waits until the manager has framed and shown it
// (create_managed) and finds its frame and tab.
Managed manage(Connection &c, const WindowDesc &desc = {}, Deadline deadline = within());

// ---------------------------------------------------------------------------
// Server, manager and connection together

// A private server, the manager on it and the test's own connection, opened once the
// manager runs its event loop (or has failed to get there: see `ready`). Members are
// destroyed in the reverse order: the connection first, the server last.
struct Session {
    explicit Session(std::vector<std::string> args = {}, XServer server = XServer());

    XServer x;
    Wm wm;
    const bool ready; // wm.wait_ready()
    Connection c;
    const int th; // title_height(c): the height of a tab

    // Throws std::runtime_error, with the manager's stderr, unless it is ready: for a
    // session made in a test body, where a setup failure is an exception.
    void require_ready() const;
    // Moves the pointer onto the root window, bottom right, where no test puts a window.
    void park();
};

// A Session with the manager's default settings as a GoogleTest fixture: the test body
// sees x, wm, c and th; SetUp asserts that the manager is ready. Each suite that uses it
// keeps its name: `using Closing = harness::SessionTest;`.
class SessionTest : public testing::Test, public Session {
  protected:
    void SetUp() override { ASSERT_TRUE(ready); }
};

} // namespace harness
