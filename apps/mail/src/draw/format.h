// Small pure helpers of the panes: how times are shown, people's initials
// and colours, and the icon of an attachment. All times are whole minutes
// since 1970-01-01 00:00 UTC and are shown in UTC.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "runtime/ui/core/geometry.h"
#include "runtime/ui/core/icon.h"
#include "runtime/ui/core/theme.h"

namespace mail::draw {

struct CivilDate {
    std::int64_t year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    bool operator==(const CivilDate&) const = default;
};

// Days since 1970-01-01 → proleptic Gregorian date.
CivilDate civil_from_days(std::int64_t days);
// Floor of minutes / 1440.
std::int64_t day_number(std::int64_t minutes);
// "Jan".."Dec" for 1..12; 0 reads as 1; anything else is empty.
std::string_view month_abbreviation(int month);
// "Thu" for day 0 (1970-01-01), and so on.
std::string_view weekday_abbreviation(std::int64_t day);
// The list's label: "08:30" the same day, "Yesterday", a weekday within the
// week before, else "Jun 30" (also for times in the future).
std::string list_time_label(std::int64_t t, std::int64_t now);
// "Jun 30, 2026, 08:30".
std::string long_date_time(std::int64_t t);

// Up to two upper-cased initials of a person (see runtime::ui::Avatar).
std::string initials(std::string_view name, std::string_view address);
// h = seed, then h = byte + h × 31 over the address (32-bit wrapping); entry
// h mod 8 of the theme's six palette colours followed by two fixed ones.
runtime::ui::Color avatar_color(std::string_view address, std::uint32_t seed, const runtime::ui::Theme& theme);

// The icon of an attachment by its media type.
runtime::ui::IconId attachment_icon(std::string_view media_type);

// The current time in whole minutes since the Unix epoch (0 before it).
std::int64_t now_minutes();

}  // namespace mail::draw
