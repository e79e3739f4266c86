// The command launcher.
#pragma once

// Runs the command through the shell, fully detached.
void spawn_command(const char *command);
