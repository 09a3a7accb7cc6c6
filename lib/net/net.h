// Network helpers without Asio: what the rest of the program may include.
#pragma once

#include <string_view>

#include "lib/base/result.h"

namespace lib::net {

// Whether the host can name a TLS server: an IPv4 or IPv6 address literal, or
// a DNS name (labels of letters, digits, "-" and "_", 1 to 63 characters, at
// most 253 in all, an optional final dot, not all digits at the end). The
// error describes what is wrong, for "invalid ... host name: " messages.
Status check_server_name(std::string_view host);

// Whether the text is an IPv4 or IPv6 address literal (no brackets).
bool is_ip_address(std::string_view host);

}  // namespace lib::net
