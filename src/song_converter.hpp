// Conversion of a song to the output: each part's channels mapped (or mixed down) to the
// output's speakers, its rate converted by libsoxr, and the result handed over as 16-bit
// samples. Frames are pulled from the decoder as the output asks for them; a part that
// changes the rate drains the resampler before the next part starts, so no frame is lost.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "song_decoder.hpp"

struct soxr;  // libsoxr's resampler

namespace morvelta {

// How much of each of a song's channels goes to each output channel: rows are output
// channels, columns the song's. Song channels are in Vorbis order, output channels in SDL's.
// Mono is heard on both sides; what the output lacks is folded into the nearest speakers
// (centre and surrounds at -3 dB), the low-frequency channel is left out when the output has
// none, and the whole is scaled so that no output channel can exceed full scale.
using MixMatrix = std::array<std::array<float, max_song_channels>, max_song_channels>;
MixMatrix mix_matrix(int song_channels, int output_channels);

class SongConverter {
  public:
    // A converter reading `decoder`, which must outlive it; null when out of memory.
    static std::unique_ptr<SongConverter> create(SongDecoder& decoder, int output_rate,
                                                 int output_channels);
    ~SongConverter();
    SongConverter(const SongConverter&) = delete;
    SongConverter& operator=(const SongConverter&) = delete;

    // Writes up to `frames` frames of `output_channels` samples to `out`; fewer only where
    // the song ends, 0 after it. Allocates nothing except where the song changes its rate.
    std::size_t fill(std::int16_t* out, std::size_t frames);

  private:
    SongConverter(SongDecoder& decoder, int output_rate, int output_channels);
    std::size_t produce(float* out, std::size_t frames);
    bool configure(SongFormat format);
    void mix(std::size_t frames);
    std::size_t drain(float* out, std::size_t frames);

    SongDecoder& decoder_;
    const int output_rate_;
    const int output_channels_;

    std::vector<float> decoded_;    // frames as the decoder gave them
    std::vector<float> mixed_;      // the same in the output's channels, before rate conversion
    std::vector<float> converted_;  // output frames before they become 16-bit samples
    std::size_t mixed_frames_ = 0;
    std::size_t mixed_used_ = 0;

    bool configured_ = false;
    SongFormat part_;  // format of the part being converted
    MixMatrix matrix_{};
    soxr* resampler_ = nullptr;  // null while the part is at the output's rate

    // Decoded frames of a part at another rate, waiting for the resampler to drain.
    std::size_t waiting_frames_ = 0;
    SongFormat waiting_format_;
    bool song_over_ = false;
};

}  // namespace morvelta
