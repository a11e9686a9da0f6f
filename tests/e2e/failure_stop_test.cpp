// The program's failure report and exit status, seen from outside.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>

#include "test_support.hpp"

namespace morvelta::testing {
namespace {

const std::string no_music_line = "thread 'main' panicked at 'ei musaa hv kaikki', src\\main:74:9";
const std::string hint =
    "note: run with `MORVELTA_BACKTRACE=1` environment variable to display a backtrace";

TEST(FailureStop, EmptyFolderWritesTheReportAndTheHintAndExits101) {
    TempDir dir;
    ProcessResult run =
        run_morvelta({.working_dir = dir.path(), .env = {{"MORVELTA_BACKTRACE", std::nullopt}}});
    EXPECT_EQ(run.exit_status, 101);
    EXPECT_EQ(run.err, no_music_line + "\n" + hint + "\n");
    EXPECT_EQ(run.out, "");
}

TEST(FailureStop, BacktraceVariableChoosesHintOrBacktrace) {
    TempDir dir;
    dir.write("pics/a.jpg", "not looked at");
    ProcessResult zero =
        run_morvelta({.working_dir = dir.path(), .env = {{"MORVELTA_BACKTRACE", "0"}}});
    EXPECT_EQ(zero.err, no_music_line + "\n" + hint + "\n");

    for (const char* value : {"1", "full", "yes"}) {
        ProcessResult run =
            run_morvelta({.working_dir = dir.path(), .env = {{"MORVELTA_BACKTRACE", value}}});
        EXPECT_EQ(run.exit_status, 101) << value;
        std::vector<std::string> lines = lines_of(run.err);
        ASSERT_GE(lines.size(), 3u) << value;
        EXPECT_EQ(lines[0], no_music_line);
        EXPECT_EQ(lines[1], "stack backtrace:");
        EXPECT_EQ(run.err.find("note: run with"), std::string::npos) << value;
    }
}

TEST(FailureStop, BacktraceNamesFunctionsAndSourcePlaces) {
    TempDir dir;
    ProcessResult run =
        run_morvelta({.working_dir = dir.path(), .env = {{"MORVELTA_BACKTRACE", "1"}}});
    EXPECT_EQ(run.exit_status, 101);
    // The failing step is in the main flow's own function; its frame names it and,
    // when the build keeps debug information, its file and line.
    bool named = false;
    bool placed = false;
    for (const std::string& line : lines_of(run.err)) {
        const size_t colon = line.find(": ");
        const bool frame = colon != std::string::npos && line.find_first_not_of(' ') < colon &&
                           std::isdigit(static_cast<unsigned char>(line[colon - 1]));
        named = named || (frame && line.find("play_show", colon) != std::string::npos);
        const size_t file = line.find("main.cpp:");
        placed = placed || (line.starts_with("             at ") && file != std::string::npos &&
                            std::isdigit(static_cast<unsigned char>(line[file + 9])));
    }
    EXPECT_TRUE(named) << run.err;
    if (MORVELTA_DEBUG_INFO) {
        EXPECT_TRUE(placed) << run.err;
    }
    // The short form leaves out the reporting machinery.
    EXPECT_EQ(run.err.find("write_backtrace"), std::string::npos) << run.err;
}

TEST(FailureStop, NothingIsWrittenToTheShowFolder) {
    TempDir dir;
    dir.write("a.png", "x");
    ProcessResult run = run_morvelta({.working_dir = dir.path()});
    EXPECT_EQ(run.exit_status, 101);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace morvelta::testing
