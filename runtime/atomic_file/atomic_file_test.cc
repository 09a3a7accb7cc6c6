#include "runtime/atomic_file/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using runtime::atomic_file::is_temporary_name;
using runtime::atomic_file::write;

class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "atomic-file-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

unsigned mode_of(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

// Every entry of the folder except the named ones.
std::vector<std::string> others_in(const fs::path& dir, std::initializer_list<std::string> expected) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        std::string name = e.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end()) out.push_back(name);
    }
    return out;
}

TEST(AtomicFile, CreatesThenReplacesAndLeavesNothingElse) {
    TempDir t;
    fs::path target = t.path() / "deep" / "er" / "file.json";
    ASSERT_TRUE(write(target, "first").ok());
    EXPECT_EQ(read_file(target), "first");
    EXPECT_EQ(mode_of(t.path() / "deep"), 0700u);
    EXPECT_EQ(mode_of(t.path() / "deep" / "er"), 0700u);

    ASSERT_TRUE(write(target, std::string("sec\0ond", 7)).ok());
    EXPECT_EQ(read_file(target), std::string("sec\0ond", 7));
    ASSERT_TRUE(write(target, "").ok());
    EXPECT_EQ(read_file(target), "");
    EXPECT_TRUE(others_in(target.parent_path(), {"file.json"}).empty());
}

TEST(AtomicFile, AppliesModeExactlyWhateverTheUmask) {
    TempDir t;
    struct Case {
        unsigned mode;
        mode_t umask;
    } cases[] = {{0600, 022}, {0644, 022}, {0644, 077}, {0640, 0}, {0600, 0}};
    int i = 0;
    for (const auto& c : cases) {
        mode_t old = ::umask(c.umask);
        fs::path p = t.path() / ("f" + std::to_string(i++));
        auto s = write(p, "x", c.mode);
        ::umask(old);
        ASSERT_TRUE(s.ok()) << s.error();
        EXPECT_EQ(mode_of(p), c.mode) << std::oct << c.mode << " umask " << c.umask;
        // Replacing an existing file takes the new mode too.
        ASSERT_TRUE(write(p, "y", 0600).ok());
        EXPECT_EQ(mode_of(p), 0600u);
    }
}

TEST(AtomicFile, FailuresLeaveTheOldContentAndNoTemporaryFile) {
    TempDir t;
    fs::create_directories(t.path() / "a-directory" / "child");
    std::ofstream(t.path() / "plain-file") << "not a folder";
    fs::path keeper = t.path() / "keeper";
    ASSERT_TRUE(write(keeper, "old").ok());

    struct Case {
        fs::path target;
    } cases[] = {
        {t.path() / "a-directory"},                  // target is a folder
        {t.path() / "plain-file" / "below"},         // parent is a file
        {t.path() / std::string(250, 'n')},          // the temporary name is too long
        {t.path() / "a-directory" / ""},             // no file name at all
    };
    for (const auto& c : cases) {
        auto s = write(c.target, "new");
        EXPECT_FALSE(s.ok()) << c.target;
        EXPECT_FALSE(s.error().empty());
    }
    EXPECT_TRUE(fs::is_directory(t.path() / "a-directory" / "child"));
    EXPECT_EQ(read_file(t.path() / "plain-file"), "not a folder");
    EXPECT_EQ(read_file(keeper), "old");
    EXPECT_TRUE(others_in(t.path(), {"a-directory", "plain-file", "keeper"}).empty());
}

// A write that runs out of room half-way (here: a file size limit, which also
// holds for root) must not touch the target.
TEST(AtomicFile, WriteFailingMidwayKeepsTarget) {
    TempDir t;
    fs::path target = t.path() / "big";
    ASSERT_TRUE(write(target, "old content").ok());
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {
            64 * 1024, 64 * 1024
        };
        ::setrlimit(RLIMIT_FSIZE, &lim);
        auto s = write(target, std::string(1 << 20, 'z'));
        ::_exit(!s.ok() && s.error().find("File too large") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write should have failed with the size limit";
    EXPECT_EQ(read_file(target), "old content");
    EXPECT_TRUE(others_in(t.path(), {"big"}).empty());
}

// A writer killed at random moments leaves either the old or a complete new
// content under the name; anything else is a hidden temporary that cannot be
// mistaken for the file, and never more readable than the file itself.
TEST(AtomicFile, KilledWriterLeavesWholeContent) {
    TempDir t;
    fs::path target = t.path() / "vault.json";
    const std::string old_content = "old";
    const std::string a(3 << 20, 'a'), b(2 << 20, 'b');
    ASSERT_TRUE(write(target, old_content, 0600).ok());
    int killed_with_leftover = 0;
    for (int round = 0; round < 12; ++round) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::umask(0);
            for (int i = 0;; ++i) (void)write(target, i % 2 ? a : b, 0600);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500 + round * 1700));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);

        std::string now = read_file(target);
        EXPECT_TRUE(now == old_content || now == a || now == b) << "size " << now.size();
        EXPECT_EQ(mode_of(target), 0600u);
        for (const auto& name : others_in(t.path(), {"vault.json"})) {
            EXPECT_TRUE(is_temporary_name(name)) << name;
            EXPECT_EQ(mode_of(t.path() / name), 0600u) << name;
            fs::remove(t.path() / name);
            ++killed_with_leftover;
        }
    }
    // Not asserted (timing decides), but printed so a run shows what was hit.
    std::printf("rounds that left a temporary file: %d of 12\n", killed_with_leftover);
}

TEST(AtomicFile, TemporaryNamesAreRecognised) {
    EXPECT_TRUE(is_temporary_name(".accounts.json.tmp-0123456789abcdef"));
    const char* not_temporary[] = {"accounts.json", ".accounts.json", "x.tmp-0123456789abcdef",
                                   ".x.tmp-0123456789abcde", ".x.tmp-0123456789abcdeF", ".tmp-0123456789abcdef"};
    for (const char* n : not_temporary) EXPECT_FALSE(is_temporary_name(n)) << n;
}

}  // namespace
