#pragma once

#include <string>

namespace gateway {

// True for an http or https address, the only kinds the module fetches or opens.
[[nodiscard]] bool isWebAddress(const std::string &url);

// False for an address holding a blank or a control character, which no address may hold.
[[nodiscard]] bool isWellFormedAddress(const std::string &url);

// The host named by an address, or an empty text when it names none.
[[nodiscard]] std::string hostOf(const std::string &url);

// The port an address reaches: the one it names, else its scheme's (443 for https); 0
// when it does not parse.
[[nodiscard]] long portOf(const std::string &url);

// An address's host (with its port when the address names one), path and query, each
// empty when the address lacks it or does not parse.
struct AddressParts {
    std::string host;
    std::string path;
    std::string query;
};
[[nodiscard]] AddressParts partsOf(const std::string &url);

} // namespace gateway
