// Songs made at test time for checking what the program plays: sine tones at any rate and
// channel count, and Ogg Vorbis songs that declare a format they do not hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace morvelta::testing {

// `seconds` of a `frequency` sine at half of full scale on every channel. Ogg and WAV come
// from sox; MP3 from lame, with the gapless header real players meet.
void make_tone(const std::filesystem::path& path, int rate, int channels, double seconds,
               double frequency = 440.0);

// The 16-bit samples a song holds at its own rate, as sox decodes it.
std::string decoded_by_sox(const std::filesystem::path& path);

// An Ogg Vorbis song whose identification header claims `channels` and `rate`, its page
// checksum made right again, so that only the claim is wrong.
std::string with_declared_format(std::string ogg, int channels, std::uint32_t rate);

}  // namespace morvelta::testing
