// MP3 decoding through libmpg123.
#include <mpg123.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

#include "song_decoder.hpp"
#include "song_probe.hpp"

namespace morvelta {

namespace {

// MP3 through a libmpg123 handle of our own, with its quiet flag set: left to itself
// libmpg123 writes notes about damaged frames to standard error. Frames are read and decoded
// one at a time, so that each frame's header is seen before the library decodes it. Damaged
// frames are skipped and playback goes on after them, as players do.
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
        const std::size_t wanted = frames * frame_bytes;
        auto* into = reinterpret_cast<unsigned char*>(out);
        std::size_t done = 0;
        while (done < wanted && !ended_) {
            if (pending_bytes_ > 0) {
                const std::size_t count = std::min(pending_bytes_, wanted - done);
                if (pending_ != nullptr) {
                    std::memcpy(into + done, pending_, count);
                    pending_ += count;
                } else {
                    std::memset(into + done, 0, count);
                }
                pending_bytes_ -= count;
                done += count;
                continue;
            }
            // Opening and seeking leave the first frame read but not yet decoded.
            const int status = frame_waiting_ ? MPG123_OK : mpg123_framebyframe_next(handle_);
            frame_waiting_ = false;
            if (status == MPG123_NEW_FORMAT && !starts_a_run_of_frames()) {
                continue;  // a false frame found in damaged data: skipped, not played
            }
            if (status == MPG123_OK || (status == MPG123_NEW_FORMAT && same_format())) {
                take_frame(frame_bytes);
            } else {
                // The end; damage longer than the resync limit, where the length scan stopped
                // too; or a change of format mid-song: the song ends here.
                ended_ = true;
            }
        }
        return done / frame_bytes;
    }

    bool rewind() override {
        pending_ = nullptr;
        pending_bytes_ = 0;
        ended_ = false;
        frame_waiting_ = true;
        return mpg123_seek(handle_, 0, SEEK_SET) == 0;
    }

  private:
    explicit Mp3Decoder(std::unique_ptr<FileDescriptor> file) : file_(std::move(file)) {}

    FMOD_RESULT start() {
        int error = MPG123_OK;
        handle_ = mpg123_new(nullptr, &error);
        if (handle_ == nullptr)
            return FMOD_ERR_MEMORY;
        mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
        mpg123_param(handle_, MPG123_RESYNC_LIMIT, resync_limit_bytes, 0.0);
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

    // Decodes the frame the decoder has just read, or stands silence in for it.
    void take_frame(std::size_t frame_bytes) {
        unsigned long header = 0;
        unsigned char* body = nullptr;
        std::size_t body_bytes = 0;
        if (mpg123_framedata(handle_, &header, &body, &body_bytes) == MPG123_OK &&
            stereo_bound_past_subbands(static_cast<std::uint32_t>(header))) {
            // libmpg123 would decode this frame only after a note on standard error that its
            // quiet flag does not hold back. Its time is kept with silence.
            const int samples = mpg123_spf(handle_);
            pending_ = nullptr;
            pending_bytes_ = samples > 0 ? static_cast<std::size_t>(samples) * frame_bytes : 0;
            return;
        }
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        if (mpg123_framebyframe_decode(handle_, nullptr, &audio, &bytes) == MPG123_OK) {
            pending_ = audio;
            pending_bytes_ = bytes - bytes % frame_bytes;
        }
    }

    // Whether the frame the decoder has just read begins a run of well-formed frames. After
    // damage the decoder resyncs on the first header it finds, and in the middle of coded
    // data that is often a false one of another rate or channel count: a real change of
    // format goes on with frames of the new kind.
    bool starts_a_run_of_frames() {
        const off_t at = mpg123_framepos(handle_);
        if (at < 0)
            return false;
        std::array<std::uint8_t, chain_window_bytes> window{};
        const auto got = file_->read_at(static_cast<std::uint64_t>(at), window);
        return got && frames_chain(std::span(window).first(*got), *got < window.size());
    }

    bool same_format() {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        return mpg123_getformat(handle_, &rate, &channels, &encoding) == MPG123_OK &&
               rate == rate_ && channels == channels_ && encoding == MPG123_ENC_SIGNED_16;
    }

    // How far the decoder searches for the next frame past damage, at creation's length scan
    // and in playback alike (its default is 1 KiB). Further than this the song ends there:
    // a file of garbage behind its first frames is not searched to its last byte.
    static constexpr long resync_limit_bytes = 64 * 1024;

    std::unique_ptr<FileDescriptor> file_;
    mpg123_handle* handle_ = nullptr;
    // The rest of the last frame decoded, still to be handed out; null for silence.
    const unsigned char* pending_ = nullptr;
    std::size_t pending_bytes_ = 0;
    bool frame_waiting_ = true;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<SongDecoder> open_mp3_decoder(std::unique_ptr<FileDescriptor> file,
                                              FMOD_RESULT& result) {
    return Mp3Decoder::open(std::move(file), result);
}

}  // namespace morvelta
