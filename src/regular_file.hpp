// Opening the files the program reads from start to end, songs and pictures: only a
// regular file is opened. A pipe, device, socket or folder named like one is refused at
// once, without waiting for a writer and without reading from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "result.hpp"

namespace morvelta {

// Owns an open file descriptor and closes it.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&&) = delete;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    // Reads until `out` is full or the file ends, at `offset` without moving the file's
    // position; the count read, or none on a read error.
    std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> out) const;
    // Gives up ownership; the descriptor stays open.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

// Opens `path` for reading in blocking mode, or gives the errno that explains why not:
// the system's own for a file that cannot be opened, EISDIR for a folder and ENXIO for
// anything else that is not a regular file.
Result<FileDescriptor, int> open_regular_file(const char* path);

}  // namespace morvelta
