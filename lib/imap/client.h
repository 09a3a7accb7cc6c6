// A blocking IMAP client for code that does not run Asio itself: each call
// runs the connection's own single-threaded event loop until the command is
// done. Same commands and error texts as lib/imap/session.h.
//
// A time limit (for the whole life of the client, connect included) and a
// cancel flag (polled every 50 ms) may be given; when either ends a command
// the connection is closed and the error is "IMAP operation timed out" or
// "IMAP operation cancelled".
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lib/base/result.h"
#include "lib/imap/command.h"
#include "lib/imap/parser.h"
#include "lib/imap/response.h"

namespace lib::imap {

struct ClientOptions {
    std::string host;
    std::uint16_t port = 993;
    std::chrono::milliseconds timeout{0};         // zero: no limit
    const std::atomic<bool>* cancel = nullptr;    // optional
    Limits limits;
};

class Client {
public:
    // Connects with TLS and reads the greeting.
    static Result<std::unique_ptr<Client>> connect(const ClientOptions& options);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    Status login(const std::string& user, const std::string& password);
    Status authenticate_xoauth2(const std::string& user, const std::string& access_token);
    Result<std::vector<ListData>> list();
    Result<SelectInfo> select(const std::string& mailbox);
    Result<std::vector<std::uint32_t>> uid_search(const std::string& criterion);
    Result<std::vector<std::uint32_t>> uid_search_header(const std::string& field, const std::string& value);
    // Default items: "(UID FLAGS INTERNALDATE BODY.PEEK[])".
    Result<std::vector<FetchData>> uid_fetch(const std::vector<std::uint32_t>& uids);
    Result<std::vector<FetchData>> uid_fetch(const std::vector<std::uint32_t>& uids, const std::string& items);
    Status uid_store(std::uint32_t uid, StoreAction action, const std::string& flag_list);
    Status uid_move(std::uint32_t uid, const std::string& mailbox);
    Status uid_expunge(std::uint32_t uid);
    Status logout();

    const std::vector<std::string>& capabilities() const;
    bool has_capability(std::string_view name) const;
    bool connected() const;

    // Sent lines with sign-in arguments hidden (see Session::record_commands).
    void record_commands(bool on);
    const std::vector<std::string>& recorded_commands() const;

    struct Impl;  // opaque

private:
    explicit Client(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace lib::imap
