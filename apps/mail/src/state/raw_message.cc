#include "state/raw_message.h"

#include "compose/attachment_names.h"
#include "lib/mime/parse.h"

namespace mail::state {
namespace {

MailAddress to_address(const lib::mime::Address& a) { return MailAddress{a.name, a.address}; }

bool is_blank(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

}  // namespace

std::int64_t seconds_to_minutes(std::int64_t seconds) { return seconds / 60; }

std::int64_t message_date_minutes(std::optional<std::int64_t> internal_date_seconds,
                                  std::optional<std::int64_t> date_header_seconds,
                                  std::int64_t fallback_minutes) {
    if (internal_date_seconds) return seconds_to_minutes(*internal_date_seconds);
    if (date_header_seconds) return seconds_to_minutes(*date_header_seconds);
    return fallback_minutes;
}

lib::Result<ParsedRawMessage> parse_raw_message(std::string_view raw) {
    auto parsed = lib::mime::parse(raw);
    if (!parsed) return parsed.take_error();
    lib::mime::ParsedMessage& p = *parsed;

    ParsedRawMessage out;
    MailMessage& m = out.message;
    if (!p.from.empty()) m.from = to_address(p.from.front());
    if (m.from.address.empty()) m.from.address = std::string(kUnknownSenderAddress);
    for (const auto& a : p.to) m.to.push_back(to_address(a));
    for (const auto& a : p.cc) m.cc.push_back(to_address(a));
    m.subject = p.subject && !is_blank(*p.subject) ? *p.subject : std::string(kNoSubject);
    m.body = lib::mime::readable_body(p);
    for (auto& a : p.attachments) {
        MessageAttachment att;
        att.filename = a.filename ? compose::sanitize_attachment_filename(*a.filename)
                                  : std::string(kUnnamedAttachment);
        att.mime = compose::media_type_for_filename(att.filename);
        att.size = a.content.size();
        att.downloaded = att.size != 0;
        att.content = std::move(a.content);
        m.attachments.push_back(std::move(att));
    }
    m.message_id = p.message_id;
    if (!p.references.empty()) {
        m.parent = p.references.front();
    } else if (!p.in_reply_to.empty()) {
        m.parent = p.in_reply_to.back();
    }
    m.html_body = std::move(p.html_body);
    m.id = MessageId::from_message_id(m.message_id.value_or(std::string()));
    out.date_header_seconds = p.date;
    if (p.date) m.date = seconds_to_minutes(*p.date);
    return out;
}

lib::Result<MailMessage> message_from_fetch(std::string_view raw, const FetchedFacts& facts) {
    auto parsed = parse_raw_message(raw);
    if (!parsed) return parsed.take_error();
    MailMessage m = std::move(parsed->message);
    m.folder = facts.folder;
    m.read = facts.read;
    m.starred = facts.starred;
    m.date = message_date_minutes(facts.internal_date_seconds, parsed->date_header_seconds,
                                  facts.fallback_minutes);
    return m;
}

}  // namespace mail::state
