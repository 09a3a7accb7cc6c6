// The engine's vocabulary: requests the window sends, events the engine
// answers with, and the request ids that tie them together.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "compose/draft.h"
#include "lib/base/result.h"
#include "oauth/pkce.h"
#include "state/mail.h"
#include "validate/account_config.h"

namespace mail::engine {

using validate::StoredConfig;

// The kind number travels in events and in the window's pending table.
enum class RequestKind : std::uint8_t {
    Connect = 0,
    Fetch = 1,
    Flag = 2,
    Move = 3,
    Purge = 4,
    Send = 5,
    OAuthSignIn = 6,
};

// The text used in failure events: "connect", "fetch", "flag", "move",
// "purge", "smtp", "oauth".
std::string_view request_label(RequestKind kind);
// "Connect", "Fetch", ..., "OAuthSignIn".
std::string_view request_kind_name(RequestKind kind);
std::optional<RequestKind> request_kind_from_index(std::uint64_t index);

// A random version-4 UUID made by the window thread for each request.
struct RequestId {
    std::array<std::uint8_t, 16> bytes{};

    static lib::Result<RequestId> random();
    std::string text() const;  // hyphenated lower case

    friend bool operator==(const RequestId&, const RequestId&) = default;
    friend auto operator<=>(const RequestId&, const RequestId&) = default;
};

// --- Requests --------------------------------------------------------------

struct ConnectRequest {
    StoredConfig config;
};
struct FetchRequest {
    StoredConfig config;
    state::FolderRole role = state::FolderRole::Inbox;
};
// The record carries its new read and starred values; its folder names the
// mailbox to search.
struct FlagRequest {
    StoredConfig config;
    state::MailMessage message;
};
// The record as it was before the move: its folder is the source.
struct MoveRequest {
    StoredConfig config;
    state::MailMessage message;
    state::FolderRole destination = state::FolderRole::Archive;
};
struct PurgeRequest {
    StoredConfig config;
    state::MailMessage message;
};
struct SendRequest {
    StoredConfig config;
    compose::DraftData draft;
};
struct SignInRequest {
    std::string address;
    oauth::Provider provider = oauth::Provider::Google;
};

// Alternatives in kind order: the index is the kind number.
using RequestPayload = std::variant<ConnectRequest, FetchRequest, FlagRequest, MoveRequest, PurgeRequest,
                                    SendRequest, SignInRequest>;

struct Request {
    RequestId id;
    RequestPayload payload;

    RequestKind kind() const { return static_cast<RequestKind>(payload.index()); }
    // The account address the request is about (the config's email, or the
    // sign-in address).
    const std::string& account() const;
};

// --- Events ------------------------------------------------------------------

enum class EventTag : std::uint8_t {
    Connected = 0,
    FoldersListed = 1,
    Fetched = 2,
    Sent = 3,
    SignedIn = 4,
    Failed = 5,
    Completed = 6,
};

// "Connected", "FoldersListed", ...
std::string_view event_tag_name(EventTag tag);

struct Connected {
    std::string account;
};
struct FoldersListed {
    std::vector<std::string> names;
};
struct Fetched {
    state::FolderRole role = state::FolderRole::Inbox;
    std::string account;
    std::vector<state::MailMessage> messages;
};
struct Sent {
    std::uint64_t size = 0;
};
struct SignedIn {
    std::string account;
};
struct Failed {
    RequestKind kind = RequestKind::Connect;
    std::string label;
    std::string message;
};
struct Completed {
    RequestKind kind = RequestKind::Connect;
};

using EventPayload = std::variant<Connected, FoldersListed, Fetched, Sent, SignedIn, Failed, Completed>;

struct Event {
    RequestId id;
    EventPayload payload;

    EventTag tag() const { return static_cast<EventTag>(payload.index()); }
};

// The request kind an event answers: Connect for Connected and
// FoldersListed, Fetch for Fetched, Send for Sent, OAuthSignIn for SignedIn,
// the carried kind for Failed and Completed.
RequestKind answered_kind(const Event& event);

// A Failed event for a request, labelled by its kind.
Event failed_event(const Request& request, std::string message);
// The same with another label (the offline backend's "offline" and "send").
Event failed_event(const Request& request, std::string label, std::string message);

// Where a backend sends its events. Sending never blocks and never fails
// visibly: when the window side is gone the event is dropped.
using EventSink = std::function<void(Event)>;

}  // namespace mail::engine

template <>
struct std::hash<mail::engine::RequestId> {
    std::size_t operator()(const mail::engine::RequestId& id) const noexcept {
        std::size_t h = 1469598103934665603ULL;
        for (auto b : id.bytes) h = (h ^ b) * 1099511628211ULL;
        return h;
    }
};
