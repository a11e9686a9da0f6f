#include "debug_form.hpp"

#include <utf8proc.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace morvelta {
namespace {

// Whether a character is written as \u{..}: one that does not print (controls,
// format characters, separators other than the plain space, surrogates, private use,
// unassigned code points and non-characters) or a combining mark, which would
// otherwise attach to the character before it. The marks are those that extend a
// grapheme; the emoji skin-tone modifiers, which Unicode also lets extend one, are
// symbols of their own and print.
bool needs_escape(char32_t c) {
    const auto code = static_cast<utf8proc_int32_t>(c);
    const utf8proc_category_t category = utf8proc_category(code);
    switch (category) {
        case UTF8PROC_CATEGORY_CC:
        case UTF8PROC_CATEGORY_CF:
        case UTF8PROC_CATEGORY_CS:
        case UTF8PROC_CATEGORY_CO:
        case UTF8PROC_CATEGORY_CN:
        case UTF8PROC_CATEGORY_ZL:
        case UTF8PROC_CATEGORY_ZP:
            return true;
        case UTF8PROC_CATEGORY_ZS:
            return c != U' ';
        case UTF8PROC_CATEGORY_SK:
            return false;
        default:
            return utf8proc_get_property(code)->boundclass == UTF8PROC_BOUNDCLASS_EXTEND;
    }
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
                if (needs_escape(c)) {
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
