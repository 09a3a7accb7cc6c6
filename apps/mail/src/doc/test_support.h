// Small helpers shared by the mailbox document tests.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "doc/mailbox.h"

namespace mail::doc::testing {

class TempDir {
public:
    TempDir() {
        path_ = std::filesystem::temp_directory_path() /
                ("mail-doc-test-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

inline void change_ok(Doc& d, const std::function<void(Tx&)>& fn) {
    auto status = d.change(fn);
    ASSERT_TRUE(status.ok()) << status.error();
}

}  // namespace mail::doc::testing
