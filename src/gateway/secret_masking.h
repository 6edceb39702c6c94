#pragma once

#include "platform/module_error.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace gateway {

// The one place secrets are masked in what the user and the support log read: only in
// the pieces of a message that came from outside the module, never in its own words
// (its sentences, the configurator's name, versions, paths). Empty secrets are skipped.
[[nodiscard]] std::string maskSecrets(const UserMessage &message, std::initializer_list<std::string_view> secrets);

// `text` with `secret` masked. A secret of 4 characters or more is masked wherever it
// stands, in any letter case, as typed or as a query string carries it (percent-encoded,
// '+' for a space); a shorter one only where it is the value of "mdp=": masking every
// "1" would protect nothing and garble the rest.
[[nodiscard]] std::string hideSecret(std::string text, std::string_view secret);

} // namespace gateway
