// The built-in sample mailbox: two accounts and fifteen messages over a fixed
// reference minute, used by every scene start except the first-run one.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "state/mail.h"
#include "state/mail_state.h"
#include "validate/account_config.h"

namespace mail::engine {

// 2026-06-30 14:05 UTC in minutes since the Unix epoch; every sample date is
// this minus the message's age.
inline constexpr std::int64_t kSampleReferenceMinute = 29713805;

// The sender of the sample newsletter (the one message with an HTML body).
inline constexpr std::string_view kSampleNewsletterSender = "letters@weekly.example.com";

// The word that several sample subjects share, for the search scene.
inline constexpr std::string_view kSampleSearchWord = "spatial";

// Two password accounts on reserved example domains, the first one active.
std::vector<validate::AccountEntry> sample_accounts();

// The fifteen messages in insertion order (fewer only if a raw sample text
// stopped parsing). Ids are random except for the three raw messages, whose
// ids come from their Message-IDs.
std::vector<state::MailMessage> sample_messages();

// The selection of the sample state: in the current folder's message list,
// the item of the first conversation with more than one message, else the
// first item, else nothing.
std::optional<state::MessageId> sample_selection(const state::MailState& state);

// Accounts, messages, Inbox, the reference minute, the selection above, no
// search, selection mode off, empty status line.
state::MailState sample_mail_state();

}  // namespace mail::engine
