// The command launcher.
#pragma once

// Runs the command through the shell, fully detached; with a display, on that display
// (DISPLAY set to it), else in the manager's environment as it is.
void spawn_command(const char *command, const char *display);
