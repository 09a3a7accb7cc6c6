#include "tools/cli/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tools::cli {

ReadResult read_file(const std::string& path, std::size_t max_bytes) {
    ReadResult r;
    const int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        r.error = std::strerror(errno);
        return r;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            r.error = std::strerror(errno);
            if (fd != STDIN_FILENO) ::close(fd);
            return r;
        }
        if (n == 0) break;
        if (r.bytes.size() + static_cast<std::size_t>(n) > max_bytes) {
            r.too_large = true;
            break;
        }
        r.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    if (fd != STDIN_FILENO) ::close(fd);
    r.ok = true;
    return r;
}

}  // namespace tools::cli
