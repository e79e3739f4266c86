// Start-up: the settings and the preparation of the display.
#pragma once

// The command line, with its messages and exits (version, usage).
void parse_options(int argc, char **argv);
// Connects, prepares everything the manager needs and adopts the windows on screen.
void setup_display();
