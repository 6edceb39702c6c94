#include "platform/support_log.h"

#include "platform/log_file.h"
#include "platform/text.h"

#include <mutex>

namespace platform {
namespace {

constexpr std::uint64_t kRotateBytes = std::uint64_t{1} << 20;
constexpr std::size_t kMaxTextCodePoints = 4096; // no event needs more; a 1 MB address would

// One line: breaks shown as " / ", other control characters as blanks, at most 4096
// characters.
std::string oneLine(std::string_view text)
{
    const std::string_view kept = firstCodePoints(text, kMaxTextCodePoints);
    std::string out;
    out.reserve(kept.size() + 8);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const char c = kept[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < kept.size() && kept[i + 1] == '\n')
                ++i;
            if (i + 1 < kept.size())
                out += " / ";
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            out += ' ';
        } else {
            out += c;
        }
    }
    if (kept.size() < text.size())
        out += "…";
    return out;
}

struct Log {
    std::mutex mutex;
    logfile::Appender file;
    bool opened = false;
    bool givenUp = false;
};

} // namespace

std::string supportLogPath()
{
    try {
        return logfile::defaultPath();
    } catch (...) {
        return {};
    }
}

void logEvent(std::string_view text) noexcept
{
    try {
        static Log log;
        const std::lock_guard<std::mutex> lock(log.mutex);
        if (log.givenUp)
            return;
        if (!log.opened) {
            log.opened = true;
            const std::string path = supportLogPath();
            if (path.empty() || !log.file.open(path, kRotateBytes)) {
                log.givenUp = true;
                return;
            }
        }
        const std::string line = logfile::timestamp() + " [" + std::to_string(logfile::processId()) + "] "
                               + oneLine(text) + "\n";
        if (!log.file.append(line))
            log.givenUp = true;
    } catch (...) {
        // Nothing of the log may reach the exchange.
    }
}

} // namespace platform
