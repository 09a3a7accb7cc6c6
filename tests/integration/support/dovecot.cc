#include "tests/integration/support/dovecot.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/integration/support/pki.h"
#include "tests/integration/support/process.h"

namespace integration {

namespace fs = std::filesystem;

namespace {

const char* const kMailboxes[] = {"Sent", "Drafts", "Archive", "Trash", "Junk"};

lib::Status chown_tree(const std::string& path, uid_t uid, gid_t gid) {
    std::error_code ec;
    if (::lchown(path.c_str(), uid, gid) != 0) return lib::err("chown " + path + ": " + std::strerror(errno));
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (::lchown(it->path().c_str(), uid, gid) != 0)
            return lib::err("chown " + it->path().string() + ": " + std::strerror(errno));
    }
    if (ec) return lib::err("walking " + path + ": " + ec.message());
    return lib::ok_status();
}

lib::Result<std::pair<uid_t, gid_t>> mail_owner() {
    struct passwd* pw = ::getpwnam("nobody");
    struct group* gr = ::getgrnam("nogroup");
    if (!pw || !gr) return lib::err("user nobody or group nogroup is missing");
    return std::make_pair(pw->pw_uid, gr->gr_gid);
}

std::string config_text(const std::string& dir, std::uint16_t port, const Pki& pki, bool oauth2) {
    std::string c;
    c += "base_dir = " + dir + "/run\n";
    c += "state_dir = " + dir + "/state\n";
    c += "log_path = " + dir + "/dovecot.log\n";
    c += "instance_name = zelk-test-" + std::to_string(port) + "\n";
    c += "protocols = imap\n";
    c += "listen = 127.0.0.1\n";
    c += "ssl = required\n";
    c += "ssl_cert = <" + pki.server_cert + "\n";
    c += "ssl_key = <" + pki.server_key + "\n";
    c += std::string("auth_mechanisms = plain login") + (oauth2 ? " xoauth2 oauthbearer" : "") + "\n";
    c += "auth_verbose = yes\n";
    c += "auth_failure_delay = 0\n";
    c += "mail_location = maildir:~/Maildir\n";
    c += "mail_fsync = never\n";
    c += "namespace inbox {\n  inbox = yes\n  separator = /\n";
    for (const char* m : kMailboxes) {
        c += std::string("  mailbox ") + m + " {\n    special_use = \\" + m + "\n    auto = subscribe\n  }\n";
    }
    c += "}\n";
    if (oauth2) {
        c += "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " + dir + "/oauth2.conf\n}\n";
    }
    c += "passdb {\n  driver = passwd-file\n";
    if (oauth2) c += "  mechanisms = plain login\n";
    // One file per user: Dovecot looks at a passwd file for changes at most
    // once a second, so users added while it runs go into new files.
    c += "  args = scheme=PLAIN username_format=%u " + dir + "/users/%u\n}\n";
    c += "userdb {\n  driver = static\n  args = uid=nobody gid=nogroup allow_all_users=yes home=" + dir +
         "/mail/%u\n}\n";
    c += "service imap-login {\n  inet_listener imap {\n    port = 0\n  }\n  inet_listener imaps {\n    port = " +
         std::to_string(port) + "\n    ssl = yes\n  }\n}\n";
    // Without this, every failed login after the first waits 4.5 s.
    c += "service anvil {\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n";
    c += "protocol imap {\n  mail_max_userip_connections = 100\n}\n";
    return c;
}

std::string sorted_flags(std::string flags) {
    std::sort(flags.begin(), flags.end());
    flags.erase(std::unique(flags.begin(), flags.end()), flags.end());
    return flags;
}

}  // namespace

std::optional<std::string> Dovecot::unavailable_reason() {
    if (find_program("dovecot").empty()) return "dovecot is not installed (package dovecot-imapd)";
    if (find_program("openssl").empty()) return "the openssl command is not installed (package openssl)";
    return std::nullopt;
}

lib::Result<std::unique_ptr<Dovecot>> Dovecot::start(DovecotOptions options) {
    if (auto why = unavailable_reason()) return lib::err(*why);
    if (::geteuid() != 0) return lib::err("the Dovecot test server needs root (mail is handed to nobody:nogroup)");
    std::unique_ptr<Dovecot> d(new Dovecot());
    lib::Status launched = lib::err("not started");
    for (int attempt = 0; attempt < 3; ++attempt) {
        launched = d->launch(options);
        if (launched || launched.error().find("Address already in use") == std::string::npos) break;
    }
    if (!launched) return launched.take_error();
    return d;
}

lib::Status Dovecot::launch(const DovecotOptions& options) {
    auto pki = shared_pki();
    if (!pki) return pki.take_error();
    ca_file_ = pki->ca_cert;
    if (!dir_.empty()) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    auto tmp = TempDir::create("zelk-dovecot");
    if (!tmp) return tmp.take_error();
    // The directory now belongs to this object (removed in the destructor).
    dir_ = tmp->release();
    auto owner = mail_owner();
    if (!owner) return owner.take_error();
    for (const char* sub : {"/run", "/state", "/mail"}) fs::create_directories(dir_ + sub);
    if (::chown((dir_ + "/mail").c_str(), owner->first, owner->second) != 0)
        return lib::err("chown mail directory: " + std::string(std::strerror(errno)));

    fs::create_directories(dir_ + "/users");
    for (const auto& [name, password] : options.users) {
        if (auto w = add_user(name, password); !w) return w;
    }
    bool oauth2 = !options.oauth2_introspection_url.empty();
    if (oauth2) {
        std::string conf = "introspection_mode = post\nintrospection_url = " + options.oauth2_introspection_url +
                           "\nusername_attribute = username\nactive_attribute = active\nactive_value = true\n"
                           "force_introspection = yes\n";
        if (auto w = write_file(dir_ + "/oauth2.conf", conf, 0644); !w) return w;
    }
    port_ = free_loopback_port();
    std::string conf_path = dir_ + "/dovecot.conf";
    if (auto w = write_file(conf_path, config_text(dir_, port_, *pki, oauth2), 0644); !w) return w;

    std::string program = find_program("dovecot");
    std::string out_path = dir_ + "/stdout.log";
    pid_t pid = ::fork();
    if (pid < 0) return lib::err("fork: " + std::string(std::strerror(errno)));
    if (pid == 0) {
        ::setpgid(0, 0);
        // If the test process dies without stopping it (a crash, an abort),
        // the server stops too instead of living on with its port.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1) ::_exit(1);
        int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        int in = ::open("/dev/null", O_RDONLY);
        if (in >= 0) ::dup2(in, 0);
        ::execl(program.c_str(), program.c_str(), "-F", "-c", conf_path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pid_ = pid;
    if (options.trust_ca) ::setenv("SSL_CERT_FILE", ca_file_.c_str(), 1);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return lib::err("dovecot exited at start (status " + std::to_string(status) + "): " + log());
        }
        if (port_accepts(port_)) return lib::ok_status();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    (void)stop();
    return lib::err("dovecot did not open port " + std::to_string(port_) + " within 15 s: " + log());
}

bool Dovecot::running() const { return pid_ > 0; }

lib::Status Dovecot::stop() {
    if (pid_ <= 0) return lib::ok_status();
    ::kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    int status = 0;
    while (true) {
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            return lib::err("dovecot did not stop within 15 s and was killed");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    return lib::ok_status();
}

Dovecot::~Dovecot() {
    (void)stop();
    if (!dir_.empty()) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

lib::Status Dovecot::add_user(const std::string& name, const std::string& password) {
    if (name.empty() || name.find_first_of("/:\n") != std::string::npos || name[0] == '.')
        return lib::err("test user names must be plain file names");
    if (password.find_first_of(":\n") != std::string::npos)
        return lib::err("test passwords cannot hold \":\" or a line break");
    // Written aside and renamed so that Dovecot never reads half a file.
    std::string path = dir_ + "/users/" + name;
    if (auto w = write_file(path + ".new", name + ":{PLAIN}" + password + "\n", 0644); !w) return w;
    if (::rename((path + ".new").c_str(), path.c_str()) != 0)
        return lib::err("rename " + path + ": " + std::strerror(errno));
    return lib::ok_status();
}

std::string Dovecot::maildir(const std::string& user, const std::string& mailbox) const {
    std::string root = dir_ + "/mail/" + user + "/Maildir";
    if (mailbox == "INBOX" || mailbox.empty()) return root;
    std::string name = mailbox;
    std::replace(name.begin(), name.end(), '/', '.');
    return root + "/." + name;
}

lib::Status Dovecot::seed(const std::string& user, const std::string& mailbox,
                          const std::vector<SeedMessage>& messages) {
    auto owner = mail_owner();
    if (!owner) return owner.take_error();
    std::string box = maildir(user, mailbox);
    std::error_code ec;
    for (const char* sub : {"/cur", "/new", "/tmp"}) fs::create_directories(box + sub, ec);
    if (ec) return lib::err("creating " + box + ": " + ec.message());
    for (const auto& m : messages) {
        // Fixed-width counters keep file-name order equal to seeding order,
        // which is the order Dovecot gives UIDs in.
        char name[64];
        std::snprintf(name, sizeof name, "1700000000.M%010llu.zelk:2,",
                      static_cast<unsigned long long>(++next_file_));
        std::string path = box + "/cur/" + name + sorted_flags(m.flags);
        if (auto w = write_file(path, m.content, 0600); !w) return w;
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(m.internal_date);
        times[0].tv_nsec = times[1].tv_nsec = 0;
        if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
            return lib::err("setting the date of " + path + ": " + std::strerror(errno));
    }
    return chown_tree(dir_ + "/mail/" + user, owner->first, owner->second);
}

std::vector<std::string> Dovecot::message_files(const std::string& user, const std::string& mailbox) const {
    std::vector<std::string> out;
    std::string box = maildir(user, mailbox);
    std::error_code ec;
    for (const char* sub : {"/cur", "/new"}) {
        for (auto it = fs::directory_iterator(box + sub, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            out.push_back(it->path().string());
        }
        ec.clear();
    }
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
        return fs::path(a).filename() < fs::path(b).filename();
    });
    return out;
}

std::string Dovecot::log() const {
    std::string out;
    if (auto l = read_file(dir_ + "/dovecot.log")) out += *l;
    if (auto l = read_file(dir_ + "/stdout.log")) out += *l;
    return out;
}

std::string make_message(const std::string& subject, const std::string& message_id, const std::string& body,
                         const std::string& from, const std::string& to, const std::string& date) {
    std::string m;
    m += "From: " + from + "\r\n";
    m += "To: " + to + "\r\n";
    m += "Subject: " + subject + "\r\n";
    m += "Date: " + date + "\r\n";
    if (!message_id.empty()) m += "Message-ID: <" + message_id + ">\r\n";
    m += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
    m += body + "\r\n";
    return m;
}

std::vector<SeedMessage> numbered_messages(int count, const std::string& id_prefix, std::int64_t first_date) {
    std::vector<SeedMessage> out;
    out.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 1; i <= count; ++i) {
        std::string n = std::to_string(i);
        SeedMessage m;
        m.content = make_message("Message " + n, id_prefix + "-" + n + "@example.test", "Body of message " + n);
        m.internal_date = first_date + 60 * (i - 1);
        out.push_back(std::move(m));
    }
    return out;
}

}  // namespace integration
