// The audio binding: thin wrappers that make one or two library calls each.
#include "fmod.hpp"

#include <array>
#include <utility>

#include "failure.hpp"

namespace morvelta {
namespace {

// Names of codes 0 to 95; 65536 has its own name.
constexpr std::array<std::string_view, 96> result_names{
    "Ok",
    "AlreadyLocked",
    "BadCommand",
    "CDDADrivers",
    "CDDAInit",
    "CDDAInvalidDevice",
    "CDDANoAudio",
    "CDDANoDevices",
    "CDDANoDisc",
    "CDDARead",
    "ChannelAlloc",
    "ChannelStolen",
    "COM",
    "DMA",
    "DSPConnection",
    "DSPFormat",
    "DSPNotFound",
    "DSPRunning",
    "DSPTooManyConnections",
    "FileBad",
    "FileCouldNotSeek",
    "FileDiskEjected",
    "FileEOF",
    "FileNotFound",
    "FileUnwanted",
    "Format",
    "HTTP",
    "HTTPAccess",
    "HTTPProxyAuth",
    "HTTPServerError",
    "HTTPTimeout",
    "Initialization",
    "Initialized",
    "Internal",
    "InvalidAddress",
    "InvalidFloat",
    "InvalidHandle",
    "InvalidParam",
    "InvalidPosition",
    "InvalidSpeaker",
    "InvalidSyncPoint",
    "InvalidVector",
    "MaxAudible",
    "Memory",
    "MemoryCantPoint",
    "MemorySRAM",
    "Needs2D",
    "Needs3D",
    "NeedsHardware",
    "NeedsSoftware",
    "NetConnect",
    "NetSocketError",
    "NetURL",
    "NetWouldBlock",
    "NotReady",
    "OutputAllocated",
    "OutputCreateBuffer",
    "OutputDriverCall",
    "OutputEnumeration",
    "OutputFormat",
    "OutputInit",
    "OutputNoHardware",
    "OutputNoSoftware",
    "Pan",
    "Plugin",
    "PluginInstances",
    "PluginMissing",
    "PluginResource",
    "Preloaded",
    "ProgrammerSound",
    "Record",
    "ReverbInstance",
    "SubsoundAllocated",
    "SubsoundCantMove",
    "SubsoundMode",
    "Subsounds",
    "TagNotFound",
    "TooManyChannels",
    "Unimplemented",
    "Uninitialized",
    "Unsupported",
    "Update",
    "Version",
    "EventFailed",
    "EventInfoOnly",
    "EventInternal",
    "EventMaxStreams",
    "EventMismatch",
    "EventNameConflict",
    "EventNotFound",
    "EventNeedsSimple",
    "EventGuidConflict",
    "EventAlreadyLoaded",
    "MusicUninitialized",
    "MusicNotFound",
    "MusicNoCallback",
};

constexpr std::int32_t force_int_code = 65536;

FmodResult to_result(FMOD_RESULT code) {
    return static_cast<FmodResult>(code);
}

}  // namespace

std::string_view result_name(FmodResult result) {
    const auto code = static_cast<std::int32_t>(result);
    if (code >= 0 && static_cast<std::size_t>(code) < result_names.size())
        return result_names[code];
    if (code == force_int_code)
        return "StatusForceInt";
    return "Unknown";
}

std::string debug_form(FmodResult result) {
    return std::string(result_name(result));
}

const FmodApi& fmod_layer_api() {
    static constexpr FmodApi api{
        FMOD_System_Create,       FMOD_System_Init,           FMOD_System_CreateSound,
        FMOD_Sound_GetLength,     FMOD_Sound_GetSystemObject, FMOD_System_PlaySound,
        FMOD_Channel_GetPosition, FMOD_Channel_IsPlaying,     FMOD_Sound_Release,
        FMOD_System_Close,        FMOD_System_Release,
    };
    return api;
}

std::string nul_error_debug(std::string_view bytes, std::size_t zero_at) {
    std::string text = "NulError(" + std::to_string(zero_at) + ", [";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0)
            text += ", ";
        text += std::to_string(static_cast<unsigned char>(bytes[i]));
    }
    return text + "])";
}

// ---- Channel ----------------------------------------------------------------------------

Channel::Channel(Channel&& other) noexcept
    : api_(other.api_), handle_(std::exchange(other.handle_, nullptr)) {}

Channel& Channel::operator=(Channel&& other) noexcept {
    api_ = other.api_;
    handle_ = std::exchange(other.handle_, nullptr);
    return *this;
}

Result<std::uint64_t, FmodResult> Channel::get_position(FMOD_TIMEUNIT unit) const {
    std::uint32_t position = 0;
    const FMOD_RESULT code = api_->channel_get_position(handle_, &position, unit);
    if (code != FMOD_OK)
        return Result<std::uint64_t, FmodResult>::err(to_result(code));
    return Result<std::uint64_t, FmodResult>::ok(std::uint64_t{position});
}

Result<bool, FmodResult> Channel::is_playing() const {
    FMOD_BOOL playing = 0;
    const FMOD_RESULT code = api_->channel_is_playing(handle_, &playing);
    if (code != FMOD_OK)
        return Result<bool, FmodResult>::err(to_result(code));
    return Result<bool, FmodResult>::ok(playing == 1);
}

// ---- Sound ------------------------------------------------------------------------------

Sound& Sound::operator=(Sound&& other) noexcept {
    if (this != &other) {
        release();
        OwnedHandle::operator=(std::move(other));
    }
    return *this;
}

void Sound::release() noexcept {
    if (!owning_ || handle_ == nullptr)
        return;
    if (api_->sound_release(handle_) == FMOD_OK)
        handle_ = nullptr;
}

Result<std::uint32_t, FmodResult> Sound::get_length(FMOD_TIMEUNIT unit) const {
    std::uint32_t length = 0;
    const FMOD_RESULT code = api_->sound_get_length(handle_, &length, unit);
    if (code != FMOD_OK)
        return Result<std::uint32_t, FmodResult>::err(to_result(code));
    return Result<std::uint32_t, FmodResult>::ok(length);
}

Result<Channel, FmodResult> Sound::play() const {
    // The song plays on the system the library ties it to.
    FMOD_SYSTEM* system = nullptr;
    FMOD_RESULT code = api_->sound_get_system_object(handle_, &system);
    if (code != FMOD_OK)
        return Result<Channel, FmodResult>::err(to_result(code));
    FMOD_CHANNEL* channel = nullptr;
    code = api_->system_play_sound(system, FMOD_CHANNEL_FREE, handle_, 0, &channel);
    if (code != FMOD_OK)
        return Result<Channel, FmodResult>::err(to_result(code));
    return Result<Channel, FmodResult>::ok(Channel(*api_, channel));
}

// ---- FmodSys ----------------------------------------------------------------------------

Result<FmodSys, FmodResult> FmodSys::create(const FmodApi& api) {
    FMOD_SYSTEM* handle = nullptr;
    const FMOD_RESULT code = api.system_create(&handle);
    if (code != FMOD_OK)
        return Result<FmodSys, FmodResult>::err(to_result(code));
    return Result<FmodSys, FmodResult>::ok(FmodSys(api, handle, true));
}

FmodSys& FmodSys::operator=(FmodSys&& other) noexcept {
    if (this != &other) {
        release();
        OwnedHandle::operator=(std::move(other));
    }
    return *this;
}

void FmodSys::release() noexcept {
    if (!owning_ || handle_ == nullptr)
        return;
    // A system that failed to close is left as it is: releasing it could pull the output
    // from under a mixer that still runs.
    if (api_->system_close(handle_) != FMOD_OK)
        return;
    if (api_->system_release(handle_) == FMOD_OK)
        handle_ = nullptr;
}

FmodResult FmodSys::init() const {
    return to_result(api_->system_init(handle_, FMOD_MAX_CHANNELS, FMOD_INIT_NORMAL, nullptr));
}

Result<Sound, FmodResult> FmodSys::create_sound(std::string_view path,
                                                std::optional<FMOD_MODE> mode,
                                                FMOD_CREATESOUNDEXINFO* ex_info) const {
    if (const std::size_t zero_at = path.find('\0'); zero_at != std::string_view::npos) {
        panic("CString failed: " + nul_error_debug(path, zero_at), result_unwrap_pos);
    }
    // The name's bytes with one zero appended, alive until the library has returned.
    const std::string name(path);
    FMOD_SOUND* sound = nullptr;
    const FMOD_RESULT code =
        api_->system_create_sound(handle_, path.empty() ? nullptr : name.c_str(),
                                  mode.value_or(FMOD_DEFAULT_STREAM_MODE), ex_info, &sound);
    if (code != FMOD_OK) {
        if (sound != nullptr)
            api_->sound_release(sound);
        return Result<Sound, FmodResult>::err(to_result(code));
    }
    return Result<Sound, FmodResult>::ok(Sound(*api_, sound, true));
}

}  // namespace morvelta
