// Shared helpers of the tests: temporary folders, running the built program, a
// private X server, and media made at test time with sox and ImageMagick.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace morvelta::testing {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    // Writes `content` to `relative`, creating the folders on the way.
    fs::path write(const fs::path& relative, const std::string& content) const;

  private:
    fs::path path_;
};

struct ProcessResult {
    int exit_status = -1;    // set when the process exited
    int signal = 0;          // set when a signal ended it
    bool timed_out = false;  // killed after the time limit
    std::string out;
    std::string err;
};

struct RunOptions {
    fs::path working_dir = ".";
    // Variables set (or, with nullopt, removed) on top of this process's environment.
    std::map<std::string, std::optional<std::string>> env;
    std::chrono::milliseconds timeout{60000};
};

// Runs `argv` to its end, capturing standard output and standard error.
ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options);

// Runs the built morvelta in `options.working_dir`, with the test audio driver.
ProcessResult run_morvelta(RunOptions options);

// A running child process with its output captured to files; killed if still running
// when dropped.
class ChildProcess {
  public:
    ChildProcess(const std::vector<std::string>& argv, const RunOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    int pid() const { return pid_; }
    // Whether the process has ended (reaps it when it has).
    bool finished();
    // Waits up to `timeout`; kills the process past it.
    ProcessResult wait(std::chrono::milliseconds timeout);

  private:
    int pid_ = -1;
    TempDir capture_;
    std::optional<int> status_;
};

// Starts the built morvelta in the background.
std::unique_ptr<ChildProcess> start_morvelta(RunOptions options);

// A private Xvfb server of the given size, answering clients once made; stopped when
// dropped.
class XvfbServer {
  public:
    XvfbServer(int width, int height);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;
    const std::string& display() const { return display_; }
    int pid() const { return pid_; }
    // Ends the server now, as a crash or the end of a session would.
    void stop();

  private:
    int pid_ = -1;
    std::string display_;
};

// The whole content of a file ("" when it cannot be read).
std::string read_file(const fs::path& path);

// The stderr lines of a process, without their line ends.
std::vector<std::string> lines_of(const std::string& text);

// Makes a song with sox: `seconds` of a sine tone; the format follows the extension.
void make_song(const fs::path& path, double seconds);

// Makes a picture with ImageMagick's convert; `args` come before the output path.
void make_picture(const fs::path& path, const std::vector<std::string>& args);

// Writes a PNG of `rows` (packed, no filter bytes) with libspng; `colour_type` is one of
// libspng's SPNG_COLOR_TYPE_* values.
void write_png(const fs::path& path, std::uint32_t width, std::uint32_t height,
               std::uint8_t bit_depth, std::uint8_t colour_type,
               std::span<const std::uint8_t> rows);

// Writes an opaque red PNG with libspng, for sizes ImageMagick's policy refuses to make.
void make_red_png(const fs::path& path, std::uint32_t width, std::uint32_t height);

// Whether a program is on the PATH (or is an absolute path that exists).
bool have_program(const std::string& name);

}  // namespace morvelta::testing

namespace morvelta::testing {

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// The whole X screen, grabbed with ImageMagick's import.
struct Screenshot {
    int width = 0;
    int height = 0;
    std::string rgb;  // 3 bytes a pixel, rows top first
    Rgb at(int x, int y) const;
};

Screenshot grab_screen(const std::string& display, int width, int height);

// Waits until a visible window titled exactly "morvelta" is on `display`; its id, or ""
// once `show` has ended or the time is up.
std::string wait_for_morvelta_window(const std::string& display, ChildProcess& show,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace morvelta::testing
