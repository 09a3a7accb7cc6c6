#include "state/text_rules.h"

#include <gtest/gtest.h>

namespace mail::state {
namespace {

std::string repeat(std::string_view s, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

TEST(NormalizeLabel, Cases) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"  work  ", "work"},
        {repeat("x", 200), repeat("x", 128)},
        {repeat("é", 200), repeat("é", 128)},        // counted in characters, not bytes
        {repeat("😀", 130), repeat("😀", 128)},
        {"\x01\x02\x1f\x7f", ""},                    // only control characters
        {"\xc2\x85\xc2\x9f", ""},                    // C1 controls
        {"wo\trk\n", "work"},
        {"\x01 name", "name"},                       // no leading space left behind
        {"\xc2\xa0name\xe3\x80\x80", "name"},        // non-ASCII white space trimmed
        {repeat("\x01", 10) + repeat("y", 128) + "z", repeat("y", 128)},  // counted after dropping
        {"a\xff" "b", "a\xef\xbf\xbd" "b"},          // invalid byte repaired, not split
        {repeat("a", 127) + "\xe2\x82\xac\xe2\x82\xac", repeat("a", 127) + "\xe2\x82\xac"},
        {repeat("a", 127) + " b", repeat("a", 127)}, // cut leaves no trailing space
    };
    for (const auto& c : cases) {
        const std::string got = normalize_label(c.in);
        EXPECT_EQ(got, c.out) << c.in;
        EXPECT_TRUE(is_valid_utf8(got));
    }
}

TEST(NormalizeFolderName, CutsAt96Characters) {
    EXPECT_EQ(normalize_folder_name(repeat("ü", 100)), repeat("ü", 96));
    EXPECT_EQ(normalize_folder_name(" Projects\r\n"), "Projects");
    EXPECT_EQ(normalize_folder_name("\x7f"), "");
}

TEST(NormalizeText, KeepsLineBreaksWhenAsked) {
    EXPECT_EQ(normalize_text(" a\tb\r\nc\x01 ", 100, LineBreaks::keep), "a\tb\r\nc");
    EXPECT_EQ(normalize_text(" a\tb\r\nc\x01 ", 100, LineBreaks::drop), "abc");
}

TEST(Utf8, RepairAndValidity) {
    const struct {
        std::string in;
        bool valid;
        std::string repaired;
    } cases[] = {
        {"plain", true, "plain"},
        {"\xc3\xa9", true, "\xc3\xa9"},
        {"\xc3", false, "\xef\xbf\xbd"},                         // truncated
        {"\xc0\xaf", false, "\xef\xbf\xbd\xef\xbf\xbd"},         // overlong
        {"\xed\xa0\x80", false, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // surrogate
        {"\xf4\x90\x80\x80", false, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {"\xf0\x9f\x98\x80", true, "\xf0\x9f\x98\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_valid_utf8(c.in), c.valid) << c.in;
        EXPECT_EQ(repair_utf8(c.in), c.repaired) << c.in;
    }
    EXPECT_EQ(count_characters("a\xc3\xa9\xff"), 3u);
    EXPECT_EQ(take_characters("\xc3\xa9\xc3\xa9\xc3\xa9", 2), "\xc3\xa9\xc3\xa9");
}

}  // namespace
}  // namespace mail::state
