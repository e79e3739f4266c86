// The tab font: loaded at start-up, then it measures and draws the titles, which are
// UTF-8. The core font is drawn through a font set built on it (its own glyphs for
// Latin-1, the same face in other character sets for the rest); "fixed" when the named
// font does not load.
#pragma once

#include <X11/Xlib.h>

#include <string_view>

// Puts the character type of the process in UTF-8, which font sets and the decoding of
// titles work in: the user's locale when it is UTF-8, else C.UTF-8 (or en_US.UTF-8),
// whichever the C and X libraries both support. Before the display is opened.
void choose_text_locale();
// Loads the font (or "fixed") and sets wm.title_height; says so and exits when neither
// loads.
void load_font(const char *name);
// Once wm.gc exists: the core font in the GC.
void prepare_text_drawing();
void free_font();

// Width of the text in the font, in pixels.
int text_width(std::string_view utf8);
// Draws the text in the foreground colour at the start of a tab of title height.
void draw_text(Drawable d, std::string_view utf8);
