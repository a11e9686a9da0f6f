// Debug forms of the values a failure report shows after "unwrap": quoted text,
// file paths and operating-system errors.
#pragma once

#include <string>
#include <string_view>

namespace morvelta {

// Text between double quotes with backslash escapes: \\ \" \' \t \r \n, and
// \u{hex} for characters that do not print and for combining marks. Bytes that are
// not valid UTF-8 are written as \xNN.
std::string debug_quoted(std::string_view text);

// A path in its debug form; the same quoting as `quoted`.
inline std::string path_debug(std::string_view path) {
    return debug_quoted(path);
}

// `Os { code: 2, kind: NotFound, message: "No such file or directory" }`.
std::string os_error_debug(int code);

// "No such file or directory (os error 2)".
std::string os_error_text(int code);

// The name of the error kind that an errno value belongs to ("NotFound", ...).
std::string_view os_error_kind(int code);

// The platform's description of an errno value.
std::string os_error_message(int code);

// True when `text` is valid UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool is_valid_utf8(std::string_view text);

}  // namespace morvelta
