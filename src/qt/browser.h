#pragma once

#include <functional>
#include <string>

// The hand-off to the user's default browser. Tests replace it with a recorder.
namespace platform {

using BrowserHandler = std::function<bool(const std::string &url)>;

// Asks the desktop to open `url` in the default browser; false when it could not.
[[nodiscard]] bool openInBrowser(const std::string &url);

// Installs `handler` in place of the desktop; an empty handler restores it.
BrowserHandler setBrowserHandler(BrowserHandler handler);

} // namespace platform
