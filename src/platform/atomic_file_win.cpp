#include "platform/atomic_file.h"

#include "platform/module_error.h"
#include "platform/paths.h"
#include "platform/wide_text.h"

#include <algorithm>
#include <filesystem>
#include <limits>

#include <windows.h>

namespace platform {
namespace {

const char *frenchCause(DWORD error)
{
    switch (error) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return "le dossier n'existe pas";
    case ERROR_DIRECTORY:
        return "un élément du chemin n'est pas un dossier";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "accès refusé";
    case ERROR_WRITE_PROTECT:
        return "le support est en lecture seule";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "le disque est plein";
    case ERROR_FILENAME_EXCED_RANGE:
        return "le nom est trop long";
    default:
        return "erreur du système";
    }
}

[[noreturn]] void fail(const std::string &path, DWORD error)
{
    throw ModuleError("Impossible d'écrire le fichier " + path + " : " + frenchCause(error) + ".",
                      "Windows error " + std::to_string(error));
}

[[noreturn]] void failWith(const std::string &path, const char *cause)
{
    throw ModuleError("Impossible d'écrire le fichier " + path + " : " + cause + ".");
}

bool heldByAnother(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// After waiting for the program that holds the file: which file, and what to do.
[[noreturn]] void failHeld(const std::string &path, DWORD error)
{
    const char *cause = error == ERROR_ACCESS_DENIED
                          ? "accès refusé ; il est peut-être ouvert par un autre programme. Fermez-le, puis "
                            "réessayez"
                          : "il est ouvert par un autre programme. Fermez-le, puis réessayez";
    throw ModuleError("Impossible d'écrire le fichier " + path + " : " + cause + ".",
                      "Windows error " + std::to_string(error));
}

// Another program may hold a file for a moment (the host still reading the last result,
// a scanner looking at a new file): `attempt` is tried again for 2 s in all, with a
// short back-off, while it fails for that reason. Returns 0 or the last error.
template <typename Attempt>
DWORD retryWhileHeld(Attempt attempt, bool (*held)(DWORD))
{
    const ULONGLONG deadline = GetTickCount64() + 2000;
    DWORD pause = 10;
    while (true) {
        if (attempt())
            return 0;
        const DWORD error = GetLastError();
        if (!held(error) || GetTickCount64() >= deadline)
            return error;
        Sleep(pause);
        pause = std::min<DWORD>(pause * 2, 200);
    }
}

struct Place {
    std::wstring target;
    std::wstring folder;
};

// The checks that need nothing created: a folder, a read-only file or a missing folder
// is refused.
Place checkPlace(const std::string &path)
{
    if (path.empty())
        throw ModuleError("Aucun fichier à écrire : le chemin reçu est vide.");
    // The folder keeps its last backslash: "C:\" is the root, "C:" would be the current folder.
    const std::wstring target = toSystemPath(pathOf(path).wstring());
    Place place{target, target.substr(0, target.find_last_of(L'\\') + 1)};
    const DWORD existing = GetFileAttributesW(place.target.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
        if ((existing & FILE_ATTRIBUTE_DIRECTORY) != 0)
            failWith(path, "c'est un dossier");
        // A file the user made read-only is not silently replaced.
        if ((existing & FILE_ATTRIBUTE_READONLY) != 0)
            failWith(path, "le fichier est en lecture seule");
    }
    const DWORD folder = GetFileAttributesW(place.folder.c_str());
    if (folder == INVALID_FILE_ATTRIBUTES)
        fail(path, GetLastError());
    if ((folder & FILE_ATTRIBUTE_DIRECTORY) == 0)
        fail(path, ERROR_DIRECTORY);
    return place;
}

// While the temporary is open, Windows removes it when the handle closes: a module
// killed meanwhile leaves nothing. Best effort: some file systems refuse it.
void setDeleteOnClose(HANDLE file, bool remove) noexcept
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
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
    target_ = toUtf8(place.target);
    folder_ = toUtf8(place.folder);
    for (unsigned attempt = 0;; ++attempt) {
        const std::wstring name = place.folder + L".valmora-" + std::to_wstring(GetCurrentProcessId()) + L"-"
                                + std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(attempt) + L".tmp";
        HANDLE file = INVALID_HANDLE_VALUE;
        const DWORD error = retryWhileHeld(
            [&] {
                file = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_HIDDEN, nullptr);
                return file != INVALID_HANDLE_VALUE;
            },
            // A name of our own: only a lock, never "access denied", is worth waiting for.
            [](DWORD e) { return e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION; });
        if (error == 0) {
            handle_ = file;
            tempPath_ = toUtf8(name);
            setDeleteOnClose(file, true);
            return;
        }
        if (error != ERROR_FILE_EXISTS || attempt > 100)
            fail(path_, error);
    }
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard() noexcept
{
    if (handle_ != nullptr)
        CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    if (!tempPath_.empty())
        DeleteFileW(toWide(tempPath_).c_str());
    tempPath_.clear();
}

void AtomicFile::write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1U << 30));
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle_), bytes.data(), chunk, &written, nullptr))
            fail(path_, GetLastError());
        bytes.remove_prefix(written);
    }
}

void AtomicFile::writeAt(std::uint64_t offset, std::string_view bytes)
{
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1U << 30));
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle_), bytes.data(), chunk, &written, &at))
            fail(path_, GetLastError());
        bytes.remove_prefix(written);
        offset += written;
    }
}

void AtomicFile::commit()
{
    auto *file = static_cast<HANDLE>(handle_);
    if (!FlushFileBuffers(file))
        fail(path_, GetLastError());
    setDeleteOnClose(file, false);
    handle_ = nullptr;
    if (!CloseHandle(file))
        fail(path_, GetLastError());
    const std::wstring temporary = toWide(tempPath_);
    const std::wstring target = toWide(target_);
    const DWORD error = retryWhileHeld(
        [&] { return MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0; },
        heldByAnother);
    if (error != 0) {
        if (heldByAnother(error))
            failHeld(path_, error); // the temporary goes with discard(); the earlier file stays
        fail(path_, error);
    }
    tempPath_.clear();
    // The temporary was hidden; the file the host reads is not.
    SetFileAttributesW(toWide(target_).c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace platform
