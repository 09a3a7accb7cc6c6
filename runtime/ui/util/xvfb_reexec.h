// For window tests (header-only; test code only): re-starts the test binary
// under xvfb-run and dbus-run-session with a quiet, fast GTK set-up, so that
// window tests need no display of their own and never touch the user's.
// Listing tests (ctest's discovery) runs without a display.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace runtime::ui::testing {

// The display number xvfb-run -a starts looking from. Left at its default
// (99), window tests that ctest runs in parallel race for the same free
// number and one loses its display; starting from a number of its own per
// process keeps them apart.
inline std::string xvfb_server_num() { return std::to_string(100 + ::getpid() % 20000); }

// "xvfb-run -a -n N" for tests that build a shell command.
inline std::string xvfb_run_command() { return "xvfb-run -a -n " + xvfb_server_num(); }

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
    std::string server_num = xvfb_server_num();
    std::vector<char*> args = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a"), const_cast<char*>("-n"),
                               server_num.data(),                const_cast<char*>("-s"),
                               const_cast<char*>("-screen 0 1280x800x24"), const_cast<char*>("dbus-run-session"),
                               const_cast<char*>("--")};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("xvfb-run", args.data());
    std::perror("xvfb-run");
    std::exit(1);
}

}  // namespace runtime::ui::testing
