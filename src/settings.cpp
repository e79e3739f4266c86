// Settings: the command line first, then X resources under "tavrel", then defaults.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings.h"

namespace {

enum class Kind { string, number };

struct Option {
    const char *name;
    Kind kind;
    const char *Settings::*str;
    int Settings::*num; // null with desktop_count, which lives in the manager state
};

// Compared in this order.
const Option kOptions[] = {
    {"-fn", Kind::string, &Settings::font_name, nullptr},
    {"-display", Kind::string, &Settings::display_name, nullptr},
    {"-fg", Kind::string, &Settings::fg_name, nullptr},
    {"-wlist", Kind::string, &Settings::tabless_list, nullptr},
    {"-bg", Kind::string, &Settings::bg_name, nullptr},
    {"-abg", Kind::string, &Settings::active_bg_name, nullptr},
    {"-fc", Kind::string, &Settings::fixed_color_name, nullptr},
    {"-ac", Kind::string, &Settings::attention_color_name, nullptr},
    {"-vd", Kind::number, nullptr, nullptr},
    {"-sr", Kind::number, nullptr, &Settings::solid_resize},
    {"-bw", Kind::number, nullptr, &Settings::border_width},
    {"-cmd1", Kind::string, &Settings::command1, nullptr},
    {"-cmd2", Kind::string, &Settings::command2, nullptr},
    {"-cmd3", Kind::string, &Settings::command3, nullptr},
    {"-snap", Kind::number, nullptr, &Settings::snap},
};

struct Resource {
    const char *name;
    Kind kind;
    const char *Settings::*str;
    int Settings::*num;
    const char *str_default;
    int num_default;
};

// Looked up in this order. tablessWindows has no default: it stays unset.
const Resource kResources[] = {
    {"font", Kind::string, &Settings::font_name, nullptr, "fixed", 0},
    {"foreground", Kind::string, &Settings::fg_name, nullptr, "snow", 0},
    {"tablessWindows", Kind::string, &Settings::tabless_list, nullptr, nullptr, 0},
    {"background", Kind::string, &Settings::bg_name, nullptr, "grey50", 0},
    {"activeBackground", Kind::string, &Settings::active_bg_name, nullptr, "steel blue", 0},
    {"fixedColor", Kind::string, &Settings::fixed_color_name, nullptr, "blue", 0},
    {"attentionColor", Kind::string, &Settings::attention_color_name, nullptr, "dark orange", 0},
    {"virtualDesktops", Kind::number, nullptr, nullptr, nullptr, 3},
    {"borderWidth", Kind::number, nullptr, &Settings::border_width, nullptr, 2},
    {"command1", Kind::string, &Settings::command1, nullptr, "xterm", 0},
    {"command2", Kind::string, &Settings::command2, nullptr, "vesko", 0},
    {"command3", Kind::string, &Settings::command3, nullptr, "", 0},
    {"windowSnap", Kind::number, nullptr, &Settings::snap, nullptr, 10},
    {"solidResize", Kind::number, nullptr, &Settings::solid_resize, nullptr, 0},
};

// atoi without its undefined behaviour on out-of-range text: saturates instead.
int to_int(const char *s) {
    long long v = std::strtoll(s, nullptr, 10);
    if (v > 2147483647LL) return 2147483647;
    if (v < -2147483647LL - 1) return -2147483647 - 1;
    return static_cast<int>(v);
}

} // namespace

ParseResult parse_args(int argc, char **argv, Settings *s, int *desktop_count) {
    for (int i = 1; i < argc; i += 2) {
        const Option *hit = nullptr;
        if (i + 1 < argc) {
            for (const Option &o : kOptions) {
                if (std::strcmp(argv[i], o.name) == 0) {
                    hit = &o;
                    break;
                }
            }
        }
        if (!hit)
            return std::strcmp(argv[i], "-V") == 0 ? ParseResult::version : ParseResult::usage;
        const char *value = argv[i + 1];
        if (hit->kind == Kind::string)
            s->*(hit->str) = value;
        else if (hit->num)
            s->*(hit->num) = to_int(value);
        else
            *desktop_count = to_int(value);
    }
    return ParseResult::ok;
}

void merge_resources(Settings *s, int *desktop_count, ResourceLookup lookup, void *ctx) {
    for (const Resource &r : kResources) {
        if (r.kind == Kind::string) {
            if (s->*(r.str)) continue;
            const char *v = lookup ? lookup(ctx, r.name) : nullptr;
            s->*(r.str) = v ? v : r.str_default;
        } else {
            int *field = r.num ? &(s->*(r.num)) : desktop_count;
            if (*field != 0) continue;
            const char *v = lookup ? lookup(ctx, r.name) : nullptr;
            *field = v ? to_int(v) : r.num_default;
        }
    }
}

const char *usage_text() {
    return "usage: tavrel [-display display] [-title 0/1] [-cmd1 command1] [-cmd2 command2] "
           "[-cmd3 command3]\n"
           "\t [-fg foreground] [-bg background] [-abg active background] [-fc fixed color][-fn "
           "font] \n"
           "\t[-snap num] [-vd num] [-wlist wclass1,wclass2,...] [-sr 0/1] [-V]\n";
}

const char *invalid_setting(const Settings &s) {
    if (s.border_width < 0 || s.border_width > kMaxBorder) return "border width";
    return nullptr;
}
