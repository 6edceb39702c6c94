#pragma once

#include "module_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace test_support {

// A fresh folder named after the running test, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("valmora_") + info->test_suite_name() + "_" + info->name();
        for (char &c : name) {
            if (c == '/')
                c = '_';
        }
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    [[nodiscard]] const std::filesystem::path &path() const { return path_; }
    [[nodiscard]] std::string file(const std::string &name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Runs `check` in a child process without root rights (as "nobody" when the tests run
// as root) and returns its exit status: permissions mean nothing to root.
template <typename Check>
int runUnprivileged(Check check)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(100);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

// The names in a folder, sorted: what a test expects to find there, and nothing else.
inline std::vector<std::string> entries(const std::filesystem::path &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The message of the ModuleError that `action` throws; the test fails when none is thrown.
inline std::string errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const ModuleError &e) {
        return e.what();
    }
    ADD_FAILURE() << "no ModuleError thrown";
    return {};
}

inline std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void writeFile(const std::filesystem::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace test_support
