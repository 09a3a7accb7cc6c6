// Applying a MailAction to the mailbox document.
//
// Id lists are cleaned first (clean_ids) and only ids that are present are
// acted on; other ids are skipped without error. Every action succeeds except
// a Purge whose ids are not all present in Trash: it fails with
// kPurgeNeedsTrash and changes nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "actions/mail_action.h"
#include "doc/mailbox.h"
#include "lib/base/result.h"

namespace mail::doc {

// Ids (and user folder ids) longer than this many characters are ignored.
inline constexpr std::size_t kMaxIdChars = 128;
// At most this many ids of one action are used.
inline constexpr std::size_t kMaxActionIds = 256;

inline constexpr std::string_view kPurgeNeedsTrash =
    "every message must still be present in Trash before permanent deletion";

// Each id trimmed of white space; empty ids, ids of more than kMaxIdChars
// characters and repeats of an earlier id dropped; the first kMaxActionIds of
// the rest, in order.
std::vector<std::string> clean_ids(const std::vector<std::string>& ids);

// Applies the action inside an open change. A failing Purge returns its error
// before writing anything.
lib::Status apply_action(Tx& d, const actions::MailAction& action);

// Applies the action as one change of the document, so it lands whole or not
// at all. Errors: a failing Purge, or the change could not be stored.
lib::Status apply_action(Doc& d, const actions::MailAction& action);

}  // namespace mail::doc
