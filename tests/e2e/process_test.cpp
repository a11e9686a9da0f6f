// How the program behaves towards the system around it: it can be stopped by a signal
// at any moment, a closed pipe cannot kill its report, it starts no other program,
// and running out of memory or losing the display ends in a report like any failure.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spng.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "test_support.hpp"
#include "x_close_request.hpp"

namespace morvelta::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int screen_w = 320;
constexpr int screen_h = 240;
const std::string hint =
    "note: run with `MORVELTA_BACKTRACE=1` environment variable to display a backtrace";

RunOptions on_display(const XvfbServer& x, const fs::path& dir) {
    return {.working_dir = dir,
            .env = {{"DISPLAY", x.display()}, {"MORVELTA_BACKTRACE", std::nullopt}}};
}

long elapsed_ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Whether the process has an open file whose path satisfies `wanted`; polls until it
// has, the process ends or the time is up.
template <class Wanted>
bool wait_for_open_file(ChildProcess& child, Wanted wanted, std::chrono::milliseconds timeout) {
    const fs::path fds = "/proc/" + std::to_string(child.pid()) + "/fd";
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline && !child.finished()) {
        std::error_code error;
        for (auto it = fs::directory_iterator(fds, error); !error && it != fs::directory_iterator();
             it.increment(error)) {
            const fs::path target = fs::read_symlink(it->path(), error);
            if (!error && wanted(target))
                return true;
        }
        std::this_thread::sleep_for(200us);
    }
    return false;
}

// The signals the process has a handler for or ignores, from its status record.
std::uint64_t taken_signals(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::uint64_t taken = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("SigCgt:") || line.starts_with("SigIgn:"))
            taken |= std::stoull(line.substr(7), nullptr, 16);
    }
    return taken;
}

bool takes(std::uint64_t mask, int signal) {
    return (mask >> (signal - 1)) & 1;
}

// Sends `signal` and waits for the end; the time it took goes to the test's record.
ProcessResult stop_by(ChildProcess& child, int signal, const std::string& phase) {
    EXPECT_FALSE(takes(taken_signals(child.pid()), SIGINT)) << phase;
    EXPECT_FALSE(takes(taken_signals(child.pid()), SIGTERM)) << phase;
    const auto sent = Clock::now();
    ::kill(child.pid(), signal);
    ProcessResult result = child.wait(30s);
    ::testing::Test::RecordProperty(phase + "_exit_ms", std::to_string(elapsed_ms(sent)));
    std::printf("%s: ended %ld ms after the signal\n", phase.c_str(), elapsed_ms(sent));
    return result;
}

class Signals : public ::testing::Test {
  protected:
    // The program keeps the dispositions it inherits (a shell's background job ignores
    // SIGINT on purpose); these tests start it with the defaults.
    void SetUp() override {
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
    }
};

TEST_F(Signals, EndTheProgramAtOnceWhileListing) {
    TempDir dir;
    // Enough entries that listing them takes a moment to catch.
    for (int d = 0; d < 100; ++d) {
        const fs::path folder = dir.path() / ("d" + std::to_string(d));
        fs::create_directory(folder);
        for (int f = 0; f < 100; ++f)
            ::close(::open((folder / std::to_string(f)).c_str(), O_CREAT | O_WRONLY, 0644));
    }
    make_song(dir.path() / "zz" / "song.ogg", 2.0);
    auto show = start_morvelta({.working_dir = dir.path()});
    const std::string root = dir.path().string() + "/";
    ASSERT_TRUE(wait_for_open_file(
        *show, [&](const fs::path& p) { return p.string().starts_with(root + "d"); }, 20s))
        << "the listing was not seen";
    ProcessResult run = stop_by(*show, SIGINT, "listing");
    EXPECT_EQ(run.signal, SIGINT);
    EXPECT_EQ(run.err, "");
}

TEST_F(Signals, EndTheProgramAtOnceWhileLoadingPicturesAndDuringTheShow) {
    XvfbServer x(screen_w, screen_h);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 20.0);
    make_picture(dir.path() / "pics" / "00.png", {"-size", "2000x2000", "gradient:red-blue"});
    for (int i = 1; i < 40; ++i) {
        fs::copy_file(dir.path() / "pics" / "00.png",
                      dir.path() / "pics" / (std::to_string(10 + i) + ".png"));
    }
    {
        auto show = start_morvelta(on_display(x, dir.path()));
        ASSERT_TRUE(wait_for_open_file(
            *show, [](const fs::path& p) { return p.extension() == ".png"; }, 20s))
            << "no picture was seen loading";
        ProcessResult run = stop_by(*show, SIGTERM, "picture_loading");
        EXPECT_EQ(run.signal, SIGTERM);
        EXPECT_EQ(run.err, "");
    }

    fs::remove_all(dir.path() / "pics");
    make_picture(dir.path() / "a.png", {"-size", "64x48", "xc:red"});
    auto show = start_morvelta(on_display(x, dir.path()));
    ASSERT_NE(wait_for_morvelta_window(x.display(), *show), "");
    std::this_thread::sleep_for(500ms);
    ProcessResult run = stop_by(*show, SIGINT, "show");
    EXPECT_EQ(run.signal, SIGINT);
    EXPECT_EQ(run.err, "");
}

// Runs the program in `dir` with its standard error on a pipe nobody reads.
int status_with_closed_stderr(const fs::path& dir) {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::dup2(fds[1], STDERR_FILENO);
        ::signal(SIGPIPE, SIG_DFL);
        if (::chdir(dir.c_str()) != 0)
            ::_exit(126);
        ::execl(MORVELTA_BINARY, MORVELTA_BINARY, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[0]);
    ::close(fds[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

TEST(ClosedPipe, AReportThatCannotBeWrittenStillEndsWith101) {
    TempDir dir;
    const int status = status_with_closed_stderr(dir.path());
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 101);
}

// Each program the traced process started or tried to start, and each copy of itself
// it made, from an strace log.
std::vector<std::string> children_in_trace(const fs::path& log) {
    std::ifstream in(log);
    std::vector<std::string> children;
    bool first_exec = true;
    for (std::string line; std::getline(in, line);) {
        const bool exec = line.find("execve(") != std::string::npos;
        const bool copy = (line.find("clone(") != std::string::npos ||
                           line.find("clone3(") != std::string::npos ||
                           line.find("fork(") != std::string::npos) &&
                          line.find("CLONE_THREAD") == std::string::npos;
        if (exec && first_exec) {
            first_exec = false;  // strace starting the program itself
            continue;
        }
        if (exec || copy)
            children.push_back(line);
    }
    return children;
}

// The files under `home`, relative to it, except the runtime folder the sound client
// links there when the session has none (its target in the temporary directory is
// removed): anything else was left by a program that ran, such as dbus-launch's
// address file or a spawned server's cookie.
std::vector<std::string> left_in_home(const fs::path& home) {
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(home)) {
        const fs::path relative = entry.path().lexically_relative(home);
        if (entry.is_symlink() && relative.parent_path() == ".config/pulse" &&
            relative.filename().string().ends_with("-runtime")) {
            const fs::path target = fs::read_symlink(entry.path());
            if (target.filename().string().starts_with("pulse-"))
                fs::remove_all(target);
        } else if (!entry.is_directory()) {
            left.push_back(relative.string());
        }
    }
    std::sort(left.begin(), left.end());
    return left;
}

TEST(ChildProcesses, NoneInAnyPhaseWithoutARunningSessionBusOrSoundServer) {
    if (!have_program("strace"))
        GTEST_SKIP() << "strace is not installed";
    XvfbServer x(screen_w, screen_h);
    TempDir dir;
    make_song(dir.path() / "show" / "song.ogg", 1.0);
    make_picture(dir.path() / "show" / "a.png", {"-size", "64x48", "xc:blue"});
    // Helpers a library might start leave a mark here if they ever run.
    const fs::path mark = dir.path() / "mark";
    for (const char* helper : {"dbus-launch", "pulseaudio", "pipewire", "jackd"}) {
        const fs::path fake =
            dir.write(fs::path("bin") / helper, "#!/bin/sh\ntouch '" + mark.string() + "'\n");
        fs::permissions(fake, fs::perms::owner_all);
    }
    // Whether the sound client spawns a server where none runs is the user's choice;
    // this user has turned it off, as root has by default.
    const fs::path home = dir.path() / "home";
    dir.write("home/.config/pulse/client.conf", "autospawn = no\n");
    const std::string path = (dir.path() / "bin").string() + ":" + std::getenv("PATH");
    const std::map<std::string, std::optional<std::string>> bare = {
        {"DISPLAY", x.display()},
        {"PATH", path},
        {"HOME", home.string()},
        {"XDG_CONFIG_HOME", std::nullopt},
        {"DBUS_SESSION_BUS_ADDRESS", std::nullopt},
        {"XDG_RUNTIME_DIR", std::nullopt},
        {"PULSE_SERVER", std::nullopt},
        {"PULSE_RUNTIME_PATH", std::nullopt},
        {"PULSE_CLIENTCONFIG", std::nullopt},
        {"MORVELTA_BACKTRACE", std::nullopt}};
    // A runtime folder whose path a bus address must escape, holding a bus socket nobody
    // listens on: the program goes to it, as the bus's client library alone would, and
    // the attempt fails at once.
    const fs::path runtime_dir = dir.path() / "run time";
    fs::create_directory(runtime_dir);
    const std::string bus = (runtime_dir / "bus").string();
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    bus.copy(address.sun_path, sizeof(address.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    struct Case {
        std::string name;
        std::optional<std::string> audio_driver;
        std::optional<std::string> runtime_dir;
        int status;
    };
    // The system's own sound outputs (none here: the audio start fails), then whole shows
    // on the silent driver, without a runtime folder and with the one above.
    for (const Case& c : {Case{"own_output", std::nullopt, std::nullopt, 101},
                          Case{"whole_show", "dummy", std::nullopt, 0},
                          Case{"runtime_folder_bus", "dummy", runtime_dir.string(), 0}}) {
        const fs::path log = dir.path() / (c.name + ".trace");
        RunOptions options{.working_dir = dir.path() / "show", .env = bare};
        options.env["SDL_AUDIODRIVER"] = c.audio_driver;
        options.env["XDG_RUNTIME_DIR"] = c.runtime_dir;
        ProcessResult run =
            run_process({"strace", "-f", "-qq", "-o", log.string(), "-e",
                         "trace=execve,execveat,fork,vfork,clone,clone3,connect", MORVELTA_BINARY},
                        options);
        EXPECT_EQ(run.exit_status, c.status) << c.name << "\n" << run.err;
        EXPECT_EQ(children_in_trace(log), std::vector<std::string>{}) << c.name;
        if (c.runtime_dir) {
            EXPECT_NE(read_file(log).find("sun_path=\"" + bus + "\""), std::string::npos)
                << read_file(log);
        }
    }
    EXPECT_FALSE(fs::exists(mark));
    EXPECT_EQ(left_in_home(home), std::vector<std::string>{".config/pulse/client.conf"});
}

// A sound server of the test's own, answering only on `socket`; everything it keeps
// stays under `home`, and it asks no session bus for anything.
std::unique_ptr<ChildProcess> start_sound_server(const fs::path& home, const fs::path& socket) {
    fs::create_directories(home / "run");
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{
            "pulseaudio", "-n", "-v", "--daemonize=no", "--system=no", "--use-pid-file=no",
            "--exit-idle-time=-1", "--disallow-exit", "--realtime=no", "--high-priority=no",
            "--log-target=stderr", "-L",
            "module-native-protocol-unix socket=" + socket.string() + " auth-anonymous=1", "-L",
            "module-null-sink"},
        RunOptions{.working_dir = home,
                   .env = {{"HOME", home.string()},
                           {"XDG_RUNTIME_DIR", (home / "run").string()},
                           {"XDG_CONFIG_HOME", std::nullopt},
                           {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                           {"DISPLAY", std::nullopt}}});
}

// Whether the server answers on `socket`; asks again until it does, it has ended or the
// time is up.
bool wait_for_sound_server(ChildProcess& server, const fs::path& home, const fs::path& socket,
                           std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const RunOptions ask{.env = {{"HOME", home.string()}}, .timeout = timeout};
    while (Clock::now() < deadline && !server.finished()) {
        if (run_process({"pactl", "-s", "unix:" + socket.string(), "info"}, ask).exit_status == 0)
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// The server the user's client configuration names is the one that plays, even where
// the library's own guesses (the runtime folder, the system socket) lead nowhere.
TEST(SoundServer, TheOneTheUsersClientConfigurationNamesPlaysAWholeShow) {
    if (!have_program("pulseaudio") || !have_program("pactl"))
        GTEST_SKIP() << "pulseaudio is not installed";
    TempDir dir;
    const fs::path socket = dir.path() / "native";
    auto server = start_sound_server(dir.path() / "server", socket);
    ASSERT_TRUE(wait_for_sound_server(*server, dir.path() / "server", socket, 60s))
        << server->wait(1s).err;
    const fs::path home = dir.path() / "home";
    dir.write("home/.config/pulse/client.conf",
              "default-server = unix:" + socket.string() + "\nautospawn = no\n");
    XvfbServer x(screen_w, screen_h);
    make_song(dir.path() / "show" / "song.ogg", 1.5);
    make_picture(dir.path() / "show" / "a.png", {"-size", "64x48", "xc:blue"});
    RunOptions options = on_display(x, dir.path() / "show");
    for (const char* unset : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "PULSE_SERVER",
                              "PULSE_RUNTIME_PATH", "PULSE_CLIENTCONFIG", "PULSE_COOKIE"})
        options.env[unset] = std::nullopt;
    options.env["HOME"] = home.string();
    options.env["SDL_AUDIODRIVER"] = "pulseaudio";
    ProcessResult run = run_morvelta(options);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ::kill(server->pid(), SIGTERM);
    const std::string log = server->wait(30s).err;
    EXPECT_NE(log.find("Created input"), std::string::npos) << "the song never reached the server\n"
                                                            << log;
}

// A valid PNG of `side` x `side` one-bit grey pixels: small on disk, four bytes a
// pixel once decoded.
void write_huge_png(const fs::path& path, std::uint32_t side) {
    const std::vector<std::uint8_t> rows(std::size_t{side} / 8 * side, 0xAA);
    write_png(path, side, side, 1, SPNG_COLOR_TYPE_GRAYSCALE, rows);
}

TEST(MemoryExhaustion, APictureTooLargeForTheMemoryLeftIsAFailedLoad) {
#ifdef MORVELTA_SANITIZE_BUILD
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
    XvfbServer x(screen_w, screen_h);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 5.0);
    write_huge_png(dir.path() / "huge.png", 16384);
    RunOptions options = on_display(x, dir.path());
    options.env["SDL_AUDIODRIVER"] = "dummy";
    ProcessResult run =
        run_process({"sh", "-c", "ulimit -v 1200000 && exec \"$0\"", MORVELTA_BINARY}, options);
    EXPECT_EQ(run.exit_status, 101) << run.err;
    // Out of memory while decoding, or while the device takes its copy.
    auto report = [](const std::string& error) {
        return "thread 'main' panicked at 'called `Result::unwrap()` on an `Err` value: \"" +
               error + "\"', src\\failure:41:5\n" + hint + "\n";
    };
    EXPECT_TRUE(run.err == report("Cannot allocate memory (os error 12)") ||
                run.err == report("Texture(GL_OUT_OF_MEMORY)"))
        << run.err;
}

// Memory can run out at any step, not only where pictures are decoded: here the listing
// of a tree whose paths, deep and long, outgrow what the process may have.
TEST(MemoryExhaustion, RunningOutWhileListingIsOneReportAndStatus101) {
#ifdef MORVELTA_SANITIZE_BUILD
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
    TempDir dir;
    fs::path deep = dir.path();
    for (char level = 'a'; level < 'a' + 15; ++level)
        deep /= std::string(240, level);
    fs::create_directories(deep);
    // About 40 MB of path text, against some 10 MB the limit leaves above the program.
    for (int i = 0; i < 10000; ++i)
        std::ofstream(deep / ("picture-" + std::to_string(i) + ".png"));
    RunOptions options{.working_dir = dir.path(), .env = {{"MORVELTA_BACKTRACE", std::nullopt}}};
    ProcessResult run =
        run_process({"sh", "-c", "ulimit -v 50000 && exec \"$0\"", MORVELTA_BINARY}, options);
    EXPECT_EQ(run.exit_status, 101) << run.err;
    EXPECT_EQ(run.err, "thread 'main' panicked at 'memory allocation failed', src\\runtime:1:1\n" +
                           hint + "\n");
}

TEST(LostDisplay, TheServerGoingAwayMidShowIsOneReportAndStatus101) {
    auto x = std::make_unique<XvfbServer>(screen_w, screen_h);
    const std::string display = x->display();
    TempDir dir;
    make_song(dir.path() / "song.ogg", 20.0);
    make_picture(dir.path() / "a.png", {"-size", "64x48", "xc:green"});
    auto show = start_morvelta(on_display(*x, dir.path()));
    ASSERT_NE(wait_for_morvelta_window(display, *show), "");
    std::this_thread::sleep_for(500ms);
    const auto killed = Clock::now();
    x->stop();
    ProcessResult run = show->wait(30s);
    RecordProperty("lost_display_exit_ms", std::to_string(elapsed_ms(killed)));
    std::printf("lost display: ended %ld ms after the server\n", elapsed_ms(killed));
    EXPECT_EQ(run.exit_status, 101);
    EXPECT_EQ(run.err, "thread 'main' panicked at 'X connection to " + display +
                           " broken (explicit kill or server shutdown).', src\\window:172:13\n" +
                           hint + "\n");
}

// The server dies inside the call that starts the window, the one that makes its
// OpenGL context, and the one that releases it after the song has ended: wherever Xlib
// notices, the show ends at once with the report, never with Xlib's own exit or a wait.
// A request it refuses while the window is made leaves a window that cannot serve the
// show: its build fails, instead of Xlib exiting from inside SDL.
TEST(LostDisplay, TheServerGoingAwayOrRefusingAtStartOrReleaseIsOneReportAndStatus101) {
    TempDir dir;
    make_song(dir.path() / "song.ogg", 1.0);
    make_picture(dir.path() / "a.png", {"-size", "64x48", "xc:green"});
    struct Fault {
        const char* variable;  // of the preloaded shim
        const char* call;
    };
    for (const Fault fault : {Fault{"MORVELTA_KILL_DISPLAY_AT", "SDL_CreateWindow"},
                              Fault{"MORVELTA_KILL_DISPLAY_AT", "SDL_GL_CreateContext"},
                              Fault{"MORVELTA_KILL_DISPLAY_AT", "SDL_DestroyWindow"},
                              Fault{"MORVELTA_REFUSE_AT", "SDL_GL_CreateContext"}}) {
        SCOPED_TRACE(std::string(fault.variable) + " " + fault.call);
        XvfbServer x(screen_w, screen_h);
        RunOptions options = on_display(x, dir.path());
        options.env["LD_PRELOAD"] = MORVELTA_DISPLAY_FAULTS_LIBRARY;
        options.env[fault.variable] = fault.call;
        options.env["MORVELTA_KILL_DISPLAY_PID"] = std::to_string(x.pid());
        options.timeout = 20s;
        // A kill comes on entry to the call; the shim waits 300 ms before letting it go on.
        ProcessResult run = start_morvelta(options)->wait(options.timeout);
        ASSERT_FALSE(run.timed_out) << "the show never ended";
        EXPECT_EQ(run.exit_status, 101) << run.err;
        const std::string message =
            std::string_view(fault.variable) == "MORVELTA_REFUSE_AT"
                ? "called `Result::unwrap()` on an `Err` value: \"X Error of failed request:  "
                  "BadWindow (invalid Window parameter)\"', src\\failure:41:5"
                : "X connection to " + x.display() +
                      " broken (explicit kill or server shutdown).', src\\window:172:13";
        EXPECT_EQ(run.err, "thread 'main' panicked at '" + message + "\n" + hint + "\n");
    }
}

TEST(LostDisplay, AWindowDestroyedByAnotherClientIsOneReportAndStatus101) {
    XvfbServer x(screen_w, screen_h);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 20.0);
    make_picture(dir.path() / "a.png", {"-size", "64x48", "xc:green"});
    auto show = start_morvelta(on_display(x, dir.path()));
    const std::string id = wait_for_morvelta_window(x.display(), *show);
    ASSERT_NE(id, "");
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(destroy_window(x.display(), id));
    ProcessResult run = show->wait(30s);
    // Every request on the window is refused from then on; the first refusal is named,
    // whichever request it was.
    EXPECT_EQ(run.exit_status, 101) << run.err;
    const std::vector<std::string> lines = lines_of(run.err);
    ASSERT_EQ(lines.size(), 2u) << run.err;
    EXPECT_TRUE(lines[0].starts_with("thread 'main' panicked at 'X Error of failed request:  ") &&
                lines[0].ends_with("', src\\window:172:13"))
        << lines[0];
    EXPECT_EQ(lines[1], hint);
}

}  // namespace
}  // namespace morvelta::testing
