// A real Dovecot IMAP server on a free loopback port, for integration tests:
// TLS only (ssl = required, certificate from shared_pki() for localhost and
// 127.0.0.1), users from a passwd file, mail in Maildir under a temporary
// directory, login penalties off, and optionally an oauth2 passdb that asks
// an HTTP introspection endpoint (see http_server.h) about XOAUTH2 tokens.
//
//   auto server = integration::Dovecot::start({.users = {{"alice", "secret1"}}});
//   ASSERT_TRUE(server.ok()) << server.error();
//   (*server)->seed("alice", "INBOX", integration::numbered_messages(120));
//   connect to (*server)->host() : (*server)->port() over TLS.
//
// Starting takes about half a second, stopping two to three (Dovecot waits
// for its children), so suites share one server (SetUpTestSuite) and give
// each test its own user. The server is also stopped when the thread that
// started it ends (so start it from the test's main thread, as
// SetUpTestSuite does), even if the process crashes. Needs root (Dovecot drops mail access to
// nobody:nogroup); tests run as root here and on CI.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lib/base/result.h"

namespace integration {

struct DovecotOptions {
    std::vector<std::pair<std::string, std::string>> users;  // name, password
    // When set, XOAUTH2 and OAUTHBEARER are offered and tokens are checked
    // by a form POST "token=..." to this URL, whose JSON answer must hold
    // "active": true and "username": the signing-in user.
    std::string oauth2_introspection_url;
    // Point SSL_CERT_FILE of this process at the test CA on start.
    bool trust_ca = true;
};

// One message to place in a mailbox.
struct SeedMessage {
    std::string content;             // the raw message
    std::string flags;               // Maildir letters: S seen, F flagged, T deleted, R answered, D draft
    std::int64_t internal_date = 0;  // seconds since the epoch; becomes INTERNALDATE
};

class Dovecot {
public:
    // Why Dovecot cannot be started here (not installed), or nothing.
    static std::optional<std::string> unavailable_reason();

    static lib::Result<std::unique_ptr<Dovecot>> start(DovecotOptions options);
    ~Dovecot();  // stops the server and removes its directory

    // SIGTERM to the master and wait for it (escalating to SIGKILL after 15 s).
    lib::Status stop();
    bool running() const;

    const std::string& host() const { return host_; }  // "localhost"
    std::uint16_t port() const { return port_; }
    const std::string& ca_file() const { return ca_file_; }
    const std::string& dir() const { return dir_; }

    // Adds a user (one passwd file each, so new users are seen at once).
    // Changing an existing password may take Dovecot a second to notice.
    lib::Status add_user(const std::string& name, const std::string& password);

    // Writes the messages as Maildir files of the user's mailbox ("INBOX",
    // "Sent", "Archive", ...), creating it if needed. Messages get UIDs in
    // the order given, after those already there.
    lib::Status seed(const std::string& user, const std::string& mailbox, const std::vector<SeedMessage>& messages);

    // The user's message files in a mailbox, sorted as Dovecot numbers them;
    // flags are the letters after ":2,".
    std::vector<std::string> message_files(const std::string& user, const std::string& mailbox) const;

    // The server's log, for failure messages.
    std::string log() const;

private:
    Dovecot() = default;
    lib::Status launch(const DovecotOptions& options);
    std::string maildir(const std::string& user, const std::string& mailbox) const;

    std::string dir_;
    std::string host_ = "localhost";
    std::uint16_t port_ = 0;
    std::string ca_file_;
    int pid_ = -1;
    std::uint64_t next_file_ = 0;
};

// A plain-text message with the given headers, CRLF line ends.
std::string make_message(const std::string& subject, const std::string& message_id, const std::string& body,
                         const std::string& from = "Sender <sender@example.test>",
                         const std::string& to = "alice@example.test",
                         const std::string& date = "Tue, 14 Nov 2023 22:13:20 +0000");

// `count` messages "Message 1" ... with Message-IDs <{id_prefix}-{i}@example.test>,
// bodies "Body of message {i}", INTERNALDATEs a minute apart from first_date.
std::vector<SeedMessage> numbered_messages(int count, const std::string& id_prefix = "msg",
                                           std::int64_t first_date = 1700000000);

// Skips the current test (GoogleTest) when Dovecot is not installed.
#define ZELK_SKIP_WITHOUT_DOVECOT()                                              \
    do {                                                                         \
        if (auto zelk_why = ::integration::Dovecot::unavailable_reason())        \
            GTEST_SKIP() << *zelk_why;                                           \
    } while (0)

}  // namespace integration
