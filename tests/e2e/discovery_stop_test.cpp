// Discovery's stops as a user meets them: the whole program in a prepared folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include "test_support.hpp"

namespace morvelta::testing {
namespace {

const std::string hint =
    "note: run with `MORVELTA_BACKTRACE=1` environment variable to display a backtrace";

// Root reads any folder, so an unreadable folder is only unreadable to another user.
ProcessResult run_as_unprivileged(const fs::path& dir) {
    fs::permissions(dir, fs::perms::all, fs::perm_options::add);
    std::vector<std::string> argv{MORVELTA_BINARY};
    if (::geteuid() == 0) {
        argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", MORVELTA_BINARY};
    }
    return run_process(argv, {.working_dir = dir, .env = {{"SDL_AUDIODRIVER", "dummy"}}});
}

TEST(DiscoveryStop, UnreadableFolderAnywhereStopsEvenAfterTheSong) {
    TempDir dir;
    make_song(dir.path() / "a.ogg", 0.5);
    dir.write("a-pictures/x.png", "x");
    dir.write("z-locked/y.png", "x");
    fs::permissions(dir.path() / "a-pictures", fs::perms::all, fs::perm_options::add);
    fs::permissions(dir.path() / "z-locked", fs::perms::none);

    ProcessResult run = run_as_unprivileged(dir.path());
    EXPECT_EQ(run.exit_status, 101);
    EXPECT_EQ(lines_of(run.err),
              (std::vector<std::string>{
                  "thread 'main' panicked at 'called `Result::unwrap()` on an `Err` value: Os { "
                  "code: 13, kind: PermissionDenied, message: \"Permission denied\" }', " +
                      std::string("src\\failure:41:5"),
                  hint}));
}

TEST(DiscoveryStop, NamesThatAreNotUtf8) {
    TempDir file_case;
    file_case.write("song.ogg", "x");
    file_case.write("kuva\xe4.jpg", "x");
    ProcessResult file_run = run_morvelta({.working_dir = file_case.path()});
    EXPECT_EQ(file_run.exit_status, 101);
    EXPECT_EQ(lines_of(file_run.err).at(0),
              "thread 'main' panicked at 'called `Result::unwrap()` on an `Err` value: "
              "\"./kuva\\xE4.jpg\"', src\\failure:41:5");

    // Combining marks and unassigned code points are escaped wherever they are in Unicode.
    TempDir marks_case;
    marks_case.write("song.ogg", "x");
    marks_case.write("a\u0902\u0670\u0378\xff.jpg", "x");
    ProcessResult marks_run = run_morvelta({.working_dir = marks_case.path()});
    EXPECT_EQ(marks_run.exit_status, 101);
    EXPECT_EQ(lines_of(marks_run.err).at(0),
              "thread 'main' panicked at 'called `Result::unwrap()` on an `Err` value: "
              "\"./a\\u{902}\\u{670}\\u{378}\\xFF.jpg\"', src\\failure:41:5");

    TempDir dir_case;
    dir_case.write("kansio\xe4/song.ogg", "x");
    ProcessResult dir_run = run_morvelta({.working_dir = dir_case.path()});
    EXPECT_EQ(dir_run.exit_status, 101);
    EXPECT_EQ(lines_of(dir_run.err),
              (std::vector<std::string>{"thread 'main' panicked at 'called `Option::unwrap()` on "
                                        "a `None` value', src\\failure:47:5",
                                        hint}));
}

}  // namespace
}  // namespace morvelta::testing
