// The pointer-grab loops: root-click mode, interactive move and resize, tab drag and
// the close click. Each runs its own event loop until the button is released (root-click
// mode: until a window is picked), and ends early when its client goes or the manager
// must stop.
#pragma once

struct Client;

void root_click_mode();
void interactive_move(Client *c);
void interactive_resize(Client *c);
void drag_tab(Client *c);
void close_on_release(Client *c);
