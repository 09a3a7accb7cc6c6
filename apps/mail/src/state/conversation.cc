#include "state/conversation.h"

#include <unordered_set>

#include "state/text_rules.h"

namespace mail::state {

std::optional<std::string> normalize_reference(std::string_view reference) {
    const std::string trimmed = trim_white_space(reference);
    std::string_view rest = trimmed;
    while (!rest.empty() && rest.front() == '<') rest.remove_prefix(1);
    while (!rest.empty() && rest.back() == '>') rest.remove_suffix(1);
    std::string result = trim_white_space(rest);
    if (result.empty()) return std::nullopt;
    return result;
}

ConversationIndex::ConversationIndex(std::span<const MailMessage* const> list) {
    for (const MailMessage* m : list) {
        if (m == nullptr || !m->message_id) continue;
        if (auto ref = normalize_reference(*m->message_id)) by_reference_[*ref] = m;
    }
}

std::string ConversationIndex::key(const MailMessage& message) const {
    const auto own_key = [](const MailMessage& m) {
        if (m.message_id) {
            if (auto ref = normalize_reference(*m.message_id)) return *ref;
        }
        return m.id.text();
    };
    std::unordered_set<MessageId> visited;
    const MailMessage* current = &message;
    for (;;) {
        if (!visited.insert(current->id).second) return own_key(*current);
        std::optional<std::string> parent;
        if (current->parent) parent = normalize_reference(*current->parent);
        if (!parent) return own_key(*current);
        const auto it = by_reference_.find(*parent);
        if (it == by_reference_.end()) return *parent;
        current = it->second;
    }
}

std::string conversation_key(const MailMessage& message, std::span<const MailMessage* const> list) {
    return ConversationIndex(list).key(message);
}

}  // namespace mail::state
