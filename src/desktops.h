// Virtual desktops and fixed windows.
#pragma once

struct Client;

// Whether the client's desktop is being shown (fixed clients are shown on all): only then
// are its windows mapped, and only then does unmapping them cause unmaps to count.
bool on_current_desktop(const Client *c);
void switch_desktop(int n);
// Switches to desktop n, first growing the count when n is beyond it.
void goto_desktop(int n);
// Unmaps a shown client for a desktop change (noting the unmaps), or maps it again.
void take_out_of_view(Client *c);
void bring_into_view(Client *c);
// Moves a client to desktop d (0: fixed), mapping or unmapping it as the view needs.
void move_to_desktop(Client *c, int d);
void toggle_fixed(Client *c);
// Gives c's dialogs c's desktop, before a desktop switch that carries c along.
void carry_transients(Client *c);
