#include "oauth/pkce.h"

#include <cstdlib>

#include "lib/base/utf8.h"
#include "lib/crypto/base64.h"
#include "lib/crypto/random.h"
#include "lib/crypto/sha256.h"
#include "lib/http/http.h"
#include "runtime/ui/util/uri.h"

namespace mail::oauth {
namespace {

std::string lower_ascii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string env_or(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : std::string(fallback);
}

}  // namespace

std::optional<Provider> provider_for_address(std::string_view address) {
    auto at = address.rfind('@');
    if (at == std::string_view::npos) return std::nullopt;
    std::string domain = lower_ascii(address.substr(at + 1));
    while (!domain.empty() && (domain.back() == ' ' || domain.back() == '\t')) domain.pop_back();
    if (domain == "gmail.com" || domain == "googlemail.com") return Provider::Google;
    if (domain == "outlook.com" || domain == "hotmail.com" || domain == "live.com" || domain == "msn.com" ||
        domain == "office365.com")
        return Provider::Microsoft;
    return std::nullopt;
}

std::string_view display_name(Provider p) { return p == Provider::Google ? "Google" : "Microsoft"; }

std::string_view client_id_variable(Provider p) {
    return p == Provider::Google ? "ZELK_MAIL_GOOGLE_CLIENT_ID" : "ZELK_MAIL_MICROSOFT_CLIENT_ID";
}

std::optional<std::string> client_id_for(Provider p) {
    const char* v = std::getenv(std::string(client_id_variable(p)).c_str());
    if (!v) return std::nullopt;
    std::string_view s(v);
    if (s.empty() || !lib::utf8::is_valid(s)) return std::nullopt;
    return std::string(s);
}

std::string authorization_endpoint(Provider p) {
    if (p == Provider::Google)
        return env_or("ZELK_MAIL_GOOGLE_AUTH_BASE", "https://accounts.google.com") + "/o/oauth2/v2/auth";
    return env_or("ZELK_MAIL_MICROSOFT_AUTH_BASE", "https://login.microsoftonline.com") +
           "/common/oauth2/v2.0/authorize";
}

std::string token_endpoint(Provider p) {
    if (p == Provider::Google) return env_or("ZELK_MAIL_GOOGLE_TOKEN_BASE", "https://oauth2.googleapis.com") + "/token";
    return env_or("ZELK_MAIL_MICROSOFT_TOKEN_BASE", "https://login.microsoftonline.com") +
           "/common/oauth2/v2.0/token";
}

std::string scope(Provider p) {
    if (p == Provider::Google) return "https://mail.google.com/";
    return "offline_access https://outlook.office.com/IMAP.AccessAsUser.All https://outlook.office.com/SMTP.Send";
}

std::string challenge_for(std::string_view verifier) {
    auto digest = lib::crypto::sha256(verifier);
    if (!digest) return {};
    return lib::crypto::base64url_encode(std::span<const std::uint8_t>(digest->data(), digest->size()));
}

lib::Result<PkceSecrets> make_secrets() {
    auto a = lib::crypto::random_uuid_v4_bytes();
    auto b = lib::crypto::random_uuid_v4_bytes();
    auto c = lib::crypto::random_uuid_v4_bytes();
    if (!a || !b || !c) return lib::err("could not make sign-in secrets: no randomness available");
    std::array<std::uint8_t, 32> raw{};
    std::copy(a->begin(), a->end(), raw.begin());
    std::copy(b->begin(), b->end(), raw.begin() + 16);
    PkceSecrets s;
    s.verifier = lib::crypto::base64url_encode(std::span<const std::uint8_t>(raw.data(), raw.size()));
    s.challenge = challenge_for(s.verifier);
    s.state = lib::crypto::base64url_encode(std::span<const std::uint8_t>(c->data(), c->size()));
    return s;
}

std::string redirect_uri(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/oauth"; }

std::string authorization_url(Provider p, std::string_view client_id, std::string_view redirect,
                              const PkceSecrets& secrets, std::string_view login_hint) {
    lib::http::Pairs pairs = {
        {"client_id", std::string(client_id)},
        {"response_type", "code"},
        {"redirect_uri", std::string(redirect)},
        {"scope", scope(p)},
        {"code_challenge", secrets.challenge},
        {"code_challenge_method", "S256"},
        {"state", secrets.state},
    };
    if (p == Provider::Google) {
        pairs.emplace_back("access_type", "offline");
        pairs.emplace_back("prompt", "consent");
    }
    if (!login_hint.empty()) pairs.emplace_back("login_hint", std::string(login_hint));
    return authorization_endpoint(p) + "?" + lib::http::form_encode(pairs);
}

std::string http_page(std::string_view message) {
    std::string page =
        "<!doctype html><html><head><meta charset=utf-8><title>Zelk Mail</title></head>"
        "<body style=\"font-family:system-ui;padding:3rem;text-align:center\">";
    page += message;
    page += "</body></html>";
    std::string out = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: ";
    out += std::to_string(page.size());
    out += "\r\nConnection: close\r\n\r\n";
    out += page;
    return out;
}

RedirectOutcome handle_redirect_request(std::string_view request_bytes, std::string_view expected_state) {
    std::string text = lib::utf8::repair(request_bytes.substr(0, 4096));
    std::string_view line(text);
    if (auto eol = line.find_first_of("\r\n"); eol != std::string_view::npos) line = line.substr(0, eol);
    // The second space-separated token is the request target.
    std::string_view target;
    {
        size_t pos = 0;
        int index = 0;
        while (pos < line.size()) {
            while (pos < line.size() && line[pos] == ' ') ++pos;
            size_t end = line.find(' ', pos);
            if (end == std::string_view::npos) end = line.size();
            if (pos < end && index++ == 1) {
                target = line.substr(pos, end - pos);
                break;
            }
            pos = end;
        }
    }
    // The path plays no part; for each key the last occurrence counts.
    runtime::ui::uri::FormPairs pairs;
    if (auto q = target.find('?'); q != std::string_view::npos)
        pairs = runtime::ui::uri::parse_form_query(target.substr(q + 1));
    const auto code = runtime::ui::uri::last_value(pairs, "code");
    const auto state = runtime::ui::uri::last_value(pairs, "state");
    const auto error = runtime::ui::uri::last_value(pairs, "error");
    RedirectOutcome out;
    if (error) {
        out.kind = RedirectOutcome::Kind::Denied;
        out.value = *error;
        out.page = http_page("Sign-in failed. You can close this tab.");
    } else if (code) {
        if (state.value_or("") == expected_state) {
            out.kind = RedirectOutcome::Kind::Code;
            out.value = *code;
            out.page = http_page("Signed in. You can close this tab and return to Mail.");
        } else {
            out.kind = RedirectOutcome::Kind::StateMismatch;
            out.page = http_page("Sign-in state mismatch. Please try again from Mail.");
        }
    } else {
        out.page = http_page("Waiting for sign-in\xE2\x80\xA6");
    }
    return out;
}

}  // namespace mail::oauth
