// The conversion of songs to the output, fed by a decoder of made-up sine tones: every rate
// and layout a song may hold must come out at its pitch, without added noise and whole.
#include "song_converter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "tone_analysis.hpp"

namespace morvelta::testing {
namespace {

constexpr int output_rate = 44100;
constexpr int output_channels = 2;

// One stretch of a made-up song: a sine of `frequency` at half of full scale on every channel.
struct Part {
    SongFormat format;
    double seconds;
    double frequency;
    std::size_t frames() const { return static_cast<std::size_t>(seconds * format.rate); }
};

// Gives its parts in reads of uneven size, as real decoders do.
class ToneDecoder final : public SongDecoder {
  public:
    explicit ToneDecoder(std::vector<Part> parts) : parts_(std::move(parts)) {
        format_ = parts_.front().format;
        for (const Part& part : parts_)
            length_ns_ += duration_ns(part.frames(), part.format.rate);
    }
    std::size_t read(float* out, std::size_t frames) override {
        while (part_ < parts_.size() && done_ == parts_[part_].frames()) {
            ++part_;
            done_ = 0;
        }
        if (part_ == parts_.size())
            return 0;
        const Part& part = parts_[part_];
        format_ = part.format;
        const std::size_t count =
            std::min({frames, part.frames() - done_, 300 + (reads_++ % 7) * 211});
        for (std::size_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(done_ + i) / part.format.rate;
            const auto sample =
                static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * part.frequency * t));
            for (int c = 0; c < part.format.channels; ++c)
                out[i * static_cast<std::size_t>(part.format.channels) +
                    static_cast<std::size_t>(c)] = sample;
        }
        done_ += count;
        return count;
    }
    bool rewind() override { return false; }

  private:
    std::vector<Part> parts_;
    std::size_t part_ = 0;
    std::size_t done_ = 0;
    std::size_t reads_ = 0;
};

// Everything the converter gives, in output buffers of 512 frames, as 16-bit bytes.
std::string convert_all(SongDecoder& decoder) {
    auto converter = SongConverter::create(decoder, output_rate, output_channels);
    EXPECT_NE(converter, nullptr);
    std::string pcm;
    std::vector<std::int16_t> buffer(512 * output_channels);
    for (;;) {
        const std::size_t frames = converter->fill(buffer.data(), 512);
        pcm.append(reinterpret_cast<const char*>(buffer.data()),
                   frames * output_channels * sizeof(std::int16_t));
        if (frames < 512)
            break;
    }
    EXPECT_EQ(converter->fill(buffer.data(), 512), 0u);
    return pcm;
}

TEST(SongConverter, EveryRateAndLayoutComesOutAtItsPitchCleanAndWhole) {
    for (int rate : {8000, 11025, 22050, 32000, 44100, 48000, 96000, 192000}) {
        for (int channels : {1, 2, 6, 8}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels");
            // High enough for the resampler's faults to show, low enough for 8 kHz to hold.
            constexpr double frequency = 2750.0;
            ToneDecoder decoder({{{rate, channels}, 1.5, frequency}});
            const std::string pcm = convert_all(decoder);
            const double seconds =
                static_cast<double>(pcm.size()) / (2 * output_channels) / output_rate;
            EXPECT_NEAR(seconds, 1.5, 0.001);
            for (int c = 0; c < output_channels; ++c) {
                const ToneMeasure tone =
                    measure_tone(channel_of(pcm, output_channels, c), output_rate);
                EXPECT_NEAR(tone.frequency, frequency, frequency * 1e-4);
                EXPECT_GE(tone.snr_db, 80.0);
                EXPECT_LT(tone.start_s, 0.001);
                EXPECT_NEAR(tone.end_s, 1.5, 0.02);
            }
        }
    }
}

TEST(SongConverter, PartsInOtherFormatsFollowEachOtherWithoutLoss) {
    ToneDecoder decoder({{{48000, 2}, 1.0, 440.0},
                         {{22050, 1}, 1.0, 660.0},
                         {{22050, 2}, 0.5, 660.0},
                         {{96000, 6}, 1.0, 550.0}});
    const std::string pcm = convert_all(decoder);
    const std::vector<float> left = channel_of(pcm, output_channels, 0);
    EXPECT_NEAR(static_cast<double>(left.size()) / output_rate, 3.5, 0.002);
    // Each part, cut out with a little room for where the resampler joins them.
    struct Span {
        double from, to, frequency;
    };
    for (const Span& span :
         {Span{0.0, 0.99, 440.0}, Span{1.01, 2.49, 660.0}, Span{2.51, 3.5, 550.0}}) {
        SCOPED_TRACE(span.frequency);
        const std::vector<float> part(left.begin() + static_cast<long>(span.from * output_rate),
                                      left.begin() + static_cast<long>(span.to * output_rate));
        const ToneMeasure tone = measure_tone(part, output_rate);
        EXPECT_NEAR(tone.frequency, span.frequency, span.frequency * 1e-4);
        EXPECT_GE(tone.snr_db, 80.0);
    }
    // The last part is heard to its end.
    EXPECT_NEAR(measure_tone(left, output_rate).end_s, 3.5, 0.02);
}

TEST(SongConverter, ChannelsGoWhereAListenerExpectsThem) {
    // Mono is heard on both sides; stereo to mono is the average.
    const MixMatrix mono_to_stereo = mix_matrix(1, 2);
    EXPECT_FLOAT_EQ(mono_to_stereo[0][0], 1.0f);
    EXPECT_FLOAT_EQ(mono_to_stereo[1][0], 1.0f);
    const MixMatrix stereo_to_mono = mix_matrix(2, 1);
    EXPECT_FLOAT_EQ(stereo_to_mono[0][0], 0.5f);
    EXPECT_FLOAT_EQ(stereo_to_mono[0][1], 0.5f);

    // 5.1 (Vorbis order: L C R BL BR LFE) to stereo: centre and surrounds at -3 dB, no LFE,
    // scaled so that a full-scale signal on every channel does not clip.
    const MixMatrix surround_to_stereo = mix_matrix(6, 2);
    const float scale = 1.0f / (1.0f + 2 * 0.70710678f);
    const std::array<float, 6> left{scale, 0.70710678f * scale, 0, 0.70710678f * scale, 0, 0};
    const std::array<float, 6> right{0, 0.70710678f * scale, scale, 0, 0.70710678f * scale, 0};
    for (std::size_t c = 0; c < 6; ++c) {
        EXPECT_NEAR(surround_to_stereo[0][c], left[c], 1e-6) << c;
        EXPECT_NEAR(surround_to_stereo[1][c], right[c], 1e-6) << c;
    }

    // 5.1 to a 5.1 output only reorders: SDL's order is L R C LFE BL BR.
    const MixMatrix surround = mix_matrix(6, 6);
    const std::array<std::size_t, 6> source_of{0, 2, 1, 5, 3, 4};
    for (std::size_t o = 0; o < 6; ++o) {
        for (std::size_t c = 0; c < 6; ++c)
            EXPECT_FLOAT_EQ(surround[o][c], c == source_of[o] ? 1.0f : 0.0f) << o << "," << c;
    }
}

}  // namespace
}  // namespace morvelta::testing
