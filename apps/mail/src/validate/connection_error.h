// Turns the low-level text of a failed connection or sign-in (transport,
// TLS, IMAP or SMTP wording) into the short message the user sees.
#pragma once

#include <string>
#include <string_view>

namespace mail::validate {

// The first matching row wins, on the text with A-Z lower-cased:
//   1 "535", "authenticationfailed", "authentication failed",
//     "invalid credentials", "login failed", or "auth" with any of "fail",
//     "reject", "denied", "invalid"      → authentication failed
//   2 "certificate", "tls", "handshake", "self-signed", "ssl" → TLS/certificate
//   3 "refused"                           → connection refused
//   4 "timed out", "timeout"              → timed out
//   5 "dns", "lookup", "resolve", "not known", "no such host" → host not found
//   6 "unreachable"                       → network unreachable
// otherwise "connection failed: " and the text as received.
std::string describe_connection_error(std::string_view error);

}  // namespace mail::validate
