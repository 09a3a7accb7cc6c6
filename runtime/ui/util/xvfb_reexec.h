// For window tests (header-only; test code only): re-starts the test binary
// under xvfb-run and dbus-run-session with a quiet, fast GTK set-up, so that
// window tests need no display of their own and never touch the user's.
// Listing tests (ctest's discovery) runs without a display.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace runtime::ui::testing {

// Returns true when the caller is listing tests; otherwise either returns
// false inside the display session or does not return at all.
inline bool reexec_under_xvfb(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) return true;
    }
    if (std::getenv("ZELK_WINDOW_TEST_CHILD")) return false;
    setenv("ZELK_WINDOW_TEST_CHILD", "1", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GTK_A11Y", "none", 1);
    setenv("GSK_RENDERER", "cairo", 1);
    std::vector<char*> args = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a"), const_cast<char*>("-s"),
                               const_cast<char*>("-screen 0 1280x800x24"), const_cast<char*>("dbus-run-session"),
                               const_cast<char*>("--")};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("xvfb-run", args.data());
    std::perror("xvfb-run");
    std::exit(1);
}

}  // namespace runtime::ui::testing
