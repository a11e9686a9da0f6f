// Ogg Vorbis decoding through libvorbisfile.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <SDL2/SDL_endian.h>
#include <unistd.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "song_decoder.hpp"

namespace morvelta {

namespace {

// Ogg Vorbis through libvorbisfile, reading our own descriptor.
class OggDecoder final : public SongDecoder {
  public:
    static std::unique_ptr<OggDecoder> open(std::unique_ptr<FileDescriptor> file,
                                            std::uint64_t audio_offset, FMOD_RESULT& result) {
        std::unique_ptr<OggDecoder> decoder(new OggDecoder(std::move(file), audio_offset));
        result = decoder->start();
        if (result != FMOD_OK)
            return nullptr;
        return decoder;
    }

    ~OggDecoder() override {
        if (opened_)
            ov_clear(&file_state_);
    }

    std::size_t read(std::int16_t* out, std::size_t frames) override {
        const std::size_t frame_bytes = sizeof(std::int16_t) * static_cast<std::size_t>(channels_);
        const int bytes = static_cast<int>(std::min<std::size_t>(frames * frame_bytes, 1 << 20));
        for (;;) {
            int section = 0;
            const long got = ov_read(&file_state_, reinterpret_cast<char*>(out), bytes,
                                     SDL_BYTEORDER == SDL_BIG_ENDIAN ? 1 : 0, 2, 1, &section);
            if (got == OV_HOLE)
                continue;  // a gap in the data: go on after it
            if (got <= 0)
                return 0;
            const vorbis_info* info = ov_info(&file_state_, section);
            // A chained stream that changes format mid-song ends the song there.
            if (info == nullptr || info->rate != rate_ || info->channels != channels_)
                return 0;
            return static_cast<std::size_t>(got) / frame_bytes;
        }
    }

    bool rewind() override { return ov_pcm_seek(&file_state_, 0) == 0; }

  private:
    OggDecoder(std::unique_ptr<FileDescriptor> file, std::uint64_t audio_offset)
        : file_(std::move(file)), audio_offset_(static_cast<off_t>(audio_offset)) {}

    // libvorbisfile sees the file from the Ogg stream on: tags in front of it are not its.

    static std::size_t read_file(void* out, std::size_t size, std::size_t count, void* source) {
        const int fd = static_cast<OggDecoder*>(source)->file_->get();
        ssize_t got;
        do {
            got = ::read(fd, out, size * count);
        } while (got < 0 && errno == EINTR);
        if (got < 0)
            return 0;
        return static_cast<std::size_t>(got) / (size == 0 ? 1 : size);
    }
    static int seek_file(void* source, ogg_int64_t offset, int whence) {
        const auto* decoder = static_cast<OggDecoder*>(source);
        const off_t base = whence == SEEK_SET ? decoder->audio_offset_ : 0;
        return ::lseek(decoder->file_->get(), base + static_cast<off_t>(offset), whence) < 0 ? -1
                                                                                             : 0;
    }
    static long tell_file(void* source) {
        const auto* decoder = static_cast<OggDecoder*>(source);
        return static_cast<long>(::lseek(decoder->file_->get(), 0, SEEK_CUR) -
                                 decoder->audio_offset_);
    }

    FMOD_RESULT start() {
        if (::lseek(file_->get(), audio_offset_, SEEK_SET) < 0)
            return FMOD_ERR_FILE_BAD;
        const ov_callbacks callbacks{read_file, seek_file, nullptr, tell_file};
        const int opened = ov_open_callbacks(this, &file_state_, nullptr, 0, callbacks);
        if (opened == OV_EREAD)
            return FMOD_ERR_FILE_BAD;
        if (opened != 0)
            return FMOD_ERR_FORMAT;
        opened_ = true;
        const vorbis_info* info = ov_info(&file_state_, -1);
        const ogg_int64_t frames = ov_pcm_total(&file_state_, -1);
        if (info == nullptr || info->channels <= 0 || info->rate <= 0 || frames <= 0) {
            return FMOD_ERR_FORMAT;
        }
        rate_ = static_cast<int>(info->rate);
        channels_ = info->channels;
        total_frames_ = static_cast<std::uint64_t>(frames);
        return FMOD_OK;
    }

    std::unique_ptr<FileDescriptor> file_;
    off_t audio_offset_;
    OggVorbis_File file_state_{};
    bool opened_ = false;
};

}  // namespace

std::unique_ptr<SongDecoder> open_ogg_decoder(std::unique_ptr<FileDescriptor> file,
                                              std::uint64_t audio_offset, FMOD_RESULT& result) {
    return OggDecoder::open(std::move(file), audio_offset, result);
}

}  // namespace morvelta
