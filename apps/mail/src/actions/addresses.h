// Address texts of the resources the client publishes to the action framework,
// and the one computed action name. Formatting and parsing are inverses: a
// text that parses formats back to itself, and parse(format(x)) == x for every
// address whose role key has no ":" (role keys never do) and whose ids and
// keys are not empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace mail::actions {

inline constexpr std::string_view kMailboxAddress = "mail.mailbox";
inline constexpr std::string_view kAccountsAddress = "mail.accounts";
inline constexpr std::string_view kCurrentDraftAddress = "mail.draft:current";
inline constexpr std::string_view kSearchStatusAddress = "mail.search-status";

inline constexpr std::string_view kAccountPrefix = "mail.account:";
inline constexpr std::string_view kFolderPrefix = "mail.folder:";
inline constexpr std::string_view kThreadPrefix = "mail.thread:";
inline constexpr std::string_view kMessagePrefix = "mail.message:";
inline constexpr std::string_view kAttachmentPrefix = "mail.attachment:";

inline constexpr std::string_view kRemoveLabelPrefix = "remove-label-";

// "mail.account:" + account id
std::string account_address(std::string_view account_id);
// "mail.folder:" + role key (role folders) or folder id (user folders)
std::string folder_address(std::string_view role_key_or_folder_id);
// "mail.thread:" + role key of the folder on screen + ":" + conversation key
std::string thread_address(std::string_view role_key, std::string_view conversation_key);
// "mail.message:" + message id text
std::string message_address(std::string_view message_id);
// "mail.attachment:" + message id + ":" + 0-based position in decimal
std::string attachment_address(std::string_view message_id, std::uint64_t position);

// "remove-label-" + 0-based position of the label in the message's list.
std::string remove_label_action_name(std::uint64_t position);
// The position of such a name; nothing for any other text (no sign, no
// leading zero, no overflow).
std::optional<std::uint64_t> parse_remove_label_action_name(std::string_view name);

// A parsed address. Ids and keys are carried verbatim; whether they name
// something that exists is the caller's question.
struct MailboxAddress {
    bool operator==(const MailboxAddress&) const = default;
};
struct AccountsAddress {
    bool operator==(const AccountsAddress&) const = default;
};
struct AccountAddress {
    std::string account_id;
    bool operator==(const AccountAddress&) const = default;
};
struct FolderAddress {
    std::string key;  // a role key or a user folder id
    bool operator==(const FolderAddress&) const = default;
};
struct ThreadAddress {
    std::string role_key;
    std::string conversation_key;  // may itself contain ":"
    bool operator==(const ThreadAddress&) const = default;
};
struct MessageAddress {
    std::string message_id;
    bool operator==(const MessageAddress&) const = default;
};
struct AttachmentAddress {
    std::string message_id;
    std::uint64_t position = 0;
    bool operator==(const AttachmentAddress&) const = default;
};
struct CurrentDraftAddress {
    bool operator==(const CurrentDraftAddress&) const = default;
};
struct SearchStatusAddress {
    bool operator==(const SearchStatusAddress&) const = default;
};

using ResourceAddress = std::variant<MailboxAddress, AccountsAddress, AccountAddress, FolderAddress, ThreadAddress,
                                     MessageAddress, AttachmentAddress, CurrentDraftAddress, SearchStatusAddress>;

std::string format_address(const ResourceAddress& address);

// Nothing for texts that are no address of this client, including an empty id
// or key, a thread address without the ":" after the role key, and an
// attachment position that is not a plain decimal number.
std::optional<ResourceAddress> parse_address(std::string_view text);

}  // namespace mail::actions
