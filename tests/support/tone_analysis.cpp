#include "tone_analysis.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>

namespace morvelta::testing {

std::vector<float> channel_of(const std::string& pcm16, int channels, int channel) {
    const std::size_t frames =
        pcm16.size() / sizeof(std::int16_t) / static_cast<std::size_t>(channels);
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        std::int16_t sample = 0;
        std::memcpy(&sample,
                    pcm16.data() + (i * static_cast<std::size_t>(channels) +
                                    static_cast<std::size_t>(channel)) *
                                       sizeof sample,
                    sizeof sample);
        samples[i] = sample;
    }
    return samples;
}

namespace {

// Least-squares fit of a sin + b cos + c at `frequency`; returns the power of the fitted
// tone and of what is left, summed over the block.
std::pair<double, double> fit_block(const float* block, std::size_t count, double frequency,
                                    int rate) {
    double m[3][3] = {};
    double v[3] = {};
    std::vector<std::array<double, 3>> basis(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
        basis[i] = {std::sin(phase), std::cos(phase), 1.0};
        for (int r = 0; r < 3; ++r) {
            v[r] += basis[i][static_cast<std::size_t>(r)] * block[i];
            for (int c = 0; c < 3; ++c)
                m[r][c] +=
                    basis[i][static_cast<std::size_t>(r)] * basis[i][static_cast<std::size_t>(c)];
        }
    }
    // Gauss-Jordan on the 3x3 normal equations.
    for (int col = 0; col < 3; ++col) {
        const double pivot = m[col][col];
        for (int c = 0; c < 3; ++c)
            m[col][c] /= pivot;
        v[col] /= pivot;
        for (int r = 0; r < 3; ++r) {
            if (r == col)
                continue;
            const double factor = m[r][col];
            for (int c = 0; c < 3; ++c)
                m[r][c] -= factor * m[col][c];
            v[r] -= factor * v[col];
        }
    }
    double tone = 0;
    double rest = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double fitted = v[0] * basis[i][0] + v[1] * basis[i][1];
        const double left = block[i] - fitted - v[2];
        tone += fitted * fitted;
        rest += left * left;
    }
    return {tone, rest};
}

}  // namespace

ToneMeasure measure_tone(const std::vector<float>& samples, int rate) {
    float peak = 0;
    for (float sample : samples)
        peak = std::max(peak, std::abs(sample));
    if (peak == 0)
        throw std::runtime_error("no tone: the recording is silent");
    const float audible = peak / 20;
    std::size_t first = 0;
    while (std::abs(samples[first]) <= audible)
        ++first;
    std::size_t last = samples.size() - 1;
    while (std::abs(samples[last]) <= audible)
        --last;
    ToneMeasure measure;
    measure.start_s = static_cast<double>(first) / rate;
    measure.end_s = static_cast<double>(last) / rate;

    const auto margin = static_cast<std::size_t>(rate / 10);
    if (last - first < 4 * margin)
        throw std::runtime_error("tone too short to measure");
    const std::size_t from = first + margin;
    const std::size_t to = last - margin;
    // Rising zero crossings, placed between samples; a straight line through their times
    // gives the period.
    double sum_n = 0, sum_t = 0, sum_nn = 0, sum_nt = 0;
    double count = 0;
    for (std::size_t i = from; i + 1 < to; ++i) {
        if (samples[i] < 0 && samples[i + 1] >= 0) {
            const double t = static_cast<double>(i) + samples[i] / (samples[i] - samples[i + 1]);
            sum_n += count;
            sum_t += t;
            sum_nn += count * count;
            sum_nt += count * t;
            count += 1;
        }
    }
    const double period = (count * sum_nt - sum_n * sum_t) / (count * sum_nn - sum_n * sum_n);
    measure.frequency = rate / period;

    // Noise in blocks of a tenth of a second, short enough for the fitted phase to hold.
    const std::size_t block = margin;
    double tone = 0;
    double rest = 0;
    for (std::size_t at = from; at + block <= to; at += block) {
        const auto [t, r] = fit_block(samples.data() + at, block, measure.frequency, rate);
        tone += t;
        rest += r;
    }
    measure.snr_db = 10 * std::log10(tone / std::max(rest, 1e-30));
    return measure;
}

}  // namespace morvelta::testing
