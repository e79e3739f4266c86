// Decoders of the window properties the manager follows, and PropertyNotify.
#include "hints.h"

#include <X11/Xatom.h>

#include <cstring>

#include "clients.h"
#include "docks.h"
#include "ewmh.h"
#include "focus.h"
#include "frame.h"
#include "state.h"
#include "text.h"
#include "x/atoms.h"

namespace {

void update_name(Client *c, const x::PropertyView &v) {
    c->name = decode_text(wm.display, v);
}

void update_net_name(Client *c, const x::PropertyView &v) {
    c->net_name.reset();
    if (v.is(atoms[atom::UTF8_STRING], 8) && v.items > 0)
        c->net_name = text::repair_utf8(static_cast<const unsigned char *>(v.data), v.items);
}

// WM_NORMAL_HINTS as the X library decodes it: 15 items at least, the base size and
// gravity only with all 18.
std::optional<XSizeHints> decode_size_hints(const x::PropertyView &pv) {
    auto v = pv.longs(XA_WM_SIZE_HINTS);
    if (!v || v->size() < 15) return std::nullopt;
    auto at = [&](size_t i) { return static_cast<int>(static_cast<int32_t>((*v)[i])); };
    XSizeHints h{};
    const long flags = static_cast<long>((*v)[0]);
    h.flags = flags & (USPosition | USSize | PAllHints);
    h.x = at(1);
    h.y = at(2);
    h.width = at(3);
    h.height = at(4);
    h.min_width = at(5);
    h.min_height = at(6);
    h.max_width = at(7);
    h.max_height = at(8);
    h.width_inc = at(9);
    h.height_inc = at(10);
    h.min_aspect.x = at(11);
    h.min_aspect.y = at(12);
    h.max_aspect.x = at(13);
    h.max_aspect.y = at(14);
    if (v->size() >= 18) {
        h.flags |= flags & (PBaseSize | PWinGravity);
        h.base_width = at(15);
        h.base_height = at(16);
        h.win_gravity = at(17);
    }
    return h;
}

// A window taken over without size hints gets increments of 1; one whose hints go away
// later keeps what it had.
void update_size_hints(Client *c, const x::PropertyView &v, bool taking_over) {
    if (auto h = decode_size_hints(v)) {
        c->size_hints = *h;
    } else if (taking_over) {
        c->size_hints = XSizeHints{};
        c->size_hints.width_inc = 1;
        c->size_hints.height_inc = 1;
    }
}

void update_wm_hints(Client *c, const x::PropertyView &v, bool taking_over) {
    const WmHints h = decode_wm_hints(v);
    c->accepts_input = h.input;
    const bool urgent = h.flags & XUrgencyHint;
    if (urgent == c->urgency_hint) return;
    const bool before = wants_attention(c);
    c->urgency_hint = urgent;
    c->urgency_seen = false;
    if (taking_over || before == wants_attention(c)) return;
    if (c != wm.active) paint_inactive(c);
    ewmh_update_state(c);
}

void update_protocols(Client *c, const x::PropertyView &v) {
    c->takes_focus = v.lists_atom(atoms[atom::WM_TAKE_FOCUS]);
    c->deletes_window = v.lists_atom(atoms[atom::WM_DELETE_WINDOW]);
}

struct Source {
    Atom property, type;
    uint32_t longs;
};

Source source(hints::Followed which) {
    switch (which) {
    case hints::wm_name:
        return {XA_WM_NAME, AnyPropertyType, 16384};
    case hints::net_wm_name:
        return {atoms[atom::_NET_WM_NAME], atoms[atom::UTF8_STRING], 16384};
    case hints::normal_hints:
        return {XA_WM_NORMAL_HINTS, XA_WM_SIZE_HINTS, 18};
    case hints::wm_hints:
        return {XA_WM_HINTS, XA_WM_HINTS, 9};
    case hints::wm_protocols:
    case hints::followed_count:
        break;
    }
    return {atoms[atom::WM_PROTOCOLS], XA_ATOM, 1024};
}

void update(Client *c, hints::Followed which, const x::PropertyView &v, bool taking_over) {
    switch (which) {
    case hints::wm_name:
        update_name(c, v);
        break;
    case hints::net_wm_name:
        update_net_name(c, v);
        break;
    case hints::normal_hints:
        update_size_hints(c, v, taking_over);
        break;
    case hints::wm_hints:
        update_wm_hints(c, v, taking_over);
        break;
    case hints::wm_protocols:
    case hints::followed_count:
        update_protocols(c, v);
        break;
    }
}

x::PropertyCookie ask(Display *d, Window w, hints::Followed which) {
    const Source s = source(which);
    return x::ask_property(d, w, s.property, s.type, s.longs);
}

} // namespace

namespace hints {

void ask_followed(Display *d, Window w, Asked *asked) {
    for (int i = 0; i < followed_count; ++i)
        asked->cookies[i] = ask(d, w, static_cast<Followed>(i));
}

WmHints take_followed(Display *d, const Asked &asked, Client *c) {
    WmHints wm_hints;
    for (int i = 0; i < followed_count; ++i) {
        x::Property p = x::property_reply(d, asked.cookies[i]);
        update(c, static_cast<Followed>(i), p.view(), true);
        if (i == hints::wm_hints) wm_hints = decode_wm_hints(p.view());
    }
    return wm_hints;
}

} // namespace hints

WmHints decode_wm_hints(const x::PropertyView &pv) {
    WmHints h;
    auto v = pv.longs(XA_WM_HINTS);
    if (!v || v->size() < 8) return h;
    h.flags = static_cast<long>((*v)[0]);
    if (h.flags & InputHint) h.input = (*v)[1] != 0;
    if (h.flags & StateHint) h.initial_state = static_cast<int>(static_cast<int32_t>((*v)[2]));
    return h;
}

bool decode_undecorated(const x::PropertyView &pv) {
    // flags, functions, decorations, input mode, status; bit 1 of the flags: decorations set.
    auto v = pv.longs(atoms[atom::_MOTIF_WM_HINTS]);
    return v && v->size() >= 3 && ((*v)[0] & 2) && (*v)[2] == 0;
}

std::optional<std::string> decode_class(const x::PropertyView &pv) {
    if (!pv.is(XA_STRING, 8)) return std::nullopt;
    // "instance\0class\0": the class is the second string.
    auto *v = static_cast<const char *>(pv.data);
    const char *end = v + pv.items;
    const char *second = static_cast<const char *>(std::memchr(v, '\0', pv.items));
    if (!second || ++second >= end) return std::nullopt;
    return std::string(second, strnlen(second, static_cast<size_t>(end - second)));
}

std::optional<std::string> decode_text(Display *d, const x::PropertyView &v) {
    if (!v.data || v.format != 8) return std::nullopt;
    if (v.items == 0) return std::string();
    XTextProperty property{};
    property.value = static_cast<unsigned char *>(const_cast<void *>(v.data));
    property.encoding = v.type;
    property.format = 8;
    property.nitems = v.items;
    char **list = nullptr;
    int count = 0;
    // Success, or the number of characters that had no equivalent (those are marked).
    const int status = Xutf8TextPropertyToTextList(d, &property, &list, &count);
    std::optional<std::string> out;
    if (status >= Success && list && count > 0)
        out = text::repair_utf8(reinterpret_cast<const unsigned char *>(list[0]),
                                std::strlen(list[0]));
    if (list) XFreeStringList(list);
    return out;
}

bool property_followed(Atom a) {
    for (int i = 0; i < hints::followed_count; ++i)
        if (source(static_cast<hints::Followed>(i)).property == a) return true;
    return a == atoms[atom::_NET_WM_STRUT] || a == atoms[atom::_NET_WM_STRUT_PARTIAL];
}

void handle_property_notify(XPropertyEvent *e) {
    Client *c = lookup_client(e->window);
    if (!c) dock_property_changed(e->window, e->atom);
    if (!c || e->window != c->window) return;
    for (int i = 0; i < hints::followed_count; ++i) {
        const auto which = static_cast<hints::Followed>(i);
        if (source(which).property != e->atom) continue;
        x::Property p = x::property_reply(wm.display, ask(wm.display, c->window, which));
        if (c->doomed) return;
        update(c, which, p.view(), false);
        if (which == hints::wm_name || which == hints::net_wm_name) refresh_tab(c);
        return;
    }
}
