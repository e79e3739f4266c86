// A short stress run with a fixed seed: hostile clients and user input against the manager for
// half a minute or a minute, with every invariant of the driver holding throughout and after
// SIGTERM.

#include "harness.h"

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

// Runs the driver to its end, or ends it at the limit (its X server and manager die with
// it, as they do when the test leaves early).
DriverResult run_driver(const std::vector<std::string> &args, std::chrono::seconds limit) {
    harness::Process driver(args);
    DriverResult r;
    r.started = true;
    r.status = driver.wait_exit(harness::within(limit));
    r.timed_out = r.status == harness::Process::kStillRunning;
    driver.stop();
    r.output = driver.out() + driver.err();
    return r;
}

TEST(Stress, ShortSeededRunKeepsEveryInvariant) {
    DriverResult r = run_driver({TAVREL_STRESS_BINARY, "--seed", kSeed, "--seconds", kSeconds,
                                 "--wm", TAVREL_BINARY, "--clients", "4"},
                                std::chrono::seconds(270));
    ASSERT_TRUE(r.started);
    ASSERT_FALSE(r.timed_out) << "the stress driver did not finish in time\n" << r.output;
    const bool exited_zero = r.status == 0;
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
