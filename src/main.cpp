// Entry: settings, signals, the display, then the event loop.
#include "loop.h"
#include "setup.h"

int main(int argc, char **argv) {
    parse_options(argc, argv);
    remember_command_line(argv);
    install_signal_handlers();
    setup_display();
    run_event_loop();
}
