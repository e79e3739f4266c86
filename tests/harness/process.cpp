// Child processes owned by the test: Process, and the manager and real clients on top.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "harness.h"

extern char **environ;

namespace harness {

#ifndef TAVREL_BINARY
#define TAVREL_BINARY "tavrel"
#endif

std::string tavrel_binary() {
    const char *env = std::getenv("TAVREL_BINARY");
    return env && *env ? env : TAVREL_BINARY;
}

namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// An unlinked temporary file for a child's output.
int output_file() {
    const char *dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/harness-out-XXXXXX";
    int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) fail("mkostemp " + path);
    unlink(path.c_str());
    return fd;
}

std::string read_all(int fd) {
    std::string text;
    char buf[4096];
    off_t offset = 0;
    for (;;) {
        ssize_t n = pread(fd, buf, sizeof buf, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        offset += n;
    }
    return text;
}

std::vector<std::string> build_env(const Process::Options &options) {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const auto &[name, value] : options.env) {
        std::erase_if(env, [&](const std::string &entry) {
            return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
                   entry[name.size()] == '=';
        });
        if (value) env.push_back(name + "=" + *value);
    }
    return env;
}

std::vector<char *> c_strings(std::vector<std::string> &strings) {
    std::vector<char *> out;
    for (auto &s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

Process::Process(std::vector<std::string> argv, Options options) : argv_(std::move(argv)) {
    if (argv_.empty()) throw std::invalid_argument("Process: empty argv");
    std::vector<std::string> env = build_env(options);
    std::vector<std::string> args = argv_;
    std::vector<char *> c_argv = c_strings(args);
    std::vector<char *> c_env = c_strings(env);

    out_fd_ = output_file();
    err_fd_ = output_file();
    int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null_fd < 0) fail("open /dev/null");
    // Reports a failed exec back to the parent: closed unread when the exec succeeds.
    int exec_pipe[2];
    if (pipe2(exec_pipe, O_CLOEXEC) < 0) fail("pipe2");
    const pid_t parent = getpid();

    pid_ = fork();
    if (pid_ < 0) fail("fork");
    if (pid_ == 0) {
        // Only async-signal-safe calls from here to the exec.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        // Out of the way of the descriptors set up below.
        int report_fd = fcntl(exec_pipe[1], F_DUPFD_CLOEXEC, 100);
        dup2(null_fd, 0);
        dup2(out_fd_, 1);
        dup2(err_fd_, 2);
        unsigned keep_from = 3;
        if (options.pass_fd >= 0) {
            if (options.pass_fd == 3)
                fcntl(3, F_SETFD, 0);
            else
                dup2(options.pass_fd, 3);
            keep_from = 4;
        }
        close_range(keep_from, static_cast<unsigned>(report_fd) - 1, 0);
        close_range(static_cast<unsigned>(report_fd) + 1, ~0U, 0);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD})
            sigaction(sig, &dfl, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvpe(c_argv[0], c_argv.data(), c_env.data());
        int e = errno;
        (void)!write(report_fd, &e, sizeof e);
        _exit(127);
    }
    close(null_fd);
    close(exec_pipe[1]);
    int exec_errno = 0;
    ssize_t n;
    do {
        n = read(exec_pipe[0], &exec_errno, sizeof exec_errno);
    } while (n < 0 && errno == EINTR);
    close(exec_pipe[0]);
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (n > 0) {
        wait_for(within());
        errno = exec_errno;
        fail("cannot run " + argv_[0]);
    }
    if (pidfd_ < 0) {
        stop();
        fail("pidfd_open");
    }
}

Process::~Process() {
    stop();
    if (pidfd_ >= 0) close(pidfd_);
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
}

bool Process::wait_for(Deadline deadline) {
    for (;;) {
        if (reaped_) return true;
        pid_t r = waitpid(pid_, &status_, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            reaped_ = true;
            return true;
        }
        auto now = Clock::now();
        if (now >= deadline || pidfd_ < 0) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        pollfd p{pidfd_, POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()) + 1);
    }
}

bool Process::running() {
    return !wait_for(Clock::now());
}

void Process::signal(int sig) {
    if (!reaped_) kill(pid_, sig);
}

int Process::wait_exit(Deadline deadline) {
    if (!wait_for(deadline)) return kStillRunning;
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
    return kStillRunning;
}

std::string Process::out() const {
    return read_all(out_fd_);
}
std::string Process::err() const {
    return read_all(err_fd_);
}

void Process::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0 || reaped_) return;
    if (wait_for(Clock::now())) return;
    kill(pid_, SIGTERM);
    if (wait_for(within(grace))) return;
    kill(pid_, SIGKILL);
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
}

// ---------------------------------------------------------------------------

namespace {
Process::Options with_display(const std::string &display, Process::Options options) {
    options.env.insert(options.env.begin(), {"DISPLAY", display});
    return options;
}

std::vector<std::string> wm_argv(std::string program, std::vector<std::string> args) {
    args.insert(args.begin(), std::move(program));
    return args;
}
} // namespace

Wm::Wm(const XServer &server, std::vector<std::string> args, Options options, std::string program)
    : Process(wm_argv(std::move(program), std::move(args)),
              with_display(server.display(), std::move(options))),
      display_(server.display()) {}

Wm::Wm(std::vector<std::string> args, Options options)
    : Process(wm_argv(tavrel_binary(), std::move(args)), std::move(options)) {}

bool Wm::wait_ready(Deadline deadline) {
    if (display_.empty()) throw std::logic_error("Wm::wait_ready needs the manager's server");
    Connection c(display_);
    return harness::wait_ready(c, *this, deadline);
}

bool wait_ready(Connection &c, Process &manager, Deadline deadline) {
    if (!c.wait_until([&] { return !manager.running() || manager_holds_root(c); }, deadline))
        return false;
    while (manager.running()) {
        if (c.sync_with_wm(std::min(deadline, within(std::chrono::milliseconds(100)))))
            return manager.running();
        if (Clock::now() >= deadline) break;
    }
    return false;
}

App::App(const XServer &server, std::vector<std::string> argv, Options options)
    : Process(std::move(argv), with_display(server.display(), std::move(options))) {}

std::optional<ProcStat> proc_stat(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(f, line)) return std::nullopt;
    auto close = line.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream rest(line.substr(close + 1));
    ProcStat s;
    rest >> s.state >> s.ppid;
    return s;
}

std::vector<pid_t> children_of(pid_t parent) {
    std::vector<pid_t> out;
    DIR *d = opendir("/proc");
    if (!d) return out;
    while (dirent *e = readdir(d)) {
        char *end;
        long pid = std::strtol(e->d_name, &end, 10);
        if (*end || pid <= 0) continue;
        auto s = proc_stat(static_cast<pid_t>(pid));
        if (s && s->ppid == parent) out.push_back(static_cast<pid_t>(pid));
    }
    closedir(d);
    return out;
}

} // namespace harness
