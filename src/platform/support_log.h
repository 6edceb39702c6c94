#pragma once

#include <string>
#include <string_view>

// The support log: one small UTF-8 file per user that a shop's support can read after a
// user calls, since a GUI program's standard error goes nowhere on Windows.
//   Windows: %LOCALAPPDATA%\Valmora\Module_Valmora.log
//   elsewhere: $XDG_STATE_HOME/Valmora/Module_Valmora.log (~/.local/state by default)
// Its callers give it texts already masked; it never sees a password.
namespace platform {

// Where the log is; empty when the system names no such folder.
[[nodiscard]] std::string supportLogPath();

// Appends one event as one line: local time to the millisecond, the process id, the text
// (line breaks shown as " / "). The first call opens the file, moving one over 1 MiB to
// Module_Valmora.log.1 first. Never throws and never waits: a log that cannot be opened
// or written is given up for the rest of the run, and the module goes on without it.
void logEvent(std::string_view text) noexcept;

} // namespace platform
