// The window properties the manager reads: one decoder for each, called both when a
// window is taken over (from the batched read) and when the property changes.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <optional>
#include <string>

#include "x/connection.h"

struct Client;

// WM_HINTS: the fields the manager uses.
struct WmHints {
    long flags = 0;
    bool input = true;
    int initial_state = NormalState;
};

// The properties of a client window the manager follows while it manages it.
namespace hints {
enum Followed { wm_name, net_wm_name, normal_hints, wm_hints, wm_protocols, followed_count };

// Read requests for every followed property of a window, sent together.
struct Asked {
    x::PropertyCookie cookies[followed_count];
};
void ask_followed(Display *d, Window w, Asked *asked);
// Decodes the replies into the record of a window being taken over; returns its WM_HINTS
// for the state it asks to start in.
WmHints take_followed(Display *d, const Asked &asked, Client *c);
} // namespace hints

WmHints decode_wm_hints(const x::PropertyView &v);
// _MOTIF_WM_HINTS: whether the window asks for no decorations at all (it draws its own).
bool decode_undecorated(const x::PropertyView &v);
// WM_CLASS: the class (the second string).
std::optional<std::string> decode_class(const x::PropertyView &v);
// A text property (WM_NAME) of any encoding the X library knows (STRING, COMPOUND_TEXT,
// UTF8_STRING, the locale's) in UTF-8, up to its first NUL; nothing when it is not text.
std::optional<std::string> decode_text(Display *d, const x::PropertyView &v);

void handle_property_notify(XPropertyEvent *e);
// Whether a change of this property matters to the manager (its handler reads it again).
bool property_followed(Atom a);
