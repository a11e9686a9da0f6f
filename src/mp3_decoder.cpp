// MP3 decoding through libmpg123.
#include <mpg123.h>

#include <cstdio>
#include <memory>

#include "song_decoder.hpp"

namespace morvelta {

namespace {

// MP3 through a libmpg123 handle of our own, with its quiet flag set: left to itself
// libmpg123 writes notes about damaged frames to standard error.
class Mp3Decoder final : public SongDecoder {
  public:
    // Takes the open file; `result` tells why a null decoder came back.
    static std::unique_ptr<Mp3Decoder> open(std::unique_ptr<FileDescriptor> file,
                                            FMOD_RESULT& result) {
        static const bool library_ready = mpg123_init() == MPG123_OK;
        if (!library_ready) {
            result = FMOD_ERR_INTERNAL;
            return nullptr;
        }
        std::unique_ptr<Mp3Decoder> decoder(new Mp3Decoder(std::move(file)));
        result = decoder->start();
        if (result != FMOD_OK)
            return nullptr;
        return decoder;
    }

    ~Mp3Decoder() override {
        if (handle_ != nullptr) {
            mpg123_close(handle_);
            mpg123_delete(handle_);
        }
    }

    std::size_t read(std::int16_t* out, std::size_t frames) override {
        const std::size_t frame_bytes = sizeof(std::int16_t) * static_cast<std::size_t>(channels_);
        // A step may yield no samples (a frame header, a format note); a few in a row are
        // normal, an endless run is not.
        for (int attempt = 0; attempt < 64; ++attempt) {
            std::size_t done = 0;
            const int status = mpg123_read(handle_, reinterpret_cast<unsigned char*>(out),
                                           frames * frame_bytes, &done);
            if (done > 0)
                return done / frame_bytes;
            if (status == MPG123_OK || (status == MPG123_NEW_FORMAT && same_format()))
                continue;
            break;
        }
        // The end, a decoding error or a change of format mid-song: the song ends here.
        return 0;
    }

    bool rewind() override { return mpg123_seek(handle_, 0, SEEK_SET) == 0; }

  private:
    explicit Mp3Decoder(std::unique_ptr<FileDescriptor> file) : file_(std::move(file)) {}

    FMOD_RESULT start() {
        int error = MPG123_OK;
        handle_ = mpg123_new(nullptr, &error);
        if (handle_ == nullptr)
            return FMOD_ERR_MEMORY;
        mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
        // Any rate and channel count the file has, always as 16-bit samples.
        mpg123_format_none(handle_);
        const long* rates = nullptr;
        std::size_t rate_count = 0;
        mpg123_rates(&rates, &rate_count);
        for (std::size_t i = 0; i < rate_count; ++i) {
            mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
        }
        if (mpg123_open_fd(handle_, file_->get()) != MPG123_OK)
            return FMOD_ERR_FORMAT;
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        if (mpg123_getformat(handle_, &rate, &channels, &encoding) != MPG123_OK) {
            return FMOD_ERR_FORMAT;
        }
        rate_ = static_cast<int>(rate);
        channels_ = channels;
        // A full scan makes the length exact even without a header that states it.
        if (mpg123_scan(handle_) != MPG123_OK)
            return FMOD_ERR_FORMAT;
        const off_t samples = mpg123_length(handle_);
        if (samples <= 0)
            return FMOD_ERR_FORMAT;
        total_frames_ = static_cast<std::uint64_t>(samples);
        return FMOD_OK;
    }

    bool same_format() {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        return mpg123_getformat(handle_, &rate, &channels, &encoding) == MPG123_OK &&
               rate == rate_ && channels == channels_ && encoding == MPG123_ENC_SIGNED_16;
    }

    std::unique_ptr<FileDescriptor> file_;
    mpg123_handle* handle_ = nullptr;
};

}  // namespace

std::unique_ptr<SongDecoder> open_mp3_decoder(std::unique_ptr<FileDescriptor> file,
                                              FMOD_RESULT& result) {
    return Mp3Decoder::open(std::move(file), result);
}

}  // namespace morvelta
