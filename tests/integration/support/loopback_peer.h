// A loopback TCP peer for transport tests. With a certificate it completes a
// TLS handshake and sends a greeting line; in silent mode it accepts and
// never says a word (for time limits). Connections are served one after
// another until the client closes or the peer is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "lib/base/result.h"

namespace integration {

class LoopbackPeer {
public:
    struct Options {
        std::string cert_file;  // PEM chain; empty: plain TCP
        std::string key_file;
        std::string greeting = "* OK test peer ready\r\n";
        bool silent = false;  // accept, then say nothing (no TLS either)
        // STARTTLS style: send this line in plain text, read one line from
        // the client, answer `upgrade_reply`, then run the TLS handshake and
        // send `greeting` encrypted.
        std::string plain_greeting;
        std::string upgrade_reply = "220 go ahead\r\n";
    };

    // The line the client sent before upgrading (STARTTLS style only).
    std::string upgrade_request() const;

    static lib::Result<std::unique_ptr<LoopbackPeer>> start(Options options);
    ~LoopbackPeer();

    std::uint16_t port() const { return port_; }
    int connections() const { return connections_.load(); }

private:
    LoopbackPeer() = default;
    void serve();
    void handle(int fd);
    bool wait_readable(int fd);

    Options options_;
    void* ctx_ = nullptr;  // SSL_CTX
    int listen_fd_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::string upgrade_request_;
    std::thread thread_;
};

}  // namespace integration
