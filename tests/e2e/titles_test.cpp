// Titles beyond Latin-1 in the tab: _NET_WM_NAME and COMPOUND_TEXT WM_NAME under the
// default font, and a fontconfig font.
#include "harness.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <string>

namespace {

using harness::Connection;
using harness::Wm;
using harness::XServer;

constexpr unsigned long kRed = 0xff0000;

// The tab of a framed window: the override-redirect child of the root standing on the
// frame's top-left corner.
Window tab_of(Connection &c, Window w) {
    const harness::Geometry f = c.geometry(c.parent(w));
    for (Window t : c.children(c.root())) {
        XWindowAttributes a;
        if (XGetWindowAttributes(c.dpy(), t, &a) && a.override_redirect && a.x == f.x &&
            a.y + a.height == f.y)
            return t;
    }
    return 0;
}

// Red (the -fg of these tests) pixels in the columns [x0, x1) of the tab.
int red_pixels(Connection &c, Window tab, int x0, int x1) {
    const harness::Geometry g = c.geometry(tab);
    XImage *img = XGetImage(c.dpy(), tab, 0, 0, g.width, g.height, AllPlanes, ZPixmap);
    if (!img) return -1;
    int n = 0;
    for (int x = std::max(0, x0); x < std::min(x1, static_cast<int>(g.width)); ++x)
        for (int y = 0; y < static_cast<int>(g.height); ++y)
            n += XGetPixel(img, x, y) == kRed;
    XDestroyImage(img);
    return n;
}

struct Title {
    const char *name;
    std::string utf8;
    int chars;
    bool compound_wm_name; // set as WM_NAME in COMPOUND_TEXT, else as _NET_WM_NAME
};

class Titles : public testing::TestWithParam<Title> {};

// Under "fixed" every character takes one cell of the font: the tab is as wide as the
// title's characters, and they are drawn.
TEST_P(Titles, WidenTheTabAndAreDrawn) {
    const Title &t = GetParam();
    XServer x;
    Wm wm(x, {"-fg", "#ff0000"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    XFontStruct *fixed = XLoadQueryFont(c.dpy(), "fixed");
    ASSERT_TRUE(fixed);
    const int cell = fixed->max_bounds.width;
    XFreeFont(c.dpy(), fixed);
    const Window w = c.create_managed({.x = 50, .y = 50, .width = 400, .name = "x"});
    ASSERT_TRUE(w);
    const Window tab = tab_of(c, w);
    ASSERT_TRUE(tab);
    const int narrow = static_cast<int>(c.geometry(tab).width);

    if (t.compound_wm_name) {
        std::setlocale(LC_CTYPE, "C.UTF-8");
        char *list[] = {const_cast<char *>(t.utf8.c_str())};
        XTextProperty p;
        ASSERT_EQ(Xutf8TextListToTextProperty(c.dpy(), list, 1, XCompoundTextStyle, &p), Success);
        EXPECT_EQ(p.encoding, c.atom("COMPOUND_TEXT"));
        XSetWMName(c.dpy(), w, &p);
        XFree(p.value);
    } else {
        XChangeProperty(c.dpy(), w, c.atom("_NET_WM_NAME"), c.atom("UTF8_STRING"), 8,
                        PropModeReplace, reinterpret_cast<const unsigned char *>(t.utf8.data()),
                        static_cast<int>(t.utf8.size()));
    }
    XSync(c.dpy(), False);
    const unsigned wide = static_cast<unsigned>(t.chars * cell + 8);
    EXPECT_TRUE(c.wait_until([&] { return c.geometry(tab).width == wide; }))
        << c.geometry(tab).width << " for " << wide;
    EXPECT_TRUE(
        c.wait_until([&] { return red_pixels(c, tab, narrow, static_cast<int>(wide) - 4) > 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, Titles,
    testing::Values(
        Title{"Cyrillic",
              "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, "
              "\xD0\xBC\xD0\xB8\xD1\x80",
              11, false},
        Title{"Greek", "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1", 8,
              false},
        Title{"EmDash", "Start \xE2\x80\x94 Mozilla Firefox", 23, false},
        Title{"CompoundText", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", 6, true}),
    [](const testing::TestParamInfo<Title> &i) { return i.param.name; });

// A fontconfig pattern: Xft draws the tab, as tall as that font.
TEST(Titles, FontconfigPatternGivesItsHeightAndDrawsTheTitle) {
    XServer x;
    Wm wm(x, {"-fn", "DejaVu Sans Mono:size=10", "-fg", "#ff0000"});
    ASSERT_TRUE(wm.wait_ready());
    Connection c(x);
    XFontStruct *fixed = XLoadQueryFont(c.dpy(), "fixed");
    ASSERT_TRUE(fixed);
    const unsigned fixed_height = static_cast<unsigned>(fixed->ascent + fixed->descent + 2);
    XFreeFont(c.dpy(), fixed);
    const Window w = c.create_managed({.x = 50, .y = 50, .width = 400, .name = "Caf\xE9 au lait"});
    ASSERT_TRUE(w);
    const Window tab = tab_of(c, w);
    ASSERT_TRUE(tab);
    const harness::Geometry g = c.geometry(tab);
    EXPECT_GT(g.height, fixed_height);
    EXPECT_GT(g.width, 8u);
    EXPECT_TRUE(
        c.wait_until([&] { return red_pixels(c, tab, 0, static_cast<int>(g.width) - 4) > 0; }));
    // The fonts and fontconfig are let go of at the end (a sanitizer build would tell).
    wm.signal(SIGTERM);
    EXPECT_EQ(wm.wait_exit(), 0) << wm.err();
}

} // namespace
