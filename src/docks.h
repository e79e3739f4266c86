// Panels: dock windows, kept above the others, and the space their struts reserve.
#pragma once

#include <X11/Xlib.h>

// A dock mapped itself or was found on screen: it is followed until it goes.
void dock_added(Window w);
// Events about windows that are no client's: a dock's end, unmap or strut change.
void dock_gone(Window w);
void dock_property_changed(Window w, Atom a);
// Keeps the docks above every other window.
void raise_docks();
// The struts of all docks taken from the heads again (after the heads changed).
void update_work_areas();
