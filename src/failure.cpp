// Report writing, backtraces and the catch at the top of the program.
#include "failure.hpp"

#include <backtrace-supported.h>
#include <backtrace.h>
#include <cxxabi.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <vector>

namespace morvelta {
namespace {

constexpr std::string_view backtrace_variable = "MORVELTA_BACKTRACE";
constexpr std::string_view hint_line =
    "note: run with `MORVELTA_BACKTRACE=1` environment variable to display a backtrace\n";
constexpr std::string_view abort_line = "thread panicked while panicking. aborting.\n";
constexpr std::size_t max_frames = 128;

enum class BacktraceStyle : int { unread, none, short_form, full };

std::atomic<int> backtrace_style{static_cast<int>(BacktraceStyle::unread)};
std::atomic<bool> hint_pending{true};
// Whether any failure has been reported yet: one that ends the process later on its own
// road must not report a second time.
std::atomic<bool> reported{false};

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

// A demangled name, or the name as it is when it is not a mangled one.
std::string demangled(const char* name) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> plain(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && plain ? std::string(plain.get()) : std::string(name);
}

// The exported symbol around `pc`, for frames the symbol reader cannot name.
std::string exported_name(std::uintptr_t pc) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(pc), &info) == 0 || info.dli_sname == nullptr)
        return "<unknown>";
    return demangled(info.dli_sname);
}

// One line of a backtrace: a function, with its source place where the build kept
// debug information. An inlined call gives a frame of its own at the same address.
struct Frame {
    std::uintptr_t pc = 0;
    std::string name;
    std::string file;
    int line = 0;
};

// Missing debug information is no failure: the frame keeps its exported name.
void ignore_symbol_error(void*, const char*, int) {}

// Reads the program's and its libraries' symbols and debug information, once, on
// the first backtrace; a reader that cannot start leaves only exported names.
backtrace_state* symbol_reader() {
    static backtrace_state* const reader =
        backtrace_create_state(nullptr, BACKTRACE_SUPPORTS_THREADS, ignore_symbol_error, nullptr);
    return reader;
}

int collect_pc(void* data, std::uintptr_t pc) {
    auto& pcs = *static_cast<std::vector<std::uintptr_t>*>(data);
    // The unwinder ends the chain with an address that is no code at all.
    if (pc != 0 && pc != UINTPTR_MAX)
        pcs.push_back(pc);
    return pcs.size() >= max_frames ? 1 : 0;
}

int collect_frame(void* data, std::uintptr_t pc, const char* file, int line, const char* function) {
    auto& frames = *static_cast<std::vector<Frame>*>(data);
    if (function == nullptr)
        return 0;
    std::string place = file != nullptr ? file : "";
    // With clang's line tables the reader joins an absolute file name onto the build
    // folder ("/build//src/x.cpp"); the absolute name alone is the file.
    if (const std::size_t joined = place.rfind("//"); joined != std::string::npos)
        place.erase(0, joined + 1);
    frames.push_back(Frame{pc, demangled(function), std::move(place), line});
    return 0;
}

void collect_symbol(void* data, std::uintptr_t, const char* symbol, std::uintptr_t,
                    std::uintptr_t) {
    if (symbol != nullptr)
        *static_cast<std::string*>(data) = demangled(symbol);
}

// Without debug information the symbol table still names the program's own
// functions, internal ones included, which the dynamic symbols alone do not.
std::string symbol_name(backtrace_state* reader, std::uintptr_t pc) {
    std::string name;
    backtrace_syminfo(reader, pc, collect_symbol, ignore_symbol_error, &name);
    return name.empty() ? exported_name(pc) : name;
}

std::vector<Frame> current_frames() {
    std::vector<Frame> frames;
    backtrace_state* reader = symbol_reader();
    if (reader == nullptr)
        return frames;
    std::vector<std::uintptr_t> pcs;
    backtrace_simple(reader, 0, collect_pc, ignore_symbol_error, &pcs);
    for (std::uintptr_t pc : pcs) {
        const std::size_t before = frames.size();
        backtrace_pcinfo(reader, pc, collect_frame, ignore_symbol_error, &frames);
        if (frames.size() == before)
            frames.push_back(Frame{pc, symbol_name(reader, pc), "", 0});
    }
    return frames;
}

void write_backtrace(BacktraceStyle style) {
    std::string text = "stack backtrace:\n";
    int shown = 0;
    for (const Frame& frame : current_frames()) {
        // The short form leaves out the frames of the reporting machinery itself.
        if (style == BacktraceStyle::short_form &&
            (frame.name.starts_with("morvelta::panic") ||
             frame.name.find("write_backtrace") != std::string::npos ||
             frame.name.find("current_frames") != std::string::npos ||
             frame.name.find("report_failure") != std::string::npos)) {
            continue;
        }
        text += std::string(shown < 10 ? "   " : "  ") + std::to_string(shown) + ": " + frame.name;
        if (style == BacktraceStyle::full) {
            char address[32];
            std::snprintf(address, sizeof address, " [%#" PRIxPTR "]", frame.pc);
            text += address;
        }
        text += '\n';
        if (!frame.file.empty())
            text += "             at " + frame.file + ':' + std::to_string(frame.line) + '\n';
        ++shown;
    }
    write_stderr(text);
}

std::string report_line(std::string_view thread, std::string_view message, SourcePos pos) {
    std::string line = "thread '";
    line += thread;
    line += "' panicked at '";
    line += message;
    line += "', ";
    line += pos.file;
    line += ':' + std::to_string(pos.line) + ':' + std::to_string(pos.column);
    return line;
}

// Writes the report for a failure raised while `failures` failures (this one
// included) are live on the thread.
void report_failure(std::string_view message, SourcePos pos, int failures) {
    reported = true;
    const bool main_thread = ::getpid() == ::gettid();
    write_stderr(report_line(main_thread ? "main" : "<unnamed>", message, pos) + "\n");
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

// What a user is told of an exception that no step of ours turned into a failure: the
// type's name for running out of memory says nothing to anybody.
std::string exception_message(std::exception_ptr thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const std::bad_alloc&) {
        return "memory allocation failed";
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown exception";
    }
}

// Any thread's exception that nothing catches, or one that leaves a function that must
// not throw: C++ gives no road back to the flow's catch from there.
[[noreturn]] void on_terminate() {
    const std::exception_ptr thrown = std::current_exception();
    stop_now(thrown ? exception_message(thrown) : "terminate called", runtime_pos);
}

}  // namespace

std::string report_line(std::string_view message, SourcePos pos) {
    return report_line("main", message, pos);
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

void stop_now(std::string_view message, SourcePos pos) {
    if (!reported)
        report_failure(message, pos, 1);
    ::_exit(failure_status);
}

int run_guarded(void (*flow)()) {
    std::set_terminate(on_terminate);
    try {
        flow();
    } catch (const Panic&) {
        return failure_status;
    } catch (...) {
        report_failure(exception_message(std::current_exception()), runtime_pos, 1);
        return failure_status;
    }
    return 0;
}

}  // namespace morvelta
