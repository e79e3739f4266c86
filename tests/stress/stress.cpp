// tavrel_stress: a bounded, seeded storm of hostile clients and user input against the window
// manager, run on a private X server, with the manager's invariants checked while it runs and
// after it has been told to stop.
//
//   tavrel_stress --seed S --seconds T [--wm PATH] [--clients K] [--check-every SECONDS]
//                 [--heads 1|2] [--wm-arg ARG]... [--skip GROUP[,GROUP]...] [--keep-going]
//                 [--verbose]
//
// Several client connections, one thread each, create, map, unmap, destroy and reparent windows,
// send configure requests with absurd values, write garbage into the properties the manager
// reads, change shapes, send synthetic map requests naming the root, the manager's frames and
// tabs and windows that are not top-level, send the manager's client messages with garbage, and
// close their connections abruptly. The main thread meanwhile plays the user through XTest
// (every Control+Alt chord, Alt+Tab, drags, resizes, tab drags, root clicks, the wheel, edge
// flips) and, every few seconds, stops everything, makes sure the manager has handled all that
// was sent, and checks:
//   - the manager process is alive;
//   - every top-level window that a live connection has mapped (and not since unmapped) and that
//     is not override-redirect has been reparented out of the root window (it is framed);
//   - every tracked window of a live connection still exists;
//   - every frame (an override-redirect child of the root created by the manager that holds
//     windows) holds exactly one window, and that window is a top-level client window; there
//     are exactly as many tabs (override-redirect, childless manager windows) as frames.
// At the end the manager gets SIGTERM, must exit with status 0 in time, and every window that a
// live connection had mapped must be back on the root window and mapped (the manager's save set
// maps those it had hidden).
//
// Every connection draws from its own std::mt19937_64 seeded from S, so a seed reproduces the
// sequence of operations of each connection (not their interleaving).

// The harness (servers, processes) first: it includes GoogleTest before the X headers.
#include "harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef TAVREL_BINARY
#define TAVREL_BINARY "tavrel"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// With -maxclients 256 the server puts the client's index in the bits above bit 21 of every
// resource id, so the owner of a window can be told from its id.
constexpr int kClientShift = 21;
constexpr int kMaxWindowsPerClient = 14;

// ---------------------------------------------------------------------------------------------
// Options

struct Options {
    uint64_t seed = 1;
    double seconds = 60;
    std::string wm = TAVREL_BINARY;
    int clients = 4;
    double check_every = 3;
    int heads = 1;
    std::vector<std::string> wm_args;
    std::set<std::string> skip; // operation groups left out (for narrowing a fault down)
    bool keep_going = false;    // report violations and go on (crashes still end the run)
    std::string trace;          // every operation of every client, to this file
    bool verbose = false;
};

const char *const kGroups[] = {"reparent", "withdraw", "messages", "synthetic", "shape",
                               "grab",     "close",    "input",    "override"};

void usage() {
    std::fprintf(stderr,
                 "usage: tavrel_stress --seed S --seconds T [--wm PATH] [--clients K]\n"
                 "                     [--check-every SECONDS] [--heads 1|2] [--wm-arg ARG]...\n"
                 "                     [--skip GROUP[,GROUP]...] [--keep-going] [--trace FILE]\n"
                 "                     [--verbose]\n"
                 "groups: reparent withdraw messages synthetic shape grab close input override\n");
}

bool parse_options(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char **out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        const char *v = nullptr;
        char *end = nullptr;
        if (a == "--seed" && value(&v)) {
            o->seed = std::strtoull(v, &end, 0);
        } else if (a == "--seconds" && value(&v)) {
            o->seconds = std::strtod(v, &end);
            if (o->seconds <= 0) return false;
        } else if (a == "--wm" && value(&v)) {
            o->wm = v;
            continue;
        } else if (a == "--clients" && value(&v)) {
            o->clients = static_cast<int>(std::strtol(v, &end, 10));
            if (o->clients < 1 || o->clients > 64) return false;
        } else if (a == "--check-every" && value(&v)) {
            o->check_every = std::strtod(v, &end);
            if (o->check_every <= 0) return false;
        } else if (a == "--heads" && value(&v)) {
            o->heads = static_cast<int>(std::strtol(v, &end, 10));
            if (o->heads != 1 && o->heads != 2) return false;
        } else if (a == "--wm-arg" && value(&v)) {
            o->wm_args.push_back(v);
            continue;
        } else if (a == "--skip" && value(&v)) {
            std::string list = v;
            for (size_t at = 0; at <= list.size();) {
                size_t comma = list.find(',', at);
                if (comma == std::string::npos) comma = list.size();
                std::string g = list.substr(at, comma - at);
                bool known = false;
                for (const char *k : kGroups)
                    known |= g == k;
                if (!known) return false;
                o->skip.insert(g);
                at = comma + 1;
            }
            continue;
        } else if (a == "--trace" && value(&v)) {
            o->trace = v;
            continue;
        } else if (a == "--keep-going") {
            o->keep_going = true;
            continue;
        } else if (a == "--verbose" || a == "-v") {
            o->verbose = true;
            continue;
        } else {
            return false;
        }
        if (end == nullptr || *end != '\0') return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Output

std::mutex g_print_mutex;

void say(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void say(const char *fmt, ...) {
    std::lock_guard<std::mutex> lock(g_print_mutex);
    std::va_list ap;
    va_start(ap, fmt);
    std::fputs("tavrel_stress: ", stdout);
    std::vfprintf(stdout, fmt, ap);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    va_end(ap);
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
    std::va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    std::vsnprintf(out.data(), out.size() + 1, fmt, again);
    va_end(again);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Child processes: the X server and the manager, run by the harness

// An exit status as harness::Process::wait_exit gives it (128 + N: killed by signal N).
std::string describe_exit(int status) {
    if (status == harness::Process::kStillRunning) return "is still running";
    if (status < 128) return format("exited with status %d", status);
    return format("was killed by signal %d (%s)", status - 128, strsignal(status - 128));
}

// ---------------------------------------------------------------------------------------------
// X connections

int ignore_x_error(Display *, XErrorEvent *) {
    return 0;
}
int ignore_io_error(Display *) {
    return 0;
}
// Called by the library when a connection breaks (the manager's close key, the client closing
// its socket, the server killing it). The library locks the display for good before calling it,
// expecting the process to exit; the lock is owned by whichever thread noticed, so another thread
// closing the display later would wait for ever: it is released here.
void mark_connection_dead(Display *d, void *flag) {
    static_cast<std::atomic<bool> *>(flag)->store(true);
    XUnlockDisplay(d);
}

// The extension libraries keep one process-wide list of displays that is not safe against
// concurrent use from several threads: every call into them (SHAPE, XTEST), and every opening
// and closing of a display, which adds to and removes from those lists, holds this lock.
std::mutex g_ext_mutex;
using ExtLock = std::lock_guard<std::mutex>;

// The client indices of every connection the driver has opened: windows whose id carries one of
// them are the driver's; every other child of the root belongs to the manager.
class DriverClients {
  public:
    void add(int index) {
        std::lock_guard<std::mutex> lock(m_);
        set_.insert(index);
    }
    bool owns(XID id) {
        std::lock_guard<std::mutex> lock(m_);
        return set_.count(static_cast<int>(id >> kClientShift)) != 0;
    }

  private:
    std::mutex m_;
    std::set<int> set_;
};
DriverClients g_driver;

struct Connection {
    Display *dpy = nullptr;
    std::atomic<bool> dead{false};
    int index = -1;

    Connection() = default;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection() { close(); }

    bool open(const std::string &name) {
        ExtLock lock(g_ext_mutex);
        dpy = XOpenDisplay(name.c_str());
        if (!dpy) return false;
        XSetIOErrorExitHandler(dpy, mark_connection_dead, &dead);
        // Set the extensions up while the connection is surely alive: the first use of an
        // extension also sets up the generic event extension with a round trip, and when that
        // round trip fails the library frees a record it keeps using (and frees again when the
        // display is closed).
        int a = 0, b = 0, c = 0, e = 0;
        XShapeQueryExtension(dpy, &a, &b);
        XTestQueryExtension(dpy, &a, &b, &c, &e);
        index = static_cast<int>(XAllocID(dpy) >> kClientShift);
        g_driver.add(index);
        return true;
    }
    void close() {
        if (!dpy) return;
        ExtLock lock(g_ext_mutex);
        XCloseDisplay(dpy);
        dpy = nullptr;
    }
    bool alive() const { return dpy != nullptr && !dead.load(); }
    // A round trip to the server; false when the connection is (now) known to be gone.
    bool sync() {
        if (!alive()) return false;
        XSync(dpy, False);
        return alive();
    }
};

// Waits for input on the connection until the deadline (true when something arrived).
bool wait_readable(Connection &c, Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || !c.alive()) return false;
    pollfd p{ConnectionNumber(c.dpy), POLLIN, 0};
    return poll(&p, 1, static_cast<int>(std::min<long long>(left, 500))) > 0;
}

// A round trip through the manager: a configure request of an unmapped, unmanaged top-level
// window is redirected to the manager, which carries it out; the ConfigureNotify that follows
// shows that the manager has handled every event queued for it before the request.
class ManagerSync {
  public:
    void create(Connection &c) {
        XSetWindowAttributes a{};
        a.event_mask = StructureNotifyMask;
        win_ = XCreateWindow(c.dpy, DefaultRootWindow(c.dpy), -40, -40, 10, 10, 0, CopyFromParent,
                             InputOutput, CopyFromParent, CWEventMask, &a);
        XSync(c.dpy, False);
    }
    Window window() const { return win_; }

    // other_event gets every other event read meanwhile; nudge is called after each second of
    // waiting (the user's side uses it to end a drag whose button release the manager missed).
    template <class F, class N>
    bool run(Connection &c, Clock::duration timeout, F &&other_event, N &&nudge) {
        if (!c.alive()) return false;
        width_ = width_ >= 90 ? 11 : width_ + 1;
        XWindowChanges ch{};
        ch.width = width_;
        XConfigureWindow(c.dpy, win_, CWWidth, &ch);
        XFlush(c.dpy);
        auto deadline = Clock::now() + timeout;
        auto next_nudge = Clock::now() + seconds(1);
        for (;;) {
            while (c.alive() && XPending(c.dpy) > 0) {
                XEvent ev;
                XNextEvent(c.dpy, &ev);
                if (ev.type == ConfigureNotify && ev.xconfigure.window == win_ &&
                    ev.xconfigure.width == width_)
                    return true;
                other_event(ev);
            }
            if (!c.alive() || Clock::now() >= deadline) return false;
            if (Clock::now() >= next_nudge) {
                nudge();
                next_nudge = Clock::now() + seconds(1);
            }
            wait_readable(c, std::min(deadline, next_nudge));
        }
    }
    template <class F> bool run(Connection &c, Clock::duration timeout, F &&other_event) {
        return run(c, timeout, other_event, [] {});
    }
    bool run(Connection &c, Clock::duration timeout) {
        return run(c, timeout, [](const XEvent &) {});
    }

  private:
    Window win_ = 0;
    int width_ = 10;
};

// ---------------------------------------------------------------------------------------------
// Random values

class Rng {
  public:
    explicit Rng(uint64_t seed) : g_(seed) {}
    uint64_t next() { return g_(); }
    int range(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(g_); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(g_) < p; }
    template <class T> const T &pick(const std::vector<T> &v) {
        return v[static_cast<size_t>(range(0, static_cast<int>(v.size()) - 1))];
    }
    // Values that break arithmetic: zero, negatives, the edges of 16 and 32 bits.
    long nasty() {
        static const long values[] = {
            0,       1,       -1,          2,           3,           7,      15,    16,
            100,     640,     4096,        32767,       32768,       -32768, 65535, 65536,
            INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1, 0x7fff0000L, -100000};
        int which = range(0, 25);
        if (which < 22) return values[which];
        if (which < 24) return range(-3000, 3000);
        return static_cast<long>(static_cast<int32_t>(next()));
    }
    std::string bytes(size_t n) {
        std::string s(n, '\0');
        for (auto &c : s)
            c = static_cast<char>(next() & 0xff);
        return s;
    }

  private:
    std::mt19937_64 g_;
};

uint64_t mix_seed(uint64_t seed, uint64_t a, uint64_t b) {
    // splitmix64 over the seed and the connection's place
    uint64_t z = seed + 0x9e3779b97f4a7c15ULL * (a + 1) + 0xbf58476d1ce4e5b9ULL * (b + 1);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// ---------------------------------------------------------------------------------------------
// Shared state of a run

struct Violation {
    std::string invariant;
    std::string detail;
    Window window = 0;
};

struct Shared {
    Options opt;
    std::string display;
    int screen_width = 0;
    int screen_height = 0;

    std::atomic<uint64_t> operations{0};
    std::atomic<uint64_t> input_operations{0};
    std::atomic<uint64_t> reconnects{0};
    std::atomic<uint64_t> kills_seen{0};
    std::atomic<uint64_t> slow_syncs{0};

    // Pausing the hostile clients: they park between operations.
    std::mutex m;
    std::condition_variable cv;
    std::atomic<bool> pause{false};
    bool stop = false;
    int parked = 0;

    // --trace: every operation, in the order the clients sent them.
    std::FILE *trace = nullptr;
    std::mutex trace_m;
    void trace_line(const std::string &who, const std::string &line) {
        if (!trace) return;
        std::lock_guard<std::mutex> lock(trace_m);
        std::fprintf(trace, "%s %s\n", who.c_str(), line.c_str());
    }

    // Heartbeat of the main thread, for the watchdog.
    std::atomic<int64_t> heartbeat{0};
    std::atomic<bool> watchdog_fired{false};
};

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

int64_t now_ms() {
    return std::chrono::duration_cast<milliseconds>(Clock::now().time_since_epoch()).count();
}

// The atoms every connection needs.
struct Atoms {
    Atom wm_protocols, wm_delete, wm_take_focus, wm_change_state, utf8, compound, net_wm_name,
        net_wm_state, net_fullscreen, net_hidden, net_max_vert, net_active, net_current_desktop,
        net_number_of_desktops, net_wm_desktop, net_close, net_frame_extents_req, net_type,
        net_type_dock, net_type_normal, net_type_dialog, net_ping, net_check, wm_state;

    void intern(Display *d) {
        const char *names[] = {"WM_PROTOCOLS",
                               "WM_DELETE_WINDOW",
                               "WM_TAKE_FOCUS",
                               "WM_CHANGE_STATE",
                               "UTF8_STRING",
                               "COMPOUND_TEXT",
                               "_NET_WM_NAME",
                               "_NET_WM_STATE",
                               "_NET_WM_STATE_FULLSCREEN",
                               "_NET_WM_STATE_HIDDEN",
                               "_NET_WM_STATE_MAXIMIZED_VERT",
                               "_NET_ACTIVE_WINDOW",
                               "_NET_CURRENT_DESKTOP",
                               "_NET_NUMBER_OF_DESKTOPS",
                               "_NET_WM_DESKTOP",
                               "_NET_CLOSE_WINDOW",
                               "_NET_REQUEST_FRAME_EXTENTS",
                               "_NET_WM_WINDOW_TYPE",
                               "_NET_WM_WINDOW_TYPE_DOCK",
                               "_NET_WM_WINDOW_TYPE_NORMAL",
                               "_NET_WM_WINDOW_TYPE_DIALOG",
                               "_NET_WM_PING",
                               "_NET_SUPPORTING_WM_CHECK",
                               "WM_STATE"};
        Atom out[24] = {};
        XInternAtoms(d, const_cast<char **>(names), 24, False, out);
        Atom *fields[] = {&wm_protocols,
                          &wm_delete,
                          &wm_take_focus,
                          &wm_change_state,
                          &utf8,
                          &compound,
                          &net_wm_name,
                          &net_wm_state,
                          &net_fullscreen,
                          &net_hidden,
                          &net_max_vert,
                          &net_active,
                          &net_current_desktop,
                          &net_number_of_desktops,
                          &net_wm_desktop,
                          &net_close,
                          &net_frame_extents_req,
                          &net_type,
                          &net_type_dock,
                          &net_type_normal,
                          &net_type_dialog,
                          &net_ping,
                          &net_check,
                          &wm_state};
        for (int i = 0; i < 24; ++i)
            *fields[i] = out[i];
    }
};

// The manager's windows among the root's children: everything not created by the driver.
std::vector<Window> manager_root_children(Display *d) {
    std::vector<Window> out;
    Window root_ret = 0, parent = 0, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root_ret, &parent, &kids, &n)) return out;
    for (unsigned i = 0; i < n; ++i)
        if (!g_driver.owns(kids[i])) out.push_back(kids[i]);
    if (kids) XFree(kids);
    return out;
}

// ---------------------------------------------------------------------------------------------
// A hostile client: one connection, one thread

// What the client believes about one of its windows.
struct TrackedWindow {
    Window id = 0;
    Window parent = 0; // the root or one of the client's own windows
    bool mapped = false;
    bool override_redirect = false;
    // After a reparent, or a change of override-redirect while mapped, the window may end up
    // legitimately mapped and unframed or unmapped; it is not checked until the client has
    // unmapped and mapped it again.
    bool uncertain = false;
    bool unmapped_since_uncertain = false;
    // Given a dock window type at some time: the manager may leave it unframed.
    bool dock = false;
    uint64_t last_map_op = 0;
    std::deque<std::string> history;
};

class Hostile {
  public:
    Hostile(Shared &sh, int slot) : sh_(sh), slot_(slot), rng_(mix_seed(sh.opt.seed, slot, 0)) {}

    void thread_main() {
        connect();
        while (true) {
            if (sh_.pause.load()) {
                if (!park()) break;
                continue;
            }
            if (!conn_ || !conn_->alive()) {
                note_death();
                connect();
                if (!conn_->alive()) continue;
            }
            step();
            drain_events();
        }
    }

    // Read by the checker while the thread is parked.
    Connection *connection() { return conn_.get(); }
    const std::vector<TrackedWindow> &windows() const { return wins_; }
    int slot() const { return slot_; }
    int generation() const { return generation_; }
    std::string recent_ops() const {
        std::string s;
        for (const auto &l : log_)
            s += "      " + l + "\n";
        return s;
    }
    const TrackedWindow *find(Window w) const {
        for (const auto &t : wins_)
            if (t.id == w) return &t;
        return nullptr;
    }
    // Also among the windows the client destroyed lately.
    const TrackedWindow *find_any(Window w) const {
        if (const TrackedWindow *t = find(w)) return t;
        for (const auto &t : graveyard_)
            if (t.id == w) return &t;
        return nullptr;
    }

  private:
    // ---- lifecycle

    void connect() {
        if (conn_) conn_->close();
        conn_ = std::make_unique<Connection>();
        wins_.clear();
        graveyard_.clear();
        ++generation_;
        rng_ = Rng(mix_seed(sh_.opt.seed, static_cast<uint64_t>(slot_),
                            static_cast<uint64_t>(generation_)));
        if (!conn_->open(sh_.display)) return;
        d_ = conn_->dpy;
        root_ = DefaultRootWindow(d_);
        atoms_.intern(d_);
        sync_.create(*conn_);
        ops_until_sync_ = rng_.range(10, 40);
        snapshot_age_ = 1000;
        log(format("connected (generation %d)", generation_));
    }

    void note_death() {
        if (conn_ && conn_->dpy && conn_->dead.load()) {
            sh_.kills_seen++;
            log("connection lost");
        }
        sh_.reconnects++;
    }

    // Parks the thread until the checker lets it go; false when the run is over.
    bool park() {
        if (conn_) conn_->sync();
        std::unique_lock<std::mutex> lock(sh_.m);
        ++sh_.parked;
        sh_.cv.notify_all();
        sh_.cv.wait(lock, [&] { return !sh_.pause.load() || sh_.stop; });
        --sh_.parked;
        return !sh_.stop;
    }

    // Records an operation in the client's recent history and in the history of every tracked
    // window the text names.
    void log(const std::string &text) {
        std::string line = format("#%llu ", static_cast<unsigned long long>(ops_)) + text;
        sh_.trace_line(format("client %d.%d", slot_, generation_), line);
        log_.push_back(line);
        if (log_.size() > 14) log_.pop_front();
        for (size_t at = text.find("0x"); at != std::string::npos; at = text.find("0x", at + 2)) {
            Window w = std::strtoul(text.c_str() + at + 2, nullptr, 16);
            if (TrackedWindow *t = get(w)) {
                t->history.push_back(line);
                if (t->history.size() > 12) t->history.pop_front();
            }
        }
    }

    // ---- the client's windows

    TrackedWindow *get(Window w) {
        for (auto &t : wins_)
            if (t.id == w) return &t;
        return nullptr;
    }
    bool is_descendant(Window w, Window ancestor) {
        for (int guard = 0; guard < 64; ++guard) {
            TrackedWindow *t = get(w);
            if (!t) return false;
            if (t->parent == ancestor) return true;
            w = t->parent;
        }
        return false;
    }
    void forget_subtree(Window w, bool include_self) {
        std::vector<Window> gone;
        for (auto &t : wins_)
            if ((include_self && t.id == w) || is_descendant(t.id, w)) gone.push_back(t.id);
        for (auto &t : wins_)
            if (std::find(gone.begin(), gone.end(), t.id) != gone.end()) {
                graveyard_.push_back(t);
                if (graveyard_.size() > 64) graveyard_.pop_front();
            }
        wins_.erase(std::remove_if(wins_.begin(), wins_.end(),
                                   [&](const TrackedWindow &t) {
                                       return std::find(gone.begin(), gone.end(), t.id) !=
                                              gone.end();
                                   }),
                    wins_.end());
    }
    TrackedWindow *any_window() {
        if (wins_.empty()) return nullptr;
        return &wins_[static_cast<size_t>(rng_.range(0, static_cast<int>(wins_.size()) - 1))];
    }
    // A window chosen with a preference: mapped (1), unmapped (0), any (-1).
    TrackedWindow *window_where(int mapped) {
        std::vector<TrackedWindow *> c;
        for (auto &t : wins_)
            if (mapped < 0 || t.mapped == (mapped == 1)) c.push_back(&t);
        if (c.empty()) return any_window();
        return c[static_cast<size_t>(rng_.range(0, static_cast<int>(c.size()) - 1))];
    }
    Window own_or_zero() {
        TrackedWindow *t = any_window();
        return t ? t->id : 0;
    }
    // The manager's windows (frames, tabs and the like), refreshed now and then.
    const std::vector<Window> &manager_windows() {
        if (++snapshot_age_ > 40) {
            snapshot_age_ = 0;
            manager_windows_ = manager_root_children(d_);
        }
        return manager_windows_;
    }
    Window manager_window() {
        const auto &m = manager_windows();
        return m.empty() ? root_ : rng_.pick(m);
    }
    // An id that names nothing the driver or the manager is likely to hold.
    Window bogus_window() {
        return (static_cast<Window>(rng_.range(150, 255)) << kClientShift) |
               static_cast<Window>(rng_.range(0, 0xffff));
    }
    Window some_window() {
        switch (rng_.range(0, 5)) {
        case 0:
            return root_;
        case 1:
        case 2:
            return manager_window();
        case 3:
            return bogus_window();
        default:
            return own_or_zero() ? own_or_zero() : root_;
        }
    }

    // ---- the operations

    bool skipped(const char *group) const { return sh_.opt.skip.count(group) != 0; }

    void step() {
        ++ops_;
        sh_.operations++;
        int r = rng_.range(0, 999);
        // A left-out group hands its share to plain mapping.
        if ((r >= 425 && r < 455 && skipped("reparent")) ||
            (r >= 745 && r < 785 && skipped("shape")) ||
            (r >= 785 && r < 795 && skipped("override")) ||
            (r >= 795 && r < 865 && skipped("synthetic")) ||
            (r >= 865 && r < 930 && skipped("messages")) ||
            (r >= 955 && r < 962 && skipped("grab")) || (r >= 962 && r < 963 && skipped("close")))
            r = 999;
        if (r < 110) {
            if (static_cast<int>(wins_.size()) >= kMaxWindowsPerClient)
                destroy_window();
            else
                create_window();
        } else if (r < 250) {
            map_window();
        } else if (r < 330) {
            unmap_window();
        } else if (r < 385) {
            destroy_window();
        } else if (r < 425) {
            map_and_destroy();
        } else if (r < 440) {
            reparent_window();
        } else if (r < 448) {
            reparent_excursion();
        } else if (r < 455) {
            nest_into_managed();
        } else if (r < 565) {
            configure_window();
        } else if (r < 745) {
            garbage_property();
        } else if (r < 785) {
            change_shape();
        } else if (r < 795) {
            toggle_override_redirect();
        } else if (r < 835) {
            synthetic_map_request();
        } else if (r < 850) {
            synthetic_unmap();
        } else if (r < 865) {
            synthetic_configure_request();
        } else if (r < 930) {
            client_message();
        } else if (r < 955) {
            restack_or_focus();
        } else if (r < 962) {
            grab_server_briefly();
        } else if (r < 963) {
            close_abruptly();
            return;
        } else {
            map_window();
        }
        pace();
    }

    void pace() {
        if (!conn_->alive()) return;
        if (rng_.chance(0.3)) XFlush(d_);
        if (rng_.chance(0.08)) XSync(d_, False);
        if (--ops_until_sync_ <= 0) {
            ops_until_sync_ = rng_.range(10, 40);
            if (!sync_.run(*conn_, seconds(20), [&](const XEvent &ev) { handle_event(ev); }))
                if (conn_->alive()) sh_.slow_syncs++;
        }
    }

    void drain_events() {
        while (conn_->alive() && XPending(d_) > 0) {
            XEvent ev;
            XNextEvent(d_, &ev);
            handle_event(ev);
        }
    }

    void handle_event(const XEvent &ev) {
        if (ev.type != ClientMessage) return;
        const XClientMessageEvent &m = ev.xclient;
        if (m.message_type != atoms_.wm_protocols) return;
        if (static_cast<Atom>(m.data.l[0]) == atoms_.wm_delete && get(m.window) &&
            rng_.chance(0.6)) {
            log(format("WM_DELETE_WINDOW for 0x%lx: destroying it", m.window));
            XDestroyWindow(d_, m.window);
            forget_subtree(m.window, true);
        }
    }

    // Geometry the server itself carries out stays within +-16000: Xvfb crashes (in fbBlt, from
    // ConfigureWindow) moving windows whose edges pass the 16-bit limits, and a dead server
    // tests nothing. Absurd values still reach the manager through the size hints and through
    // sizes of 0.
    static int fit(long v) { return static_cast<int>(std::clamp(v, -16000L, 16000L)); }
    static int fit_size(long v) { return static_cast<int>(std::clamp(v, 0L, 16000L)); }

    int coord(bool horizontal) {
        int extent = horizontal ? sh_.screen_width : sh_.screen_height;
        switch (rng_.range(0, 9)) {
        case 0:
        case 1:
            return 0;
        case 2:
            return fit(rng_.nasty());
        case 3:
            return -rng_.range(1, 300);
        case 4:
            return extent + rng_.range(-20, 400);
        default:
            return rng_.range(0, extent - 50);
        }
    }
    unsigned size() {
        switch (rng_.range(0, 9)) {
        case 0:
            return 1;
        case 1:
            return static_cast<unsigned>(rng_.range(2, 15));
        case 2:
            return static_cast<unsigned>(rng_.range(1200, 5000));
        case 3:
            return 16000;
        default:
            return static_cast<unsigned>(rng_.range(20, 500));
        }
    }

    void create_window() {
        Window parent = root_;
        if (!wins_.empty() && rng_.chance(0.2)) parent = any_window()->id;
        XSetWindowAttributes a{};
        a.background_pixel = rng_.next() & 0xffffff;
        a.override_redirect = rng_.chance(parent == root_ ? 0.1 : 0.05) ? True : False;
        static const long masks[] = {0,
                                     StructureNotifyMask,
                                     StructureNotifyMask | PropertyChangeMask,
                                     EnterWindowMask | LeaveWindowMask | FocusChangeMask,
                                     ButtonPressMask | ButtonReleaseMask,
                                     ExposureMask | KeyPressMask};
        a.event_mask = masks[rng_.chance(0.9) ? rng_.range(0, 3) : rng_.range(4, 5)];
        int x = coord(true), y = coord(false);
        unsigned w = size(), h = size();
        Window win = XCreateWindow(d_, parent, x, y, w, h, static_cast<unsigned>(rng_.range(0, 3)),
                                   CopyFromParent, InputOutput, CopyFromParent,
                                   CWBackPixel | CWOverrideRedirect | CWEventMask, &a);
        TrackedWindow t;
        t.id = win;
        t.parent = parent;
        t.override_redirect = a.override_redirect;
        wins_.push_back(t);
        log(format("create 0x%lx in 0x%lx at %d,%d %ux%u%s", win, parent, x, y, w, h,
                   a.override_redirect ? " override-redirect" : ""));
        if (rng_.chance(0.5)) {
            int n = rng_.range(1, 4);
            for (int i = 0; i < n; ++i)
                garbage_property_on(win);
        }
        if (rng_.chance(0.35)) do_map(get(win), 0);
    }

    void do_map(TrackedWindow *t, int how) {
        if (!t) return;
        if (how == 0)
            XMapWindow(d_, t->id);
        else
            XMapRaised(d_, t->id);
        if (!t->mapped) {
            t->mapped = true;
            t->last_map_op = ops_;
            // Only on the root does unmapping and mapping again settle the state: a window the
            // client moved into one of its own may have been put back on the root by the
            // manager releasing it, and be managed again from there.
            if (t->uncertain && t->unmapped_since_uncertain && t->parent == root_)
                t->uncertain = false;
        }
        log(format("map 0x%lx%s", t->id, how ? " raised" : ""));
    }

    void do_unmap(TrackedWindow *t, bool withdraw) {
        if (!t) return;
        if (withdraw)
            XWithdrawWindow(d_, t->id, DefaultScreen(d_));
        else
            XUnmapWindow(d_, t->id);
        t->mapped = false;
        if (t->uncertain) t->unmapped_since_uncertain = true;
        log(format("%s 0x%lx", withdraw ? "withdraw" : "unmap", t->id));
    }

    void map_window() {
        TrackedWindow *t = window_where(rng_.chance(0.75) ? 0 : -1);
        if (!t) return create_window();
        if (rng_.chance(0.08)) {
            // map every child of one of the client's windows
            XMapSubwindows(d_, t->id);
            for (auto &c : wins_)
                if (c.parent == t->id && !c.mapped) {
                    c.mapped = true;
                    c.last_map_op = ops_;
                }
            log(format("map subwindows of 0x%lx", t->id));
            return;
        }
        do_map(t, rng_.range(0, 1));
        if (rng_.chance(0.15)) {
            // unmapped and mapped again at once: the manager sees the pair back to back
            do_unmap(t, false);
            do_map(t, 0);
        }
    }

    void unmap_window() {
        TrackedWindow *t = window_where(rng_.chance(0.8) ? 1 : -1);
        if (!t) return;
        if (rng_.chance(0.05)) {
            XUnmapSubwindows(d_, t->id);
            for (auto &c : wins_)
                if (c.parent == t->id) c.mapped = false;
            log(format("unmap subwindows of 0x%lx", t->id));
            return;
        }
        do_unmap(t, t->parent == root_ && !skipped("withdraw") && rng_.chance(0.3));
    }

    void destroy(Window w) {
        XDestroyWindow(d_, w);
        forget_subtree(w, true);
        log(format("destroy 0x%lx", w));
    }

    void destroy_window() {
        TrackedWindow *t = any_window();
        if (!t) return;
        if (rng_.chance(0.08)) {
            Window w = t->id;
            XDestroySubwindows(d_, w);
            forget_subtree(w, false);
            log(format("destroy subwindows of 0x%lx", w));
            return;
        }
        destroy(t->id);
    }

    // Destruction at some point of being taken under management or of being released: the
    // window goes while the manager is somewhere between the map (or unmap) and its reaction.
    void map_and_destroy() {
        TrackedWindow *t = window_where(0);
        if (!t || t->parent != root_) {
            create_window();
            t = &wins_.back();
        }
        Window w = t->id;
        bool release = t->mapped && rng_.chance(0.4);
        if (release)
            do_unmap(t, !skipped("withdraw") && rng_.chance(0.3));
        else
            do_map(t, 0);
        int delay = rng_.range(0, 4);
        if (delay > 0) XFlush(d_);
        for (int i = 1; i < delay; ++i)
            XSync(d_, False);
        if (rng_.chance(0.2)) {
            // or leave through the parent
            Window p = get(w) ? get(w)->parent : root_;
            if (p != root_) {
                destroy(p);
                return;
            }
        }
        if (get(w)) destroy(w);
    }

    void reparent_window() {
        TrackedWindow *t = any_window();
        if (!t) return;
        Window w = t->id;
        Window parent = root_;
        if (rng_.chance(0.5)) {
            std::vector<Window> c;
            for (auto &o : wins_)
                if (o.id != w && !is_descendant(o.id, w)) c.push_back(o.id);
            if (!c.empty()) parent = rng_.pick(c);
        }
        int x = coord(true), y = coord(false);
        XReparentWindow(d_, w, parent, x, y);
        t = get(w);
        t->parent = parent;
        t->uncertain = true;
        t->unmapped_since_uncertain = false;
        log(format("reparent 0x%lx into 0x%lx at %d,%d", w, parent, x, y));
    }

    // The client's top-level windows it has mapped, override-redirect ones left out: framed,
    // as far as the client knows.
    std::vector<Window> mapped_top_level() {
        std::vector<Window> c;
        for (auto &t : wins_)
            if (t.parent == root_ && t.mapped && !t.override_redirect) c.push_back(t.id);
        return c;
    }

    // A mapped top-level window goes into another of the client's windows and back onto the
    // root in one burst, that window sometimes unmapped in between: the manager may read of
    // the move out of the frame only once the window is back on the root, where its automatic
    // map reaches the manager as a map request.
    void reparent_excursion() {
        std::vector<Window> c = mapped_top_level();
        if (c.empty()) return map_window();
        Window w = rng_.pick(c);
        std::vector<Window> hosts;
        for (auto &o : wins_)
            if (o.id != w && !is_descendant(o.id, w)) hosts.push_back(o.id);
        if (hosts.empty()) return;
        Window host = rng_.pick(hosts);
        XReparentWindow(d_, w, host, rng_.range(-20, 200), rng_.range(-20, 200));
        log(format("reparent the framed 0x%lx into 0x%lx", w, host));
        if (rng_.chance(0.5)) do_unmap(get(host), false);
        if (rng_.chance(0.3)) XFlush(d_);
        int x = coord(true), y = coord(false);
        XReparentWindow(d_, w, root_, x, y);
        TrackedWindow *t = get(w);
        t->uncertain = true;
        t->unmapped_since_uncertain = false;
        log(format("reparent 0x%lx back onto the root at %d,%d", w, x, y));
    }

    // Another window of the client goes into one of its framed top-level windows, which it
    // must not take out of the frame.
    void nest_into_managed() {
        std::vector<Window> hosts = mapped_top_level();
        if (hosts.empty()) return map_window();
        Window host = rng_.pick(hosts);
        std::vector<Window> guests;
        for (auto &o : wins_)
            if (o.id != host && !is_descendant(host, o.id)) guests.push_back(o.id);
        if (guests.empty()) return;
        Window w = rng_.pick(guests);
        XReparentWindow(d_, w, host, rng_.range(-20, 200), rng_.range(-20, 200));
        TrackedWindow *t = get(w);
        t->parent = host;
        t->uncertain = true;
        t->unmapped_since_uncertain = false;
        log(format("reparent 0x%lx into the framed 0x%lx", w, host));
    }

    void configure_window() {
        TrackedWindow *t = any_window();
        if (!t) return create_window();
        XWindowChanges ch{};
        unsigned mask = static_cast<unsigned>(rng_.range(0, 127));
        ch.x = rng_.chance(0.5) ? coord(true) : fit(rng_.nasty());
        ch.y = rng_.chance(0.5) ? coord(false) : fit(rng_.nasty());
        ch.width = rng_.chance(0.6) ? static_cast<int>(size()) : fit_size(rng_.nasty());
        ch.height = rng_.chance(0.6) ? static_cast<int>(size()) : fit_size(rng_.nasty());
        ch.border_width = rng_.chance(0.8) ? rng_.range(0, 5) : rng_.range(0, 100);
        ch.sibling = some_window();
        ch.stack_mode = rng_.chance(0.95) ? rng_.range(0, 4) : rng_.range(5, 255);
        if (rng_.chance(0.2)) {
            // full-screen size at the origin
            ch.x = 0;
            ch.y = 0;
            ch.width = sh_.screen_width + rng_.range(0, 2);
            ch.height = sh_.screen_height + rng_.range(0, 2);
            mask |= CWX | CWY | CWWidth | CWHeight;
        }
        XConfigureWindow(d_, t->id, mask, &ch);
        log(format("configure 0x%lx mask 0x%x %d,%d %dx%d bw %d sibling 0x%lx stack %d", t->id,
                   mask, ch.x, ch.y, ch.width, ch.height, ch.border_width, ch.sibling,
                   ch.stack_mode));
    }

    void put(Window w, Atom prop, Atom type, int fmt, const std::string &raw, int mode) {
        int unit = fmt == 8 ? 1 : fmt == 16 ? 2 : 4;
        int n = static_cast<int>(raw.size()) / unit;
        if (fmt == 32) {
            std::vector<long> v(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                int32_t x;
                std::memcpy(&x, raw.data() + i * 4, 4);
                v[static_cast<size_t>(i)] = x;
            }
            change32(w, prop, type, mode, v.data(), n);
        } else {
            XChangeProperty(d_, w, prop, type, fmt, mode,
                            reinterpret_cast<const unsigned char *>(raw.data()), n);
        }
    }
    void put_longs(Window w, Atom prop, Atom type, const std::vector<long> &v) {
        change32(w, prop, type, PropModeReplace, v.data(), static_cast<int>(v.size()));
    }
    // The library copies 32-bit data into its output buffer one bufferful at a time, and on a
    // connection that has just died it never empties the buffer again and loops for ever: the
    // buffer is emptied first and the data kept below one bufferful.
    void change32(Window w, Atom prop, Atom type, int mode, const long *data, int n) {
        XFlush(d_);
        if (!conn_->alive()) return;
        XChangeProperty(d_, w, prop, type, 32, mode, reinterpret_cast<const unsigned char *>(data),
                        std::min(n, 3000));
    }
    int wrong_format() { return rng_.chance(0.5) ? 8 : 16; }
    Atom wrong_type() {
        static const Atom types[] = {XA_STRING, XA_INTEGER, XA_CARDINAL, XA_ATOM, XA_WINDOW};
        return rng_.chance(0.8) ? types[rng_.range(0, 4)] : static_cast<Atom>(rng_.nasty());
    }

    void garbage_property() {
        TrackedWindow *t = any_window();
        if (!t) return create_window();
        garbage_property_on(t->id);
    }

    void garbage_property_on(Window w) {
        int what = rng_.range(0, 13);
        int mode = rng_.chance(0.9) ? PropModeReplace : rng_.range(0, 2);
        switch (what) {
        case 0:
        case 1: { // WM_NAME: random bytes up to 64 KiB, empty, or odd types and formats
            size_t len = 0;
            int k = rng_.range(0, 9);
            if (k == 0)
                len = 0;
            else if (k < 6)
                len = static_cast<size_t>(rng_.range(1, 40));
            else if (k < 9)
                len = static_cast<size_t>(rng_.range(41, 4000));
            else
                len = static_cast<size_t>(rng_.range(4001, 65536));
            Atom type = rng_.chance(0.6)   ? XA_STRING
                        : rng_.chance(0.5) ? atoms_.utf8
                        : rng_.chance(0.5) ? atoms_.compound
                                           : wrong_type();
            int fmt = rng_.chance(0.9) ? 8 : wrong_format() == 8 ? 32 : 16;
            put(w, XA_WM_NAME, type, fmt, rng_.bytes(len), mode);
            log(format("WM_NAME of 0x%lx: %zu bytes, format %d", w, len, fmt));
            break;
        }
        case 2: { // names deleted or empty
            Atom props[] = {XA_WM_NAME, atoms_.net_wm_name, XA_WM_ICON_NAME};
            Atom p = props[rng_.range(0, 2)];
            if (rng_.chance(0.5))
                XDeleteProperty(d_, w, p);
            else
                XChangeProperty(d_, w, p, XA_STRING, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char *>(""), 0);
            log(format("name %lu of 0x%lx deleted or emptied", p, w));
            break;
        }
        case 3: { // _NET_WM_NAME: invalid UTF-8 and long text
            size_t len =
                static_cast<size_t>(rng_.chance(0.8) ? rng_.range(0, 60) : rng_.range(61, 20000));
            put(w, atoms_.net_wm_name, rng_.chance(0.8) ? atoms_.utf8 : wrong_type(),
                rng_.chance(0.9) ? 8 : 32, rng_.bytes(len), mode);
            log(format("_NET_WM_NAME of 0x%lx: %zu bytes", w, len));
            break;
        }
        case 4:
        case 5:
        case 6: { // WM_NORMAL_HINTS: every flag combination, absurd values
            std::vector<long> v(18);
            int k = rng_.range(0, 3);
            v[0] = k == 0   ? 0x3ff
                   : k == 1 ? static_cast<long>(rng_.next() & 0x3ff)
                            : static_cast<long>(static_cast<int32_t>(rng_.next()));
            for (size_t i = 1; i < v.size(); ++i)
                v[i] = rng_.nasty();
            if (rng_.chance(0.3)) { // min above max
                v[5] = 500 + rng_.range(0, 100);
                v[6] = 400 + rng_.range(0, 100);
                v[7] = rng_.range(1, 100);
                v[8] = rng_.range(1, 100);
            }
            if (rng_.chance(0.15)) v.resize(static_cast<size_t>(rng_.range(0, 17)));
            if (rng_.chance(0.1)) {
                put(w, XA_WM_NORMAL_HINTS, wrong_type(), wrong_format(),
                    rng_.bytes(static_cast<size_t>(rng_.range(0, 80))), mode);
                log(format("WM_NORMAL_HINTS of 0x%lx: wrong format", w));
            } else {
                put_longs(w, XA_WM_NORMAL_HINTS, rng_.chance(0.9) ? XA_WM_SIZE_HINTS : wrong_type(),
                          v);
                log(format("WM_NORMAL_HINTS of 0x%lx: flags 0x%lx, %zu items", w,
                           v.empty() ? 0 : v[0], v.size()));
            }
            break;
        }
        case 7: { // WM_HINTS
            std::vector<long> v(9);
            v[0] = rng_.chance(0.5) ? static_cast<long>(rng_.next() & 0x1ff) : rng_.nasty();
            v[1] = rng_.range(-1, 2);
            v[2] = rng_.chance(0.5) ? IconicState : rng_.nasty();
            for (size_t i = 3; i < 9; ++i)
                v[i] = rng_.chance(0.5) ? rng_.nasty() : own_or_zero();
            if (rng_.chance(0.15)) v.resize(static_cast<size_t>(rng_.range(0, 8)));
            put_longs(w, XA_WM_HINTS, rng_.chance(0.9) ? XA_WM_HINTS : wrong_type(), v);
            log(format("WM_HINTS of 0x%lx: %zu items", w, v.size()));
            break;
        }
        case 8: { // WM_CLASS: garbage, with and without NULs
            size_t len = static_cast<size_t>(rng_.range(0, 300));
            std::string s = rng_.bytes(len);
            if (rng_.chance(0.3))
                s = "X" + (rng_.chance(0.5) ? std::string(1, '\0') : std::string("-")) + "Term";
            put(w, XA_WM_CLASS, rng_.chance(0.85) ? XA_STRING : wrong_type(),
                rng_.chance(0.9) ? 8 : 16, s, mode);
            log(format("WM_CLASS of 0x%lx: %zu bytes", w, s.size()));
            break;
        }
        case 9:
        case 10: { // WM_PROTOCOLS
            std::vector<long> v(static_cast<size_t>(rng_.range(0, 6)));
            for (auto &a : v) {
                int k = rng_.range(0, 5);
                a = k == 0   ? static_cast<long>(atoms_.wm_delete)
                    : k == 1 ? static_cast<long>(atoms_.wm_take_focus)
                    : k == 2 ? static_cast<long>(atoms_.net_ping)
                    : k == 3 ? 0
                             : rng_.nasty();
            }
            if (rng_.chance(0.1))
                put(w, atoms_.wm_protocols, wrong_type(), wrong_format(),
                    rng_.bytes(static_cast<size_t>(rng_.range(0, 40))), mode);
            else
                put_longs(w, atoms_.wm_protocols, rng_.chance(0.9) ? XA_ATOM : wrong_type(), v);
            log(format("WM_PROTOCOLS of 0x%lx: %zu atoms", w, v.size()));
            break;
        }
        case 11: { // window type; a dock may legitimately stay unframed
            std::vector<long> v(static_cast<size_t>(rng_.range(0, 3)));
            for (auto &a : v) {
                int k = rng_.range(0, 4);
                a = k == 0   ? static_cast<long>(atoms_.net_type_dock)
                    : k == 1 ? static_cast<long>(atoms_.net_type_normal)
                    : k == 2 ? static_cast<long>(atoms_.net_type_dialog)
                             : rng_.nasty();
            }
            bool dock = false;
            for (auto a : v)
                dock |= static_cast<Atom>(a) == atoms_.net_type_dock;
            if (!rng_.chance(0.2)) {
                // most of the time keep docks out: they are left alone by the checks
                if (dock) v.assign(1, static_cast<long>(atoms_.net_type_normal));
                dock = false;
            }
            put_longs(w, atoms_.net_type, XA_ATOM, v);
            if (TrackedWindow *t = get(w); t && dock) t->dock = true;
            log(format("_NET_WM_WINDOW_TYPE of 0x%lx: %zu atoms%s", w, v.size(),
                       dock ? " (dock)" : ""));
            break;
        }
        case 12: { // _NET_WM_STATE on the window itself
            std::vector<long> v(static_cast<size_t>(rng_.range(0, 3)));
            for (auto &a : v) {
                int k = rng_.range(0, 3);
                a = k == 0   ? static_cast<long>(atoms_.net_fullscreen)
                    : k == 1 ? static_cast<long>(atoms_.net_hidden)
                    : k == 2 ? static_cast<long>(atoms_.net_max_vert)
                             : rng_.nasty();
            }
            put_longs(w, atoms_.net_wm_state, XA_ATOM, v);
            log(format("_NET_WM_STATE of 0x%lx: %zu atoms", w, v.size()));
            break;
        }
        default: { // WM_TRANSIENT_FOR and WM_STATE written by the client
            if (rng_.chance(0.5))
                put_longs(w, XA_WM_TRANSIENT_FOR, XA_WINDOW, {static_cast<long>(some_window())});
            else
                put_longs(w, atoms_.wm_state, atoms_.wm_state, {rng_.nasty(), rng_.nasty()});
            log(format("WM_TRANSIENT_FOR or WM_STATE of 0x%lx", w));
            break;
        }
        }
    }

    void change_shape() {
        TrackedWindow *t = any_window();
        if (!t) return;
        ExtLock lock(g_ext_mutex);
        int kind = rng_.chance(0.8) ? ShapeBounding : rng_.range(1, 2);
        if (rng_.chance(0.2)) {
            XShapeCombineMask(d_, t->id, kind, 0, 0, None, ShapeSet);
            log(format("shape of 0x%lx reset", t->id));
            return;
        }
        if (rng_.chance(0.1)) {
            Window src = own_or_zero();
            XShapeCombineShape(d_, t->id, kind, rng_.range(-50, 50), rng_.range(-50, 50), src,
                               rng_.range(0, 2), rng_.range(0, 4));
            log(format("shape of 0x%lx from 0x%lx", t->id, src));
            return;
        }
        int n = rng_.range(0, 6);
        std::vector<XRectangle> rects(static_cast<size_t>(n));
        for (auto &r : rects) {
            r.x = static_cast<short>(rng_.chance(0.8) ? rng_.range(0, 300) : fit(rng_.nasty()));
            r.y = static_cast<short>(rng_.chance(0.8) ? rng_.range(0, 300) : fit(rng_.nasty()));
            r.width = static_cast<unsigned short>(rng_.chance(0.8) ? rng_.range(0, 300)
                                                                   : fit_size(rng_.nasty()));
            r.height = static_cast<unsigned short>(rng_.chance(0.8) ? rng_.range(0, 300)
                                                                    : fit_size(rng_.nasty()));
        }
        XShapeCombineRectangles(d_, t->id, kind, rng_.range(-20, 20), rng_.range(-20, 20),
                                rects.data(), n, rng_.range(0, 4), Unsorted);
        log(format("shape of 0x%lx: %d rectangles, kind %d", t->id, n, kind));
    }

    void toggle_override_redirect() {
        TrackedWindow *t = any_window();
        if (!t) return;
        XSetWindowAttributes a{};
        a.override_redirect = t->override_redirect ? False : True;
        XChangeWindowAttributes(d_, t->id, CWOverrideRedirect, &a);
        t->override_redirect = a.override_redirect;
        if (t->mapped) {
            t->uncertain = true;
            t->unmapped_since_uncertain = false;
        }
        log(format("override-redirect of 0x%lx now %d", t->id, a.override_redirect));
    }

    // Synthetic map requests naming what must never be managed: the root, the manager's own
    // frames and tabs, windows that are not top-level; and, for good measure, the client's own
    // top-level windows and ids that name nothing.
    void synthetic_map_request() {
        Window target = root_;
        const char *what = "the root";
        int k = rng_.range(0, 19);
        if (k < 3) {
        } else if (k < 11) {
            target = manager_window();
            what = "a manager window";
        } else if (k < 15) {
            std::vector<Window> inner;
            for (auto &t : wins_)
                if (t.parent != root_) inner.push_back(t.id);
            if (!inner.empty()) {
                target = rng_.pick(inner);
                what = "a window that is not top-level";
            }
        } else if (k < 17) {
            if (Window w = own_or_zero()) {
                target = w;
                what = "an own window";
            }
        } else if (k < 19) {
            target = bogus_window();
            what = "an unknown id";
        } else {
            target = None;
            what = "None";
        }
        XEvent ev{};
        ev.xmaprequest.type = MapRequest;
        ev.xmaprequest.parent = rng_.chance(0.8) ? root_ : some_window();
        ev.xmaprequest.window = target;
        XSendEvent(d_, root_, False, SubstructureRedirectMask, &ev);
        log(format("synthetic MapRequest for 0x%lx (%s)", target, what));
    }

    // The UnmapNotify of a withdrawal for one of the client's top-level windows, without an
    // unmap before it, sent to the root or to the window's frame. The manager may let the
    // window go as it finds it: mapped (also when the client has unmapped it, but the map
    // the manager made for an earlier request came after that unmap), or unmapped if it had
    // hidden it.
    void synthetic_unmap() {
        std::vector<Window> c;
        for (auto &t : wins_)
            if (t.parent == root_) c.push_back(t.id);
        if (c.empty()) return;
        Window w = rng_.pick(c);
        Window to = root_;
        if (rng_.chance(0.4)) {
            Window r = 0, parent = 0, *kids = nullptr;
            unsigned n = 0;
            if (XQueryTree(d_, w, &r, &parent, &kids, &n) && parent != root_) to = parent;
            if (kids) XFree(kids);
        }
        XEvent ev{};
        ev.xunmap.type = UnmapNotify;
        ev.xunmap.event = to;
        ev.xunmap.window = w;
        XSendEvent(d_, to, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
        TrackedWindow *t = get(w);
        t->uncertain = true;
        t->unmapped_since_uncertain = false;
        log(format("synthetic UnmapNotify for 0x%lx sent to %s", w,
                   to == root_ ? "the root" : "its frame"));
    }

    void synthetic_configure_request() {
        XEvent ev{};
        XConfigureRequestEvent &c = ev.xconfigurerequest;
        c.type = ConfigureRequest;
        c.parent = root_;
        c.window = rng_.chance(0.6) ? manager_window() : some_window();
        c.x = fit(rng_.nasty());
        c.y = fit(rng_.nasty());
        c.width = fit_size(rng_.nasty());
        c.height = fit_size(rng_.nasty());
        c.border_width = rng_.range(0, 100);
        c.above = some_window();
        c.detail = rng_.range(0, 6);
        c.value_mask = static_cast<unsigned long>(rng_.range(0, 127));
        XSendEvent(d_, root_, False, SubstructureRedirectMask, &ev);
        log(format("synthetic ConfigureRequest for 0x%lx", c.window));
    }

    // The manager's client messages, with sensible and absurd contents.
    void client_message() {
        XEvent ev{};
        XClientMessageEvent &m = ev.xclient;
        m.type = ClientMessage;
        m.format = 32;
        TrackedWindow *t = any_window();
        m.window = t && rng_.chance(0.8) ? t->id : some_window();
        for (auto &l : m.data.l)
            l = rng_.chance(0.5) ? rng_.range(0, 3) : rng_.nasty();
        int k = rng_.range(0, 9);
        const char *what = "";
        switch (k) {
        case 0:
            m.message_type = atoms_.net_wm_state;
            m.data.l[0] = rng_.chance(0.9) ? rng_.range(0, 2) : rng_.nasty();
            m.data.l[1] = static_cast<long>(rng_.chance(0.6)   ? atoms_.net_fullscreen
                                            : rng_.chance(0.5) ? atoms_.net_hidden
                                                               : atoms_.net_max_vert);
            m.data.l[2] = rng_.chance(0.7) ? 0 : static_cast<long>(atoms_.net_fullscreen);
            what = "_NET_WM_STATE";
            break;
        case 1:
            m.message_type = atoms_.net_active;
            m.data.l[0] = rng_.range(0, 3);
            what = "_NET_ACTIVE_WINDOW";
            break;
        case 2:
            m.message_type = atoms_.net_current_desktop;
            m.data.l[0] = rng_.chance(0.7) ? rng_.range(0, 10) : rng_.nasty();
            what = "_NET_CURRENT_DESKTOP";
            break;
        case 3:
            m.message_type = atoms_.net_wm_desktop;
            m.data.l[0] = rng_.chance(0.7)   ? rng_.range(0, 10)
                          : rng_.chance(0.5) ? 0xffffffffL
                                             : rng_.nasty();
            what = "_NET_WM_DESKTOP";
            break;
        case 4:
            m.message_type = atoms_.net_close;
            what = "_NET_CLOSE_WINDOW";
            break;
        case 5:
            m.message_type = atoms_.net_frame_extents_req;
            what = "_NET_REQUEST_FRAME_EXTENTS";
            break;
        case 6:
            m.message_type = atoms_.wm_change_state;
            m.data.l[0] = rng_.chance(0.7) ? IconicState : rng_.nasty();
            what = "WM_CHANGE_STATE";
            break;
        case 7:
            m.message_type = atoms_.net_number_of_desktops;
            m.data.l[0] = rng_.chance(0.7) ? rng_.range(0, 12) : rng_.nasty();
            what = "_NET_NUMBER_OF_DESKTOPS";
            break;
        case 8:
            m.message_type = atoms_.wm_protocols;
            m.data.l[0] = static_cast<long>(atoms_.wm_delete);
            what = "WM_PROTOCOLS";
            break;
        default:
            m.message_type = static_cast<Atom>(rng_.nasty());
            m.format = rng_.chance(0.5) ? 32 : rng_.chance(0.5) ? 8 : 16;
            what = "garbage";
            break;
        }
        XSendEvent(d_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
        log(format("client message %s for 0x%lx, data %ld %ld", what, m.window, m.data.l[0],
                   m.data.l[1]));
    }

    void restack_or_focus() {
        TrackedWindow *t = any_window();
        if (!t) return;
        switch (rng_.range(0, 4)) {
        case 0:
            XRaiseWindow(d_, t->id);
            log(format("raise 0x%lx", t->id));
            break;
        case 1:
            XLowerWindow(d_, t->id);
            log(format("lower 0x%lx", t->id));
            break;
        case 2:
            XCirculateSubwindows(d_, root_, rng_.chance(0.5) ? RaiseLowest : LowerHighest);
            log("circulate the root's children");
            break;
        case 3:
            XSetInputFocus(d_, t->id, RevertToParent, CurrentTime);
            log(format("focus 0x%lx", t->id));
            break;
        default:
            XMoveResizeWindow(d_, t->id, coord(true), coord(false), size(), size());
            log(format("move and resize 0x%lx", t->id));
            break;
        }
    }

    void grab_server_briefly() {
        XGrabServer(d_);
        int n = rng_.range(1, 3);
        for (int i = 0; i < n; ++i) {
            if (rng_.chance(0.5))
                configure_window();
            else
                garbage_property();
        }
        XUngrabServer(d_);
        XSync(d_, False); // never leave the grab in the output buffer
        log("grab and release the server");
    }

    void close_abruptly() {
        int how = rng_.range(0, 2);
        // a few requests left in the buffer, never flushed
        for (int i = 0; i < rng_.range(0, 3); ++i)
            garbage_property();
        if (how == 0) {
            log("close the connection");
            conn_->close();
        } else if (how == 1) {
            log("shut the socket down");
            shutdown(ConnectionNumber(d_), SHUT_RDWR);
            XSync(d_, False); // reports the broken connection
        } else {
            log("have the server kill the connection");
            if (Window w = own_or_zero()) {
                XKillClient(d_, w);
                XSync(d_, False);
            }
        }
        if (conn_->dpy) conn_->dead.store(true);
        sh_.reconnects++;
        connect();
    }

    Shared &sh_;
    int slot_;
    int generation_ = 0;
    Rng rng_;
    std::unique_ptr<Connection> conn_;
    Display *d_ = nullptr;
    Window root_ = 0;
    Atoms atoms_{};
    ManagerSync sync_;
    std::vector<TrackedWindow> wins_;
    uint64_t ops_ = 0;
    int ops_until_sync_ = 20;
    int snapshot_age_ = 1000;
    std::vector<Window> manager_windows_;
    std::deque<std::string> log_;
    std::deque<TrackedWindow> graveyard_;
};

// ---------------------------------------------------------------------------------------------
// The user: XTest input from the main thread

class User {
  public:
    User(Shared &sh, Connection &c) : sh_(sh), c_(c), rng_(mix_seed(sh.opt.seed, 1000, 0)) {
        d_ = c.dpy;
        root_ = DefaultRootWindow(d_);
        ctrl_ = XKeysymToKeycode(d_, XK_Control_L);
        alt_ = XKeysymToKeycode(d_, XK_Alt_L);
        shift_ = XKeysymToKeycode(d_, XK_Shift_L);
        tab_ = XKeysymToKeycode(d_, XK_Tab);
        caps_ = XKeysymToKeycode(d_, XK_Caps_Lock);
        numlock_ = XKeysymToKeycode(d_, XK_Num_Lock);
        static const KeySym table[] = {
            XK_Return, XK_space, XK_e, XK_q,    XK_n,  XK_m, XK_comma, XK_period, XK_h,
            XK_l,      XK_j,     XK_k, XK_Down, XK_Up, XK_t, XK_v,     XK_x,      XK_i,
            XK_p,      XK_o,     XK_u, XK_s,    XK_b,  XK_f, XK_Left,  XK_Right,  XK_1,
            XK_2,      XK_3,     XK_4, XK_5,    XK_6,  XK_7, XK_8,     XK_9};
        for (KeySym k : table)
            keys_.push_back(XKeysymToKeycode(d_, k));
    }

    // One gesture, everything pressed is released at its end.
    void gesture() {
        if (++snapshot_age_ > 4) snapshot();
        int r = rng_.range(0, 99);
        if (r < 30)
            chord();
        else if (r < 36)
            alt_tab();
        else if (r < 52)
            frame_button();
        else if (r < 60)
            alt_button();
        else if (r < 66)
            tab_drag();
        else if (r < 74)
            tab_click();
        else if (r < 82)
            root_click();
        else if (r < 88)
            wheel();
        else if (r < 94)
            edge_flip();
        else if (r < 98)
            wander();
        else
            toggle_lock();
        XSync(d_, False);
        sh_.input_operations++;
        sh_.operations++;
    }

    // A press of a button the manager binds to nothing: ends root-click mode if a click
    // started it, and does nothing otherwise.
    void end_modes() {
        button(8);
        XSync(d_, False);
    }

  private:
    struct Box {
        Window w;
        int x, y, width, height;
    };

    void snapshot() {
        snapshot_age_ = 0;
        frames_.clear();
        tabs_.clear();
        for (Window w : manager_root_children(d_)) {
            XWindowAttributes a;
            if (!XGetWindowAttributes(d_, w, &a)) continue;
            if (!a.override_redirect || a.map_state != IsViewable) continue;
            Window r = 0, p = 0, *kids = nullptr;
            unsigned n = 0;
            if (!XQueryTree(d_, w, &r, &p, &kids, &n)) continue;
            if (kids) XFree(kids);
            Box b{w, a.x, a.y, a.width, a.height};
            (n > 0 ? frames_ : tabs_).push_back(b);
        }
    }

    void note(const char *fmt, int a, int b = 0) {
        if (sh_.trace) sh_.trace_line("user", format(fmt, a, b));
    }
    void move(int x, int y) {
        note("motion %d,%d", x, y);
        ExtLock lock(g_ext_mutex);
        XTestFakeMotionEvent(d_, 0, x, y, CurrentTime);
        XFlush(d_);
    }
    void press(unsigned b) {
        note("press button %d", static_cast<int>(b));
        ExtLock lock(g_ext_mutex);
        XTestFakeButtonEvent(d_, b, True, CurrentTime);
    }
    void release(unsigned b) {
        note("release button %d", static_cast<int>(b));
        ExtLock lock(g_ext_mutex);
        XTestFakeButtonEvent(d_, b, False, CurrentTime);
    }
    void button(unsigned b) {
        press(b);
        release(b);
    }
    void key_down(KeyCode k) {
        note("press key %d", k);
        ExtLock lock(g_ext_mutex);
        XTestFakeKeyEvent(d_, k, True, CurrentTime);
    }
    void key_up(KeyCode k) {
        note("release key %d", k);
        ExtLock lock(g_ext_mutex);
        XTestFakeKeyEvent(d_, k, False, CurrentTime);
    }

    int rx() { return rng_.range(0, sh_.screen_width - 1); }
    int ry() { return rng_.range(0, sh_.screen_height - 1); }
    const Box *pick(const std::vector<Box> &v) {
        if (v.empty()) return nullptr;
        return &v[static_cast<size_t>(rng_.range(0, static_cast<int>(v.size()) - 1))];
    }
    // A point on the frame's outer border, where the manager's frame gets the press.
    void to_border(const Box &f) {
        if (rng_.chance(0.5))
            move(f.x + rng_.range(0, std::max(0, f.width - 1)), f.y);
        else
            move(f.x, f.y + rng_.range(0, std::max(0, f.height - 1)));
    }
    void to_inside(const Box &f) { move(f.x + f.width / 2, f.y + f.height / 2); }
    // Motion to random places, to the screen edges and beyond.
    void drag_path(int steps) {
        for (int i = 0; i < steps; ++i) {
            int k = rng_.range(0, 9);
            if (k == 0)
                move(sh_.screen_width - 1, ry());
            else if (k == 1)
                move(0, ry());
            else if (k == 2)
                move(rx(), 0);
            else
                move(rx(), ry());
        }
    }

    void chord() {
        if (const Box *f = pick(frames_); f && rng_.chance(0.6)) to_inside(*f);
        int n = rng_.chance(0.8) ? 1 : rng_.range(2, 6);
        key_down(ctrl_);
        key_down(alt_);
        for (int i = 0; i < n; ++i) {
            KeyCode k =
                keys_[static_cast<size_t>(rng_.range(0, static_cast<int>(keys_.size()) - 1))];
            key_down(k);
            key_up(k);
        }
        key_up(alt_);
        key_up(ctrl_);
    }

    void alt_tab() {
        key_down(alt_);
        int n = rng_.range(1, 3);
        for (int i = 0; i < n; ++i) {
            key_down(tab_);
            key_up(tab_);
        }
        key_up(alt_);
    }

    void frame_button() {
        const Box *f = pick(frames_);
        if (!f) return root_click();
        to_border(*f);
        unsigned b = static_cast<unsigned>(rng_.chance(0.8) ? rng_.range(1, 3) : rng_.range(4, 5));
        press(b);
        drag_path(rng_.range(0, 6));
        release(b);
    }

    void alt_button() {
        const Box *f = pick(frames_);
        if (!f) return;
        to_inside(*f);
        key_down(alt_);
        unsigned b = static_cast<unsigned>(rng_.range(1, 5));
        press(b);
        drag_path(rng_.range(0, 5));
        release(b);
        key_up(alt_);
    }

    void tab_drag() {
        const Box *t = pick(tabs_);
        if (!t) return;
        move(t->x + t->width / 2, t->y + t->height / 2);
        key_down(shift_);
        press(1);
        for (int i = rng_.range(1, 6); i > 0; --i)
            move(t->x + rng_.range(-300, 300), t->y + rng_.range(-20, 20));
        release(1);
        key_up(shift_);
    }

    void tab_click() {
        const Box *t = pick(tabs_);
        if (!t) return;
        int k = rng_.range(0, 3);
        if (k == 0) {
            // the close area, released over the window below (closes it) or elsewhere
            move(t->x + t->width - 3, t->y + t->height / 2);
            press(1);
            if (rng_.chance(0.6))
                move(t->x + 4, t->y + t->height + 8);
            else
                move(rx(), ry());
            release(1);
            return;
        }
        move(t->x + rng_.range(0, std::max(0, t->width - 1)), t->y + t->height / 2);
        unsigned b = static_cast<unsigned>(rng_.range(1, 5));
        press(b);
        drag_path(rng_.range(0, 3));
        release(b);
    }

    void root_click() {
        move(rx(), ry());
        button(rng_.chance(0.5) ? 1 : 3);
        if (rng_.chance(0.6)) {
            // the second click of root-click mode: on a window, on the bare root, the wheel
            if (const Box *f = pick(frames_); f && rng_.chance(0.7))
                to_inside(*f);
            else
                move(rx(), ry());
            unsigned b = static_cast<unsigned>(rng_.range(1, 7));
            press(b);
            drag_path(rng_.range(0, 4));
            release(b);
        }
    }

    void wheel() {
        move(rx(), ry());
        for (int i = rng_.range(1, 4); i > 0; --i)
            button(rng_.chance(0.5) ? 4 : 5);
    }

    void edge_flip() {
        const Box *f = pick(frames_);
        if (!f) return;
        bool alt = rng_.chance(0.4);
        if (alt) {
            to_inside(*f);
            key_down(alt_);
        } else {
            to_border(*f);
        }
        press(1);
        int y = ry();
        for (int i = rng_.range(1, 4); i > 0; --i) {
            move(rng_.chance(0.6) ? sh_.screen_width - 1 : 0, y);
            move(rx(), y);
        }
        release(1);
        if (alt) key_up(alt_);
    }

    void wander() {
        for (int i = rng_.range(3, 20); i > 0; --i)
            move(rx(), ry());
    }

    void toggle_lock() {
        KeyCode k = rng_.chance(0.5) ? caps_ : numlock_;
        key_down(k);
        key_up(k);
    }

    Shared &sh_;
    Connection &c_;
    Rng rng_;
    Display *d_ = nullptr;
    Window root_ = 0;
    KeyCode ctrl_ = 0, alt_ = 0, shift_ = 0, tab_ = 0, caps_ = 0, numlock_ = 0;
    std::vector<KeyCode> keys_;
    std::vector<Box> frames_, tabs_;
    int snapshot_age_ = 1000;
};

// ---------------------------------------------------------------------------------------------
// The run

class Run {
  public:
    explicit Run(const Options &o) { sh_.opt = o; }

    int execute() {
        start_ = Clock::now();
        if (!sh_.opt.trace.empty()) sh_.trace = std::fopen(sh_.opt.trace.c_str(), "w");
        if (!setup()) {
            teardown();
            return 2;
        }
        for (int i = 0; i < sh_.opt.clients; ++i)
            hostiles_.push_back(std::make_unique<Hostile>(sh_, i));
        for (auto &h : hostiles_)
            threads_.emplace_back([&h] { h->thread_main(); });
        std::thread watchdog([this] { watch(); });

        storm();
        finish();

        {
            std::lock_guard<std::mutex> lock(watch_m_);
            watch_done_ = true;
        }
        watch_cv_.notify_all();
        watchdog.join();
        summary();
        teardown();
        if (sh_.trace) std::fclose(sh_.trace);
        return violations_.empty() ? 0 : 1;
    }

  private:
    // ---- start-up

    bool setup() {
        // -maxclients 256: see kClientShift.
        std::vector<std::string> server_args = {"-maxclients", "256"};
        if (sh_.opt.heads == 2)
            server_args.insert(server_args.end(), {"-screen", "1", "1024x768x24", "+xinerama"});
        try {
            xvfb_ = std::make_unique<harness::XServer>(1280, 1024, 24, server_args);
        } catch (const std::exception &e) {
            say("cannot start Xvfb: %s", e.what());
            return false;
        }
        sh_.display = xvfb_->display();
        if (!checker_.open(sh_.display)) {
            say("cannot connect to %s", sh_.display.c_str());
            return false;
        }
        Display *d = checker_.dpy;
        sh_.screen_width = DisplayWidth(d, DefaultScreen(d));
        sh_.screen_height = DisplayHeight(d, DefaultScreen(d));
        atoms_.intern(d);
        int ev = 0, er = 0, maj = 0, min = 0;
        bool xtest = false;
        {
            ExtLock lock(g_ext_mutex);
            xtest = XTestQueryExtension(d, &ev, &er, &maj, &min);
        }
        if (!xtest) {
            say("the X server has no XTEST extension");
            return false;
        }

        std::vector<std::string> args = {"-display", sh_.display, "-cmd1", "true",
                                         "-cmd2",    "true",      "-cmd3", "true"};
        args.insert(args.end(), sh_.opt.wm_args.begin(), sh_.opt.wm_args.end());
        try {
            wm_ = std::make_unique<harness::Wm>(*xvfb_, args, harness::Process::Options{},
                                                sh_.opt.wm);
        } catch (const std::exception &e) {
            say("cannot start %s: %s", sh_.opt.wm.c_str(), e.what());
            return false;
        }
        // Until the manager has taken over the root window and answers a configure request.
        const bool ready = wm_->wait_ready(harness::within(seconds(30)));
        // The harness connection of that wait has put its own X error handler in place.
        XSetErrorHandler(ignore_x_error);
        if (!ready) {
            if (wm_->running())
                say("the manager did not take over the root window and answer a configure "
                    "request within 30 s");
            else
                say("the manager ended during start-up: it %s",
                    describe_exit(wm_->wait_exit(Clock::now())).c_str());
            return false;
        }
        sync_.create(checker_);
        if (!input_conn_.open(sh_.display)) return false;
        user_ = std::make_unique<User>(sh_, input_conn_);
        say("display %s, manager pid %d, seed %llu, %.0f s, %d clients", sh_.display.c_str(),
            wm_->pid(), static_cast<unsigned long long>(sh_.opt.seed), sh_.opt.seconds,
            sh_.opt.clients);
        return true;
    }

    void teardown() {
        for (auto &h : hostiles_)
            if (h->connection()) h->connection()->close();
        input_conn_.close();
        checker_.close();
        if (wm_) {
            wm_->stop(seconds(5));
            // What the manager wrote (a sanitizer's report, for one), now that it has ended.
            std::fputs((wm_->out() + wm_->err()).c_str(), stderr);
        }
        wm_.reset();
        xvfb_.reset();
    }

    // ---- the main loop

    void beat() { sh_.heartbeat.store(now_ms()); }

    void storm() {
        auto end = start_ + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(sh_.opt.seconds));
        auto check_period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(sh_.opt.check_every));
        auto next_check = Clock::now() + check_period;
        int gestures = 0;
        while (Clock::now() < end) {
            beat();
            if (!wm_->running()) {
                manager_died();
                return;
            }
            auto t0 = Clock::now();
            if (sh_.opt.skip.count("input") == 0) {
                user_->gesture();
            } else {
                // no user: the main thread paces itself on the manager alone
                sync_with_manager(seconds(15));
            }
            gesture_time_ += since(t0);
            if (++gestures % 3 == 0) {
                t0 = Clock::now();
                user_->end_modes();
                bool ok = sync_with_manager(seconds(15));
                sync_time_ += since(t0);
                if (sh_.opt.verbose && since(t0) > 1)
                    say("slow round trip through the manager: %.1f s%s", since(t0),
                        ok ? "" : " (gave up)");
            }
            if (Clock::now() >= next_check) {
                if (!check("while running") && (!sh_.opt.keep_going || crashed_)) return;
                next_check = Clock::now() + check_period;
            }
        }
    }

    // A round trip through the manager from the main thread. A click that came quicker than
    // the manager's pointer grab can leave it in a drag whose button release it never sees:
    // while waiting, the user presses and releases a button the manager does not bind.
    bool sync_with_manager(Clock::duration timeout) {
        return sync_.run(
            checker_, timeout, [](const XEvent &) {}, [this] { user_->end_modes(); });
    }

    void manager_died() {
        if (crashed_) return;
        crashed_ = true;
        if (killed_by_driver_) return; // already reported as unresponsive
        harness::Process &server = xvfb_->process();
        if (!server.running()) {
            std::deque<std::string> last;
            std::istringstream log(server.out() + server.err());
            for (std::string line; std::getline(log, line);) {
                last.push_back("    " + line + "\n");
                if (last.size() > 25) last.pop_front();
            }
            std::string tail;
            for (const auto &l : last)
                tail += l;
            add("x-server-alive",
                format("the X server %s; the manager %s with it; the server's last words:\n%s",
                       describe_exit(server.wait_exit(Clock::now())).c_str(),
                       wm_->running() ? "is still running" : "ended", tail.c_str()),
                0);
            return;
        }
        if (sh_.watchdog_fired.load())
            add("manager-responsive", "the manager was killed after blocking the driver", 0);
        else
            add("manager-alive",
                format("the manager %s during the run",
                       describe_exit(wm_->wait_exit(Clock::now())).c_str()),
                0);
    }

    // ---- pausing the clients

    // The clients may be waiting for the manager, which may wait for a button release.
    bool pause_clients() {
        auto deadline = Clock::now() + seconds(60);
        std::unique_lock<std::mutex> lock(sh_.m);
        sh_.pause.store(true);
        for (;;) {
            bool all = sh_.cv.wait_until(lock, std::min(deadline, Clock::now() + seconds(1)), [&] {
                return sh_.parked == static_cast<int>(hostiles_.size());
            });
            if (all) return true;
            if (Clock::now() >= deadline) return false;
            lock.unlock();
            beat();
            user_->end_modes();
            lock.lock();
        }
    }
    void resume_clients() {
        {
            std::lock_guard<std::mutex> lock(sh_.m);
            sh_.pause.store(false);
        }
        sh_.cv.notify_all();
    }

    // ---- invariants

    void add(const std::string &invariant, const std::string &detail, Window w) {
        // The same window breaking the same invariant is reported once.
        if (w && !reported_.insert({invariant, w}).second) return;
        violations_.push_back({invariant, detail, w});
        say("VIOLATION [%s] %s", invariant.c_str(), detail.c_str());
        if (w) lost_.insert(w);
    }

    Hostile *owner_of(Window w) {
        for (auto &h : hostiles_)
            if (h->find_any(w)) return h.get();
        return nullptr;
    }

    std::string owner_context(const Hostile *h, Window w = 0) {
        if (!h) return "";
        std::string s;
        if (const TrackedWindow *t = w ? h->find_any(w) : nullptr) {
            s += format("    what the manager left of 0x%lx: %s\n", w, describe(w).c_str());
            s += format("    what client %d believes: child of 0x%lx, %s%s%s%s\n", h->slot(),
                        t->parent, t->mapped ? "mapped" : "unmapped",
                        t->override_redirect ? ", override-redirect" : "",
                        t->uncertain ? ", reparented or changed since its last map" : "",
                        t->dock ? ", typed as a dock" : "");
            s += format("    what client %d did to 0x%lx:\n", h->slot(), w);
            for (const auto &l : t->history)
                s += "      " + l + "\n";
        }
        s +=
            format("    client %d (connection %d), last operations:\n", h->slot(), h->generation());
        return s + h->recent_ops();
    }

    // Parent, map state and WM_STATE of a window, as the checker sees them.
    std::string describe(Window w) {
        Display *d = checker_.dpy;
        Window r = 0, parent = 0, *kids = nullptr;
        unsigned n = 0;
        if (!XQueryTree(d, w, &r, &parent, &kids, &n)) return "gone";
        if (kids) XFree(kids);
        XWindowAttributes a{};
        XGetWindowAttributes(d, w, &a);
        std::string state = "none";
        Atom type = 0;
        int fmt = 0;
        unsigned long items = 0, after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(d, w, atoms_.wm_state, 0, 2, False, AnyPropertyType, &type, &fmt,
                               &items, &after, &data) == Success &&
            data) {
            if (fmt == 32 && items >= 1) state = std::to_string(reinterpret_cast<long *>(data)[0]);
            XFree(data);
        }
        return format("parent 0x%lx%s, %s, %s at %d,%d %dx%d, WM_STATE %s", parent,
                      parent == DefaultRootWindow(d) ? " (the root)" : "",
                      a.map_state == IsViewable     ? "viewable"
                      : a.map_state == IsUnviewable ? "mapped, unviewable"
                                                    : "unmapped",
                      a.override_redirect ? "override-redirect" : "normal", a.x, a.y, a.width,
                      a.height, state.c_str());
    }

    // Stops everything, makes sure the manager has caught up, checks; false ends the run.
    bool check(const char *when) {
        beat();
        ++checks_;
        auto t0 = Clock::now();
        user_->end_modes();
        bool paused = pause_clients();
        if (sh_.opt.verbose) say("check %d: clients parked after %.2f s", checks_, since(t0));
        if (!paused) {
            add("manager-responsive",
                "client connections stayed blocked for 60 s (is the server grabbed?)", 0);
            killed_by_driver_ = true;
            wm_->signal(SIGKILL);
            resume_clients();
            return false;
        }
        bool ok = inspect(when);
        if (sh_.opt.verbose) say("check %d: done after %.2f s", checks_, since(t0));
        resume_clients();
        return ok;
    }

    // A round trip through the manager; false (with the reason recorded) when it is dead
    // or does not answer.
    bool catch_up(const char *when) {
        auto t0 = Clock::now();
        bool synced = sync_with_manager(seconds(30));
        if (sh_.opt.verbose) say("manager caught up after %.2f s", since(t0));
        if (synced) return true;
        if (!wm_->running()) {
            manager_died();
            return false;
        }
        add("manager-responsive",
            format("the manager did not handle a configure request within 30 s (%s)", when), 0);
        return false;
    }

    bool inspect(const char *when) {
        beat();
        if (!wm_->running()) {
            manager_died();
            return false;
        }
        if (!catch_up(when)) return false;
        beat();
        // Connections the manager killed (close key, close click) are known only now. The
        // server destroyed their windows when the manager asked it to, which may have been
        // after the sync request above was queued: the destructions are then still waiting
        // in the manager's queue, and their frames are still there. One more round trip
        // through the manager lets it handle them.
        for (auto &h : hostiles_)
            if (h->connection()) h->connection()->sync();
        if (!catch_up(when)) return false;

        size_t before = violations_.size();
        Display *d = checker_.dpy;
        Window root = DefaultRootWindow(d);

        // Which tracked window belongs to whom.
        std::map<Window, std::pair<Hostile *, const TrackedWindow *>> tracked;
        for (auto &h : hostiles_) {
            Connection *c = h->connection();
            if (!c || !c->alive()) continue;
            for (const auto &t : h->windows())
                tracked[t.id] = {h.get(), &t};
        }

        // The manager's frames and tabs.
        Window check_window = 0;
        {
            Atom type = 0;
            int fmt = 0;
            unsigned long n = 0, after = 0;
            unsigned char *data = nullptr;
            if (XGetWindowProperty(d, root, atoms_.net_check, 0, 1, False, XA_WINDOW, &type, &fmt,
                                   &n, &after, &data) == Success &&
                data) {
                if (n == 1 && fmt == 32) check_window = *reinterpret_cast<Window *>(data);
                XFree(data);
            }
        }
        struct Frame {
            Window w;
            XWindowAttributes a;
        };
        std::vector<Frame> frames;
        std::vector<Frame> tabs;
        for (Window w : manager_root_children(d)) {
            if (w == check_window) continue;
            XWindowAttributes a;
            if (!XGetWindowAttributes(d, w, &a) || !a.override_redirect) continue;
            Window r = 0, p = 0, *kids = nullptr;
            unsigned n = 0;
            if (!XQueryTree(d, w, &r, &p, &kids, &n)) continue;
            std::vector<Window> children(kids, kids + n);
            if (kids) XFree(kids);
            if (n == 0) {
                tabs.push_back({w, a});
                continue;
            }
            frames.push_back({w, a});
            if (n > 1)
                add("frame-holds-one-window",
                    format("frame 0x%lx holds %u windows (%s)", w, n, when), 0);
            for (Window c : children) {
                if (!g_driver.owns(c)) {
                    add("manager-window-unmanaged",
                        format("frame 0x%lx holds 0x%lx, a window of the manager itself "
                               "(a synthetic map request took it under management?) (%s)",
                               w, c, when),
                        0);
                    continue;
                }
                auto it = tracked.find(c);
                if (it == tracked.end()) continue;
                const TrackedWindow *t = it->second.second;
                if (t->parent != root && !t->uncertain)
                    add("only-top-level-managed",
                        format("frame 0x%lx holds 0x%lx, which its client made a child of "
                               "0x%lx (%s)\n%s",
                               w, c, t->parent, when, owner_context(it->second.first, c).c_str()),
                        c);
            }
        }
        std::map<Window, Window> frame_child;
        for (const auto &f : frames) {
            Window r = 0, p = 0, *kids = nullptr;
            unsigned n = 0;
            if (XQueryTree(d, f.w, &r, &p, &kids, &n) && kids) {
                frame_child[f.w] = kids[0];
                XFree(kids);
            }
        }
        if (tabs.size() != frames.size()) {
            add("no-frame-or-tab-without-client",
                format("%zu tabs (childless manager windows) but %zu frames (%s)", tabs.size(),
                       frames.size(), when),
                0);
            // Name the childless windows that do not sit on a frame's top edge like a tab.
            for (const auto &t : tabs) {
                bool on_frame = false;
                for (const auto &f : frames)
                    on_frame |= t.a.y + t.a.height == f.a.y && t.a.x >= f.a.x &&
                                t.a.x < f.a.x + std::max(1, f.a.width);
                if (on_frame) continue;
                std::string detail =
                    format("manager window 0x%lx at %d,%d %dx%d%s holds no client window: a frame "
                           "whose window is gone, or a tab without its frame (%s)",
                           t.w, t.a.x, t.a.y, t.a.width, t.a.height,
                           t.a.map_state == IsViewable ? "" : " (unmapped)", when);
                auto was = last_frame_child_.find(t.w);
                if (was != last_frame_child_.end()) {
                    Hostile *h = owner_of(was->second);
                    detail += format("\n    at the previous check it was the frame of 0x%lx\n",
                                     was->second) +
                              owner_context(h, was->second);
                }
                add("no-frame-or-tab-without-client", detail, 0);
            }
        }
        last_frame_child_ = frame_child;

        // Every tracked window exists; the mapped top-level ones are framed.
        std::map<Window, Window> parents;
        for (const auto &[w, owner] : tracked) {
            const TrackedWindow *t = owner.second;
            Window r = 0, parent = 0, *kids = nullptr;
            unsigned n = 0;
            if (!XQueryTree(d, w, &r, &parent, &kids, &n)) {
                // Killed meanwhile (the whole connection goes)?
                if (!owner.first->connection()->sync()) continue;
                int gone = 0, all = 0;
                for (const auto &o : owner.first->windows()) {
                    ++all;
                    XWindowAttributes oa;
                    if (!XGetWindowAttributes(d, o.id, &oa)) ++gone;
                }
                std::string seen = format("; %d of its client's %d windows are gone", gone, all);
                if (auto it = last_parent_.find(w); it != last_parent_.end())
                    seen += format("; at the previous check its parent was 0x%lx (%s)", it->second,
                                   describe(it->second).c_str());
                add("window-exists",
                    format("window 0x%lx of a live client no longer exists (%s)%s\n%s", w, when,
                           seen.c_str(), owner_context(owner.first, w).c_str()),
                    w);
                continue;
            }
            if (kids) XFree(kids);
            parents[w] = parent;
            if (t->parent != root || !t->mapped || t->override_redirect || t->uncertain || t->dock)
                continue;
            if (parent == root) {
                add("mapped-top-level-framed",
                    format("window 0x%lx, mapped by its client (operation #%llu), is not framed: "
                           "its parent is the root (%s)\n%s",
                           w, static_cast<unsigned long long>(t->last_map_op), when,
                           owner_context(owner.first, w).c_str()),
                    w);
            } else if (g_driver.owns(parent)) {
                add("mapped-top-level-framed",
                    format("window 0x%lx, a top-level window of its client, has the driver's "
                           "window 0x%lx as parent (%s)\n%s",
                           w, parent, when, owner_context(owner.first, w).c_str()),
                    w);
            }
        }
        last_parent_ = parents;
        if (sh_.opt.verbose)
            say("check %d (%s): %zu frames, %zu tabs, %zu tracked windows, %llu operations",
                checks_, when, frames.size(), tabs.size(), tracked.size(),
                static_cast<unsigned long long>(sh_.operations.load()));
        return violations_.size() == before;
    }

    // ---- the end

    void finish() {
        beat();
        bool parked = true;
        if (!crashed_) user_->end_modes();
        if (!pause_clients()) {
            add("manager-responsive",
                "client connections stayed blocked for 60 s at the end (is the server grabbed?)",
                0);
            killed_by_driver_ = true;
            wm_->signal(SIGKILL);
            parked = false;
        }
        if (!crashed_ && parked && (violations_.empty() || sh_.opt.keep_going))
            inspect("at the end, before SIGTERM");
        if (!crashed_ && wm_->running()) terminate_manager();
        // Release the clients' threads.
        {
            std::lock_guard<std::mutex> lock(sh_.m);
            sh_.stop = true;
        }
        sh_.cv.notify_all();
        for (auto &t : threads_)
            t.join();
        seconds_run_ = std::chrono::duration<double>(Clock::now() - start_).count();
    }

    void terminate_manager() {
        beat();
        Display *d = checker_.dpy;
        Window root = DefaultRootWindow(d);
        // Connections that are still there, and the windows they mapped.
        for (auto &h : hostiles_)
            if (h->connection()) h->connection()->sync();
        std::vector<std::pair<Window, Hostile *>> expected;
        for (auto &h : hostiles_) {
            Connection *c = h->connection();
            if (!c || !c->alive()) continue;
            for (const auto &t : h->windows()) {
                XWindowAttributes a;
                if (t.parent == root && t.mapped && !t.uncertain && !t.dock &&
                    XGetWindowAttributes(d, t.id, &a))
                    expected.push_back({t.id, h.get()});
            }
        }
        XSelectInput(d, root, SubstructureNotifyMask);
        XSync(d, False);

        wm_->signal(SIGTERM);
        const int st = wm_->wait_exit(harness::within(seconds(20)));
        if (st == harness::Process::kStillRunning) {
            add("manager-exits-on-sigterm", "the manager did not exit within 20 s of SIGTERM", 0);
            wm_->signal(SIGKILL);
            wm_->wait_exit(harness::within(seconds(10)));
            return;
        }
        if (st != 0)
            add("manager-exits-on-sigterm",
                format("after SIGTERM the manager %s", describe_exit(st).c_str()), 0);

        // The server maps the windows of the save set when it notices the closed connection:
        // wait for every expected window to be a mapped child of the root.
        auto deadline = Clock::now() + seconds(15);
        std::vector<std::string> problems;
        for (;;) {
            beat();
            problems.clear();
            for (const auto &[w, h] : expected) {
                Window r = 0, parent = 0, *kids = nullptr;
                unsigned n = 0;
                if (!XQueryTree(d, w, &r, &parent, &kids, &n)) {
                    problems.push_back(format("window 0x%lx no longer exists", w));
                    continue;
                }
                if (kids) XFree(kids);
                XWindowAttributes a;
                if (!XGetWindowAttributes(d, w, &a)) {
                    problems.push_back(format("window 0x%lx no longer exists", w));
                    continue;
                }
                if (parent != root)
                    problems.push_back(
                        format("window 0x%lx is a child of 0x%lx, not of the root", w, parent));
                else if (a.map_state == IsUnmapped)
                    problems.push_back(format("window 0x%lx is on the root but unmapped", w));
            }
            if (problems.empty() || Clock::now() >= deadline) break;
            wait_readable(checker_, deadline);
            while (XPending(d) > 0) {
                XEvent e;
                XNextEvent(d, &e);
            }
        }
        for (size_t i = 0; i < problems.size(); ++i) {
            Window w = 0;
            std::sscanf(problems[i].c_str(), "window 0x%lx", &w);
            Hostile *owner = nullptr;
            for (const auto &[ew, h] : expected)
                if (ew == w) owner = h;
            add("windows-back-on-root-after-exit",
                problems[i] + " after the manager exited\n" + owner_context(owner, w), w);
        }
        XSelectInput(d, root, NoEventMask);
        if (sh_.opt.verbose) say("after SIGTERM: %zu windows checked on the root", expected.size());
    }

    void summary() {
        say("summary: seed %llu, seconds %.1f, clients %d, operations %llu (input %llu), "
            "checks %d, connections replaced %llu, slow syncs %llu, crashes %d, windows lost %zu, "
            "violations %zu",
            static_cast<unsigned long long>(sh_.opt.seed), seconds_run_, sh_.opt.clients,
            static_cast<unsigned long long>(sh_.operations.load()),
            static_cast<unsigned long long>(sh_.input_operations.load()), checks_,
            static_cast<unsigned long long>(sh_.reconnects.load()),
            static_cast<unsigned long long>(sh_.slow_syncs.load()), crashed_ ? 1 : 0, lost_.size(),
            violations_.size());
        if (sh_.opt.verbose)
            say("time in gestures %.1f s, in pacing round trips %.1f s", gesture_time_, sync_time_);
        if (!violations_.empty())
            say("FAILED: %zu invariant violations; reproduce with --seed %llu", violations_.size(),
                static_cast<unsigned long long>(sh_.opt.seed));
    }

    // ---- the watchdog: a manager that holds the server grabbed blocks every connection

    void watch() {
        std::unique_lock<std::mutex> lock(watch_m_);
        while (!watch_done_) {
            watch_cv_.wait_for(lock, seconds(1));
            if (watch_done_) break;
            int64_t beat = sh_.heartbeat.load();
            if (beat != 0 && now_ms() - beat > 120000) {
                say("VIOLATION [manager-responsive] the driver has been blocked for 120 s; "
                    "killing the manager (pid %d)",
                    wm_->pid());
                sh_.watchdog_fired.store(true);
                kill(wm_->pid(), SIGKILL);
                sh_.heartbeat.store(now_ms());
            }
        }
    }

    Shared sh_;
    Clock::time_point start_;
    double seconds_run_ = 0;
    std::unique_ptr<harness::XServer> xvfb_;
    std::unique_ptr<harness::Wm> wm_;
    Connection checker_;
    Connection input_conn_;
    Atoms atoms_{};
    ManagerSync sync_;
    std::unique_ptr<User> user_;
    std::vector<std::unique_ptr<Hostile>> hostiles_;
    std::vector<std::thread> threads_;
    std::vector<Violation> violations_;
    std::set<Window> lost_;
    std::set<std::pair<std::string, Window>> reported_;
    std::map<Window, Window> last_frame_child_;
    std::map<Window, Window> last_parent_;
    bool crashed_ = false;
    bool killed_by_driver_ = false;
    int checks_ = 0;
    double gesture_time_ = 0, sync_time_ = 0;
    std::mutex watch_m_;
    std::condition_variable watch_cv_;
    bool watch_done_ = false;
};

} // namespace

int main(int argc, char **argv) {
    Options opt;
    if (!parse_options(argc, argv, &opt)) {
        usage();
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    // Every display is used by one thread at a time: a client's thread, or the main thread while
    // that client is parked.
    XSetErrorHandler(ignore_x_error);
    XSetIOErrorHandler(ignore_io_error);
    Run run(opt);
    return run.execute();
}
