#include "lib/imap/client.h"

#include <asio.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <functional>

#include "lib/imap/session.h"

namespace lib::imap {

namespace {

using namespace asio::experimental::awaitable_operators;
using Clock = std::chrono::steady_clock;

enum class Stop { timed_out, cancelled };

}  // namespace

struct Client::Impl {
    explicit Impl(const ClientOptions& o) : session(o.limits), cancel(o.cancel) {
        if (o.timeout.count() > 0) deadline = Clock::now() + o.timeout;
    }

    asio::io_context io;
    Session session;
    const std::atomic<bool>* cancel;
    std::optional<Clock::time_point> deadline;

    asio::awaitable<Stop> watch() {
        asio::steady_timer timer(co_await asio::this_coro::executor);
        while (true) {
            if (cancel && cancel->load()) co_return Stop::cancelled;
            auto wait = std::chrono::milliseconds(50);
            if (deadline) {
                auto now = Clock::now();
                if (now >= *deadline) co_return Stop::timed_out;
                wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now) +
                                          std::chrono::milliseconds(1));
            }
            timer.expires_after(wait);
            co_await timer.async_wait(asio::use_awaitable);
        }
    }

    // Runs one session operation to completion on this thread, raced
    // against the time limit and the cancel flag when there are any.
    template <class T>
    Result<T> run(std::function<asio::awaitable<Result<T>>()> op) {
        Result<T> out = err("IMAP operation did not run");
        asio::co_spawn(
            io,
            [&]() -> asio::awaitable<void> {
                if (!deadline && !cancel) {
                    auto r = co_await op();
                    out = std::move(r);
                    co_return;
                }
                auto raced = co_await (op() || watch());
                if (raced.index() == 0) {
                    out = std::move(std::get<0>(raced));
                } else {
                    session.close();
                    out = err(std::get<1>(raced) == Stop::timed_out ? "IMAP operation timed out"
                                                                    : "IMAP operation cancelled");
                }
            },
            [&](std::exception_ptr e) {
                if (e) {
                    session.close();
                    out = err("IMAP operation ended unexpectedly");
                }
            });
        io.restart();
        io.run();
        return out;
    }
};

Client::Client(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Client::~Client() = default;

Result<std::unique_ptr<Client>> Client::connect(const ClientOptions& options) {
    auto impl = std::make_unique<Impl>(options);
    net::ConnectOptions net_options;
    net_options.host = options.host;
    net_options.port = options.port;
    net_options.security = net::Security::tls;
    Impl& i = *impl;
    auto done = i.run<void>([&]() { return i.session.connect(net_options); });
    if (!done) return done.take_error();
    return std::unique_ptr<Client>(new Client(std::move(impl)));
}

Status Client::login(const std::string& user, const std::string& password) {
    return impl_->run<void>([&]() { return impl_->session.login(user, password); });
}
Status Client::authenticate_xoauth2(const std::string& user, const std::string& access_token) {
    return impl_->run<void>([&]() { return impl_->session.authenticate_xoauth2(user, access_token); });
}
Result<std::vector<ListData>> Client::list() {
    return impl_->run<std::vector<ListData>>([&]() { return impl_->session.list(); });
}
Result<SelectInfo> Client::select(const std::string& mailbox) {
    return impl_->run<SelectInfo>([&]() { return impl_->session.select(mailbox); });
}
Result<std::vector<std::uint32_t>> Client::uid_search(const std::string& criterion) {
    return impl_->run<std::vector<std::uint32_t>>([&]() { return impl_->session.uid_search(criterion); });
}
Result<std::vector<std::uint32_t>> Client::uid_search_header(const std::string& field, const std::string& value) {
    return impl_->run<std::vector<std::uint32_t>>([&]() { return impl_->session.uid_search_header(field, value); });
}
Result<std::vector<FetchData>> Client::uid_fetch(const std::vector<std::uint32_t>& uids) {
    return uid_fetch(uids, std::string(kFetchItems));
}
Result<std::vector<FetchData>> Client::uid_fetch(const std::vector<std::uint32_t>& uids, const std::string& items) {
    return impl_->run<std::vector<FetchData>>([&]() { return impl_->session.uid_fetch(uids, items); });
}
Status Client::uid_store(std::uint32_t uid, StoreAction action, const std::string& flag_list) {
    return impl_->run<void>([&]() { return impl_->session.uid_store(uid, action, flag_list); });
}
Status Client::uid_move(std::uint32_t uid, const std::string& mailbox) {
    return impl_->run<void>([&]() { return impl_->session.uid_move(uid, mailbox); });
}
Status Client::uid_expunge(std::uint32_t uid) {
    return impl_->run<void>([&]() { return impl_->session.uid_expunge(uid); });
}
Status Client::logout() {
    return impl_->run<void>([&]() { return impl_->session.logout(); });
}

const std::vector<std::string>& Client::capabilities() const { return impl_->session.capabilities(); }
bool Client::has_capability(std::string_view name) const { return impl_->session.has_capability(name); }
bool Client::connected() const { return impl_->session.connected(); }
void Client::record_commands(bool on) { impl_->session.record_commands(on); }
const std::vector<std::string>& Client::recorded_commands() const { return impl_->session.recorded_commands(); }

}  // namespace lib::imap
