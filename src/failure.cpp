// Report writing, backtraces and the catch at the top of the program.
#include "failure.hpp"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

namespace morvelta {
namespace {

constexpr std::string_view backtrace_variable = "MORVELTA_BACKTRACE";
constexpr std::string_view hint_line =
    "note: run with `MORVELTA_BACKTRACE=1` environment variable to display a backtrace\n";
constexpr std::string_view abort_line = "thread panicked while panicking. aborting.\n";
constexpr int max_frames = 128;

enum class BacktraceStyle : int { unread, none, short_form, full };

std::atomic<int> backtrace_style{static_cast<int>(BacktraceStyle::unread)};
std::atomic<bool> hint_pending{true};

// A report that cannot be written must not change the stop, so errors are dropped.
void write_stderr(std::string_view text) {
    while (!text.empty()) {
        ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
}

BacktraceStyle read_backtrace_style() {
    int seen = backtrace_style.load();
    if (seen != static_cast<int>(BacktraceStyle::unread))
        return static_cast<BacktraceStyle>(seen);
    const char* value = std::getenv(std::string(backtrace_variable).c_str());
    BacktraceStyle style = BacktraceStyle::short_form;
    if (value == nullptr || std::string_view(value) == "0") {
        style = BacktraceStyle::none;
    } else if (std::string_view(value) == "full") {
        style = BacktraceStyle::full;
    }
    int expected = static_cast<int>(BacktraceStyle::unread);
    backtrace_style.compare_exchange_strong(expected, static_cast<int>(style));
    return static_cast<BacktraceStyle>(backtrace_style.load());
}

std::string frame_name(void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_sname == nullptr)
        return "<unknown>";
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status), &std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(info.dli_sname);
}

void write_backtrace(BacktraceStyle style) {
    void* frames[max_frames];
    int count = ::backtrace(frames, max_frames);
    std::string text = "stack backtrace:\n";
    int shown = 0;
    for (int i = 0; i < count; ++i) {
        std::string name = frame_name(frames[i]);
        // The short form leaves out the frames of the reporting machinery itself.
        if (style == BacktraceStyle::short_form &&
            (name.starts_with("morvelta::panic") ||
             name.find("write_backtrace") != std::string::npos ||
             name.find("report_failure") != std::string::npos)) {
            continue;
        }
        text += std::string(shown < 10 ? "   " : "  ") + std::to_string(shown) + ": " + name;
        if (style == BacktraceStyle::full) {
            char address[32];
            std::snprintf(address, sizeof address, " [%p]", frames[i]);
            text += address;
        }
        text += '\n';
        ++shown;
    }
    write_stderr(text);
}

// Writes the report for a failure raised while `failures` failures (this one
// included) are live on the thread.
void report_failure(std::string_view message, SourcePos pos, int failures) {
    write_stderr(report_line(message, pos) + "\n");
    if (failures >= 2) {
        write_backtrace(BacktraceStyle::full);
        return;
    }
    BacktraceStyle style = read_backtrace_style();
    if (style != BacktraceStyle::none) {
        write_backtrace(style);
        return;
    }
    bool pending = true;
    if (hint_pending.compare_exchange_strong(pending, false))
        write_stderr(hint_line);
}

}  // namespace

std::string report_line(std::string_view message, SourcePos pos) {
    std::string line = "thread 'main' panicked at '";
    line += message;
    line += "', ";
    line += pos.file;
    line += ':' + std::to_string(pos.line) + ':' + std::to_string(pos.column);
    return line;
}

void panic(std::string_view message, SourcePos pos) {
    // The failures already unwinding on this thread, plus this one.
    int failures = std::uncaught_exceptions() + 1;
    report_failure(message, pos, failures);
    if (failures >= 2) {
        write_stderr(abort_line);
        __builtin_trap();
    }
    throw Panic(std::string(message));
}

void unwrap_failed(std::string_view error_debug) {
    std::string message(result_unwrap_message);
    message += ": ";
    message += error_debug;
    panic(message, result_unwrap_pos);
}

void none_unwrapped() {
    panic(option_unwrap_message, option_unwrap_pos);
}

int run_guarded(void (*flow)()) {
    try {
        flow();
    } catch (const Panic&) {
        return 101;
    }
    return 0;
}

}  // namespace morvelta
