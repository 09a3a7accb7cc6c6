// A content-addressed store of byte strings. A blob's name is the BLAKE3
// digest of its bytes as 64 lower-case hex digits; it is kept in one private
// file <dir>/<first two digits>/<digest>, written atomically.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/result.h"

namespace runtime::blobstore {

class BlobStore {
public:
    // Nothing is created until the first put.
    explicit BlobStore(std::filesystem::path dir);

    // The store under the data root ("<data root>/blobs"); none without a home.
    static std::optional<BlobStore> open_default();

    const std::filesystem::path& directory() const { return dir_; }

    // Stores the bytes and gives their digest. Storing bytes that are already
    // there changes nothing; a stored copy that no longer matches is rewritten.
    lib::Result<std::string> put(std::span<const std::uint8_t> bytes) const;
    lib::Result<std::string> put(std::string_view bytes) const;

    // The bytes stored under a digest. None for a malformed digest (anything
    // but 64 characters of [0-9a-f]), an unknown one, or a stored file whose
    // content no longer hashes to its name.
    std::optional<std::vector<std::uint8_t>> get(std::string_view digest) const;

    // Whether the bytes hash to the digest (false for a malformed digest).
    static bool verify(std::span<const std::uint8_t> bytes, std::string_view digest);
    static bool verify(std::string_view bytes, std::string_view digest);

    // Where a well-formed digest's blob lives (whether or not it exists).
    std::filesystem::path path_for(std::string_view digest) const;

private:
    std::filesystem::path dir_;
};

}  // namespace runtime::blobstore
