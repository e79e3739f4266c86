// The thin layer over the X connection.
#include "x/connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlibint.h>
#include <malloc.h>

#include <cstdlib>

namespace x {

std::optional<std::vector<uint32_t>> PropertyView::longs(Atom t) const {
    if (!is(t, 32)) return std::nullopt;
    auto *v = static_cast<const uint32_t *>(data);
    return std::vector<uint32_t>(v, v + items);
}

bool PropertyView::lists_atom(Atom a) const {
    if (!is(XA_ATOM, 32)) return false;
    auto *v = static_cast<const uint32_t *>(data);
    for (size_t i = 0; i < items; ++i)
        if (v[i] == a) return true;
    return false;
}

void Property::Free::operator()(void *p) const {
    std::free(p);
}

PropertyView Property::view() const {
    PropertyView v;
    if (!reply_ || reply_->format == 0) return v;
    v.type = reply_->type;
    v.format = reply_->format;
    v.items = static_cast<size_t>(xcb_get_property_value_length(reply_.get())) /
              (static_cast<size_t>(reply_->format) / 8);
    v.data = xcb_get_property_value(reply_.get());
    return v;
}

PropertyCookie ask_property(Display *d, Window w, Atom prop, Atom type, uint32_t longs) {
    return {xcb_get_property(XGetXCBConnection(d), 0, static_cast<xcb_window_t>(w),
                             static_cast<xcb_atom_t>(prop), static_cast<xcb_atom_t>(type), 0,
                             longs),
            true};
}

Property property_reply(Display *d, PropertyCookie c) {
    if (!c.asked) return Property();
    return Property(xcb_get_property_reply(XGetXCBConnection(d), c.cookie, nullptr));
}

std::vector<Window> query_tree(Display *d, Window w) {
    Window root_ret, parent_ret, *children = nullptr;
    unsigned int n = 0;
    if (!w || !XQueryTree(d, w, &root_ret, &parent_ret, &children, &n)) return {};
    std::vector<Window> out(children, children + n);
    if (children) XFree(children);
    return out;
}

unsigned long last_request_serial(Display *d) {
    return NextRequest(d) - 1;
}

namespace {

using WireToEvent = Bool (*)(Display *, XEvent *, xEvent *);
WireToEvent library_conversion[LASTEvent];
bool (*kept[LASTEvent])(const XEvent *);

// Converts as the library does, then asks whether the event is kept.
Bool convert_and_filter(Display *d, XEvent *re, xEvent *event) {
    const int type = event->u.u.type & 0x7f;
    return library_conversion[type](d, re, event) && kept[type](re);
}

} // namespace

void filter_arriving_events(Display *d, int type, bool (*keep)(const XEvent *)) {
    if (type < 0 || type >= LASTEvent) return;
    kept[type] = keep;
    WireToEvent previous = XESetWireToEvent(d, type, convert_and_filter);
    if (previous != convert_and_filter) library_conversion[type] = previous;
}

void release_spare_event_records(Display *d) {
    // The library takes new records from this list, and allocates when it is empty.
    _XQEvent *spare = d->qfree;
    d->qfree = nullptr;
    while (spare) {
        _XQEvent *next = spare->next;
        Xfree(spare);
        spare = next;
    }
    malloc_trim(0);
}

void send_protocol(Display *d, Window w, Atom wm_protocols, Atom protocol, Time t) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = wm_protocols;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(protocol);
    ev.xclient.data.l[1] = static_cast<long>(t);
    XSendEvent(d, w, False, NoEventMask, &ev);
}

namespace {
int ignore(Display *, XErrorEvent *) {
    return 0;
}
} // namespace

IgnoreErrors::IgnoreErrors() : previous_(XSetErrorHandler(ignore)) {}

IgnoreErrors::~IgnoreErrors() {
    XSetErrorHandler(previous_);
}

} // namespace x
