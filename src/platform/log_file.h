#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What the support log needs of the system (support_log_posix.cpp, support_log_win.cpp).
namespace platform::logfile {

[[nodiscard]] std::string defaultPath();
// "2026-12-10 14:03:07.412", local time.
[[nodiscard]] std::string timestamp();
[[nodiscard]] unsigned long processId() noexcept;

// The log file, opened for appends of whole lines, shared so that another run may append
// or move it meanwhile.
class Appender {
public:
    Appender() = default;
    ~Appender();
    Appender(const Appender &) = delete;
    Appender &operator=(const Appender &) = delete;

    // Creates the folders; a file over `rotateBytes` first becomes `path` + ".1".
    [[nodiscard]] bool open(const std::string &path, std::uint64_t rotateBytes);
    // One write of the whole line.
    [[nodiscard]] bool append(std::string_view line);

private:
#ifdef _WIN32
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace platform::logfile
