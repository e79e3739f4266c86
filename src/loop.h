// The event loop: waiting on the X connection beside the signal pipe, the table from
// event type to handler, the X error policy and the signal-driven shutdown.
#pragma once

#include <X11/Xlib.h>

#include <chrono>

// Installs the handlers of SIGTERM, SIGINT and SIGHUP (until the display is open a signal
// simply ends the process; afterwards it leads to the orderly shutdown) and of SIGUSR1
// (the manager runs itself again in place, keeping every window as it is).
void install_signal_handlers();
// The arguments a restart in place (SIGUSR1) runs the manager with again.
void remember_command_line(char **argv);
void mark_display_open();
// The policy for X errors once the manager runs.
int error_handler(Display *d, XErrorEvent *e);
// Releases every client an X error named. Called before each event.
void release_doomed_clients();
// Nested loops: the next event matching mask, or false when the manager must stop
// (a shutdown signal arrived, or *stop became true).
bool next_masked_event(long mask, XEvent *ev, const bool *stop = nullptr);
// The same, waiting at most until the deadline: timeout when nothing came before it.
enum class Next { event, timeout, stop };
Next next_masked_event_until(long mask, XEvent *ev, const bool *stop,
                             std::chrono::steady_clock::time_point deadline);
// From the moment the root is selected: drops the server's reports of what the manager
// did itself, and of changes it does not follow, as they arrive (see loop.cpp).
void drop_echoes();
// While a drag waits for the server to have moved its window, ConfigureNotify is kept.
void keep_configure_notifies(bool keep);
[[noreturn]] void run_event_loop();
