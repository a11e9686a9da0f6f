// The audio binding against a recording fake of the library: which calls it makes, with
// which arguments, and what it makes of their results.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fmod.hpp"

namespace morvelta {
namespace {

// Handles the fake hands out; they are never followed.
FMOD_SYSTEM* const system_handle = reinterpret_cast<FMOD_SYSTEM*>(0x1000);
FMOD_SYSTEM* const song_system_handle = reinterpret_cast<FMOD_SYSTEM*>(0x2000);
FMOD_SOUND* const sound_handle = reinterpret_cast<FMOD_SOUND*>(0x3000);
FMOD_CHANNEL* const channel_handle = reinterpret_cast<FMOD_CHANNEL*>(0x4000);

std::string id(const void* handle) {
    if (handle == nullptr)
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%#lx", reinterpret_cast<unsigned long>(handle));
    return text;
}

// What the fake answers and what it saw.
struct Fake {
    std::vector<std::string> calls;
    std::string name_bytes;  // the name as received, up to and with its zero byte
    FMOD_RESULT create = FMOD_OK, init = FMOD_OK, create_sound = FMOD_OK, get_length = FMOD_OK,
                get_system = FMOD_OK, play = FMOD_OK, position = FMOD_OK, playing = FMOD_OK,
                sound_release = FMOD_OK, close = FMOD_OK, system_release = FMOD_OK;
    FMOD_SOUND* sound_out = sound_handle;  // written by create-sound, also on failure
    std::uint32_t position_ms = 0;
    FMOD_BOOL playing_flag = 1;
};
Fake fake;

const FmodApi fake_api{
    [](FMOD_SYSTEM** system) {
        fake.calls.push_back("System_Create");
        if (fake.create == FMOD_OK)
            *system = system_handle;
        return fake.create;
    },
    [](FMOD_SYSTEM* system, int max_channels, FMOD_INITFLAGS flags, void* extra) {
        fake.calls.push_back("System_Init " + id(system) + " " + std::to_string(max_channels) +
                             " " + std::to_string(flags) + " " + id(extra));
        return fake.init;
    },
    [](FMOD_SYSTEM* system, const char* name, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* ex_info,
       FMOD_SOUND** sound) {
        char mode_text[16];
        std::snprintf(mode_text, sizeof mode_text, "%#x", mode);
        fake.calls.push_back("System_CreateSound " + id(system) + " " + mode_text + " " +
                             id(ex_info) + (name == nullptr ? " null-name" : ""));
        fake.name_bytes = name == nullptr ? "" : std::string(name, std::strlen(name) + 1);
        EXPECT_EQ(*sound, nullptr);
        *sound = fake.sound_out;
        return fake.create_sound;
    },
    [](FMOD_SOUND* sound, std::uint32_t* length, FMOD_TIMEUNIT unit) {
        fake.calls.push_back("Sound_GetLength " + id(sound) + " " + std::to_string(unit));
        *length = 180000;
        return fake.get_length;
    },
    [](FMOD_SOUND* sound, FMOD_SYSTEM** system) {
        fake.calls.push_back("Sound_GetSystemObject " + id(sound));
        *system = song_system_handle;
        return fake.get_system;
    },
    [](FMOD_SYSTEM* system, FMOD_CHANNELINDEX index, FMOD_SOUND* sound, FMOD_BOOL paused,
       FMOD_CHANNEL** channel) {
        fake.calls.push_back("System_PlaySound " + id(system) + " " + std::to_string(index) + " " +
                             id(sound) + " " + std::to_string(paused));
        *channel = channel_handle;
        return fake.play;
    },
    [](FMOD_CHANNEL* channel, std::uint32_t* position, FMOD_TIMEUNIT unit) {
        fake.calls.push_back("Channel_GetPosition " + id(channel) + " " + std::to_string(unit));
        *position = fake.position_ms;
        return fake.position;
    },
    [](FMOD_CHANNEL* channel, FMOD_BOOL* playing) {
        fake.calls.push_back("Channel_IsPlaying " + id(channel));
        *playing = fake.playing_flag;
        return fake.playing;
    },
    [](FMOD_SOUND* sound) {
        fake.calls.push_back("Sound_Release " + id(sound));
        return fake.sound_release;
    },
    [](FMOD_SYSTEM* system) {
        fake.calls.push_back("System_Close " + id(system));
        return fake.close;
    },
    [](FMOD_SYSTEM* system) {
        fake.calls.push_back("System_Release " + id(system));
        return fake.system_release;
    },
};

using Calls = std::vector<std::string>;

class FmodBinding : public ::testing::Test {
  protected:
    void SetUp() override { fake = Fake{}; }
    FmodSys make_system() {
        FmodSys system = FmodSys::create(fake_api).unwrap();
        fake.calls.clear();
        return system;
    }
};

TEST(FmodResultNames, TableHasTheNinetySevenNamesInCodeOrder) {
    EXPECT_EQ(result_name(FmodResult::Ok), "Ok");
    EXPECT_EQ(result_name(FmodResult{19}), "FileBad");
    EXPECT_EQ(result_name(FmodResult{23}), "FileNotFound");
    EXPECT_EQ(result_name(FmodResult{25}), "Format");
    EXPECT_EQ(result_name(FmodResult{43}), "Memory");
    EXPECT_EQ(result_name(FmodResult{60}), "OutputInit");
    EXPECT_EQ(result_name(FmodResult{82}), "Version");
    EXPECT_EQ(result_name(FmodResult{95}), "MusicNoCallback");
    EXPECT_EQ(result_name(FmodResult{65536}), "StatusForceInt");
    std::vector<std::string_view> named;
    for (std::int32_t code = -5; code <= 70000; ++code) {
        if (result_name(FmodResult{code}) != "Unknown")
            named.push_back(result_name(FmodResult{code}));
    }
    EXPECT_EQ(named.size(), 97u);
}

TEST(FmodResultNames, FailedUnwrapPrintsTheBareName) {
    EXPECT_EQ(debug_form(FmodResult{23}), "FileNotFound");
    try {
        Result<std::uint32_t, FmodResult>::err(FmodResult{23}).unwrap();
        FAIL() << "unwrap of a failure returned";
    } catch (const Panic& failure) {
        EXPECT_EQ(failure.message(), "called `Result::unwrap()` on an `Err` value: FileNotFound");
    }
}

TEST_F(FmodBinding, CreateAndInitPassTheLibraryResultOnUnchanged) {
    fake.create = 43;
    Result<FmodSys, FmodResult> failed = FmodSys::create(fake_api);
    ASSERT_FALSE(failed.is_ok());
    EXPECT_EQ(result_name(failed.error()), "Memory");
    EXPECT_EQ(fake.calls, Calls{"System_Create"});

    fake = Fake{};
    fake.init = 60;
    FmodSys system = make_system();
    EXPECT_EQ(result_name(system.init()), "OutputInit");
    // One channel, normal flags, no driver data.
    EXPECT_EQ(fake.calls, Calls{"System_Init 0x1000 1 0 null"});
}

TEST_F(FmodBinding, PathReachesTheLibraryAsUtf8BytesWithOneTrailingZero) {
    FmodSys system = make_system();
    const std::string path = "./musiikki/s\xc3\xa4vel \xe2\x99\xaa.mp3";  // "sävel ♪"
    {
        Sound song = system.create_sound(path).unwrap();
        EXPECT_EQ(fake.name_bytes, path + std::string(1, '\0'));
    }
    EXPECT_EQ(fake.calls, (Calls{"System_CreateSound 0x1000 0xc9 null", "Sound_Release 0x3000"}));

    fake.calls.clear();
    {
        Sound song = system.create_sound("./a.ogg", FMOD_CREATESTREAM).unwrap();
        Sound nameless = system.create_sound("").unwrap();
    }
    EXPECT_EQ(fake.calls[0], "System_CreateSound 0x1000 0x80 null");
    EXPECT_EQ(fake.calls[1], "System_CreateSound 0x1000 0xc9 null null-name");
}

TEST_F(FmodBinding, FailedCreationReleasesAReturnedHandleOnce) {
    FmodSys system = make_system();
    fake.create_sound = 23;
    Result<Sound, FmodResult> failed = system.create_sound("./gone.mp3");
    ASSERT_FALSE(failed.is_ok());
    EXPECT_EQ(result_name(failed.error()), "FileNotFound");
    EXPECT_EQ(fake.calls, (Calls{"System_CreateSound 0x1000 0xc9 null", "Sound_Release 0x3000"}));

    fake.calls.clear();
    fake.sound_out = nullptr;
    fake.sound_release = 36;  // not reported either way
    EXPECT_FALSE(system.create_sound("./gone.mp3").is_ok());
    EXPECT_EQ(fake.calls, Calls{"System_CreateSound 0x1000 0xc9 null"});
}

TEST_F(FmodBinding, ZeroByteInThePathStopsBeforeAnyLibraryCall) {
    FmodSys system = make_system();
    try {
        system.create_sound(std::string("ab\0c", 4));
        FAIL() << "a name with a zero byte was accepted";
    } catch (const Panic& failure) {
        EXPECT_EQ(failure.message(), "CString failed: NulError(2, [97, 98, 0, 99])");
    }
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(FmodBinding, LengthAndPlayUseTheSystemTheLibraryReportsForTheSong) {
    FmodSys system = make_system();
    Sound song = system.create_sound("./a.mp3").unwrap();
    fake.calls.clear();
    EXPECT_EQ(song.get_length(FMOD_TIMEUNIT_MS).unwrap(), 180000u);
    Channel channel = song.play().unwrap();
    EXPECT_EQ(channel.handle(), channel_handle);
    EXPECT_EQ(fake.calls, (Calls{"Sound_GetLength 0x3000 1", "Sound_GetSystemObject 0x3000",
                                 "System_PlaySound 0x2000 -1 0x3000 0"}));

    fake.calls.clear();
    fake.get_system = 36;
    EXPECT_EQ(result_name(song.play().error()), "InvalidHandle");
    EXPECT_EQ(fake.calls, Calls{"Sound_GetSystemObject 0x3000"});
    fake.get_system = FMOD_OK;
    fake.play = 10;
    EXPECT_EQ(result_name(song.play().error()), "ChannelAlloc");
    fake.get_length = 25;
    EXPECT_EQ(result_name(song.get_length(FMOD_TIMEUNIT_MS).error()), "Format");
}

TEST_F(FmodBinding, ChannelQueriesMakeOneCallEachAndReadTheFlagStrictly) {
    const Channel channel(fake_api, channel_handle);
    fake.position_ms = 4294967295u;
    EXPECT_EQ(channel.get_position(FMOD_TIMEUNIT_MS).unwrap(), 4294967295ull);
    for (const auto& [flag, expected] : {std::pair{1, true}, {0, false}, {2, false}, {-1, false}}) {
        fake.playing_flag = flag;
        EXPECT_EQ(channel.is_playing().unwrap(), expected) << flag;
    }
    EXPECT_EQ(fake.calls.size(), 5u);
    fake.position = 36;
    fake.playing = 11;
    EXPECT_EQ(result_name(channel.get_position(FMOD_TIMEUNIT_MS).error()), "InvalidHandle");
    EXPECT_EQ(result_name(channel.is_playing().error()), "ChannelStolen");
}

TEST_F(FmodBinding, DroppingMakesExactlyThreeCallsInOrder) {
    {
        FmodSys system = make_system();
        Sound song = system.create_sound("./a.mp3").unwrap();
        Channel channel = song.play().unwrap();
        fake.calls.clear();
        { Channel moved = std::move(channel); }
        EXPECT_TRUE(fake.calls.empty()) << "dropping a channel calls nothing";
    }
    EXPECT_EQ(fake.calls,
              (Calls{"Sound_Release 0x3000", "System_Close 0x1000", "System_Release 0x1000"}));
}

TEST_F(FmodBinding, FailedCloseSkipsTheReleaseAndFailedReleasesAreSilent) {
    fake.close = 33;
    fake.sound_release = 36;
    {
        FmodSys system = make_system();
        Sound song = system.create_sound("./a.mp3").unwrap();
        fake.calls.clear();
    }
    EXPECT_EQ(fake.calls, (Calls{"Sound_Release 0x3000", "System_Close 0x1000"}));

    fake.calls.clear();
    {
        // Wrappers that do not own, and moved-from ones, release nothing.
        FmodSys borrowed(fake_api, system_handle, false);
        Sound borrowed_song(fake_api, sound_handle, false);
        fake.close = FMOD_OK;
        FmodSys owner = make_system();
        FmodSys moved = std::move(owner);
    }
    EXPECT_EQ(fake.calls, (Calls{"System_Close 0x1000", "System_Release 0x1000"}));
}

}  // namespace
}  // namespace morvelta
