#include "app/engine_link.h"

// Until the engine is linked in, the application runs without one: no
// requests are sent, no events arrive, and queued intents are dropped.

namespace mail::app {

class EngineHandle {};

EngineLink::EngineLink() = default;
EngineLink::~EngineLink() = default;
EngineLink::EngineLink(EngineLink&&) noexcept = default;
EngineLink& EngineLink::operator=(EngineLink&&) noexcept = default;

EngineLink start_engine_link() { return EngineLink{}; }

void connect_waker(EngineLink& /*link*/, runtime::ui::Waker /*waker*/) {}

void apply_engine_events(EngineLink& /*link*/, state::MailState& /*state*/, runtime::persist::Doc* /*doc*/) {}

void start_initial_sync(EngineLink& link, state::MailState& /*state*/) { link.initial_sync_sent = true; }

void auto_refresh(EngineLink& /*link*/, state::MailState& /*state*/) {}

void send_intents(EngineLink& link, state::MailState& state) {
    // Without an engine the requests are dropped.
    if (!link.present()) (void)state.take_intents();
}

}  // namespace mail::app
