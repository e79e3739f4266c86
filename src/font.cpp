// The tab font: a core font drawn through a font set, or a fontconfig pattern drawn
// with Xft.
#include "font.h"

#include <X11/Xatom.h>
#include <X11/Xft/Xft.h>
#include <langinfo.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "state.h"
#include "text.h"

namespace {

// What the titles are drawn with: a core font, or an Xft font with the fonts opened for
// the characters it lacks. Titles in Latin-1 are drawn in the core font itself; the
// others through its font set, built when a title first needs it: the server takes a
// while to look up the fonts of every character set.
struct TabFont {
    XFontStruct *core = nullptr;
    std::string core_name;
    XFontSet set = nullptr;
    bool set_built = false;
    XftFont *xft = nullptr;
    FcPattern *pattern = nullptr; // the pattern as configured: fallbacks are looked up with it
    std::vector<XftFont *> fallbacks;
    std::unordered_set<char32_t> unfound; // characters no font has
    XftColor colour{};
    bool colour_allocated = false;
};
TabFont font;
bool utf8_locale = false;
bool fontconfig_used = false;

// What fits in any tab is measured and drawn, no more.
constexpr size_t kMaxChars = 1024;
// Bounds on what an application's titles can make the manager open and remember.
constexpr size_t kMaxFallbacks = 32;
constexpr size_t kMaxUnfound = 4096;

Visual *visual() {
    return DefaultVisual(wm.display, DefaultScreen(wm.display));
}

Colormap colormap() {
    return DefaultColormap(wm.display, DefaultScreen(wm.display));
}

// --- core fonts

// The full name of a loaded core font (an alias names its target), from its FONT property.
std::string full_name(XFontStruct *f, const std::string &name) {
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
XFontSet build_font_set(XFontStruct *f, const std::string &name) {
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

// --- fontconfig patterns

std::vector<text::Family> families(FcPattern *p) {
    std::vector<text::Family> out;
    FcValue v;
    FcValueBinding binding;
    for (int i = 0; FcPatternGetWithBinding(p, FC_FAMILY, i, &v, &binding) == FcResultMatch; ++i)
        if (v.type == FcTypeString)
            out.push_back({reinterpret_cast<const char *>(v.u.s), binding == FcValueBindingStrong});
    return out;
}

std::vector<std::string> names(const std::vector<text::Family> &families) {
    std::vector<std::string> out;
    for (const text::Family &f : families)
        out.push_back(f.name);
    return out;
}

// Opens the font of a pattern when fontconfig has what it asks for (see
// text::family_honoured), as Xft would match it.
bool open_pattern(const char *name) {
    fontconfig_used = true;
    FcPattern *p = FcNameParse(reinterpret_cast<const FcChar8 *>(name));
    if (!p) return false;
    FcConfigSubstitute(nullptr, p, FcMatchPattern);
    XftDefaultSubstitute(wm.display, DefaultScreen(wm.display), p);
    FcResult result;
    FcPattern *match = FcFontMatch(nullptr, p, &result);
    if (match && text::family_honoured(families(p), names(families(match)))) {
        // The font owns the match from here.
        font.xft = XftFontOpenPattern(wm.display, match);
        if (font.xft) {
            font.pattern = p;
            return true;
        }
    }
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(p);
    return false;
}

// A font like the pattern's that has c, or null.
XftFont *open_fallback(char32_t c) {
    FcPattern *p = FcPatternDuplicate(font.pattern);
    FcCharSet *wanted = FcCharSetCreate();
    FcCharSetAddChar(wanted, c);
    FcPatternAddCharSet(p, FC_CHARSET, wanted);
    FcCharSetDestroy(wanted);
    FcResult result;
    FcPattern *match = FcFontMatch(nullptr, p, &result);
    FcPatternDestroy(p);
    if (!match) return nullptr;
    FcCharSet *has = nullptr;
    if (FcPatternGetCharSet(match, FC_CHARSET, 0, &has) == FcResultMatch &&
        FcCharSetHasChar(has, c))
        if (XftFont *f = XftFontOpenPattern(wm.display, match)) return f;
    FcPatternDestroy(match);
    return nullptr;
}

XftFont *xft_font(int index) {
    return index == 0 ? font.xft : font.fallbacks[static_cast<size_t>(index) - 1];
}

// The font that draws c: 0 the pattern's own, i the i-th fallback. Characters no font
// has are left to the pattern's own font.
int xft_font_of(char32_t c) {
    if (XftCharExists(wm.display, font.xft, c)) return 0;
    for (size_t i = 0; i < font.fallbacks.size(); ++i)
        if (XftCharExists(wm.display, font.fallbacks[i], c)) return static_cast<int>(i) + 1;
    // Once either list is full, no more are looked for.
    if (font.fallbacks.size() >= kMaxFallbacks || font.unfound.size() >= kMaxUnfound ||
        font.unfound.count(c))
        return 0;
    if (XftFont *f = open_fallback(c)) {
        font.fallbacks.push_back(f);
        return static_cast<int>(font.fallbacks.size());
    }
    font.unfound.insert(c);
    return 0;
}

int xft_advance(XftFont *f, std::string_view piece) {
    XGlyphInfo glyphs;
    XftTextExtentsUtf8(wm.display, f, reinterpret_cast<const FcChar8 *>(piece.data()),
                       static_cast<int>(piece.size()), &glyphs);
    return glyphs.xOff;
}

std::vector<text::Run> xft_runs(std::string_view s) {
    return text::split_runs(s, xft_font_of);
}

// The font set for a title beyond Latin-1; null without a UTF-8 locale.
XFontSet font_set() {
    if (!font.set_built && utf8_locale) font.set = build_font_set(font.core, font.core_name);
    font.set_built = true;
    return font.set;
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
    if (!font.core && !(text::may_be_pattern(name) && open_pattern(name))) {
        loaded = "fixed";
        font.core = XLoadQueryFont(d, loaded);
    }
    if (font.core) {
        font.core_name = loaded;
        wm.title_height = font.core->ascent + font.core->descent + 2;
    } else if (font.xft) {
        wm.title_height = font.xft->ascent + font.xft->descent + 2;
    } else {
        std::fprintf(stderr, "tavrel: can't load font %s, nor fixed\n", name);
        std::exit(1);
    }
}

void prepare_text_drawing() {
    Display *d = wm.display;
    if (!font.xft) return;
    XColor fg{};
    fg.pixel = wm.fg_pixel;
    XQueryColor(d, colormap(), &fg);
    const XRenderColor colour{fg.red, fg.green, fg.blue, 0xFFFF};
    font.colour_allocated = XftColorAllocValue(d, visual(), colormap(), &colour, &font.colour);
    if (!font.colour_allocated) {
        font.colour.pixel = wm.fg_pixel;
        font.colour.color = colour;
    }
}

void free_font() {
    Display *d = wm.display;
    if (font.set) XFreeFontSet(d, font.set);
    if (font.core) XFreeFont(d, font.core);
    for (XftFont *f : font.fallbacks)
        XftFontClose(d, f);
    if (font.xft) XftFontClose(d, font.xft);
    if (font.pattern) FcPatternDestroy(font.pattern);
    if (font.colour_allocated) XftColorFree(d, visual(), colormap(), &font.colour);
    font = TabFont{};
}

void free_font_library() {
    if (fontconfig_used) FcFini();
}

int text_width(std::string_view utf8) {
    const std::string_view s = drawn_part(utf8);
    if (font.xft) {
        int width = 0;
        for (const text::Run &r : xft_runs(s))
            width += xft_advance(xft_font(r.font), s.substr(r.begin, r.end - r.begin));
        return width;
    }
    if (!text::is_latin1(s))
        if (XFontSet set = font_set())
            return Xutf8TextEscapement(set, s.data(), static_cast<int>(s.size()));
    const std::string latin1 = text::latin1_or_mark(s);
    return XTextWidth(font.core, latin1.data(), static_cast<int>(latin1.size()));
}

void draw_text(Window tab, std::string_view utf8) {
    Display *d = wm.display;
    const std::string_view s = drawn_part(utf8);
    const int x = 2;
    if (font.xft) {
        // Xft blends the edges of its glyphs with what is there: text drawn twice over
        // itself (an exposure of part of the tab) would come out heavier.
        XClearWindow(d, tab);
        XftDraw *draw = XftDrawCreate(d, tab, visual(), colormap());
        if (!draw) return;
        int pen = x;
        for (const text::Run &r : xft_runs(s)) {
            XftFont *f = xft_font(r.font);
            const std::string_view piece = s.substr(r.begin, r.end - r.begin);
            XftDrawStringUtf8(draw, &font.colour, f, pen, 1 + font.xft->ascent,
                              reinterpret_cast<const FcChar8 *>(piece.data()),
                              static_cast<int>(piece.size()));
            pen += xft_advance(f, piece);
        }
        XftDrawDestroy(draw);
        return;
    }
    const int baseline = wm.title_height - 3;
    if (!text::is_latin1(s))
        if (XFontSet set = font_set()) {
            Xutf8DrawString(d, tab, set, wm.gc, x, baseline, s.data(), static_cast<int>(s.size()));
            return;
        }
    // A font set leaves the last of its fonts it drew with in the GC (the X library
    // sends nothing when the GC has the font already).
    XSetFont(d, wm.gc, font.core->fid);
    const std::string latin1 = text::latin1_or_mark(s);
    XDrawString(d, tab, wm.gc, x, baseline, latin1.data(), static_cast<int>(latin1.size()));
}
