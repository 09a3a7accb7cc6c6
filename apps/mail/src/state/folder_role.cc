#include "state/mail.h"

#include "state/text_rules.h"

namespace mail::state {
namespace {

struct RoleRow {
    std::string_view key;
    std::string_view display;
    std::string_view mailbox;
    std::string_view criterion;
};

constexpr std::array<RoleRow, 7> kRows = {{
    {"inbox", "Inbox", "INBOX", "ALL"},
    {"starred", "Starred", "INBOX", "FLAGGED"},
    {"sent", "Sent", "Sent", "ALL"},
    {"drafts", "Drafts", "Drafts", "ALL"},
    {"archive", "Archive", "Archive", "ALL"},
    {"trash", "Trash", "Trash", "ALL"},
    {"junk", "Junk", "Junk", "ALL"},
}};

const RoleRow& row(FolderRole role) {
    const auto index = static_cast<std::size_t>(role);
    return kRows[index < kRows.size() ? index : 0];
}

}  // namespace

std::string_view folder_role_key(FolderRole role) { return row(role).key; }
std::string_view folder_role_display_name(FolderRole role) { return row(role).display; }
std::string_view folder_role_imap_mailbox(FolderRole role) { return row(role).mailbox; }
std::string_view folder_role_search_criterion(FolderRole role) { return row(role).criterion; }

std::optional<FolderRole> parse_folder_role_key(std::string_view key) {
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        if (kRows[i].key == key) return static_cast<FolderRole>(i);
    }
    return std::nullopt;
}

std::optional<FolderRole> folder_role_from_index(std::uint64_t index) {
    if (index >= kRows.size()) return std::nullopt;
    return static_cast<FolderRole>(index);
}

std::string new_user_folder_id() { return MessageId::random().text(); }

bool is_acceptable_user_folder_id(std::string_view id) {
    return !id.empty() && is_valid_utf8(id) && count_characters(id) <= kMaxUserFolderIdChars;
}

}  // namespace mail::state
