// Conversation keys: the messages of one reply chain within a folder list
// share a key.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "state/mail.h"

namespace mail::state {

// White space trimmed, all leading '<' and trailing '>' removed, trimmed
// again; empty is no reference. Letter case is kept.
std::optional<std::string> normalize_reference(std::string_view reference);

// An index of one folder list, built once and asked for many keys.
class ConversationIndex {
public:
    // The messages must outlive the index.
    explicit ConversationIndex(std::span<const MailMessage* const> list);

    // The key of `message`: the normalised Message-ID of the first message of
    // its chain present in the list, the reference of a parent that is not in
    // the list, or the message's own id text when it has neither. Reply
    // cycles end at the message where the walk meets itself.
    std::string key(const MailMessage& message) const;

private:
    std::unordered_map<std::string, const MailMessage*> by_reference_;
};

// One-off form of ConversationIndex(list).key(message).
std::string conversation_key(const MailMessage& message, std::span<const MailMessage* const> list);

}  // namespace mail::state
