// BLAKE3 hashing: one-shot digests, lower-case hex text and an incremental
// hasher for data that arrives in pieces. Content addresses in the client are
// the 64-digit hex form of the 32-byte digest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lib::crypto {

inline constexpr std::size_t kBlake3Size = 32;
inline constexpr std::size_t kBlake3HexSize = 2 * kBlake3Size;

using Blake3Digest = std::array<std::uint8_t, kBlake3Size>;

Blake3Digest blake3(std::span<const std::uint8_t> bytes);
Blake3Digest blake3(std::string_view bytes);

// 64 lower-case hex characters.
std::string blake3_hex(std::span<const std::uint8_t> bytes);
std::string blake3_hex(std::string_view bytes);

// True for exactly 64 characters of [0-9a-f] (the form blake3_hex gives).
bool is_blake3_hex(std::string_view text);

class Blake3Hasher {
public:
    Blake3Hasher();
    ~Blake3Hasher();
    Blake3Hasher(Blake3Hasher&&) noexcept;
    Blake3Hasher& operator=(Blake3Hasher&&) noexcept;
    Blake3Hasher(const Blake3Hasher&) = delete;
    Blake3Hasher& operator=(const Blake3Hasher&) = delete;

    Blake3Hasher& update(std::span<const std::uint8_t> bytes);
    Blake3Hasher& update(std::string_view bytes);

    // Finalising does not consume the state: more input may follow.
    Blake3Digest finalize() const;
    std::string finalize_hex() const;
    // Extended output of any length; its first 32 bytes equal finalize().
    std::vector<std::uint8_t> finalize_extended(std::size_t length) const;

    // Back to the state of a new hasher.
    void reset();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace lib::crypto
