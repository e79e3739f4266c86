// The active client, its colours, the input focus and focus cycling.
#pragma once

#include <X11/Xlib.h>

struct Client;

// Makes c the active client (null: none) and recolours the frames.
void set_active(Client *c);
// Gives c the focus as its hints ask; t is the time of the event that led here.
void focus_client(Client *c, Time t = CurrentTime);
void handle_enter_notify(XCrossingEvent *e);
void cycle_focus();
