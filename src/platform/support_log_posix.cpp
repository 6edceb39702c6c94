#include "platform/log_file.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::logfile {

std::string defaultPath()
{
    std::string state;
    if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/')
        state = xdg;
    else if (const char *home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        state = std::string(home) + "/.local/state";
    else
        return {};
    return state + "/Valmora/Module_Valmora.log";
}

std::string timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis));
    return text;
}

unsigned long processId() noexcept
{
    return static_cast<unsigned long>(::getpid());
}

Appender::~Appender()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool Appender::open(const std::string &path, std::uint64_t rotateBytes)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && static_cast<std::uint64_t>(existing.st_size) > rotateBytes)
        ::rename(path.c_str(), (path + ".1").c_str()); // another run may have done it meanwhile
    // O_APPEND: each write lands whole at the end, whoever else appends.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    return fd_ >= 0;
}

bool Appender::append(std::string_view line)
{
    if (fd_ < 0)
        return false;
    ssize_t written = -1;
    do {
        written = ::write(fd_, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(line.size());
}

} // namespace platform::logfile
