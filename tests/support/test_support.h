#pragma once

#include "platform/module_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

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
        removeAll(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { removeAll(path_); }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    [[nodiscard]] const std::filesystem::path &path() const { return path_; }
    [[nodiscard]] std::string file(const std::string &name) const { return (path_ / name).string(); }

private:
    // Tests make files and folders read-only; Windows will not remove those.
    static void removeAll(const std::filesystem::path &folder)
    {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(folder, ec);
    }

    std::filesystem::path path_;
};

#ifndef _WIN32
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
#endif

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
