#include "draw/format.h"

#include <gtest/gtest.h>

namespace mail::draw {
namespace {

// 2026-06-30 00:00 UTC (a Tuesday).
constexpr std::int64_t kDay = 29713805 - (14 * 60 + 5);

TEST(Format, ListTimeLabels) {
    struct Case {
        std::int64_t t;
        std::int64_t now;
        const char* label;
    };
    const Case cases[] = {
        {kDay + 8 * 60 + 30, kDay + 14 * 60, "08:30"},
        {kDay, kDay + 1, "00:00"},                      // midnight today
        {kDay - 1, kDay + 1, "Yesterday"},              // 23:59 yesterday, seen at 00:01
        {kDay - 2 * 1440, kDay + 60, "Sun"},            // two days back
        {kDay - 6 * 1440, kDay + 60, "Wed"},            // six days back
        {kDay - 7 * 1440, kDay + 60, "Jun 23"},         // a week back
        {kDay + 1440 + 5, kDay + 60, "Jul 1"},          // in the future
        {0, 0, "00:00"},
        {-1, 0, "Yesterday"},                           // before the epoch floors
    };
    for (const Case& c : cases) EXPECT_EQ(list_time_label(c.t, c.now), c.label) << c.t << " at " << c.now;
}

TEST(Format, LongDateTimeAndCivilDates) {
    EXPECT_EQ(long_date_time(kDay + 8 * 60 + 30), "Jun 30, 2026, 08:30");
    EXPECT_EQ(long_date_time(0), "Jan 1, 1970, 00:00");
    EXPECT_EQ(civil_from_days(-1), (CivilDate{1969, 12, 31}));
    EXPECT_EQ(civil_from_days(11016), (CivilDate{2000, 2, 29}));  // leap day of a 400-year year
    EXPECT_EQ(month_abbreviation(0), "Jan");
    EXPECT_EQ(month_abbreviation(13), "");
    EXPECT_EQ(weekday_abbreviation(0), "Thu");
    EXPECT_EQ(weekday_abbreviation(-1), "Wed");
}

TEST(Format, InitialsColoursAndIcons) {
    EXPECT_EQ(initials("Jean-Luc Picard", "jl@example.com"), "JP");
    EXPECT_EQ(initials("", "ada.lovelace@example.com"), "AL");
    EXPECT_EQ(initials("", ""), "?");

    const runtime::ui::Theme theme = runtime::ui::Theme::dark();
    // h for "a" with seed 0 is 97: entry 1; with seed 1 it is 128: entry 0.
    EXPECT_EQ(avatar_color("a", 0, theme), theme.palette[1]);
    EXPECT_EQ(avatar_color("a", 1, theme), theme.palette[0]);
    // 102 → entry 6, 103 → entry 7: the two fixed colours.
    EXPECT_EQ(avatar_color("f", 0, theme), runtime::ui::Color::rgb(217, 70, 239));
    EXPECT_EQ(avatar_color("g", 0, theme), runtime::ui::Color::rgb(20, 184, 166));

    using runtime::ui::IconId;
    const std::pair<const char*, IconId> icons[] = {
        {"image/png", IconId::image},           {"application/PDF", IconId::document},
        {"text/calendar", IconId::document},    {"application/gzip", IconId::file_archive},
        {"application/x-tar", IconId::file_archive}, {"application/ics+calendar", IconId::calendar},
        {"application/octet-stream", IconId::file},
    };
    for (const auto& [type, icon] : icons) EXPECT_EQ(attachment_icon(type), icon) << type;
}

}  // namespace
}  // namespace mail::draw
