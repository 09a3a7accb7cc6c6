#include "runtime/ui/util/link.h"

#include <string>

namespace runtime::ui::link {

namespace {

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

lib::Status check_openable(std::string_view url) {
    if (url.empty()) return lib::err("link is empty");
    if (url.size() > kMaxLinkLength) return lib::err("link is too long");
    for (const char ch : url) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F) return lib::err("link contains spaces or control characters");
    }
    std::string_view rest;
    if (starts_with_nocase(url, "https://")) {
        rest = url.substr(8);
    } else if (starts_with_nocase(url, "http://")) {
        rest = url.substr(7);
    } else if (starts_with_nocase(url, "mailto:")) {
        if (url.size() == 7) return lib::err("link has no address");
        return lib::ok_status();
    } else {
        return lib::err("only http, https and mailto links can be opened");
    }
    // The authority ends at the first "/", "?" or "#"; without user info and
    // port something must remain.
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host = authority;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        host = close == std::string_view::npos ? std::string_view{} : host.substr(1, close - 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    if (host.empty()) return lib::err("link has no host");
    return lib::ok_status();
}

}  // namespace runtime::ui::link
