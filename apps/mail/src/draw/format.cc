#include "draw/format.h"

#include <array>
#include <chrono>
#include <cstdio>

#include "runtime/ui/core/widgets/basic.h"

namespace mail::draw {

namespace {

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

std::string two_digits(std::int64_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", static_cast<int>(v));
    return buf;
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace

CivilDate civil_from_days(std::int64_t days) {
    const std::int64_t z = days + 719468;
    const std::int64_t era = floor_div(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    return {y, static_cast<int>(m), static_cast<int>(d)};
}

std::int64_t day_number(std::int64_t minutes) { return floor_div(minutes, 1440); }

std::string_view month_abbreviation(int month) {
    static constexpr std::array<std::string_view, 12> names = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (month == 0) month = 1;
    if (month < 1 || month > 12) return {};
    return names[static_cast<std::size_t>(month - 1)];
}

std::string_view weekday_abbreviation(std::int64_t day) {
    static constexpr std::array<std::string_view, 7> names = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    std::int64_t r = day % 7;
    if (r < 0) r += 7;
    return names[static_cast<std::size_t>(r)];
}

std::string list_time_label(std::int64_t t, std::int64_t now) {
    const std::int64_t td = day_number(t);
    const std::int64_t nd = day_number(now);
    if (td == nd) {
        const std::int64_t mod = t - td * 1440;
        return two_digits(mod / 60) + ":" + two_digits(mod % 60);
    }
    if (nd - td == 1) return "Yesterday";
    if (nd - td >= 2 && nd - td <= 6) return std::string(weekday_abbreviation(td));
    const CivilDate c = civil_from_days(td);
    return std::string(month_abbreviation(c.month)) + " " + std::to_string(c.day);
}

std::string long_date_time(std::int64_t t) {
    const std::int64_t td = day_number(t);
    const CivilDate c = civil_from_days(td);
    const std::int64_t mod = t - td * 1440;
    return std::string(month_abbreviation(c.month)) + " " + std::to_string(c.day) + ", " + std::to_string(c.year) +
           ", " + two_digits(mod / 60) + ":" + two_digits(mod % 60);
}

std::string initials(std::string_view name, std::string_view address) {
    return runtime::ui::Avatar::initials_of(name, address);
}

runtime::ui::Color avatar_color(std::string_view address, std::uint32_t seed, const runtime::ui::Theme& theme) {
    std::array<runtime::ui::Color, 8> palette{};
    for (std::size_t i = 0; i < 6; ++i) palette[i] = theme.palette[i].with_alpha(1);
    palette[6] = runtime::ui::Color::rgb(217, 70, 239);
    palette[7] = runtime::ui::Color::rgb(20, 184, 166);
    return runtime::ui::Avatar::color_for(address, seed, palette);
}

runtime::ui::IconId attachment_icon(std::string_view media_type) {
    using runtime::ui::IconId;
    const std::string t = ascii_lower(media_type);
    if (t.rfind("image/", 0) == 0) return IconId::image;
    if (t.find("pdf") != std::string::npos || t.rfind("text/", 0) == 0) return IconId::document;
    for (const char* k : {"zip", "compressed", "tar", "gzip"}) {
        if (t.find(k) != std::string::npos) return IconId::file_archive;
    }
    if (t.find("calendar") != std::string::npos) return IconId::calendar;
    return IconId::file;
}

std::int64_t now_minutes() {
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    return secs <= 0 ? 0 : secs / 60;
}

}  // namespace mail::draw
