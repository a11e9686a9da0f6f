#include "song_converter.hpp"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace morvelta {

namespace {

// Frames decoded per step, and output frames converted per step.
constexpr std::size_t decode_chunk_frames = 2048;
constexpr std::size_t convert_chunk_frames = 1024;

enum Speaker {
    mono,
    front_left,
    front_right,
    centre,
    lfe,
    back_left,
    back_right,
    back_centre,
    side_left,
    side_right,
    speaker_count
};

using Layout = std::array<Speaker, max_song_channels>;

// Vorbis channel order, by channel count.
Layout song_layout(int channels) {
    switch (channels) {
        case 1:
            return {mono};
        case 2:
            return {front_left, front_right};
        case 3:
            return {front_left, centre, front_right};
        case 4:
            return {front_left, front_right, back_left, back_right};
        case 5:
            return {front_left, centre, front_right, back_left, back_right};
        case 6:
            return {front_left, centre, front_right, back_left, back_right, lfe};
        case 7:
            return {front_left, centre, front_right, side_left, side_right, back_centre, lfe};
        default:
            return {front_left, centre,    front_right, side_left,
                    side_right, back_left, back_right,  lfe};
    }
}

// SDL's channel order, by channel count.
Layout output_layout(int channels) {
    switch (channels) {
        case 1:
            return {mono};
        case 2:
            return {front_left, front_right};
        case 3:
            return {front_left, front_right, lfe};
        case 4:
            return {front_left, front_right, back_left, back_right};
        case 5:
            return {front_left, front_right, lfe, back_left, back_right};
        case 6:
            return {front_left, front_right, centre, lfe, back_left, back_right};
        case 7:
            return {front_left, front_right, centre, lfe, back_centre, side_left, side_right};
        default:
            return {front_left, front_right, centre,    lfe,
                    back_left,  back_right,  side_left, side_right};
    }
}

constexpr float minus_3_db = 0.70710678f;

}  // namespace

MixMatrix mix_matrix(int song_channels, int output_channels) {
    song_channels = std::clamp(song_channels, 1, max_song_channels);
    output_channels = std::clamp(output_channels, 1, max_song_channels);
    const Layout from = song_layout(song_channels);
    const Layout to = output_layout(output_channels);
    auto index_of = [&](Speaker speaker) {
        for (int i = 0; i < output_channels; ++i) {
            if (to[static_cast<std::size_t>(i)] == speaker)
                return i;
        }
        return -1;
    };
    // Speaker-to-speaker gains; each speaker the output lacks is folded into the ones next
    // to it, until only speakers the output has are left.
    std::array<std::array<float, speaker_count>, speaker_count> gains{};
    auto send = [&](auto& self, Speaker source, Speaker target, float gain) -> void {
        if (gain == 0.0f)
            return;
        if (index_of(target) >= 0) {
            gains[static_cast<std::size_t>(target)][static_cast<std::size_t>(source)] += gain;
            return;
        }
        const bool mono_out = index_of(mono) >= 0;
        switch (target) {
            case mono:
                self(self, source, front_left, gain);
                self(self, source, front_right, gain);
                break;
            case front_left:
            case front_right:
                if (mono_out)
                    self(self, source, mono, gain);
                break;
            case centre:
                self(self, source, front_left, gain * minus_3_db);
                self(self, source, front_right, gain * minus_3_db);
                break;
            case lfe:
                break;  // no bass speaker: left out, as players do
            case back_left:
                if (index_of(side_left) >= 0)
                    self(self, source, side_left, gain);
                else
                    self(self, source, front_left, gain * minus_3_db);
                break;
            case back_right:
                if (index_of(side_right) >= 0)
                    self(self, source, side_right, gain);
                else
                    self(self, source, front_right, gain * minus_3_db);
                break;
            case side_left:
                if (index_of(back_left) >= 0)
                    self(self, source, back_left, gain);
                else
                    self(self, source, front_left, gain * minus_3_db);
                break;
            case side_right:
                if (index_of(back_right) >= 0)
                    self(self, source, back_right, gain);
                else
                    self(self, source, front_right, gain * minus_3_db);
                break;
            case back_centre:
                self(self, source, back_left, gain * minus_3_db);
                self(self, source, back_right, gain * minus_3_db);
                break;
            case speaker_count:
                break;
        }
    };
    for (int c = 0; c < song_channels; ++c) {
        const Speaker speaker = from[static_cast<std::size_t>(c)];
        send(send, speaker, speaker, 1.0f);
    }

    MixMatrix matrix{};
    float loudest_row = 0.0f;
    for (int o = 0; o < output_channels; ++o) {
        float row = 0.0f;
        for (int c = 0; c < song_channels; ++c) {
            const float gain = gains[static_cast<std::size_t>(to[static_cast<std::size_t>(o)])]
                                    [static_cast<std::size_t>(from[static_cast<std::size_t>(c)])];
            matrix[static_cast<std::size_t>(o)][static_cast<std::size_t>(c)] = gain;
            row += gain;
        }
        loudest_row = std::max(loudest_row, row);
    }
    if (loudest_row > 1.0f) {
        for (auto& row : matrix) {
            for (float& gain : row)
                gain /= loudest_row;
        }
    }
    return matrix;
}

SongConverter::SongConverter(SongDecoder& decoder, int output_rate, int output_channels)
    : decoder_(decoder), output_rate_(output_rate), output_channels_(output_channels) {}

std::unique_ptr<SongConverter> SongConverter::create(SongDecoder& decoder, int output_rate,
                                                     int output_channels) {
    if (output_rate <= 0 || output_channels < 1 || output_channels > max_song_channels)
        return nullptr;
    try {
        std::unique_ptr<SongConverter> converter(
            new SongConverter(decoder, output_rate, output_channels));
        const auto channels = static_cast<std::size_t>(output_channels);
        converter->decoded_.resize(decode_chunk_frames * max_song_channels);
        converter->mixed_.resize(decode_chunk_frames * channels);
        converter->converted_.resize(convert_chunk_frames * channels);
        return converter;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

SongConverter::~SongConverter() {
    if (resampler_ != nullptr)
        soxr_delete(resampler_);
}

std::size_t SongConverter::fill(std::int16_t* out, std::size_t frames) {
    const auto channels = static_cast<std::size_t>(output_channels_);
    std::size_t written = 0;
    while (written < frames) {
        const std::size_t got =
            produce(converted_.data(), std::min(frames - written, convert_chunk_frames));
        if (got == 0)
            break;
        const float* from = converted_.data();
        std::int16_t* to = out + written * channels;
        for (std::size_t i = 0; i < got * channels; ++i) {
            const float sample = std::clamp(from[i] * 32768.0f, -32768.0f, 32767.0f);
            to[i] = static_cast<std::int16_t>(std::lrint(sample));
        }
        written += got;
    }
    return written;
}

// Up to `frames` converted frames, floats in the output's channels.
std::size_t SongConverter::produce(float* out, std::size_t frames) {
    const auto channels = static_cast<std::size_t>(output_channels_);
    for (;;) {
        if (mixed_used_ < mixed_frames_) {
            const float* from = mixed_.data() + mixed_used_ * channels;
            const std::size_t left = mixed_frames_ - mixed_used_;
            if (resampler_ == nullptr) {
                const std::size_t count = std::min(left, frames);
                std::memcpy(out, from, count * channels * sizeof(float));
                mixed_used_ += count;
                return count;
            }
            std::size_t taken = 0;
            std::size_t given = 0;
            if (soxr_process(resampler_, from, left, &taken, out, frames, &given) != nullptr) {
                song_over_ = true;
                mixed_used_ = mixed_frames_;
                continue;
            }
            mixed_used_ += taken;
            if (given > 0)
                return given;
            // A resampler that neither takes nor gives would hold the output forever.
            if (taken == 0)
                mixed_used_ = mixed_frames_;
            continue;
        }
        if (waiting_frames_ > 0) {
            // The old rate's last frames leave the resampler before the new part goes in.
            if (const std::size_t drained = drain(out, frames); drained > 0)
                return drained;
            if (!configure(waiting_format_)) {
                waiting_frames_ = 0;
                song_over_ = true;
                continue;
            }
            mix(waiting_frames_);
            waiting_frames_ = 0;
            continue;
        }
        if (song_over_)
            return drain(out, frames);
        const std::size_t got = decoder_.read(decoded_.data(), decode_chunk_frames);
        if (got == 0) {
            song_over_ = true;
            continue;
        }
        const SongFormat format = decoder_.format();
        if (!configured_ || format.rate != part_.rate) {
            if (configured_ && resampler_ != nullptr) {
                waiting_frames_ = got;
                waiting_format_ = format;
                continue;
            }
            if (!configure(format)) {
                song_over_ = true;
                continue;
            }
        } else if (format.channels != part_.channels) {
            part_ = format;
            matrix_ = mix_matrix(format.channels, output_channels_);
        }
        mix(got);
    }
}

// The resampler's last frames at the end of a part; 0 once it has none left.
std::size_t SongConverter::drain(float* out, std::size_t frames) {
    if (resampler_ == nullptr)
        return 0;
    std::size_t given = 0;
    if (soxr_process(resampler_, nullptr, 0, nullptr, out, frames, &given) != nullptr)
        return 0;
    return given;
}

// Sets the conversion up for a part in `format`; false when no resampler can be had.
bool SongConverter::configure(SongFormat format) {
    if (!playable(format))
        return false;
    if (resampler_ != nullptr && (!configured_ || format.rate != part_.rate)) {
        soxr_delete(resampler_);
        resampler_ = nullptr;
    }
    configured_ = true;
    part_ = format;
    matrix_ = mix_matrix(format.channels, output_channels_);
    if (format.rate == output_rate_ || resampler_ != nullptr)
        return true;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    // 20-bit precision: its noise stays below the 16-bit output's own, at a fraction of the
    // very high quality's cost.
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    resampler_ = soxr_create(format.rate, output_rate_, static_cast<unsigned>(output_channels_),
                             &error, &io, &quality, &runtime);
    if (error != nullptr && resampler_ != nullptr) {
        soxr_delete(resampler_);
        resampler_ = nullptr;
    }
    return resampler_ != nullptr;
}

// Maps the first `frames` decoded frames to the output's channels.
void SongConverter::mix(std::size_t frames) {
    const auto from_channels = static_cast<std::size_t>(part_.channels);
    const auto to_channels = static_cast<std::size_t>(output_channels_);
    const float* from = decoded_.data();
    float* to = mixed_.data();
    for (std::size_t i = 0; i < frames; ++i) {
        for (std::size_t o = 0; o < to_channels; ++o) {
            float sum = 0.0f;
            for (std::size_t c = 0; c < from_channels; ++c)
                sum += matrix_[o][c] * from[c];
            to[o] = sum;
        }
        from += from_channels;
        to += to_channels;
    }
    mixed_frames_ = frames;
    mixed_used_ = 0;
}

}  // namespace morvelta
