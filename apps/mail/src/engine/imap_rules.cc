#include "engine/imap_rules.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>

#include "lib/imap/response.h"
#include "state/raw_message.h"

namespace mail::engine {

std::vector<std::uint32_t> newest_uids(std::vector<std::uint32_t> uids, std::size_t limit) {
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    if (uids.size() > limit) uids.erase(uids.begin(), uids.end() - static_cast<std::ptrdiff_t>(limit));
    std::reverse(uids.begin(), uids.end());
    return uids;
}

std::vector<state::MailMessage> records_from_fetch(const std::vector<lib::imap::FetchData>& answers,
                                                   const std::vector<std::uint32_t>& requested,
                                                   state::FolderRole role, std::int64_t fallback_minute) {
    std::unordered_map<std::uint32_t, std::size_t> position;
    for (std::size_t i = 0; i < requested.size(); ++i) position.emplace(requested[i], i);

    std::vector<std::optional<state::MailMessage>> slots(requested.size());
    for (const lib::imap::FetchData& answer : answers) {
        if (!answer.body || !answer.uid) continue;
        auto at = position.find(*answer.uid);
        if (at == position.end() || slots[at->second]) continue;
        state::FetchedFacts facts;
        facts.folder = role;
        facts.read = answer.has_flag("\\Seen");
        facts.starred = answer.has_flag("\\Flagged");
        facts.internal_date_seconds = answer.internal_date;
        facts.fallback_minutes = fallback_minute;
        auto message = state::message_from_fetch(*answer.body, facts);
        if (!message) continue;
        slots[at->second] = std::move(*message);
    }
    std::vector<state::MailMessage> out;
    out.reserve(slots.size());
    for (auto& slot : slots)
        if (slot) out.push_back(std::move(*slot));
    return out;
}

std::optional<std::string> search_message_id(const state::MailMessage& message) {
    if (!message.message_id || message.message_id->empty()) return std::nullopt;
    std::string text;
    for (char c : *message.message_id)
        if (c != '"') text += c;
    // A value made only of quotes and blanks would match every message
    // that has the header, so it counts as no Message-ID at all.
    if (text.find_first_not_of(" \t") == std::string::npos) return std::nullopt;
    return text;
}

std::int64_t current_minute() {
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    return s < 0 ? 0 : s / 60;
}

}  // namespace mail::engine
