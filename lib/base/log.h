// The program's one logging facility: lines "mail: <event> key=value ..." on
// stderr. The level comes from ZELK_MAIL_LOG (error, warn, info, debug;
// default warn). Never pass secrets as fields.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace lib::log {

enum class Level { error = 0, warn = 1, info = 2, debug = 3 };

using Field = std::pair<std::string_view, std::string_view>;

// Whether a line of this level is written under the current setting.
bool enabled(Level level);

// Writes one line when the level is enabled. Thread-safe; one write per line.
void write(Level level, std::string_view event, std::initializer_list<Field> fields = {});

inline void error(std::string_view event, std::initializer_list<Field> fields = {}) {
    write(Level::error, event, fields);
}
inline void warn(std::string_view event, std::initializer_list<Field> fields = {}) {
    write(Level::warn, event, fields);
}
inline void info(std::string_view event, std::initializer_list<Field> fields = {}) {
    write(Level::info, event, fields);
}
inline void debug(std::string_view event, std::initializer_list<Field> fields = {}) {
    write(Level::debug, event, fields);
}

// Formats the line without writing it (for tests): "mail: event k=v k2=\"v 2\"".
std::string format_line(std::string_view event, std::initializer_list<Field> fields);

// Re-reads ZELK_MAIL_LOG (the level is read once, on first use).
void reload_level_from_environment();

}  // namespace lib::log
