#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// A file written under a temporary name in the target's folder and renamed over the
// target by commit(), so that the target is always either the old file or the complete
// new one. Without commit() the temporary file is removed. Failures throw ModuleError.
class AtomicFile {
public:
    explicit AtomicFile(std::string path);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // The open descriptor of the temporary file, for writers that need one.
    [[nodiscard]] int descriptor() const noexcept { return fd_; }
    [[nodiscard]] const std::string &path() const noexcept { return path_; }

    void write(std::string_view bytes);
    // Writes `bytes` at `offset` without moving the file position, for writers that
    // know where each part of the file goes.
    void writeAt(std::uint64_t offset, std::string_view bytes);
    // Flushes to disk and renames over the target.
    void commit();

private:
    void discard() noexcept;

    std::string path_;   // as given, for messages
    std::string target_; // the file replaced (a link's target)
    std::string tempPath_;
    int fd_ = -1;
    unsigned mode_ = 0;
};

// Writes `bytes` to `path` through an AtomicFile.
void writeFileAtomically(const std::string &path, std::string_view bytes);

// "Impossible d'écrire le fichier <path> : <cause>." for an errno value.
[[nodiscard]] std::string fileWriteMessage(const std::string &path, int error);

} // namespace platform
