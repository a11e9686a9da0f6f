#include "song_probe.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace morvelta {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// One frame: the header, then zeros up to the size the header gives.
Bytes frame(std::uint32_t header) {
    const auto parsed = parse_mpeg_header(header);
    Bytes out(parsed ? parsed->frame_bytes : 4, 0);
    for (int i = 0; i < 4; ++i)
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(header >> (24 - 8 * i));
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes repeated(const Bytes& part, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i)
        out = out + part;
    return out;
}

// MPEG-1 layer III, 128 kbps, 44.1 kHz, joint stereo: what LAME writes by default.
constexpr std::uint32_t lame_header = 0xFFFB9064;

TEST(MpegHeader, SizesFramesOfEveryLayerAndVersion) {
    const auto mp3 = parse_mpeg_header(lame_header);
    ASSERT_TRUE(mp3);
    EXPECT_EQ(mp3->version, 10);
    EXPECT_EQ(mp3->layer, 3);
    EXPECT_EQ(mp3->bitrate_kbps, 128);
    EXPECT_EQ(mp3->sample_rate, 44100);
    EXPECT_EQ(mp3->frame_bytes, 417u);
    EXPECT_EQ(parse_mpeg_header(lame_header | 0x200)->frame_bytes, 418u);  // padded
    // MPEG-2 layer III, 64 kbps, 22.05 kHz: half the samples a frame.
    EXPECT_EQ(parse_mpeg_header(0xFFF38064)->frame_bytes, 208u);
    // MPEG-2.5 layer III, 8 kbps, 8 kHz.
    EXPECT_EQ(parse_mpeg_header(0xFFE31864)->sample_rate, 8000);
    // MPEG-1 layer I, 384 kbps, 48 kHz, and layer II, 192 kbps, 32 kHz.
    EXPECT_EQ(parse_mpeg_header(0xFFFFC400)->frame_bytes, 384u);
    EXPECT_EQ(parse_mpeg_header(0xFFFDA800)->frame_bytes, 864u);
}

TEST(MpegHeader, RefusesReservedValuesAndModesTheBitrateDoesNotAllow) {
    EXPECT_FALSE(parse_mpeg_header(0xFFEB9064));  // reserved version
    EXPECT_FALSE(parse_mpeg_header(0xFFF99064));  // reserved layer
    EXPECT_FALSE(parse_mpeg_header(0xFFFBF064));  // bad bitrate
    EXPECT_FALSE(parse_mpeg_header(0xFFFB0064));  // free bitrate
    EXPECT_FALSE(parse_mpeg_header(0xFFFB9C64));  // reserved rate
    EXPECT_FALSE(parse_mpeg_header(0xFFFB9066));  // reserved emphasis
    EXPECT_FALSE(parse_mpeg_header(0x7FFB9064));  // no sync
    EXPECT_FALSE(parse_mpeg_header(0xFFFD1070));  // layer II, 32 kbps for two channels
    EXPECT_TRUE(parse_mpeg_header(0xFFFD10C0));   // ... and for one
    EXPECT_FALSE(parse_mpeg_header(0xFFFDE0C0));  // 384 kbps for one channel
    EXPECT_TRUE(parse_mpeg_header(0xFFF51070));   // lower rates allow any pairing
}

TEST(MpegHeader, FindsLayerTwoStereoBoundsPastTheCodedSubbands) {
    EXPECT_TRUE(stereo_bound_past_subbands(0xFFFD1070));   // 32 kbps, bound 16 past 8
    EXPECT_TRUE(stereo_bound_past_subbands(0xFFFD4060));   // 64 kbps, bound 12 past 8
    EXPECT_FALSE(stereo_bound_past_subbands(0xFFFD4050));  // bound 8: no further than 8
    EXPECT_FALSE(stereo_bound_past_subbands(0xFFFD4860));  // 32 kHz codes 12
    EXPECT_TRUE(stereo_bound_past_subbands(0xFFFD4870));
    EXPECT_FALSE(stereo_bound_past_subbands(0xFFFD7070));  // 112 kbps codes 27
    EXPECT_FALSE(stereo_bound_past_subbands(0xFFFD4030));  // plain stereo
    EXPECT_FALSE(stereo_bound_past_subbands(0xFFFB1070));  // layer III
    EXPECT_FALSE(stereo_bound_past_subbands(0xFFF51070));  // MPEG-2 codes 30
}

TEST(Id3v2, SizeCountsHeaderBodyAndFooter) {
    EXPECT_EQ(id3v2_tag_size(bytes_of(std::string("ID3\x03\x00\x00\x00\x00\x02\x01", 10))),
              10u + 257u);
    EXPECT_EQ(id3v2_tag_size(bytes_of(std::string("ID3\x04\x00\x10\x00\x00\x00\x05", 10))), 25u);
    EXPECT_EQ(id3v2_tag_size(bytes_of(std::string("ID3\x03\x00\x00\x00\x80\x00\x00", 10))), 0u);
    EXPECT_EQ(id3v2_tag_size(bytes_of(std::string("ID3\x09\x00\x00\x00\x00\x00\x00", 10))), 0u);
    EXPECT_EQ(id3v2_tag_size(bytes_of("ID3")), 0u);
    EXPECT_EQ(id3v2_tag_size(bytes_of("RIFF....WAVEfmt ")), 0u);
}

TEST(AudioKind, MpegNeedsChainedFramesNearTheStart) {
    const Bytes frames = repeated(frame(lame_header), 3);
    EXPECT_EQ(audio_kind(frames, true), SongKind::mp3);
    EXPECT_EQ(audio_kind(Bytes(1000, 0) + frames, true), SongKind::mp3);
    EXPECT_EQ(audio_kind(Bytes(mp3_search_bytes + 1, 0) + frames, true), SongKind::none);
    // Two frames are a whole song only when nothing follows them.
    const Bytes two = repeated(frame(lame_header), 2);
    EXPECT_EQ(audio_kind(two, true), SongKind::mp3);
    EXPECT_EQ(audio_kind(two, false), SongKind::none);
    EXPECT_EQ(audio_kind(two + Bytes(100, 0x55), true), SongKind::none);
    // A frame of another layer or rate breaks the run.
    EXPECT_EQ(audio_kind(repeated(frame(lame_header), 2) + frame(0xFFFB9864), true),
              SongKind::none);
    // A lone header and a header whose size leads nowhere.
    EXPECT_EQ(audio_kind(frame(lame_header) + Bytes(5000, 0), true), SongKind::none);
    EXPECT_EQ(audio_kind(repeated(bytes_of(std::string("\xFF\xFB\x90\x64", 4)), 500), true),
              SongKind::none);
}

TEST(AudioKind, OggAndOtherFormatsAreToldApart) {
    EXPECT_EQ(audio_kind(bytes_of("OggS\0\x02"), true), SongKind::ogg);
    EXPECT_EQ(audio_kind(bytes_of("RIFF\x24\x00\x00\x00WAVEfmt ") + Bytes(8000, 0), true),
              SongKind::none);
    EXPECT_EQ(audio_kind(bytes_of("fLaC") + Bytes(8000, 0), true), SongKind::none);
    EXPECT_EQ(audio_kind(bytes_of("plain words\n"), true), SongKind::none);
    EXPECT_EQ(audio_kind({}, true), SongKind::none);
    // The layer II pattern that sets the decoder talking: its bitrate does not suit its mode.
    EXPECT_EQ(audio_kind(repeated(frame(0xFFFD1070), 200), true), SongKind::none);
    std::mt19937 random(9);
    Bytes noise(probe_window_bytes);
    for (int round = 0; round < 50; ++round) {
        for (auto& byte : noise)
            byte = static_cast<std::uint8_t>(random());
        EXPECT_EQ(audio_kind(noise, false), SongKind::none);
    }
}

TEST(ProbeSong, SkipsEveryTagAndReportsWhereTheAudioStarts) {
    const Bytes tag = bytes_of(std::string("ID3\x03\x00\x00\x00\x00\x01\x00", 10)) + Bytes(128, 0);
    const Bytes file = tag + tag + bytes_of("OggS") + Bytes(100, 0);
    int reads = 0;
    const ReadAt from_memory = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
        ++reads;
        const std::size_t start = std::min<std::size_t>(offset, file.size());
        const std::size_t count = std::min(out.size(), file.size() - start);
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(start), count, out.begin());
        return std::optional<std::size_t>(count);
    };
    const auto start = probe_song(from_memory);
    ASSERT_TRUE(start);
    EXPECT_EQ(start->kind, SongKind::ogg);
    EXPECT_EQ(start->audio_offset, 2 * 138u);
    EXPECT_EQ(reads, 4);

    const ReadAt failing = [](std::uint64_t, std::span<std::uint8_t>) {
        return std::optional<std::size_t>();
    };
    EXPECT_FALSE(probe_song(failing));
}

}  // namespace
}  // namespace morvelta
