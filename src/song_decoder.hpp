// Song decoding: a song file opened by its contents (MP3 or Ogg Vorbis) and decoded step by
// step. The decoders are handles of our own (libmpg123, libvorbisfile) kept quiet, so that
// nothing of theirs reaches standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "fmod_layer.hpp"

namespace morvelta {

// An open file descriptor, closed when dropped.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Reads until `out` is full or the file ends, at `offset` without moving the file's
    // position; the count read, or none on a read error.
    std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> out) const;

  private:
    int fd_;
};

// A song decoded step by step into signed 16-bit frames in native byte order.
class SongDecoder {
  public:
    virtual ~SongDecoder() = default;
    int rate() const { return rate_; }
    int channels() const { return channels_; }
    std::uint64_t total_frames() const { return total_frames_; }
    // Decodes up to `frames` frames into `out`; 0 once the song is over (or broke off).
    virtual std::size_t read(std::int16_t* out, std::size_t frames) = 0;
    // Back to the first frame; false when the file cannot seek.
    virtual bool rewind() = 0;

  protected:
    int rate_ = 0;
    int channels_ = 0;
    std::uint64_t total_frames_ = 0;
};

// Opens the named file and picks the decoder by its contents, not by its name. A null
// decoder comes back with `result` saying why: FMOD_ERR_FILE_NOT_FOUND, FMOD_ERR_FILE_BAD
// (unreadable, or not a regular file), FMOD_ERR_FORMAT (no song we play), ...
std::unique_ptr<SongDecoder> open_song_decoder(const char* name, FMOD_RESULT& result);

// The decoders behind it; each takes the open file. The Ogg stream begins at `audio_offset`,
// past any tags in front of it.
std::unique_ptr<SongDecoder> open_mp3_decoder(std::unique_ptr<FileDescriptor> file,
                                              FMOD_RESULT& result);
std::unique_ptr<SongDecoder> open_ogg_decoder(std::unique_ptr<FileDescriptor> file,
                                              std::uint64_t audio_offset, FMOD_RESULT& result);

}  // namespace morvelta
