// Song decoding: a song file opened by its contents (MP3 or Ogg Vorbis) and decoded step by
// step. The decoders are handles of our own (libmpg123, libvorbisfile) kept quiet, so that
// nothing of theirs reaches standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "fmod_result.hpp"
#include "regular_file.hpp"

namespace morvelta {

// The rate and channel count of a stretch of song. A chained Ogg stream or an MP3 may change
// format from one part to the next.
struct SongFormat {
    int rate = 0;
    int channels = 0;
    bool operator==(const SongFormat&) const = default;
};

// The formats a song may hold: what the conversion to the output handles well. Channels are
// laid out as Vorbis orders them (MP3 holds one or two).
inline constexpr int min_song_rate = 8000;
inline constexpr int max_song_rate = 192000;
inline constexpr int max_song_channels = 8;
bool playable(SongFormat format);

// A song decoded step by step into interleaved float frames (full scale is 1.0).
class SongDecoder {
  public:
    virtual ~SongDecoder() = default;
    // The format of the frames the last read gave (before any read: the song's first part).
    SongFormat format() const { return format_; }
    // The song's duration: the sum of its parts' durations, each at its own rate.
    std::uint64_t length_ns() const { return length_ns_; }
    // Decodes up to `frames` frames into `out`, which holds `frames` * max_song_channels
    // samples; the frames of one read are all of one format, format() after the call. 0 once
    // the song is over (or broke off).
    virtual std::size_t read(float* out, std::size_t frames) = 0;
    // Back to the first frame; false when the file cannot seek.
    virtual bool rewind() = 0;

  protected:
    SongFormat format_;
    std::uint64_t length_ns_ = 0;
};

// Nanoseconds that `frames` last at `rate`.
std::uint64_t duration_ns(std::uint64_t frames, int rate);

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
