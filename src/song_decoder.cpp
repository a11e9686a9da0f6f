// Opening a song: the file is checked and its decoder chosen by what the file holds.
#include "song_decoder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace morvelta {

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::unique_ptr<SongDecoder> open_song_decoder(const char* name, FMOD_RESULT& result) {
    // Without O_NONBLOCK a named pipe would hold the program until someone writes to it.
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        result =
            (errno == ENOENT || errno == ENOTDIR) ? FMOD_ERR_FILE_NOT_FOUND : FMOD_ERR_FILE_BAD;
        return nullptr;
    }
    auto file = std::make_unique<FileDescriptor>(fd);
    // Only a regular file is a song: pipes, devices and folders are not read.
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        result = FMOD_ERR_FILE_BAD;
        return nullptr;
    }
    char magic[4] = {};
    ssize_t got;
    do {
        got = ::pread(fd, magic, sizeof magic, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        result = FMOD_ERR_FILE_BAD;
        return nullptr;
    }
    if (got == 0) {
        result = FMOD_ERR_FORMAT;  // an empty file holds no song
        return nullptr;
    }
    if (got == 4 && std::memcmp(magic, "OggS", 4) == 0)
        return open_ogg_decoder(std::move(file), result);
    return open_mp3_decoder(std::move(file), result);
}

}  // namespace morvelta
