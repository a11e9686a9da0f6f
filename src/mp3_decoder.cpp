// MP3 decoding through libmpg123.
#include <mpg123.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "song_decoder.hpp"
#include "song_probe.hpp"

namespace morvelta {

namespace {

// The song file as libmpg123 reads it. It reads each frame's header and body apart and
// searches damaged stretches a byte at a time; straight from the descriptor each of those
// reads is a system call of its own.
class BufferedReader {
  public:
    explicit BufferedReader(const FileDescriptor& file) : file_(file) {}

    static mpg123_ssize_t read(void* self, void* out, std::size_t count) {
        return static_cast<BufferedReader*>(self)->read(static_cast<std::uint8_t*>(out), count);
    }
    static off_t seek(void* self, off_t offset, int whence) {
        return static_cast<BufferedReader*>(self)->seek(offset, whence);
    }

  private:
    static constexpr std::size_t buffer_bytes = 64 * 1024;

    mpg123_ssize_t read(std::uint8_t* out, std::size_t count) {
        std::size_t done = 0;
        while (done < count) {
            if (position_ < data_start_ || position_ >= data_start_ + data_size_) {
                const auto got = file_.read_at(position_, data_);
                if (!got)
                    return done > 0 ? static_cast<mpg123_ssize_t>(done) : -1;
                data_start_ = position_;
                data_size_ = *got;
                if (data_size_ == 0)
                    break;  // the end of the file
            }
            const std::size_t offset = static_cast<std::size_t>(position_ - data_start_);
            const std::size_t step = std::min(count - done, data_size_ - offset);
            std::memcpy(out + done, data_.data() + offset, step);
            done += step;
            position_ += step;
        }
        return static_cast<mpg123_ssize_t>(done);
    }

    off_t seek(off_t offset, int whence) {
        off_t base = 0;
        if (whence == SEEK_CUR) {
            base = static_cast<off_t>(position_);
        } else if (whence == SEEK_END) {
            struct stat status {};
            if (::fstat(file_.get(), &status) != 0)
                return -1;
            base = status.st_size;
        }
        if (base + offset < 0) {
            errno = EINVAL;
            return -1;
        }
        position_ = static_cast<std::uint64_t>(base + offset);
        return static_cast<off_t>(position_);
    }

    const FileDescriptor& file_;
    std::vector<std::uint8_t> data_ = std::vector<std::uint8_t>(buffer_bytes);
    std::uint64_t data_start_ = 0;
    std::size_t data_size_ = 0;
    std::uint64_t position_ = 0;
};

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

    std::size_t read(float* out, std::size_t frames) override {
        if (format_changed_) {
            format_changed_ = false;
            if (!take_format())
                ended_ = true;
        }
        auto* into = reinterpret_cast<unsigned char*>(out);
        std::size_t done = 0;
        while (done < frames && !ended_) {
            const std::size_t frame_bytes =
                sizeof(float) * static_cast<std::size_t>(format_.channels);
            if (pending_bytes_ > 0) {
                const std::size_t count = std::min(pending_bytes_, (frames - done) * frame_bytes);
                if (pending_ != nullptr) {
                    std::memcpy(into + done * frame_bytes, pending_, count);
                    pending_ += count;
                } else {
                    std::memset(into + done * frame_bytes, 0, count);  // 0.0f is all zero bits
                }
                pending_bytes_ -= count;
                done += count / frame_bytes;
                continue;
            }
            // Opening and seeking leave the first frame read but not yet decoded.
            const int status = frame_waiting_ ? MPG123_OK : mpg123_framebyframe_next(handle_);
            frame_waiting_ = false;
            if (status == MPG123_NEW_FORMAT) {
                if (!starts_a_run_of_frames())
                    continue;  // a false frame found in damaged data: skipped, not played
                // The frames of one read share one format: a new one waits for the next read.
                if (decoder_format() != format_) {
                    if (done > 0) {
                        format_changed_ = true;
                        frame_waiting_ = true;
                        break;
                    }
                    if (!take_format()) {
                        ended_ = true;
                        break;
                    }
                }
            } else if (status != MPG123_OK) {
                // The end, or damage longer than the resync limit (where the length walk
                // stopped too): the song ends here.
                ended_ = true;
                break;
            }
            take_frame(frame_bytes);
        }
        return done;
    }

    bool rewind() override {
        pending_ = nullptr;
        pending_bytes_ = 0;
        ended_ = false;
        format_changed_ = false;
        frame_waiting_ = true;
        // libmpg123 answers with the offset it reached, which is not always 0 in a song whose
        // rate changes.
        if (mpg123_seek(handle_, 0, SEEK_SET) < 0)
            return false;
        return take_format();
    }

  private:
    explicit Mp3Decoder(std::unique_ptr<FileDescriptor> file)
        : file_(std::move(file)), reader_(*file_) {}

    FMOD_RESULT start() {
        int error = MPG123_OK;
        handle_ = mpg123_new(nullptr, &error);
        if (handle_ == nullptr)
            return FMOD_ERR_MEMORY;
        mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
        mpg123_param(handle_, MPG123_RESYNC_LIMIT, resync_limit_bytes, 0.0);
        // Any rate and channel count the file has, always as float samples.
        mpg123_format_none(handle_);
        const long* rates = nullptr;
        std::size_t rate_count = 0;
        mpg123_rates(&rates, &rate_count);
        for (std::size_t i = 0; i < rate_count; ++i) {
            mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
        }
        if (mpg123_replace_reader_handle(handle_, BufferedReader::read, BufferedReader::seek,
                                         nullptr) != MPG123_OK ||
            mpg123_open_handle(handle_, &reader_) != MPG123_OK) {
            return FMOD_ERR_FORMAT;
        }
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
        bool walked_to_end = false;
        bool skipped = false;
        for (;;) {
            const int status = mpg123_framebyframe_next(handle_);
            walked_to_end = status == MPG123_DONE;
            if (status == MPG123_NEW_FORMAT && !starts_a_run_of_frames()) {
                skipped = true;  // in playback too; libmpg123's own count holds it
                continue;
            }
            // After a skipped false frame the decoder notes its way back to the song's format.
            if (status == MPG123_NEW_FORMAT && decoder_format() != format_) {
                walked_ns += duration_ns(part_frames, format_.rate);
                part_frames = 0;
                changed = true;
                if (!take_format())
                    return false;  // a part we could not play
            } else if (status != MPG123_OK && status != MPG123_NEW_FORMAT) {
                break;
            }
            part_frames += static_cast<std::uint64_t>(std::max(0, mpg123_spf(handle_)));
        }
        walked_ns += duration_ns(part_frames, format_.rate);
        format_ = first;
        const off_t played = mpg123_length(handle_);
        if (played <= 0 || mpg123_seek(handle_, 0, SEEK_SET) < 0)
            return false;
        // libmpg123's own count holds the false frames skipped; and damage that ends playback
        // early ends the walk there too, where libmpg123 would guess the length from the
        // file's size. Either way the walk's count is the one that holds.
        if (!changed && !skipped && walked_to_end) {
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

    // The format libmpg123 decodes to now; an empty one when it cannot say.
    SongFormat decoder_format() {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        if (mpg123_getformat(handle_, &rate, &channels, &encoding) != MPG123_OK ||
            encoding != MPG123_ENC_FLOAT_32) {
            return {};
        }
        return {static_cast<int>(rate), channels};
    }

    // Reads the format libmpg123 decodes to now; false for one we do not play.
    bool take_format() {
        format_ = decoder_format();
        return playable(format_);
    }

    // How far the decoder searches for the next frame past damage, in the length walk and
    // in playback alike (its default is 1 KiB). Further than this the song ends there: a
    // file of garbage behind its first frames is not searched to its last byte.
    static constexpr long resync_limit_bytes = 64 * 1024;

    std::unique_ptr<FileDescriptor> file_;
    BufferedReader reader_;
    mpg123_handle* handle_ = nullptr;
    // The rest of the last frame decoded, still to be handed out; null for silence.
    const unsigned char* pending_ = nullptr;
    std::size_t pending_bytes_ = 0;
    bool frame_waiting_ = true;
    bool format_changed_ = false;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<SongDecoder> open_mp3_decoder(std::unique_ptr<FileDescriptor> file,
                                              FMOD_RESULT& result) {
    return Mp3Decoder::open(std::move(file), result);
}

}  // namespace morvelta
