// The audio library behind the binding. SDL2_mixer owns the output device and calls our
// music hook on its audio thread; the hook decodes the song, converts it to the device's
// format and counts the frames it hands over. That count is the song's clock.
#include "fmod_layer.hpp"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>
#include <dlfcn.h>
#include <mpg123.h>
#include <unistd.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "regular_file.hpp"

namespace {

using morvelta::FileDescriptor;

using Clock = std::chrono::steady_clock;

// The output we ask for. 512 frames at 44.1 kHz is 11.6 ms of sound per mixing buffer, so
// the reported position and what is heard stay well within one buffer of each other.
constexpr int output_rate = 44100;
constexpr int output_channels = 2;
constexpr int output_buffer_frames = 512;
// Frames decoded per step on the audio thread.
constexpr int decode_chunk_frames = 2048;

// ---- Handles ---------------------------------------------------------------------------

enum class Kind { system, sound, channel };

// Every handle handed out and not yet released. A handle is a number of its own, never
// reused, so that a stale handle is refused even when its object's memory has been reused.
// Lookups allocate nothing.
class Registry {
  public:
    std::uintptr_t add(void* object, Kind kind) {
        std::lock_guard lock(mutex_);
        next_ += handle_step;
        live_.emplace(next_, Entry{kind, object});
        return next_;
    }
    void remove(std::uintptr_t handle) {
        std::lock_guard lock(mutex_);
        live_.erase(handle);
    }
    void* find(std::uintptr_t handle, Kind kind) {
        std::lock_guard lock(mutex_);
        auto found = live_.find(handle);
        return found != live_.end() && found->second.kind == kind ? found->second.object : nullptr;
    }

  private:
    // Handles look like aligned addresses to anyone printing them.
    static constexpr std::uintptr_t handle_step = 16;
    struct Entry {
        Kind kind;
        void* object;
    };
    std::mutex mutex_;
    std::uintptr_t next_ = 0x10000;
    std::unordered_map<std::uintptr_t, Entry> live_;
};

Registry& registry() {
    static Registry* instance = new Registry;  // outlives every static destructor
    return *instance;
}

template <class Handle>
std::uintptr_t number(Handle* handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}
template <class Handle>
Handle* handle_of(std::uintptr_t number) {
    return reinterpret_cast<Handle*>(number);
}

// ---- Decoders --------------------------------------------------------------------------

// A song decoded step by step into signed 16-bit frames in native byte order.
class Decoder {
  public:
    virtual ~Decoder() = default;
    int rate() const { return rate_; }
    int channels() const { return channels_; }
    std::uint64_t total_frames() const { return total_frames_; }
    // Decodes up to `frames` frames into `out`; 0 once the song is over (or broke off).
    virtual std::size_t read(std::int16_t* out, std::size_t frames) = 0;
    // Back to the first frame; false when the file cannot seek.
    virtual bool rewind() = 0;

  protected:
    int rate_ = 0;
    int channels_ = 0;
    std::uint64_t total_frames_ = 0;
};

// MP3 through a libmpg123 handle of our own, with its quiet flag set: left to itself
// libmpg123 writes notes about damaged frames to standard error.
class Mp3Decoder final : public Decoder {
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

// Ogg Vorbis through libvorbisfile, reading our own descriptor.
class OggDecoder final : public Decoder {
  public:
    static std::unique_ptr<OggDecoder> open(std::unique_ptr<FileDescriptor> file,
                                            FMOD_RESULT& result) {
        std::unique_ptr<OggDecoder> decoder(new OggDecoder(std::move(file)));
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
    explicit OggDecoder(std::unique_ptr<FileDescriptor> file) : file_(std::move(file)) {}

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
        const int fd = static_cast<OggDecoder*>(source)->file_->get();
        return ::lseek(fd, static_cast<off_t>(offset), whence) < 0 ? -1 : 0;
    }
    static long tell_file(void* source) {
        return static_cast<long>(
            ::lseek(static_cast<OggDecoder*>(source)->file_->get(), 0, SEEK_CUR));
    }

    FMOD_RESULT start() {
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
    OggVorbis_File file_state_{};
    bool opened_ = false;
};

// Opens the file and picks the decoder by its contents, not by its name.
std::unique_ptr<Decoder> open_decoder(const char* name, FMOD_RESULT& result) {
    // Only a regular file is a song: pipes, devices and folders are not read.
    auto opened = morvelta::open_regular_file(name);
    if (!opened.is_ok()) {
        const int error = opened.error();
        result =
            (error == ENOENT || error == ENOTDIR) ? FMOD_ERR_FILE_NOT_FOUND : FMOD_ERR_FILE_BAD;
        return nullptr;
    }
    auto file = std::make_unique<FileDescriptor>(std::move(opened.value()));
    const int fd = file->get();
    char magic[4] = {};
    ssize_t got;
    do {
        got = ::pread(fd, magic, sizeof magic, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        result = FMOD_ERR_FILE_BAD;
        return nullptr;
    }
    if (got == 0) {
        result = FMOD_ERR_FORMAT;  // an empty file holds no song
        return nullptr;
    }
    if (got == 4 && std::memcmp(magic, "OggS", 4) == 0)
        return OggDecoder::open(std::move(file), result);
    return Mp3Decoder::open(std::move(file), result);
}

// ---- Objects behind the handles ---------------------------------------------------------

struct Channel;

struct Sound {
    std::uintptr_t handle;
    FMOD_SYSTEM* system;
    std::unique_ptr<Decoder> decoder;
    std::uint32_t length_ms;
    bool played = false;
};

struct System {
    std::uintptr_t handle = 0;
    bool initialised = false;
    int rate = 0;
    SDL_AudioFormat format = 0;
    int channels = 0;
    // SDL's dummy driver sleeps whole milliseconds per buffer and drifts from real time;
    // with it the hook holds playback to the wall clock, so a silent run keeps time.
    bool paced = false;
    std::vector<Sound*> sounds;
    Channel* channel = nullptr;  // the one channel, playing or ended
};

// One playback of a song. The audio thread owns the decoding state; the clock fields are
// published to the main thread through a sequence lock, so that queries never wait on the
// mixer.
struct Channel {
    std::uintptr_t handle;
    Sound* sound;
    SDL_AudioStream* converter;
    int device_rate;
    int device_frame_bytes;
    int source_frame_bytes;
    bool paced;
    std::vector<std::int16_t> scratch;

    // Audio thread only.
    bool decoder_done = false;
    bool clock_started = false;
    Clock::time_point clock_origin{};
    std::uint64_t frames_handed = 0;

    // Shared: written by the audio thread, read by the main thread.
    std::atomic<std::uint32_t> clock_sequence{0};
    std::atomic<std::uint64_t> frames_before_buffer{0};
    std::atomic<std::uint32_t> frames_in_buffer{0};
    std::atomic<std::int64_t> buffer_handed_ns{0};
    std::atomic<bool> playing{true};

    ~Channel() {
        if (converter != nullptr)
            SDL_FreeAudioStream(converter);
    }
};

std::int64_t now_ns(Clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

// Fills `stream` with the song's next frames; returns the bytes of song written.
int fill_from_song(Channel& channel, Uint8* stream, int len) {
    int written = 0;
    while (written < len) {
        const int got = SDL_AudioStreamGet(channel.converter, stream + written, len - written);
        if (got < 0)
            break;
        written += got;
        if (written >= len || channel.decoder_done)
            break;
        const std::size_t frames =
            channel.sound->decoder->read(channel.scratch.data(), decode_chunk_frames);
        if (frames == 0 ||
            SDL_AudioStreamPut(channel.converter, channel.scratch.data(),
                               static_cast<int>(frames) * channel.source_frame_bytes) != 0) {
            channel.decoder_done = true;
            SDL_AudioStreamFlush(channel.converter);
        }
    }
    return written - written % channel.device_frame_bytes;
}

// Music hook, on SDL's audio thread with the device locked. The stream comes in silent.
void SDLCALL mix_song(void* user_data, Uint8* stream, int len) {
    auto& channel = *static_cast<Channel*>(user_data);
    if (!channel.playing.load(std::memory_order_relaxed))
        return;
    Clock::time_point now = Clock::now();
    if (!channel.clock_started) {
        channel.clock_started = true;
        channel.clock_origin = now;
    } else if (channel.paced) {
        const auto due = channel.clock_origin +
                         std::chrono::nanoseconds(channel.frames_handed * 1'000'000'000ULL /
                                                  static_cast<std::uint64_t>(channel.device_rate));
        if (now < due) {
            std::this_thread::sleep_until(due);
            now = Clock::now();
        }
    }
    const int frames = fill_from_song(channel, stream, len) / channel.device_frame_bytes;

    // Odd while the clock is being written; no store moves before the first increment.
    channel.clock_sequence.fetch_add(1, std::memory_order_acq_rel);
    channel.frames_before_buffer.store(channel.frames_handed, std::memory_order_release);
    channel.frames_in_buffer.store(static_cast<std::uint32_t>(frames), std::memory_order_release);
    channel.buffer_handed_ns.store(now_ns(now), std::memory_order_release);
    channel.clock_sequence.fetch_add(1, std::memory_order_release);

    channel.frames_handed += static_cast<std::uint64_t>(frames);
    // The song is over once the device has taken its last frame and asks for more.
    if (frames == 0)
        channel.playing.store(false, std::memory_order_release);
}

// Milliseconds of the song played: the frames handed to the device before the buffer it
// plays now, plus how far into that buffer the device has come.
std::uint32_t channel_position_ms(const Channel& channel) {
    std::uint64_t before = 0;
    std::uint32_t in_buffer = 0;
    std::int64_t handed_ns = 0;
    for (;;) {
        const std::uint32_t sequence = channel.clock_sequence.load(std::memory_order_acquire);
        if (sequence % 2 != 0)
            continue;
        before = channel.frames_before_buffer.load(std::memory_order_acquire);
        in_buffer = channel.frames_in_buffer.load(std::memory_order_acquire);
        handed_ns = channel.buffer_handed_ns.load(std::memory_order_acquire);
        // Unchanged and even: the three values belong to one buffer.
        if (channel.clock_sequence.load(std::memory_order_relaxed) == sequence)
            break;
    }
    std::uint64_t frames = before;
    if (handed_ns != 0 && in_buffer != 0) {
        const std::int64_t since = std::max<std::int64_t>(0, now_ns(Clock::now()) - handed_ns);
        const auto into = static_cast<std::uint64_t>(since) *
                          static_cast<std::uint64_t>(channel.device_rate) / 1'000'000'000ULL;
        frames += std::min<std::uint64_t>(into, in_buffer);
    }
    const std::uint64_t ms = frames * 1000 / static_cast<std::uint64_t>(channel.device_rate);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, channel.sound->length_ms));
}

System* as_system(FMOD_SYSTEM* handle) {
    return static_cast<System*>(registry().find(number(handle), Kind::system));
}
Sound* as_sound(FMOD_SOUND* handle) {
    return static_cast<Sound*>(registry().find(number(handle), Kind::sound));
}
Channel* as_channel(FMOD_CHANNEL* handle) {
    return static_cast<Channel*>(registry().find(number(handle), Kind::channel));
}

System* output_owner = nullptr;

#ifdef __linux__
// libasound reports every output it fails to open on standard error ("ALSA lib pcm.c: ...
// Unknown PCM default"), where only the program's own failure report belongs. SDL loads it
// at run time; we load the same library first and give it a handler that says nothing.
// The library stays loaded for the life of the process.
void quiet_alsa_handler(const char*, int, const char*, int, const char*, ...) {}

void keep_alsa_quiet() {
    static const bool done = [] {
        void* library = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            return false;
        using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
        using SetHandler = int (*)(Handler);
        auto set_handler =
            reinterpret_cast<SetHandler>(::dlsym(library, "snd_lib_error_set_handler"));
        if (set_handler != nullptr)
            set_handler(quiet_alsa_handler);
        return true;
    }();
    static_cast<void>(done);
}
#else
void keep_alsa_quiet() {}
#endif

// Takes the system's channel off the mixer and frees it; its handle dies.
void stop_channel(System& system) {
    if (system.channel == nullptr)
        return;
    // Once the hook is replaced under the mixer's lock, the audio thread no longer sees it.
    Mix_HookMusic(nullptr, nullptr);
    registry().remove(system.channel->handle);
    delete system.channel;
    system.channel = nullptr;
}

void free_sound(System& system, Sound* sound) {
    if (system.channel != nullptr && system.channel->sound == sound)
        stop_channel(system);
    std::erase(system.sounds, sound);
    registry().remove(sound->handle);
    delete sound;
}

void close_output(System& system) {
    stop_channel(system);
    while (!system.sounds.empty())
        free_sound(system, system.sounds.back());
    if (!system.initialised)
        return;
    Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    system.initialised = false;
    output_owner = nullptr;
}

}  // namespace

extern "C" {

FMOD_RESULT FMOD_System_Create(FMOD_SYSTEM** system) {
    if (system == nullptr)
        return FMOD_ERR_INVALID_PARAM;
    *system = nullptr;
    auto* made = new (std::nothrow) System;
    if (made == nullptr)
        return FMOD_ERR_MEMORY;
    made->handle = registry().add(made, Kind::system);
    *system = handle_of<FMOD_SYSTEM>(made->handle);
    return FMOD_OK;
}

FMOD_RESULT FMOD_System_Init(FMOD_SYSTEM* handle, int max_channels, FMOD_INITFLAGS flags,
                             void* extra_driver_data) {
    System* system = as_system(handle);
    if (system == nullptr)
        return FMOD_ERR_INVALID_HANDLE;
    if (max_channels != FMOD_MAX_CHANNELS || flags != FMOD_INIT_NORMAL ||
        extra_driver_data != nullptr) {
        return FMOD_ERR_INVALID_PARAM;
    }
    if (system->initialised)
        return FMOD_ERR_INITIALIZED;
    if (output_owner != nullptr)
        return FMOD_ERR_OUTPUT_ALLOCATED;
    keep_alsa_quiet();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return FMOD_ERR_OUTPUT_INIT;
    if (Mix_OpenAudio(output_rate, AUDIO_S16SYS, output_channels, output_buffer_frames) != 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return FMOD_ERR_OUTPUT_INIT;
    }
    Uint16 format = 0;
    if (Mix_QuerySpec(&system->rate, &format, &system->channels) == 0 || system->rate <= 0) {
        Mix_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return FMOD_ERR_OUTPUT_INIT;
    }
    system->format = format;
    const char* driver = SDL_GetCurrentAudioDriver();
    system->paced = driver != nullptr && std::string_view(driver) == "dummy";
    system->initialised = true;
    output_owner = system;
    return FMOD_OK;
}

FMOD_RESULT FMOD_System_CreateSound(FMOD_SYSTEM* handle, const char* name, FMOD_MODE mode,
                                    FMOD_CREATESOUNDEXINFO* ex_info, FMOD_SOUND** sound) {
    if (sound != nullptr)
        *sound = nullptr;
    System* system = as_system(handle);
    if (system == nullptr)
        return FMOD_ERR_INVALID_HANDLE;
    if (name == nullptr || sound == nullptr || ex_info != nullptr ||
        mode != FMOD_DEFAULT_STREAM_MODE) {
        return FMOD_ERR_INVALID_PARAM;
    }
    if (!system->initialised)
        return FMOD_ERR_UNINITIALIZED;
    FMOD_RESULT result = FMOD_OK;
    std::unique_ptr<Decoder> decoder = open_decoder(name, result);
    if (decoder == nullptr)
        return result;
    const std::uint64_t ms =
        decoder->total_frames() * 1000 / static_cast<std::uint64_t>(decoder->rate());
    auto* made = new (std::nothrow)
        Sound{0, handle, std::move(decoder),
              static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, UINT32_MAX))};
    if (made == nullptr)
        return FMOD_ERR_MEMORY;
    system->sounds.push_back(made);
    made->handle = registry().add(made, Kind::sound);
    *sound = handle_of<FMOD_SOUND>(made->handle);
    return FMOD_OK;
}

FMOD_RESULT FMOD_Sound_GetLength(FMOD_SOUND* handle, std::uint32_t* length, FMOD_TIMEUNIT unit) {
    if (length != nullptr)
        *length = 0;
    Sound* sound = as_sound(handle);
    if (sound == nullptr)
        return FMOD_ERR_INVALID_HANDLE;
    if (length == nullptr || unit != FMOD_TIMEUNIT_MS)
        return FMOD_ERR_INVALID_PARAM;
    *length = sound->length_ms;
    return FMOD_OK;
}

FMOD_RESULT FMOD_Sound_GetSystemObject(FMOD_SOUND* handle, FMOD_SYSTEM** system) {
    if (system != nullptr)
        *system = nullptr;
    Sound* sound = as_sound(handle);
    if (sound == nullptr)
        return FMOD_ERR_INVALID_HANDLE;
    if (system == nullptr)
        return FMOD_ERR_INVALID_PARAM;
    *system = sound->system;
    return FMOD_OK;
}

FMOD_RESULT FMOD_System_PlaySound(FMOD_SYSTEM* handle, FMOD_CHANNELINDEX channel_index,
                                  FMOD_SOUND* sound_handle, FMOD_BOOL paused,
                                  FMOD_CHANNEL** channel) {
    if (channel != nullptr)
        *channel = nullptr;
    System* system = as_system(handle);
    Sound* sound = as_sound(sound_handle);
    if (system == nullptr || sound == nullptr)
        return FMOD_ERR_INVALID_HANDLE;
    if ((channel_index != FMOD_CHANNEL_FREE && channel_index != 0) || paused != 0 ||
        channel == nullptr || sound->system != handle) {
        return FMOD_ERR_INVALID_PARAM;
    }
    if (!system->initialised)
        return FMOD_ERR_UNINITIALIZED;
    // One channel: a new playback takes the place of the old one.
    stop_channel(*system);
    if (sound->played && !sound->decoder->rewind())
        return FMOD_ERR_FILE_BAD;
    sound->played = true;
    const Decoder& decoder = *sound->decoder;
    SDL_AudioStream* converter =
        SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(decoder.channels()), decoder.rate(),
                           system->format, static_cast<Uint8>(system->channels), system->rate);
    if (converter == nullptr)
        return FMOD_ERR_MEMORY;
    const int device_frame_bytes = SDL_AUDIO_BITSIZE(system->format) / 8 * system->channels;
    const int source_frame_bytes = static_cast<int>(sizeof(std::int16_t)) * decoder.channels();
    auto* made = new (std::nothrow) Channel{
        0,
        sound,
        converter,
        system->rate,
        device_frame_bytes,
        source_frame_bytes,
        system->paced,
        std::vector<std::int16_t>(static_cast<std::size_t>(decode_chunk_frames) *
                                  static_cast<std::size_t>(decoder.channels())),
    };
    if (made == nullptr) {
        SDL_FreeAudioStream(converter);
        return FMOD_ERR_MEMORY;
    }
    system->channel = made;
    made->handle = registry().add(made, Kind::channel);
    Mix_HookMusic(mix_song, made);
    *channel = handle_of<FMOD_CHANNEL>(made->handle);
    return FMOD_OK;
}

FMOD_RESULT FMOD_Channel_GetPosition(FMOD_CHANNEL* handle, std::uint32_t* position,
                                     FMOD_TIMEUNIT unit) {
    if (position != nullptr)
        *position = 0;
    Channel* channel = as_channel(handle);
    if (channel == nullptr)
        return FMOD_ERR_INVALID_HANDLE;
    if (position == nullptr || unit != FMOD_TIMEUNIT_MS)
        return FMOD_ERR_INVALID_PARAM;
    *position = channel_position_ms(*channel);
    return FMOD_OK;
}

FMOD_RESULT FMOD_Channel_IsPlaying(FMOD_CHANNEL* handle, FMOD_BOOL* is_playing) {
    if (is_playing != nullptr)
        *is_playing = 0;
    Channel* channel = as_channel(handle);
    if (channel == nullptr)
        return FMOD_ERR_INVALID_HANDLE;
    if (is_playing == nullptr)
        return FMOD_ERR_INVALID_PARAM;
    *is_playing = channel->playing.load(std::memory_order_acquire) ? 1 : 0;
    return FMOD_OK;
}

FMOD_RESULT FMOD_Sound_Release(FMOD_SOUND* handle) {
    Sound* sound = as_sound(handle);
    if (sound == nullptr)
        return FMOD_ERR_INVALID_HANDLE;
    System* system = as_system(sound->system);
    if (system == nullptr)
        return FMOD_ERR_INTERNAL;
    free_sound(*system, sound);
    return FMOD_OK;
}

FMOD_RESULT FMOD_System_Close(FMOD_SYSTEM* handle) {
    System* system = as_system(handle);
    if (system == nullptr)
        return FMOD_ERR_INVALID_HANDLE;
    close_output(*system);
    return FMOD_OK;
}

FMOD_RESULT FMOD_System_Release(FMOD_SYSTEM* handle) {
    System* system = as_system(handle);
    if (system == nullptr)
        return FMOD_ERR_INVALID_HANDLE;
    close_output(*system);
    registry().remove(system->handle);
    delete system;
    return FMOD_OK;
}

}  // extern "C"
