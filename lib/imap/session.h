// An IMAP client connection driven by Asio coroutines: connect over TLS, sign
// in, and the commands the mail engine uses. For .cc files that run on an
// Asio executor (engine, verification); everything else uses the blocking
// lib/imap/client.h.
//
// A Session runs on one strand (or a single-threaded io_context) and handles
// one command at a time. Errors are values: a NO or BAD answer gives the
// server's text ("[AUTHENTICATIONFAILED] Authentication failed."), a broken
// connection the transport's text. After a transport or protocol error the
// connection is closed and every later command fails with "not connected".
// Cancelling a pending command (an awaitable race, a cancellation slot) also
// closes the connection.
#pragma once

#include <asio/awaitable.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/result.h"
#include "lib/imap/command.h"
#include "lib/imap/parser.h"
#include "lib/imap/response.h"
#include "lib/net/tls_stream.h"

namespace lib::imap {

class Session {
public:
    explicit Session(Limits limits = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens the connection (normally Security::tls) and reads the greeting.
    // Transport errors carry lib::net wordings; a BYE greeting gives
    // "server refused the connection: <text>".
    asio::awaitable<Status> connect(net::ConnectOptions options);

    // LOGIN with both texts as quoted strings. Texts with CR, LF or NUL are
    // refused before anything is sent.
    asio::awaitable<Status> login(std::string user, std::string password);

    // AUTHENTICATE XOAUTH2 with the initial response
    // base64("user=" user "\x01auth=Bearer " token "\x01\x01"), inline when
    // the server offers SASL-IR. When the server answers with a challenge
    // (its JSON error, base64-encoded) an empty response is sent and the
    // final error reads "<NO text> (server said: <decoded JSON>)".
    asio::awaitable<Status> authenticate_xoauth2(std::string user, std::string access_token);

    // LIST "" *: every mailbox, in the server's order.
    asio::awaitable<Result<std::vector<ListData>>> list();

    // SELECT "<mailbox>" (read-write).
    asio::awaitable<Result<SelectInfo>> select(std::string mailbox);

    // UID SEARCH <criterion>, the criterion sent as written ("ALL",
    // "FLAGGED"). UIDs in the server's order.
    asio::awaitable<Result<std::vector<std::uint32_t>>> uid_search(std::string criterion);

    // UID SEARCH HEADER <field> "<value>" (field an atom such as MESSAGE-ID).
    asio::awaitable<Result<std::vector<std::uint32_t>>> uid_search_header(std::string field, std::string value);

    // UID FETCH <uids joined by ","> <items>; nothing is sent for no UIDs.
    // Every FETCH response of the command, in the server's order (one
    // without the asked-for items may be an unsolicited flag update).
    asio::awaitable<Result<std::vector<FetchData>>> uid_fetch(std::vector<std::uint32_t> uids,
                                                              std::string items = std::string(kFetchItems));

    // UID STORE <uid> +FLAGS/-FLAGS[.SILENT] <flag list>, e.g. "(\\Seen)".
    asio::awaitable<Status> uid_store(std::uint32_t uid, StoreAction action, std::string flag_list);

    // UID MOVE <uid> "<mailbox>"; without MOVE: UID COPY, UID STORE
    // +FLAGS.SILENT (\Deleted) and UID EXPUNGE of that UID (needs UIDPLUS;
    // with neither nothing is changed and the result is an error).
    asio::awaitable<Status> uid_move(std::uint32_t uid, std::string mailbox);

    // UID EXPUNGE <uid>: removes only that message (needs UIDPLUS).
    asio::awaitable<Status> uid_expunge(std::uint32_t uid);

    // LOGOUT, then closes the connection.
    asio::awaitable<Status> logout();

    // Asks the server (CAPABILITY) and remembers the answer.
    asio::awaitable<Result<std::vector<std::string>>> refresh_capabilities();

    // Capabilities as last announced (greeting, sign-in or CAPABILITY).
    const std::vector<std::string>& capabilities() const;
    bool has_capability(std::string_view name) const;

    bool connected() const;
    void close();

    // The wire, for tests and debugging: each sent line with LOGIN and
    // AUTHENTICATE arguments replaced by "***". Off unless enabled.
    void record_commands(bool on);
    const std::vector<std::string>& recorded_commands() const;

    struct Impl;  // opaque

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace lib::imap
