#include "lib/base/log.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace lib::log {
namespace {

std::atomic<int> g_level{-1};

int level_from_environment() {
    const char* v = std::getenv("ZELK_MAIL_LOG");
    if (!v) return static_cast<int>(Level::warn);
    std::string_view s(v);
    if (s == "error") return 0;
    if (s == "warn" || s == "warning") return 1;
    if (s == "info") return 2;
    if (s == "debug" || s == "trace") return 3;
    return static_cast<int>(Level::warn);
}

bool needs_quotes(std::string_view v) {
    if (v.empty()) return true;
    for (unsigned char c : v)
        if (c <= ' ' || c == '"' || c == '=' || c == '\\' || c == 0x7f) return true;
    return false;
}

void append_value(std::string& out, std::string_view v) {
    if (!needs_quotes(v)) {
        out += v;
        return;
    }
    out += '"';
    for (unsigned char c : v) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7f) {
            static const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

}  // namespace

void reload_level_from_environment() { g_level.store(level_from_environment()); }

bool enabled(Level level) {
    int current = g_level.load(std::memory_order_relaxed);
    if (current < 0) {
        current = level_from_environment();
        g_level.store(current);
    }
    return static_cast<int>(level) <= current;
}

std::string format_line(std::string_view event, std::initializer_list<Field> fields) {
    std::string line = "mail: ";
    for (char c : event) line += (c == '\n' || c == '\r') ? ' ' : c;
    for (const auto& [key, value] : fields) {
        line += ' ';
        line += key;
        line += '=';
        append_value(line, value);
    }
    return line;
}

void write(Level level, std::string_view event, std::initializer_list<Field> fields) {
    if (!enabled(level)) return;
    std::string line = format_line(event, fields);
    line += '\n';
    // One write(2) per line keeps lines from different threads whole.
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace lib::log
