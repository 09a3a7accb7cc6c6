// IMAP4rev1 server responses as the parser hands them out: one value per
// complete response (tagged completion, untagged data, or continuation
// request). Only the data the client uses is kept; other untagged data is
// reported by name and skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lib::imap {

enum class Condition { ok, no, bad, bye, preauth };

std::string_view condition_name(Condition condition);

// "a1 OK [READ-WRITE] Select completed." or "* OK [UIDVALIDITY 3] Ok", also
// the greeting ("* OK ...", "* PREAUTH ...", "* BYE ...").
struct StatusResponse {
    std::string tag;  // empty for untagged responses
    Condition condition = Condition::ok;
    std::string code;  // text between "[" and "]", empty when none
    std::string text;  // human-readable text after the code

    // "[CODE] text", "text" or "[CODE]": the server's words, for messages.
    std::string describe() const;
    // The first word of the code in upper case ("UIDVALIDITY"), empty if none.
    std::string code_name() const;
    // What follows the first word of the code ("3" for "UIDVALIDITY 3").
    std::string_view code_argument() const;
};

// "+ text" (or base64 challenge data) from the server.
struct Continuation {
    std::string text;
};

// "* CAPABILITY IMAP4rev1 MOVE ...": names as sent.
struct CapabilityData {
    std::vector<std::string> names;
};

// "* LIST (\HasNoChildren) "/" Sent" (also LSUB).
struct ListData {
    std::vector<std::string> flags;
    char delimiter = 0;  // 0 when the server sent NIL
    std::string name;
    bool lsub = false;
};

// "* SEARCH 3 7 9": message numbers or UIDs, in the order sent.
struct SearchData {
    std::vector<std::uint32_t> numbers;
};

// "* 12 EXISTS", "* 0 RECENT", "* 4 EXPUNGE".
struct CountData {
    enum class Kind { exists, recent, expunge };
    Kind kind = Kind::exists;
    std::uint32_t number = 0;
};

// "* FLAGS (\Answered \Seen ...)": the flags defined in the mailbox.
struct FlagsData {
    std::vector<std::string> flags;
};

// "* 5 FETCH (UID 17 FLAGS (\Seen) INTERNALDATE "..." BODY[] {n}...)".
struct FetchData {
    std::uint32_t sequence = 0;
    std::optional<std::uint32_t> uid;
    std::optional<std::vector<std::string>> flags;
    // Seconds since the Unix epoch (UTC); absent when not sent or unreadable.
    std::optional<std::int64_t> internal_date;
    std::optional<std::uint64_t> rfc822_size;
    // The whole message (BODY[] or RFC822); absent when not sent, NIL, or
    // larger than Limits::max_literal.
    std::optional<std::string> body;
    // Size of a body that was larger than Limits::max_literal: read from the
    // connection and discarded, so the connection stays usable.
    std::uint64_t omitted_body_bytes = 0;

    bool has_flag(std::string_view flag) const;  // case-insensitive
};

// Any other untagged response ("STATUS", "ENABLED", "ESEARCH", "ID", ...):
// its name in upper case; the rest is skipped.
struct OtherData {
    std::string name;
};

// What SELECT reports about the mailbox.
struct SelectInfo {
    std::uint32_t exists = 0;
    std::optional<std::uint32_t> uid_validity;
    std::optional<std::uint32_t> uid_next;
    std::vector<std::string> flags;
    bool read_only = false;
};

using Response = std::variant<StatusResponse, Continuation, CapabilityData, ListData, SearchData,
                              CountData, FlagsData, FetchData, OtherData>;

// Reads an INTERNALDATE text "17-Jul-1996 02:44:25 -0700" (day may be space
// padded) as seconds since the Unix epoch, UTC.
std::optional<std::int64_t> parse_internal_date(std::string_view text);

// ASCII case-insensitive equality, as IMAP compares atoms.
bool iequals(std::string_view a, std::string_view b);

}  // namespace lib::imap
