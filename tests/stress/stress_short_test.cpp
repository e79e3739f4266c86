// A short stress run with a fixed seed: hostile clients and user input against the manager for
// half a minute or a minute, with every invariant of the driver holding throughout and after
// SIGTERM.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char *kSeed = TAVREL_STRESS_SEED;
constexpr const char *kSeconds = TAVREL_STRESS_SECONDS;

struct DriverResult {
    bool started = false;
    bool timed_out = false;
    int status = 0;
    std::string output;
};

// The driver process, killed if the test leaves early (its X server and manager die with it).
class DriverProcess {
  public:
    ~DriverProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) close(fd_);
    }

    DriverResult run(const std::vector<std::string> &args, std::chrono::seconds limit) {
        DriverResult r;
        int fds[2];
        if (pipe(fds) != 0) return r;
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ < 0) return r;
        if (pid_ == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            close(fds[0]);
            close(fds[1]);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        fd_ = fds[0];
        r.started = true;
        auto deadline = std::chrono::steady_clock::now() + limit;
        char buf[4096];
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0) {
                r.timed_out = true;
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            r.output.append(buf, static_cast<size_t>(n));
        }
        if (r.timed_out) kill(pid_, SIGKILL);
        waitpid(pid_, &r.status, 0);
        pid_ = -1;
        return r;
    }

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

TEST(Stress, ShortSeededRunKeepsEveryInvariant) {
    DriverProcess driver;
    DriverResult r = driver.run({TAVREL_STRESS_BINARY, "--seed", kSeed, "--seconds", kSeconds,
                                 "--wm", TAVREL_BINARY, "--clients", "4"},
                                std::chrono::seconds(270));
    ASSERT_TRUE(r.started);
    ASSERT_FALSE(r.timed_out) << "the stress driver did not finish in time\n" << r.output;
    const bool exited_zero = WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0;
    const bool no_violation = r.output.find("VIOLATION") == std::string::npos;
    // The whole output once, with every violation and what led to it.
    EXPECT_TRUE(exited_zero && no_violation) << r.output;
    EXPECT_NE(r.output.find("crashes 0,"), std::string::npos);
    EXPECT_NE(r.output.find("windows lost 0,"), std::string::npos);
    EXPECT_NE(r.output.find("violations 0"), std::string::npos);
    // The storm did happen.
    auto at = r.output.find("operations ");
    ASSERT_NE(at, std::string::npos) << r.output;
    EXPECT_GT(std::atoll(r.output.c_str() + at + 11), 1000);
}

} // namespace
