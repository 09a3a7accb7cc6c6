#include "validate/connection_error.h"

#include <gtest/gtest.h>

#include <string>

namespace mail::validate {
namespace {

const std::string kAuth = "authentication failed \xE2\x80\x94 check the username and password";
const std::string kTls = "TLS/certificate error \xE2\x80\x94 the server's certificate wasn't trusted";
const std::string kRefused = "connection refused \xE2\x80\x94 check the host and port";
const std::string kTimeout = "connection timed out \xE2\x80\x94 the server didn't respond";
const std::string kHost = "host not found \xE2\x80\x94 check the server address";
const std::string kUnreachable = "network unreachable \xE2\x80\x94 check your connection";

struct Case {
    std::string input;
    std::string expected;
};

TEST(DescribeConnectionError, RowsInOrder) {
    const Case cases[] = {
        // Row 1 and its combinations; it wins over every later row.
        {"[AUTHENTICATIONFAILED] Authentication failed.", kAuth},
        {"535 5.7.8 Error: authentication failed: bad credentials", kAuth},
        {"535 something and the connection timed out", kAuth},
        {"Invalid Credentials", kAuth},
        {"LOGIN FAILED", kAuth},
        {"authorization rejected by server", kAuth},
        {"OAuth token denied", kAuth},
        {"auth mechanism invalid over TLS", kAuth},
        {"AUTH succeeded but then fail", kAuth},
        // "auth" alone is not enough.
        {"auth required before MAIL", "connection failed: auth required before MAIL"},
        // Row 2: the library's TLS wordings; "STARTTLS" hides "tls".
        {"TLS handshake error: certificate verify error: unable to get local issuer certificate", kTls},
        {"server does not support STARTTLS", kTls},
        {"SSL routines::wrong version number", kTls},
        {"self-signed certificate in chain", kTls},
        // Row 3, any letter case.
        {"could not connect to 127.0.0.1:1: Connection Refused", kRefused},
        {"REFUSED", kRefused},
        // Row 4.
        {"connection timed out", kTimeout},
        {"read Timeout", kTimeout},
        // Row 5, including the resolver wording of the transport.
        {"could not resolve host name: host not found", kHost},
        {"Host not found (authoritative): DNS", kHost},
        {"Name or service not known", kHost},
        {"getaddrinfo lookup failed", kHost},
        {"no such host", kHost},
        // Row 6.
        {"Network is unreachable", kUnreachable},
        // None: the received text unchanged.
        {"connection closed by server", "connection failed: connection closed by server"},
        {"", "connection failed: "},
        {"Weird Ünïcode", "connection failed: Weird Ünïcode"},
    };
    for (const Case& c : cases) EXPECT_EQ(describe_connection_error(c.input), c.expected) << c.input;
}

}  // namespace
}  // namespace mail::validate
