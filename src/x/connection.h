// A thin layer over the X connection: typed property reads through the library's XCB
// connection (asked for in batches, one round trip for many), the window tree as a
// vector, request serials, protocol messages and a scoped guard that ignores errors.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>
#include <xcb/xcb.h>

namespace x {

// A property's value as the server sent it; empty when the window has no such property
// (or the window is gone).
struct PropertyView {
    Atom type = 0;
    int format = 0;
    const void *data = nullptr;
    size_t items = 0;

    bool is(Atom t, int f) const { return data && type == t && format == f; }
    // The 32-bit items when the property has that type and format.
    std::optional<std::vector<uint32_t>> longs(Atom t) const;
    // Whether a list of atoms holds a.
    bool lists_atom(Atom a) const;
};

// A property read asked for and not yet answered.
struct PropertyCookie {
    xcb_get_property_cookie_t cookie{};
    bool asked = false;
};

// The reply to a property read; owns it.
class Property {
  public:
    Property() = default;
    explicit Property(xcb_get_property_reply_t *r) : reply_(r) {}
    PropertyView view() const;

  private:
    struct Free {
        void operator()(void *p) const;
    };
    std::unique_ptr<xcb_get_property_reply_t, Free> reply_;
};

// Asks for up to `longs` 32-bit units of the property, of the given type only.
PropertyCookie ask_property(Display *d, Window w, Atom prop, Atom type, uint32_t longs);
// Waits for the reply; an error about the window comes to the error handler later.
Property property_reply(Display *d, PropertyCookie c);

// The children of w, bottom to top; empty when w is gone.
std::vector<Window> query_tree(Display *d, Window w);

// The serial of the request just made. Read after the request: the X library learns the
// numbers its XCB connection used for requests of its own only when it makes the next one.
unsigned long last_request_serial(Display *d);

// With the event queue empty: lets go of the records the X library keeps for as many
// events as the queue ever held (a burst of a thousand windows leaves thousands), and
// gives the freed heap pages back to the system.
void release_spare_event_records(Display *d);

// Events of the type for which keep returns false are dropped as they arrive: never
// queued, never seen by any search of the queue.
void filter_arriving_events(Display *d, int type, bool (*keep)(const XEvent *));

// Sends a WM_PROTOCOLS client message naming `protocol` to the window.
void send_protocol(Display *d, Window w, Atom wm_protocols, Atom protocol, Time t);

// While it lives, X errors are ignored; the handler before it comes back after.
class IgnoreErrors {
  public:
    IgnoreErrors();
    ~IgnoreErrors();
    IgnoreErrors(const IgnoreErrors &) = delete;
    IgnoreErrors &operator=(const IgnoreErrors &) = delete;

  private:
    XErrorHandler previous_;
};

} // namespace x
