#include "platform/atomic_file.h"

#include "module_error.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

const char *frenchCause(int error)
{
    switch (error) {
    case ENOENT:
        return "le dossier n'existe pas";
    case ENOTDIR:
        return "un élément du chemin n'est pas un dossier";
    case EACCES:
    case EPERM:
        return "accès refusé";
    case EROFS:
        return "le support est en lecture seule";
    case ENOSPC:
    case EDQUOT:
        return "le disque est plein";
    case EISDIR:
        return "c'est un dossier";
    case ENAMETOOLONG:
        return "le nom est trop long";
    default:
        return "erreur du système";
    }
}

[[noreturn]] void fail(const std::string &path, int error)
{
    throw ModuleError(fileWriteMessage(path, error), std::strerror(error));
}

// The process's umask, read without changing it (umask() can only set it).
unsigned currentUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
    }
    return 022U;
}

} // namespace

std::string fileWriteMessage(const std::string &path, int error)
{
    return "Impossible d'écrire le fichier " + path + " : " + frenchCause(error) + ".";
}

AtomicFile::AtomicFile(std::string path)
    : path_(std::move(path))
    , target_(path_)
{
    if (path_.empty())
        throw ModuleError("Aucun fichier à écrire : le chemin reçu est vide.");
    // A link is followed: the file it names is the one replaced, the link stays.
    std::error_code ec;
    if (std::filesystem::is_symlink(target_, ec))
        target_ = std::filesystem::weakly_canonical(target_, ec).string();
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode))
            fail(path_, EISDIR);
        // A file the user made read-only, or may not write, is not silently replaced.
        if ((existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            throw ModuleError("Impossible d'écrire le fichier " + path_ + " : le fichier est en lecture seule.");
        if (::access(target_.c_str(), W_OK) != 0)
            fail(path_, errno);
        mode_ = existing.st_mode & 07777U;
    } else {
        mode_ = 0666U & ~currentUmask();
    }

    const std::filesystem::path target(target_);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string pattern = (folder / ".valmora-XXXXXX").string();
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0)
        fail(path_, errno);
    tempPath_ = pattern;
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard() noexcept
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!tempPath_.empty())
        ::unlink(tempPath_.c_str());
    tempPath_.clear();
}

void AtomicFile::write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(path_, errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void AtomicFile::writeAt(std::uint64_t offset, std::string_view bytes)
{
    while (!bytes.empty()) {
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) - bytes.size())
            fail(path_, EFBIG);
        const ssize_t written = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(path_, errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
        offset += static_cast<std::uint64_t>(written);
    }
}

void AtomicFile::commit()
{
    if (::fchmod(fd_, static_cast<mode_t>(mode_)) != 0 || ::fsync(fd_) != 0)
        fail(path_, errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        fail(path_, errno);
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0)
        fail(path_, errno);
    tempPath_.clear();
}

void writeFileAtomically(const std::string &path, std::string_view bytes)
{
    AtomicFile file(path);
    file.write(bytes);
    file.commit();
}

} // namespace platform
