#include "oauth/pkce.h"

#include <cstdlib>

#include "lib/crypto/base64.h"
#include "lib/crypto/random.h"
#include "lib/crypto/sha256.h"
#include "lib/http/http.h"

namespace mail::oauth {
namespace {

std::string lower_ascii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool valid_utf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        if (n > 1) {
            for (size_t k = 1; k < n; ++k)
                if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
            uint32_t cp = c & (0xFF >> (n + 1));
            for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
            if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
                (cp >= 0xD800 && cp <= 0xDFFF))
                return false;
        }
        i += n;
    }
    return true;
}

// Invalid bytes become U+FFFD, as a lossy UTF-8 decode does.
std::string lossy_utf8(std::string_view s) {
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        size_t best = 0;
        for (size_t n = 1; n <= 4 && i + n <= s.size(); ++n)
            if (valid_utf8(s.substr(i, n))) {
                best = n;
                break;
            }
        if (best) {
            out.append(s.substr(i, best));
            i += best;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string env_or(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : std::string(fallback);
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// application/x-www-form-urlencoded decoding of one component.
std::string form_decode(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && hex_value(s[i + 1]) >= 0 && hex_value(s[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return lossy_utf8(out);
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
    if (s.empty() || !valid_utf8(s)) return std::nullopt;
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
    std::string text = lossy_utf8(request_bytes.substr(0, 4096));
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
    std::optional<std::string> code, state, error;
    if (auto q = target.find('?'); q != std::string_view::npos) {
        std::string_view query = target.substr(q + 1);
        while (!query.empty()) {
            auto amp = query.find('&');
            std::string_view pair = query.substr(0, amp);
            query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
            if (pair.empty()) continue;
            auto eq = pair.find('=');
            std::string key = form_decode(pair.substr(0, eq));
            std::string value = eq == std::string_view::npos ? std::string() : form_decode(pair.substr(eq + 1));
            if (key == "code") code = value;
            else if (key == "state") state = value;
            else if (key == "error") error = value;
        }
    }
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
