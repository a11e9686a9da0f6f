// Ogg Vorbis decoding through libvorbisfile.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <unistd.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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

    std::size_t read(float* out, std::size_t frames) override {
        const int wanted = static_cast<int>(std::min<std::size_t>(frames, 1 << 16));
        for (;;) {
            float** planes = nullptr;
            int link = 0;
            const long got = ov_read_float(&file_state_, &planes, wanted, &link);
            if (got == OV_HOLE)
                continue;  // a gap in the data: go on after it
            if (got <= 0)
                return 0;
            // Each read stays within one link; every link's format was checked at opening.
            const vorbis_info* info = ov_info(&file_state_, link);
            if (info == nullptr)
                return 0;
            format_ = {static_cast<int>(info->rate), info->channels};
            const auto count = static_cast<std::size_t>(got);
            const auto channels = static_cast<std::size_t>(info->channels);
            for (std::size_t c = 0; c < channels; ++c) {
                const float* plane = planes[c];
                for (std::size_t i = 0; i < count; ++i)
                    out[i * channels + c] = plane[i];
            }
            return count;
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
        // A chained stream's links may each have a format of their own; the song lasts as
        // long as all of them, each at its own rate.
        const long links = ov_streams(&file_state_);
        for (long link = 0; link < links; ++link) {
            const vorbis_info* info = ov_info(&file_state_, static_cast<int>(link));
            const ogg_int64_t frames = ov_pcm_total(&file_state_, static_cast<int>(link));
            if (info == nullptr || frames < 0 || info->rate > INT32_MAX)
                return FMOD_ERR_FORMAT;
            const SongFormat format{static_cast<int>(info->rate), info->channels};
            if (!playable(format))
                return FMOD_ERR_FORMAT;
            if (link == 0)
                format_ = format;
            length_ns_ += duration_ns(static_cast<std::uint64_t>(frames), format.rate);
        }
        if (links <= 0 || length_ns_ == 0)
            return FMOD_ERR_FORMAT;
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
