// Measures a recorded sine tone: where it is heard, its pitch and how much noise came with
// it. Used on what the audio output wrote and on what a song file itself holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvelta::testing {

struct ToneMeasure {
    double start_s = 0;    // first sample above a twentieth of the tone's peak
    double end_s = 0;      // last such sample
    double frequency = 0;  // Hz, from the rising zero crossings between start and end
    double snr_db = 0;     // tone power against everything else
};

// One channel of interleaved 16-bit samples in native byte order.
std::vector<float> channel_of(const std::string& pcm16, int channels, int channel);

// Measures a tone held by `samples` at `rate`; the first and last 100 ms of the tone are
// left out of the pitch and noise figures, where the tone sets in and dies away.
ToneMeasure measure_tone(const std::vector<float>& samples, int rate);

}  // namespace morvelta::testing
