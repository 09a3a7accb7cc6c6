#include "runtime/blobstore/blobstore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lib/base/log.h"
#include "lib/base/places.h"
#include "lib/crypto/blake3.h"
#include "lib/crypto/hex.h"
#include "runtime/atomic_file/atomic_file.h"

namespace runtime::blobstore {
namespace {

// Reads a whole regular file; none when it cannot be opened or read.
std::optional<std::vector<std::uint8_t>> read_file(const std::filesystem::path& p) {
    int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t buf[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    ::close(fd);
    return out;
}

}  // namespace

BlobStore::BlobStore(std::filesystem::path dir) : dir_(std::move(dir)) {}

std::optional<BlobStore> BlobStore::open_default() {
    auto root = lib::places::data_root();
    if (!root) return std::nullopt;
    return BlobStore(*root / "blobs");
}

std::filesystem::path BlobStore::path_for(std::string_view digest) const {
    return dir_ / std::string(digest.substr(0, 2)) / std::string(digest);
}

lib::Result<std::string> BlobStore::put(std::span<const std::uint8_t> bytes) const {
    std::string digest = lib::crypto::blake3_hex(bytes);
    auto path = path_for(digest);
    if (auto existing = read_file(path)) {
        if (existing->size() == bytes.size() && std::equal(existing->begin(), existing->end(), bytes.begin()))
            return digest;
        lib::log::warn("blob store rewrites a damaged blob", {{"digest", digest}});
    }
    if (auto s = atomic_file::write(path, bytes, 0600, 0700); !s) return s.take_error();
    return digest;
}

lib::Result<std::string> BlobStore::put(std::string_view bytes) const { return put(lib::crypto::as_bytes(bytes)); }

std::optional<std::vector<std::uint8_t>> BlobStore::get(std::string_view digest) const {
    if (!lib::crypto::is_blake3_hex(digest)) return std::nullopt;
    auto bytes = read_file(path_for(digest));
    if (!bytes) return std::nullopt;
    if (lib::crypto::blake3_hex(*bytes) != digest) {
        lib::log::warn("blob store found a damaged blob", {{"digest", digest}});
        return std::nullopt;
    }
    return bytes;
}

bool BlobStore::verify(std::span<const std::uint8_t> bytes, std::string_view digest) {
    return lib::crypto::is_blake3_hex(digest) && lib::crypto::blake3_hex(bytes) == digest;
}

bool BlobStore::verify(std::string_view bytes, std::string_view digest) {
    return verify(lib::crypto::as_bytes(bytes), digest);
}

}  // namespace runtime::blobstore
