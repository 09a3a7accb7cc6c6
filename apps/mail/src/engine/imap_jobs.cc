#include "engine/imap_jobs.h"

#include <algorithm>
#include <asio.hpp>
#include <memory>

#include "engine/imap_rules.h"
#include "lib/imap/session.h"
#include "lib/net/net.h"
#include "validate/connection_error.h"

namespace mail::engine {
namespace {

using lib::imap::Session;
using lib::imap::StoreAction;

std::string trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n\f\v");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n\f\v");
    return std::string(s.substr(first, last - first + 1));
}

// Copies the session's recorded lines into the caller's log when the job
// ends, however it ends.
struct LogOnExit {
    Session* session = nullptr;
    CommandLog* log = nullptr;
    ~LogOnExit() {
        if (session && log) *log = session->recorded_commands();
    }
};

// Connects over TLS, reads the greeting and signs in. Failures of these
// steps are shown through the connection-error classifier.
asio::awaitable<lib::Status> open_session(Session& session, const validate::StoredConfig& config,
                                          const Credentials& credentials) {
    const std::string host = trim(config.imap_host);
    if (host.empty()) co_return lib::err("no IMAP host");
    if (auto name = lib::net::check_server_name(host); !name)
        co_return lib::err("invalid IMAP host name: " + name.error());
    lib::net::ConnectOptions options;
    options.host = host;
    options.port = config.imap_port == 0 ? validate::kDefaultImapPort : config.imap_port;
    options.security = lib::net::Security::tls;
    auto connected = co_await session.connect(options);
    if (!connected) co_return lib::err(validate::describe_connection_error(connected.error()));
    lib::Status signed_in;
    if (credentials.kind == Credentials::Kind::Password) {
        signed_in = co_await session.login(credentials.login, credentials.secret);
    } else {
        signed_in = co_await session.authenticate_xoauth2(credentials.login, credentials.secret);
    }
    if (!signed_in) co_return lib::err(validate::describe_connection_error(signed_in.error()));
    co_return lib::ok_status();
}

// SELECT the record's mailbox (Starred is searched in INBOX) and find the
// highest UID whose Message-ID header holds the record's Message-ID.
asio::awaitable<lib::Result<std::uint32_t>> select_and_locate(Session& session, const state::MailMessage& message) {
    auto selected = co_await session.select(std::string(state::folder_role_imap_mailbox(message.folder)));
    if (!selected) co_return selected.take_error();
    auto id = search_message_id(message);
    if (!id) co_return lib::err("message has no Message-ID to locate it on the server");
    auto uids = co_await session.uid_search_header("MESSAGE-ID", *id);
    if (!uids) co_return uids.take_error();
    if (uids->empty()) co_return lib::err("message not found on the server");
    co_return *std::max_element(uids->begin(), uids->end());
}

std::unique_ptr<Session> new_session(CommandLog* log) {
    auto session = std::make_unique<Session>();
    if (log) session->record_commands(true);
    return session;
}

}  // namespace

asio::awaitable<lib::Result<std::vector<std::string>>> list_mailboxes_job(validate::StoredConfig config,
                                                                          Credentials credentials, CommandLog* log) {
    auto session = new_session(log);
    LogOnExit keep{session.get(), log};
    auto opened = co_await open_session(*session, config, credentials);
    if (!opened) co_return opened.take_error();
    auto listed = co_await session->list();
    if (!listed) co_return listed.take_error();
    std::vector<std::string> names;
    names.reserve(listed->size());
    for (const auto& entry : *listed) names.push_back(entry.name);
    auto out = co_await session->logout();
    if (!out) co_return out.take_error();
    co_return names;
}

asio::awaitable<lib::Result<std::vector<state::MailMessage>>> fetch_folder_job(validate::StoredConfig config,
                                                                               Credentials credentials,
                                                                               state::FolderRole role,
                                                                               std::int64_t fallback_minute,
                                                                               CommandLog* log) {
    auto session = new_session(log);
    LogOnExit keep{session.get(), log};
    auto opened = co_await open_session(*session, config, credentials);
    if (!opened) co_return opened.take_error();
    auto selected = co_await session->select(std::string(state::folder_role_imap_mailbox(role)));
    if (!selected) co_return selected.take_error();
    auto found = co_await session->uid_search(std::string(state::folder_role_search_criterion(role)));
    if (!found) co_return found.take_error();
    const std::vector<std::uint32_t> uids = newest_uids(std::move(*found));
    std::vector<state::MailMessage> records;
    if (!uids.empty()) {
        auto fetched = co_await session->uid_fetch(uids);
        if (!fetched) co_return fetched.take_error();
        records = records_from_fetch(*fetched, uids, role, fallback_minute);
    }
    auto out = co_await session->logout();
    if (!out) co_return out.take_error();
    co_return records;
}

asio::awaitable<lib::Status> flag_job(validate::StoredConfig config, Credentials credentials,
                                      state::MailMessage message, CommandLog* log) {
    auto session = new_session(log);
    LogOnExit keep{session.get(), log};
    auto opened = co_await open_session(*session, config, credentials);
    if (!opened) co_return opened;
    auto uid = co_await select_and_locate(*session, message);
    if (!uid) co_return uid.take_error();
    auto seen = co_await session->uid_store(*uid, message.read ? StoreAction::add : StoreAction::remove, "(\\Seen)");
    if (!seen) co_return seen;
    auto flagged =
        co_await session->uid_store(*uid, message.starred ? StoreAction::add : StoreAction::remove, "(\\Flagged)");
    if (!flagged) co_return flagged;
    auto out = co_await session->logout();
    co_return out;
}

asio::awaitable<lib::Status> move_job(validate::StoredConfig config, Credentials credentials,
                                      state::MailMessage message, state::FolderRole destination, CommandLog* log) {
    auto session = new_session(log);
    LogOnExit keep{session.get(), log};
    auto opened = co_await open_session(*session, config, credentials);
    if (!opened) co_return opened;
    auto uid = co_await select_and_locate(*session, message);
    if (!uid) co_return uid.take_error();
    auto moved = co_await session->uid_move(*uid, std::string(state::folder_role_imap_mailbox(destination)));
    if (!moved) co_return moved;
    auto out = co_await session->logout();
    co_return out;
}

asio::awaitable<lib::Status> purge_job(validate::StoredConfig config, Credentials credentials,
                                       state::MailMessage message, CommandLog* log) {
    auto session = new_session(log);
    LogOnExit keep{session.get(), log};
    auto opened = co_await open_session(*session, config, credentials);
    if (!opened) co_return opened;
    auto uid = co_await select_and_locate(*session, message);
    if (!uid) co_return uid.take_error();
    auto marked = co_await session->uid_store(*uid, StoreAction::add_silent, "(\\Deleted)");
    if (!marked) co_return lib::err("server cannot safely expunge this message: " + marked.error());
    auto expunged = co_await session->uid_expunge(*uid);
    if (!expunged) co_return expunged;
    auto out = co_await session->logout();
    co_return out;
}

}  // namespace mail::engine
