#include "engine/protocol.h"

#include "lib/crypto/random.h"

namespace mail::engine {

std::string_view request_label(RequestKind kind) {
    switch (kind) {
        case RequestKind::Connect: return "connect";
        case RequestKind::Fetch: return "fetch";
        case RequestKind::Flag: return "flag";
        case RequestKind::Move: return "move";
        case RequestKind::Purge: return "purge";
        case RequestKind::Send: return "smtp";
        case RequestKind::OAuthSignIn: return "oauth";
    }
    return "unknown";
}

std::string_view request_kind_name(RequestKind kind) {
    switch (kind) {
        case RequestKind::Connect: return "Connect";
        case RequestKind::Fetch: return "Fetch";
        case RequestKind::Flag: return "Flag";
        case RequestKind::Move: return "Move";
        case RequestKind::Purge: return "Purge";
        case RequestKind::Send: return "Send";
        case RequestKind::OAuthSignIn: return "OAuthSignIn";
    }
    return "Unknown";
}

std::optional<RequestKind> request_kind_from_index(std::uint64_t index) {
    if (index > 6) return std::nullopt;
    return static_cast<RequestKind>(index);
}

lib::Result<RequestId> RequestId::random() {
    auto bytes = lib::crypto::random_uuid_v4_bytes();
    if (!bytes) return bytes.take_error();
    RequestId id;
    id.bytes = *bytes;
    return id;
}

std::string RequestId::text() const { return lib::crypto::format_uuid(bytes); }

const std::string& Request::account() const {
    return std::visit(
        [](const auto& p) -> const std::string& {
            if constexpr (std::is_same_v<std::decay_t<decltype(p)>, SignInRequest>) return p.address;
            else return p.config.email;
        },
        payload);
}

std::string_view event_tag_name(EventTag tag) {
    switch (tag) {
        case EventTag::Connected: return "Connected";
        case EventTag::FoldersListed: return "FoldersListed";
        case EventTag::Fetched: return "Fetched";
        case EventTag::Sent: return "Sent";
        case EventTag::SignedIn: return "SignedIn";
        case EventTag::Failed: return "Failed";
        case EventTag::Completed: return "Completed";
    }
    return "Unknown";
}

RequestKind answered_kind(const Event& event) {
    switch (event.tag()) {
        case EventTag::Connected:
        case EventTag::FoldersListed: return RequestKind::Connect;
        case EventTag::Fetched: return RequestKind::Fetch;
        case EventTag::Sent: return RequestKind::Send;
        case EventTag::SignedIn: return RequestKind::OAuthSignIn;
        case EventTag::Failed: return std::get<Failed>(event.payload).kind;
        case EventTag::Completed: return std::get<Completed>(event.payload).kind;
    }
    return RequestKind::Connect;
}

Event failed_event(const Request& request, std::string message) {
    return failed_event(request, std::string(request_label(request.kind())), std::move(message));
}

Event failed_event(const Request& request, std::string label, std::string message) {
    return Event{request.id, Failed{request.kind(), std::move(label), std::move(message)}};
}

}  // namespace mail::engine
