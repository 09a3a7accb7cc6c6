#include "lib/crypto/sha256.h"

#include <openssl/evp.h>

#include "lib/crypto/hex.h"

namespace lib::crypto {

Result<Sha256Digest> sha256(std::span<const std::uint8_t> bytes) {
    Sha256Digest out{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != out.size())
        return err("SHA-256 is unavailable");
    return out;
}

Result<Sha256Digest> sha256(std::string_view bytes) { return sha256(as_bytes(bytes)); }

Result<std::string> sha256_hex(std::string_view bytes) {
    auto d = sha256(bytes);
    if (!d) return d.take_error();
    return to_hex(*d);
}

}  // namespace lib::crypto
