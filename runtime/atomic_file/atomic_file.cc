#include "runtime/atomic_file/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "lib/crypto/hex.h"
#include "lib/crypto/random.h"

namespace runtime::atomic_file {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTempMarker = ".tmp-";

std::string failure(std::string_view what, const fs::path& path, int error) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(error);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports close's own error (which can carry a failed write).
    int close() {
        int r = ::close(fd_);
        fd_ = -1;
        return r;
    }

private:
    int fd_;
};

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool is_temporary_name(std::string_view name) {
    if (name.size() < 2 || name[0] != '.') return false;
    auto at = name.rfind(kTempMarker);
    if (at == std::string_view::npos || at < 1) return false;
    auto tail = name.substr(at + kTempMarker.size());
    return tail.size() == 16 && tail.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

lib::Status create_directories(const fs::path& dir, unsigned dir_mode) {
    if (dir.empty()) return {};
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return {};
        return lib::err("not a directory: " + dir.string());
    }
    if (errno != ENOENT) return lib::err(failure("could not open folder", dir, errno));
    fs::path parent = dir.parent_path();
    if (parent != dir) {
        if (auto s = create_directories(parent, dir_mode); !s) return s;
    }
    if (::mkdir(dir.c_str(), static_cast<mode_t>(dir_mode)) != 0 && errno != EEXIST)
        return lib::err(failure("could not create folder", dir, errno));
    return {};
}

lib::Status write(const fs::path& path, std::span<const std::uint8_t> bytes, unsigned mode, unsigned dir_mode) {
    if (path.empty() || !path.has_filename()) return lib::err("could not write: no file name in \"" + path.string() + "\"");
    fs::path dir = path.parent_path();
    if (auto s = create_directories(dir, dir_mode); !s) return s;

    auto suffix = lib::crypto::random_bytes(8);
    if (!suffix) return lib::err("could not write " + path.string() + ": " + suffix.error());
    fs::path temp = dir / ("." + path.filename().string() + std::string(kTempMarker) + lib::crypto::to_hex(*suffix));

    // The permission bits are given at creation; the umask can only narrow
    // them, and fchmod then sets exactly `mode` without ever widening past it.
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                 static_cast<mode_t>(mode & 07777)));
    if (fd.get() < 0) return lib::err(failure("could not write", path, errno));

    auto abandon = [&](std::string_view what, int error) {
        ::unlink(temp.c_str());
        return lib::err(failure(what, path, error));
    };
    if (::fchmod(fd.get(), static_cast<mode_t>(mode & 07777)) != 0) return abandon("could not write", errno);
    if (!write_all(fd.get(), bytes)) return abandon("could not write", errno);
    if (::fsync(fd.get()) != 0) return abandon("could not write", errno);
    if (fd.close() != 0) return abandon("could not write", errno);
    if (::rename(temp.c_str(), path.c_str()) != 0) return abandon("could not replace", errno);

    // Make the rename itself durable. File systems that cannot sync a
    // directory say so with EINVAL; the new content is in place either way.
    Fd dfd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dfd.get() < 0) return lib::err(failure("could not sync folder of", path, errno));
    if (::fsync(dfd.get()) != 0 && errno != EINVAL && errno != EROFS)
        return lib::err(failure("could not sync folder of", path, errno));
    return {};
}

lib::Status write(const fs::path& path, std::string_view bytes, unsigned mode, unsigned dir_mode) {
    return write(path, lib::crypto::as_bytes(bytes), mode, dir_mode);
}

}  // namespace runtime::atomic_file
