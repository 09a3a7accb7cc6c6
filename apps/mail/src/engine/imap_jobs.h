// The IMAP work of one request as Asio coroutines, run on a strand of the
// live backend's runtime. For engine .cc files only (it pulls in Asio).
#pragma once

#include <asio/awaitable.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/credentials.h"
#include "lib/base/result.h"
#include "state/mail.h"
#include "validate/account_config.h"

namespace mail::engine {

// Filled with the command lines sent, when the caller asks for them.
using CommandLog = std::vector<std::string>;

// LIST "" * after signing in: every mailbox name in the server's order.
asio::awaitable<lib::Result<std::vector<std::string>>> list_mailboxes_job(validate::StoredConfig config,
                                                                          Credentials credentials, CommandLog* log);

// SELECT, UID SEARCH, UID FETCH of the newest 50 whole messages.
asio::awaitable<lib::Result<std::vector<state::MailMessage>>> fetch_folder_job(validate::StoredConfig config,
                                                                               Credentials credentials,
                                                                               state::FolderRole role,
                                                                               std::int64_t fallback_minute,
                                                                               CommandLog* log);

// The mutations, each finding the message by its Message-ID.
asio::awaitable<lib::Status> flag_job(validate::StoredConfig config, Credentials credentials,
                                      state::MailMessage message, CommandLog* log);
asio::awaitable<lib::Status> move_job(validate::StoredConfig config, Credentials credentials,
                                      state::MailMessage message, state::FolderRole destination, CommandLog* log);
asio::awaitable<lib::Status> purge_job(validate::StoredConfig config, Credentials credentials,
                                       state::MailMessage message, CommandLog* log);

}  // namespace mail::engine
