#include "failure.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "environment.hpp"
#include "result.hpp"

namespace morvelta {
namespace {

std::vector<std::string> events;

// Records its own release, and what the report said at that moment.
struct Recorder {
    std::string name;
    ~Recorder() { events.push_back("release " + name); }
};

void flow_that_ends_normally() {
    Recorder first{"first"};
    Recorder second{"second"};
    events.push_back("flow done");
}

void flow_that_fails() {
    Recorder first{"first"};
    Recorder second{"second"};
    panic("it broke", SourcePos{"src\\main", 74, 9});
}

TEST(RunGuarded, ReleasesNewestFirstOnBothRoadsAndGivesTheStatus) {
    events.clear();
    EXPECT_EQ(run_guarded(flow_that_ends_normally), 0);
    EXPECT_EQ(events, (std::vector<std::string>{"flow done", "release second", "release first"}));

    events.clear();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(run_guarded(flow_that_fails), 101);
    std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(events, (std::vector<std::string>{"release second", "release first"}));
    EXPECT_TRUE(report.starts_with("thread 'main' panicked at 'it broke', src\\main:74:9\n"));
}

TEST(ReportLine, HasTheFixedShape) {
    EXPECT_EQ(report_line("ei musaa hv kaikki", SourcePos{"src\\main", 74, 9}),
              "thread 'main' panicked at 'ei musaa hv kaikki', src\\main:74:9");
}

TEST(Unwrap, BothFormsNameTheirOwnFixedPlace) {
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(unwrap_failed("FileNotFound"), Panic);
    EXPECT_THROW(none_unwrapped(), Panic);
    using TextResult = Result<int, std::string>;
    EXPECT_THROW(TextResult::err("Context lost").unwrap(), Panic);
    std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find(report_line("called `Result::unwrap()` on an `Err` value: FileNotFound",
                                      result_unwrap_pos)),
              std::string::npos);
    EXPECT_NE(
        report.find(report_line("called `Option::unwrap()` on a `None` value", option_unwrap_pos)),
        std::string::npos);
    EXPECT_NE(report.find("on an `Err` value: \"Context lost\"'"), std::string::npos);
    EXPECT_EQ(TextResult::ok(7).unwrap(), 7);
}

// A release that fails while another failure unwinds cannot be reported as an
// ordinary stop: the process must end at once, without running further releases.
struct FailsOnRelease {
    ~FailsOnRelease() { panic("second failure", SourcePos{"src\\main", 1, 1}); }
};

void flow_with_double_failure() {
    Recorder never{"never"};
    FailsOnRelease failing;
    panic("first failure", SourcePos{"src\\main", 2, 2});
}

TEST(DoubleFailure, WritesBothLinesABacktraceAndAborts) {
    EXPECT_EXIT(
        {
            events.clear();
            run_guarded(flow_with_double_failure);
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGILL),
        "first failure.*\n(.*\n)*.*panicked at 'second failure'.*\nstack backtrace:\n(.*\n)*thread "
        "panicked while panicking. aborting.");
}

TEST(SetEnvironmentVariable, SetsAndReportsARefusal) {
    set_environment_variable("MORVELTA_TEST_VARIABLE", ".");
    EXPECT_STREQ(std::getenv("MORVELTA_TEST_VARIABLE"), ".");

    ::testing::internal::CaptureStderr();
    EXPECT_THROW(set_environment_variable("BAD=NAME", "."), Panic);
    std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("panicked at 'failed to set environment variable `\"BAD=NAME\"` to "
                          "`\".\"`: Invalid argument (os error 22)'"),
              std::string::npos)
        << report;
}

}  // namespace
}  // namespace morvelta
