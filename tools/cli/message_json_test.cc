#include "tools/cli/message_json.h"

#include <gtest/gtest.h>

namespace tools::cli {
namespace {

using mail::state::MailMessage;
using mail::state::MessageAttachment;

TEST(MessageJson, KeyOrderAndValues) {
    MailMessage m;
    m.id = mail::state::MessageId::from_message_id("<abc>");
    m.from = {"Ann \"A\"", "ann@example.com"};
    m.to = {{"", "bob@example.com"}, {"Carl", "carl@example.com"}};
    m.subject = "Hi\u00e9";
    m.body = "line 1\nline 2";
    m.html_body = "<p>x</p>";
    m.message_id = "abc";
    m.parent = "root@x";
    MessageAttachment a;
    a.filename = "r.pdf";
    a.mime = "application/pdf";
    a.content = {1, 2, 3};
    a.size = 3;
    a.downloaded = true;
    m.attachments.push_back(a);
    m.labels = {"not printed"};
    m.read = true;
    EXPECT_EQ(lib::json::dump(message_json(m)),
              "{\"id\":\"e71fa219-0541-574b-849d-e539a904eff8\","
              "\"from\":{\"name\":\"Ann \\\"A\\\"\",\"address\":\"ann@example.com\"},"
              "\"to\":[{\"name\":\"\",\"address\":\"bob@example.com\"},{\"name\":\"Carl\",\"address\":\"carl@example.com\"}],"
              "\"cc\":[],\"subject\":\"Hi\u00e9\",\"body\":\"line 1\\nline 2\",\"html_body\":\"<p>x</p>\","
              "\"message_id\":\"abc\",\"parent\":\"root@x\","
              "\"attachments\":[{\"filename\":\"r.pdf\",\"mime\":\"application/pdf\",\"size\":3,\"downloaded\":true}]}");
}

TEST(MessageJson, AbsentValuesAreNullAndPrefixKeysStayFirst) {
    MailMessage m;
    lib::json::Json record = lib::json::Json::object();
    record["file"] = "x.eml";
    append_message_fields(record, m);
    std::vector<std::string> keys;
    for (const auto& item : record.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"file", "id", "from", "to", "cc", "subject", "body", "html_body",
                                              "message_id", "parent", "attachments"}));
    EXPECT_TRUE(record["html_body"].is_null());
    EXPECT_TRUE(record["message_id"].is_null());
    EXPECT_TRUE(record["parent"].is_null());
    EXPECT_TRUE(record["attachments"].is_array());
}

TEST(MessageJson, InvalidUtf8DoesNotThrow) {
    MailMessage m;
    m.body = "bad \xff byte";
    std::string out;
    EXPECT_NO_THROW(out = lib::json::dump(message_json(m)));
    EXPECT_NE(out.find("\"body\":\"bad "), std::string::npos);
}

}  // namespace
}  // namespace tools::cli
