#include "regular_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace morvelta {
namespace {

using Opened = Result<FileDescriptor, int>;

// What a file of this kind is refused with; 0 for a regular file.
int refusal_for(mode_t mode) {
    if (S_ISREG(mode))
        return 0;
    return S_ISDIR(mode) ? EISDIR : ENXIO;
}

}  // namespace

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<std::size_t> FileDescriptor::read_at(std::uint64_t offset,
                                                   std::span<std::uint8_t> out) const {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got =
            ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

Opened open_regular_file(const char* path) {
    // Asked first so that a device is never opened at all: opening some has effects
    // of its own. The check on the open descriptor below is the one that counts.
    struct stat info {};
    if (::stat(path, &info) != 0)
        return Opened::err(errno);
    if (const int refusal = refusal_for(info.st_mode))
        return Opened::err(refusal);

    // Without O_NONBLOCK a named pipe put in the file's place would hold the open
    // until someone writes to it.
    FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0)
        return Opened::err(errno);
    if (::fstat(file.get(), &info) != 0)
        return Opened::err(errno);
    if (const int refusal = refusal_for(info.st_mode))
        return Opened::err(refusal);
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return Opened::err(errno);
    return Opened::ok(std::move(file));
}

}  // namespace morvelta
