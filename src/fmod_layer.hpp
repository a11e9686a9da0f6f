// Our audio library: a small C-style interface for playing one song as a stream,
// following its progress and releasing it. Output goes through SDL2_mixer; MP3 and
// Ogg Vorbis are decoded by quiet decoder handles of our own (libmpg123, libvorbisfile),
// so that nothing of the decoders reaches standard error, and converted to the output's
// rate and speakers by libsoxr (song_decoder.hpp, song_converter.hpp).
//
// Every call returns a 32-bit result code, 0 for success. Handles are opaque; a handle
// that was released (or never handed out) is answered with FMOD_ERR_INVALID_HANDLE.
// Calls come from one thread at a time; the per-event queries take no lock.
#pragma once

#include <cstdint>

#include "fmod_result.hpp"

struct FMOD_SYSTEM;
struct FMOD_SOUND;
struct FMOD_CHANNEL;
// Extended creation information; this layer accepts none (null only).
struct FMOD_CREATESOUNDEXINFO;

using FMOD_MODE = std::uint32_t;
using FMOD_INITFLAGS = std::uint32_t;
using FMOD_TIMEUNIT = std::uint32_t;
using FMOD_CHANNELINDEX = std::int32_t;
using FMOD_BOOL = std::int32_t;

// Sound modes. The one combination this layer plays is FMOD_DEFAULT_STREAM_MODE.
inline constexpr FMOD_MODE FMOD_LOOP_OFF = 0x1;
inline constexpr FMOD_MODE FMOD_2D = 0x8;
inline constexpr FMOD_MODE FMOD_SOFTWARE = 0x40;
inline constexpr FMOD_MODE FMOD_CREATESTREAM = 0x80;
inline constexpr FMOD_MODE FMOD_DEFAULT_STREAM_MODE =
    FMOD_CREATESTREAM | FMOD_SOFTWARE | FMOD_2D | FMOD_LOOP_OFF;  // 0xC9

inline constexpr FMOD_INITFLAGS FMOD_INIT_NORMAL = 0;
inline constexpr FMOD_TIMEUNIT FMOD_TIMEUNIT_MS = 1;
inline constexpr FMOD_CHANNELINDEX FMOD_CHANNEL_FREE = -1;
// The layer mixes one song at a time: a system has exactly one channel.
inline constexpr int FMOD_MAX_CHANNELS = 1;

extern "C" {

// A new, not yet initialised system.
FMOD_RESULT FMOD_System_Create(FMOD_SYSTEM** system);

// Opens the default audio output. `max_channels` must be 1, `flags` FMOD_INIT_NORMAL and
// `extra_driver_data` null. No usable output: FMOD_ERR_OUTPUT_INIT. Only one system can
// hold the output at a time (FMOD_ERR_OUTPUT_ALLOCATED for a second one).
FMOD_RESULT FMOD_System_Init(FMOD_SYSTEM* system, int max_channels, FMOD_INITFLAGS flags,
                             void* extra_driver_data);

// Opens the named file (zero-terminated bytes, opened as given) as a stream. `mode` must be
// FMOD_DEFAULT_STREAM_MODE and `ex_info` null. Missing file: FMOD_ERR_FILE_NOT_FOUND;
// unreadable: FMOD_ERR_FILE_BAD; not an MP3 or Ogg Vorbis song, or one with a part outside
// 8..192 kHz or 1..8 channels: FMOD_ERR_FORMAT.
FMOD_RESULT FMOD_System_CreateSound(FMOD_SYSTEM* system, const char* name, FMOD_MODE mode,
                                    FMOD_CREATESOUNDEXINFO* ex_info, FMOD_SOUND** sound);

// The song's exact duration; `unit` must be FMOD_TIMEUNIT_MS.
FMOD_RESULT FMOD_Sound_GetLength(FMOD_SOUND* sound, std::uint32_t* length, FMOD_TIMEUNIT unit);

// The system that created the song.
FMOD_RESULT FMOD_Sound_GetSystemObject(FMOD_SOUND* sound, FMOD_SYSTEM** system);

// Plays the song once from its start on the system's channel (`channel_index` FMOD_CHANNEL_FREE
// or 0, `paused` 0). A channel that was playing before is stopped and its handle dies.
FMOD_RESULT FMOD_System_PlaySound(FMOD_SYSTEM* system, FMOD_CHANNELINDEX channel_index,
                                  FMOD_SOUND* sound, FMOD_BOOL paused, FMOD_CHANNEL** channel);

// Milliseconds of the song handed to the output so far; stays at the end once it has ended.
FMOD_RESULT FMOD_Channel_GetPosition(FMOD_CHANNEL* channel, std::uint32_t* position,
                                     FMOD_TIMEUNIT unit);

// 1 while the song plays, 0 once it has ended.
FMOD_RESULT FMOD_Channel_IsPlaying(FMOD_CHANNEL* channel, FMOD_BOOL* is_playing);

// Stops the song if it plays (its channel handle dies) and frees it.
FMOD_RESULT FMOD_Sound_Release(FMOD_SOUND* sound);

// Releases the system's songs and gives the output back; the system can be initialised again.
FMOD_RESULT FMOD_System_Close(FMOD_SYSTEM* system);

// Closes the system if needed and frees it.
FMOD_RESULT FMOD_System_Release(FMOD_SYSTEM* system);

}  // extern "C"
