// The interactive OAuth sign-in: a one-shot HTTP listener on 127.0.0.1, the
// browser sent to the provider's authorization page, the redirect waited for
// (polled every 50 ms up to a time limit), and the code exchanged for
// tokens. Blocks; the engine runs it on its worker thread.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "lib/base/result.h"
#include "oauth/pkce.h"
#include "oauth/tokens.h"

namespace mail::oauth {

// Opens the URL in the user's browser (the window passes the toolkit's link
// opener; the command line prints the URL). Its error follows
// "could not open sign-in browser: ".
using BrowserOpener = std::function<lib::Status(const std::string& url)>;

// The engine's limit for waiting on the browser.
inline constexpr std::chrono::seconds kSignInLimit{300};

lib::Result<OAuthTokens> sign_in(Provider provider, std::string_view client_id, std::string_view login_hint,
                                 std::chrono::milliseconds limit, const BrowserOpener& open_browser);

}  // namespace mail::oauth
