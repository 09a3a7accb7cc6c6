// Writing IMAP command lines: fresh tags, quoted strings and a small builder
// that refuses anything that cannot be sent on one line.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "lib/base/result.h"

namespace lib::imap {

// What the engine fetches for each message.
inline constexpr std::string_view kFetchItems = "(UID FLAGS INTERNALDATE BODY.PEEK[])";

// UID STORE +FLAGS, -FLAGS, +FLAGS.SILENT, -FLAGS.SILENT.
enum class StoreAction { add, remove, add_silent, remove_silent };

// The text as an IMAP quoted string: between double quotes, with "\" and
// "\"" escaped by a backslash; "" for the empty text. CR, LF and NUL cannot
// be quoted and give an error.
Result<std::string> quote(std::string_view text);

// UIDs joined by "," in the given order, for UID FETCH and friends.
std::string sequence_set(std::span<const std::uint32_t> numbers);

// Tags "a1", "a2", ... unique within one connection.
class TagSource {
public:
    std::string next();

private:
    std::uint64_t n_ = 0;
};

// A command line built from parts; the first bad part is remembered and
// reported by line().
class Command {
public:
    explicit Command(std::string_view name);

    // Appended after a space as written ("*", "(\\Seen)", "1:*", "ALL").
    Command& raw(std::string_view text);
    // Appended as a quoted string.
    Command& string(std::string_view text);
    Command& number(std::uint64_t n);

    // "<tag> <name> <parts>\r\n".
    Result<std::string> line(std::string_view tag) const;
    // The command's name, for messages and logs (never the arguments).
    const std::string& name() const { return name_; }

private:
    std::string name_;
    std::string args_;
    std::string error_;
};

}  // namespace lib::imap
