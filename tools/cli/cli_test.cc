// Runs the built zelk-mail-cli on the fixtures in tools/testdata.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "lib/json/strict.h"

namespace {

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (const char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

CliRun run_cli(const std::vector<std::string>& args) {
    static int counter = 0;
    const std::string base = ::testing::TempDir() + "cli_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    std::string cmd = quote(std::string(ZELK_BINARY_DIR) + "/bin/zelk-mail-cli");
    for (const auto& a : args) cmd += " " + quote(a);
    cmd += " >" + quote(base + ".out") + " 2>" + quote(base + ".err") + " </dev/null";
    const int status = std::system(cmd.c_str());
    CliRun r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(base + ".out");
    r.err = slurp(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return r;
}

std::string fixture(const char* name) { return std::string(ZELK_SOURCE_DIR) + "/tools/testdata/" + name; }

std::vector<lib::json::Json> lines(const std::string& out) {
    std::vector<lib::json::Json> records;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        auto parsed = lib::json::parse_strict(line);
        EXPECT_TRUE(parsed.ok()) << parsed.error() << ": " << line;
        if (parsed.ok()) records.push_back(*parsed);
    }
    return records;
}

lib::json::Json parse_one(const char* name) {
    const CliRun r = run_cli({"parse", fixture(name)});
    EXPECT_EQ(r.code, 0) << r.err;
    const auto records = lines(r.out);
    EXPECT_EQ(records.size(), 1u) << r.out;
    return records.empty() ? lib::json::Json() : records.front();
}

TEST(Cli, RecordFieldsPerFixture) {
    const struct {
        const char* file;
        const char* pointer;  // JSON pointer into the record
        lib::json::Json value;
    } cases[] = {
        {"alternative.eml", "/body", "Noon at the usual place?"},
        {"alternative.eml", "/html_body", "<p>Noon at the <b>usual</b> place?</p>"},
        {"alternative.eml", "/parent", "lunch-1@example.com"},
        {"alternative.eml", "/message_id", "lunch-2@example.com"},
        {"html_only.eml", "/body",
         "This week\n\nThree things:\n\n\u2022 Release 2.0\n\u2022 Caf\u00e9 opening\n\nRead more (https://example.com/more)."},
        {"rfc2231_filename.eml", "/attachments/0/filename", "R\u00e9sum\u00e9.PDF"},
        {"rfc2231_filename.eml", "/attachments/0/mime", "application/pdf"},
        {"rfc2231_filename.eml", "/attachments/0/size", 9},
        {"rfc2231_filename.eml", "/attachments/0/downloaded", true},
        {"rfc2231_filename.eml", "/attachments/1/filename", "attachment.bin"},
        {"rfc2231_filename.eml", "/attachments/1/downloaded", false},
        {"latin1.eml", "/subject", "Gr\u00fc\u00dfe aus K\u00f6ln"},
        {"latin1.eml", "/from/name", "J\u00f6rg M\u00fcller"},
        {"latin1.eml", "/body", "Sch\u00f6ne Gr\u00fc\u00dfe, bis bald.\n"},
        {"windows1252.eml", "/body", "\u201cThanks\u201d \u2013 total \u20ac25.\n"},
        {"windows1252.eml", "/message_id", nullptr},
        {"groups.eml", "/from/address", "ann@example.com"},
        {"groups.eml", "/to/0/name", "Carl C"},
        {"groups.eml", "/to/2/address", "eve@example.com"},
        {"groups.eml", "/cc/0/name", "Fr\u00e9d"},
        {"subject_crlf.eml", "/from/address", "eve@example.com"},
        {"subject_crlf.eml", "/attachments/0/mime", "application/pdf"},
    };
    for (const auto& c : cases) {
        const lib::json::Json record = parse_one(c.file);
        const auto pointer = lib::json::Json::json_pointer(c.pointer);
        ASSERT_TRUE(record.contains(pointer)) << c.file << c.pointer;
        EXPECT_EQ(record.at(pointer), c.value) << c.file << c.pointer;
    }
}

TEST(Cli, NoLineBreaksInHeaderValues) {
    const lib::json::Json r = parse_one("subject_crlf.eml");
    for (const char* pointer : {"/subject", "/from/name", "/to/0/name", "/attachments/0/filename", "/message_id"}) {
        const std::string value = r.at(lib::json::Json::json_pointer(pointer)).get<std::string>();
        EXPECT_EQ(value.find_first_of("\r\n"), std::string::npos) << pointer << ": " << value;
        EXPECT_FALSE(value.empty()) << pointer;
    }
    EXPECT_EQ(r["subject"].get<std::string>().rfind("Urgent", 0), 0u);
}

TEST(Cli, KeyOrderOfRecords) {
    const lib::json::Json r = parse_one("alternative.eml");
    std::vector<std::string> keys;
    for (const auto& item : r.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"file", "id", "from", "to", "cc", "subject", "body", "html_body",
                                              "message_id", "parent", "attachments"}));
    EXPECT_EQ(r["file"], fixture("alternative.eml"));
    EXPECT_EQ(r["id"].get<std::string>().size(), 36u);
}

TEST(Cli, SameMessageSameId) {
    const CliRun r = run_cli({"parse", fixture("latin1.eml"), fixture("latin1.eml")});
    const auto records = lines(r.out);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["id"], records[1]["id"]);
}

TEST(Cli, NotAMessageIsAnErrorRecordButExitZero) {
    const CliRun r = run_cli({"parse", fixture("garbage.bin"), fixture("groups.eml")});
    EXPECT_EQ(r.code, 0);
    const auto records = lines(r.out);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].size(), 2u);
    EXPECT_EQ(records[0]["file"], fixture("garbage.bin"));
    EXPECT_EQ(records[0]["error"], "not a message: no header block");
    EXPECT_EQ(records[1]["subject"], "Groups");
}

TEST(Cli, UnreadableFileExitsOne) {
    const std::string missing = fixture("does-not-exist.eml");
    const CliRun r = run_cli({"parse", missing, fixture("groups.eml"), std::string(ZELK_SOURCE_DIR) + "/tools/testdata"});
    EXPECT_EQ(r.code, 1);
    const auto records = lines(r.out);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]["file"], missing);
    EXPECT_EQ(records[0]["error"], "cannot read file: No such file or directory");
    EXPECT_EQ(records[1]["subject"], "Groups");
    EXPECT_EQ(records[2]["error"], "cannot read file: Is a directory");
    EXPECT_NE(r.err.find("cannot read " + missing + ": No such file or directory"), std::string::npos) << r.err;
}

TEST(Cli, UsageErrorsExitTwo) {
    const struct {
        std::vector<std::string> args;
        const char* stderr_has;
    } cases[] = {
        {{}, "usage: zelk-mail-cli"},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"--verbose"}, "unknown option \"--verbose\""},
        {{"parse"}, "usage: zelk-mail-cli parse"},
        {{"parse", "--strict", fixture("groups.eml")}, "unknown option \"--strict\""},
    };
    for (const auto& c : cases) {
        const CliRun r = run_cli(c.args);
        EXPECT_EQ(r.code, 2) << c.stderr_has;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_NE(r.err.find(c.stderr_has), std::string::npos) << r.err;
    }
}

TEST(Cli, HelpListsCommands) {
    const CliRun r = run_cli({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("\n  parse "), std::string::npos) << r.out;
    const CliRun p = run_cli({"parse", "--help"});
    EXPECT_EQ(p.code, 0);
    EXPECT_EQ(p.out.rfind("usage: zelk-mail-cli parse", 0), 0u) << p.out;
}

TEST(Cli, DoubleDashEndsOptions) {
    const CliRun r = run_cli({"parse", "--", "--help"});
    EXPECT_EQ(r.code, 1);
    const auto records = lines(r.out);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["file"], "--help");
}

}  // namespace
