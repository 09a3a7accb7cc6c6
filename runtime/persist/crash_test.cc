// Kills a process in the middle of applying changes, many times, and checks
// after each kill that the reopened document holds exactly the changes up to
// some point: every change the child had seen committed, possibly the one it
// was working on, and nothing half-applied.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "runtime/persist/crash_model.h"
#include "runtime/persist/document.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using runtime::persist::Doc;
using runtime::persist::Tx;
namespace crash = runtime::persist::crash;

struct Round {
    std::map<std::int64_t, std::string> acked;  // change number -> heads the child saw
    int status = 0;
};

// Starts the child on `file`, lets it run for `run_for` (counted from its
// "opened" report when `after_open`, else from its start), kills it and
// collects what it reported.
Round run_and_kill(const fs::path& file, std::chrono::microseconds run_for, bool after_open) {
    Round round;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return round;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    std::string child = PERSIST_CRASH_CHILD;
    std::string arg = file.string();
    char* argv[] = {child.data(), arg.data(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, child.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        ADD_FAILURE() << "could not start " << child;
        return round;
    }

    std::string out;
    char buf[4096];
    using clock = std::chrono::steady_clock;
    // Slow starts (sanitizer builds) get up to ten seconds to open.
    auto deadline = after_open ? clock::now() + std::chrono::seconds(10) : clock::now() + run_for;
    bool opened = !after_open, eof = false;
    // Drain the pipe while the child runs so that it never blocks on output.
    while (!eof) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - clock::now());
        if (left.count() < 0) break;
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>((left.count() + 999) / 1000)) <= 0) continue;
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) {
            eof = true;
        } else {
            out.append(buf, static_cast<std::size_t>(n));
        }
        if (!opened && out.find("opened\n") != std::string::npos) {
            opened = true;
            deadline = clock::now() + run_for;
        }
    }
    EXPECT_TRUE(opened) << "the child did not open the document in time";
    kill(pid, SIGKILL);
    waitpid(pid, &round.status, 0);
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);

    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        auto space = line.find(' ');
        if (space == std::string::npos) continue;
        round.acked[std::stoll(line.substr(0, space))] = line.substr(space + 1);
    }
    return round;
}

TEST(PersistCrash, EveryKillLeavesAPrefixOfTheCommittedChanges) {
    const unsigned seed = 20240611;
    std::mt19937 rng(seed);
    // Most kills land while changes are being written; every eighth round
    // kills at a random moment from the start, often while the file is being
    // created, opened or recovered.
    std::uniform_int_distribution<int> delay_us(0, 60000);

    fs::path dir = fs::temp_directory_path() / ("persist-crash-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::path file = dir / "doc.sqlite";

    Doc model = Doc::open_in_memory();  // the expected state, advanced in step
    std::int64_t prev = 0;
    std::string prev_heads;
    int rounds_with_progress = 0;
    const int rounds = 80;
    auto started = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(r));
        const bool after_open = r % 8 != 0;
        Round round = run_and_kill(file, std::chrono::microseconds(delay_us(rng)), after_open);
        ASSERT_TRUE(WIFSIGNALED(round.status) && WTERMSIG(round.status) == SIGKILL)
            << "the child ended by itself with status " << round.status;
        std::int64_t max_acked = round.acked.empty() ? prev : round.acked.rbegin()->first;

        auto doc = Doc::open(file);
        ASSERT_TRUE(doc.ok()) << doc.error();
        std::int64_t last = crash::last_step(*doc);
        ASSERT_GE(last, 0);
        // Every change reported as committed is there; at most the one in
        // flight beyond it.
        ASSERT_GE(last, max_acked);
        ASSERT_LE(last, max_acked + 1);
        ASSERT_GE(last, prev);
        EXPECT_EQ(doc->change_count(), static_cast<std::uint64_t>(last));

        while (model.change_count() < static_cast<std::uint64_t>(last)) {
            std::int64_t i = static_cast<std::int64_t>(model.change_count()) + 1;
            ASSERT_TRUE(model.change([i](Tx& tx) { crash::apply_step(tx, i); }).ok());
        }
        ASSERT_EQ(crash::dump(*doc), crash::dump(model)) << "after change " << last;

        if (auto it = round.acked.find(last); it != round.acked.end()) {
            EXPECT_EQ(doc->heads(), it->second);
        } else if (last == prev) {
            EXPECT_EQ(doc->heads(), prev_heads);
        }
        if (last > prev) ++rounds_with_progress;
        prev = last;
        prev_heads = doc->heads();
    }
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("crash rounds: %d, changes survived: %lld, rounds with progress: %d, %.1f s\n", rounds,
                static_cast<long long>(prev), rounds_with_progress, seconds);
    // The kills must have landed while changes were being written, not only
    // before the child got going.
    EXPECT_GE(rounds_with_progress, rounds / 2);
    fs::remove_all(dir);
}

}  // namespace
