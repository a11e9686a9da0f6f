// The event schedule, driven by a fake clock and a fake window.
#include "events.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <vector>

namespace morvelta {
namespace {

constexpr std::uint64_t ms = 1'000'000;
constexpr std::uint64_t update_period = 8'333'333;
constexpr std::uint64_t frame_period = 16'666'666;

class FakeClock final : public Clock {
  public:
    explicit FakeClock(std::uint64_t start) : t(start) {}
    std::uint64_t now() override { return t; }
    void sleep(std::uint64_t ns) override {
        sleeps.push_back(ns);
        t += ns;
    }
    std::uint64_t t;
    std::vector<std::uint64_t> sleeps;
};

class FakeWindow final : public EventWindow {
  public:
    std::optional<Input> poll_input() override {
        ++polls;
        if (pending.empty())
            return std::nullopt;
        Input input = pending.front();
        pending.pop_front();
        if (asks_to_close(input, exit_on_esc))
            closing = true;
        return input;
    }
    bool should_close() const override { return closing; }
    PixelSize window_size() const override { return size; }
    PixelSize drawable_size() const override { return draw; }
    void swap_buffers() override { ++swaps; }

    std::deque<Input> pending;
    bool exit_on_esc = true;
    bool closing = false;
    PixelSize size{1280, 720};
    PixelSize draw{1280, 720};
    int swaps = 0;
    int polls = 0;
};

enum class Kind { input, render, after_render, update, idle };

Kind kind_of(const Event& event) {
    if (event.input() != nullptr)
        return Kind::input;
    if (event.render_args() != nullptr)
        return Kind::render;
    if (event.is_after_render())
        return Kind::after_render;
    if (event.update_args() != nullptr)
        return Kind::update;
    return Kind::idle;
}

struct Schedule : ::testing::Test {
    Schedule() {
        auto owned = std::make_unique<FakeClock>(1'000 * ms);
        clock = owned.get();
        events.emplace(EventSettings{}, std::move(owned));
    }
    Kind pull() {
        std::optional<Event> event = events->next(window);
        EXPECT_TRUE(event.has_value());
        return event ? kind_of(*event) : Kind::idle;
    }
    // Pulls until the fake clock has reached `until`, counting each kind.
    std::map<Kind, int> run_until(std::uint64_t until) {
        std::map<Kind, int> counts;
        while (clock->t < until) {
            std::optional<Event> event = events->next(window);
            if (!event)
                break;
            ++counts[kind_of(*event)];
            if (const UpdateArgs* update = event->update_args()) {
                EXPECT_DOUBLE_EQ(update->dt, 1.0 / 120.0);
            }
        }
        return counts;
    }

    FakeClock* clock = nullptr;
    FakeWindow window;
    std::optional<Events> events;
};

TEST_F(Schedule, PeriodsAreWholeNanoseconds) {
    EXPECT_EQ(events->frame_period(), frame_period);
    EXPECT_EQ(events->update_period(), update_period);
    EXPECT_EQ(seconds_of(1'500'000'000), 1.5);
}

TEST_F(Schedule, FirstPullGivesPendingInputThenRenderAtOnce) {
    window.pending = {KeyInput{ButtonState::press, 'a', 4}, CursorMoveInput{3.0, 4.0}};
    clock->t += 5 * ms;
    ASSERT_EQ(pull(), Kind::input);
    ASSERT_EQ(pull(), Kind::input);
    std::optional<Event> render = events->next(window);
    ASSERT_TRUE(render && render->render_args());
    EXPECT_DOUBLE_EQ(render->render_args()->ext_dt, 0.005);
    EXPECT_EQ(render->render_args()->width, 1280u);
    EXPECT_EQ(render->render_args()->draw_height, 720u);
    EXPECT_EQ(window.swaps, 0);
    EXPECT_EQ(pull(), Kind::after_render);
    EXPECT_EQ(window.swaps, 1);
    EXPECT_TRUE(clock->sleeps.empty());
}

TEST_F(Schedule, OneIdleThenWholeMillisecondSleepsAndRenderFirstOnATie) {
    const std::uint64_t start = clock->t;
    EXPECT_EQ(pull(), Kind::render);
    EXPECT_EQ(pull(), Kind::after_render);
    std::optional<Event> idle = events->next(window);
    ASSERT_TRUE(idle && idle->idle_args());
    EXPECT_DOUBLE_EQ(idle->idle_args()->dt, 0.008333333);
    EXPECT_TRUE(clock->sleeps.empty());
    // The update deadline 8.33 ms is slept to in whole milliseconds.
    EXPECT_EQ(pull(), Kind::update);
    EXPECT_EQ(clock->sleeps, std::vector<std::uint64_t>{9 * ms});
    // Frame and update deadlines now coincide at 16,666,666 ns: the render goes first.
    EXPECT_EQ(pull(), Kind::idle);
    EXPECT_EQ(pull(), Kind::render);
    EXPECT_EQ(clock->t - start, 17 * ms);
    EXPECT_EQ(pull(), Kind::after_render);
    EXPECT_EQ(pull(), Kind::update);
    EXPECT_EQ(clock->sleeps.size(), 2u);
}

TEST_F(Schedule, InputWhileWaitingIsDeliveredAndAllowsANewIdle) {
    pull();
    pull();
    EXPECT_EQ(pull(), Kind::idle);
    window.pending = {TextInput{"x"}};
    EXPECT_EQ(pull(), Kind::input);
    EXPECT_TRUE(clock->sleeps.empty());
    EXPECT_EQ(pull(), Kind::idle);
    EXPECT_TRUE(clock->sleeps.empty());
    EXPECT_EQ(pull(), Kind::update);
    EXPECT_EQ(clock->sleeps.size(), 1u);
}

TEST_F(Schedule, LongStallGivesOneLateUpdateOnly) {
    run_until(clock->t + 50 * ms);
    clock->t += 200 * ms;
    std::vector<Kind> after_stall;
    while (after_stall.empty() || after_stall.back() != Kind::idle)
        after_stall.push_back(pull());
    EXPECT_EQ(std::count(after_stall.begin(), after_stall.end(), Kind::update), 1);
    EXPECT_EQ(std::count(after_stall.begin(), after_stall.end(), Kind::render), 1);
    EXPECT_EQ(after_stall.size(), 4u);
}

TEST_F(Schedule, BacklogOfExactlyTwoPeriodsIsCaughtUpNotReset) {
    pull();
    pull();
    clock->t += 2 * update_period;  // not more than two periods: advance by one
    EXPECT_EQ(pull(), Kind::update);
    // The second overdue update ties with the frame deadline; the render comes first.
    EXPECT_EQ(pull(), Kind::render);
    EXPECT_EQ(pull(), Kind::after_render);
    EXPECT_EQ(pull(), Kind::update);
    EXPECT_EQ(pull(), Kind::idle);

    clock->t += 2 * update_period + 1;  // more than two periods: the update clock jumps
    EXPECT_EQ(pull(), Kind::update);
    EXPECT_EQ(pull(), Kind::render);
    EXPECT_EQ(pull(), Kind::after_render);
    EXPECT_EQ(pull(), Kind::idle);
}

TEST_F(Schedule, UpdatesKeepTheirRateOverASimulatedSecond) {
    std::map<Kind, int> counts = run_until(clock->t + 1'000 * ms);
    EXPECT_NEAR(counts[Kind::update], 120, 1);
    EXPECT_EQ(counts[Kind::render], counts[Kind::after_render]);
    EXPECT_EQ(window.swaps, counts[Kind::after_render]);
    // One idle before each sleep.
    EXPECT_EQ(static_cast<size_t>(counts[Kind::idle]), clock->sleeps.size());
    for (std::uint64_t sleep : clock->sleeps)
        EXPECT_EQ(sleep % ms, 0u);
}

TEST_F(Schedule, ZeroSizedWindowGetsNoRenderButUpdatesAndIdles) {
    for (PixelSize size : {PixelSize{0, 720}, PixelSize{1280, 0}}) {
        window.size = size;
        std::map<Kind, int> counts = run_until(clock->t + 100 * ms);
        EXPECT_EQ(counts[Kind::render], 0);
        EXPECT_EQ(counts[Kind::after_render], 0);
        EXPECT_GE(counts[Kind::update], 11);
        EXPECT_GE(counts[Kind::idle], 5);
        EXPECT_EQ(window.swaps, 0);
    }
    window.size = {1280, 720};
    EXPECT_GE(run_until(clock->t + 20 * ms)[Kind::render], 1);
}

TEST_F(Schedule, EscAndCloseEndTheStreamAtTheNextPull) {
    for (Input ending :
         {Input{KeyInput{ButtonState::press, escape_key, 41}}, Input{CloseInput{}}}) {
        auto owned = std::make_unique<FakeClock>(0);
        Events stream(EventSettings{}, std::move(owned));
        FakeWindow fake;
        fake.pending = {ending, TextInput{"never seen"}};
        std::optional<Event> first = stream.next(fake);
        ASSERT_TRUE(first && first->input());
        EXPECT_EQ(first->input()->index(), ending.index());
        EXPECT_FALSE(stream.next(fake).has_value());
        EXPECT_FALSE(stream.next(fake).has_value());
        EXPECT_EQ(fake.pending.size(), 1u);
    }
}

TEST_F(Schedule, EscWhileWaitingEndsTheStreamBeforeAnyRender) {
    pull();
    pull();
    window.pending = {KeyInput{ButtonState::press, escape_key, 41}};
    EXPECT_EQ(pull(), Kind::input);
    EXPECT_FALSE(events->next(window).has_value());
    EXPECT_EQ(window.swaps, 1);
}

TEST_F(Schedule, EscWithoutExitOnEscAndEscReleaseKeepTheStreamGoing) {
    window.exit_on_esc = false;
    window.pending = {KeyInput{ButtonState::press, escape_key, 41}};
    EXPECT_EQ(pull(), Kind::input);
    EXPECT_EQ(pull(), Kind::render);
    window.exit_on_esc = true;
    window.pending = {KeyInput{ButtonState::release, escape_key, 41}};
    EXPECT_EQ(pull(), Kind::after_render);
    EXPECT_EQ(pull(), Kind::input);
    EXPECT_EQ(pull(), Kind::idle);
}

TEST_F(Schedule, AClosingWindowGivesNothingAtAll) {
    window.closing = true;
    EXPECT_FALSE(events->next(window).has_value());
    EXPECT_EQ(window.polls, 0);
}

}  // namespace
}  // namespace morvelta
