// Tells what kind of song a file holds from its first bytes, before any decoder sees it.
// A file is an MP3 only when real MPEG audio frames start it (after its ID3v2 tags): the
// MP3 decoder left to itself finds false frames in anything, and would play a WAV or a
// picture as a long song of noise or silence. Pure functions of the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace morvelta {

// The fields of one MPEG audio frame header that decide its size and decoding.
struct MpegFrameHeader {
    int version = 0;  // 10 for MPEG-1, 20 for MPEG-2, 25 for MPEG-2.5
    int layer = 0;    // 1, 2 or 3
    int bitrate_kbps = 0;
    int sample_rate = 0;
    int mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int mode_extension = 0;
    std::size_t frame_bytes = 0;  // the whole frame, header included
};

// The header in the four bytes `header` (first byte in the top bits), or none when they are
// no valid frame header: wrong sync, a reserved version, layer, rate or emphasis, a free or
// bad bitrate, or a layer II bitrate the channel mode does not allow.
std::optional<MpegFrameHeader> parse_mpeg_header(std::uint32_t header);

// True when the frame header `header` is an MPEG-1 layer II joint-stereo one whose stereo
// bound lies past the frame's last coded subband: no subband of it is intensity-coded. The
// MP3 decoder library complains about every such frame on standard error, unasked.
bool stereo_bound_past_subbands(std::uint32_t header);

// The size of the ID3v2 tag that starts `bytes` (header, body and any footer), 0 when they
// do not start with one. Needs the tag's first 10 bytes.
std::size_t id3v2_tag_size(std::span<const std::uint8_t> bytes);

enum class SongKind { none, mp3, ogg };

// What the audio in `bytes` is, where `bytes` begins just past the file's ID3v2 tags. MP3 needs
// a run of three frame headers whose sizes lead from one to the next, the first within
// `mp3_search_bytes` of the start; a shorter file may end at the end of its second frame.
// `whole_rest` says that `bytes` reaches the end of the file. Ogg is any Ogg stream: its
// decoder tells Vorbis from the rest.
SongKind audio_kind(std::span<const std::uint8_t> bytes, bool whole_rest);

// Whether `bytes` begin with such a run of frames, from their very first byte.
bool frames_chain(std::span<const std::uint8_t> bytes, bool whole_rest);
inline constexpr std::size_t chain_window_bytes = 3 * 2881 + 4;

// Enough bytes past the tags for `audio_kind`: the search window and three of the largest frames.
inline constexpr std::size_t mp3_search_bytes = 4096;
inline constexpr std::size_t probe_window_bytes = mp3_search_bytes + chain_window_bytes;

// Where a song's audio starts and what it is.
struct SongStart {
    SongKind kind = SongKind::none;
    std::uint64_t audio_offset = 0;  // past every ID3v2 tag at the start
};

// Reads up to `out.size()` bytes at `offset`; the count read (short only at the end of the
// file), or none on a read error.
using ReadAt =
    std::function<std::optional<std::size_t>(std::uint64_t offset, std::span<std::uint8_t> out)>;

// Skips the ID3v2 tags at the start of a file and looks at what follows; none on a read error.
std::optional<SongStart> probe_song(const ReadAt& read_at);

}  // namespace morvelta
