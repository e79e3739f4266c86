// Pure window-management arithmetic: no X calls, only plain values in and out.
// Everything the manager decides about sizes and positions is computed here, so it
// can be unit-tested and benchmarked without a server.
#pragma once

#include <cstdint>

namespace calc {

// A screen head: the rectangle of one monitor in root coordinates.
struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// The part of WM_NORMAL_HINTS that constraints read.
struct SizeHints {
    long flags = 0;
    int min_width = 0, min_height = 0;
    int max_width = 0, max_height = 0;
    int width_inc = 0, height_inc = 0;
    int min_aspect_x = 0, min_aspect_y = 0;
    int base_width = 0, base_height = 0;
};

// Flag bits, as in Xutil.h (repeated so this file needs no X header).
constexpr long kUSPosition = 1L << 0;
constexpr long kPPosition = 1L << 2;
constexpr long kPMinSize = 1L << 4;
constexpr long kPMaxSize = 1L << 5;
constexpr long kPResizeInc = 1L << 6;
constexpr long kPAspect = 1L << 7;
constexpr long kPBaseSize = 1L << 8;
constexpr long kPWinGravity = 1L << 9;

// Sizes are held inside [1, kMaxSize] before anything is sent to the server (the
// protocol carries 16-bit sizes).
constexpr int kMaxSize = 32767;
int clamp_size(long long v);
// Coordinates are held inside the protocol's signed 16-bit range.
int clamp_coord(long long v);

// Offset a window of the given gravity is shifted by inside a frame of border b.
void gravity_offset(bool has_gravity, long win_gravity, int b, int *dx, int *dy);

// Index of the first head containing (px, py), or 0.
int head_index(const Rect *heads, int count, int px, int py);

// Placement of a window that is mapped for the first time.
struct PlaceInput {
    int x, y, w, h; // from the window's attributes
    int border;     // b
    int tab_height; // T: title height when the tab is visible, else 0
    int screen_w, screen_h;
    long hint_flags;    // WM_NORMAL_HINTS flags
    int hint_x, hint_y; // WM_NORMAL_HINTS position
    int px, py;         // pointer position
    Rect head;          // head under the pointer
    SizeHints hints;    // bent to when the window must shrink to fit the head
};
struct PlaceOutput {
    int x, y, w, h;
};
// A window larger than its head shrinks (as its size hints allow) so that frame and tab
// fit, and frame and tab are kept on the head.
PlaceOutput place(const PlaceInput &in);
// Moves a window (x, y of its inside corner) right and down until the left and top of its
// frame and tab are on the head: placement puts the frame's outer corner on the head, and
// a gravity other than north-west can leave the tab above it.
void keep_tab_on_head(const Rect &head, int b, int T, int *x, int *y);

// Where a dialog of w x h (inside corner) goes: its frame centred over its parent's frame,
// then moved onto the parent's head with its tab (border b, tab height T).
void centre_over(const Rect &parent_frame, const Rect &head, int w, int h, int b, int T, int *x,
                 int *y);

// A resize by the edges of a window (bits: 1 left, 2 right, 4 top, 8 bottom) moved by the
// pointer's travel (dx, dy) from the rectangle it started as; sizes at least 1.
constexpr int kEdgeLeft = 1, kEdgeRight = 2, kEdgeTop = 4, kEdgeBottom = 8;
Rect resize_edges(const Rect &start, int edges, int dx, int dy);
// After the size hints changed r's size: the edges not moved stay where they started.
void anchor_edges(const Rect &start, int edges, Rect *r);

// The space a panel reserves along the screen's edges (_NET_WM_STRUT_PARTIAL): widths from
// the left, right, top and bottom edges of the screen, each over a range of the other axis.
struct Strut {
    int left = 0, right = 0, top = 0, bottom = 0;
    int left_start_y = 0, left_end_y = 0, right_start_y = 0, right_end_y = 0;
    int top_start_x = 0, top_end_x = 0, bottom_start_x = 0, bottom_end_x = 0;
};
// _NET_WM_STRUT (4 items) or _NET_WM_STRUT_PARTIAL (12), as the hints lay them out; a
// strut without ranges covers the whole edge.
Strut strut_from(const long *v, int n, int screen_w, int screen_h);
// The part of the head the struts leave to windows. A strut takes from a head only where
// its band overlaps it; the result keeps at least one pixel each way.
Rect work_area(const Rect &head, int screen_w, int screen_h, const Strut *struts, int count);

// A frame on no head goes onto the nearest one, kept inside it (its tab, T high, on it
// too); a frame that overlaps a head stays where it is.
Rect onto_nearest_head(const Rect *heads, int count, const Rect &frame, int T);

// Bends (w, h) to the size hints: increments, minimum, maximum, aspect, in that
// order. Computed in 64 bits; the result is clamped into [1, kMaxSize].
void constrain(const SizeHints &hints, int *w, int *h);

// Fits the tab to its text and the window width. text_width < 0 means "no name":
// the width is left as it was.
void fit_tab(int text_width, int window_width, int *tab_width, int *tab_offset);

// Edge snapping. The moving window and its neighbours are plain geometry; the caller
// offers each eligible neighbour in client-list order, then finishes with the head.
struct SnapWindow {
    int x, y, w, h, b, tab_visible;
};
struct SnapState {
    SnapWindow m;
    int s;
    int th;
    bool resizing;
    int dx, dy;
};
void snap_begin(SnapState *st, const SnapWindow &m, int s, int th, bool resizing);
void snap_offer(SnapState *st, const SnapWindow &n);
// Applies the corrections and the head edges; returns the new geometry in *out.
void snap_finish(const SnapState *st, const Rect &head, SnapWindow *out);

// Maximize toggles along one axis. pos/size are the window's coordinate and size on
// that axis, saved_* the saved values (saved_size 0: not maximized). After a
// maximize the caller applies the size hints.
void max_horizontal(const Rect &head, int border, int *x, int *w, int *saved_x, int *saved_w);
void max_vertical(const Rect &head, int border, int tab_visible, int th, int *y, int *h,
                  int *saved_y, int *saved_h);

// Whether the window class is named in a comma-separated list of classes (blanks
// around names ignored, case-sensitive, whole names only).
bool class_in_list(const char *list, const char *cls);

} // namespace calc
