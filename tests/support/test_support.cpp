#include "test_support.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <spng.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "x_close_request.hpp"

extern char** environ;

namespace morvelta::testing {

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

std::vector<std::string> build_environment(const RunOptions& options) {
    std::map<std::string, std::string> vars;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        size_t equals = text.find('=');
        if (equals != std::string::npos)
            vars[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : options.env) {
        if (value) {
            vars[name] = *value;
        } else {
            vars.erase(name);
        }
    }
    std::vector<std::string> out;
    for (const auto& [name, value] : vars)
        out.push_back(name + "=" + value);
    return out;
}

int spawn(const std::vector<std::string>& argv, const RunOptions& options, const fs::path& out,
          const fs::path& err) {
    std::vector<std::string> env = build_environment(options);
    std::vector<char*> argv_c;
    for (const auto& arg : argv)
        argv_c.push_back(const_cast<char*>(arg.c_str()));
    argv_c.push_back(nullptr);
    std::vector<char*> env_c;
    for (const auto& var : env)
        env_c.push_back(const_cast<char*>(var.c_str()));
    env_c.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int in_fd = ::open("/dev/null", O_RDONLY);
        int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in_fd, 0);
        ::dup2(out_fd, 1);
        ::dup2(err_fd, 2);
        if (::chdir(options.working_dir.c_str()) != 0)
            ::_exit(126);
        ::execvpe(argv_c[0], argv_c.data(), env_c.data());
        ::_exit(127);
    }
    return pid;
}

}  // namespace

TempDir::TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (;;) {
        path_ = fs::temp_directory_path() / ("morvelta-test-" + std::to_string(random()));
        if (fs::create_directory(path_))
            break;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave unreadable folders behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(
             path_, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

fs::path TempDir::write(const fs::path& relative, const std::string& content) const {
    fs::path full = path_ / relative;
    fs::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << content;
    return full;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const RunOptions& options) {
    pid_ = spawn(argv, options, capture_.path() / "out", capture_.path() / "err");
}

ChildProcess::~ChildProcess() {
    if (!status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

bool ChildProcess::finished() {
    if (status_)
        return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_)
        status_ = status;
    return status_.has_value();
}

ProcessResult ChildProcess::wait(std::chrono::milliseconds timeout) {
    ProcessResult result;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!finished()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            status_ = status;
            result.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(*status_))
        result.exit_status = WEXITSTATUS(*status_);
    if (WIFSIGNALED(*status_))
        result.signal = WTERMSIG(*status_);
    result.out = read_file(capture_.path() / "out");
    result.err = read_file(capture_.path() / "err");
    return result;
}

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
    ChildProcess child(argv, options);
    return child.wait(options.timeout);
}

namespace {
RunOptions with_test_audio(RunOptions options) {
    if (!options.env.contains("SDL_AUDIODRIVER"))
        options.env["SDL_AUDIODRIVER"] = "dummy";
    return options;
}
}  // namespace

ProcessResult run_morvelta(RunOptions options) {
    return run_process({MORVELTA_BINARY}, with_test_audio(std::move(options)));
}

std::unique_ptr<ChildProcess> start_morvelta(RunOptions options) {
    return std::make_unique<ChildProcess>(std::vector<std::string>{MORVELTA_BINARY},
                                          with_test_audio(std::move(options)));
}

XvfbServer::XvfbServer(int width, int height) {
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::string fd_text = std::to_string(fds[1]);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(fds[0]);
        int null_fd = ::open("/dev/null", O_RDWR);
        ::dup2(null_fd, 0);
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd_text.c_str(), "-screen", "0", screen.c_str(),
                 "-nolisten", "tcp", "+extension", "GLX", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.empty())
        throw std::runtime_error("Xvfb did not start");
    display_ = ":" + number;
    // The number comes when the server listens; on a busy machine a client may still
    // find it not serving for a moment, which the tests must not take for a failure.
    constexpr auto ready_limit = std::chrono::seconds(20);
    const auto deadline = std::chrono::steady_clock::now() + ready_limit;
    while (!display_answers(display_)) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("Xvfb " + display_ + " does not answer");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

XvfbServer::~XvfbServer() {
    stop();
}

void XvfbServer::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void make_song(const fs::path& path, double seconds) {
    fs::create_directories(path.parent_path());
    ProcessResult made = run_process({"sox", "-n", "-r", "44100", "-c", "2", path.string(), "synth",
                                      std::to_string(seconds), "sine", "440"},
                                     {});
    if (made.exit_status != 0)
        throw std::runtime_error("sox failed: " + made.err);
}

void make_picture(const fs::path& path, const std::vector<std::string>& args) {
    fs::create_directories(path.parent_path());
    std::vector<std::string> argv{"/usr/bin/convert"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(path.string());
    ProcessResult made = run_process(argv, {});
    if (made.exit_status != 0)
        throw std::runtime_error("convert failed: " + made.err);
}

void write_png(const fs::path& path, std::uint32_t width, std::uint32_t height,
               std::uint8_t bit_depth, std::uint8_t colour_type,
               std::span<const std::uint8_t> rows) {
    std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(SPNG_CTX_ENCODER),
                                                            spng_ctx_free);
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr header{};
    header.width = width;
    header.height = height;
    header.bit_depth = bit_depth;
    header.color_type = colour_type;
    spng_set_ihdr(ctx.get(), &header);
    if (spng_encode_image(ctx.get(), rows.data(), rows.size(), SPNG_FMT_PNG,
                          SPNG_ENCODE_FINALIZE) != 0)
        throw std::runtime_error("spng_encode_image failed");
    std::size_t size = 0;
    int error = 0;
    std::unique_ptr<void, decltype(&std::free)> png(spng_get_png_buffer(ctx.get(), &size, &error),
                                                    std::free);
    if (error != 0 || png == nullptr)
        throw std::runtime_error("spng_get_png_buffer failed");
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(static_cast<const char*>(png.get()), static_cast<std::streamsize>(size));
}

void make_red_png(const fs::path& path, std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> pixels(std::size_t{width} * height * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = 255;
        pixels[i + 3] = 255;
    }
    write_png(path, width, height, 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, pixels);
}

bool have_program(const std::string& name) {
    return run_process({"sh", "-c", "command -v " + name}, {}).exit_status == 0;
}

}  // namespace morvelta::testing

namespace morvelta::testing {

Rgb Screenshot::at(int x, int y) const {
    size_t offset = (static_cast<size_t>(y) * width + x) * 3;
    if (offset + 2 >= rgb.size())
        return {-1, -1, -1};
    auto byte = [&](size_t i) { return static_cast<int>(static_cast<unsigned char>(rgb[i])); };
    return {byte(offset), byte(offset + 1), byte(offset + 2)};
}

Screenshot grab_screen(const std::string& display, int width, int height) {
    ProcessResult grabbed =
        run_process({"import", "-display", display, "-window", "root", "-depth", "8", "rgb:-"}, {});
    return Screenshot{width, height, grabbed.out};
}

std::string wait_for_morvelta_window(const std::string& display, ChildProcess& show,
                                     std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        ProcessResult found =
            run_process({"xdotool", "search", "--onlyvisible", "--name", "^morvelta$"},
                        {.env = {{"DISPLAY", display}}});
        std::vector<std::string> ids = lines_of(found.out);
        if (found.exit_status == 0 && !ids.empty())
            return ids.front();
        if (show.finished())
            return "";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "";
}

}  // namespace morvelta::testing
