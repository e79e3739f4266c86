// Titles and tab font names: repair_utf8 and the helpers around it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text.h"

namespace {

const std::string R = "\xEF\xBF\xBD"; // U+FFFD

struct Repair {
    std::string in, out;
};

class RepairUtf8 : public testing::TestWithParam<Repair> {};

// The input is copied into a buffer of exactly its size: a read past it is caught by
// the sanitizer build.
TEST_P(RepairUtf8, ReplacesEachBrokenSequenceAndReadsNoFurther) {
    const std::vector<unsigned char> bytes(GetParam().in.begin(), GetParam().in.end());
    EXPECT_EQ(text::repair_utf8(bytes.data(), bytes.size()), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RepairUtf8,
    testing::Values(Repair{"", ""}, Repair{"plain", "plain"},
                    Repair{"\xD0\x9F\xD1\x80\xD0\xB8 \xE2\x80\x94 \xE2\x9C\x93 \xF0\x9F\x98\x80",
                           "\xD0\x9F\xD1\x80\xD0\xB8 \xE2\x80\x94 \xE2\x9C\x93 \xF0\x9F\x98\x80"},
                    Repair{R, R},                    // U+FFFD itself stays
                    Repair{"a\x80z", "a" + R + "z"}, // stray continuation byte
                    Repair{"\xE2\x80", R},           // cut short at the end
                    Repair{"\xE2\x82"
                           "A",
                           R + "A"},                           // cut short by a character
                    Repair{"\xC0\xAF", R + R},                 // overlong
                    Repair{"\xE0\x80\x80", R + R + R},         // overlong
                    Repair{"\xED\xA0\x80", R + R + R},         // surrogate
                    Repair{"\xF4\x90\x80\x80", R + R + R + R}, // above U+10FFFF
                    Repair{"\xFF"
                           "b",
                           R + "b"},
                    Repair{std::string("ab\0cd", 5), "ab"})); // up to the first NUL

TEST(Text, PrefixLatin1AndRuns) {
    const std::string s = "a\xD0\x9F\xE2\x80\x94z"; // a, П, —, z
    EXPECT_EQ(text::utf8_prefix(s, 2), 3u);
    EXPECT_EQ(text::utf8_prefix(s, 99), s.size());
    EXPECT_EQ(text::latin1_or_mark("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xE9 ?");
    EXPECT_TRUE(text::is_latin1("caf\xC3\xA9 \xC3\xBF"));
    EXPECT_FALSE(text::is_latin1("caf\xC3\xA9 \xC4\x80"));
    const auto runs = text::split_runs(s, [](char32_t c) { return c < 0x80 ? 0 : 1; });
    EXPECT_EQ(runs, (std::vector<text::Run>{{0, 1, 0}, {1, 6, 1}, {6, 7, 0}}));
    EXPECT_TRUE(text::is_utf8_codeset("UTF-8"));
    EXPECT_TRUE(text::is_utf8_codeset("utf8"));
    EXPECT_FALSE(text::is_utf8_codeset("ANSI_X3.4-1968"));
}

TEST(Text, FontNames) {
    const std::string fixed = "-Misc-Fixed-Medium-R-SemiCondensed--13-120-75-75-C-60-ISO8859-1";
    EXPECT_EQ(text::xlfd_pixel_size(fixed), 13);
    EXPECT_EQ(text::xlfd_pixel_size("fixed"), 0);
    EXPECT_EQ(text::fontset_base_names(fixed),
              fixed + ",-Misc-Fixed-Medium-R-SemiCondensed--13-120-75-75-C-60-*-*");
    EXPECT_EQ(text::fontset_base_names("fixed"), "fixed");
    EXPECT_EQ(text::nearest_real_size({"-a-b-medium-r-normal--0-0-75-75-c-0-jisx0208.1983-0",
                                       "-a-b-medium-r-normal--16-150-75-75-c-160-jisx0208.1983-0",
                                       "-a-b-medium-r-normal--14-130-75-75-c-140-jisx0208.1983-0",
                                       "-a-b-medium-r-normal--12-110-75-75-c-120-jisx0208.1983-0"},
                                      13),
              "-a-b-medium-r-normal--12-110-75-75-c-120-jisx0208.1983-0");
    EXPECT_EQ(text::nearest_real_size({"-a-b-medium-r-normal--0-0-75-75-c-0-gb2312.1980-0"}, 13),
              "");
    EXPECT_TRUE(text::may_be_pattern("DejaVu Sans Mono:size=10"));
    EXPECT_FALSE(text::may_be_pattern("-no-such-font-*"));
    EXPECT_FALSE(text::may_be_pattern(""));
    // As fontconfig configures "DejaVu Sans Mono", "Helvetica", "monospace", ":size=10"
    // and "Bogus".
    EXPECT_TRUE(text::family_honoured({{"dejavusans mono", true}, {"DejaVu Sans", false}},
                                      {"DejaVu Sans Mono"}));
    EXPECT_TRUE(
        text::family_honoured({{"Helvetica", true}, {"Nimbus Sans", true}}, {"Nimbus Sans"}));
    EXPECT_TRUE(text::family_honoured({{"Noto Sans Mono", false}, {"monospace", true}},
                                      {"Noto Sans Mono"}));
    EXPECT_TRUE(text::family_honoured({{"DejaVu Sans", false}}, {"DejaVu Sans"}));
    EXPECT_FALSE(text::family_honoured({{"Bogus", true}, {"DejaVu Sans", false}}, {"DejaVu Sans"}));
}

} // namespace
