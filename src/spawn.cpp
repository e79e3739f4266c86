// The command launcher: runs a command through the shell, fully detached.
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "spawn.h"

void spawn_command(const char *command, const char *display) {
    pid_t pid = fork();
    if (pid < 0) return;
    if (pid == 0) {
        // A signal that reaches this child must not run the manager's shutdown here.
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        setsid();
        if (fork() == 0) {
            if (display) setenv("DISPLAY", display, 1);
            execlp("/bin/sh", "sh", "-c", command, static_cast<char *>(nullptr));
            _exit(0);
        }
        _exit(0);
    }
    // Only the intermediate child, which ends at once; the command is adopted by init.
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}
