#include <gtest/gtest.h>

#include <cstdlib>

#include "lib/base/log.h"
#include "lib/base/places.h"
#include "lib/base/result.h"
#include "lib/base/utf8.h"

namespace {

TEST(Result, CarriesValueOrMessage) {
    lib::Result<int> good = 7;
    lib::Result<int> bad = lib::err("no IMAP host");
    ASSERT_TRUE(good.ok());
    EXPECT_EQ(*good, 7);
    EXPECT_EQ(good.error(), "");
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error(), "no IMAP host");
    EXPECT_EQ(bad.value_or(3), 3);
    lib::Status s = lib::err("x");
    EXPECT_FALSE(s.ok());
    EXPECT_TRUE(lib::ok_status().ok());
}

TEST(Log, QuotesValuesAndKeepsOneLine) {
    EXPECT_EQ(lib::log::format_line("could not persist sync status",
                                    {{"error", "disk full\nnow"}, {"account", "a@b.c"}}),
              "mail: could not persist sync status error=\"disk full\\nnow\" account=a@b.c");
    EXPECT_EQ(lib::log::format_line("x", {{"empty", ""}}), "mail: x empty=\"\"");
}

TEST(Log, LevelFromEnvironment) {
    setenv("ZELK_MAIL_LOG", "error", 1);
    lib::log::reload_level_from_environment();
    EXPECT_TRUE(lib::log::enabled(lib::log::Level::error));
    EXPECT_FALSE(lib::log::enabled(lib::log::Level::warn));
    unsetenv("ZELK_MAIL_LOG");
    lib::log::reload_level_from_environment();
    EXPECT_TRUE(lib::log::enabled(lib::log::Level::warn));
    EXPECT_FALSE(lib::log::enabled(lib::log::Level::info));
}

TEST(Places, FollowXdgThenHome) {
    setenv("XDG_CONFIG_HOME", "/x/conf", 1);
    setenv("XDG_DATA_HOME", "relative/ignored", 1);
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(lib::places::config_root()->string(), "/x/conf/zelk-mail");
    EXPECT_EQ(lib::places::data_root()->string(), "/home/u/.local/share/zelk-mail");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(lib::places::config_root()->string(), "/home/u/.config/zelk-mail");
}

}  // namespace

namespace {

TEST(Utf8, RejectsMalformedAndRepairsByte) {
    struct Case {
        std::string text;
        bool valid;
        std::string repaired;
    } cases[] = {
        {"caf\xC3\xA9", true, "caf\xC3\xA9"},
        {"\xF0\x9F\x93\x8E", true, "\xF0\x9F\x93\x8E"},
        {"\xC0\xAF", false, "\xEF\xBF\xBD\xEF\xBF\xBD"},           // overlong "/"
        {"\xED\xA0\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"\xF4\x90\x80\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a\xE2\x82", false, "a\xEF\xBF\xBD\xEF\xBF\xBD"},            // cut short
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lib::utf8::is_valid(c.text), c.valid) << c.text;
        EXPECT_EQ(lib::utf8::repair(c.text), c.repaired) << c.text;
    }
}

}  // namespace
