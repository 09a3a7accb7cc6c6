#include "runtime/accounts/ids.h"

#include <ostream>

#include "lib/base/places.h"

namespace runtime::accounts {

std::ostream& operator<<(std::ostream& out, const AccountId& id) { return out << id.text(); }
std::ostream& operator<<(std::ostream& out, const AccountTypeId& type) { return out << type.text(); }

std::optional<std::filesystem::path> config_root() { return lib::places::config_root(); }

}  // namespace runtime::accounts
