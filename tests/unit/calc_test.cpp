// Unit tests of the pure window arithmetic in calc: gravity, heads, placement, size
// hints, tab fitting, snapping, maximizing and the tabless class list.
#include "calc.h"

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <utility>
#include <vector>

namespace {

using calc::PlaceInput;
using calc::PlaceOutput;
using calc::Rect;
using calc::SizeHints;
using calc::SnapWindow;

constexpr Rect kScreen{0, 0, 800, 600};
constexpr int kTitle = 15;

// ---------------------------------------------------------------------------
// Gravity

TEST(GravityOffset, EachGravityShiftsAsItsRowSays) {
    struct Row {
        long gravity;
        int dx, dy;
    };
    const int b = 3;
    const Row rows[] = {
        {0, 0, 0}, // Forget
        {1, b, b}, // NorthWest
        {2, 0, b}, // North
        {3, b, b}, // NorthEast
        {4, 0, 0}, // West
        {5, 0, 0}, // Center
        {6, 0, 0}, // East
        {7, b, b}, // SouthWest
        {8, 0, 0}, // South
        {9, 0, 0}, // SouthEast
        {10, b, b} // Static
    };
    for (const Row &r : rows) {
        int dx = -1, dy = -1;
        calc::gravity_offset(true, r.gravity, b, &dx, &dy);
        EXPECT_EQ(dx, r.dx) << "gravity " << r.gravity;
        EXPECT_EQ(dy, r.dy) << "gravity " << r.gravity;
    }
}

TEST(GravityOffset, MissingOrUnknownGravity) {
    int dx = -1, dy = -1;
    // No gravity in the hints: shifted like NorthWest, whatever the value field holds.
    calc::gravity_offset(false, 9, 2, &dx, &dy);
    EXPECT_EQ(dx, 2);
    EXPECT_EQ(dy, 2);
    // Values past Static, and negative ones taken as huge unsigned values, do not shift.
    for (long g : {11L, 64L, -1L, -9L, LONG_MAX, LONG_MIN}) {
        dx = dy = -1;
        calc::gravity_offset(true, g, 2, &dx, &dy);
        EXPECT_EQ(dx, 0) << "gravity " << g;
        EXPECT_EQ(dy, 0) << "gravity " << g;
    }
    // A zero border never shifts.
    calc::gravity_offset(false, 0, 0, &dx, &dy);
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(dy, 0);
}

// ---------------------------------------------------------------------------
// Heads

TEST(HeadIndex, SideBySideHeadsOwnTheirLeftAndTopEdgesOnly) {
    const Rect heads[] = {{0, 0, 800, 600}, {800, 0, 1024, 768}};
    EXPECT_EQ(calc::head_index(heads, 2, 799, 10), 0);
    EXPECT_EQ(calc::head_index(heads, 2, 800, 10), 1);
    EXPECT_EQ(calc::head_index(heads, 2, 0, 0), 0);
    EXPECT_EQ(calc::head_index(heads, 2, 1823, 767), 1);
    // Below the shorter head lies a gap that belongs to no head: the answer is 0.
    EXPECT_EQ(calc::head_index(heads, 2, 400, 600), 0);
    EXPECT_EQ(calc::head_index(heads, 2, 100, 700), 0);
    // Right of and below everything, and left of everything.
    EXPECT_EQ(calc::head_index(heads, 2, 1824, 10), 0);
    EXPECT_EQ(calc::head_index(heads, 2, -1, 10), 0);
}

TEST(HeadIndex, FirstMatchWinsAndLaterHeadsAreFound) {
    // Cloned outputs: the lower index wins.
    const Rect clones[] = {{0, 0, 800, 600}, {0, 0, 800, 600}};
    EXPECT_EQ(calc::head_index(clones, 2, 400, 300), 0);
    // The pointer only on the third head.
    const Rect three[] = {{0, 0, 100, 100}, {100, 0, 100, 100}, {-300, -200, 300, 200}};
    EXPECT_EQ(calc::head_index(three, 3, -1, -1), 2);
    EXPECT_EQ(calc::head_index(three, 3, -300, -200), 2);
    EXPECT_EQ(calc::head_index(three, 3, 150, 50), 1);
    // Heads past the count are not looked at.
    EXPECT_EQ(calc::head_index(three, 2, -1, -1), 0);
    EXPECT_EQ(calc::head_index(three, 0, 50, 50), 0);
}

// ---------------------------------------------------------------------------
// Placement

PlaceInput place_input(int x, int y, int w, int h) {
    PlaceInput in{};
    in.x = x;
    in.y = y;
    in.w = w;
    in.h = h;
    in.border = 2;
    in.tab_height = kTitle;
    in.screen_w = 800;
    in.screen_h = 600;
    in.hint_flags = 0;
    in.px = 400;
    in.py = 300;
    in.head = kScreen;
    return in;
}

void expect_place(const PlaceInput &in, int x, int y, int w, int h) {
    PlaceOutput o = calc::place(in);
    EXPECT_EQ(o.x, x);
    EXPECT_EQ(o.y, y);
    EXPECT_EQ(o.w, w);
    EXPECT_EQ(o.h, h);
}

TEST(Place, UnpositionedWindowFollowsThePointer) {
    PlaceInput in = place_input(0, 0, 400, 300);
    expect_place(in, 199, 149, 400, 300);
    // Pointer at the origin: (0, 0), then the tab is pushed onto the head.
    in.px = in.py = 0;
    expect_place(in, 0, 15, 400, 300);
    // Tab hidden: the frame top goes onto the head top instead.
    in.tab_height = 0;
    expect_place(in, 0, 0, 400, 300);
    // Pointer at the far corner: near the right and bottom edges, frame inside the head.
    in = place_input(0, 0, 400, 300);
    in.px = 799;
    in.py = 599;
    expect_place(in, 397, 297, 400, 300);
    // A window at (-20, 20) counts as unpositioned; one at (100, 0) does not.
    in = place_input(-20, 20, 400, 300);
    expect_place(in, 199, 149, 400, 300);
    in = place_input(100, 0, 400, 300);
    expect_place(in, 100, 15, 400, 300);
}

TEST(Place, PositionHintsOfUnpositionedWindows) {
    for (long flag : {calc::kUSPosition, calc::kPPosition}) {
        PlaceInput in = place_input(0, 0, 400, 300);
        in.hint_flags = flag;
        in.hint_x = 50;
        in.hint_y = 60;
        expect_place(in, 50, 60, 400, 300);
        // (0, 0) from the hints, then only the clamps move it.
        in.hint_x = in.hint_y = 0;
        expect_place(in, 0, 15, 400, 300);
        // Off-screen hints give (b, b) before the clamps.
        for (auto [hx, hy] : {std::pair{-10, 50}, {50, -1}, {801, 50}, {50, 601}}) {
            in.hint_x = hx;
            in.hint_y = hy;
            expect_place(in, 2, 15, 400, 300);
        }
    }
    // Hints are not consulted for a window that has a position of its own.
    PlaceInput in = place_input(300, 200, 100, 100);
    in.hint_flags = calc::kPPosition;
    in.hint_x = 10;
    in.hint_y = 500;
    expect_place(in, 300, 200, 100, 100);
    // Other flags do not count as position hints.
    in = place_input(0, 0, 400, 300);
    in.hint_flags = calc::kPMinSize | calc::kPWinGravity;
    in.hint_x = 50;
    in.hint_y = 60;
    expect_place(in, 199, 149, 400, 300);
}

TEST(Place, SizeLimitsAndHeadClamps) {
    // Tiny windows grow to 15 x 15, huge ones shrink until frame and tab fit the head.
    expect_place(place_input(100, 100, 10, 5), 100, 100, 15, 15);
    expect_place(place_input(100, 100, 900, 700), 0, 15, 796, 581);
    // As the size hints allow: increments of 10 from a base of 6 round down, a minimum
    // size beyond the head is kept.
    PlaceInput hinted = place_input(100, 0, 900, 700);
    hinted.hints.flags = calc::kPResizeInc | calc::kPBaseSize;
    hinted.hints.width_inc = hinted.hints.height_inc = 10;
    hinted.hints.base_width = hinted.hints.base_height = 6;
    expect_place(hinted, 0, 15, 796, 576);
    hinted.hints = {};
    hinted.hints.flags = calc::kPMinSize;
    hinted.hints.min_height = 650;
    expect_place(hinted, 0, 15, 796, 650);
    // After a gravity other than north-west, the tab is brought back onto the head.
    int x = 0, y = 15;
    calc::keep_tab_on_head(kScreen, 2, kTitle, &x, &y);
    EXPECT_EQ(x, 2);
    EXPECT_EQ(y, 17);
    // Overflowing the right and bottom edges: the frame ends on them.
    expect_place(place_input(700, 550, 200, 100), 596, 496, 200, 100);
    // A window on the second of two heads is clamped into that head, not the first.
    PlaceInput in = place_input(1300, 100, 400, 300);
    in.screen_w = 1600;
    in.head = {800, 0, 800, 600};
    expect_place(in, 1196, 100, 400, 300);
    in.x = 801;
    expect_place(in, 800, 100, 400, 300);
    // A head below another: the tab clamp uses that head's top.
    in = place_input(10, 610, 100, 100);
    in.screen_h = 1200;
    in.head = {0, 600, 800, 600};
    expect_place(in, 10, 615, 100, 100);
}

TEST(Place, AbsurdInputsGiveSaneGeometry) {
    const int extremes[] = {INT_MIN, INT_MIN + 1, -1, 0, 1, INT_MAX - 1, INT_MAX};
    for (int x : extremes)
        for (int y : extremes)
            for (int w : extremes)
                for (int h : extremes) {
                    PlaceInput in = place_input(x, y, w, h);
                    in.hint_flags = calc::kPPosition;
                    in.hint_x = w;
                    in.hint_y = x;
                    PlaceOutput o = calc::place(in);
                    // The size lands between the minimum and the screen, and the
                    // window lies inside the head with its tab on it (a window as
                    // tall as the screen hangs off the bottom instead).
                    EXPECT_GE(o.w, 15);
                    EXPECT_LE(o.w, 800);
                    EXPECT_GE(o.h, 15);
                    EXPECT_LE(o.h, 600);
                    EXPECT_GE(o.x, 0);
                    EXPECT_LE(o.x + o.w, 800);
                    EXPECT_GE(o.y, kTitle);
                    EXPECT_TRUE(o.y == kTitle || o.y + o.h <= 600);
                }
    // A screen of no size at all still yields a window of at least one pixel.
    PlaceInput in = place_input(0, 0, 400, 300);
    in.screen_w = in.screen_h = 0;
    in.head = {0, 0, 0, 0};
    PlaceOutput o = calc::place(in);
    EXPECT_GE(o.w, 1);
    EXPECT_GE(o.h, 1);
}

// ---------------------------------------------------------------------------
// Size hints

struct Size {
    int w, h;
};

Size constrained(const SizeHints &hints, int w, int h) {
    calc::constrain(hints, &w, &h);
    return {w, h};
}

TEST(Constrain, ResizeIncrementsFromTheBase) {
    SizeHints hn;
    hn.flags = calc::kPResizeInc | calc::kPBaseSize;
    hn.width_inc = 10;
    hn.height_inc = 10;
    hn.base_width = 4;
    hn.base_height = 4;
    EXPECT_EQ(constrained(hn, 57, 54).w, 54);
    EXPECT_EQ(constrained(hn, 57, 54).h, 54);
    // Below the base, the size moves toward it.
    EXPECT_EQ(constrained(hn, 2, 100).w, 4);
    hn.base_width = 10;
    hn.width_inc = 4;
    EXPECT_EQ(constrained(hn, 5, 100).w, 6);
    // A negative increment acts like its magnitude.
    hn.width_inc = -4;
    EXPECT_EQ(constrained(hn, 21, 100).w, 18);

    // The minimum serves as base when there is no base size.
    hn = SizeHints{};
    hn.flags = calc::kPResizeInc | calc::kPMinSize;
    hn.width_inc = 8;
    hn.height_inc = 1;
    hn.min_width = 20;
    hn.min_height = 1;
    EXPECT_EQ(constrained(hn, 45, 30).w, 44);
    // Neither base nor minimum: the base is 0.
    hn.flags = calc::kPResizeInc;
    hn.width_inc = 16;
    EXPECT_EQ(constrained(hn, 100, 30).w, 96);
    // A zero increment leaves its dimension alone; the other one is still fitted.
    hn.width_inc = 0;
    hn.height_inc = 5;
    Size s = constrained(hn, 101, 101);
    EXPECT_EQ(s.w, 101);
    EXPECT_EQ(s.h, 100);
    // Base size alone changes nothing.
    hn = SizeHints{};
    hn.flags = calc::kPBaseSize;
    hn.base_width = 7;
    hn.base_height = 7;
    s = constrained(hn, 100, 57);
    EXPECT_EQ(s.w, 100);
    EXPECT_EQ(s.h, 57);
    // No hints at all: unchanged.
    s = constrained(SizeHints{}, 123, 456);
    EXPECT_EQ(s.w, 123);
    EXPECT_EQ(s.h, 456);
}

TEST(Constrain, MinimumMaximumAndAspectInOrder) {
    SizeHints hn;
    hn.flags = calc::kPMinSize | calc::kPMaxSize;
    hn.min_width = hn.min_height = 100;
    hn.max_width = hn.max_height = 50;
    // The maximum comes later and wins over a larger minimum.
    Size s = constrained(hn, 70, 10);
    EXPECT_EQ(s.w, 50);
    EXPECT_EQ(s.h, 50);
    hn.max_width = hn.max_height = 400;
    s = constrained(hn, 10, 500);
    EXPECT_EQ(s.w, 100);
    EXPECT_EQ(s.h, 400);

    hn = SizeHints{};
    hn.flags = calc::kPAspect;
    hn.min_aspect_x = 4;
    hn.min_aspect_y = 3;
    EXPECT_EQ(constrained(hn, 400, 17).h, 300);
    EXPECT_EQ(constrained(hn, 401, 17).h, 300); // truncated
    hn.min_aspect_x = -4;
    EXPECT_EQ(constrained(hn, 400, 17).h, 300);
    EXPECT_EQ(constrained(hn, 400, 17).w, 400);
    hn.min_aspect_x = 0;
    EXPECT_EQ(constrained(hn, 400, 17).h, 17);
    // The aspect step comes last and may leave the maximum height behind.
    hn.flags = calc::kPAspect | calc::kPMaxSize;
    hn.min_aspect_x = 4;
    hn.max_width = 1000;
    hn.max_height = 200;
    s = constrained(hn, 400, 100);
    EXPECT_EQ(s.w, 400);
    EXPECT_EQ(s.h, 300);
    // ... and it works on the width the earlier steps left.
    hn.max_width = 200;
    s = constrained(hn, 400, 100);
    EXPECT_EQ(s.w, 200);
    EXPECT_EQ(s.h, 150);
}

TEST(Constrain, SizesStayBetweenOneAndTheProtocolLimit) {
    // Out-of-range sizes with no hints are held in range.
    Size s = constrained(SizeHints{}, 0, -5);
    EXPECT_EQ(s.w, 1);
    EXPECT_EQ(s.h, 1);
    s = constrained(SizeHints{}, INT_MAX, 40000);
    EXPECT_EQ(s.w, calc::kMaxSize);
    EXPECT_EQ(s.h, calc::kMaxSize);

    SizeHints hn;
    hn.flags = calc::kPMaxSize;
    hn.max_width = 0;
    hn.max_height = INT_MIN;
    s = constrained(hn, 100, 100);
    EXPECT_EQ(s.w, 1);
    EXPECT_EQ(s.h, 1);

    hn = SizeHints{};
    hn.flags = calc::kPMinSize;
    hn.min_width = INT_MAX;
    hn.min_height = 40000;
    s = constrained(hn, 100, 100);
    EXPECT_EQ(s.w, calc::kMaxSize);
    EXPECT_EQ(s.h, calc::kMaxSize);

    // An aspect that would make the height enormous or zero.
    hn = SizeHints{};
    hn.flags = calc::kPAspect;
    hn.min_aspect_x = 1;
    hn.min_aspect_y = INT_MAX;
    s = constrained(hn, 32767, 100);
    EXPECT_EQ(s.w, calc::kMaxSize);
    EXPECT_EQ(s.h, calc::kMaxSize);
    hn.min_aspect_x = -1;
    hn.min_aspect_y = INT_MIN;
    EXPECT_EQ(constrained(hn, 1, 100).h, calc::kMaxSize);
    hn.min_aspect_x = INT_MIN;
    hn.min_aspect_y = 1;
    EXPECT_EQ(constrained(hn, 500, 100).h, 1);
    // The height comes from the width that is actually kept.
    hn.flags = calc::kPAspect | calc::kPMinSize;
    hn.min_width = INT_MAX;
    hn.min_height = 0;
    hn.min_aspect_x = 2;
    hn.min_aspect_y = 1;
    s = constrained(hn, 100, 100);
    EXPECT_EQ(s.w, calc::kMaxSize);
    EXPECT_EQ(s.h, calc::kMaxSize / 2);
}

TEST(Constrain, AbsurdHintsNeverLeaveTheRange) {
    const int extremes[] = {INT_MIN, INT_MIN + 1, -7, -1, 0, 1, 3, 32768, INT_MAX};
    const long all =
        calc::kPMinSize | calc::kPMaxSize | calc::kPResizeInc | calc::kPAspect | calc::kPBaseSize;
    for (long flags : {all, all & ~calc::kPBaseSize, calc::kPResizeInc | calc::kPBaseSize})
        for (int a : extremes)
            for (int b : extremes)
                for (int w : {INT_MIN, -1, 0, 1, 640, INT_MAX}) {
                    SizeHints hn;
                    hn.flags = flags;
                    hn.min_width = a;
                    hn.min_height = b;
                    hn.max_width = b;
                    hn.max_height = a;
                    hn.width_inc = a;
                    hn.height_inc = b;
                    hn.min_aspect_x = a;
                    hn.min_aspect_y = b;
                    hn.base_width = b;
                    hn.base_height = a;
                    Size s = constrained(hn, w, w);
                    EXPECT_GE(s.w, 1);
                    EXPECT_LE(s.w, calc::kMaxSize);
                    EXPECT_GE(s.h, 1);
                    EXPECT_LE(s.h, calc::kMaxSize);
                }
    // An extreme increment with an extreme base still lands on the base's grid
    // when that grid reaches the range.
    SizeHints hn;
    hn.flags = calc::kPResizeInc | calc::kPBaseSize;
    hn.width_inc = 10;
    hn.height_inc = 1;
    hn.base_width = -1000000006;
    EXPECT_EQ(constrained(hn, 57, 57).w, 54);
    hn.base_width = INT_MAX;
    hn.width_inc = INT_MIN; // |INT_MIN| does not fit an int
    Size s = constrained(hn, 57, 57);
    EXPECT_GE(s.w, 1);
    EXPECT_LE(s.w, calc::kMaxSize);
}

// ---------------------------------------------------------------------------
// Tab fitting

struct Tab {
    int width, offset;
};

Tab fitted(int text_width, int window_width, int tab_width, int tab_offset) {
    calc::fit_tab(text_width, window_width, &tab_width, &tab_offset);
    return {tab_width, tab_offset};
}

TEST(FitTab, OffsetGivesWayBeforeWidth) {
    Tab t = fitted(50, 40, 6, 0);
    EXPECT_EQ(t.width, 40);
    EXPECT_EQ(t.offset, 0);
    t = fitted(50, 70, 6, 20);
    EXPECT_EQ(t.width, 58);
    EXPECT_EQ(t.offset, 12);
    t = fitted(50, 40, 6, 20); // both in one call
    EXPECT_EQ(t.width, 40);
    EXPECT_EQ(t.offset, 0);
    t = fitted(50, 100, 6, 5);
    EXPECT_EQ(t.width, 58);
    EXPECT_EQ(t.offset, 5);
    // A tab exactly as wide as the room left stays.
    t = fitted(50, 78, 6, 20);
    EXPECT_EQ(t.width, 58);
    EXPECT_EQ(t.offset, 20);
    // A negative offset is pulled back to 0.
    t = fitted(10, 100, 6, -30);
    EXPECT_EQ(t.width, 18);
    EXPECT_EQ(t.offset, 0);
}

TEST(FitTab, NamelessWindowsKeepTheirWidthButAreStillClipped) {
    Tab t = fitted(-1, 100, 6, 0);
    EXPECT_EQ(t.width, 6);
    EXPECT_EQ(t.offset, 0);
    t = fitted(-1, 100, 30, 90);
    EXPECT_EQ(t.width, 30);
    EXPECT_EQ(t.offset, 70);
    t = fitted(-1, 4, 6, 0);
    EXPECT_EQ(t.width, 4);
    EXPECT_EQ(t.offset, 0);
    // An empty name is a name: 8 pixels of margin.
    t = fitted(0, 100, 30, 0);
    EXPECT_EQ(t.width, 8);
}

TEST(FitTab, ExtremeValuesStayInsideTheWindow) {
    for (int text : {-1, 0, 1000, INT_MAX - 8, INT_MAX})
        for (int off : {INT_MIN, -1, 0, 1, 500, INT_MAX})
            for (int width : {1, 15, 800, calc::kMaxSize}) {
                Tab t = fitted(text, width, 6, off);
                EXPECT_GE(t.offset, 0);
                EXPECT_GE(t.width, 1);
                EXPECT_LE(static_cast<long long>(t.offset) + t.width, width)
                    << "text " << text << " offset " << off << " width " << width;
            }
}

// ---------------------------------------------------------------------------
// Snapping

SnapWindow win(int x, int y, int w, int h, int tab = 1, int b = 2) {
    return SnapWindow{x, y, w, h, b, tab};
}

SnapWindow snapped(const SnapWindow &m, std::initializer_list<SnapWindow> neighbours, int s = 10,
                   bool resizing = false, Rect head = kScreen) {
    calc::SnapState st;
    calc::snap_begin(&st, m, s, kTitle, resizing);
    for (const SnapWindow &n : neighbours)
        calc::snap_offer(&st, n);
    SnapWindow out{};
    calc::snap_finish(&st, head, &out);
    return out;
}

void expect_geometry(const SnapWindow &o, int x, int y, int w, int h) {
    EXPECT_EQ(o.x, x);
    EXPECT_EQ(o.y, y);
    EXPECT_EQ(o.w, w);
    EXPECT_EQ(o.h, h);
}

TEST(Snap, MovingOntoANeighbourAndTheHeadTop) {
    // M is pulled left onto N's right frame edge, and its tab onto the head's top.
    SnapWindow n = win(100, 100, 300, 200);
    expect_geometry(snapped(win(408, 24, 200, 100), {n}), 404, 17, 200, 100);
    // Alone on the screen, away from every edge: nothing moves.
    expect_geometry(snapped(win(300, 300, 100, 100), {}), 300, 300, 100, 100);
    // A neighbour overlapping M on both axes still attracts (left edges line up).
    expect_geometry(snapped(win(103, 150, 100, 50), {n}), 100, 150, 100, 50);
    // Horizontal edges only attract when the frames are vertically near, and the
    // other way round.
    SnapWindow small = win(100, 100, 100, 100);
    expect_geometry(snapped(win(103, 400, 100, 100), {small}), 103, 400, 100, 100);
    expect_geometry(snapped(win(400, 103, 100, 100), {small}), 400, 103, 100, 100);
}

TEST(Snap, TabsAreKeptClearOf) {
    SnapWindow n = win(100, 100, 100, 100);
    // M's tab top onto N's bottom frame edge (202): y = 202 + 2 + 15.
    expect_geometry(snapped(win(100, 216, 100, 100), {n}), 100, 219, 100, 100);
    // Without M's tab, M's frame top onto N's bottom instead.
    expect_geometry(snapped(win(100, 213, 100, 100, 0), {n}), 100, 204, 100, 100);
    // M's bottom frame edge onto the top of N's tab (300 - 2 - 15 = 283) ...
    SnapWindow below = win(100, 300, 100, 100);
    expect_geometry(snapped(win(100, 178, 100, 100), {below}), 100, 181, 100, 100);
    // ... unless N's tab is hidden: N's frame top (298) is 16 away and does not attract.
    below.tab_visible = 0;
    expect_geometry(snapped(win(100, 178, 100, 100), {below}), 100, 178, 100, 100);
}

TEST(Snap, ThresholdIsStrict) {
    SnapWindow n = win(100, 300, 100, 100); // frame right edge at 202
    // 10 pixels between the frames: no pull.
    expect_geometry(snapped(win(214, 300, 100, 100), {n}), 214, 300, 100, 100);
    // 9 pixels: the frames end touching.
    expect_geometry(snapped(win(213, 300, 100, 100), {n}), 204, 300, 100, 100);
    // The same on the head's edges: 10 pixels from the left stays, 9 snaps.
    expect_geometry(snapped(win(12, 300, 100, 100), {}), 12, 300, 100, 100);
    expect_geometry(snapped(win(11, 300, 100, 100), {}), 2, 300, 100, 100);
    // Right edge: frame right at 790 stays, at 791 snaps to 800.
    expect_geometry(snapped(win(688, 300, 100, 100), {}), 688, 300, 100, 100);
    expect_geometry(snapped(win(689, 300, 100, 100), {}), 698, 300, 100, 100);
}

TEST(Snap, NoSnappingWithoutAPositiveDistance) {
    SnapWindow n = win(100, 300, 100, 100);
    for (int s : {0, -1, -10}) {
        for (bool resizing : {false, true}) {
            // Touching a neighbour's edges and the head's left, top and bottom.
            expect_geometry(snapped(win(3, 18, 100, 579), {n}, s, resizing), 3, 18, 100, 579);
            expect_geometry(snapped(win(205, 300, 590, 100), {n}, s, resizing), 205, 300, 590, 100);
        }
    }
}

TEST(Snap, EqualCandidatesLastOfferedWins) {
    // M is 5 pixels from N1 (on its left) and from N2 (on its right).
    SnapWindow n1 = win(100, 100, 300, 100);
    SnapWindow n2 = win(618, 100, 100, 100);
    SnapWindow m = win(409, 100, 200, 100);
    expect_geometry(snapped(m, {n1, n2}), 414, 100, 200, 100);
    expect_geometry(snapped(m, {n2, n1}), 404, 100, 200, 100);
    // Within one neighbour, right edges lining up (+5) is offered after left edges
    // lining up (-5) and wins.
    expect_geometry(snapped(win(105, 100, 90, 100), {win(100, 100, 100, 100)}), 110, 100, 90, 100);
    // A strictly smaller candidate from an earlier neighbour is kept.
    expect_geometry(snapped(win(408, 100, 200, 100), {n1, n2}), 404, 100, 200, 100);
}

TEST(Snap, HeadEdgesOverrideNeighbours) {
    // N pulls M left by 3, then the head's right edge (4 away) takes it.
    SnapWindow n = win(500, 300, 200, 100);
    expect_geometry(snapped(win(707, 300, 90, 100), {n}), 708, 300, 90, 100);
    // Within reach of top and bottom: the top wins, tab on screen.
    Rect low{0, 0, 800, 125};
    expect_geometry(snapped(win(300, 20, 100, 100), {}, 10, false, low), 300, 17, 100, 100);
    // Within reach of left and right: the left wins.
    Rect narrow{0, 0, 110, 600};
    expect_geometry(snapped(win(5, 300, 100, 100), {}, 10, false, narrow), 2, 300, 100, 100);
    // Without a tab, the frame top goes onto the head top.
    expect_geometry(snapped(win(300, 8, 100, 100, 0), {}), 300, 2, 100, 100);
    expect_geometry(snapped(win(300, 8, 100, 100, 1), {}), 300, 17, 100, 100);
    // The head given is the one used, wherever the window is.
    Rect second{800, 0, 800, 600};
    expect_geometry(snapped(win(805, 300, 100, 100), {}, 10, false, second), 802, 300, 100, 100);
    expect_geometry(snapped(win(5, 300, 100, 100), {}, 10, false, second), 5, 300, 100, 100);
    expect_geometry(snapped(win(1500, 591, 93, 5), {}, 10, false, second), 1505, 593, 93, 5);
}

TEST(Snap, ResizingMovesOnlyTheRightAndBottomEdges) {
    // M's right frame edge onto N's left frame edge.
    SnapWindow n = win(403, 100, 100, 100);
    expect_geometry(snapped(win(100, 100, 295, 100), {n}, 10, true), 100, 100, 299, 100);
    // Left and top edges lining up, or M just below N, do not count when resizing.
    SnapWindow above = win(100, 100, 100, 100);
    SnapWindow m = win(105, 210, 300, 100);
    expect_geometry(snapped(m, {above}, 10, false), 100, 204, 300, 100);
    expect_geometry(snapped(m, {above}, 10, true), 105, 210, 300, 100);
    // Head right and bottom edges; head left and top never attract.
    expect_geometry(snapped(win(5, 20, 787, 100), {}, 10, true), 5, 20, 793, 100);
    expect_geometry(snapped(win(300, 5, 100, 585), {}, 10, true), 300, 5, 100, 593);
    expect_geometry(snapped(win(5, 20, 100, 100), {}, 10, true), 5, 20, 100, 100);
    // Bottom edge onto the top of N's tab.
    SnapWindow below = win(100, 300, 100, 100);
    expect_geometry(snapped(win(100, 150, 100, 125), {below}, 10, true), 100, 150, 100, 131);
}

TEST(Snap, ExtremeCoordinatesDoNotAttract) {
    // Windows at the ends of the coordinate range with the largest sizes and borders.
    SnapWindow far = win(-32768, -32768, calc::kMaxSize, calc::kMaxSize, 1, 1000);
    SnapWindow m = win(32767, 32767, calc::kMaxSize, calc::kMaxSize, 1, 1000);
    for (bool resizing : {false, true})
        expect_geometry(snapped(m, {far, far}, 10, resizing), 32767, 32767, calc::kMaxSize,
                        calc::kMaxSize);
}

// ---------------------------------------------------------------------------
// Maximizing

TEST(Maximize, FillsTheHeadAndRestores) {
    int x = 100, w = 300, sx = 0, sw = 0;
    calc::max_horizontal(kScreen, 2, &x, &w, &sx, &sw);
    EXPECT_EQ(x, 2);
    EXPECT_EQ(w, 796);
    EXPECT_EQ(sx, 100);
    EXPECT_EQ(sw, 300);
    calc::max_horizontal(kScreen, 2, &x, &w, &sx, &sw);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(sw, 0);

    int y = 50, h = 200, sy = 0, sh = 0;
    calc::max_vertical(kScreen, 2, 1, kTitle, &y, &h, &sy, &sh);
    EXPECT_EQ(y, 17);
    EXPECT_EQ(h, 581);
    EXPECT_EQ(sy, 50);
    EXPECT_EQ(sh, 200);
    calc::max_vertical(kScreen, 2, 1, kTitle, &y, &h, &sy, &sh);
    EXPECT_EQ(y, 50);
    EXPECT_EQ(h, 200);
    EXPECT_EQ(sh, 0);
    // Tab hidden.
    calc::max_vertical(kScreen, 2, 0, kTitle, &y, &h, &sy, &sh);
    EXPECT_EQ(y, 2);
    EXPECT_EQ(h, 596);
}

TEST(Maximize, RestoreUndoesMovesAndUsesThePointersHead) {
    // A keyboard move in between is undone by the restore.
    int x = 100, w = 300, sx = 0, sw = 0;
    Rect second{800, 100, 1024, 768};
    calc::max_horizontal(second, 3, &x, &w, &sx, &sw);
    EXPECT_EQ(x, 803);
    EXPECT_EQ(w, 1018);
    x += 16;
    calc::max_horizontal(kScreen, 3, &x, &w, &sx, &sw);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(w, 300);
    int y = 40, h = 300, sy = 0, sh = 0;
    calc::max_vertical(second, 3, 1, kTitle, &y, &h, &sy, &sh);
    EXPECT_EQ(y, 118);
    EXPECT_EQ(h, 747);
    // Both directions: a vertically maximized window is restored vertically and
    // maximized horizontally.
    x = 100;
    w = 300;
    sw = 0;
    calc::max_vertical(second, 3, 1, kTitle, &y, &h, &sy, &sh);
    calc::max_horizontal(second, 3, &x, &w, &sx, &sw);
    EXPECT_EQ(y, 40);
    EXPECT_EQ(h, 300);
    EXPECT_EQ(sh, 0);
    EXPECT_EQ(x, 803);
    EXPECT_EQ(w, 1018);
    EXPECT_NE(sw, 0);
}

TEST(Maximize, HintsAppliedAfterwardsAndAbsurdHeads) {
    // A maximum width keeps the window at the head's left edge.
    SizeHints hn;
    hn.flags = calc::kPMaxSize;
    hn.max_width = 500;
    hn.max_height = 10000;
    int x = 100, w = 300, sx = 0, sw = 0, h = 200;
    calc::max_horizontal(kScreen, 2, &x, &w, &sx, &sw);
    calc::constrain(hn, &w, &h);
    EXPECT_EQ(x, 2);
    EXPECT_EQ(w, 500);
    // An aspect hint recomputes the height; restoring gives back only x and width.
    hn.flags = calc::kPAspect;
    hn.min_aspect_x = 4;
    hn.min_aspect_y = 3;
    x = 100;
    w = 300;
    h = 225;
    sw = 0;
    calc::max_horizontal(kScreen, 2, &x, &w, &sx, &sw);
    calc::constrain(hn, &w, &h);
    EXPECT_EQ(w, 796);
    EXPECT_EQ(h, 597);
    calc::max_horizontal(kScreen, 2, &x, &w, &sx, &sw);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 597);
    // A head narrower than the borders still leaves a one-pixel window.
    sw = 0;
    calc::max_horizontal(Rect{0, 0, 10, 10}, 1000, &x, &w, &sx, &sw);
    EXPECT_EQ(w, 1);
    int y = 5, sy = 0, sh = 0;
    h = 5;
    calc::max_vertical(Rect{0, 0, 10, 10}, 1000, 1, kTitle, &y, &h, &sy, &sh);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(y, 1015);
}

// ---------------------------------------------------------------------------
// Tabless class list

TEST(ClassInList, WholeNamesOnlyCaseSensitive) {
    const char *list = "XTerm,XClock";
    EXPECT_TRUE(calc::class_in_list(list, "XTerm"));
    EXPECT_TRUE(calc::class_in_list(list, "XClock"));
    for (const char *cls :
         {"Term", "X", "xterm", "XTERM", "Clock", "XTerm,XClock", "XTermX", ",", "XTerm,", ""})
        EXPECT_FALSE(calc::class_in_list(list, cls)) << cls;
    // One name alone, and the last one.
    EXPECT_TRUE(calc::class_in_list("Emacs", "Emacs"));
    EXPECT_FALSE(calc::class_in_list("Emacs", "Emac"));
    EXPECT_TRUE(calc::class_in_list("A,B,Emacs", "Emacs"));
}

TEST(ClassInList, BlanksAndEmptyEntries) {
    const char *list = "  XTerm ,\tXClock\t, Gimp Toolbox ";
    EXPECT_TRUE(calc::class_in_list(list, "XTerm"));
    EXPECT_TRUE(calc::class_in_list(list, "XClock"));
    EXPECT_TRUE(calc::class_in_list(list, "Gimp Toolbox")); // inner blanks are kept
    EXPECT_FALSE(calc::class_in_list(list, "Gimp"));
    EXPECT_FALSE(calc::class_in_list(list, " XTerm "));
    // Empty entries match nothing, not even an empty class.
    EXPECT_FALSE(calc::class_in_list(",, ,", ""));
    EXPECT_FALSE(calc::class_in_list("", ""));
    EXPECT_FALSE(calc::class_in_list("", "XTerm"));
    EXPECT_TRUE(calc::class_in_list(",,XTerm,,", "XTerm"));
    // Missing list or class.
    EXPECT_FALSE(calc::class_in_list(nullptr, "XTerm"));
    EXPECT_FALSE(calc::class_in_list(list, nullptr));
}

} // namespace

// ---------------------------------------------------------------------------
// Panels and edge resizes

TEST(WorkArea, StrutsTakeFromTheHeadsTheyOverlap) {
    const long top_panel[12] = {0, 0, 30, 0, 0, 0, 0, 0, 0, 799, 0, 0};
    const long plain_bottom[4] = {0, 0, 0, 20};
    const calc::Strut struts[] = {calc::strut_from(top_panel, 12, 1600, 600),
                                  calc::strut_from(plain_bottom, 4, 1600, 600)};
    // Two heads side by side: the top panel spans only the left one; the bottom one both.
    const calc::Rect left = calc::work_area({0, 0, 800, 600}, 1600, 600, struts, 2);
    const calc::Rect right = calc::work_area({800, 0, 800, 600}, 1600, 600, struts, 2);
    EXPECT_EQ((std::vector<int>{left.x, left.y, left.w, left.h}),
              (std::vector<int>{0, 30, 800, 550}));
    EXPECT_EQ((std::vector<int>{right.x, right.y, right.w, right.h}),
              (std::vector<int>{800, 0, 800, 580}));
    // A strut covering everything leaves a pixel.
    const long all[4] = {0, 0, 700, 700};
    const calc::Strut huge = calc::strut_from(all, 4, 800, 600);
    EXPECT_EQ(calc::work_area({0, 0, 800, 600}, 800, 600, &huge, 1).h, 1);
}

TEST(EdgeResize, OppositeEdgesStayWhereTheyStarted) {
    const calc::Rect start{100, 100, 200, 150};
    calc::Rect r = calc::resize_edges(start, calc::kEdgeLeft | calc::kEdgeTop, 30, -20);
    EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}), (std::vector<int>{130, 80, 170, 170}));
    r = calc::resize_edges(start, calc::kEdgeRight, -500, 0);
    EXPECT_EQ(r.w, 1);
    // The size hints rounded the size: the right and bottom edges stay.
    r = {130, 80, 160, 160};
    calc::anchor_edges(start, calc::kEdgeLeft | calc::kEdgeTop, &r);
    EXPECT_EQ((std::vector<int>{r.x, r.y}), (std::vector<int>{140, 90}));
}

TEST(ScreenChange, AFrameOnNoHeadGoesOntoTheNearest) {
    const calc::Rect heads[] = {{0, 0, 800, 600}, {800, 0, 640, 480}};
    // On a head already: left alone.
    calc::Rect f = calc::onto_nearest_head(heads, 2, {700, 100, 200, 100}, 15);
    EXPECT_EQ((std::vector<int>{f.x, f.y}), (std::vector<int>{700, 100}));
    // Below the shorter second head: onto it, inside.
    f = calc::onto_nearest_head(heads, 2, {1000, 700, 200, 100}, 15);
    EXPECT_EQ((std::vector<int>{f.x, f.y}), (std::vector<int>{1000, 380}));
    // Far up and left: onto the first, tab on screen.
    f = calc::onto_nearest_head(heads, 2, {-500, -400, 200, 100}, 15);
    EXPECT_EQ((std::vector<int>{f.x, f.y}), (std::vector<int>{0, 15}));
}
