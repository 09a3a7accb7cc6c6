#include "actions/addresses.h"

#include <charconv>

namespace mail::actions {
namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

std::string join(std::string_view a, std::string_view b) {
    std::string out;
    out.reserve(a.size() + b.size());
    out += a;
    out += b;
    return out;
}

// A plain decimal number: digits only, no leading zero unless it is "0".
std::optional<std::uint64_t> parse_decimal(std::string_view text) {
    if (text.empty() || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string account_address(std::string_view account_id) { return join(kAccountPrefix, account_id); }
std::string folder_address(std::string_view key) { return join(kFolderPrefix, key); }
std::string thread_address(std::string_view role_key, std::string_view conversation_key) {
    return join(kThreadPrefix, role_key) + ":" + std::string(conversation_key);
}
std::string message_address(std::string_view message_id) { return join(kMessagePrefix, message_id); }
std::string attachment_address(std::string_view message_id, std::uint64_t position) {
    return join(kAttachmentPrefix, message_id) + ":" + std::to_string(position);
}

std::string remove_label_action_name(std::uint64_t position) {
    return join(kRemoveLabelPrefix, std::to_string(position));
}

std::optional<std::uint64_t> parse_remove_label_action_name(std::string_view name) {
    if (!starts_with(name, kRemoveLabelPrefix)) return std::nullopt;
    return parse_decimal(name.substr(kRemoveLabelPrefix.size()));
}

std::string format_address(const ResourceAddress& address) {
    return std::visit(
        Overloaded{
            [](const MailboxAddress&) { return std::string(kMailboxAddress); },
            [](const AccountsAddress&) { return std::string(kAccountsAddress); },
            [](const AccountAddress& a) { return account_address(a.account_id); },
            [](const FolderAddress& a) { return folder_address(a.key); },
            [](const ThreadAddress& a) { return thread_address(a.role_key, a.conversation_key); },
            [](const MessageAddress& a) { return message_address(a.message_id); },
            [](const AttachmentAddress& a) { return attachment_address(a.message_id, a.position); },
            [](const CurrentDraftAddress&) { return std::string(kCurrentDraftAddress); },
            [](const SearchStatusAddress&) { return std::string(kSearchStatusAddress); },
        },
        address);
}

std::optional<ResourceAddress> parse_address(std::string_view text) {
    if (text == kMailboxAddress) return MailboxAddress{};
    if (text == kAccountsAddress) return AccountsAddress{};
    if (text == kCurrentDraftAddress) return CurrentDraftAddress{};
    if (text == kSearchStatusAddress) return SearchStatusAddress{};

    if (starts_with(text, kMessagePrefix)) {
        auto id = text.substr(kMessagePrefix.size());
        if (id.empty()) return std::nullopt;
        return MessageAddress{std::string(id)};
    }
    if (starts_with(text, kAttachmentPrefix)) {
        auto rest = text.substr(kAttachmentPrefix.size());
        auto colon = rest.rfind(':');
        if (colon == std::string_view::npos || colon == 0) return std::nullopt;
        auto position = parse_decimal(rest.substr(colon + 1));
        if (!position) return std::nullopt;
        return AttachmentAddress{std::string(rest.substr(0, colon)), *position};
    }
    if (starts_with(text, kThreadPrefix)) {
        auto rest = text.substr(kThreadPrefix.size());
        auto colon = rest.find(':');
        if (colon == std::string_view::npos || colon == 0 || colon + 1 == rest.size()) return std::nullopt;
        return ThreadAddress{std::string(rest.substr(0, colon)), std::string(rest.substr(colon + 1))};
    }
    if (starts_with(text, kAccountPrefix)) {
        auto id = text.substr(kAccountPrefix.size());
        if (id.empty()) return std::nullopt;
        return AccountAddress{std::string(id)};
    }
    if (starts_with(text, kFolderPrefix)) {
        auto key = text.substr(kFolderPrefix.size());
        if (key.empty()) return std::nullopt;
        return FolderAddress{std::string(key)};
    }
    return std::nullopt;
}

}  // namespace mail::actions
