#include "tools/cli/message_json.h"

namespace tools::cli {
namespace {

lib::json::Json optional_text(const std::optional<std::string>& value) {
    return value ? lib::json::Json(*value) : lib::json::Json(nullptr);
}

}  // namespace

lib::json::Json address_json(const mail::state::MailAddress& address) {
    lib::json::Json out = lib::json::Json::object();
    out["name"] = address.name;
    out["address"] = address.address;
    return out;
}

void append_message_fields(lib::json::Json& record, const mail::state::MailMessage& m) {
    record["id"] = m.id.text();
    record["from"] = address_json(m.from);
    lib::json::Json to = lib::json::Json::array();
    for (const auto& a : m.to) to.push_back(address_json(a));
    record["to"] = std::move(to);
    lib::json::Json cc = lib::json::Json::array();
    for (const auto& a : m.cc) cc.push_back(address_json(a));
    record["cc"] = std::move(cc);
    record["subject"] = m.subject;
    record["body"] = m.body;
    record["html_body"] = optional_text(m.html_body);
    record["message_id"] = optional_text(m.message_id);
    record["parent"] = optional_text(m.parent);
    lib::json::Json attachments = lib::json::Json::array();
    for (const auto& a : m.attachments) {
        lib::json::Json entry = lib::json::Json::object();
        entry["filename"] = a.filename;
        entry["mime"] = a.mime;
        entry["size"] = a.size;
        entry["downloaded"] = a.downloaded;
        attachments.push_back(std::move(entry));
    }
    record["attachments"] = std::move(attachments);
}

lib::json::Json message_json(const mail::state::MailMessage& message) {
    lib::json::Json record = lib::json::Json::object();
    append_message_fields(record, message);
    return record;
}

}  // namespace tools::cli
