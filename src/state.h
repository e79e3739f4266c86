// The process-wide state of the running manager: the display and what setup prepared
// on it, the client list, focus and desktops.
#pragma once

#include <X11/Xlib.h>

#include <vector>

#include "calc.h"

struct Client;

struct ManagerState {
    Display *display = nullptr;
    int screen = 0;
    Window root = 0;
    int title_height = 0; // of the tab font (font.h)
    GC gc = nullptr;
    unsigned long fg_pixel = 0, active_bg_pixel = 0, bg_pixel = 0, fixed_pixel = 0;
    unsigned long attention_pixel = 0;
    Cursor move_cursor = 0, resize_cursor = 0, close_cursor = 0, tab_cursor = 0;
    // The screen heads, never empty: Xinerama's, or the whole screen as one.
    std::vector<calc::Rect> heads;
    // What each head leaves to windows when the docks have taken their struts.
    std::vector<calc::Rect> work;
    unsigned int numlock_mask = 0;
    int shape_present = 0;
    int shape_event_base = 0;
    int randr_event_base = -1;     // -1: no RandR
    int refresh_hz = 60;           // the screen's refresh rate; drags move no more often
    Client *client_list = nullptr; // newest first
    Client *active = nullptr;
    int current_desktop = 1;
    int desktop_count = 0;
    int quitting = 0;

    int client_count = 0;
    int doomed_count = 0;
};

extern ManagerState wm;
