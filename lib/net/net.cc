#include "lib/net/net.h"

#include <arpa/inet.h>

#include <string>

namespace lib::net {

bool is_ip_address(std::string_view host) {
    std::string h(host);
    unsigned char buf[16];
    return inet_pton(AF_INET, h.c_str(), buf) == 1 || inet_pton(AF_INET6, h.c_str(), buf) == 1;
}

Status check_server_name(std::string_view host) {
    if (host.empty()) return err("empty host name");
    if (is_ip_address(host)) return ok_status();
    std::string_view name = host;
    if (name.back() == '.') name.remove_suffix(1);
    if (name.empty()) return err("not a valid DNS name: \".\"");
    if (name.size() > 253) return err("not a valid DNS name: longer than 253 characters");
    bool last_all_digits = false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t dot = name.find('.', start);
        if (dot == std::string_view::npos) dot = name.size();
        std::string_view label = name.substr(start, dot - start);
        if (label.empty()) return err("not a valid DNS name: empty label");
        if (label.size() > 63) return err("not a valid DNS name: label longer than 63 characters");
        if (label.front() == '-' || label.back() == '-')
            return err("not a valid DNS name: label starts or ends with \"-\"");
        last_all_digits = true;
        for (char c : label) {
            bool digit = c >= '0' && c <= '9';
            bool ok = digit || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
            if (!ok) return err("not a valid DNS name: contains a character other than letters, digits, \"-\", \"_\" and \".\"");
            if (!digit) last_all_digits = false;
        }
        start = dot + 1;
    }
    if (last_all_digits) return err("not a valid DNS name or IP address");
    return ok_status();
}

}  // namespace lib::net
