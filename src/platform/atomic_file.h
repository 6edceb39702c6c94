#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// A file written as an unnamed temporary in the target's folder (a named one where the
// file system has no unnamed files), named and renamed over the target by commit(), so
// that the target is always either the old file or the complete new one, and a module
// killed meanwhile leaves nothing. Without commit() the temporary file goes. Failures
// throw ModuleError.
class AtomicFile {
public:
    explicit AtomicFile(std::string path);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    [[nodiscard]] const std::string &path() const noexcept { return path_; }

    void write(std::string_view bytes);
    // Writes `bytes` at `offset` without moving the file position, for writers that
    // know where each part of the file goes.
    void writeAt(std::uint64_t offset, std::string_view bytes);
    // Flushes to disk and renames over the target.
    void commit();

private:
    void discard() noexcept;
#ifndef _WIN32
    void nameUnnamed();
#endif

    std::string path_;   // as given, for messages
    std::string target_; // the file replaced (a link's target)
    std::string folder_;
    std::string tempPath_; // empty while the temporary has no name
#ifdef _WIN32
    void *handle_ = nullptr; // HANDLE of the temporary
#else
    int fd_ = -1;
    unsigned mode_ = 0;
#endif
};

// Refuses, as AtomicFile would, a place where `path` cannot be written; creates nothing.
void checkWritable(const std::string &path);

// Writes `bytes` to `path` through an AtomicFile.
inline void writeFileAtomically(const std::string &path, std::string_view bytes)
{
    AtomicFile file(path);
    file.write(bytes);
    file.commit();
}

} // namespace platform
