// The tab font: chosen and loaded at start-up, then it measures and draws the titles,
// which are UTF-8. A name the server knows as a core font is drawn through a font set
// built on that font (its own glyphs for Latin-1, the same face in other character
// sets for the rest); any other name is tried as a fontconfig pattern and drawn with
// Xft, with fonts found for the characters it lacks; "fixed" when neither loads.
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
// Once wm.fg_pixel exists: the colour for Xft.
void prepare_text_drawing();
void free_font();
// After the display is closed (Xft lets go of its patterns then): what fontconfig keeps.
void free_font_library();

// Width of the text in the font, in pixels.
int text_width(std::string_view utf8);
// Draws the text in the foreground colour at the start of a tab, over its background;
// what the tab showed is cleared first when the font blends its edges.
void draw_text(Window tab, std::string_view utf8);
