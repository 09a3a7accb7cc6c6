#include "validate/connection_error.h"

#include <initializer_list>

namespace mail::validate {
namespace {

bool contains_any(std::string_view text, std::initializer_list<std::string_view> needles) {
    for (std::string_view n : needles)
        if (text.find(n) != std::string_view::npos) return true;
    return false;
}

}  // namespace

std::string describe_connection_error(std::string_view error) {
    std::string lower(error);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const std::string_view t(lower);

    if (contains_any(t, {"535", "authenticationfailed", "authentication failed", "invalid credentials",
                         "login failed"}) ||
        (t.find("auth") != std::string_view::npos && contains_any(t, {"fail", "reject", "denied", "invalid"})))
        return "authentication failed \xE2\x80\x94 check the username and password";
    if (contains_any(t, {"certificate", "tls", "handshake", "self-signed", "ssl"}))
        return "TLS/certificate error \xE2\x80\x94 the server's certificate wasn't trusted";
    if (contains_any(t, {"refused"})) return "connection refused \xE2\x80\x94 check the host and port";
    if (contains_any(t, {"timed out", "timeout"})) return "connection timed out \xE2\x80\x94 the server didn't respond";
    if (contains_any(t, {"dns", "lookup", "resolve", "not known", "no such host"}))
        return "host not found \xE2\x80\x94 check the server address";
    if (contains_any(t, {"unreachable"})) return "network unreachable \xE2\x80\x94 check your connection";
    return "connection failed: " + std::string(error);
}

}  // namespace mail::validate
