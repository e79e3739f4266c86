// wm_bench: what a window manager costs the user, measured from the outside.
//
//   wm_bench [options] -- COMMAND [ARGS...] [-- COMMAND [ARGS...]]...
//
// Without a command it measures the tavrel built beside it.
//
// Every manager command runs on its own fresh Xvfb (1280x1024x24). The program waits
// until the manager holds SubstructureRedirect on the root window, then measures:
//   a. a burst of N mapped windows until each is framed (parent no longer the root and
//      WM_STATE NormalState), wall time and the manager's CPU time per window;
//   b. releasing them: an unmap burst (parent is the root again) and a destroy burst
//      (the frame is unmapped or destroyed);
//   c. the configure round trip of a managed window moving itself, with 1 and with N
//      managed windows, beside the plain X round trip (XSync);
//   d. an Alt+Button1 drag of M pointer motions with N windows: manager CPU per motion
//      and the time from the last motion until the manager has caught up;
//   e. Control+Alt+l on the active window: time from the key to its ConfigureNotify;
//   f. the manager's resident memory idle and per managed window.
// Results are printed as a markdown table and as LABEL.KEY=VALUE lines.
//
// Every wait is for an event or a state, under a deadline. "The manager has handled
// everything sent before" is known by a barrier: a move request for a top-level window
// that is never mapped goes to the manager as a ConfigureRequest, and the manager's
// answer comes back as a ConfigureNotify once it has handled every earlier event.
// A manager that does not reparent its windows counts a window as framed when its
// WM_STATE is NormalState, and as released when the barrier has returned.

// The test harness runs the servers and managers; it includes GoogleTest before the X
// headers.
#include "harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Options

struct Options {
    std::vector<int> counts{100, 1000};
    int requests = 2000; // configure round trips and XSync samples
    int motions = 2000;  // pointer motions per drag
    int rate = 1000;     // paced drag: motions per second
    int keys = 40;       // keyboard moves
    int rounds = 1;      // runs of every manager, round-robin; the medians are reported
    int screen_w = 1280, screen_h = 1024;
    bool verbose = false;
    std::vector<std::vector<std::string>> managers;
};

constexpr int kWinW = 200, kWinH = 150;

void usage() {
    std::fprintf(stderr,
                 "usage: wm_bench [--counts 100,1000] [--requests N] [--motions N] [--rate HZ]\n"
                 "                [--keys N] [--rounds N] [-v] -- [LABEL:] COMMAND [ARGS...]\n"
                 "                [-- [LABEL:] COMMAND [ARGS...]]...\n");
    std::exit(2);
}

Options parse_options(int argc, char **argv) {
    Options o;
    int i = 1;
    auto value = [&](const char *name) -> const char * {
        if (i + 1 >= argc) {
            std::fprintf(stderr, "wm_bench: %s needs a value\n", name);
            usage();
        }
        return argv[++i];
    };
    auto number = [&](const char *name) {
        const char *v = value(name);
        char *end = nullptr;
        long n = std::strtol(v, &end, 10);
        if (*end || n < 0 || n > 1000000) usage();
        return static_cast<int>(n);
    };
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") break;
        if (a == "--counts") {
            o.counts.clear();
            std::stringstream ss(value("--counts"));
            std::string item;
            while (std::getline(ss, item, ','))
                if (!item.empty()) o.counts.push_back(std::atoi(item.c_str()));
            if (o.counts.empty()) usage();
        } else if (a == "--requests") {
            o.requests = std::max(10, number("--requests"));
        } else if (a == "--motions") {
            o.motions = std::max(10, number("--motions"));
        } else if (a == "--rate") {
            o.rate = number("--rate");
        } else if (a == "--rounds") {
            o.rounds = std::max(1, number("--rounds"));
        } else if (a == "--keys") {
            o.keys = std::max(2, number("--keys"));
        } else if (a == "-v" || a == "--verbose") {
            o.verbose = true;
        } else {
            usage();
        }
    }
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            o.managers.emplace_back();
            continue;
        }
        o.managers.back().push_back(argv[i]);
    }
    o.managers.erase(std::remove_if(o.managers.begin(), o.managers.end(),
                                    [](const auto &m) { return m.empty(); }),
                     o.managers.end());
#ifdef TAVREL_BINARY
    if (o.managers.empty()) o.managers.push_back({TAVREL_BINARY});
#endif
    if (o.managers.empty()) usage();
    std::sort(o.counts.begin(), o.counts.end());
    return o;
}

bool g_verbose = false;

void note(const char *fmt, ...) {
    if (!g_verbose) return;
    va_list ap;
    va_start(ap, fmt);
    std::fprintf(stderr, "wm_bench: ");
    std::vfprintf(stderr, fmt, ap);
    std::fprintf(stderr, "\n");
    va_end(ap);
}

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------
// Clocks, /proc

int64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// CPU time (user + system, all threads) of another process. The kernel's per-process
// CPU clock gives the same sum as utime + stime of /proc/PID/stat at nanosecond
// resolution; the tick-based /proc figure is the fallback.
int64_t cpu_ns(pid_t pid) {
    clockid_t clk;
    timespec ts;
    if (clock_getcpuclockid(pid, &clk) == 0 && clock_gettime(clk, &ts) == 0)
        return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(f, line)) return 0;
    auto rp = line.rfind(')');
    if (rp == std::string::npos) return 0;
    std::istringstream ss(line.substr(rp + 2));
    std::string field;
    long long ut = 0, st = 0;
    // Fields after the command: state is field 3; utime and stime are 14 and 15.
    for (int n = 3; n <= 15 && ss >> field; ++n) {
        if (n == 14) ut = std::atoll(field.c_str());
        if (n == 15) st = std::atoll(field.c_str());
    }
    return (ut + st) * (1000000000LL / sysconf(_SC_CLK_TCK));
}

long rss_kib(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// A manager that grabs the server while it waits for input would block the XTest
// requests that feed it, and with them every call here that waits for a reply. The
// watchdog kills the manager when a step overruns its time, which ends the grab; the step
// then fails as "the manager exited".
volatile pid_t g_watch_pid = -1;
volatile sig_atomic_t g_watch_fired = 0;

void on_alarm(int) {
    if (g_watch_pid > 0) kill(g_watch_pid, SIGKILL);
    g_watch_fired = 1;
}

struct Watchdog {
    Watchdog(pid_t pid, unsigned seconds) {
        g_watch_pid = pid;
        alarm(seconds);
    }
    ~Watchdog() {
        alarm(0);
        g_watch_pid = -1;
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;
};

// ---------------------------------------------------------------------------
// Statistics

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    size_t k = size_t(std::ceil(q * double(v.size())));
    if (k > 0) --k;
    return v[std::min(k, v.size() - 1)];
}

// ---------------------------------------------------------------------------
// One manager on one X server

using Results = std::map<std::string, double>;

struct Win {
    Window id = 0;
    Window frame = 0;        // the frame's top-level window (the id itself without reparenting)
    bool reparented = false; // the last ReparentNotify named a parent other than the root
    bool state_new = false;  // WM_STATE written since the phase began
    bool frame_gone = false; // the frame was unmapped or destroyed
    bool done = false;
    int64_t t_done = 0;
};

enum class Phase { none, map, unmap, destroy };

struct Burst {
    double wall_ms = NAN, cpu_ms = NAN, server_cpu_ms = NAN;
};

class Session {
  public:
    Session(const Options &o, const std::vector<std::string> &command, Results *r)
        : opt_(o), command_(command), res_(r) {}
    ~Session() { teardown(); }

    void run();

  private:
    // X plumbing
    void open_display();
    void wait_for_manager();
    bool next_event(XEvent *ev, int64_t deadline);
    void handle(const XEvent &ev);
    template <class Done> void wait_until(Done done, int64_t deadline, const char *what);
    void check_manager_alive();

    void send_barrier();
    void barrier(const char *what);

    size_t add_window(int x, int y, const std::string &name);
    void update(size_t i, int64_t t);
    bool criterion(const Win &w) const;
    Burst burst(Phase p, size_t lo, size_t hi);
    void find_frames(size_t lo, size_t hi);
    void forget(size_t lo);
    long wm_state(Window w);
    void drain();

    // Measurements
    void probe();
    void floor_rtt();
    bool calibrate_configure(Window w);
    void configure_rtt(Window w, const std::string &key);
    bool make_active(Window w);
    void key_moves(Window w);
    void drag(Window w, bool paced, const std::string &key);

    void teardown();

    const Options &opt_;
    std::vector<std::string> command_;
    Results *res_;

    std::unique_ptr<harness::XServer> server_;
    std::unique_ptr<harness::Connection> conn_;
    std::unique_ptr<harness::Wm> manager_;
    pid_t xvfb_ = -1, wm_ = -1;
    std::string display_name_;
    Display *dpy_ = nullptr;
    Window root_ = 0;
    Atom wm_state_atom_ = 0;
    bool reparenting_ = true;

    std::vector<Win> wins_;
    std::unordered_map<Window, size_t> index_, frame_index_;

    Phase phase_ = Phase::none;
    size_t lo_ = 0, hi_ = 0, done_count_ = 0;
    int64_t t_last_done_ = 0;

    Window barrier_win_ = 0;
    int barrier_x_ = -2000;
    bool barrier_done_ = true;
    int64_t t_barrier_ = 0;

    // configure round trip: the offset from the requested to the reported position
    int cfg_dx_ = 0, cfg_dy_ = 0;
    bool cfg_ok_ = false;

    // the window ConfigureNotify events are counted for (drag, key moves)
    // ConfigureNotify events of the worked-on window (any) and of its frame (moves only)
    Window watch_ = 0, watch_frame_ = 0;
    long watch_count_ = 0, watch_frame_moves_ = 0;
    int watch_frame_x_ = 0, watch_frame_y_ = 0;
    int64_t t_watch_ = 0;
};

void Session::teardown() {
    std::string output; // what the manager and the server wrote, for -v
    if (manager_) {
        manager_->stop(std::chrono::seconds(3));
        output += manager_->out() + manager_->err();
    }
    manager_.reset();
    wm_ = -1;
    conn_.reset();
    dpy_ = nullptr;
    if (server_) {
        server_->process().stop(std::chrono::seconds(3));
        output += server_->process().out() + server_->process().err();
    }
    server_.reset();
    xvfb_ = -1;
    if (opt_.verbose) std::fputs(output.c_str(), stderr);
}

void Session::open_display() {
    server_ = std::make_unique<harness::XServer>(opt_.screen_w, opt_.screen_h);
    xvfb_ = server_->process().pid();
    display_name_ = server_->display();
    // X errors on this connection are recorded there and otherwise ignored.
    conn_ = std::make_unique<harness::Connection>(*server_);
    dpy_ = conn_->dpy();
    root_ = DefaultRootWindow(dpy_);
    wm_state_atom_ = XInternAtom(dpy_, "WM_STATE", False);
    // The barrier window: top-level, never mapped, so its configure requests go to the
    // manager, which passes them on unchanged.
    XSetWindowAttributes a{};
    a.event_mask = StructureNotifyMask;
    barrier_win_ = XCreateWindow(dpy_, root_, barrier_x_, -2000, 1, 1, 0, CopyFromParent, InputOnly,
                                 CopyFromParent, CWEventMask, &a);
    XSync(dpy_, False);
}

void Session::check_manager_alive() {
    if (!manager_ || manager_->running()) return;
    const int status = manager_->wait_exit(harness::Clock::now());
    if (g_watch_fired) throw Failure("the manager stopped answering (killed by the watchdog)");
    throw Failure("the manager exited (status " + std::to_string(status) + ")");
}

void Session::wait_for_manager() {
    manager_ = std::make_unique<harness::Wm>(
        *server_, std::vector<std::string>(command_.begin() + 1, command_.end()),
        harness::Process::Options{}, command_[0]);
    wm_ = manager_->pid();
    // Until the manager holds the root and answers a configure request, asked again until
    // it does: some managers take the root window early and drop what arrives before their
    // event loop runs.
    if (!manager_->wait_ready(harness::within(std::chrono::seconds(20)))) {
        check_manager_alive();
        throw Failure("the manager did not take the root window and answer a configure request");
    }
}

bool Session::next_event(XEvent *ev, int64_t deadline) {
    for (;;) {
        if (XPending(dpy_)) {
            XNextEvent(dpy_, ev);
            return true;
        }
        int64_t left = deadline - now_ns();
        if (left <= 0) return false;
        left = std::min<int64_t>(left, 100000000);
        pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
        timespec ts{time_t(left / 1000000000), long(left % 1000000000)};
        if (ppoll(&p, 1, &ts, nullptr) == 0) check_manager_alive();
    }
}

template <class Done> void Session::wait_until(Done done, int64_t deadline, const char *what) {
    XEvent ev;
    while (!done()) {
        if (!next_event(&ev, deadline)) throw Failure(std::string("timeout: ") + what);
        handle(ev);
    }
}

void Session::handle(const XEvent &ev) {
    int64_t t = now_ns();
    switch (ev.type) {
    case ReparentNotify: {
        auto it = index_.find(ev.xreparent.window);
        if (it == index_.end()) break;
        wins_[it->second].reparented = ev.xreparent.parent != root_;
        update(it->second, t);
        break;
    }
    case PropertyNotify: {
        if (ev.xproperty.atom != wm_state_atom_ || ev.xproperty.state != PropertyNewValue) break;
        auto it = index_.find(ev.xproperty.window);
        if (it == index_.end()) break;
        wins_[it->second].state_new = true;
        update(it->second, t);
        break;
    }
    case ConfigureNotify:
        if (ev.xconfigure.window == barrier_win_) {
            if (ev.xconfigure.x == barrier_x_ && !barrier_done_) {
                barrier_done_ = true;
                t_barrier_ = t;
            }
        } else if (ev.xconfigure.window == watch_) {
            ++watch_count_;
            t_watch_ = t;
        } else if (ev.xconfigure.window == watch_frame_ && ev.xconfigure.event == watch_frame_) {
            if (ev.xconfigure.x != watch_frame_x_ || ev.xconfigure.y != watch_frame_y_) {
                ++watch_frame_moves_;
                t_watch_ = t;
            }
            watch_frame_x_ = ev.xconfigure.x;
            watch_frame_y_ = ev.xconfigure.y;
        }
        break;
    case UnmapNotify:
    case DestroyNotify: {
        Window w = ev.type == UnmapNotify ? ev.xunmap.window : ev.xdestroywindow.window;
        auto it = frame_index_.find(w);
        if (it == frame_index_.end() || !reparenting_) break;
        wins_[it->second].frame_gone = true;
        update(it->second, t);
        break;
    }
    default:
        break;
    }
}

bool Session::criterion(const Win &w) const {
    switch (phase_) {
    case Phase::map:
        return (!reparenting_ || w.reparented) && w.state_new;
    case Phase::unmap:
        return !reparenting_ || !w.reparented;
    case Phase::destroy:
        return !reparenting_ || w.frame_gone;
    case Phase::none:
        break;
    }
    return false;
}

void Session::update(size_t i, int64_t t) {
    if (phase_ == Phase::none || i < lo_ || i >= hi_) return;
    Win &w = wins_[i];
    bool d = criterion(w);
    if (d && !w.done) {
        w.done = true;
        w.t_done = t;
        ++done_count_;
        t_last_done_ = std::max(t_last_done_, t);
    } else if (!d && w.done) {
        w.done = false;
        --done_count_;
    }
}

void Session::send_barrier() {
    barrier_x_ = barrier_x_ == -2000 ? -2001 : -2000;
    barrier_done_ = false;
    XWindowChanges ch{};
    ch.x = barrier_x_;
    XConfigureWindow(dpy_, barrier_win_, CWX, &ch);
    XFlush(dpy_);
}

void Session::barrier(const char *what) {
    send_barrier();
    wait_until([&] { return barrier_done_; }, now_ns() + 30000000000LL, what);
}

// Handles what is queued now, without waiting.
void Session::drain() {
    XSync(dpy_, False);
    XEvent ev;
    while (XPending(dpy_)) {
        XNextEvent(dpy_, &ev);
        handle(ev);
    }
}

size_t Session::add_window(int x, int y, const std::string &name) {
    XSetWindowAttributes a{};
    a.event_mask = StructureNotifyMask | PropertyChangeMask;
    a.background_pixel = WhitePixel(dpy_, DefaultScreen(dpy_));
    Window w = XCreateWindow(dpy_, root_, x, y, kWinW, kWinH, 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWEventMask | CWBackPixel, &a);
    XStoreName(dpy_, w, name.c_str());
    XSizeHints sh{};
    sh.flags = USPosition | PPosition | PSize;
    sh.x = x;
    sh.y = y;
    sh.width = kWinW;
    sh.height = kWinH;
    XSetWMNormalHints(dpy_, w, &sh);
    XWMHints wh{};
    wh.flags = InputHint | StateHint;
    wh.input = True;
    wh.initial_state = NormalState;
    XSetWMHints(dpy_, w, &wh);
    XClassHint ch;
    ch.res_name = const_cast<char *>("wm_bench");
    ch.res_class = const_cast<char *>("WmBench");
    XSetClassHint(dpy_, w, &ch);
    Win rec;
    rec.id = w;
    rec.frame = w;
    wins_.push_back(rec);
    index_[w] = wins_.size() - 1;
    return wins_.size() - 1;
}

long Session::wm_state(Window w) {
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char *data = nullptr;
    long v = -1;
    if (XGetWindowProperty(dpy_, w, wm_state_atom_, 0, 2, False, wm_state_atom_, &type, &format, &n,
                           &after, &data) == Success &&
        data && format == 32 && n >= 1)
        v = reinterpret_cast<long *>(data)[0];
    if (data) XFree(data);
    return v;
}

// One burst of map, unmap or destroy requests for the windows [lo, hi), waited for until
// every window meets the phase's criterion and the barrier sent after the burst is back.
Burst Session::burst(Phase p, size_t lo, size_t hi) {
    const char *what = p == Phase::map     ? "map burst"
                       : p == Phase::unmap ? "unmap burst"
                                           : "destroy burst";
    Watchdog dog(wm_, 120 + unsigned(hi - lo) / 5);
    barrier(what); // the manager is idle and every earlier event is handled
    if (p == Phase::destroy) XSelectInput(dpy_, root_, SubstructureNotifyMask);
    phase_ = p;
    lo_ = lo;
    hi_ = hi;
    done_count_ = 0;
    t_last_done_ = 0;
    for (size_t i = lo; i < hi; ++i) {
        wins_[i].done = false;
        wins_[i].state_new = false;
        wins_[i].frame_gone = false;
    }
    int64_t t0 = now_ns();
    for (size_t i = lo; i < hi; ++i)
        update(i, t0);
    const int64_t cpu0 = cpu_ns(wm_), scpu0 = cpu_ns(xvfb_);
    for (size_t i = lo; i < hi; ++i) {
        if (p == Phase::map)
            XMapWindow(dpy_, wins_[i].id);
        else if (p == Phase::unmap)
            XUnmapWindow(dpy_, wins_[i].id);
        else
            XDestroyWindow(dpy_, wins_[i].id);
    }
    send_barrier();
    const size_t n = hi - lo;
    const int64_t deadline = now_ns() + 60000000000LL + int64_t(n) * 100000000LL;
    wait_until([&] { return done_count_ == n && barrier_done_; }, deadline, what);
    const int64_t t_end = std::max(t_last_done_, t_barrier_);
    Burst b;
    b.cpu_ms = double(cpu_ns(wm_) - cpu0) / 1e6;
    b.server_cpu_ms = double(cpu_ns(xvfb_) - scpu0) / 1e6;
    b.wall_ms = double(t_end - t0) / 1e6;
    if (p == Phase::map) {
        // WM_STATE must read NormalState; a window whose state says otherwise waits on.
        for (;;) {
            size_t bad = 0;
            for (size_t i = lo; i < hi; ++i) {
                if (wm_state(wins_[i].id) == NormalState) continue;
                ++bad;
                wins_[i].state_new = false;
                update(i, now_ns());
            }
            if (!bad) break;
            note("%zu windows not yet in NormalState", bad);
            wait_until([&] { return done_count_ == n; }, deadline, "WM_STATE NormalState");
            b.wall_ms = double(t_last_done_ - t0) / 1e6;
            b.cpu_ms = double(cpu_ns(wm_) - cpu0) / 1e6;
        }
    }
    if (p == Phase::destroy) {
        XSelectInput(dpy_, root_, NoEventMask);
        XSync(dpy_, False);
    }
    phase_ = Phase::none;
    return b;
}

// Records each window's frame: its ancestor that is a child of the root.
void Session::find_frames(size_t lo, size_t hi) {
    for (size_t i = lo; i < hi; ++i) {
        Window w = wins_[i].id, top = w;
        for (;;) {
            Window r, parent, *kids = nullptr;
            unsigned n;
            if (!XQueryTree(dpy_, top, &r, &parent, &kids, &n)) break;
            if (kids) XFree(kids);
            if (parent == root_ || parent == 0) break;
            top = parent;
        }
        frame_index_.erase(wins_[i].frame);
        wins_[i].frame = top;
        if (top != w) frame_index_[top] = i;
    }
}

// Drops the records from lo on (their windows are destroyed).
void Session::forget(size_t lo) {
    for (size_t i = lo; i < wins_.size(); ++i) {
        index_.erase(wins_[i].id);
        frame_index_.erase(wins_[i].frame);
    }
    wins_.resize(lo);
}

// Maps and releases one window before anything is measured: learns whether the
// manager reparents, and lets it finish whatever it does on its first window.
void Session::probe() {
    size_t i = add_window(50, 80, "wm_bench probe");
    reparenting_ = false; // until the window is seen mapped: WM_STATE alone
    phase_ = Phase::map;
    lo_ = i;
    hi_ = i + 1;
    done_count_ = 0;
    XMapWindow(dpy_, wins_[i].id);
    bool mapped = false;
    auto deadline = now_ns() + 30000000000LL;
    XEvent ev;
    while (!(mapped && done_count_ == 1)) {
        if (!next_event(&ev, deadline)) throw Failure("timeout: the probe window was not managed");
        if (ev.type == MapNotify && ev.xmap.window == wins_[i].id) mapped = true;
        handle(ev);
    }
    phase_ = Phase::none;
    Window r, parent, *kids = nullptr;
    unsigned n;
    XQueryTree(dpy_, wins_[i].id, &r, &parent, &kids, &n);
    if (kids) XFree(kids);
    reparenting_ = parent != root_;
    wins_[i].reparented = reparenting_;
    (*res_)["reparenting"] = reparenting_ ? 1 : 0;
    note("manager %s", reparenting_ ? "reparents" : "does not reparent");
    find_frames(i, i + 1);
    burst(Phase::unmap, i, i + 1);
    burst(Phase::map, i, i + 1);
    find_frames(i, i + 1);
    burst(Phase::destroy, i, i + 1);
    forget(i);
}

void Session::floor_rtt() {
    std::vector<double> v;
    v.reserve(opt_.requests);
    for (int k = 0; k < opt_.requests; ++k) {
        int64_t t0 = now_ns();
        XSync(dpy_, False);
        v.push_back(double(now_ns() - t0) / 1e3);
    }
    (*res_)["c_xsync_median_us"] = percentile(v, 0.5);
    (*res_)["c_xsync_p99_us"] = percentile(v, 0.99);
}

constexpr int kCfgAx = 300, kCfgBx = 340, kCfgY = 200;

// Learns where the manager reports a window that asked to move to (kCfgAx, kCfgY): the
// position in its ConfigureNotify differs from the request by the frame's offset.
bool Session::calibrate_configure(Window w) {
    cfg_ok_ = false;
    for (int pass = 0; pass < 2; ++pass) {
        int ax = pass == 0 ? kCfgAx : kCfgBx;
        XMoveWindow(dpy_, w, ax, kCfgY);
        send_barrier();
        bool have = false, have_synthetic = false;
        int x = 0, y = 0;
        XEvent ev;
        auto deadline = now_ns() + 10000000000LL;
        while (!barrier_done_) {
            if (!next_event(&ev, deadline)) return false;
            if (ev.type == ConfigureNotify && ev.xconfigure.window == w &&
                (ev.xconfigure.send_event || !have_synthetic)) {
                have = true;
                have_synthetic = ev.xconfigure.send_event;
                x = ev.xconfigure.x;
                y = ev.xconfigure.y;
            }
            handle(ev);
        }
        if (!have) return false;
        if (pass == 0) {
            cfg_dx_ = x - ax;
            cfg_dy_ = y - kCfgY;
        } else if (x - ax != cfg_dx_ || y - kCfgY != cfg_dy_) {
            return false;
        }
    }
    cfg_ok_ = true;
    return true;
}

// A managed window moves itself back and forth; each sample is the time from the request
// to the ConfigureNotify that reports the new position.
void Session::configure_rtt(Window w, const std::string &key) {
    Watchdog dog(wm_, 120);
    if (!cfg_ok_ && !calibrate_configure(w)) {
        note("configure round trip: the manager's answer could not be recognised");
        return;
    }
    barrier("configure round trip");
    std::vector<double> v;
    v.reserve(opt_.requests);
    XEvent ev;
    const int warm = 20;
    int64_t cpu0 = 0, scpu0 = 0;
    for (int k = 0; k < warm + opt_.requests; ++k) {
        if (k == warm) {
            cpu0 = cpu_ns(wm_);
            scpu0 = cpu_ns(xvfb_);
        }
        int ax = (k % 2) ? kCfgBx : kCfgAx; // calibration left the window at kCfgBx
        int ex = ax + cfg_dx_, ey = kCfgY + cfg_dy_;
        int64_t t0 = now_ns();
        XMoveWindow(dpy_, w, ax, kCfgY);
        XFlush(dpy_);
        auto deadline = t0 + 5000000000LL;
        for (;;) {
            if (!next_event(&ev, deadline)) throw Failure("timeout: configure round trip");
            if (ev.type == ConfigureNotify && ev.xconfigure.window == w && ev.xconfigure.x == ex &&
                ev.xconfigure.y == ey)
                break;
            handle(ev);
        }
        if (k >= warm) v.push_back(double(now_ns() - t0) / 1e3);
    }
    (*res_)[key + "_cpu_us"] = double(cpu_ns(wm_) - cpu0) / 1e3 / opt_.requests;
    (*res_)[key + "_xserver_cpu_us"] = double(cpu_ns(xvfb_) - scpu0) / 1e3 / opt_.requests;
    (*res_)[key + "_median_us"] = percentile(v, 0.5);
    (*res_)[key + "_p99_us"] = percentile(v, 0.99);
}

// Gives the window the focus the way a user would: the pointer enters it (focus follows
// the pointer); a manager that wants a click gets one.
bool Session::make_active(Window w) {
    auto focused = [&] {
        Window f;
        int rev;
        XGetInputFocus(dpy_, &f, &rev);
        return f == w || (f != None && f == wins_[index_[w]].frame);
    };
    Watchdog dog(wm_, 60);
    XWarpPointer(dpy_, None, root_, 0, 0, 0, 0, 2, 2);
    barrier("pointer warp");
    XWarpPointer(dpy_, None, w, 0, 0, 0, 0, kWinW / 2, kWinH / 2);
    barrier("pointer warp");
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto deadline = now_ns() + 1000000000LL;
        for (;;) {
            if (focused()) return true;
            XEvent ev;
            if (!next_event(&ev, deadline)) break;
            handle(ev);
        }
        if (attempt == 0) { // click to focus
            XTestFakeButtonEvent(dpy_, 1, True, CurrentTime);
            XTestFakeButtonEvent(dpy_, 1, False, CurrentTime);
            barrier("focus click");
        }
    }
    return focused();
}

void Session::key_moves(Window w) {
    const KeyCode ctrl = XKeysymToKeycode(dpy_, XK_Control_L);
    const KeyCode alt = XKeysymToKeycode(dpy_, XK_Alt_L);
    const KeyCode right = XKeysymToKeycode(dpy_, XK_l);
    const KeyCode left = XKeysymToKeycode(dpy_, XK_h);
    Watchdog dog(wm_, 60 + unsigned(opt_.keys) / 5);
    watch_ = w;
    XTestFakeKeyEvent(dpy_, ctrl, True, CurrentTime);
    XTestFakeKeyEvent(dpy_, alt, True, CurrentTime);
    std::vector<double> v;
    int64_t cpu = 0;
    barrier("key move");
    for (int k = 0; k < opt_.keys; ++k) {
        const int64_t cpu0 = cpu_ns(wm_);
        long before = watch_count_;
        KeyCode key = (k % 2) ? left : right;
        int64_t t0 = now_ns();
        XTestFakeKeyEvent(dpy_, key, True, CurrentTime);
        XFlush(dpy_);
        try {
            wait_until([&] { return watch_count_ != before; }, t0 + 2000000000LL, "key move");
        } catch (const Failure &) {
            XTestFakeKeyEvent(dpy_, key, False, CurrentTime);
            note("Control+Alt+%c moved nothing", k % 2 ? 'h' : 'l');
            break;
        }
        v.push_back(double(t_watch_ - t0) / 1e3);
        XTestFakeKeyEvent(dpy_, key, False, CurrentTime);
        barrier("key move");
        cpu += cpu_ns(wm_) - cpu0;
    }
    XTestFakeKeyEvent(dpy_, alt, False, CurrentTime);
    XTestFakeKeyEvent(dpy_, ctrl, False, CurrentTime);
    barrier("key release");
    watch_ = 0;
    if (!v.empty()) {
        (*res_)["e_keymove_median_us"] = percentile(v, 0.5);
        (*res_)["e_keymove_p99_us"] = percentile(v, 0.99);
        (*res_)["e_keymove_cpu_us"] = double(cpu) / 1e3 / double(v.size());
    }
}

// Alt+Button1 drag of the window, `motions` pointer motions along a zigzag inside the
// screen, either at `rate` motions per second or all at once.
void Session::drag(Window w, bool paced, const std::string &key) {
    const KeyCode alt = XKeysymToKeycode(dpy_, XK_Alt_L);
    int px, py;
    Window child;
    XTranslateCoordinates(dpy_, w, root_, kWinW / 2, kWinH / 2, &px, &py, &child);
    XTestFakeMotionEvent(dpy_, -1, px, py, CurrentTime);
    barrier("drag start");
    // The window has moved when its frame (the window itself without reparenting) reports
    // a new position; restacking alone does not count.
    watch_frame_ = wins_[index_[w]].frame;
    watch_ = watch_frame_ == w ? 0 : w;
    XWindowAttributes fa;
    XGetWindowAttributes(dpy_, watch_frame_, &fa);
    watch_frame_x_ = fa.x;
    watch_frame_y_ = fa.y;
    XSelectInput(dpy_, watch_frame_,
                 watch_frame_ == w ? StructureNotifyMask | PropertyChangeMask
                                   : StructureNotifyMask);
    watch_count_ = watch_frame_moves_ = 0;
    auto moved = [&] { return watch_frame_moves_; };
    Watchdog dog(wm_, 60 + 2 * unsigned(opt_.motions / std::max(opt_.rate, 100)));

    XTestFakeKeyEvent(dpy_, alt, True, CurrentTime);
    XTestFakeButtonEvent(dpy_, 1, True, CurrentTime);
    XFlush(dpy_);
    // The drag has begun when a motion moves the window: until the manager has taken the
    // pointer, motions may go unreported, so they are repeated (8 pixels: beyond the
    // distance some managers want before a press becomes a move). A manager that moves only
    // an outline and places the window at the release never shows the start; after half a
    // second the drag goes on all the same, and the window's final position tells.
    bool live = false;
    for (int tries = 0; tries < 25 && !live; ++tries) {
        long before = moved();
        XTestFakeMotionEvent(dpy_, -1, px + 8 + tries % 2, py + 8 + tries % 2, CurrentTime);
        XFlush(dpy_);
        try {
            wait_until([&] { return moved() != before; }, now_ns() + 20000000LL, "drag");
            live = true;
        } catch (const Failure &) {
        }
    }
    {
        drain();
        watch_count_ = watch_frame_moves_ = 0;
        const int64_t period = paced && opt_.rate > 0 ? 1000000000LL / opt_.rate : 0;
        const int64_t cpu0 = cpu_ns(wm_), scpu0 = cpu_ns(xvfb_);
        const int64_t t_start = now_ns();
        XEvent ev;
        for (int k = 0; k < opt_.motions; ++k) {
            if (period) {
                int64_t at = t_start + k * period;
                timespec ts{time_t(at / 1000000000), long(at % 1000000000)};
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr); // input rate
            }
            // Zigzag: every motion moves the pointer one pixel in x and in y.
            int tx = k % 400, ty = k % 300;
            int dx = tx < 200 ? tx : 400 - tx, dy = ty < 150 ? ty : 300 - ty;
            XTestFakeMotionEvent(dpy_, -1, px + dx, py + dy, CurrentTime);
            if (!period) continue; // a burst goes out in as few writes as the buffer allows
            XFlush(dpy_);
            while (XEventsQueued(dpy_, QueuedAfterReading)) {
                XNextEvent(dpy_, &ev);
                handle(ev);
            }
        }
        XFlush(dpy_);
        const int64_t t_last = now_ns();
        // The button release ends the drag; the barrier behind it returns once the manager
        // has handled every motion.
        XTestFakeButtonEvent(dpy_, 1, False, CurrentTime);
        send_barrier();
        wait_until([&] { return barrier_done_; }, now_ns() + 60000000000LL, "drag catch-up");
        const int64_t cpu1 = cpu_ns(wm_), scpu1 = cpu_ns(xvfb_);
        XWindowAttributes end;
        XGetWindowAttributes(dpy_, watch_frame_, &end);
        if (end.x == fa.x && end.y == fa.y) {
            note("Alt+Button1 drag moved nothing");
        } else {
            (*res_)[key + "_cpu_us_per_motion"] = double(cpu1 - cpu0) / 1e3 / opt_.motions;
            (*res_)[key + "_xserver_cpu_us_per_motion"] =
                double(scpu1 - scpu0) / 1e3 / opt_.motions;
            (*res_)[key + "_catchup_ms"] = double(t_barrier_ - t_last) / 1e6;
            (*res_)[key + "_send_ms"] = double(t_last - t_start) / 1e6;
            (*res_)[key + "_client_notifies"] = double(watch_count_);
            (*res_)[key + "_frame_moves"] = double(watch_frame_moves_);
            (*res_)[key + "_live"] = live ? 1 : 0;
        }
    }
    XTestFakeKeyEvent(dpy_, alt, False, CurrentTime);
    barrier("drag end");
    if (watch_frame_ != w) XSelectInput(dpy_, watch_frame_, NoEventMask);
    watch_ = watch_frame_ = 0;
}

void Session::run() {
    {
        std::ifstream f("/proc/loadavg");
        double load = NAN;
        if (f >> load) (*res_)["loadavg_1m_before"] = load;
    }
    open_display();
    note("%s on %s", command_[0].c_str(), display_name_.c_str());
    wait_for_manager();
    probe();
    drain();
    (*res_)["f_rss_idle_kib"] = double(rss_kib(wm_));

    // The window that moves itself for the configure round trips.
    size_t mi = add_window(kCfgAx, kCfgY, "wm_bench mover");
    Window mover = wins_[mi].id;
    burst(Phase::map, mi, mi + 1);
    find_frames(mi, mi + 1);
    floor_rtt();
    configure_rtt(mover, "c_configure_1");

    for (size_t ci = 0; ci < opt_.counts.size(); ++ci) {
        const int n = opt_.counts[ci];
        const bool last = ci + 1 == opt_.counts.size();
        const std::string ns = std::to_string(n);
        const size_t lo = wins_.size();
        for (int k = 0; k < n; ++k) {
            int x = 20 + (k * 97) % (opt_.screen_w - kWinW - 60);
            int y = 40 + (k * 61) % (opt_.screen_h - kWinH - 80);
            add_window(x, y, "wm_bench window " + std::to_string(k));
        }
        const size_t hi = wins_.size();
        drain();
        long rss0 = rss_kib(wm_);
        note("map burst of %d", n);
        Burst a = burst(Phase::map, lo, hi);
        (*res_)["a_map_" + ns + "_wall_ms_per_win"] = a.wall_ms / n;
        (*res_)["a_map_" + ns + "_cpu_ms_per_win"] = a.cpu_ms / n;
        (*res_)["a_map_" + ns + "_xserver_cpu_ms_per_win"] = a.server_cpu_ms / n;
        drain();
        (*res_)["f_rss_" + ns + "_kib"] = double(rss_kib(wm_));
        (*res_)["f_rss_per_win_" + ns + "_kib"] = double(rss_kib(wm_) - rss0) / n;
        find_frames(lo, hi);

        // The newest window, on top and moved to the middle of the screen, is the one the
        // keyboard and the pointer work on.
        const Window w = wins_[hi - 1].id;
        auto to_middle = [&] {
            XMoveWindow(dpy_, w, opt_.screen_w / 2 - kWinW / 2 - 100, opt_.screen_h / 2 - 150);
            barrier("move to the middle");
            find_frames(hi - 1, hi);
        };
        if (last) {
            note("configure round trip with %d windows", n);
            configure_rtt(mover, "c_configure_" + ns);
            to_middle();
            if (make_active(w)) {
                note("keyboard moves");
                key_moves(w);
            } else {
                note("the window did not get the focus: no keyboard move");
            }
        }

        note("unmap burst of %d", n);
        Burst u = burst(Phase::unmap, lo, hi);
        (*res_)["b_unmap_" + ns + "_wall_ms_per_win"] = u.wall_ms / n;
        (*res_)["b_unmap_" + ns + "_cpu_ms_per_win"] = u.cpu_ms / n;
        note("map again");
        burst(Phase::map, lo, hi);
        find_frames(lo, hi);

        // Last, as a manager that grabs the server during a drag cannot be fed by XTest
        // and is then killed by the watchdog.
        if (last) {
            to_middle();
            if (make_active(w)) {
                note("drag, paced");
                drag(w, true, "d_drag");
                note("drag, all motions at once");
                drag(w, false, "d_drag_burst");
            } else {
                note("the window did not get the focus: no drag");
            }
        }

        note("destroy burst of %d", n);
        Burst d = burst(Phase::destroy, lo, hi);
        (*res_)["b_destroy_" + ns + "_wall_ms_per_win"] = d.wall_ms / n;
        (*res_)["b_destroy_" + ns + "_cpu_ms_per_win"] = d.cpu_ms / n;
        forget(lo);
        drain();
    }
}

// ---------------------------------------------------------------------------
// Report

struct Row {
    std::string label, key, unit;
    double scale;
};

std::string fmt(double v) {
    if (std::isnan(v)) return "n/a";
    char buf[64];
    double a = std::fabs(v);
    if (a >= 100 || v == std::floor(v))
        std::snprintf(buf, sizeof buf, "%.0f", v);
    else if (a >= 10)
        std::snprintf(buf, sizeof buf, "%.1f", v);
    else if (a >= 1)
        std::snprintf(buf, sizeof buf, "%.2f", v);
    else
        std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

void report(const Options &o, const std::vector<std::string> &labels,
            const std::vector<Results> &results, const std::vector<std::string> &errors) {
    std::vector<Row> rows;
    for (int n : o.counts) {
        std::string ns = std::to_string(n);
        rows.push_back({"a. map " + ns + " windows: wall per window",
                        "a_map_" + ns + "_wall_ms_per_win", "ms", 1});
        rows.push_back({"a. map " + ns + " windows: manager CPU per window",
                        "a_map_" + ns + "_cpu_ms_per_win", "ms", 1});
        rows.push_back({"a. map " + ns + " windows: X server CPU per window",
                        "a_map_" + ns + "_xserver_cpu_ms_per_win", "ms", 1});
    }
    for (int n : o.counts) {
        std::string ns = std::to_string(n);
        rows.push_back({"b. unmap " + ns + ": wall per window",
                        "b_unmap_" + ns + "_wall_ms_per_win", "ms", 1});
        rows.push_back({"b. unmap " + ns + ": manager CPU per window",
                        "b_unmap_" + ns + "_cpu_ms_per_win", "ms", 1});
        rows.push_back({"b. destroy " + ns + ": wall per window",
                        "b_destroy_" + ns + "_wall_ms_per_win", "ms", 1});
        rows.push_back({"b. destroy " + ns + ": manager CPU per window",
                        "b_destroy_" + ns + "_cpu_ms_per_win", "ms", 1});
    }
    std::string nmax = std::to_string(o.counts.back());
    rows.push_back({"c. XSync round trip (floor), median", "c_xsync_median_us", "us", 1});
    rows.push_back({"c. XSync round trip (floor), p99", "c_xsync_p99_us", "us", 1});
    rows.push_back({"c. configure, 1 window, median", "c_configure_1_median_us", "us", 1});
    rows.push_back({"c. configure, 1 window, p99", "c_configure_1_p99_us", "us", 1});
    rows.push_back({"c. configure, " + nmax + " windows, median",
                    "c_configure_" + nmax + "_median_us", "us", 1});
    rows.push_back(
        {"c. configure, " + nmax + " windows, p99", "c_configure_" + nmax + "_p99_us", "us", 1});
    rows.push_back(
        {"c. configure, 1 window: manager CPU per request", "c_configure_1_cpu_us", "us", 1});
    rows.push_back({"c. configure, 1 window: X server CPU per request",
                    "c_configure_1_xserver_cpu_us", "us", 1});
    rows.push_back({"c. configure, " + nmax + " windows: manager CPU per request",
                    "c_configure_" + nmax + "_cpu_us", "us", 1});
    rows.push_back({"c. configure, " + nmax + " windows: X server CPU per request",
                    "c_configure_" + nmax + "_xserver_cpu_us", "us", 1});
    rows.push_back({"d. drag (" + std::to_string(o.rate) + " Hz, " + nmax +
                        " windows): manager CPU per motion",
                    "d_drag_cpu_us_per_motion", "us", 1});
    rows.push_back(
        {"d. drag: X server CPU per motion", "d_drag_xserver_cpu_us_per_motion", "us", 1});
    rows.push_back({"d. drag: caught up after the last motion", "d_drag_catchup_ms", "ms", 1});
    rows.push_back({"d. drag: frame moves (of " + std::to_string(o.motions) + " motions)",
                    "d_drag_frame_moves", "", 1});
    rows.push_back({"d. drag, all motions at once: manager CPU per motion",
                    "d_drag_burst_cpu_us_per_motion", "us", 1});
    rows.push_back({"d. drag, all motions at once: X server CPU per motion",
                    "d_drag_burst_xserver_cpu_us_per_motion", "us", 1});
    rows.push_back({"d. drag, all motions at once: caught up after the last motion",
                    "d_drag_burst_catchup_ms", "ms", 1});
    rows.push_back({"e. Control+Alt+l (" + nmax + " windows) to ConfigureNotify, median",
                    "e_keymove_median_us", "us", 1});
    rows.push_back({"e. Control+Alt+l to ConfigureNotify, p99", "e_keymove_p99_us", "us", 1});
    rows.push_back({"f. resident memory idle", "f_rss_idle_kib", "MiB", 1.0 / 1024});
    for (int n : o.counts)
        rows.push_back({"f. resident memory per window (" + std::to_string(n) + " windows)",
                        "f_rss_per_win_" + std::to_string(n) + "_kib", "KiB", 1});

    std::printf("| measure |");
    for (const auto &l : labels)
        std::printf(" %s |", l.c_str());
    std::printf("\n|---|");
    for (size_t i = 0; i < labels.size(); ++i)
        std::printf("---:|");
    std::printf("\n");
    for (const auto &r : rows) {
        std::printf("| %s |", r.label.c_str());
        for (const auto &res : results) {
            auto it = res.find(r.key);
            double v = it == res.end() ? NAN : it->second * r.scale;
            std::string s = fmt(v);
            if (s != "n/a" && !r.unit.empty()) s += " " + r.unit;
            std::printf(" %s |", s.c_str());
        }
        std::printf("\n");
    }
    std::printf("\n");
    for (size_t i = 0; i < labels.size(); ++i) {
        if (!errors[i].empty()) std::printf("%s: %s\n", labels[i].c_str(), errors[i].c_str());
        auto it = results[i].find("reparenting");
        if (it != results[i].end() && it->second == 0)
            std::printf("%s does not reparent: a window counts as framed once WM_STATE is "
                        "NormalState, as released once the manager has answered a later "
                        "request.\n",
                        labels[i].c_str());
    }
    std::printf("\n```\n");
    for (size_t i = 0; i < labels.size(); ++i)
        for (const auto &[k, v] : results[i])
            std::printf("%s.%s=%s\n", labels[i].c_str(), k.c_str(), fmt(v).c_str());
    for (size_t i = 0; i < labels.size(); ++i)
        if (!errors[i].empty()) std::printf("%s.error=%s\n", labels[i].c_str(), errors[i].c_str());
    std::printf("```\n");
}

} // namespace

int main(int argc, char **argv) {
    Options opt = parse_options(argc, argv);
    g_verbose = true; // progress lines go to standard error; -v adds the servers' output
    // Interrupted, this process ends at once; its servers and managers get SIGTERM then, as
    // the harness's processes do when their parent dies.
    struct sigaction alarm_action {};
    alarm_action.sa_handler = on_alarm;
    alarm_action.sa_flags = SA_RESTART;
    sigaction(SIGALRM, &alarm_action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // A first word ending in ':' names the manager in the report; else the command does.
    std::vector<std::string> labels;
    for (auto &cmd : opt.managers) {
        std::string label = cmd[0].substr(cmd[0].rfind('/') + 1);
        if (cmd.size() > 1 && cmd[0].size() > 1 && cmd[0].back() == ':') {
            label = cmd[0].substr(0, cmd[0].size() - 1);
            cmd.erase(cmd.begin());
        }
        std::string base = label;
        for (int k = 2; std::find(labels.begin(), labels.end(), label) != labels.end(); ++k)
            label = base + "-" + std::to_string(k);
        labels.push_back(label);
    }
    // Round-robin, so that a change in the machine's load falls on every manager alike.
    const size_t m = opt.managers.size();
    std::vector<std::vector<Results>> runs(m);
    std::vector<std::string> errors(m);
    for (int round = 0; round < opt.rounds; ++round) {
        for (size_t i = 0; i < m; ++i) {
            if (opt.rounds > 1)
                note("round %d of %d: %s", round + 1, opt.rounds, labels[i].c_str());
            Results r;
            int64_t t0 = now_ns();
            try {
                Session s(opt, opt.managers[i], &r);
                s.run();
            } catch (const std::exception &e) {
                if (errors[i].empty()) errors[i] = e.what();
                std::fprintf(stderr, "wm_bench: %s: %s\n", labels[i].c_str(), e.what());
            }
            r["run_s"] = double(now_ns() - t0) / 1e9;
            runs[i].push_back(std::move(r));
        }
    }
    std::vector<Results> results(m);
    for (size_t i = 0; i < m; ++i) {
        std::map<std::string, std::vector<double>> values;
        for (const Results &r : runs[i])
            for (const auto &[k, v] : r)
                if (!std::isnan(v)) values[k].push_back(v);
        for (auto &[k, v] : values)
            results[i][k] = percentile(v, 0.5);
        results[i]["rounds"] = opt.rounds;
    }
    report(opt, labels, results, errors);
    bool ok = std::all_of(errors.begin(), errors.end(), [](const auto &e) { return e.empty(); });
    return ok ? 0 : 1;
}
