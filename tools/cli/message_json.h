// A MailMessage as a JSON record, the form printed by `zelk-mail-cli parse`
// and reused by every command that prints messages.
#pragma once

#include "lib/json/strict.h"
#include "state/mail.h"

namespace tools::cli {

// {"name": ..., "address": ...}
lib::json::Json address_json(const mail::state::MailAddress& address);

// Appends, in this order: "id", "from", "to", "cc", "subject", "body",
// "html_body", "message_id", "parent", "attachments" (each {"filename",
// "mime", "size", "downloaded"}). Absent optional values are null.
void append_message_fields(lib::json::Json& record, const mail::state::MailMessage& message);

// append_message_fields on a new object.
lib::json::Json message_json(const mail::state::MailMessage& message);

}  // namespace tools::cli
