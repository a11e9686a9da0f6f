#include "test_songs.hpp"

#include <stdexcept>
#include <vector>

#include "test_support.hpp"

namespace morvelta::testing {
namespace {

void run_or_throw(const std::vector<std::string>& argv) {
    ProcessResult made = run_process(argv, {});
    if (made.exit_status != 0)
        throw std::runtime_error(argv[0] + " failed: " + made.err);
}

// The Ogg page checksum: CRC-32 with polynomial 0x04c11db7, no reflection, over the page with
// its checksum field zeroed.
std::uint32_t ogg_crc(const std::string& page) {
    std::uint32_t crc = 0;
    for (unsigned char byte : page) {
        crc ^= static_cast<std::uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    return crc;
}

}  // namespace

void make_tone(const fs::path& path, int rate, int channels, double seconds, double frequency) {
    fs::create_directories(path.parent_path());
    const std::vector<std::string> tone{
        "synth", std::to_string(seconds), "sine", std::to_string(frequency), "vol", "0.5"};
    auto sox = [&](const fs::path& out) {
        std::vector<std::string> argv{
            "sox", "-n", "-r",        std::to_string(rate), "-c", std::to_string(channels),
            "-b",  "16", out.string()};
        argv.insert(argv.end(), tone.begin(), tone.end());
        run_or_throw(argv);
    };
    if (path.extension() != ".mp3") {
        sox(path);
        return;
    }
    fs::path wav = path;
    wav += ".wav";
    sox(wav);
    run_or_throw({"lame", "--quiet", wav.string(), path.string()});
    fs::remove(wav);
}

std::string decoded_by_sox(const fs::path& path) {
    ProcessResult decoded =
        run_process({"sox", path.string(), "-t", "raw", "-e", "signed", "-b", "16", "-"}, {});
    if (decoded.exit_status != 0)
        throw std::runtime_error("sox failed: " + decoded.err);
    return decoded.out;
}

std::string with_declared_format(std::string ogg, int channels, std::uint32_t rate) {
    // The first page holds the identification header alone: "\x01vorbis", the version, the
    // channel count (one byte), then the rate (four bytes, little-endian).
    const std::size_t segments = static_cast<unsigned char>(ogg.at(26));
    const std::size_t header = 27 + segments;
    if (ogg.compare(header, 7, "\x01vorbis") != 0)
        throw std::runtime_error("not an Ogg Vorbis song");
    std::size_t page_bytes = header;
    for (std::size_t i = 0; i < segments; ++i)
        page_bytes += static_cast<unsigned char>(ogg[27 + i]);
    ogg[header + 11] = static_cast<char>(channels);
    for (int i = 0; i < 4; ++i)
        ogg[header + 12 + static_cast<std::size_t>(i)] = static_cast<char>(rate >> (8 * i));
    ogg.replace(22, 4, 4, '\0');
    const std::uint32_t crc = ogg_crc(ogg.substr(0, page_bytes));
    for (int i = 0; i < 4; ++i)
        ogg[22 + static_cast<std::size_t>(i)] = static_cast<char>(crc >> (8 * i));
    return ogg;
}

}  // namespace morvelta::testing
