// Private X servers: Xvfb, and Xephyr with two Xinerama heads on an outer Xvfb.
#include <X11/Xatom.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "harness.h"

namespace harness {

namespace {

// Starts a server with `-displayfd 3` inserted after the program name and returns it
// with the display number it wrote back.
std::unique_ptr<Process> start_server(std::vector<std::string> argv, Process::Options options,
                                      std::string *display) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) < 0) throw std::runtime_error("pipe2 failed");
    argv.insert(argv.begin() + 1, {"-displayfd", "3"});
    options.pass_fd = fds[1];
    std::unique_ptr<Process> server;
    try {
        server = std::make_unique<Process>(argv, options);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        throw;
    }
    close(fds[1]);

    std::string number;
    const Deadline deadline = within(std::chrono::seconds(30));
    bool done = false;
    while (!done) {
        auto now = Clock::now();
        if (now >= deadline) break;
        pollfd p{fds[0], POLLIN, 0};
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
        if (poll(&p, 1, left + 1) < 0 && errno != EINTR) break;
        if (!(p.revents & (POLLIN | POLLHUP))) continue;
        char c;
        ssize_t n = read(fds[0], &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n')
            done = true;
        else
            number += c;
    }
    close(fds[0]);
    if (number.empty() || !std::all_of(number.begin(), number.end(), ::isdigit)) {
        server->stop();
        throw std::runtime_error(argv[0] + " did not start: " + server->err());
    }
    *display = ":" + number;
    return server;
}

Display *open_or_throw(const std::string &display) {
    Display *d = XOpenDisplay(display.c_str());
    if (!d) throw std::runtime_error("cannot open display " + display);
    return d;
}

} // namespace

XServer::XServer(int width, int height, int depth, std::vector<std::string> extra_args)
    : width_(width), height_(height) {
    std::vector<std::string> argv = {
        "Xvfb",
        "-screen",
        "0",
        std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth),
        "-nolisten",
        "tcp",
        "-noreset"};
    argv.insert(argv.end(), extra_args.begin(), extra_args.end());
    server_ = start_server(argv, {}, &display_);
}

XServer XServer::nested(std::vector<std::string> args, int ow, int oh) {
    XServer x{Unstarted{}};
    std::string outer_display;
    x.outer_ =
        start_server({"Xvfb", "-screen", "0", std::to_string(ow) + "x" + std::to_string(oh) + "x24",
                      "-nolisten", "tcp", "-noreset"},
                     {}, &outer_display);
    Process::Options options;
    options.env.push_back({"DISPLAY", outer_display});
    args.insert(args.begin(), "Xephyr");
    args.insert(args.end(), {"-nolisten", "tcp", "-noreset"});
    x.server_ = start_server(args, options, &x.display_);
    Display *d = open_or_throw(x.display_);
    x.width_ = DisplayWidth(d, DefaultScreen(d));
    x.height_ = DisplayHeight(d, DefaultScreen(d));
    XCloseDisplay(d);
    return x;
}

XServer XServer::two_heads(int w1, int h1, int w2, int h2) {
    // The outer screen only has to hold Xephyr's window.
    return nested({"+xinerama", "-screen", std::to_string(w1) + "x" + std::to_string(h1), "-screen",
                   std::to_string(w2) + "x" + std::to_string(h2)},
                  std::max(1280, w1 + w2), std::max({1024, h1, h2}));
}

XServer XServer::resizable(int width, int height) {
    return nested({"-resizeable", "-screen", std::to_string(width) + "x" + std::to_string(height)},
                  std::max(1600, width), std::max(1200, height));
}

void XServer::set_resources(const std::string &text) const {
    Display *d = open_or_throw(display_);
    XChangeProperty(d, DefaultRootWindow(d), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(text.data()),
                    static_cast<int>(text.size()));
    XSync(d, False);
    XCloseDisplay(d);
}

std::string unused_display() {
    for (int n = 200; n < 1000; ++n) {
        struct stat st;
        // Formatted by hand: GCC 12 at -O3 warns wrongly about ":" + std::to_string(n).
        char name[16], sock[64], lock[64];
        std::snprintf(name, sizeof name, ":%d", n);
        std::snprintf(sock, sizeof sock, "/tmp/.X11-unix/X%d", n);
        std::snprintf(lock, sizeof lock, "/tmp/.X%d-lock", n);
        if (stat(sock, &st) != 0 && stat(lock, &st) != 0) return name;
    }
    throw std::runtime_error("no unused display number");
}

} // namespace harness
