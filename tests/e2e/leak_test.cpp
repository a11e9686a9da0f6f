// Whole shows under AddressSanitizer's leak check: whatever the libraries below keep
// until exit, nothing that the program's own code allocated may be left behind, on
// the normal road or on a failure stop. Runs in the sanitizer build only.
#include <gtest/gtest.h>

#include "test_support.hpp"

namespace morvelta::testing {
namespace {

#ifdef MORVELTA_SANITIZE_BUILD

// The frames of leak reports that lie in our own sources.
std::vector<std::string> leaks_of_ours(const std::string& err) {
    std::vector<std::string> ours;
    bool in_leak = false;
    for (const std::string& line : lines_of(err)) {
        if (line.find("leak of") != std::string::npos)
            in_leak = true;
        if (line.empty())
            in_leak = false;
        if (in_leak && (line.find(" in morvelta::") != std::string::npos ||
                        line.find(MORVELTA_SOURCE_DIR "/src/") != std::string::npos)) {
            ours.push_back(line);
        }
    }
    return ours;
}

RunOptions leak_checked(const XvfbServer& x, const fs::path& dir) {
    return {.working_dir = dir,
            .env = {{"DISPLAY", x.display()},
                    {"ASAN_OPTIONS", "detect_leaks=1"},
                    {"LSAN_OPTIONS", "exitcode=0"}}};
}

TEST(LeakCheck, AWholeShowLeavesNothingOfOurs) {
    XvfbServer x(160, 120);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 1.5);
    make_picture(dir.path() / "a.png", {"-size", "40x30", "xc:red"});
    make_picture(dir.path() / "b.jpg", {"-size", "40x30", "gradient:blue-yellow"});
    ProcessResult run = run_morvelta(leak_checked(x, dir.path()));
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(leaks_of_ours(run.err), std::vector<std::string>{}) << run.err;
}

TEST(LeakCheck, AFailureStopLeavesNothingOfOurs) {
    XvfbServer x(160, 120);
    TempDir dir;
    make_song(dir.path() / "song.mp3", 1.5);
    make_picture(dir.path() / "a.png", {"-size", "40x30", "xc:red"});
    dir.write("b.jpg", "\xff\xd8\xff truncated");
    ProcessResult run = run_morvelta(leak_checked(x, dir.path()));
    EXPECT_EQ(run.exit_status, 101) << run.err;
    EXPECT_EQ(leaks_of_ours(run.err), std::vector<std::string>{}) << run.err;
}

#endif

}  // namespace
}  // namespace morvelta::testing
