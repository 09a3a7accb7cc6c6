// Runs the built zelk-mail-cli mailbox command against documents in
// temporary folders.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "actions/mail_action.h"
#include "lib/json/strict.h"
#include "state/message_id.h"

namespace {

namespace fs = std::filesystem;
using lib::json::Json;

const std::string kCli = std::string(ZELK_BINARY_DIR) + "/bin/zelk-mail-cli";

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs the CLI with exactly these argument bytes (no shell in between).
CliRun run_cli(const std::vector<std::string>& args) {
    int out_pipe[2], err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out_pipe[1], STDOUT_FILENO);
        ::dup2(err_pipe[1], STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(kCli.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(kCli.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    CliRun run;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open_fds = 2;
    while (open_fds > 0) {
        if (::poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class TempDir {
public:
    TempDir() {
        path_ = fs::temp_directory_path() / ("mailbox-cli-" + std::to_string(::getpid()) + "-" +
                                             std::to_string(counter_++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string dir() const { return (path_ / "mail").string(); }
    const fs::path& path() const { return path_; }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

std::string fixture(const char* name) { return std::string(ZELK_SOURCE_DIR) + "/tools/testdata/" + name; }

std::string id_of(const char* message_id) { return mail::state::MessageId::from_message_id(message_id).text(); }

Json parse_line(const std::string& out) {
    if (out.empty()) {
        ADD_FAILURE() << "no output";
        return Json();
    }
    EXPECT_EQ(out.back(), '\n');
    auto parsed = lib::json::parse_strict(out.substr(0, out.find('\n')));
    EXPECT_TRUE(parsed.ok()) << parsed.error() << ": " << out;
    return parsed.ok() ? *parsed : Json();
}

Json apply_payload(const std::string& dir, const std::string& payload) {
    const CliRun r = run_cli({"mailbox", dir, "apply", payload});
    EXPECT_EQ(r.code, 0) << r.err;
    return parse_line(r.out);
}

std::string dump(const std::string& dir) {
    const CliRun r = run_cli({"mailbox", dir, "dump"});
    EXPECT_EQ(r.code, 0) << r.err;
    return r.out;
}

// Whether a process of the process group has `file` open.
bool group_holds_file(pid_t group, const fs::path& file) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(line.substr(close + 2));
        std::string state;
        long parent = 0, pgrp = 0;
        fields >> state >> parent >> pgrp;
        if (pgrp != group) continue;
        std::error_code fd_ec;
        for (const auto& fd : fs::directory_iterator(entry.path() / "fd", fd_ec)) {
            std::error_code link_ec;
            if (fs::read_symlink(fd.path(), link_ec) == file) return true;
        }
    }
    return false;
}

Json at(const Json& value, const char* pointer) {
    const auto p = Json::json_pointer(pointer);
    return value.contains(p) ? value.at(p) : Json();
}

TEST(MailboxCli, SeedApplyDump) {
    TempDir tmp;
    const std::string dir = tmp.dir();
    EXPECT_EQ(dump(dir), "{}\n");
    EXPECT_FALSE(fs::exists(dir)) << "dump creates nothing";

    const std::string lunch = id_of("<lunch-2@example.com>");
    const std::string report = id_of("<report@example.com>");
    const CliRun seeded = run_cli({"mailbox", dir, "seed", fixture("alternative.eml"), fixture("rfc2231_filename.eml")});
    ASSERT_EQ(seeded.code, 0) << seeded.err;
    EXPECT_EQ(parse_line(seeded.out), Json::parse(R"({"ok":true,"ids":[")" + lunch + R"(",")" + report + R"("]})"));

    EXPECT_EQ(apply_payload(dir, R"({"SetRead":{"ids":[")" + lunch + R"("],"read":true}})"), Json::parse(R"({"ok":true})"));
    EXPECT_EQ(apply_payload(dir, R"({"AddLabel":{"ids":[" )" + lunch + R"( "],"label":" work "}})")["ok"], true);
    EXPECT_EQ(apply_payload(dir, R"({"Purge":{"ids":[")" + report + R"("]}})"),
              Json::parse(R"({"ok":false,"error":"every message must still be present in Trash before permanent deletion"})"));
    EXPECT_EQ(apply_payload(dir, R"({"Move":{"ids":[")" + report + R"("],"folder":"trash"}})")["ok"], true);
    EXPECT_EQ(apply_payload(dir, R"({"Purge":{"ids":[")" + report + R"("]}})")["ok"], true);
    EXPECT_EQ(apply_payload(dir, R"({"CreateFolder":{"id":"f1","name":"Projects"}})")["ok"], true);
    EXPECT_EQ(apply_payload(dir, R"({"SaveDraft":{"to":"a@example.com","cc":"","bcc":"","subject":"Hi","body":"x","attachments":[]}})")["ok"], true);

    // Seeding again (a refetch) changes no local decision and brings nothing back.
    ASSERT_EQ(run_cli({"mailbox", dir, "seed", fixture("alternative.eml"), fixture("rfc2231_filename.eml")}).code, 0);

    const std::string text = dump(dir);
    const Json doc = parse_line(text);
    EXPECT_EQ(at(doc, ("/flags/" + lunch + "/read").c_str()), true);
    EXPECT_EQ(at(doc, ("/flags/" + lunch + "/starred").c_str()), false);
    EXPECT_EQ(at(doc, ("/flags/" + lunch + "/folder").c_str()), "inbox");
    EXPECT_EQ(at(doc, ("/flags/" + lunch + "/labels").c_str()), Json::parse(R"(["work"])"));
    EXPECT_EQ(at(doc, ("/messages/" + lunch).c_str()), Json::parse(R"({"present":true})"));
    EXPECT_EQ(at(doc, ("/messages/" + report).c_str()), Json::parse(R"({"present":false,"purged":true})"));
    EXPECT_EQ(at(doc, "/folders"), Json::parse(R"({"f1":"Projects"})"));
    EXPECT_EQ(at(doc, "/draft/subject"), "Hi");
    EXPECT_EQ(at(doc, "/draft/attachments"), "[]");
    // Keys in byte order at every level.
    std::vector<std::string> top;
    for (const auto& item : doc.items()) top.push_back(item.key());
    EXPECT_EQ(top, (std::vector<std::string>{"draft", "flags", "folders", "messages"}));
}

TEST(MailboxCli, MalformedPayloadsChangeNothing) {
    TempDir tmp;
    const std::string dir = tmp.dir();
    ASSERT_EQ(run_cli({"mailbox", dir, "seed", fixture("alternative.eml")}).code, 0);
    const std::string id = id_of("<lunch-2@example.com>");
    const std::string before = dump(dir);

    std::string many_ids = R"({"SetRead":{"ids":[)";
    // Short ids keep the argument within the kernel's limit for one argument.
    for (int i = 0; i < 10'001; ++i) many_ids += std::string(i ? "," : "") + "\"a\"";
    many_ids += R"(],"read":true}})";
    std::string deep = std::string(200, '[') + std::string(200, ']');
    std::string deep_in_ids = R"({"SetRead":{"ids":)" + std::string(40, '[') + std::string(40, ']') + R"(,"read":true}})";

    const std::vector<std::string> payloads = {
        R"({"SetRead":{"ids":")" + id + R"(","read":true}})",                 // ids not an array
        R"({"SetRead":{"ids":[")" + id + R"("],"read":"true"}})",             // read not a boolean
        R"({"SetRead":{"ids":[1],"read":true}})",                              // id not a string
        R"({"Move":{"ids":[")" + id + R"("]}})",                              // missing folder
        R"({"SetStarred":{"starred":true}})",                                  // missing ids
        R"({"Archive":{"ids":[")" + id + R"("]}})",                           // unknown variant
        R"("Purge")",                                                          // fields missing
        R"({"DiscardDraft":null})",                                            // unit variant as object
        R"({"SaveDraft":{"to":"","cc":"","bcc":"","subject":"","body":"x"}})",  // missing attachments
        R"({"SetRead":{"ids":[")" + id + R"("],"read":true,"read":false}})",  // duplicate key
        R"({"SetRead":{"ids":[")" + id + R"("],"read":true}} x)",             // trailing bytes
        R"({"SetRead":{"ids":[")" + id + R"("],"read":true}, "Purge":{"ids":[]}})",  // two variants
        "{\"AddLabel\":{\"ids\":[\"" + id + "\"],\"label\":\"\xff\xfe\"}}",    // invalid UTF-8
        "{\"AddLabel\":{\"ids\":[\"" + id + "\"],\"label\":\"\xed\xa0\x80\"}}", // encoded surrogate
        many_ids,                                                              // huge array
        deep,                                                                  // deep nesting
        deep_in_ids,
        "",
        "null",
        "[]",
        "not json",
    };
    for (const std::string& payload : payloads) {
        const auto expected = mail::actions::decode_mail_action(payload);
        ASSERT_FALSE(expected.ok()) << payload.substr(0, 120);
        const CliRun r = run_cli({"mailbox", dir, "apply", payload});
        ASSERT_EQ(r.code, 0) << r.err;
        const Json result = parse_line(r.out);
        EXPECT_EQ(result["ok"], false) << payload.substr(0, 120);
        EXPECT_EQ(result["error"], expected.error()) << payload.substr(0, 120);
        EXPECT_FALSE(expected.error().empty());
    }
    EXPECT_EQ(dump(dir), before);
}

TEST(MailboxCli, UnusableArguments) {
    TempDir tmp;
    const std::string dir = tmp.dir();
    const std::vector<std::vector<std::string>> cases = {
        {"mailbox"},
        {"mailbox", dir},
        {"mailbox", "", "dump"},
        {"mailbox", dir, "apply"},
        {"mailbox", dir, "apply", "\"DiscardDraft\"", "\"DiscardDraft\""},
        {"mailbox", dir, "dump", "extra"},
        {"mailbox", dir, "seed"},
        {"mailbox", dir, "frobnicate"},
    };
    for (const auto& args : cases) {
        const CliRun r = run_cli(args);
        EXPECT_EQ(r.code, 2) << args.size();
        EXPECT_NE(r.err.find("usage: zelk-mail-cli mailbox"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_FALSE(fs::exists(dir));

    // A file that cannot be read, or is no message, seeds nothing.
    for (const std::string& file : {fixture("missing.eml"), fixture("garbage.bin")}) {
        const CliRun r = run_cli({"mailbox", dir, "seed", fixture("alternative.eml"), file});
        EXPECT_EQ(r.code, 1) << file;
        EXPECT_EQ(parse_line(r.out)["ok"], false) << file;
    }
    EXPECT_EQ(dump(dir), "{}\n");
}

// Applies numbered CreateFolder actions in a loop of CLI runs, SIGKILLs the
// whole loop while one run has the document open, and checks that every
// action reported ok is in the document, round after round.
TEST(MailboxCli, ActionsReportedOkSurviveKill) {
    TempDir tmp;
    const std::string dir = tmp.dir();
    const std::string log = (tmp.path() / "applied.log").string();
    ASSERT_EQ(run_cli({"mailbox", dir, "seed", fixture("alternative.eml")}).code, 0);

    const auto count_lines = [&] {
        std::ifstream in(log);
        std::size_t n = 0;
        for (std::string l; std::getline(in, l);) ++n;
        return n;
    };
    const fs::path file = fs::path(dir) / "mailbox.sqlite";
    int next = 1, previous_ok = 0, killed_holding = 0;
    for (int round = 0; round < 4; ++round) {
        const std::size_t lines_before = count_lines();
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::setpgid(0, 0);
            const std::string script =
                "i=" + std::to_string(next) +
                "; while :; do "
                "out=$(\"$0\" mailbox \"$1\" apply \"{\\\"CreateFolder\\\":{\\\"id\\\":\\\"f$i\\\",\\\"name\\\":\\\"Folder $i\\\"}}\"); "
                "echo \"$i $out\" >> \"$2\"; i=$((i+1)); done";
            ::execl("/bin/sh", "sh", "-c", script.c_str(), kCli.c_str(), dir.c_str(), log.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::setpgid(pid, pid);
        // Let some runs complete, then kill at a moment that varies by round.
        const auto wait_until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < wait_until && count_lines() < lines_before + 15)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        // Wait for a run that holds the document, then kill a little later
        // each round so the kill meets different moments of the change.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        bool holding = false;
        while (!(holding = group_holds_file(pid, file)) && std::chrono::steady_clock::now() < give_up) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 * round));
        ASSERT_EQ(::kill(-pid, SIGKILL), 0);
        killed_holding += holding ? 1 : 0;
        int status = 0;
        ::waitpid(pid, &status, 0);

        // The killed run may still be going away; its lock goes with it.
        CliRun dumped;
        for (int attempt = 0; attempt < 200; ++attempt) {
            dumped = run_cli({"mailbox", dir, "dump"});
            if (dumped.code == 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_EQ(dumped.code, 0) << dumped.err;
        const Json doc = parse_line(dumped.out);

        std::ifstream in(log);
        int reported_ok = 0, highest = 0;
        for (std::string line; std::getline(in, line);) {
            const auto space = line.find(' ');
            ASSERT_NE(space, std::string::npos) << line;
            const int i = std::stoi(line.substr(0, space));
            highest = std::max(highest, i);
            if (line.substr(space + 1) != R"({"ok":true})") continue;
            ++reported_ok;
            EXPECT_EQ(at(doc, ("/folders/f" + std::to_string(i)).c_str()), "Folder " + std::to_string(i))
                << "round " << round << ", action " << i;
        }
        EXPECT_GE(reported_ok, previous_ok + 15) << "round " << round;
        previous_ok = reported_ok;
        // Nothing beyond the action that was running when the kill came.
        EXPECT_LE(doc["folders"].size(), static_cast<std::size_t>(highest + 1));
        // The seeded message is untouched by the kills.
        EXPECT_EQ(at(doc, ("/messages/" + id_of("<lunch-2@example.com>") + "/present").c_str()), true);
        next = highest + 2;  // skip the number that may have been cut short
    }
    EXPECT_GT(killed_holding, 0) << "no kill met a run holding the document";
}

}  // namespace
