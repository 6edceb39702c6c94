#include "platform/atomic_file.h"

#include "platform/module_error.h"

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
    throw ModuleError("Impossible d'écrire le fichier " + path + " : " + frenchCause(error) + ".", std::strerror(error));
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


namespace {

// Where a file will be written and with which permissions, after the checks that need
// nothing created: a link is followed, a folder, a read-only file or a missing or closed
// folder is refused.
struct Place {
    std::string target;
    std::string folder;
    unsigned mode = 0;
};

Place checkPlace(const std::string &path)
{
    if (path.empty())
        throw ModuleError("Aucun fichier à écrire : le chemin reçu est vide.");
    Place place{path, {}, 0};
    // A link is followed: the file it names is the one replaced, the link stays.
    std::error_code ec;
    if (std::filesystem::is_symlink(place.target, ec))
        place.target = std::filesystem::weakly_canonical(place.target, ec).string();
    struct stat existing {};
    if (::stat(place.target.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode))
            fail(path, EISDIR);
        // A file the user made read-only, or may not write, is not silently replaced.
        if ((existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            throw ModuleError("Impossible d'écrire le fichier " + path + " : le fichier est en lecture seule.");
        if (::access(place.target.c_str(), W_OK) != 0)
            fail(path, errno);
        place.mode = existing.st_mode & 07777U;
    } else {
        place.mode = 0666U & ~currentUmask();
    }
    const std::filesystem::path target(place.target);
    place.folder = target.has_parent_path() ? target.parent_path().string() : ".";
    struct stat folder {};
    if (::stat(place.folder.c_str(), &folder) != 0)
        fail(path, errno);
    if (!S_ISDIR(folder.st_mode))
        fail(path, ENOTDIR);
    if (::access(place.folder.c_str(), W_OK | X_OK) != 0)
        fail(path, errno);
    return place;
}

// A name for the finished file beside its target, until it replaces the target.
std::string temporaryName(const std::string &folder)
{
    static unsigned counter = 0;
    return (std::filesystem::path(folder)
            / (".valmora-" + std::to_string(::getpid()) + "-" + std::to_string(++counter)))
        .string();
}

} // namespace

void checkWritable(const std::string &path)
{
    static_cast<void>(checkPlace(path));
}

AtomicFile::AtomicFile(std::string path)
    : path_(std::move(path))
{
    const Place place = checkPlace(path_);
    target_ = place.target;
    folder_ = place.folder;
    mode_ = place.mode;
    // Unnamed until commit: a module killed meanwhile leaves nothing behind.
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ >= 0)
        return;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        fail(path_, errno);
    // A file system without unnamed files: a named temporary, removed on failure.
    std::string pattern = (std::filesystem::path(folder_) / ".valmora-XXXXXX").string();
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

// An unnamed file gets a name beside the target; rename then replaces the target.
void AtomicFile::nameUnnamed()
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    while (true) {
        std::string name = temporaryName(folder_);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            tempPath_ = std::move(name);
            return;
        }
        if (errno != EEXIST)
            fail(path_, errno);
    }
}

void AtomicFile::commit()
{
    if (::fchmod(fd_, static_cast<mode_t>(mode_)) != 0 || ::fsync(fd_) != 0)
        fail(path_, errno);
    if (tempPath_.empty())
        nameUnnamed();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        fail(path_, errno);
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0)
        fail(path_, errno);
    tempPath_.clear();
}

} // namespace platform
