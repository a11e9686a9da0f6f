// Damaged songs, made at test time from good ones: cut short, bits flipped, headers edited.
// Each is decoded straight through the decoder module, as fast as it decodes: it must
// either be refused with Format at once or play to an end, and nothing may reach standard
// error (a sanitizer report there fails the test too).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <ostream>
#include <random>
#include <vector>

#include "song_decoder.hpp"
#include "song_probe.hpp"
#include "test_support.hpp"

namespace morvelta {
// Failure messages name formats by rate and channels (found by argument lookup, so here).
static void PrintTo(const SongFormat& format, std::ostream* out) {
    *out << format.channels << " channels at " << format.rate << " Hz";
}
}  // namespace morvelta

namespace morvelta::testing {
namespace {

// Standard error sent to a file for the life of the object.
class CapturedStandardError {
  public:
    explicit CapturedStandardError(const fs::path& file)
        : file_(file),
          saved_(::dup(2)),
          sink_(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)) {
        ::dup2(sink_, 2);
    }
    ~CapturedStandardError() { restore(); }
    // Puts standard error back and gives what was written to it.
    std::string restore() {
        if (saved_ >= 0) {
            ::dup2(saved_, 2);
            ::close(saved_);
            ::close(sink_);
            saved_ = -1;
        }
        return read_file(file_);
    }

  private:
    fs::path file_;
    int saved_;
    int sink_;
};

struct Outcome {
    FMOD_RESULT result = FMOD_OK;
    std::uint64_t length_ns = 0;
    std::uint64_t played_ns = 0;
    bool ended = false;
    std::uint64_t replayed_ns = 0;    // after a rewind
    std::vector<SongFormat> formats;  // each format played, in the order the song reached it
};

// Decodes the whole song, noting each change of format; gives up (not ended) past ten times
// its stated length.
std::uint64_t play_through(SongDecoder& decoder, bool& ended, std::vector<SongFormat>& formats) {
    constexpr std::size_t chunk = 4096;
    std::vector<float> buffer(chunk * max_song_channels);
    const std::uint64_t limit_ns = decoder.length_ns() * 10 + 1'000'000'000;
    std::uint64_t played_ns = 0;
    ended = false;
    while (played_ns <= limit_ns) {
        const std::size_t got = decoder.read(buffer.data(), chunk);
        if (got == 0) {
            ended = true;
            break;
        }
        EXPECT_LE(got, chunk);
        EXPECT_TRUE(playable(decoder.format()));
        if (formats.empty() || formats.back() != decoder.format())
            formats.push_back(decoder.format());
        played_ns += duration_ns(got, decoder.format().rate);
    }
    return played_ns;
}

Outcome decode_through(const fs::path& path) {
    Outcome outcome;
    auto decoder = open_song_decoder(path.c_str(), outcome.result);
    if (decoder == nullptr)
        return outcome;
    outcome.length_ns = decoder->length_ns();
    outcome.played_ns = play_through(*decoder, outcome.ended, outcome.formats);
    bool ended_again = false;
    std::vector<SongFormat> formats_again;
    if (outcome.ended && decoder->rewind())
        outcome.replayed_ns = play_through(*decoder, ended_again, formats_again);
    return outcome;
}

class SongMutations : public ::testing::Test {
  protected:
    // Every variant is written, decoded and checked; `name` tells them apart in failures.
    Outcome check(const std::string& name, const std::string& bytes) {
        SCOPED_TRACE(name);
        const fs::path song = dir_.write("song", bytes);
        CapturedStandardError captured(dir_.path() / "stderr.txt");
        const Outcome outcome = decode_through(song);
        const std::string err = captured.restore();
        EXPECT_EQ(err, "");
        if (outcome.result != FMOD_OK) {
            EXPECT_EQ(outcome.result, FMOD_ERR_FORMAT);
        } else {
            EXPECT_TRUE(outcome.ended);
            EXPECT_EQ(outcome.replayed_ns, outcome.played_ns);
        }
        ++(outcome.result == FMOD_OK ? played_ : refused_);
        return outcome;
    }

    // Cuts, single-bit flips and bursts of flips, overwritten stretches and inserted noise.
    void check_mutations(const std::string& kind, const std::string& good, std::uint32_t seed) {
        std::mt19937 random(seed);
        const auto at = [&](std::size_t size) {
            return std::uniform_int_distribution<std::size_t>(0, size - 1)(random);
        };
        for (std::size_t cut : {std::size_t{1}, std::size_t{4}, std::size_t{30}, std::size_t{300},
                                good.size() / 3, good.size() - 1}) {
            check(kind + " cut to " + std::to_string(cut), good.substr(0, cut));
        }
        for (int round = 0; round < 12; ++round) {
            std::string bytes = good;
            const int flips = round < 4 ? 1 : round < 8 ? 20 : 400;
            for (int i = 0; i < flips; ++i)
                bytes[at(bytes.size())] ^= static_cast<char>(1 << (random() % 8));
            check(kind + " with " + std::to_string(flips) + " bit flips, round " +
                      std::to_string(round),
                  bytes);
        }
        // Flips within the first bytes, where headers and stream set-up live.
        for (int round = 0; round < 12; ++round) {
            std::string bytes = good;
            for (int i = 0; i < 3; ++i)
                bytes[at(std::min<std::size_t>(bytes.size(), 200))] ^=
                    static_cast<char>(1 << (random() % 8));
            check(kind + " with its head flipped, round " + std::to_string(round), bytes);
        }
        for (int round = 0; round < 4; ++round) {
            std::string bytes = good;
            const std::size_t from = at(bytes.size());
            const std::size_t count = std::min<std::size_t>(bytes.size() - from, 100 + at(8000));
            const char fill = round % 2 == 0 ? '\0' : static_cast<char>(random());
            bytes.replace(from, count, std::string(count, fill));
            std::string noise(500 + at(3000), '\0');
            for (char& c : noise)
                c = static_cast<char>(random());
            bytes.insert(at(bytes.size()), noise);
            check(kind + " overwritten and with noise inside, round " + std::to_string(round),
                  bytes);
        }
    }

    TempDir dir_;
    int played_ = 0;
    int refused_ = 0;
};

TEST_F(SongMutations, DamagedMp3sPlayToAnEndOrAreRefusedQuietly) {
    make_song(dir_.path() / "good.mp3", 2.0);
    const std::string good = read_file(dir_.path() / "good.mp3");
    check_mutations("mp3", good, 3);
    // A damaged stretch in the middle is skipped; what follows it still plays.
    const Outcome whole = check("mp3 as made", good);
    std::string holed = good;
    holed.replace(good.size() / 2, 3000, std::string(3000, '\0'));
    const Outcome skipped = check("mp3 with a stretch zeroed", holed);
    EXPECT_GT(skipped.played_ns, whole.played_ns * 8 / 10);
    EXPECT_NEAR(static_cast<double>(skipped.played_ns), static_cast<double>(skipped.length_ns),
                30e6);
    // Header edits on every frame: another layer, a bad bitrate, the reserved rate, and the
    // layer II joint-stereo bound the decoder library comments on unasked.
    for (const auto& [name, mask, bits] : {std::tuple{"layer II", 0x00060000u, 0x00040000u},
                                           {"bad bitrate", 0x0000F000u, 0x0000F000u},
                                           {"reserved rate", 0x00000C00u, 0x00000C00u},
                                           {"layer II bound", 0x000EF0F0u, 0x000C4070u}}) {
        std::string bytes = good;
        for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
            if (static_cast<unsigned char>(bytes[i]) != 0xFF ||
                (static_cast<unsigned char>(bytes[i + 1]) & 0xE0) != 0xE0) {
                continue;
            }
            std::uint32_t header = 0;
            for (int b = 0; b < 4; ++b)
                header = header << 8 | static_cast<unsigned char>(bytes[i + b]);
            header = (header & ~mask) | bits;
            for (int b = 0; b < 4; ++b)
                bytes[i + b] = static_cast<char>(header >> (24 - 8 * b));
        }
        check(std::string("mp3 with every frame's header edited: ") + name, bytes);
        check(std::string("mp3 with a second half's headers edited: ") + name,
              good.substr(0, good.size() / 2) + bytes.substr(good.size() / 2));
    }
    // Whole layer II frames of that kind in the middle of the song keep their time as silence.
    std::string layer2(4 + 204, '\0');
    layer2.replace(0, 4, "\xFF\xFD\x40\x70");  // 64 kbps joint stereo, bound 16 past 8
    std::string inserted = good.substr(0, good.size() / 2);
    for (int i = 0; i < 20; ++i)
        inserted += layer2;
    check("mp3 with layer II frames inside", inserted + good.substr(good.size() / 2));
    EXPECT_GT(played_, 20);
}

// After damage the decoder resyncs on the first header it finds. Noise in the middle of a
// song holding one header of another rate, with no frames after it, must neither switch the
// song's format there nor add to its length.
TEST_F(SongMutations, LoneMp3HeaderOfAnotherRateInsideNoiseIsNoPartOfTheSong) {
    make_song(dir_.path() / "good.mp3", 2.0);
    const std::string good = read_file(dir_.path() / "good.mp3");
    const Outcome whole = check("mp3 as made", good);
    ASSERT_EQ(whole.formats.size(), 1u);
    ASSERT_EQ(whole.formats.front().rate, 44100);

    // The first frame boundary past the middle, so that every real frame stays whole.
    const auto bytes = reinterpret_cast<const std::uint8_t*>(good.data());
    std::size_t boundary = id3v2_tag_size(std::span(bytes, good.size()));
    while (boundary < good.size() / 2) {
        ASSERT_LE(boundary + 4, good.size());
        const auto frame = parse_mpeg_header(static_cast<std::uint32_t>(bytes[boundary]) << 24 |
                                             static_cast<std::uint32_t>(bytes[boundary + 1]) << 16 |
                                             static_cast<std::uint32_t>(bytes[boundary + 2]) << 8 |
                                             bytes[boundary + 3]);
        ASSERT_TRUE(frame.has_value()) << "no frame at byte " << boundary;
        boundary += frame->frame_bytes;
    }
    // Noise without a 0xFF byte holds no header but the one put in it.
    std::mt19937 random(11);
    const auto noise = [&](std::size_t count) {
        std::string out(count, '\0');
        for (char& c : out)
            c = static_cast<char>(random() % 0xFF);
        return out;
    };
    // MPEG-1 layer III, 128 kbps at 48 kHz, joint stereo: a frame of 384 bytes.
    const std::string false_header("\xFF\xFB\x94\x64", 4);
    const std::string damaged =
        good.substr(0, boundary) + noise(1500) + false_header + noise(1880) + good.substr(boundary);
    const Outcome outcome = check("mp3 with a 48 kHz header inside noise", damaged);
    ASSERT_EQ(outcome.result, FMOD_OK);
    // One format throughout: the false header starts no part of its own.
    EXPECT_EQ(outcome.formats, whole.formats);
    // Every real frame counts and plays, and nothing else: within a millisecond of the song.
    EXPECT_NEAR(static_cast<double>(outcome.length_ns), static_cast<double>(whole.length_ns), 1e6);
    EXPECT_NEAR(static_cast<double>(outcome.played_ns), static_cast<double>(whole.played_ns), 1e6);
}

TEST_F(SongMutations, DamagedOggsPlayToAnEndOrAreRefusedQuietly) {
    // Noise fills many pages, so that most damage lands in coded sound, not in the headers.
    ASSERT_EQ(run_process({"sox", "-n", "-r", "44100", "-c", "2",
                           (dir_.path() / "good.ogg").string(), "synth", "3", "pinknoise"},
                          {})
                  .exit_status,
              0);
    const std::string good = read_file(dir_.path() / "good.ogg");
    check_mutations("ogg", good, 5);
    EXPECT_GT(played_, 5);
}

}  // namespace
}  // namespace morvelta::testing
