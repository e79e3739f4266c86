// The atoms of the manager: one list, interned once at start-up. The extended hints
// listed first are the ones the manager implements; they alone are announced in
// _NET_SUPPORTED.
#pragma once

#include <X11/Xlib.h>

#include <vector>

#define TAVREL_SUPPORTED_ATOMS(X)                                                                  \
    X(_NET_SUPPORTED)                                                                              \
    X(_NET_SUPPORTING_WM_CHECK)                                                                    \
    X(_NET_WM_NAME)                                                                                \
    X(_NET_CLIENT_LIST)                                                                            \
    X(_NET_CLIENT_LIST_STACKING)                                                                   \
    X(_NET_ACTIVE_WINDOW)                                                                          \
    X(_NET_NUMBER_OF_DESKTOPS)                                                                     \
    X(_NET_CURRENT_DESKTOP)                                                                        \
    X(_NET_DESKTOP_VIEWPORT)                                                                       \
    X(_NET_DESKTOP_GEOMETRY)                                                                       \
    X(_NET_WM_DESKTOP)                                                                             \
    X(_NET_WM_STATE)                                                                               \
    X(_NET_WM_STATE_FULLSCREEN)                                                                    \
    X(_NET_WM_STATE_HIDDEN)                                                                        \
    X(_NET_WM_STATE_MAXIMIZED_VERT)                                                                \
    X(_NET_WM_STATE_MAXIMIZED_HORZ)                                                                \
    X(_NET_WM_STATE_STICKY)                                                                        \
    X(_NET_WM_STATE_ABOVE)                                                                         \
    X(_NET_WM_STATE_BELOW)                                                                         \
    X(_NET_WM_STATE_DEMANDS_ATTENTION)                                                             \
    X(_NET_WM_STATE_SKIP_TASKBAR)                                                                  \
    X(_NET_WM_STATE_SKIP_PAGER)                                                                    \
    X(_NET_CLOSE_WINDOW)                                                                           \
    X(_NET_WM_MOVERESIZE)                                                                          \
    X(_NET_MOVERESIZE_WINDOW)                                                                      \
    X(_NET_FRAME_EXTENTS)                                                                          \
    X(_NET_REQUEST_FRAME_EXTENTS)                                                                  \
    X(_NET_WM_WINDOW_TYPE)                                                                         \
    X(_NET_WM_WINDOW_TYPE_DOCK)                                                                    \
    X(_NET_WM_STRUT)                                                                               \
    X(_NET_WM_STRUT_PARTIAL)                                                                       \
    X(_NET_WORKAREA)

// COMPOUND_TEXT is interned with the others for the X library, which looks it up as it
// decodes a WM_NAME: it finds it in its cache instead of asking the server.
#define TAVREL_OTHER_ATOMS(X)                                                                      \
    X(WM_STATE)                                                                                    \
    X(WM_PROTOCOLS)                                                                                \
    X(WM_DELETE_WINDOW)                                                                            \
    X(WM_TAKE_FOCUS)                                                                               \
    X(WM_CHANGE_STATE)                                                                             \
    X(UTF8_STRING)                                                                                 \
    X(_MOTIF_WM_HINTS)                                                                             \
    X(COMPOUND_TEXT)

namespace atom {
#define TAVREL_ATOM_ID(name) name,
enum Id { TAVREL_SUPPORTED_ATOMS(TAVREL_ATOM_ID) TAVREL_OTHER_ATOMS(TAVREL_ATOM_ID) count };
#undef TAVREL_ATOM_ID
// The ids before this one are the supported extended hints.
constexpr int kSupportedCount = WM_STATE;
} // namespace atom

// Filled by intern_atoms, indexed by atom::Id.
extern Atom atoms[atom::count];

// One round trip for the whole list.
void intern_atoms(Display *d);
// The supported extended hints, in the order of the list.
std::vector<long> supported_atoms();
