// The tab font: a core font drawn through a font set.
#include "font.h"

#include <X11/Xatom.h>
#include <langinfo.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "state.h"
#include "text.h"

namespace {

// What the titles are drawn with: a core font, through its font set when the locale
// allows one.
struct TabFont {
    XFontStruct *core = nullptr;
    XFontSet set = nullptr;
};
TabFont font;
bool utf8_locale = false;

// What fits in any tab is measured and drawn, no more.
constexpr size_t kMaxChars = 1024;

// --- core fonts

// The full name of a loaded core font (an alias names its target), from its FONT property.
std::string full_name(XFontStruct *f, const char *name) {
    unsigned long atom = 0;
    if (!XGetFontProperty(f, XA_FONT, &atom)) return name;
    char *s = XGetAtomName(wm.display, atom);
    if (!s) return name;
    std::string full(s);
    XFree(s);
    return full;
}

XFontSet create_font_set(const std::string &base, std::vector<std::string> *missing) {
    char **names = nullptr, *default_string = nullptr;
    int count = 0;
    XFontSet set = XCreateFontSet(wm.display, base.c_str(), &names, &count, &default_string);
    if (missing) missing->assign(names, names + count);
    if (names) XFreeStringList(names);
    return set;
}

// The font set of a core font. The X library gives each character to the first character
// set in the locale's list that has it, whether the font set holds a font for that one or
// not, and draws the bytes meant for a missing one in the first font: garbage. So each
// character set the face lacks (in xfonts-base, "fixed" lacks the CJK ones, which also
// hold "…" and the arrows) gets the server's font of the nearest real size in it.
XFontSet build_font_set(XFontStruct *f, const char *name) {
    const std::string xlfd = full_name(f, name);
    std::string base = text::fontset_base_names(xlfd);
    std::vector<std::string> missing;
    XFontSet set = create_font_set(base, &missing);
    if (!set || missing.empty()) return set;
    const int pixels = text::xlfd_pixel_size(xlfd);
    bool completed = false;
    for (const std::string &charset : missing) {
        const std::string any = "-*-*-*-*-*-*-*-*-*-*-*-*-" + charset;
        int count = 0;
        char **names = XListFonts(wm.display, any.c_str(), 1000, &count);
        const std::vector<std::string> listed(names, names + (names ? count : 0));
        if (names) XFreeFontNames(names);
        const std::string nearest = text::nearest_real_size(listed, pixels);
        if (nearest.empty()) continue;
        base += "," + nearest;
        completed = true;
    }
    if (!completed) return set;
    if (XFontSet fuller = create_font_set(base, nullptr)) {
        XFreeFontSet(wm.display, set);
        set = fuller;
    }
    return set;
}

std::string_view drawn_part(std::string_view s) {
    return s.substr(0, text::utf8_prefix(s, kMaxChars));
}

} // namespace

void choose_text_locale() {
    utf8_locale = true;
    if (std::setlocale(LC_CTYPE, "") && text::is_utf8_codeset(nl_langinfo(CODESET)) &&
        XSupportsLocale())
        return;
    for (const char *name : {"C.UTF-8", "en_US.UTF-8"})
        if (std::setlocale(LC_CTYPE, name) && XSupportsLocale()) return;
    std::setlocale(LC_CTYPE, "C");
    utf8_locale = false;
}

void load_font(const char *name) {
    Display *d = wm.display;
    const char *loaded = name;
    font.core = XLoadQueryFont(d, name);
    if (!font.core) {
        loaded = "fixed";
        font.core = XLoadQueryFont(d, loaded);
    }
    if (font.core) {
        if (utf8_locale) font.set = build_font_set(font.core, loaded);
        wm.title_height = font.core->ascent + font.core->descent + 2;
    } else {
        std::fprintf(stderr, "tavrel: can't load font %s, nor fixed\n", name);
        std::exit(1);
    }
}

void prepare_text_drawing() {
    // A font set puts its fonts in the GC as it draws.
    if (font.core) XSetFont(wm.display, wm.gc, font.core->fid);
}

void free_font() {
    Display *d = wm.display;
    if (font.set) XFreeFontSet(d, font.set);
    if (font.core) XFreeFont(d, font.core);
    font = TabFont{};
}

int text_width(std::string_view utf8) {
    const std::string_view s = drawn_part(utf8);
    if (font.set) return Xutf8TextEscapement(font.set, s.data(), static_cast<int>(s.size()));
    const std::string latin1 = text::latin1_or_mark(s);
    return XTextWidth(font.core, latin1.data(), static_cast<int>(latin1.size()));
}

void draw_text(Drawable drawable, std::string_view utf8) {
    Display *d = wm.display;
    const std::string_view s = drawn_part(utf8);
    const int x = 2;
    const int baseline = wm.title_height - 3;
    if (font.set) {
        Xutf8DrawString(d, drawable, font.set, wm.gc, x, baseline, s.data(),
                        static_cast<int>(s.size()));
        return;
    }
    const std::string latin1 = text::latin1_or_mark(s);
    XDrawString(d, drawable, wm.gc, x, baseline, latin1.data(), static_cast<int>(latin1.size()));
}
