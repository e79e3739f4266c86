// Titles as the tabs show them, and the choice of the tab font: UTF-8 decoding and
// repair, runs of characters by font, and the reading of font names. No X headers,
// no X calls: plain values in and out.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace text {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the character at s[*i] and moves *i past it. An ill-formed sequence (a stray
// continuation byte, a truncated, overlong or surrogate sequence, a value above
// U+10FFFF) decodes as U+FFFD and is skipped by its longest prefix that could have
// begun a character, at least one byte: a broken character never swallows the next.
char32_t next_char(std::string_view s, size_t *i);
// Appends the UTF-8 encoding of c (a valid code point).
void append_utf8(std::string *out, char32_t c);
// The text of a property in UTF-8: the bytes up to the first NUL, each ill-formed
// sequence replaced by U+FFFD. Reads s[0, n) and nothing beyond.
std::string repair_utf8(const unsigned char *s, size_t n);
// The number of bytes of the first max_chars characters of well-formed UTF-8.
size_t utf8_prefix(std::string_view s, size_t max_chars);
// Whether well-formed UTF-8 holds only Latin-1 characters.
bool is_latin1(std::string_view s);
// Well-formed UTF-8 in Latin-1, for a font that has nothing else: the other characters
// become '?'.
std::string latin1_or_mark(std::string_view s);

// A stretch of text drawn in one font: bytes [begin, end), the font's index.
struct Run {
    size_t begin = 0, end = 0;
    int font = 0;
    bool operator==(const Run &) const = default;
};
// Cuts well-formed UTF-8 into the runs of consecutive characters that font_of gives the
// same font.
std::vector<Run> split_runs(std::string_view s, const std::function<int(char32_t)> &font_of);

// Whether a locale's character set (nl_langinfo(CODESET)) is UTF-8.
bool is_utf8_codeset(std::string_view codeset);

// --- the tab font's name

// Whether a name the server does not know as a core font can be a fontconfig pattern:
// not empty, and not shaped like a core font name (those begin with '-').
bool may_be_pattern(std::string_view name);
// The pixel size of a full core font name (XLFD), 0 when it has none.
int xlfd_pixel_size(std::string_view xlfd);
// The base names of the font set of a core font known by its full name: the font
// itself first (it draws Latin-1, as a plain core font would), then the same face in
// every other character set the server has it in.
std::string fontset_base_names(std::string_view xlfd);
// Of the listed full names, the font of a real (not scaled) size nearest to pixels,
// the smaller of two as near; empty when the list has none.
std::string nearest_real_size(const std::vector<std::string> &names, int pixels);
// A family of a fontconfig pattern as configured, and whether the pattern binds it
// strongly (named it, or the configuration made it stand for one it named).
struct Family {
    std::string name;
    bool strong = false;
};
// Whether the font fontconfig matched is one the pattern asked for: one of its families
// is one the pattern binds strongly or one the configuration put before the first of
// those (what it prefers for a generic name such as "monospace"), compared as fontconfig
// compares families (case and blanks ignored). A pattern that binds no family strongly
// takes the font that comes; one that named only families the system lacks gets a
// substitute, which is not what was asked for.
bool family_honoured(const std::vector<Family> &asked, const std::vector<std::string> &matched);

} // namespace text
