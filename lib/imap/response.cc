#include "lib/imap/response.h"

namespace lib::imap {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool read_digits(std::string_view& s, int count, int& out) {
    if (s.size() < static_cast<std::size_t>(count)) return false;
    int v = 0;
    for (int i = 0; i < count; ++i) {
        char c = s[static_cast<std::size_t>(i)];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    s.remove_prefix(static_cast<std::size_t>(count));
    out = v;
    return true;
}

bool expect(std::string_view& s, char c) {
    if (s.empty() || s.front() != c) return false;
    s.remove_prefix(1);
    return true;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string_view condition_name(Condition condition) {
    switch (condition) {
        case Condition::ok: return "OK";
        case Condition::no: return "NO";
        case Condition::bad: return "BAD";
        case Condition::bye: return "BYE";
        case Condition::preauth: return "PREAUTH";
    }
    return "?";
}

std::string StatusResponse::describe() const {
    std::string out;
    if (!code.empty()) out = "[" + code + "]";
    if (!text.empty()) {
        if (!out.empty()) out += " ";
        out += text;
    }
    return out;
}

std::string StatusResponse::code_name() const {
    std::string out = code.substr(0, code.find(' '));
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string_view StatusResponse::code_argument() const {
    auto space = code.find(' ');
    if (space == std::string::npos) return {};
    return std::string_view(code).substr(space + 1);
}

bool FetchData::has_flag(std::string_view flag) const {
    if (!flags) return false;
    for (const auto& f : *flags) {
        if (iequals(f, flag)) return true;
    }
    return false;
}

std::optional<std::int64_t> parse_internal_date(std::string_view s) {
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    static const int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0, zh = 0, zm = 0;
    if (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    if (s.size() >= 2 && s[1] == '-') {
        if (!read_digits(s, 1, day)) return std::nullopt;
    } else if (!read_digits(s, 2, day)) {
        return std::nullopt;
    }
    if (!expect(s, '-') || s.size() < 3) return std::nullopt;
    for (int i = 0; i < 12; ++i) {
        if (lower(s[0]) == months[i][0] && lower(s[1]) == months[i][1] && lower(s[2]) == months[i][2])
            month = i + 1;
    }
    if (month == 0) return std::nullopt;
    s.remove_prefix(3);
    if (!expect(s, '-') || !read_digits(s, 4, year) || !expect(s, ' ') || !read_digits(s, 2, hour) ||
        !expect(s, ':') || !read_digits(s, 2, minute) || !expect(s, ':') || !read_digits(s, 2, second) ||
        !expect(s, ' ') || s.empty())
        return std::nullopt;
    char sign = s.front();
    s.remove_prefix(1);
    if ((sign != '+' && sign != '-') || !read_digits(s, 2, zh) || !read_digits(s, 2, zm) || !s.empty())
        return std::nullopt;
    int max_day = month_days[month - 1] + (month == 2 && leap(year) ? 1 : 0);
    if (day < 1 || day > max_day || hour > 23 || minute > 59 || second > 60 || zm > 59)
        return std::nullopt;
    std::int64_t t = days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                     hour * 3600 + minute * 60 + second;
    std::int64_t offset = zh * 3600 + zm * 60;
    return sign == '+' ? t - offset : t + offset;
}

}  // namespace lib::imap
