#include "song_probe.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace morvelta {
namespace {

// Kilobits per second by bitrate index 1..14, for MPEG-1 layers I, II, III and for the
// lower-rate versions' layer I and layers II/III.
constexpr std::array<std::array<int, 15>, 5> bitrates{{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
}};
constexpr std::array<int, 3> mpeg1_rates{44100, 48000, 32000};
constexpr int mode_single_channel = 3;
constexpr int mode_joint_stereo = 1;

std::uint32_t big_endian_32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

// Layer II at MPEG-1 rates pairs its bitrates with channel modes: the lowest are for one
// channel only, the highest for two only.
bool layer2_bitrate_fits_mode(int kbps, int mode) {
    if (mode == mode_single_channel)
        return kbps <= 192;
    return kbps != 32 && kbps != 48 && kbps != 56 && kbps != 80;
}

// Frames from `start` on, each header valid and leading to the next; whether three follow one
// another with the same version, layer and rate, or two reach exactly the end of the data.
bool frames_chain_from(std::span<const std::uint8_t> bytes, std::size_t start, bool whole_rest) {
    std::optional<MpegFrameHeader> first;
    std::size_t at = start;
    for (int count = 0; count < 3; ++count) {
        if (count == 2 && whole_rest && at == bytes.size())
            return true;
        if (at + 4 > bytes.size())
            return false;
        const auto frame = parse_mpeg_header(big_endian_32(&bytes[at]));
        if (!frame)
            return false;
        if (first && (frame->version != first->version || frame->layer != first->layer ||
                      frame->sample_rate != first->sample_rate)) {
            return false;
        }
        if (!first)
            first = frame;
        at += frame->frame_bytes;
    }
    return true;
}

}  // namespace

std::optional<MpegFrameHeader> parse_mpeg_header(std::uint32_t header) {
    if ((header >> 21) != 0x7FF)
        return std::nullopt;
    const unsigned version_bits = (header >> 19) & 3;
    const unsigned layer_bits = (header >> 17) & 3;
    const unsigned bitrate_index = (header >> 12) & 15;
    const unsigned rate_index = (header >> 10) & 3;
    const unsigned padding = (header >> 9) & 1;
    const unsigned emphasis = header & 3;
    if (version_bits == 1 || layer_bits == 0 || bitrate_index == 0 || bitrate_index == 15 ||
        rate_index == 3 || emphasis == 2) {
        return std::nullopt;
    }
    MpegFrameHeader frame;
    frame.version = version_bits == 3 ? 10 : version_bits == 2 ? 20 : 25;
    frame.layer = 4 - static_cast<int>(layer_bits);
    frame.mode = static_cast<int>((header >> 6) & 3);
    frame.mode_extension = static_cast<int>((header >> 4) & 3);
    const bool mpeg1 = frame.version == 10;
    const std::size_t table =
        mpeg1 ? static_cast<std::size_t>(frame.layer - 1) : (frame.layer == 1 ? 3 : 4);
    frame.bitrate_kbps = bitrates[table][bitrate_index];
    frame.sample_rate = mpeg1_rates[rate_index] / (mpeg1 ? 1 : frame.version == 20 ? 2 : 4);
    if (mpeg1 && frame.layer == 2 && !layer2_bitrate_fits_mode(frame.bitrate_kbps, frame.mode))
        return std::nullopt;
    const std::size_t bits_per_second = static_cast<std::size_t>(frame.bitrate_kbps) * 1000;
    const auto rate = static_cast<std::size_t>(frame.sample_rate);
    if (frame.layer == 1) {
        frame.frame_bytes = (12 * bits_per_second / rate + padding) * 4;
    } else {
        // Layer III at the lower rates carries half as many samples a frame.
        const std::size_t factor = frame.layer == 3 && !mpeg1 ? 72 : 144;
        frame.frame_bytes = factor * bits_per_second / rate + padding;
    }
    return frame;
}

bool stereo_bound_past_subbands(std::uint32_t header) {
    // Read from the raw bits: the decoder meets such frames whether or not their bitrate
    // suits their mode.
    const unsigned version_bits = (header >> 19) & 3;
    const unsigned layer_bits = (header >> 17) & 3;
    const unsigned bitrate_index = (header >> 12) & 15;
    const unsigned rate_index = (header >> 10) & 3;
    const unsigned mode = (header >> 6) & 3;
    const unsigned mode_extension = (header >> 4) & 3;
    if ((header >> 21) != 0x7FF || version_bits != 3 || layer_bits != 2 ||
        mode != mode_joint_stereo) {
        return false;
    }
    // Up to 96 kbps (indexes 1 to 6) a two-channel MPEG-1 layer II frame codes only its
    // first 8 subbands, 12 at 32 kHz; the bound is 4, 8, 12 or 16.
    if (bitrate_index < 1 || bitrate_index > 6)
        return false;
    const unsigned coded_subbands = rate_index == 2 ? 12 : 8;
    return mode_extension * 4 + 4 > coded_subbands;
}

std::size_t id3v2_tag_size(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t header_bytes = 10;
    if (bytes.size() < header_bytes || std::memcmp(bytes.data(), "ID3", 3) != 0)
        return 0;
    const std::uint8_t major = bytes[3];
    const std::uint8_t flags = bytes[5];
    if (major < 2 || major > 4 || bytes[4] == 0xFF)
        return 0;
    std::size_t body = 0;
    for (std::size_t i = 6; i < header_bytes; ++i) {
        if (bytes[i] & 0x80)
            return 0;  // sizes are stored seven bits a byte
        body = body << 7 | bytes[i];
    }
    const bool footer = major == 4 && (flags & 0x10) != 0;
    return header_bytes + body + (footer ? header_bytes : 0);
}

bool frames_chain(std::span<const std::uint8_t> bytes, bool whole_rest) {
    return frames_chain_from(bytes, 0, whole_rest);
}

SongKind audio_kind(std::span<const std::uint8_t> bytes, bool whole_rest) {
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "OggS", 4) == 0)
        return SongKind::ogg;
    const std::size_t last_start = std::min(bytes.size(), mp3_search_bytes);
    for (std::size_t at = 0; at + 4 <= bytes.size() && at < last_start; ++at) {
        if (bytes[at] == 0xFF && (bytes[at + 1] & 0xE0) == 0xE0 &&
            frames_chain_from(bytes, at, whole_rest)) {
            return SongKind::mp3;
        }
    }
    return SongKind::none;
}

std::optional<SongStart> probe_song(const ReadAt& read_at) {
    // Some taggers write a second tag after the first; more than a few is no song.
    constexpr int most_tags = 4;
    std::uint64_t offset = 0;
    std::array<std::uint8_t, 10> tag_header{};
    for (int tag = 0; tag < most_tags; ++tag) {
        const auto got = read_at(offset, tag_header);
        if (!got)
            return std::nullopt;
        const std::size_t size = id3v2_tag_size(std::span(tag_header).first(*got));
        if (size == 0)
            break;
        offset += size;
    }
    std::vector<std::uint8_t> window(probe_window_bytes);
    const auto got = read_at(offset, window);
    if (!got)
        return std::nullopt;
    window.resize(*got);
    return SongStart{audio_kind(window, *got < probe_window_bytes), offset};
}

}  // namespace morvelta
