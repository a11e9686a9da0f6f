// Opening a song: the file is checked and its decoder chosen by what the file holds.
#include "song_decoder.hpp"

#include <cerrno>
#include <optional>
#include <span>

#include "song_probe.hpp"

namespace morvelta {

bool playable(SongFormat format) {
    return format.rate >= min_song_rate && format.rate <= max_song_rate && format.channels >= 1 &&
           format.channels <= max_song_channels;
}

std::uint64_t duration_ns(std::uint64_t frames, int rate) {
    const auto per_second = static_cast<std::uint64_t>(rate);
    constexpr std::uint64_t ns = 1'000'000'000;
    return frames / per_second * ns + frames % per_second * ns / per_second;
}

std::unique_ptr<SongDecoder> open_song_decoder(const char* name, FMOD_RESULT& result) {
    // Only a regular file is a song: pipes, devices and folders are not read.
    auto opened = open_regular_file(name);
    if (!opened.is_ok()) {
        const int error = opened.error();
        result =
            (error == ENOENT || error == ENOTDIR) ? FMOD_ERR_FILE_NOT_FOUND : FMOD_ERR_FILE_BAD;
        return nullptr;
    }
    auto file = std::make_unique<FileDescriptor>(std::move(opened.value()));
    const auto start = probe_song([&file](std::uint64_t offset, std::span<std::uint8_t> out) {
        return file->read_at(offset, out);
    });
    if (!start) {
        result = FMOD_ERR_FILE_BAD;
        return nullptr;
    }
    switch (start->kind) {
        case SongKind::ogg:
            return open_ogg_decoder(std::move(file), start->audio_offset, result);
        case SongKind::mp3:
            return open_mp3_decoder(std::move(file), result);
        case SongKind::none:
            break;
    }
    // Empty, or anything else: refused at once, before a decoder hunts for frames in it.
    result = FMOD_ERR_FORMAT;
    return nullptr;
}

}  // namespace morvelta
