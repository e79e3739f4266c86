// Settings: the command line first, then X resources under "tavrel", then built-in
// defaults. Pure: nothing here needs the X headers, prints or exits.
#pragma once

constexpr const char *kVersionLine = "tavrel version 0.3.5";

struct Settings {
    const char *display_name = "";
    const char *font_name = nullptr;
    const char *fg_name = nullptr;
    const char *bg_name = nullptr;
    const char *active_bg_name = nullptr;
    const char *fixed_color_name = nullptr;
    const char *attention_color_name = nullptr;
    const char *tabless_list = nullptr;
    int border_width = 0;
    int solid_resize = 0;
    int snap = 0;
    const char *command1 = nullptr;
    const char *command2 = nullptr;
    const char *command3 = nullptr;
};

// The merged settings of the running manager.
extern Settings settings;

enum class ParseResult { ok, version, usage };

// Fills the settings (and the desktop count) from the arguments after the program
// name. Pure: prints nothing and never exits.
ParseResult parse_args(int argc, char **argv, Settings *s, int *desktop_count);
// Resource lookup under the program name; returns null when the resource is unset.
using ResourceLookup = const char *(*)(void *ctx, const char *name);
// Fills every setting that is still unset from the lookup or the built-in default.
void merge_resources(Settings *s, int *desktop_count, ResourceLookup lookup, void *ctx);
// The usage text, three lines.
const char *usage_text();
// Widest frame border accepted: wider ones would push frames past the protocol's sizes.
constexpr int kMaxBorder = 1000;
// Name of the first setting holding a value the manager refuses, or null.
const char *invalid_setting(const Settings &s);
