// The pointer-grab loops: root-click mode, interactive move and resize, tab drag and
// the close click. Each runs its own event loop until the button is released (root-click
// mode: until a window is picked), and ends early when its client goes or the manager
// must stop.
#pragma once

struct Client;

void root_click_mode();
void interactive_move(Client *c);
// An application asked to be moved or resized (_NET_WM_MOVERESIZE): direction 0 to 7 the
// edges and corners clockwise from the top left, 8 move, 9 and 10 the keyboard variants of
// resize and move; the pointer was at (x, y) when it asked.
void client_moveresize(Client *c, long direction, int x, int y);
void interactive_resize(Client *c);
void drag_tab(Client *c);
void close_on_release(Client *c);
