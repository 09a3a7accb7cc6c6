// The parts of IMAP syncing that need no connection: which UIDs a fetch asks
// for, and how the server's FETCH answers become message records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "state/mail.h"

namespace lib::imap {
struct FetchData;
}

namespace mail::engine {

// Messages fetched per request.
inline constexpr std::size_t kFetchLimit = 50;

// The `limit` highest UIDs, highest first (repeats counted once).
std::vector<std::uint32_t> newest_uids(std::vector<std::uint32_t> uids, std::size_t limit = kFetchLimit);

// One record per answered UID that carries a body that parses as a message,
// in the order of `requested` (highest UID first); answers without a body
// (flag updates) and bodies that do not parse are left out. Read is \Seen,
// starred \Flagged; the date is INTERNALDATE, else the Date header, else
// `fallback_minute`; the folder is `role`.
std::vector<state::MailMessage> records_from_fetch(const std::vector<lib::imap::FetchData>& answers,
                                                   const std::vector<std::uint32_t>& requested,
                                                   state::FolderRole role, std::int64_t fallback_minute);

// The Message-ID text a message is searched by: the stored value with every
// double quote removed; nothing when the message has none, or when nothing
// but blanks is left (such a search would match every message).
std::optional<std::string> search_message_id(const state::MailMessage& message);

// The current minute since the Unix epoch (0 before the epoch).
std::int64_t current_minute();

}  // namespace mail::engine
