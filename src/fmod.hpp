// The program's view of the audio library: an owning system, a song and its playback
// channel, with results as `Result` values. The library is reached through a table of
// function pointers (`FmodApi`), the real layer's by default, so tests can record calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "fmod_layer.hpp"
#include "result.hpp"

namespace morvelta {

// The library's 32-bit result code; 0 is success. Any value can be held.
enum class FmodResult : std::int32_t { Ok = 0 };

// The result's name, as failure messages print it ("FileNotFound", "OutputInit", ...).
// Codes outside the library's table are named "Unknown".
std::string_view result_name(FmodResult result);

// The debug form a failed unwrap prints: the bare name.
std::string debug_form(FmodResult result);

// The library calls the binding makes.
struct FmodApi {
    FMOD_RESULT (*system_create)(FMOD_SYSTEM** system);
    FMOD_RESULT(*system_init)
    (FMOD_SYSTEM* system, int max_channels, FMOD_INITFLAGS flags, void* extra_driver_data);
    FMOD_RESULT(*system_create_sound)
    (FMOD_SYSTEM* system, const char* name, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* ex_info,
     FMOD_SOUND** sound);
    FMOD_RESULT (*sound_get_length)(FMOD_SOUND* sound, std::uint32_t* length, FMOD_TIMEUNIT unit);
    FMOD_RESULT (*sound_get_system_object)(FMOD_SOUND* sound, FMOD_SYSTEM** system);
    FMOD_RESULT(*system_play_sound)
    (FMOD_SYSTEM* system, FMOD_CHANNELINDEX channel_index, FMOD_SOUND* sound, FMOD_BOOL paused,
     FMOD_CHANNEL** channel);
    FMOD_RESULT(*channel_get_position)
    (FMOD_CHANNEL* channel, std::uint32_t* position, FMOD_TIMEUNIT unit);
    FMOD_RESULT (*channel_is_playing)(FMOD_CHANNEL* channel, FMOD_BOOL* is_playing);
    FMOD_RESULT (*sound_release)(FMOD_SOUND* sound);
    FMOD_RESULT (*system_close)(FMOD_SYSTEM* system);
    FMOD_RESULT (*system_release)(FMOD_SYSTEM* system);
};

// The table of our own audio layer.
const FmodApi& fmod_layer_api();

// A playback channel. Dropping it forgets the handle and calls nothing: playback goes on.
// The table must outlive the channel.
class Channel {
  public:
    Channel(const FmodApi& api, FMOD_CHANNEL* handle) : api_(&api), handle_(handle) {}
    Channel(Channel&& other) noexcept;
    Channel& operator=(Channel&& other) noexcept;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    ~Channel() { handle_ = nullptr; }

    // The playback position in `unit`, widened to 64 bits unchanged. One library call,
    // no allocation.
    Result<std::uint64_t, FmodResult> get_position(FMOD_TIMEUNIT unit) const;
    // True exactly when the library's flag is 1. One library call, no allocation.
    Result<bool, FmodResult> is_playing() const;

    FMOD_CHANNEL* handle() const { return handle_; }

  private:
    const FmodApi* api_;
    FMOD_CHANNEL* handle_;
};

// The table and one library handle, and whether dropping the wrapper releases it.
// Moving leaves the source without a handle, so that only one wrapper ever releases it.
template <class Handle>
class OwnedHandle {
  protected:
    OwnedHandle(const FmodApi& api, Handle* handle, bool owning)
        : api_(&api), handle_(handle), owning_(owning) {}
    OwnedHandle(OwnedHandle&& other) noexcept
        : api_(other.api_),
          handle_(std::exchange(other.handle_, nullptr)),
          owning_(other.owning_) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        api_ = other.api_;
        handle_ = std::exchange(other.handle_, nullptr);
        owning_ = other.owning_;
        return *this;
    }
    ~OwnedHandle() = default;

    const FmodApi* api_;
    Handle* handle_;
    bool owning_;
};

// A song. Dropping an owning song with a handle releases it once; a failed release is
// not reported. The table must outlive the song.
class Sound : private OwnedHandle<FMOD_SOUND> {
  public:
    Sound(const FmodApi& api, FMOD_SOUND* handle, bool owning) : OwnedHandle(api, handle, owning) {}
    Sound(Sound&& other) noexcept = default;
    Sound& operator=(Sound&& other) noexcept;
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;
    ~Sound() { release(); }

    // The song's length in `unit`.
    Result<std::uint32_t, FmodResult> get_length(FMOD_TIMEUNIT unit) const;
    // Starts the song, unpaused, on any free channel of the system that created it.
    Result<Channel, FmodResult> play() const;

    FMOD_SOUND* handle() const { return handle_; }

  private:
    void release() noexcept;
};

// The audio system. Dropping an owning system with a handle closes it and, only when the
// close succeeded, releases it; nothing is reported. The table must outlive the system.
class FmodSys : private OwnedHandle<FMOD_SYSTEM> {
  public:
    // Creates an owning system.
    static Result<FmodSys, FmodResult> create(const FmodApi& api = fmod_layer_api());

    FmodSys(const FmodApi& api, FMOD_SYSTEM* handle, bool owning)
        : OwnedHandle(api, handle, owning) {}
    FmodSys(FmodSys&& other) noexcept = default;
    FmodSys& operator=(FmodSys&& other) noexcept;
    FmodSys(const FmodSys&) = delete;
    FmodSys& operator=(const FmodSys&) = delete;
    ~FmodSys() { release(); }

    // Opens the output with one channel and normal flags; the library's result unchanged.
    FmodResult init() const;

    // Opens the song at `path` (its UTF-8 bytes, unconverted). No mode means
    // FMOD_DEFAULT_STREAM_MODE. A path holding a zero byte stops the program with
    // "CString failed". A handle the library hands back with a failure is released.
    Result<Sound, FmodResult> create_sound(std::string_view path,
                                           std::optional<FMOD_MODE> mode = std::nullopt,
                                           FMOD_CREATESOUNDEXINFO* ex_info = nullptr) const;

    FMOD_SYSTEM* handle() const { return handle_; }

  private:
    void release() noexcept;
};

// "NulError(3, [97, 98, 99, 0, 100])": the error text of a name with a zero byte.
std::string nul_error_debug(std::string_view bytes, std::size_t zero_at);

}  // namespace morvelta
