// zelk-mail-cli's engine commands against a real Dovecot: one JSON line per
// event, ending with Completed, and the exit status.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "lib/json/strict.h"
#include "tests/integration/support/dovecot.h"
#include "tests/integration/support/process.h"

namespace {

using integration::Dovecot;
using lib::json::Json;

struct Output {
    int status = -1;
    std::vector<Json> lines;
};

Output run_cli(const std::vector<std::string>& words) {
    std::string command;
    for (const auto& w : words) {
        std::string q = "'";
        for (char c : w) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += q + "' ";
    }
    Output out;
    FILE* pipe = ::popen((command + "2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    std::string text;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    const int raw = ::pclose(pipe);
    out.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto end = text.find('\n', pos);
        auto line = lib::json::parse_strict(text.substr(pos, end - pos));
        EXPECT_TRUE(line.ok()) << text.substr(pos, end - pos);
        if (line) out.lines.push_back(*line);
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return out;
}

const std::string kCli = std::string(ZELK_BINARY_DIR) + "/bin/zelk-mail-cli";

class EngineCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (Dovecot::unavailable_reason()) return;
        auto server = Dovecot::start({.users = {{"carol", "pw-carol"}}});
        ASSERT_TRUE(server.ok()) << server.error();
        server_ = std::move(*server);
        auto seeded = server_->seed("carol", "INBOX", integration::numbered_messages(3, "carol"));
        ASSERT_TRUE(seeded.ok());
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        ZELK_SKIP_WITHOUT_DOVECOT();
        ASSERT_TRUE(server_);
        auto dir = integration::TempDir::create("zelk-cli-account");
        ASSERT_TRUE(dir.ok());
        dir_ = std::make_unique<integration::TempDir>(std::move(*dir));
    }

    std::string account_file(const std::string& host, int port, const std::string& password) {
        Json a = Json::object();
        a["display_name"] = "Carol";
        a["email"] = "carol@example.test";
        a["imap_host"] = host;
        a["imap_port"] = port;
        a["imap_tls"] = true;
        a["smtp_host"] = host;
        a["smtp_port"] = 465;
        a["smtp_tls"] = true;
        a["username"] = "carol";
        a["auth"] = "Password";
        a["password"] = password;
        const std::string path = dir_->path() + "/account-" + std::to_string(++files_) + ".json";
        EXPECT_TRUE(integration::write_file(path, lib::json::dump(a), 0600).ok());
        return path;
    }

    static std::unique_ptr<Dovecot> server_;
    std::unique_ptr<integration::TempDir> dir_;
    int files_ = 0;
};

std::unique_ptr<Dovecot> EngineCli::server_;

TEST_F(EngineCli, FetchPrintsEveryEventAsJson) {
    const auto out = run_cli({kCli, "fetch", "--account", account_file("localhost", server_->port(), "pw-carol"),
                              "--folder", "inbox"});
    EXPECT_EQ(out.status, 0);
    ASSERT_EQ(out.lines.size(), 2u);
    const Json& fetched = out.lines[0];
    EXPECT_EQ(fetched["event"], "Fetched");
    EXPECT_EQ(fetched["role"], "inbox");
    EXPECT_EQ(fetched["account"], "carol@example.test");
    ASSERT_EQ(fetched["messages"].size(), 3u);
    const Json& newest = fetched["messages"][0];
    EXPECT_EQ(newest["message_id"], "carol-3@example.test");
    EXPECT_EQ(newest["subject"], "Message 3");
    EXPECT_EQ(newest["from"]["address"], "sender@example.test");
    EXPECT_EQ(newest["read"], false);
    EXPECT_EQ(newest["starred"], false);
    EXPECT_EQ(newest["date"], (1'700'000'000 + 120) / 60);
    EXPECT_EQ(newest["folder"], "inbox");
    EXPECT_EQ(out.lines[1], Json::parse(R"({"event":"Completed","kind":"Fetch"})"));
}

TEST_F(EngineCli, ConnectFlagAndFailures) {
    const std::string good = account_file("localhost", server_->port(), "pw-carol");
    auto connect = run_cli({kCli, "connect", "--account", good});
    EXPECT_EQ(connect.status, 0);
    ASSERT_EQ(connect.lines.size(), 3u);
    EXPECT_EQ(connect.lines[0], Json::parse(R"({"event":"Connected","account":"carol@example.test"})"));
    EXPECT_EQ(connect.lines[1]["event"], "FoldersListed");
    EXPECT_EQ(connect.lines[2]["event"], "Completed");

    auto flag = run_cli({kCli, "flag", "--account", good, "--message-id", "carol-1@example.test", "--read", "true",
                         "--starred", "true"});
    EXPECT_EQ(flag.status, 0);
    ASSERT_EQ(flag.lines.size(), 1u);
    EXPECT_EQ(flag.lines[0], Json::parse(R"({"event":"Completed","kind":"Flag"})"));
    auto files = server_->message_files("carol", "INBOX");
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].substr(files[0].rfind(":2,") + 3), "FS");

    auto wrong = run_cli({kCli, "connect", "--account", account_file("localhost", server_->port(), "bad")});
    EXPECT_EQ(wrong.status, 1);
    ASSERT_EQ(wrong.lines.size(), 2u);
    EXPECT_EQ(wrong.lines[0], Json::parse(R"({"event":"Failed","kind":"Connect","label":"connect",)"
                                          R"("message":"authentication failed \u2014 check the username and password"})"));
    EXPECT_EQ(wrong.lines[1], Json::parse(R"({"event":"Completed","kind":"Connect"})"));
}

TEST_F(EngineCli, OfflineBackendExplains) {
    auto out = run_cli({kCli, "fetch", "--offline", "--folder", "starred", "--account",
                        account_file("localhost", server_->port(), "pw-carol")});
    EXPECT_EQ(out.status, 1);
    ASSERT_EQ(out.lines.size(), 2u);
    EXPECT_EQ(out.lines[0]["label"], "offline");
    EXPECT_EQ(out.lines[0]["message"], "Cannot refresh Starred for carol@example.test while IMAP is offline");
}

// Name resolution is tried in a network namespace of its own, where no
// query can leave the machine.
TEST_F(EngineCli, UnresolvableHost) {
    if (integration::find_program("unshare").empty()) GTEST_SKIP() << "unshare is not installed";
    if (!integration::run_program({"unshare", "--net", "true"}).ok()) GTEST_SKIP() << "no network namespaces here";
    auto out = run_cli({"unshare", "--net", kCli, "connect", "--account",
                        account_file("imap.nowhere.invalid", 993, "pw")});
    EXPECT_EQ(out.status, 1);
    ASSERT_EQ(out.lines.size(), 2u);
    EXPECT_EQ(out.lines[0]["message"], "host not found \xE2\x80\x94 check the server address");
}

}  // namespace
