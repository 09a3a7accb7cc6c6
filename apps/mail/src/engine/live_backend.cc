#include "engine/live_backend.h"

#include <asio.hpp>
#include <exception>
#include <future>
#include <thread>
#include <type_traits>

#include "engine/imap_jobs.h"
#include "engine/imap_rules.h"
#include "lib/base/log.h"

namespace mail::engine {
namespace {

class LiveBackend final : public Backend {
public:
    explicit LiveBackend(LiveOptions options) : options_(std::move(options)), guard_(io_.get_executor()) {}

    ~LiveBackend() override {
        guard_.reset();
        io_.stop();
        for (auto& t : threads_)
            if (t.joinable()) t.join();
    }

    // The runtime's two worker threads.
    lib::Status start() {
        try {
            for (int i = 0; i < 2; ++i) threads_.emplace_back([this] { io_.run(); });
        } catch (const std::exception& e) {
            return lib::err(std::string("could not start the network runtime: ") + e.what());
        }
        return lib::ok_status();
    }

    void handle(const Request& request, const EventSink& emit) override {
        std::visit([&](const auto& payload) { on(request, payload, emit); }, request.payload);
    }

private:
    // Runs one job to completion on its own strand of the runtime and waits.
    template <class R>
    R run(std::function<asio::awaitable<R>(CommandLog*)> job) {
        CommandLog log;
        CommandLog* want = options_.on_commands ? &log : nullptr;
        std::promise<R> done;
        auto result = done.get_future();
        asio::co_spawn(
            asio::make_strand(io_),
            [&done, &job, want]() -> asio::awaitable<void> {
                R r = co_await job(want);
                done.set_value(std::move(r));
            },
            [&done](std::exception_ptr e) {
                if (!e) return;
                std::string what = "unexpected failure";
                try {
                    std::rethrow_exception(e);
                } catch (const std::exception& ex) {
                    what = ex.what();
                } catch (...) {
                }
                done.set_value(R(lib::err("IMAP work failed: " + what)));
            });
        R r = result.get();
        if (want) options_.on_commands(log);
        return r;
    }

    lib::Result<Credentials> credentials(const StoredConfig& config) {
        return resolve_credentials(config, options_.credentials);
    }

    void on(const Request& r, const ConnectRequest& p, const EventSink& emit) {
        auto creds = credentials(p.config);
        if (!creds) return emit(failed_event(r, creds.error()));
        auto names = run<lib::Result<std::vector<std::string>>>(
            [&](CommandLog* log) { return list_mailboxes_job(p.config, *creds, log); });
        if (!names) return emit(failed_event(r, names.error()));
        emit(Event{r.id, Connected{p.config.email}});
        emit(Event{r.id, FoldersListed{std::move(*names)}});
    }

    void on(const Request& r, const FetchRequest& p, const EventSink& emit) {
        const std::int64_t started = current_minute();
        auto creds = credentials(p.config);
        if (!creds) return emit(failed_event(r, creds.error()));
        auto records = run<lib::Result<std::vector<state::MailMessage>>>(
            [&](CommandLog* log) { return fetch_folder_job(p.config, *creds, p.role, started, log); });
        if (!records) return emit(failed_event(r, records.error()));
        emit(Event{r.id, Fetched{p.role, p.config.email, std::move(*records)}});
    }

    void on(const Request& r, const FlagRequest& p, const EventSink& emit) {
        auto creds = credentials(p.config);
        if (!creds) return emit(failed_event(r, creds.error()));
        auto done = run<lib::Status>([&](CommandLog* log) { return flag_job(p.config, *creds, p.message, log); });
        if (!done) emit(failed_event(r, done.error()));
    }

    void on(const Request& r, const MoveRequest& p, const EventSink& emit) {
        auto creds = credentials(p.config);
        if (!creds) return emit(failed_event(r, creds.error()));
        auto done = run<lib::Status>(
            [&](CommandLog* log) { return move_job(p.config, *creds, p.message, p.destination, log); });
        if (!done) emit(failed_event(r, done.error()));
    }

    void on(const Request& r, const PurgeRequest& p, const EventSink& emit) {
        auto creds = credentials(p.config);
        if (!creds) return emit(failed_event(r, creds.error()));
        auto done = run<lib::Status>([&](CommandLog* log) { return purge_job(p.config, *creds, p.message, log); });
        if (!done) emit(failed_event(r, done.error()));
    }

    void on(const Request& r, const SendRequest& p, const EventSink& emit) {
        auto creds = credentials(p.config);
        if (!creds) return emit(failed_event(r, creds.error()));
        emit(failed_event(r, "sending mail is not available in this build yet; the message was not sent"));
    }

    void on(const Request& r, const SignInRequest& p, const EventSink& emit) {
        auto client_id = options_.credentials.client_id(p.provider);
        if (!client_id)
            return emit(failed_event(r, "set " + std::string(oauth::client_id_variable(p.provider)) + " to sign in"));
        auto tokens = oauth::sign_in(p.provider, *client_id, p.address, options_.sign_in_limit, options_.open_browser);
        if (!tokens) return emit(failed_event(r, tokens.error()));
        runtime::accounts::SecretVault vault = options_.credentials.open_vault();
        if (auto saved = store_tokens(vault, p.address, *tokens); !saved)
            return emit(failed_event(r, "could not save sign-in credentials: " + saved.error()));
        emit(Event{r.id, SignedIn{p.address}});
    }

    LiveOptions options_;
    asio::io_context io_{2};
    asio::executor_work_guard<asio::io_context::executor_type> guard_;
    std::vector<std::thread> threads_;
};

}  // namespace

lib::Result<std::unique_ptr<Backend>> make_live_backend(LiveOptions options) {
    try {
        auto backend = std::make_unique<LiveBackend>(std::move(options));
        if (auto started = backend->start(); !started) return started.take_error();
        return std::unique_ptr<Backend>(std::move(backend));
    } catch (const std::exception& e) {
        return lib::err(std::string("could not build the network runtime: ") + e.what());
    }
}

lib::Result<std::unique_ptr<Engine>> start_engine(LiveOptions options, MessageBuilder build_message,
                                                  std::function<void()> wake) {
    auto live = make_live_backend(std::move(options));
    if (live) return Engine::start(std::move(*live), std::move(wake), false);
    lib::log::warn("live engine unavailable, using offline backend", {{"error", live.error()}});
    return Engine::start(make_offline_backend(std::move(build_message)), std::move(wake), true);
}

}  // namespace mail::engine
