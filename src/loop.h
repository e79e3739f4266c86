// The event loop: waiting on the X connection beside the signal pipe, the table from
// event type to handler, the X error policy and the signal-driven shutdown.
#pragma once

#include <X11/Xlib.h>

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
[[noreturn]] void run_event_loop();
