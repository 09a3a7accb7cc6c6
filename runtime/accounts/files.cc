#include "runtime/accounts/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lib/base/log.h"

namespace runtime::accounts::detail {

lib::Result<std::optional<std::string>> read_if_exists(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::optional<std::string>{};
        return lib::err("could not read " + path.string() + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return lib::err("could not read " + path.string() + ": not a regular file");
    }
    std::string out;
    char buf[16 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int e = errno;
            ::close(fd);
            return lib::err("could not read " + path.string() + ": " + std::strerror(e));
        }
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return std::optional<std::string>(std::move(out));
}

void keep_unreadable_copy(const std::filesystem::path& path) {
    std::filesystem::path aside = path;
    aside += ".unreadable";
    if (std::rename(path.c_str(), aside.c_str()) == 0)
        lib::log::warn("kept an unreadable file aside", {{"file", aside.string()}});
}

}  // namespace runtime::accounts::detail
