// One raw Internet message → MailMessage. Used by the engine for every
// message it fetches, and by the command-line `parse`.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "lib/base/result.h"
#include "state/mail.h"

namespace mail::state {

// The sender address of a message without a usable From address.
inline constexpr std::string_view kUnknownSenderAddress = "unknown@invalid";

struct ParsedRawMessage {
    // Every field taken from the message itself; `labels` empty, `read` and
    // `starred` false, `folder` Inbox, `date` the Date header in minutes (0
    // without one). The caller sets what it knows from the server.
    MailMessage message;
    // The Date header as seconds since the Unix epoch, when present and valid.
    std::optional<std::int64_t> date_header_seconds;
};

// Fails (with the parser's short message) when the bytes are not a message.
lib::Result<ParsedRawMessage> parse_raw_message(std::string_view raw);

// Seconds → whole minutes, the remainder dropped toward zero.
std::int64_t seconds_to_minutes(std::int64_t seconds);

// The date of a fetched message: INTERNALDATE when the server gave one, else
// the Date header, else the fallback (the minute the fetch started).
std::int64_t message_date_minutes(std::optional<std::int64_t> internal_date_seconds,
                                  std::optional<std::int64_t> date_header_seconds,
                                  std::int64_t fallback_minutes);

// What the server says about a message besides its bytes.
struct FetchedFacts {
    FolderRole folder = FolderRole::Inbox;
    bool read = false;     // \Seen
    bool starred = false;  // \Flagged
    std::optional<std::int64_t> internal_date_seconds;
    std::int64_t fallback_minutes = 0;
};

// parse_raw_message with the server's facts applied (date rule above).
lib::Result<MailMessage> message_from_fetch(std::string_view raw, const FetchedFacts& facts);

}  // namespace mail::state
