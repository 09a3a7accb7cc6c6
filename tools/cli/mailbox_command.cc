// zelk-mail-cli mailbox DIR apply ACTION_JSON | dump | seed FILE...
//
// Works on the mailbox document the client keeps in DIR (the same file name
// as under the client's data folder):
//   apply  decodes one "mail.action" payload exactly as the client does and
//          applies it as one change; prints {"ok":true} or
//          {"ok":false,"error":TEXT} and exits 0 either way;
//   dump   prints the whole document as one JSON object ({} when DIR holds
//          no document yet; nothing is created);
//   seed   parses each file as `parse` does and records the messages as
//          fetched into the Inbox, all in one change; prints
//          {"ok":true,"ids":[...]}.
// A document that cannot be opened (or a seed file that cannot be read or
// parsed) is reported as {"ok":false,...} with exit 1; unusable arguments
// exit 2.

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "actions/mail_action.h"
#include "doc/apply.h"
#include "doc/mailbox.h"
#include "doc/reflect.h"
#include "lib/json/strict.h"
#include "state/raw_message.h"
#include "tools/cli/files.h"
#include "tools/cli/registry.h"

namespace tools::cli {
namespace {

constexpr std::size_t kMaxMessageFileBytes = 64u << 20;

const Command& self() {
    static const Command& command = *find_command("mailbox");
    return command;
}

void print_result(Io io, const lib::Status& status) {
    lib::json::Json record = lib::json::Json::object();
    record["ok"] = status.ok();
    if (!status.ok()) record["error"] = status.error();
    io.out << lib::json::dump(record) << "\n";
}

lib::Result<mail::doc::Doc> open_document(const std::string& dir) {
    auto doc = mail::doc::open_mailbox(dir);
    if (!doc.ok()) return lib::err("cannot open the mailbox in " + dir + ": " + doc.error());
    return doc;
}

lib::Result<std::string> read_message_file(const std::string& path) {
    // A seed file named "-" is a file, not standard input.
    ReadResult read = read_file(path == "-" ? "./-" : path, kMaxMessageFileBytes);
    if (!read.ok) return lib::err("cannot read " + path + ": " + read.error);
    if (read.too_large) return lib::err(path + ": message too large");
    return std::move(read.bytes);
}

int run_apply(const std::string& dir, const std::string& payload, Io io) {
    // Decoded before the document is touched: a payload that does not decode
    // changes nothing, not even by creating the file.
    auto action = mail::actions::decode_mail_action(payload);
    if (!action.ok()) {
        print_result(io, lib::err(action.error()));
        return kExitOk;
    }
    auto doc = open_document(dir);
    if (!doc.ok()) {
        io.err << kProgram << " mailbox: " << doc.error() << "\n";
        print_result(io, lib::err(doc.error()));
        return kExitFailed;
    }
    print_result(io, mail::doc::apply_action(*doc, *action));
    return kExitOk;
}

int run_dump(const std::string& dir, Io io) {
    std::error_code ec;
    if (!std::filesystem::exists(mail::doc::mailbox_file(dir), ec)) {
        io.out << "{}\n";
        return kExitOk;
    }
    auto doc = open_document(dir);
    if (!doc.ok()) {
        io.err << kProgram << " mailbox: " << doc.error() << "\n";
        return kExitFailed;
    }
    io.out << mail::doc::dump_json(*doc) << "\n";
    return kExitOk;
}

int run_seed(const std::string& dir, const std::vector<std::string>& files, Io io) {
    std::vector<mail::state::MailMessage> messages;
    for (const std::string& file : files) {
        auto bytes = read_message_file(file);
        lib::Status failure = lib::ok_status();
        if (!bytes.ok()) {
            failure = lib::err(bytes.error());
        } else if (auto parsed = mail::state::parse_raw_message(*bytes); !parsed.ok()) {
            failure = lib::err(file + ": " + parsed.error());
        } else {
            messages.push_back(std::move(parsed->message));
        }
        if (!failure.ok()) {
            io.err << kProgram << " mailbox: " << failure.error() << "\n";
            print_result(io, failure);
            return kExitFailed;
        }
    }
    auto doc = open_document(dir);
    if (!doc.ok()) {
        io.err << kProgram << " mailbox: " << doc.error() << "\n";
        print_result(io, lib::err(doc.error()));
        return kExitFailed;
    }
    const lib::Status stored = mail::doc::upsert_fetched(*doc, messages);
    if (!stored.ok()) {
        print_result(io, stored);
        return kExitFailed;
    }
    lib::json::Json record = lib::json::Json::object();
    record["ok"] = true;
    record["ids"] = lib::json::Json::array();
    for (const auto& message : messages) record["ids"].push_back(message.id.text());
    io.out << lib::json::dump(record) << "\n";
    return kExitOk;
}

int run_mailbox(const Args& args, Io io) {
    std::size_t at = 0;
    if (at < args.size() && args[at] == "--") ++at;
    if (at >= args.size()) return usage_error(self(), "no mailbox folder given", io);
    const std::string dir = args[at++];
    if (dir.empty()) return usage_error(self(), "empty mailbox folder", io);
    if (at >= args.size()) return usage_error(self(), "no subcommand given", io);
    const std::string sub = args[at++];
    const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(at), args.end());

    if (sub == "apply") {
        if (rest.size() != 1) return usage_error(self(), "apply takes exactly one action payload", io);
        return run_apply(dir, rest.front(), io);
    }
    if (sub == "dump") {
        if (!rest.empty()) return usage_error(self(), "dump takes no arguments", io);
        return run_dump(dir, io);
    }
    if (sub == "seed") {
        if (rest.empty()) return usage_error(self(), "seed needs at least one message file", io);
        return run_seed(dir, rest, io);
    }
    return usage_error(self(), "unknown subcommand \"" + sub + "\"", io);
}

}  // namespace
}  // namespace tools::cli

ZELK_CLI_COMMAND(mailbox, "mailbox", "[--] DIR (apply ACTION_JSON | dump | seed FILE...)",
                 "apply a mail action to, print, or seed the mailbox document kept in DIR",
                 tools::cli::run_mailbox)
