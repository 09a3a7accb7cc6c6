// zelk-mail-cli parse FILE...: one JSON line per file, the message as a
// record or {"file","error"} when the file holds no message.
#include "lib/json/strict.h"
#include "state/raw_message.h"
#include "tools/cli/files.h"
#include "tools/cli/message_json.h"
#include "tools/cli/registry.h"

namespace tools::cli {
namespace {

// Larger files are reported as too large without being read whole.
constexpr std::size_t kMaxFileBytes = 64u << 20;

lib::json::Json error_record(const std::string& file, const std::string& error) {
    lib::json::Json record = lib::json::Json::object();
    record["file"] = file;
    record["error"] = error;
    return record;
}

int run_parse(const Args& args, Io io) {
    static const Command& self = *find_command("parse");
    std::vector<std::string> files;
    bool options_done = false;
    for (const std::string& a : args) {
        if (!options_done && a == "--") {
            options_done = true;
        } else if (!options_done && a.size() > 1 && a.front() == '-') {
            return usage_error(self, "unknown option \"" + a + "\"", io);
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) return usage_error(self, "no files given", io);

    int status = kExitOk;
    for (const std::string& file : files) {
        const ReadResult read = read_file(file, kMaxFileBytes);
        lib::json::Json record;
        if (!read.ok) {
            io.err << kProgram << " parse: cannot read " << file << ": " << read.error << "\n";
            record = error_record(file, "cannot read file: " + read.error);
            status = kExitFailed;
        } else if (read.too_large) {
            record = error_record(file, "message too large");
        } else if (auto parsed = mail::state::parse_raw_message(read.bytes); !parsed) {
            record = error_record(file, parsed.error());
        } else {
            record = lib::json::Json::object();
            record["file"] = file;
            append_message_fields(record, parsed->message);
        }
        io.out << lib::json::dump(record) << "\n";
    }
    io.out.flush();
    return status;
}

}  // namespace
}  // namespace tools::cli

ZELK_CLI_COMMAND(parse, "parse", "[--] FILE...",
                 "print each message file as one JSON line (\"-\" reads standard input)",
                 tools::cli::run_parse)
