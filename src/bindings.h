// Key and mouse bindings: one table of key chords drives both the grabs and the
// dispatch; the button bindings of frames, tabs and the root.
#pragma once

#include <X11/Xlib.h>

// The modifier sets a grab of mods covers: with and without Caps Lock and NumLock, so
// the bindings work whichever of them is on. Returns how many of out[] are filled.
int lock_variants(unsigned int mods, unsigned int out[4]);

// The modifier NumLock sets, in wm.numlock_mask.
void find_numlock();
// Grabs every key chord of the table on the root window.
void grab_bindings();
// A new keyboard mapping: the keys are looked up and grabbed again.
void handle_mapping_notify(XMappingEvent *e);
// Alt with any button on the frame of the window the pointer entered.
void grab_alt_buttons(Window frame);

void handle_key_press(XKeyEvent *e);
void handle_button_press(XButtonEvent *e);
