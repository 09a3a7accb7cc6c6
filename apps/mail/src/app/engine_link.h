// The application's link to the mail engine: sending requests with the
// pending-request table and the engine-busy flag, and applying the engine's
// events to the mail state and the mailbox document (status line, sync-state
// reports, tracked refresh), plus the initial sync and the automatic
// refresh. Everything here runs on the window thread and never waits for
// the engine. Scene starts have no engine; every call then does nothing
// (requests are dropped, nothing is pending).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "runtime/persist/document.h"
#include "runtime/ui/core/app.h"
#include "state/mail_state.h"

namespace mail::app {

// The running engine with the window side's bookkeeping (the engine, the
// pending-request table, the waker slot); defined in engine_link.cc.
class EngineHandle;

// How the RefreshCurrentFolder operation ended.
struct RefreshOutcome {
    bool ok = true;
    std::string code;     // "mail.refresh_failed" on failure
    std::string message;  // the status text on failure
};

struct EngineLink {
    EngineLink();
    ~EngineLink();
    EngineLink(EngineLink&&) noexcept;
    EngineLink& operator=(EngineLink&&) noexcept;

    // Absent in scene starts.
    std::unique_ptr<EngineHandle> engine;
    // Requests are outstanding (also set by the "loading" scene).
    bool busy = false;
    bool initial_sync_sent = false;
    std::int64_t last_refresh_minute = 0;
    // Where sync states are recorded (the configuration root); none: not at all.
    std::optional<std::filesystem::path> sync_root;
    // The send waiting for its Sent or Failed, and the size of the last
    // delivered message (for the composer to close on).
    std::optional<engine::RequestId> pending_send;
    std::optional<std::uint64_t> delivered_size;
    // The fetch started by RefreshCurrentFolder, and its outcome once known.
    std::optional<engine::RequestId> tracked_refresh;
    std::optional<RefreshOutcome> refresh_outcome;

    bool present() const { return engine != nullptr; }
    // Number of requests sent and not yet completed.
    std::size_t pending_count() const;
    // Whether the request is in the pending table.
    bool is_pending(const engine::RequestId& id) const;
};

// The normal start's engine: the live backend, else the offline one. Ends
// the program ("spawn mail engine worker") when the worker cannot start.
EngineLink start_engine_link();
// A link over a given backend (tests, other front ends); sync states go to
// `sync_root`. The error is the worker failing to start.
lib::Result<EngineLink> make_engine_link(std::unique_ptr<engine::Backend> backend,
                                         std::optional<std::filesystem::path> sync_root, bool offline = false);

// Gives the engine the window's waker (called in the first update turn), so
// that arriving events ask for an update turn.
void connect_waker(EngineLink& link, runtime::ui::Waker waker);

// Sends a request: nothing without an engine; "Mail worker is unavailable"
// on the status line when the worker is gone; otherwise the id, entered in
// the pending table with the request's kind, and the busy flag set.
std::optional<engine::RequestId> send_request(EngineLink& link, state::MailState& state,
                                              engine::RequestPayload payload);

// Update turn, step 2: drains and applies every waiting engine event, in
// arrival order, without waiting. `doc` may be null (nothing recorded then).
void apply_engine_events(EngineLink& link, state::MailState& state, runtime::persist::Doc* doc);
// Update turn, step 4 (first update only): the initial Connect and Fetch.
void start_initial_sync(EngineLink& link, state::MailState& state);
// Saving an account: Connect and Fetch of its Inbox.
void sync_saved_account(EngineLink& link, state::MailState& state, const validate::StoredConfig& config);
// Update turn, step 5 (only with an engine): the automatic refresh check,
// with the state's current minute.
void auto_refresh(EngineLink& link, state::MailState& state);
// Fetch of the current folder of the active account; "Syncing…".
std::optional<engine::RequestId> refresh(EngineLink& link, state::MailState& state);
// RefreshCurrentFolder: a refresh whose outcome is kept in refresh_outcome.
std::optional<engine::RequestId> refresh_tracked(EngineLink& link, state::MailState& state);
// After input: turns the state's queued intents into requests and sends them.
void send_intents(EngineLink& link, state::MailState& state);
// The setup sheet's OAuth sign-in request.
std::optional<engine::RequestId> send_sign_in(EngineLink& link, state::MailState& state, std::string address,
                                              oauth::Provider provider);
// The composer's Send; remembered as the pending send.
std::optional<engine::RequestId> send_draft(EngineLink& link, state::MailState& state,
                                            const validate::StoredConfig& config, compose::DraftData draft);

// Records an account's sync state (1 started, 2 succeeded, 3 offline, 4 needs
// authentication, 5 failed); nothing for an empty address. A failed report
// is logged and otherwise ignored.
void report_sync(const std::optional<std::filesystem::path>& root, const std::string& address, int code);

// Whether a failure's status text asks the user to sign in again: it holds
// "auth", "login", "password", "oauth" or "credential" in any letter case.
bool needs_authentication(const std::string& status_text);

}  // namespace mail::app
