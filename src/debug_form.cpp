#include "debug_form.hpp"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace morvelta {
namespace {

using Range = std::pair<char32_t, char32_t>;

// Characters shown as \u{..}: controls, format characters, separators other than
// the plain space, private use and non-characters.
constexpr std::array<Range, 25> unprintable{{
    {0x0000, 0x001F},   {0x007F, 0x009F},   {0x00A0, 0x00A0},    {0x00AD, 0x00AD},
    {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},    {0x070F, 0x070F},
    {0x1680, 0x1680},   {0x180E, 0x180E},   {0x2000, 0x200F},    {0x2028, 0x202F},
    {0x205F, 0x2064},   {0x2066, 0x206F},   {0x3000, 0x3000},    {0xD800, 0xDFFF},
    {0xE000, 0xF8FF},   {0xFDD0, 0xFDEF},   {0xFEFF, 0xFEFF},    {0xFFF0, 0xFFFB},
    {0xFFFE, 0xFFFF},   {0xE0000, 0xE0FFF}, {0xF0000, 0x10FFFF}, {0x110BD, 0x110BD},
    {0x1BCA0, 0x1BCA3},
}};

// Combining marks, which would otherwise attach to the character before them.
constexpr std::array<Range, 16> combining{{
    {0x0300, 0x036F},
    {0x0483, 0x0489},
    {0x0591, 0x05BD},
    {0x0610, 0x061A},
    {0x064B, 0x065F},
    {0x0E31, 0x0E31},
    {0x0E34, 0x0E3A},
    {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF},
    {0x20D0, 0x20FF},
    {0x302A, 0x302F},
    {0x3099, 0x309A},
    {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F},
    {0x1D165, 0x1D169},
    {0xE0100, 0xE01EF},
}};

template <size_t N>
bool in_ranges(const std::array<Range, N>& ranges, char32_t c) {
    for (const auto& [low, high] : ranges) {
        if (c >= low && c <= high)
            return true;
    }
    return false;
}

// Decodes one UTF-8 sequence at the start of `text`. Returns its length, or 0 when
// the bytes there are not a valid sequence.
size_t decode_utf8(std::string_view text, char32_t& out) {
    auto byte = [&](size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint8_t lead = byte(0);
    size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        out = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    out = value;
    return length;
}

void append_hex_escape(std::string& out, char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\u{%x}", static_cast<unsigned>(c));
    out += buffer;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
    while (!text.empty()) {
        char32_t c;
        size_t length = decode_utf8(text, c);
        if (length == 0)
            return false;
        text.remove_prefix(length);
    }
    return true;
}

std::string debug_quoted(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        char32_t c;
        size_t length = decode_utf8(text, c);
        if (length == 0) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<std::uint8_t>(text[0]));
            out += buffer;
            text.remove_prefix(1);
            continue;
        }
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\'':
                out += "\\'";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                if (in_ranges(unprintable, c) || in_ranges(combining, c)) {
                    append_hex_escape(out, c);
                } else {
                    out.append(text.substr(0, length));
                }
        }
        text.remove_prefix(length);
    }
    out += '"';
    return out;
}

std::string_view os_error_kind(int code) {
    switch (code) {
        case E2BIG:
            return "ArgumentListTooLong";
        case EADDRINUSE:
            return "AddrInUse";
        case EADDRNOTAVAIL:
            return "AddrNotAvailable";
        case EBUSY:
            return "ResourceBusy";
        case ECONNABORTED:
            return "ConnectionAborted";
        case ECONNREFUSED:
            return "ConnectionRefused";
        case ECONNRESET:
            return "ConnectionReset";
        case EDEADLK:
            return "Deadlock";
        case EDQUOT:
            return "FilesystemQuotaExceeded";
        case EEXIST:
            return "AlreadyExists";
        case EFBIG:
            return "FileTooLarge";
        case EHOSTUNREACH:
            return "HostUnreachable";
        case EINTR:
            return "Interrupted";
        case EINVAL:
            return "InvalidInput";
        case EISDIR:
            return "IsADirectory";
        case ELOOP:
            return "FilesystemLoop";
        case ENOENT:
            return "NotFound";
        case ENOMEM:
            return "OutOfMemory";
        case ENOSPC:
            return "StorageFull";
        case ENOSYS:
            return "Unsupported";
        case EMLINK:
            return "TooManyLinks";
        case ENAMETOOLONG:
            return "InvalidFilename";
        case ENETDOWN:
            return "NetworkDown";
        case ENETUNREACH:
            return "NetworkUnreachable";
        case ENOTCONN:
            return "NotConnected";
        case ENOTDIR:
            return "NotADirectory";
        case ENOTEMPTY:
            return "DirectoryNotEmpty";
        case EPIPE:
            return "BrokenPipe";
        case EROFS:
            return "ReadOnlyFilesystem";
        case ESPIPE:
            return "NotSeekable";
        case ESTALE:
            return "StaleNetworkFileHandle";
        case ETIMEDOUT:
            return "TimedOut";
        case ETXTBSY:
            return "ExecutableFileBusy";
        case EXDEV:
            return "CrossesDevices";
        case EACCES:
        case EPERM:
            return "PermissionDenied";
        case EAGAIN:
            return "WouldBlock";
        default:
            return "Uncategorized";
    }
}

std::string os_error_message(int code) {
    char buffer[256];
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text;
}

std::string os_error_debug(int code) {
    return "Os { code: " + std::to_string(code) + ", kind: " + std::string(os_error_kind(code)) +
           ", message: " + debug_quoted(os_error_message(code)) + " }";
}

std::string os_error_text(int code) {
    return os_error_message(code) + " (os error " + std::to_string(code) + ")";
}

}  // namespace morvelta

namespace morvelta {
std::string debug_form(const std::string& text) {
    return debug_quoted(text);
}
}  // namespace morvelta
