#include "slideshow.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>

#include "result.hpp"

namespace morvelta {
namespace {

struct AudioError {
    int code;
};
std::string debug_form(const AudioError& error) {
    return "Code" + std::to_string(error.code);
}

using Length = Result<std::uint32_t, AudioError>;
using Position = Result<std::uint64_t, AudioError>;
using Playing = Result<bool, AudioError>;

TEST(SwitchTimes, EqualSharesWithTheProductTakenFirst) {
    EXPECT_EQ(compute_switch_times(3, Length::ok(11)), (SwitchTimes{0, 3, 7}));
    EXPECT_EQ(compute_switch_times(3, Length::ok(300)), (SwitchTimes{0, 100, 200}));
    EXPECT_EQ(compute_switch_times(4, Length::ok(2)), (SwitchTimes{0, 0, 1, 1}));
    EXPECT_EQ(compute_switch_times(3, Length::ok(0)), (SwitchTimes{0, 0, 0}));
    EXPECT_EQ(compute_switch_times(1, Length::ok(5000)), (SwitchTimes{0}));
    // The largest length and a large count still fit: no overflow in i × length.
    SwitchTimes many = compute_switch_times(100000, Length::ok(4294967295u));
    EXPECT_EQ(many.back(), 99999ull * 4294967295ull / 100000ull);
}

TEST(SwitchTimes, FailedLengthStopsOnlyWhenThereArePictures) {
    EXPECT_TRUE(compute_switch_times(0, Length::err({33})).empty());
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(compute_switch_times(2, Length::err({33})), Panic);
    std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("called `Result::unwrap()` on an `Err` value: Code33'"),
              std::string::npos);
}

enum class Kind { input, render, after_render, update, idle };

struct FakeEvent {
    Kind kind;
    RenderArgs args{0.0, 640, 480, 640, 480};
    const RenderArgs* render_args() const { return kind == Kind::render ? &args : nullptr; }
};

struct FakeEvents {
    std::deque<Kind> script;
    int pulled = 0;
    std::optional<FakeEvent> next() {
        if (script.empty())
            return std::nullopt;
        Kind kind = script.front();
        script.pop_front();
        ++pulled;
        return FakeEvent{kind};
    }
};

// Positions and playing answers, one per event; the last of each repeats.
struct FakeChannel {
    std::deque<Position> positions{Position::ok(0)};
    std::deque<Playing> playing{Playing::ok(true)};
    int position_reads = 0;
    int playing_reads = 0;
    Position get_position(std::uint32_t unit) {
        EXPECT_EQ(unit, 1u);
        ++position_reads;
        Position p = positions.front();
        if (positions.size() > 1)
            positions.pop_front();
        return p;
    }
    Playing is_playing() {
        ++playing_reads;
        Playing p = playing.front();
        if (playing.size() > 1)
            playing.pop_front();
        return p;
    }
};

std::vector<PictureSprite> three_sprites() {
    return std::vector<PictureSprite>(3);
}

struct Show {
    std::vector<PictureSprite> sprites = three_sprites();
    SwitchTimes times{0, 100, 200};
    SlideCursor cursor;
    std::vector<int> drawn;  // index of the sprite drawn per render, -1 for none

    void run(FakeEvents& events, FakeChannel& channel) {
        run_slideshow(
            events, channel, sprites, times, cursor,
            [&](const RenderArgs&, const PictureSprite* current) {
                drawn.push_back(current ? static_cast<int>(current - sprites.data()) : -1);
            });
    }
};

TEST(SlideshowLoop, FirstEventShowsTheFirstPictureAndSwitchesFollowThePosition) {
    Show show;
    FakeEvents events{
        {Kind::render, Kind::update, Kind::render, Kind::idle, Kind::render, Kind::render}};
    FakeChannel channel;
    channel.positions = {Position::ok(0),   Position::ok(99),  Position::ok(99),
                         Position::ok(100), Position::ok(150), Position::ok(200)};
    show.run(events, channel);
    EXPECT_EQ(show.drawn, (std::vector<int>{0, 0, 1, 2}));
    EXPECT_EQ(show.cursor.next_switch, 3u);
}

TEST(SlideshowLoop, OverdueSwitchTimesTakeOneEventEach) {
    Show show;
    FakeEvents events{{Kind::render, Kind::render, Kind::render, Kind::render}};
    FakeChannel channel;
    channel.positions = {Position::ok(5000)};
    show.run(events, channel);
    EXPECT_EQ(show.drawn, (std::vector<int>{0, 1, 2, 2}));
}

TEST(SlideshowLoop, FailedPositionStopsOnlyWhileASwitchIsPending) {
    for (Kind kind : {Kind::input, Kind::update, Kind::idle}) {
        Show show;
        FakeEvents events{{Kind::render, kind}};
        FakeChannel channel;
        channel.positions = {Position::ok(0), Position::err({36})};
        ::testing::internal::CaptureStderr();
        EXPECT_THROW(show.run(events, channel), Panic);
        std::string report = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(report.find("on an `Err` value: Code36'"), std::string::npos);
    }

    Show one;
    one.sprites.resize(1);
    one.times = {0};
    FakeEvents events{{Kind::update, Kind::render, Kind::input, Kind::render}};
    FakeChannel channel;
    channel.positions = {Position::ok(0), Position::err({36})};
    one.run(events, channel);  // after the last switch the failure is never looked at
    EXPECT_EQ(one.drawn, (std::vector<int>{0, 0}));
}

TEST(SlideshowLoop, EndsWhenTheSongStopsAndIgnoresFailedPlayingQueries) {
    Show show;
    FakeEvents events{{Kind::render, Kind::update, Kind::render, Kind::render, Kind::render}};
    FakeChannel channel;
    channel.playing = {Playing::err({36}), Playing::err({36}), Playing::ok(false)};
    show.run(events, channel);
    EXPECT_EQ(events.pulled, 3);
    EXPECT_EQ(channel.playing_reads, 3);
    EXPECT_EQ(show.drawn.size(), 2u);  // the pass that notices the end still draws
}

TEST(SlideshowLoop, EndOfTheEventStreamEndsAtOnceWithoutFurtherQueries) {
    Show show;
    FakeEvents events{{Kind::render, Kind::input}};
    FakeChannel channel;
    show.run(events, channel);
    EXPECT_EQ(channel.position_reads, 2);
    EXPECT_EQ(channel.playing_reads, 2);
}

TEST(SlideshowLoop, WithoutPicturesTheDrawIsAskedToShowNothing) {
    Show show;
    show.sprites.clear();
    show.times.clear();
    FakeEvents events{{Kind::update, Kind::render}};
    FakeChannel channel;
    channel.positions = {Position::err({36})};  // never examined without pictures
    show.run(events, channel);
    EXPECT_EQ(show.drawn, (std::vector<int>{-1}));
}

}  // namespace
}  // namespace morvelta
