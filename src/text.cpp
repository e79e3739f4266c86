// Titles and tab font names, without X.
#include "text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace text {

char32_t next_char(std::string_view s, size_t *i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = byte(*i);
    if (b < 0x80) {
        ++*i;
        return b;
    }
    // The length of the sequence b begins and the range of its second byte, which alone
    // rules out overlong forms, surrogates and values above U+10FFFF.
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    char32_t c = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        c = b & 0x0F;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        c = b & 0x07;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        ++*i;
        return kReplacement;
    }
    size_t k = 1;
    for (; k < length && *i + k < s.size(); ++k) {
        const unsigned char t = byte(*i + k);
        if (t < low || t > high) break;
        c = (c << 6) | (t & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    *i += k;
    return k == length ? c : kReplacement;
}

void append_utf8(std::string *out, char32_t c) {
    auto put = [&](unsigned v) { out->push_back(static_cast<char>(v)); };
    if (c < 0x80) {
        put(c);
    } else if (c < 0x800) {
        put(0xC0 | (c >> 6));
        put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        put(0xE0 | (c >> 12));
        put(0x80 | ((c >> 6) & 0x3F));
        put(0x80 | (c & 0x3F));
    } else {
        put(0xF0 | (c >> 18));
        put(0x80 | ((c >> 12) & 0x3F));
        put(0x80 | ((c >> 6) & 0x3F));
        put(0x80 | (c & 0x3F));
    }
}

std::string repair_utf8(const unsigned char *s, size_t n) {
    if (n == 0) return {};
    // A NUL is never part of a longer sequence: the text ends at the first one.
    if (const auto *nul = static_cast<const unsigned char *>(std::memchr(s, 0, n)))
        n = static_cast<size_t>(nul - s);
    const std::string_view v(reinterpret_cast<const char *>(s), n);
    std::string out;
    out.reserve(n);
    // Well-formed characters come out as they went in.
    for (size_t i = 0; i < n;)
        append_utf8(&out, next_char(v, &i));
    return out;
}

size_t utf8_prefix(std::string_view s, size_t max_chars) {
    size_t i = 0;
    for (size_t chars = 0; i < s.size() && chars < max_chars; ++chars)
        next_char(s, &i);
    return i;
}

bool is_latin1(std::string_view s) {
    for (size_t i = 0; i < s.size();)
        if (next_char(s, &i) > 0xFF) return false;
    return true;
}

std::string latin1_or_mark(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const char32_t c = next_char(s, &i);
        out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return out;
}

std::vector<Run> split_runs(std::string_view s, const std::function<int(char32_t)> &font_of) {
    std::vector<Run> runs;
    for (size_t i = 0; i < s.size();) {
        const size_t start = i;
        const int font = font_of(next_char(s, &i));
        if (runs.empty() || runs.back().font != font)
            runs.push_back({start, i, font});
        else
            runs.back().end = i;
    }
    return runs;
}

namespace {

// ASCII-only case folding: locale-independent, as fontconfig folds family names.
char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

std::string folded_without_blanks(std::string_view s) {
    std::string out;
    for (char c : s)
        if (c != ' ') out.push_back(fold(c));
    return out;
}

// The 14 fields of a full core font name, "-foundry-family-...-registry-encoding";
// empty when the name has another shape.
std::vector<std::string_view> xlfd_fields(std::string_view xlfd) {
    std::vector<std::string_view> fields;
    if (xlfd.empty() || xlfd[0] != '-') return fields;
    size_t start = 1;
    for (;;) {
        const size_t dash = xlfd.find('-', start);
        fields.push_back(xlfd.substr(start, dash == std::string_view::npos ? dash : dash - start));
        if (dash == std::string_view::npos) break;
        start = dash + 1;
    }
    if (fields.size() != 14) fields.clear();
    return fields;
}

} // namespace

bool is_utf8_codeset(std::string_view codeset) {
    return same_ignoring_case(codeset, "UTF-8") || same_ignoring_case(codeset, "utf8");
}

bool may_be_pattern(std::string_view name) {
    return !name.empty() && name[0] != '-';
}

int xlfd_pixel_size(std::string_view xlfd) {
    const auto fields = xlfd_fields(xlfd);
    if (fields.empty() || fields[6].empty() || fields[6].size() > 5) return 0;
    int pixels = 0;
    for (char c : fields[6]) {
        if (c < '0' || c > '9') return 0;
        pixels = pixels * 10 + (c - '0');
    }
    return pixels;
}

std::string fontset_base_names(std::string_view xlfd) {
    std::string names(xlfd);
    const auto fields = xlfd_fields(xlfd);
    if (fields.empty()) return names;
    // Everything up to the character set: the face in one size.
    const size_t face_end = static_cast<size_t>(fields[12].data() - xlfd.data());
    names += ",";
    names += xlfd.substr(0, face_end);
    names += "*-*";
    return names;
}

std::string nearest_real_size(const std::vector<std::string> &names, int pixels) {
    std::string best;
    int best_distance = 0, best_size = 0;
    for (const std::string &name : names) {
        const int size = xlfd_pixel_size(name);
        if (size == 0) continue; // scaled on demand, or not a full name
        const int distance = std::abs(size - pixels);
        if (best.empty() || distance < best_distance ||
            (distance == best_distance && size < best_size)) {
            best = name;
            best_distance = distance;
            best_size = size;
        }
    }
    return best;
}

bool family_honoured(const std::vector<Family> &asked, const std::vector<std::string> &matched) {
    const auto first_strong =
        std::find_if(asked.begin(), asked.end(), [](const Family &f) { return f.strong; });
    if (first_strong == asked.end()) return true;
    for (auto f = asked.begin(); f != asked.end(); ++f) {
        if (f > first_strong && !f->strong) continue;
        for (const std::string &got : matched)
            if (folded_without_blanks(f->name) == folded_without_blanks(got)) return true;
    }
    return false;
}

} // namespace text
