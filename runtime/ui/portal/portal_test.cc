// Pickers and link opening without a display: the test responder, the
// environment answers, and the desktop opener through a fake handler.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "runtime/ui/portal/open_link.h"
#include "runtime/ui/portal/pick.h"
#include "runtime/ui/util/wake.h"

namespace {

using namespace runtime::ui;
using portal::PickAnswer;
using portal::PickRequest;
using namespace std::chrono_literals;

PickAnswer wait_answer(portal::PickHandle& handle) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto a = handle.poll()) return *a;
        std::this_thread::sleep_for(2ms);
    }
    ADD_FAILURE() << "no answer";
    return PickAnswer::failed("no answer");
}

class Pickers : public ::testing::Test {
protected:
    void SetUp() override { clear_environment(); }
    void TearDown() override {
        portal::set_test_responder(nullptr);
        set_background_wake(nullptr);
        clear_environment();
    }
    static void clear_environment() {
        unsetenv("ZELK_MAIL_TEST_PICKER");
        unsetenv("ZELK_MAIL_TEST_PICKER_OPEN");
        unsetenv("ZELK_MAIL_TEST_PICKER_SAVE");
    }
};

TEST_F(Pickers, ResponderSeesTheRequestOnItsNamedThread) {
    std::promise<std::string> thread_name;
    std::optional<PickRequest> seen;
    portal::set_test_responder([&](const PickRequest& r) {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        thread_name.set_value(name);
        seen = r;
        return PickAnswer::chosen_file("/home/ann/Documents/report.pdf");
    });
    auto handle = PickRequest::save("Save attachment", "Save")
                      .suggested_name("report.pdf")
                      .filter(portal::FileFilter::all_files())
                      .thread_name("mail-portal-save-attachment")
                      .send();
    const PickAnswer answer = wait_answer(handle);
    ASSERT_EQ(answer.kind, PickAnswer::Kind::chosen);
    EXPECT_EQ(answer.path, "/home/ann/Documents/report.pdf");
    EXPECT_EQ(answer.name, "report.pdf");
    EXPECT_EQ(thread_name.get_future().get(), "mail-portal-sav");  // the first 15 bytes
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->mode(), portal::PickMode::save);
    EXPECT_EQ(seen->title(), "Save attachment");
    EXPECT_EQ(seen->accept_label(), "Save");
    EXPECT_EQ(seen->suggested(), "report.pdf");
    ASSERT_EQ(seen->filters().size(), 1u);
    EXPECT_EQ(seen->filters()[0].patterns, std::vector<std::string>{"*"});
}

TEST_F(Pickers, NothingUntilAnsweredThenTheSameAnswerAndAWake) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> wakes{0};
    set_background_wake([&] { wakes.fetch_add(1); });
    portal::set_test_responder([&](const PickRequest&) {
        released.wait();
        return PickAnswer::cancelled();
    });
    auto handle = PickRequest::open("Attach file", "Attach").send_open_file();
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(handle.poll().has_value());
    EXPECT_EQ(wakes.load(), 0);
    release.set_value();
    EXPECT_EQ(wait_answer(handle).kind, PickAnswer::Kind::cancelled);
    EXPECT_EQ(handle.poll()->kind, PickAnswer::Kind::cancelled);
    EXPECT_EQ(wakes.load(), 1);
}

TEST_F(Pickers, EnvironmentAnswers) {
    struct Case {
        const char* value;
        PickAnswer::Kind kind;
        std::string detail;  // path, or error text
    };
    const Case cases[] = {
        {"cancel", PickAnswer::Kind::cancelled, ""},
        {"end", PickAnswer::Kind::ended, ""},
        {"error:Portal request failed", PickAnswer::Kind::error, "Portal request failed"},
        {"/tmp/picked/a b.ics", PickAnswer::Kind::chosen, "/tmp/picked/a b.ics"},
    };
    for (const Case& c : cases) {
        setenv("ZELK_MAIL_TEST_PICKER", c.value, 1);
        auto handle = PickRequest::open("Attach file", "Attach").send_open_file();
        const PickAnswer a = wait_answer(handle);
        EXPECT_EQ(a.kind, c.kind) << c.value;
        if (c.kind == PickAnswer::Kind::chosen) {
            EXPECT_EQ(a.path.string(), c.detail);
            EXPECT_EQ(a.name, "a b.ics");
        }
        if (c.kind == PickAnswer::Kind::error) {
            EXPECT_EQ(a.error, c.detail);
        }
    }
    // The variable for one kind of dialog wins over the general one.
    setenv("ZELK_MAIL_TEST_PICKER", "cancel", 1);
    setenv("ZELK_MAIL_TEST_PICKER_SAVE", "/tmp/out.bin", 1);
    auto save = PickRequest::save("Save attachment", "Save").send();
    auto open = PickRequest::open("Attach file", "Attach").send_open_file();
    EXPECT_EQ(wait_answer(save).path, "/tmp/out.bin");
    EXPECT_EQ(wait_answer(open).kind, PickAnswer::Kind::cancelled);
}

TEST_F(Pickers, MisuseAndFailuresAreAnswersNotCrashes) {
    setenv("ZELK_MAIL_TEST_PICKER", "/tmp/x", 1);
    auto wrong = PickRequest::open("Attach file", "Attach").send();
    const PickAnswer a = wait_answer(wrong);
    EXPECT_EQ(a.kind, PickAnswer::Kind::error);
    EXPECT_EQ(a.error, "an open-file request was sent as a save request");

    portal::set_test_responder([](const PickRequest&) -> PickAnswer { throw std::runtime_error("boom"); });
    auto thrown = PickRequest::save("Save attachment", "Save").send();
    EXPECT_EQ(wait_answer(thrown).error, "picker test responder failed: boom");

    // Without any answering hook and without a display there is no dialog to show.
    portal::set_test_responder(nullptr);
    unsetenv("ZELK_MAIL_TEST_PICKER");
    auto nodisplay = PickRequest::save("Save attachment", "Save").send();
    EXPECT_EQ(wait_answer(nodisplay).error, "no display for the file chooser");
}

TEST_F(Pickers, DroppingTheHandleBeforeTheAnswerIsSafe) {
    std::promise<void> release;
    std::promise<void> answered;
    portal::set_test_responder([&](const PickRequest&) {
        release.get_future().wait();
        answered.set_value();
        return PickAnswer::chosen_file("/tmp/late");
    });
    {
        auto handle = PickRequest::open("Attach file", "Attach").send_open_file();
    }
    release.set_value();
    EXPECT_EQ(answered.get_future().wait_for(5s), std::future_status::ready);
    std::this_thread::sleep_for(20ms);  // the worker finishes delivering to no one
}

TEST(OpenLink, CheckedLinksReachTheOpenerOthersDoNot) {
    std::vector<std::string> opened;
    link::set_test_opener([&](const std::string& url) {
        opened.push_back(url);
        return lib::ok_status();
    });
    EXPECT_TRUE(link::try_os_open("https://accounts.example.com/auth?state=x").ok());
    EXPECT_EQ(link::try_os_open("file:///etc/passwd").error(), "only http, https and mailto links can be opened");
    EXPECT_EQ(link::try_os_open("https://a b").error(), "link contains spaces or control characters");
    link::set_test_opener(nullptr);
    EXPECT_EQ(opened, std::vector<std::string>{"https://accounts.example.com/auth?state=x"});
}

// The real desktop path: GIO launches the default handler for https, here a
// fake one installed for this process that writes the link to a file.
TEST(OpenLink, DesktopHandlerReceivesTheLink) {
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("zelk-open-link-" + std::to_string(getpid()));
    std::filesystem::create_directories(root / "data/applications");
    std::filesystem::create_directories(root / "config");
    const auto script = root / "capture.sh";
    const auto out = root / "opened.txt";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << out.string() << ".tmp' && mv '"
                          << out.string() << ".tmp' '" << out.string() << "'\n";
    chmod(script.c_str(), 0700);
    std::ofstream(root / "data/applications/zelk-capture.desktop")
        << "[Desktop Entry]\nType=Application\nName=Capture\nExec=" << script.string()
        << " %u\nMimeType=x-scheme-handler/https;\n";
    std::ofstream(root / "config/mimeapps.list")
        << "[Default Applications]\nx-scheme-handler/https=zelk-capture.desktop\n";
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("XDG_DATA_DIRS", (root / "data").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (root / "config").c_str(), 1);

    const std::string url = "https://accounts.example.com/o/oauth2/auth?client_id=a&state=b%20c";
    const lib::Status s = link::try_os_open(url);
    ASSERT_TRUE(s.ok()) << s.error();
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!std::filesystem::exists(out) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    std::stringstream got;
    got << std::ifstream(out).rdbuf();
    EXPECT_EQ(got.str(), url);
    std::filesystem::remove_all(root);
}

}  // namespace
