// Small process and file helpers for tests that start real peers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/base/result.h"

namespace integration {

// A fresh directory under TMPDIR (or /tmp), removed with its contents when
// the object goes away. Mode 0755 so that unprivileged server processes
// can reach what is placed inside.
class TempDir {
public:
    static lib::Result<TempDir> create(const std::string& prefix = "zelk-test");
    TempDir(TempDir&& other) noexcept;
    TempDir& operator=(TempDir&& other) noexcept;
    ~TempDir();
    const std::string& path() const { return path_; }
    // Gives up ownership: the directory stays; its path is returned.
    std::string release();

private:
    TempDir() = default;
    std::string path_;
};

// Runs argv[0] (looked up on PATH, then in /usr/sbin and /sbin), waits, and
// gives its standard output and error together; a non-zero exit is an error
// carrying that output.
lib::Result<std::string> run_program(const std::vector<std::string>& argv);

// Where the program would be found as in run_program, or "" if nowhere.
std::string find_program(const std::string& name);

// A loopback TCP port that was free a moment ago.
std::uint16_t free_loopback_port();

// Whether something accepts TCP connections on 127.0.0.1:port.
bool port_accepts(std::uint16_t port);

lib::Status write_file(const std::string& path, const std::string& content, unsigned mode = 0644);
lib::Result<std::string> read_file(const std::string& path);

}  // namespace integration
