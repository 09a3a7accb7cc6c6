#include "lib/crypto/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "lib/crypto/hex.h"

namespace lib::crypto {

Status fill_random(std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::getrandom(out.data() + done, out.size() - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return err(std::string("no random bytes: ") + std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
    return {};
}

Result<std::vector<std::uint8_t>> random_bytes(std::size_t count) {
    std::vector<std::uint8_t> out(count);
    if (auto s = fill_random(out); !s) return s.take_error();
    return out;
}

Result<Uuid> random_uuid_v4_bytes() {
    Uuid u{};
    if (auto s = fill_random(u); !s) return s.take_error();
    u[6] = static_cast<std::uint8_t>((u[6] & 0x0f) | 0x40);
    u[8] = static_cast<std::uint8_t>((u[8] & 0x3f) | 0x80);
    return u;
}

Result<std::string> random_uuid_v4() {
    auto u = random_uuid_v4_bytes();
    if (!u) return u.take_error();
    return format_uuid(*u);
}

std::string format_uuid(const Uuid& bytes) {
    std::string hex = to_hex(bytes);
    return hex.substr(0, 8) + '-' + hex.substr(8, 4) + '-' + hex.substr(12, 4) + '-' + hex.substr(16, 4) + '-' +
           hex.substr(20);
}

}  // namespace lib::crypto
