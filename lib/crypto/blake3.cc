#include "lib/crypto/blake3.h"

#include <blake3.h>

#include "lib/crypto/hex.h"

namespace lib::crypto {

struct Blake3Hasher::State {
    blake3_hasher h;
};

Blake3Hasher::Blake3Hasher() : state_(std::make_unique<State>()) { blake3_hasher_init(&state_->h); }
Blake3Hasher::~Blake3Hasher() = default;
Blake3Hasher::Blake3Hasher(Blake3Hasher&&) noexcept = default;
Blake3Hasher& Blake3Hasher::operator=(Blake3Hasher&&) noexcept = default;

Blake3Hasher& Blake3Hasher::update(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) blake3_hasher_update(&state_->h, bytes.data(), bytes.size());
    return *this;
}

Blake3Hasher& Blake3Hasher::update(std::string_view bytes) { return update(as_bytes(bytes)); }

Blake3Digest Blake3Hasher::finalize() const {
    Blake3Digest out{};
    blake3_hasher_finalize(&state_->h, out.data(), out.size());
    return out;
}

std::string Blake3Hasher::finalize_hex() const { return to_hex(finalize()); }

std::vector<std::uint8_t> Blake3Hasher::finalize_extended(std::size_t length) const {
    std::vector<std::uint8_t> out(length);
    if (length > 0) blake3_hasher_finalize(&state_->h, out.data(), out.size());
    return out;
}

void Blake3Hasher::reset() { blake3_hasher_reset(&state_->h); }

Blake3Digest blake3(std::span<const std::uint8_t> bytes) {
    // A stack hasher: the one-shot path allocates nothing.
    blake3_hasher h;
    blake3_hasher_init(&h);
    if (!bytes.empty()) blake3_hasher_update(&h, bytes.data(), bytes.size());
    Blake3Digest out{};
    blake3_hasher_finalize(&h, out.data(), out.size());
    return out;
}

Blake3Digest blake3(std::string_view bytes) { return blake3(as_bytes(bytes)); }

std::string blake3_hex(std::span<const std::uint8_t> bytes) { return to_hex(blake3(bytes)); }
std::string blake3_hex(std::string_view bytes) { return to_hex(blake3(bytes)); }

bool is_blake3_hex(std::string_view text) {
    if (text.size() != kBlake3HexSize) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace lib::crypto
