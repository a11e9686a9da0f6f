// The failure stop: every failing step of the program ends here.
//
// `panic` writes the report line to standard error at once, while everything the
// flow made still exists, then unwinds by throwing `Panic`. `run_guarded` is the
// only place that catches it; the destructors that run on the way release what
// exists, newest first. A failure raised while another unwinds aborts the process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morvelta {

// A place named in a failure report: "file:line:column". The file is report text,
// not a path, so it keeps the backslash form the program has always printed.
struct SourcePos {
    std::string_view file;
    std::uint32_t line;
    std::uint32_t column;
};

// Every "called `Result::unwrap()` ..." report names this one place, whatever failed.
inline constexpr SourcePos result_unwrap_pos{"src\\failure", 41, 5};
// Every "called `Option::unwrap()` ..." report names this one place.
inline constexpr SourcePos option_unwrap_pos{"src\\failure", 47, 5};
// Failures that belong to the runtime rather than to a step of ours.
inline constexpr SourcePos runtime_pos{"src\\runtime", 1, 1};

inline constexpr std::string_view result_unwrap_message =
    "called `Result::unwrap()` on an `Err` value";
inline constexpr std::string_view option_unwrap_message =
    "called `Option::unwrap()` on a `None` value";

// Thrown by `panic` once the report is written; only `run_guarded` catches it.
class Panic {
  public:
    explicit Panic(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }

  private:
    std::string message_;
};

// Reports the failure and unwinds; never returns. Called during another failure's
// unwinding, it reports, writes a full backtrace and the abort line, then traps.
[[noreturn]] void panic(std::string_view message, SourcePos pos);

// "called `Result::unwrap()` on an `Err` value: " followed by the error's debug form.
[[noreturn]] void unwrap_failed(std::string_view error_debug);

// "called `Option::unwrap()` on a `None` value".
[[noreturn]] void none_unwrapped();

// Reports the failure, unless one has been reported already, and ends the process with
// the failure status at once, releasing nothing: for failures noticed inside a library's
// C code, where neither unwinding nor returning is safe.
[[noreturn]] void stop_now(std::string_view message, SourcePos pos);

// Runs the main flow under the failure catch: 0 when it returns, 101 after a failure.
// Any other exception that leaves the flow (memory running out, say) is a failure too,
// reported once the flow's objects are released, which gives the report back the memory
// it needs; one that leaves any other thread's code, or a function that must not throw,
// is reported and ends the process at once.
int run_guarded(void (*flow)());

// The report line exactly as written on the main thread, without its line end.
std::string report_line(std::string_view message, SourcePos pos);

// The failure status of the process.
inline constexpr int failure_status = 101;

}  // namespace morvelta
