#pragma once

#include "gateway/http_client.h"
#include "host/module_config.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The lines of the support log, one per event of a run, in French as support reads them.
// Texts that may hold a secret go through the form's masking before they are written.
namespace form {

[[nodiscard]] std::string startEvent(const std::vector<std::string> &arguments);
[[nodiscard]] std::string configurationEvent(const host::ModuleConfig &config, bool proxyFile);
// `step`: "jeton", "document", "devis".
[[nodiscard]] std::string requestEvent(std::string_view step, const gateway::RequestRecord &record);
// The host and path only: the query may carry the token.
[[nodiscard]] std::string browserEvent(const std::string &url);
[[nodiscard]] std::string fileEvent(const std::string &path, std::uintmax_t bytes);
[[nodiscard]] std::string messageEvent(const std::string &shown);
[[nodiscard]] std::string exitEvent();

// A message shown outside the form logic (the entry point's, a view's last resort): on
// standard error for the host, and in the log.
void reportShown(const std::string &text);

// The log of one run, from the entry point: its start, and its end when it goes.
class RunLog {
public:
    explicit RunLog(const std::vector<std::string> &arguments);
    ~RunLog();
    RunLog(const RunLog &) = delete;
    RunLog &operator=(const RunLog &) = delete;
};

} // namespace form
