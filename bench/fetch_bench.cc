// Times `zelk-mail-cli fetch` of the 50 newest messages of a 10,000-message
// INBOX on a local Dovecot (TLS) against python3 imaplib sending the same
// commands, alternating the two in one run, and prints both medians and
// their ratio. Run by hand:
//
//   ninja -C build mail_fetch_bench zelk-mail-cli
//   build/bin/mail_fetch_bench [ROUNDS]        (default 30, as root)
//   build/bin/mail_fetch_bench --serve         (keeps the server up and prints
//                                               both command lines, for profiling,
//                                               until standard input closes)
//
// Our side also parses every message into a record and prints it as JSON;
// imaplib only receives the bytes.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "lib/json/strict.h"
#include "tests/integration/support/dovecot.h"
#include "tests/integration/support/process.h"

namespace {

struct Run {
    double seconds = 0;
    std::string out;
    int status = -1;
};

Run time_program(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    Run r;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) r.out.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const bool serve = argc > 1 && std::string(argv[1]) == "--serve";
    const int rounds = argc > 1 && !serve ? std::max(1, std::atoi(argv[1])) : 30;
    const std::string source = ZELK_SOURCE_DIR;
    const std::string cli = std::string(ZELK_BINARY_DIR) + "/bin/zelk-mail-cli";
    const std::string script = source + "/bench/imaplib_fetch.py";

    if (auto why = integration::Dovecot::unavailable_reason()) {
        std::cerr << "cannot run: " << *why << "\n";
        return 1;
    }
    auto server = integration::Dovecot::start({.users = {{"bench", "bench-pw"}}});
    if (!server) {
        std::cerr << "Dovecot did not start: " << server.error() << "\n";
        return 1;
    }
    const auto seed_start = std::chrono::steady_clock::now();
    if (auto s = (*server)->seed("bench", "INBOX", integration::numbered_messages(10000, "bench")); !s) {
        std::cerr << "seeding failed: " << s.error() << "\n";
        return 1;
    }
    std::cerr << "seeded 10000 messages in "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - seed_start).count() << " s\n";

    auto dir = integration::TempDir::create("zelk-bench");
    if (!dir) return 1;
    lib::json::Json account = lib::json::Json::object();
    account["display_name"] = "Bench";
    account["email"] = "bench@example.test";
    account["imap_host"] = (*server)->host();
    account["imap_port"] = (*server)->port();
    account["imap_tls"] = true;
    account["smtp_host"] = (*server)->host();
    account["smtp_port"] = 465;
    account["smtp_tls"] = true;
    account["username"] = "bench";
    account["auth"] = "Password";
    account["password"] = "bench-pw";
    const std::string account_file = dir->path() + "/account.json";
    if (!integration::write_file(account_file, lib::json::dump(account), 0600)) return 1;

    const std::vector<std::string> ours = {cli, "fetch", "--account", account_file, "--folder", "inbox"};
    // The system interpreter itself, not a version manager's shim script.
    const std::string python = ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    const std::vector<std::string> peer = {python, script, (*server)->host(), std::to_string((*server)->port()),
                                           "bench", "bench-pw"};

    if (serve) {
        std::string line;
        for (const auto& w : ours) line += w + " ";
        std::printf("%s\n", line.c_str());
        line.clear();
        for (const auto& w : peer) line += w + " ";
        std::printf("%s\nSSL_CERT_FILE=%s\n", line.c_str(), (*server)->ca_file().c_str());
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return 0;
    }

    // One warm-up each (Dovecot builds its index on the first SELECT), and a
    // check that both really fetched 50 messages.
    const Run first = time_program(ours);
    auto parsed = lib::json::parse_strict(first.out.substr(0, first.out.find('\n')));
    if (first.status != 0 || !parsed || (*parsed)["event"] != "Fetched" || (*parsed)["messages"].size() != 50) {
        std::cerr << "zelk-mail-cli fetch did not fetch 50 messages:\n" << first.out.substr(0, 400) << "\n";
        return 1;
    }
    const Run peer_first = time_program(peer);
    auto peer_parsed = lib::json::parse_strict(peer_first.out);
    if (peer_first.status != 0 || !peer_parsed || (*peer_parsed)["bodies"] != 50) {
        std::cerr << "imaplib did not fetch 50 messages: " << peer_first.out << "\n";
        return 1;
    }

    // Start-up floor of our process: the offline backend answers at once.
    std::vector<std::string> offline = ours;
    offline.push_back("--offline");
    std::vector<double> ours_s, peer_s, peer_inner_s, offline_s;
    for (int i = 0; i < rounds; ++i) {
        const Run a = time_program(ours);
        const Run b = time_program(peer);
        if (a.status != 0 || b.status != 0) {
            std::cerr << "a run failed (ours " << a.status << ", imaplib " << b.status << ")\n";
            return 1;
        }
        ours_s.push_back(a.seconds);
        offline_s.push_back(time_program(offline).seconds);
        peer_s.push_back(b.seconds);
        if (auto j = lib::json::parse_strict(b.out)) peer_inner_s.push_back((*j)["seconds"].get<double>());
    }
    const double o = median(ours_s) * 1000, p = median(peer_s) * 1000, pi = median(peer_inner_s) * 1000;
    std::printf("rounds: %d (alternating, after one warm-up each)\n", rounds);
    std::printf("zelk-mail-cli fetch (process, incl. parsing + JSON): median %.1f ms, min %.1f ms\n", o,
                *std::min_element(ours_s.begin(), ours_s.end()) * 1000);
    std::printf("zelk-mail-cli fetch --offline (start-up floor):       median %.1f ms\n", median(offline_s) * 1000);
    std::printf("python3 imaplib (process):                          median %.1f ms, min %.1f ms\n", p,
                *std::min_element(peer_s.begin(), peer_s.end()) * 1000);
    std::printf("python3 imaplib (inside the interpreter only):      median %.1f ms\n", pi);
    std::printf("ratio ours / imaplib (process): %.2f\n", o / p);
    std::printf("ratio ours / imaplib (interpreter only): %.2f\n", o / pi);
    return 0;
}
