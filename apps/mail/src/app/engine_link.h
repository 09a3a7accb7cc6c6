// The application's link to the mail engine: what MailApp's update turn and
// input handling ask of it. Scene starts have no engine; every call then does
// nothing (requests are dropped, nothing is pending).
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/persist/document.h"
#include "runtime/ui/core/app.h"
#include "state/mail_state.h"

namespace mail::app {

// The running engine with the window side's bookkeeping (request sender,
// event receiver, pending-request table); defined with the engine.
class EngineHandle;

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

    bool present() const { return engine != nullptr; }
};

// The normal start's engine: the live backend, else the offline one.
EngineLink start_engine_link();
// Gives the engine the window's waker (called in the first update turn), so
// that arriving events ask for an update turn.
void connect_waker(EngineLink& link, runtime::ui::Waker waker);

// Update turn, step 2: drains and applies every waiting engine event.
void apply_engine_events(EngineLink& link, state::MailState& state, runtime::persist::Doc* doc);
// Update turn, step 4 (first update only): the initial Connect and Fetch.
void start_initial_sync(EngineLink& link, state::MailState& state);
// Update turn, step 5 (only with an engine): the automatic refresh check.
void auto_refresh(EngineLink& link, state::MailState& state);
// After input: turns the state's queued intents into requests and sends them.
void send_intents(EngineLink& link, state::MailState& state);

}  // namespace mail::app
