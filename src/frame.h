// Frames and tabs: where they lie, building them, shapes, the tab's text and drawing,
// pushing a client's geometry and stacking to its windows, and configure requests.
#pragma once

#include <X11/Xlib.h>

#include "calc.h"

struct Client;

// The frame: the client window's rectangle grown by the border on every side.
calc::Rect frame_rect(const Client *c);
// The tab: on the frame's top edge, slid by the tab offset.
calc::Rect tab_rect(const Client *c);

// Creates the frame and the tab.
void create_frame(Client *c);
// Gives the frame the window's shape and reparents the window into it; returns the
// serial of the reparenting.
unsigned long reparent_into_frame(Client *c);
void handle_shape_notify(XEvent *e);

// Text width of the client's tab name in the manager's font, or -1 without a name.
int tab_text_width(Client *c);
void fit_tab(Client *c);
void draw_tab(Client *c);
// Fits, places and redraws the tab after the name changed.
void refresh_tab(Client *c);
void handle_expose(XExposeEvent *e);
// Frame and tab in one colour.
void paint(Client *c, unsigned long pixel);

// Pushes the record's position (move) or geometry to the frame, window and tab, and
// tells the application.
void move_client(Client *c);
void move_resize_client(Client *c);
// Moves and sizes the frame and the tab, and the client window only when asked (during
// an outline resize it follows at the end).
void move_resize_frame(Client *c, bool with_window);
// Raising or lowering a client takes its dialogs along, above it.
void raise_client(Client *c);
void lower_client(Client *c);
void raise_transients(Client *c);

void handle_configure_request(XConfigureRequestEvent *e);
