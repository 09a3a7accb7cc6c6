// The shared mail types: folder roles, user folders, addresses, the message
// record and its attachments.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "state/message_id.h"

namespace mail::state {

// One byte, 0 to 6. Every message is in exactly one role folder.
enum class FolderRole : std::uint8_t {
    Inbox = 0,
    Starred = 1,
    Sent = 2,
    Drafts = 3,
    Archive = 4,
    Trash = 5,
    Junk = 6,
};

inline constexpr std::array<FolderRole, 7> kFolderRoles = {
    FolderRole::Inbox,   FolderRole::Starred, FolderRole::Sent, FolderRole::Drafts,
    FolderRole::Archive, FolderRole::Trash,   FolderRole::Junk,
};

// "inbox", "starred", "sent", "drafts", "archive", "trash", "junk".
std::string_view folder_role_key(FolderRole role);
// "Inbox", "Starred", ...
std::string_view folder_role_display_name(FolderRole role);
// The server mailbox the role is listed from ("INBOX" for Inbox and Starred).
std::string_view folder_role_imap_mailbox(FolderRole role);
// "FLAGGED" for Starred, "ALL" for every other role.
std::string_view folder_role_search_criterion(FolderRole role);
// Exact, case-sensitive comparison with the keys; anything else is no role.
std::optional<FolderRole> parse_folder_role_key(std::string_view key);
// 0..6 → role; anything else is no role.
std::optional<FolderRole> folder_role_from_index(std::uint64_t index);

inline constexpr std::size_t kMaxUserFolderIdChars = 128;

// A folder the user made. `id` is a random version-4 UUID text when the
// client makes the folder (new_user_folder_id); any text of 1 to 128
// characters is accepted from elsewhere (is_acceptable_user_folder_id).
// `name` is kept normalised (normalize_folder_name in text_rules.h).
struct UserFolder {
    std::string id;
    std::string name;

    bool operator==(const UserFolder&) const = default;
};

std::string new_user_folder_id();
bool is_acceptable_user_folder_id(std::string_view id);

// A sender or recipient.
struct MailAddress {
    std::string name;  // may be empty
    std::string address;

    bool operator==(const MailAddress&) const = default;
};

struct MessageAttachment {
    std::string filename;                    // "attachment.bin" when the part has no name
    std::string mime;                        // from the file name's extension
    std::vector<std::uint8_t> content;       // may be empty
    std::optional<std::string> content_id;   // blob-store address; absent for fetched parts
    std::uint64_t size = 0;                  // bytes
    bool downloaded = false;                 // the content is present

    bool operator==(const MessageAttachment&) const = default;
};

inline constexpr std::string_view kNoSubject = "(no subject)";
inline constexpr std::string_view kUnnamedAttachment = "attachment.bin";

struct MailMessage {
    MailAddress from;
    std::vector<MailAddress> to;
    std::vector<MailAddress> cc;
    std::string subject;
    std::string body;
    std::vector<MessageAttachment> attachments;
    std::vector<std::string> labels;
    std::optional<std::string> message_id;
    std::optional<std::string> parent;
    std::optional<std::string> html_body;
    MessageId id;
    std::int64_t date = 0;  // minutes since the Unix epoch, UTC
    bool read = false;
    bool starred = false;
    FolderRole folder = FolderRole::Inbox;

    bool operator==(const MailMessage&) const = default;
};

}  // namespace mail::state
