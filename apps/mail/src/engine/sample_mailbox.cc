#include "engine/sample_mailbox.h"

#include <string>
#include <utility>

#include "lib/base/log.h"
#include "state/raw_message.h"

namespace mail::engine {

namespace {

using state::FolderRole;
using state::MailAddress;
using state::MailMessage;
using state::MessageAttachment;

const MailAddress kYou{"Alex Rivera", "alex@example.com"};
const MailAddress kMaya{"Maya Chen", "maya.chen@example.net"};
const MailAddress kJonas{"Jonas Berg", "jonas.berg@example.net"};
const MailAddress kPriya{"Priya Natarajan", "priya@example.org"};

const char* const kPlanningId = "<rollout-plan.1@mail.example.net>";
const char* const kPlanningSubject = "Planning the spatial index rollout";

MessageAttachment attachment(std::string name, std::string mime, std::uint64_t size) {
    MessageAttachment a;
    a.filename = std::move(name);
    a.mime = std::move(mime);
    a.size = size;
    return a;
}

struct Sample {
    MailAddress from;
    std::vector<MailAddress> to;
    std::string subject;
    std::string body;
    std::vector<MessageAttachment> attachments = {};
    std::optional<std::string> message_id = std::nullopt;
    std::optional<std::string> parent = std::nullopt;
    FolderRole folder = FolderRole::Inbox;
    bool read = false;
    bool starred = false;
    std::int64_t age = 0;
};

MailMessage build(Sample s) {
    MailMessage m;
    m.from = std::move(s.from);
    m.to = std::move(s.to);
    m.subject = std::move(s.subject);
    m.body = std::move(s.body);
    m.attachments = std::move(s.attachments);
    m.message_id = std::move(s.message_id);
    m.parent = std::move(s.parent);
    m.id = state::MessageId::random();
    m.date = kSampleReferenceMinute - s.age;
    m.read = s.read;
    m.starred = s.starred;
    m.folder = s.folder;
    return m;
}

struct RawSample {
    const char* text;
    bool read;
    bool starred;
    std::int64_t age;
};

const char* const kRawRelease =
    "From: Ada Lindqvist <ada@example.net>\r\n"
    "To: Alex Rivera <alex@example.com>\r\n"
    "Subject: Release notes draft for 3.2\r\n"
    "Message-ID: <notes-3.2@example.net>\r\n"
    "Date: Tue, 30 Jun 2026 13:35:00 +0000\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "\r\n"
    "Hi Alex,\r\n"
    "\r\n"
    "I put the release notes for 3.2 in the shared folder. Could you check the\r\n"
    "section on the new import options before Thursday? I was not sure how much\r\n"
    "of the migration detail belongs there.\r\n"
    "\r\n"
    "Ada\r\n";

const char* const kRawLunch =
    "From: Tomás Ortega <tomas@example.org>\r\n"
    "To: Alex Rivera <alex@example.com>\r\n"
    "Subject: Lunch order for Friday\r\n"
    "Message-ID: <lunch-friday@example.org>\r\n"
    "Date: Tue, 30 Jun 2026 07:05:00 +0000\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "\r\n"
    "Morning! I'm collecting the team lunch order for Friday. Reply with your\r\n"
    "choice by Wednesday noon: the noodle place or the bakery around the corner.\r\n"
    "\r\n"
    "Tomás\r\n";

const char* const kRawNewsletter =
    "From: Spatial Weekly <letters@weekly.example.com>\r\n"
    "To: Alex Rivera <alex@example.com>\r\n"
    "Subject: This week in spatial computing: maps, meshes and more\r\n"
    "Message-ID: <issue-142@weekly.example.com>\r\n"
    "Date: Tue, 30 Jun 2026 13:13:00 +0000\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/alternative; boundary=\"sw-142\"\r\n"
    "\r\n"
    "--sw-142\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "\r\n"
    "Spatial Weekly, issue 142\r\n"
    "\r\n"
    "Maps: vector tiles without a tile server.\r\n"
    "Meshes: simplifying scanned rooms for the web.\r\n"
    "More: an interview with a surveying team that switched to open data.\r\n"
    "\r\n"
    "You receive this because you subscribed at weekly.example.com.\r\n"
    "--sw-142\r\n"
    "Content-Type: text/html; charset=utf-8\r\n"
    "\r\n"
    "<html><body style=\"font-family: sans-serif\">"
    "<h1>Spatial Weekly</h1><p>Issue 142</p>"
    "<h2>Maps</h2><p>Vector tiles without a tile server.</p>"
    "<h2>Meshes</h2><p>Simplifying scanned rooms for the web.</p>"
    "<h2>More</h2><p>An interview with a surveying team that switched to open data.</p>"
    "<p><small>You receive this because you subscribed at weekly.example.com.</small></p>"
    "</body></html>\r\n"
    "--sw-142--\r\n";

}  // namespace

std::vector<validate::AccountEntry> sample_accounts() {
    validate::StoredConfig home;
    home.display_name = kYou.name;
    home.email = kYou.address;
    home.imap_host = "imap.example.com";
    home.imap_port = 993;
    home.imap_tls = true;
    home.smtp_host = "smtp.example.com";
    home.smtp_port = 465;
    home.smtp_tls = true;
    home.username = home.email;
    home.auth = validate::AuthMethod::Password;
    home.password = "changeme";

    validate::StoredConfig work = home;
    work.display_name = kYou.name + " (Work)";
    work.email = "alex.rivera@example.org";
    work.imap_host = "imap.example.org";
    work.smtp_host = "smtp.example.org";
    work.smtp_port = 587;
    work.username = work.email;

    std::vector<validate::AccountEntry> out(2);
    out[0].id = home.email;
    out[0].config = std::move(home);
    out[1].id = work.email;
    out[1].config = std::move(work);
    out[1].colour = 1;
    return out;
}

std::vector<MailMessage> sample_messages() {
    std::vector<MailMessage> out;
    out.push_back(build({.from = kMaya,
                         .to = {kYou},
                         .subject = kPlanningSubject,
                         .body = "Hi Alex,\n\nHere is a first outline for rolling out the spatial index. Phase one "
                                 "covers the read path only; writes stay on the old tables until we have a week "
                                 "of clean metrics.\n\nCan you and Jonas look at the timeline before Friday?\n\nMaya",
                         .message_id = kPlanningId,
                         .read = true,
                         .starred = true,
                         .age = 206}));
    out.push_back(build({.from = kJonas,
                         .to = {kYou, kMaya},
                         .subject = std::string("Re: ") + kPlanningSubject,
                         .body = "The read path first makes sense. I would add a day for the backfill job; last "
                                 "time it took longer than we planned.\n\nJonas",
                         .message_id = "<rollout-plan.2@mail.example.net>",
                         .parent = kPlanningId,
                         .read = true,
                         .age = 179}));
    out.push_back(build({.from = kMaya,
                         .to = {kYou, kJonas},
                         .subject = std::string("Re: ") + kPlanningSubject,
                         .body = "Good point. The updated plan is attached, with the extra backfill day and the "
                                 "rollback steps spelled out.\n\nMaya",
                         .attachments = {attachment("rollout-plan-v2.pdf", "application/pdf", 184320)},
                         .message_id = "<rollout-plan.3@mail.example.net>",
                         .parent = kPlanningId,
                         .age = 138}));
    out.push_back(build({.from = {"Build Robot", "builds@ci.example.com"},
                         .to = {kYou},
                         .subject = "Build failed: main #4821 (unit tests)",
                         .body = "The build of main at commit 3f2a9c1 failed in the unit test stage.\n\n"
                                 "2 tests failed in geometry_test. The full log is attached.",
                         .attachments = {attachment("build-4821.log", "text/plain", 28716)},
                         .age = 14}));
    out.push_back(build({.from = kPriya,
                         .to = {kYou},
                         .subject = "Question about the tax calculations",
                         .body = "Hi Alex,\n\nThe totals in the attached sheet differ from last quarter's by a few "
                                 "cents per line. Are we rounding each line now, or only the sum?\n\nThanks,\nPriya",
                         .attachments = {attachment("calculations.csv", "text/csv", 9204)},
                         .read = true,
                         .starred = true,
                         .age = 300}));
    out.push_back(build({.from = {"Sam Okafor", "sam.okafor@example.net"},
                         .to = {kYou},
                         .subject = "Coffee tomorrow?",
                         .body = "Are you around tomorrow morning? I'd love to catch up over coffee, 9:30 at the "
                                 "usual place.\n\nSam",
                         .age = 3}));
    out.push_back(build({.from = {"Lena Fischer", "lena@example.org"},
                         .to = {{"Render developers", "render-dev@lists.example.org"}},
                         .subject = "Re: [render-dev] Review: text shaping cache",
                         .body = "Thanks for the patch. The cache key should include the font size, otherwise "
                                 "zoomed text picks up stale glyphs. Otherwise this looks good to me.\n\nLena",
                         .read = true,
                         .age = 1560}));
    out.push_back(build({.from = {"Calendar", "calendar-notifications@example.com"},
                         .to = {kYou},
                         .subject = "Invitation: Quarterly review @ Thu 2 Jul 2026 15:00 – 16:00 (UTC)",
                         .body = "Maya Chen has invited you to Quarterly review.\n\nWhen: Thursday 2 July 2026, "
                                 "15:00 – 16:00 UTC\nWhere: Room 4B\n\nThe invitation is attached.",
                         .attachments = {attachment("invite.ics", "text/calendar", 1842)},
                         .age = 540}));
    out.push_back(build({.from = kYou,
                         .to = {kMaya, kJonas},
                         .subject = std::string("Re: ") + kPlanningSubject,
                         .body = "Looks good to both of you? Then let's start phase one on Monday.\n\nAlex",
                         .folder = FolderRole::Sent,
                         .read = true,
                         .age = 50}));
    out.push_back(build({.from = kYou,
                         .to = {kPriya},
                         .subject = "Re: Question about the tax calculations",
                         .body = "Hi Priya,\n\nWe round each line since the April change. I'll add a note to the "
                                 "sheet.\n\nAlex",
                         .folder = FolderRole::Sent,
                         .read = true,
                         .age = 270}));
    out.push_back(build({.from = {"People Team", "people@example.com"},
                         .to = {kYou},
                         .subject = "Onboarding notes for your first week",
                         .body = "Welcome aboard! The attached notes cover accounts, the building, and who to "
                                 "ask about what.",
                         .attachments = {attachment("onboarding-notes.pdf", "application/pdf", 512000)},
                         .folder = FolderRole::Archive,
                         .read = true,
                         .age = 12960}));
    out.push_back(build({.from = {"Prize Office", "winner@prizes.example.net"},
                         .to = {kYou},
                         .subject = "Congratulations!!! You won a spatial luxury cruise",
                         .body = "Dear winner, to claim your prize send your bank details and a processing fee "
                                 "today.",
                         .folder = FolderRole::Junk,
                         .age = 420}));

    const RawSample raws[] = {
        {kRawRelease, false, false, 30},
        {kRawLunch, true, false, 420},
        {kRawNewsletter, false, true, 52},
    };
    for (const RawSample& raw : raws) {
        lib::Result<state::ParsedRawMessage> parsed = state::parse_raw_message(raw.text);
        if (!parsed) {
            lib::log::warn("could not parse a sample message", {{"error", parsed.error()}});
            continue;
        }
        MailMessage m = std::move(parsed->message);
        m.date = kSampleReferenceMinute - raw.age;
        m.folder = FolderRole::Inbox;
        m.read = raw.read;
        m.starred = raw.starred;
        out.push_back(std::move(m));
    }
    return out;
}

std::optional<state::MessageId> sample_selection(const state::MailState& s) {
    const std::vector<state::ListItem> list = s.visible_list();
    for (const state::ListItem& item : list) {
        if (item.size > 1) return item.id;
    }
    if (!list.empty()) return list.front().id;
    return std::nullopt;
}

state::MailState sample_mail_state() {
    state::MailState s = state::MailState::with_accounts(sample_accounts(), 0, kSampleReferenceMinute);
    for (MailMessage& m : sample_messages()) s.store.upsert(std::move(m));
    s.folder = FolderRole::Inbox;
    s.selected = sample_selection(s);
    s.changed = true;
    return s;
}

}  // namespace mail::engine
