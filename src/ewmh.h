// Extended window-manager hints for today's tools (window lists, pagers, switchers,
// full-screen players, docks): what the manager publishes, and the client messages it
// follows, the ICCCM requests for iconifying among them.
#pragma once

#include <X11/Xlib.h>

struct Client;

void ewmh_setup();
void ewmh_client_new(Client *c); // after a client is framed and mapped
void ewmh_client_gone(Window w); // after a client is released
void ewmh_update_client_list();
void ewmh_update_active();
// Marks the stacking order changed; the list follows when the manager goes idle.
void ewmh_restacked();
void ewmh_update_stacking();
void ewmh_update_desktops(); // number and current desktop
void ewmh_update_desktop_geometry();
void ewmh_update_client_desktop(Client *c);
void ewmh_update_state(Client *c);
void ewmh_frame_extents(Client *c);
void set_fullscreen(Client *c, bool on);
void handle_client_message(XClientMessageEvent *e);
