// MP3 decoding through libmpg123.
#include <mpg123.h>

#include <algorithm>
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

    std::size_t read(float* out, std::size_t frames) override {
        if (format_changed_) {
            format_changed_ = false;
            if (!take_format())
                return 0;
        }
        // A step may yield no samples (a frame header, a format note); a few in a row are
        // normal, an endless run is not.
        for (int attempt = 0; attempt < 64; ++attempt) {
            const std::size_t frame_bytes =
                sizeof(float) * static_cast<std::size_t>(format_.channels);
            std::size_t done = 0;
            const int status = mpg123_read(handle_, reinterpret_cast<unsigned char*>(out),
                                           frames * frame_bytes, &done);
            // What came with a format note still has the old format; the new one starts
            // with the next read.
            if (status == MPG123_NEW_FORMAT) {
                if (done == 0 && !take_format())
                    return 0;
                format_changed_ = done > 0;
            }
            if (done > 0)
                return done / frame_bytes;
            if (status == MPG123_OK || status == MPG123_NEW_FORMAT)
                continue;
            break;
        }
        // The end or a decoding error: the song ends here.
        return 0;
    }

    // libmpg123 answers with the offset it reached, which is not always 0 in a song whose
    // rate changes.
    bool rewind() override { return mpg123_seek(handle_, 0, SEEK_SET) >= 0; }

  private:
    explicit Mp3Decoder(std::unique_ptr<FileDescriptor> file) : file_(std::move(file)) {}

    FMOD_RESULT start() {
        int error = MPG123_OK;
        handle_ = mpg123_new(nullptr, &error);
        if (handle_ == nullptr)
            return FMOD_ERR_MEMORY;
        mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
        // Any rate and channel count the file has, always as float samples.
        mpg123_format_none(handle_);
        const long* rates = nullptr;
        std::size_t rate_count = 0;
        mpg123_rates(&rates, &rate_count);
        for (std::size_t i = 0; i < rate_count; ++i) {
            mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
        }
        if (mpg123_open_fd(handle_, file_->get()) != MPG123_OK)
            return FMOD_ERR_FORMAT;
        if (!take_format())
            return FMOD_ERR_FORMAT;
        if (!measure_length())
            return FMOD_ERR_FORMAT;
        return FMOD_OK;
    }

    // Walks every frame header once, as a full scan would: that makes the length exact even
    // without a header that states it, and lets libmpg123 place the end of a gapless song.
    // Parts at other rates count at their own rate. Leaves the decoder at the first frame.
    bool measure_length() {
        const SongFormat first = format_;
        // The frame libmpg123 read to learn the format is the first one counted.
        std::uint64_t part_frames = static_cast<std::uint64_t>(std::max(0, mpg123_spf(handle_)));
        std::uint64_t walked_ns = 0;
        bool changed = false;
        for (;;) {
            const int status = mpg123_framebyframe_next(handle_);
            if (status == MPG123_NEW_FORMAT) {
                walked_ns += duration_ns(part_frames, format_.rate);
                part_frames = 0;
                changed = true;
                if (!take_format())
                    return false;  // a part we could not play
            } else if (status != MPG123_OK) {
                break;
            }
            part_frames += static_cast<std::uint64_t>(std::max(0, mpg123_spf(handle_)));
        }
        walked_ns += duration_ns(part_frames, format_.rate);
        format_ = first;
        const off_t played = mpg123_length(handle_);
        if (played <= 0 || mpg123_seek(handle_, 0, SEEK_SET) < 0)
            return false;
        if (!changed) {
            length_ns_ = duration_ns(static_cast<std::uint64_t>(played), first.rate);
            return true;
        }
        // A gapless song's decoder leaves out the encoder's delay at the start and its
        // padding at the end; both are counted in the first part's frames.
        long delay = 0;
        long padding = 0;
        double unused = 0;
        if (mpg123_getstate(handle_, MPG123_ENC_DELAY, &delay, &unused) != MPG123_OK ||
            mpg123_getstate(handle_, MPG123_ENC_PADDING, &padding, &unused) != MPG123_OK) {
            delay = padding = 0;
        }
        const auto trimmed =
            static_cast<std::uint64_t>(std::max(0L, delay) + std::max(0L, padding));
        length_ns_ = walked_ns - std::min(walked_ns, duration_ns(trimmed, first.rate));
        return length_ns_ > 0;
    }

    // Reads the format libmpg123 decodes to now; false for one we do not play.
    bool take_format() {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        if (mpg123_getformat(handle_, &rate, &channels, &encoding) != MPG123_OK ||
            encoding != MPG123_ENC_FLOAT_32) {
            return false;
        }
        format_ = {static_cast<int>(rate), channels};
        return playable(format_);
    }

    std::unique_ptr<FileDescriptor> file_;
    mpg123_handle* handle_ = nullptr;
    bool format_changed_ = false;
};

}  // namespace

std::unique_ptr<SongDecoder> open_mp3_decoder(std::unique_ptr<FileDescriptor> file,
                                              FMOD_RESULT& result) {
    return Mp3Decoder::open(std::move(file), result);
}

}  // namespace morvelta
