// Command line, X resources and defaults: parse_args, merge_resources, invalid_setting.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "settings.h"

namespace {

// Parses a command line (without the program name, which is added) and, when asked,
// completes it from a set of resources. The argument strings live as long as the
// fixture, as argv strings live as long as the process.
class SettingsTest : public testing::Test {
  protected:
    ParseResult parse(std::vector<std::string> args) {
        args_.clear();
        argv_.clear();
        args_.push_back("tavrel");
        for (auto &a : args)
            args_.push_back(std::move(a));
        for (auto &a : args_)
            argv_.push_back(a.data());
        argv_.push_back(nullptr);
        s = Settings{};
        desktops = 0;
        return parse_args(static_cast<int>(args_.size()), argv_.data(), &s, &desktops);
    }

    // Resources by name; every lookup is recorded.
    std::map<std::string, std::string> resources;
    std::vector<std::string> asked;

    void merge() { merge_resources(&s, &desktops, &lookup, this); }

    Settings s;
    int desktops = 0;

  private:
    static const char *lookup(void *ctx, const char *name) {
        auto *self = static_cast<SettingsTest *>(ctx);
        self->asked.emplace_back(name);
        auto it = self->resources.find(name);
        return it == self->resources.end() ? nullptr : it->second.c_str();
    }
    std::deque<std::string> args_;
    std::vector<char *> argv_;
};

TEST_F(SettingsTest, EveryOptionSetsItsOwnSetting) {
    ASSERT_EQ(
        parse({"-fn",   "6x13", "-display", ":3",   "-fg",   "white", "-wlist", "XTerm,XClock",
               "-bg",   "grey", "-abg",     "navy", "-fc",   "red",   "-vd",    "5",
               "-sr",   "1",    "-bw",      "4",    "-cmd1", "a",     "-cmd2",  "b",
               "-cmd3", "c",    "-snap",    "7"}),
        ParseResult::ok);
    EXPECT_STREQ(s.font_name, "6x13");
    EXPECT_STREQ(s.display_name, ":3");
    EXPECT_STREQ(s.fg_name, "white");
    EXPECT_STREQ(s.tabless_list, "XTerm,XClock");
    EXPECT_STREQ(s.bg_name, "grey");
    EXPECT_STREQ(s.active_bg_name, "navy");
    EXPECT_STREQ(s.fixed_color_name, "red");
    EXPECT_EQ(desktops, 5);
    EXPECT_EQ(s.solid_resize, 1);
    EXPECT_EQ(s.border_width, 4);
    EXPECT_STREQ(s.command1, "a");
    EXPECT_STREQ(s.command2, "b");
    EXPECT_STREQ(s.command3, "c");
    EXPECT_EQ(s.snap, 7);
}

TEST_F(SettingsTest, NoArgumentsLeaveEverythingUnset) {
    ASSERT_EQ(parse({}), ParseResult::ok);
    EXPECT_STREQ(s.display_name, "");
    for (const char *str : {s.font_name, s.fg_name, s.bg_name, s.active_bg_name, s.fixed_color_name,
                            s.tabless_list, s.command1, s.command2, s.command3})
        EXPECT_EQ(str, nullptr);
    EXPECT_EQ(desktops, 0);
    EXPECT_EQ(s.border_width, 0);
    EXPECT_EQ(s.solid_resize, 0);
    EXPECT_EQ(s.snap, 0);
}

// Anything that is not one of the fourteen names, compared whole and case-sensitively,
// with a value after it, is a usage error unless it is exactly "-V".
TEST_F(SettingsTest, UnknownOrIncompleteOptionsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"-title", "1"},   // named in the usage text, but not an option
        {"-FN", "fixed"},  // case matters
        {"-fnx", "fixed"}, // whole-string match only
        {"-f", "fixed"},   // no prefix match
        {"--fn", "fixed"}, //
        {"fn", "fixed"},   // a stray word
        {""},              // an empty word
        {"-v"},            // only upper-case V is the version
        {"-Vx"},           //
        {"-fn"},           // known option without a value
        {"-bw", "3", "-snap"},
        {"-bw", "3", "-fn", "x", "stray"},
    };
    for (const auto &args : cases) {
        std::string joined;
        for (const auto &a : args)
            joined += "'" + a + "' ";
        EXPECT_EQ(parse(args), ParseResult::usage) << joined;
    }
}

TEST_F(SettingsTest, VersionOnlyWhereAnOptionNameIsExpected) {
    EXPECT_EQ(parse({"-V"}), ParseResult::version);
    EXPECT_EQ(parse({"-fg", "red", "-V"}), ParseResult::version);
    EXPECT_EQ(parse({"-V", "-bogus"}), ParseResult::version); // the first miss decides
    EXPECT_EQ(parse({"-bogus", "-V"}), ParseResult::usage);
    EXPECT_EQ(parse({"-V", "3"}), ParseResult::version); // -V takes no value

    // As a value, "-V" is just text.
    ASSERT_EQ(parse({"-fn", "-V"}), ParseResult::ok);
    EXPECT_STREQ(s.font_name, "-V");
}

TEST_F(SettingsTest, AValueIsAlwaysConsumedWhateverItLooksLike) {
    ASSERT_EQ(parse({"-fg", "-bg", "-cmd1", "-bw", "-bw", "4"}), ParseResult::ok);
    EXPECT_STREQ(s.fg_name, "-bg");
    EXPECT_EQ(s.bg_name, nullptr);
    EXPECT_STREQ(s.command1, "-bw");
    EXPECT_EQ(s.border_width, 4);

    ASSERT_EQ(parse({"-cmd2", "xterm -e 'top'  | cat", "-wlist", ""}), ParseResult::ok);
    EXPECT_STREQ(s.command2, "xterm -e 'top'  | cat");
    EXPECT_STREQ(s.tabless_list, "");
}

TEST_F(SettingsTest, LaterOccurrenceReplacesEarlier) {
    ASSERT_EQ(parse({"-bw", "3", "-fn", "a", "-bw", "7", "-fn", "b", "-vd", "2", "-vd", "0"}),
              ParseResult::ok);
    EXPECT_EQ(s.border_width, 7);
    EXPECT_STREQ(s.font_name, "b");
    EXPECT_EQ(desktops, 0); // 0 read back as unset
}

TEST_F(SettingsTest, NumbersAreReadAsAtoiDoes) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"12", 12}, {"  12", 12}, {"\t+5", 5}, {"-3", -3}, {"7px", 7},
        {"px", 0},  {"", 0},      {"0x10", 0}, {"1e3", 1}, {"- 4", 0},
        {"007", 7}, {"+-1", 0},   {"3 4", 3},  {"--1", 0}, {"2147483647", 2147483647},
    };
    for (const auto &[text, value] : cases) {
        ASSERT_EQ(parse({"-bw", text, "-snap", text, "-sr", text, "-vd", text}), ParseResult::ok);
        EXPECT_EQ(s.border_width, value) << "'" << text << "'";
        EXPECT_EQ(s.snap, value) << "'" << text << "'";
        EXPECT_EQ(s.solid_resize, value) << "'" << text << "'";
        EXPECT_EQ(desktops, value) << "'" << text << "'";
    }
}

TEST_F(SettingsTest, DefaultsWithoutOptionsOrResources) {
    ASSERT_EQ(parse({}), ParseResult::ok);
    merge();
    EXPECT_STREQ(s.display_name, "");
    EXPECT_STREQ(s.font_name, "fixed");
    EXPECT_STREQ(s.fg_name, "snow");
    EXPECT_STREQ(s.bg_name, "grey50");
    EXPECT_STREQ(s.active_bg_name, "steel blue");
    EXPECT_STREQ(s.fixed_color_name, "blue");
    EXPECT_EQ(s.tabless_list, nullptr);
    EXPECT_EQ(desktops, 3);
    EXPECT_EQ(s.border_width, 2);
    EXPECT_STREQ(s.command1, "xterm");
    EXPECT_STREQ(s.command2, "vesko");
    EXPECT_STREQ(s.command3, "");
    EXPECT_EQ(s.snap, 10);
    EXPECT_EQ(s.solid_resize, 0);
}

TEST_F(SettingsTest, EveryResourceFillsItsSetting) {
    resources = {{"font", "9x15"},         {"foreground", "black"},     {"tablessWindows", "XEyes"},
                 {"background", "white"},  {"activeBackground", "red"}, {"fixedColor", "green"},
                 {"virtualDesktops", "6"}, {"borderWidth", "5"},        {"command1", "one"},
                 {"command2", "two"},      {"command3", "three"},       {"windowSnap", "20"},
                 {"solidResize", "1"}};
    ASSERT_EQ(parse({}), ParseResult::ok);
    merge();
    EXPECT_STREQ(s.font_name, "9x15");
    EXPECT_STREQ(s.fg_name, "black");
    EXPECT_STREQ(s.tabless_list, "XEyes");
    EXPECT_STREQ(s.bg_name, "white");
    EXPECT_STREQ(s.active_bg_name, "red");
    EXPECT_STREQ(s.fixed_color_name, "green");
    EXPECT_EQ(desktops, 6);
    EXPECT_EQ(s.border_width, 5);
    EXPECT_STREQ(s.command1, "one");
    EXPECT_STREQ(s.command2, "two");
    EXPECT_STREQ(s.command3, "three");
    EXPECT_EQ(s.snap, 20);
    EXPECT_EQ(s.solid_resize, 1);
    // The display has no resource.
    EXPECT_STREQ(s.display_name, "");
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "display"), 0);
}

TEST_F(SettingsTest, OptionBeatsResourceBeatsDefault) {
    struct Case {
        std::vector<std::string> args;
        const char *resource; // borderWidth, or null for none
        int border;
    };
    const std::vector<Case> cases = {
        {{"-bw", "3"}, "5", 3}, // option over resource
        {{}, "5", 5},           // resource over default
        {{"-bw", "0"}, "5", 5}, // an option of 0 is no option
        {{"-bw", "x"}, "5", 5}, // nor is one that is not a number
        {{"-bw", "0"}, nullptr, 2},
        {{}, "0", 0},    // a resource of 0 stays in force
        {{}, "thin", 0}, // and so does one that reads as 0
        {{}, nullptr, 2},
    };
    for (const auto &c : cases) {
        resources.clear();
        if (c.resource) resources["borderWidth"] = c.resource;
        ASSERT_EQ(parse(c.args), ParseResult::ok);
        merge();
        EXPECT_EQ(s.border_width, c.border) << (c.args.empty() ? "" : c.args[0] + " " + c.args[1])
                                            << " resource " << (c.resource ? c.resource : "none");
    }
}

TEST_F(SettingsTest, ZeroFromResourcesStaysForEveryNumber) {
    resources = {
        {"virtualDesktops", "0"}, {"windowSnap", "0"}, {"solidResize", "0"}, {"borderWidth", "0"}};
    ASSERT_EQ(parse({"-vd", "0", "-snap", "0"}), ParseResult::ok);
    merge();
    EXPECT_EQ(desktops, 0);
    EXPECT_EQ(s.snap, 0);
    EXPECT_EQ(s.solid_resize, 0);
    EXPECT_EQ(s.border_width, 0);
}

TEST_F(SettingsTest, SetStringsAreKeptEvenWhenEmpty) {
    resources = {
        {"font", "9x15"}, {"foreground", "black"}, {"command3", "three"}, {"background", ""}};
    ASSERT_EQ(parse({"-fn", "", "-fg", "red", "-cmd3", ""}), ParseResult::ok);
    merge();
    EXPECT_STREQ(s.font_name, "");
    EXPECT_STREQ(s.fg_name, "red");
    EXPECT_STREQ(s.command3, "");
    EXPECT_STREQ(s.bg_name, ""); // an empty resource value is a value
    // What the command line set is not even looked up.
    for (const char *name : {"font", "foreground", "command3"})
        EXPECT_EQ(std::count(asked.begin(), asked.end(), name), 0) << name;
}

TEST_F(SettingsTest, BorderWidthValidity) {
    ASSERT_EQ(parse({}), ParseResult::ok);
    merge();
    EXPECT_EQ(invalid_setting(s), nullptr); // defaults are fine
    s.border_width = 0;
    EXPECT_EQ(invalid_setting(s), nullptr);
    s.border_width = -1;
    EXPECT_NE(invalid_setting(s), nullptr);
    s.border_width = -2147483647 - 1;
    EXPECT_NE(invalid_setting(s), nullptr);
    s.border_width = kMaxBorder;
    EXPECT_EQ(invalid_setting(s), nullptr);
    s.border_width = kMaxBorder + 1;
    EXPECT_NE(invalid_setting(s), nullptr);
}

} // namespace
