// Geometry: the screen heads and the pointer, placement of new windows, size hints,
// snapping and maximizing. The arithmetic itself lives in calc; this feeds it.
#pragma once

#include <X11/Xlib.h>

#include <vector>

#include "calc.h"

struct Client;

void query_pointer_root(int *x, int *y);
// The heads Xinerama reports when it is active, else the whole screen as one head.
void find_heads();
// The screen may change size or heads (RandR): the manager hears of it.
void select_screen_changes();
// After a screen change: the heads again, and every window back on one.
void handle_screen_change(XEvent *e);
// Index of the head holding the point (the first one when none does).
int head_at(int px, int py);
int head_under_pointer();
calc::Rect head_rect(int index);
// The head less the struts of the docks on it: where windows are placed and maximized.
calc::Rect work_rect(int index);

// Placement of a window mapped for the first time, with the pointer position known.
void place_client_at(Client *c, int px, int py);
void constrain_to_hints(Client *c);
// The windows c snaps to: the others shown on the current desktop, as plain geometry.
// Nothing else moves while a drag holds the pointer (every request waits until it ends),
// so a drag takes them once, and again when it changes the desktop.
std::vector<calc::SnapWindow> snap_neighbours(const Client *c);
// Snapping; the pointer position decides the head (queried when px/py are null), the
// neighbours are taken now when not given.
void snap_geometry(Client *c, bool resizing, const int *px = nullptr, const int *py = nullptr,
                   const std::vector<calc::SnapWindow> *neighbours = nullptr);
void toggle_max_vertical(Client *c);
void toggle_max_horizontal(Client *c);
