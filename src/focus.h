// The active client, its colours, the input focus and focus cycling.
#pragma once

#include <X11/Xlib.h>

struct Client;

// Makes c the active client (null: none) and recolours the frames.
void set_active(Client *c);
// Whether c asks for the user's attention (and is drawn in the attention colour).
bool wants_attention(const Client *c);
// Frame and tab of a client that is not active, in their colour.
void paint_inactive(Client *c);
// Gives c the focus as its hints ask; t is the time of the event that led here.
void focus_client(Client *c, Time t = CurrentTime);
void handle_enter_notify(XCrossingEvent *e);
// After the active client went away (released, hidden, sent to another desktop): the
// client under the pointer becomes active as if the pointer had just entered it; over the
// root the focus follows the pointer and nobody is active, except that a client just hidden
// stays the one the keys act on (so the key that hid it brings it back), unannounced.
void focus_under_pointer(bool keep_hidden = false);
void cycle_focus();
