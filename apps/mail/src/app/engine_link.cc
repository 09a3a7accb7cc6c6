#include "app/engine_link.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "doc/reflect.h"
#include "engine/live_backend.h"
#include "lib/base/log.h"
#include "lib/base/places.h"
#include "runtime/accounts/sync_status.h"
#include "runtime/ui/portal/open_link.h"

namespace mail::app {

using engine::Event;
using engine::EventTag;
using engine::RequestId;
using engine::RequestKind;

// The waker arrives after the engine has started (first update turn); the
// worker reads it through this slot.
struct WakeSlot {
    std::mutex mutex;
    runtime::ui::Waker waker;
    void wake() {
        std::lock_guard lock(mutex);
        waker.wake();
    }
};

class EngineHandle {
public:
    std::unique_ptr<engine::Engine> engine;
    std::shared_ptr<WakeSlot> wake;
    std::unordered_map<RequestId, RequestKind> pending;
};

EngineLink::EngineLink() = default;
EngineLink::~EngineLink() = default;
EngineLink::EngineLink(EngineLink&&) noexcept = default;
EngineLink& EngineLink::operator=(EngineLink&&) noexcept = default;

std::size_t EngineLink::pending_count() const { return engine ? engine->pending.size() : 0; }
bool EngineLink::is_pending(const RequestId& id) const { return engine && engine->pending.count(id) != 0; }

namespace {

std::optional<std::filesystem::path> configuration_root() { return lib::places::config_root(); }

lib::Result<EngineLink> link_over(lib::Result<std::unique_ptr<engine::Engine>> started,
                                  std::shared_ptr<WakeSlot> wake, std::optional<std::filesystem::path> root) {
    if (!started) return started.take_error();
    EngineLink link;
    link.engine = std::make_unique<EngineHandle>();
    link.engine->engine = std::move(*started);
    link.engine->wake = std::move(wake);
    link.sync_root = std::move(root);
    return link;
}

std::string plural(std::size_t n, const std::string& word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

const validate::AccountEntry* active_with_address(const state::MailState& state) {
    const validate::AccountEntry* a = state.active_account();
    if (a == nullptr || a->config.email.empty()) return nullptr;
    return a;
}

// Puts the document's decisions on a fetched record before it enters the
// store, so that nothing the user moved, marked or purged shows otherwise
// even for a moment. False for a purged message.
bool apply_local_decisions(const runtime::persist::Doc& doc, state::MailMessage& m) {
    const std::string id = m.id.text();
    if (doc::is_purged(doc, id)) return false;
    if (!doc::has_flags(doc, id)) return true;
    if (auto v = doc::get_read(doc, id)) m.read = *v;
    if (auto v = doc::get_starred(doc, id)) m.starred = *v;
    if (auto v = doc::get_folder(doc, id)) m.folder = *v;
    m.labels = doc::get_labels(doc, id);
    return true;
}

void apply_fetched(EngineLink& link, state::MailState& state, runtime::persist::Doc* doc, const RequestId& id,
                   engine::Fetched& fetched) {
    if (doc != nullptr) {
        if (auto recorded = doc::upsert_fetched(*doc, fetched.messages); !recorded)
            lib::log::warn("could not record fetched messages", {{"error", recorded.error()}});
    }
    const std::size_t n = fetched.messages.size();
    for (state::MailMessage& m : fetched.messages) {
        if (doc != nullptr && !apply_local_decisions(*doc, m)) continue;
        state.store.upsert(std::move(m));
    }
    if (fetched.role == state.folder && !state.selected) state.select_first_visible();
    state.set_status(n > 0 ? "Synced " + plural(n, "message")
                           : std::string(state::folder_role_display_name(fetched.role)) + " up to date");
    report_sync(link.sync_root, fetched.account, 2);
    if (link.tracked_refresh && *link.tracked_refresh == id) {
        link.tracked_refresh.reset();
        link.refresh_outcome = RefreshOutcome{};
    }
}

void apply_failed(EngineLink& link, state::MailState& state, const RequestId& id, const engine::Failed& failed) {
    const std::string text = failed.label + ": " + failed.message;
    state.set_status(text);
    if (link.pending_send && *link.pending_send == id) link.pending_send.reset();
    if (const validate::AccountEntry* a = state.active_account())
        report_sync(link.sync_root, a->config.email, needs_authentication(text) ? 4 : 5);
    if (link.tracked_refresh && *link.tracked_refresh == id) {
        link.tracked_refresh.reset();
        link.refresh_outcome = RefreshOutcome{false, "mail.refresh_failed", text};
    }
}

void apply_event(EngineLink& link, state::MailState& state, runtime::persist::Doc* doc, Event& event) {
    switch (event.tag()) {
        case EventTag::Connected: {
            const auto& c = std::get<engine::Connected>(event.payload);
            state.set_status("Connected " + c.account);
            report_sync(link.sync_root, c.account, 1);
            break;
        }
        case EventTag::FoldersListed: {
            const auto& f = std::get<engine::FoldersListed>(event.payload);
            lib::log::info("server folders listed", {{"count", std::to_string(f.names.size())}});
            break;
        }
        case EventTag::Fetched:
            apply_fetched(link, state, doc, event.id, std::get<engine::Fetched>(event.payload));
            break;
        case EventTag::Sent: {
            if (!link.pending_send || *link.pending_send != event.id) break;
            link.pending_send.reset();
            const std::uint64_t size = std::get<engine::Sent>(event.payload).size;
            link.delivered_size = size;
            state.set_status("Delivered (" + std::to_string(size) + " bytes)");
            break;
        }
        case EventTag::SignedIn: {
            const auto& s = std::get<engine::SignedIn>(event.payload);
            state.set_status("Signed in as " + s.account);
            report_sync(link.sync_root, s.account, 2);
            break;
        }
        case EventTag::Failed:
            apply_failed(link, state, event.id, std::get<engine::Failed>(event.payload));
            break;
        case EventTag::Completed:
            link.engine->pending.erase(event.id);
            break;
    }
}

}  // namespace

EngineLink start_engine_link() {
    auto wake = std::make_shared<WakeSlot>();
    engine::LiveOptions options;
    options.open_browser = [](const std::string& url) { return runtime::ui::link::try_os_open(url); };
    auto link = link_over(engine::start_engine(std::move(options), {}, [wake] { wake->wake(); }), wake,
                          configuration_root());
    if (!link) {
        lib::log::error("spawn mail engine worker", {{"error", link.error()}});
        std::fprintf(stderr, "%s\n", link.error().c_str());
        std::exit(1);
    }
    return std::move(*link);
}

lib::Result<EngineLink> make_engine_link(std::unique_ptr<engine::Backend> backend,
                                         std::optional<std::filesystem::path> sync_root, bool offline) {
    auto wake = std::make_shared<WakeSlot>();
    return link_over(engine::Engine::start(std::move(backend), [wake] { wake->wake(); }, offline), wake,
                     std::move(sync_root));
}

void connect_waker(EngineLink& link, runtime::ui::Waker waker) {
    if (!link.present()) return;
    {
        std::lock_guard lock(link.engine->wake->mutex);
        link.engine->wake->waker = std::move(waker);
    }
    // Events that came before the waker still get a turn.
    link.engine->wake->wake();
}

std::optional<RequestId> send_request(EngineLink& link, state::MailState& state, engine::RequestPayload payload) {
    if (!link.present()) return std::nullopt;
    auto id = RequestId::random();
    if (!id) {
        state.set_status("Mail worker is unavailable");
        return std::nullopt;
    }
    engine::Request request{*id, std::move(payload)};
    const RequestKind kind = request.kind();
    if (!link.engine->engine->send(std::move(request))) {
        state.set_status("Mail worker is unavailable");
        return std::nullopt;
    }
    link.engine->pending[*id] = kind;
    link.busy = true;
    return *id;
}

void apply_engine_events(EngineLink& link, state::MailState& state, runtime::persist::Doc* doc) {
    if (!link.present()) return;
    bool any = false;
    while (auto event = link.engine->engine->try_next_event()) {
        any = true;
        auto entry = link.engine->pending.find(event->id);
        if (entry == link.engine->pending.end() || entry->second != engine::answered_kind(*event)) {
            lib::log::warn("ignoring unmatched or wrong-kind engine event", {{"request", event->id.text()}});
            continue;
        }
        apply_event(link, state, doc, *event);
    }
    if (!any) return;
    state.changed = true;
    link.busy = !link.engine->pending.empty();
}

void start_initial_sync(EngineLink& link, state::MailState& state) {
    if (link.initial_sync_sent || !link.present() || state.accounts.empty()) return;
    const validate::AccountEntry* a = state.active_account();
    if (a == nullptr) return;
    sync_saved_account(link, state, a->config);
    state.set_status("Syncing\xE2\x80\xA6");
    link.initial_sync_sent = true;
}

void sync_saved_account(EngineLink& link, state::MailState& state, const validate::StoredConfig& config) {
    send_request(link, state, engine::ConnectRequest{config});
    send_request(link, state, engine::FetchRequest{config, state::FolderRole::Inbox});
}

void auto_refresh(EngineLink& link, state::MailState& state) {
    if (!link.present()) return;
    if (link.busy || state.accounts.empty()) return;
    if (link.last_refresh_minute == 0) {
        link.last_refresh_minute = state.now_minute;
        return;
    }
    if (state.now_minute - link.last_refresh_minute >= 5) refresh(link, state);
}

std::optional<RequestId> refresh(EngineLink& link, state::MailState& state) {
    const validate::AccountEntry* a = active_with_address(state);
    if (a == nullptr || !link.present()) return std::nullopt;
    const std::string address = a->config.email;
    auto id = send_request(link, state, engine::FetchRequest{a->config, state.folder});
    if (!id) return std::nullopt;
    report_sync(link.sync_root, address, 1);
    link.last_refresh_minute = state.now_minute;
    state.set_status("Syncing\xE2\x80\xA6");
    return id;
}

std::optional<RequestId> refresh_tracked(EngineLink& link, state::MailState& state) {
    auto id = refresh(link, state);
    if (id) {
        link.tracked_refresh = *id;
        link.refresh_outcome.reset();
    }
    return id;
}

void send_intents(EngineLink& link, state::MailState& state) {
    std::vector<state::EngineIntent> intents = state.take_intents();
    if (!link.present()) return;  // a change stays local
    for (state::EngineIntent& intent : intents) {
        using K = state::EngineIntent::Kind;
        if (intent.kind == K::Fetch) {
            send_request(link, state, engine::FetchRequest{std::move(intent.config), intent.folder});
            continue;
        }
        if (!intent.message) continue;
        switch (intent.kind) {
            case K::Flag:
                send_request(link, state, engine::FlagRequest{std::move(intent.config), std::move(*intent.message)});
                break;
            case K::Move:
                send_request(link, state,
                             engine::MoveRequest{std::move(intent.config), std::move(*intent.message), intent.folder});
                break;
            case K::Purge:
                send_request(link, state, engine::PurgeRequest{std::move(intent.config), std::move(*intent.message)});
                break;
            case K::Fetch:
                break;
        }
    }
}

std::optional<RequestId> send_sign_in(EngineLink& link, state::MailState& state, std::string address,
                                      oauth::Provider provider) {
    return send_request(link, state, engine::SignInRequest{std::move(address), provider});
}

std::optional<RequestId> send_draft(EngineLink& link, state::MailState& state, const validate::StoredConfig& config,
                                    compose::DraftData draft) {
    auto id = send_request(link, state, engine::SendRequest{config, std::move(draft)});
    if (id) {
        link.pending_send = *id;
        link.delivered_size.reset();
    }
    return id;
}

void report_sync(const std::optional<std::filesystem::path>& root, const std::string& address, int code) {
    if (address.empty()) return;
    runtime::accounts::AccountSyncReporter reporter(runtime::accounts::AccountId(address), root);
    lib::Status st;
    switch (code) {
        case 1: st = reporter.started(); break;
        case 2: st = reporter.succeeded(); break;
        case 3: st = reporter.offline(); break;
        case 4: st = reporter.needs_authentication(); break;
        default: st = reporter.failed(); break;
    }
    if (!st) lib::log::warn("could not persist sync status", {{"error", st.error()}, {"account", address}});
}

bool needs_authentication(const std::string& status_text) {
    std::string lower = status_text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const char* word : {"auth", "login", "password", "oauth", "credential"})
        if (lower.find(word) != std::string::npos) return true;
    return false;
}

}  // namespace mail::app
