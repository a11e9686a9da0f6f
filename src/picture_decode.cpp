// JPEG through libjpeg's own API (for its warning hook: a file that ends early must
// fail rather than show grey), PNG through libspng. Both read the file as a stream,
// so the compressed bytes never sit in memory beside the decoded pixels.
#include "picture_decode.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <new>

// jpeglib.h needs <cstdio> before it, and jerror.h needs jpeglib.h.
#include <jerror.h>
#include <jpeglib.h>
#include <spng.h>

#include "debug_form.hpp"

namespace morvelta {

namespace {

using Decoded = Result<DecodedPicture, std::string>;

// Texture sizes are 16-bit, whatever the device allows.
constexpr std::uint32_t largest_side = 65535;
// A progressive JPEG needs well under a hundred scans; a file with thousands is built
// to make each row cost a full pass over the picture.
constexpr int most_jpeg_scans = 1000;
// Ancillary PNG chunks kept in memory (text, profiles) are never read by us.
constexpr std::size_t png_chunk_cache_limit = std::size_t{64} << 20;

std::string format_error(std::string_view detail) {
    return "Format error: " + std::string(detail);
}

bool dimensions_fit(std::uint64_t width, std::uint64_t height, std::uint32_t max_dimension) {
    const std::uint64_t limit = std::min(largest_side, max_dimension);
    return width != 0 && height != 0 && width <= limit && height <= limit;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// ---- JPEG ----

enum class JpegStop { none, library_error, ended_early, too_many_scans, bad_dimensions };

// Everything the decoding function changes after `setjmp` lives here, outside its
// frame, so it stays valid when the library jumps back on an error.
struct JpegSession {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    JpegStop stop = JpegStop::none;
    int code = 0;
    char detail[JMSG_LENGTH_MAX]{};
    bool created = false;

    JpegSession() = default;
    JpegSession(const JpegSession&) = delete;
    JpegSession& operator=(const JpegSession&) = delete;
    ~JpegSession() {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

JpegSession& session_of(j_common_ptr info) {
    return *static_cast<JpegSession*>(info->client_data);
}

[[noreturn]] void jpeg_stop(j_common_ptr info, JpegStop stop) {
    JpegSession& session = session_of(info);
    session.stop = stop;
    session.code = info->err->msg_code;
    if (stop == JpegStop::library_error)
        info->err->format_message(info, session.detail);
    std::longjmp(session.jump, 1);
}

void jpeg_on_error(j_common_ptr info) {
    jpeg_stop(info, JpegStop::library_error);
}

// Warnings are not failures, except the one that says the file ended: the library
// would go on and fill the rest of the picture with grey.
void jpeg_on_message(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
        jpeg_stop(info, JpegStop::ended_early);
}

void jpeg_keep_quiet(j_common_ptr) {}

void jpeg_count_scans(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > most_jpeg_scans)
        jpeg_stop(info, JpegStop::too_many_scans);
}

// Adobe CMYK/YCCK JPEGs store inverted inks, so each stored value is already
// 255 - ink and red is the product of the cyan and black "whites".
void cmyk_row_to_rgba(std::uint8_t* row, std::uint32_t width) {
    for (std::uint32_t x = 0; x < width; ++x) {
        std::uint8_t* p = row + std::size_t{x} * 4;
        const unsigned k = p[3];
        p[0] = static_cast<std::uint8_t>((p[0] * k + 127) / 255);
        p[1] = static_cast<std::uint8_t>((p[1] * k + 127) / 255);
        p[2] = static_cast<std::uint8_t>((p[2] * k + 127) / 255);
        p[3] = 255;
    }
}

// Decodes into `out`; false when the session records why it stopped. Only plain
// values live in this frame, since the library leaves it with `longjmp`.
bool run_jpeg(JpegSession& s, std::FILE* file, std::uint32_t max_dimension, DecodedPicture& out) {
    s.info.err = jpeg_std_error(&s.errors);
    s.errors.error_exit = jpeg_on_error;
    s.errors.emit_message = jpeg_on_message;
    s.errors.output_message = jpeg_keep_quiet;
    s.info.client_data = &s;
    if (setjmp(s.jump) != 0)
        return false;

    jpeg_create_decompress(&s.info);
    s.created = true;
    s.progress.progress_monitor = jpeg_count_scans;
    s.info.progress = &s.progress;
    jpeg_stdio_src(&s.info, file);
    jpeg_read_header(&s.info, TRUE);
    if (!dimensions_fit(s.info.image_width, s.info.image_height, max_dimension)) {
        s.stop = JpegStop::bad_dimensions;
        return false;
    }
    const bool inks = s.info.jpeg_color_space == JCS_CMYK || s.info.jpeg_color_space == JCS_YCCK;
    s.info.out_color_space = inks ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&s.info);

    out.width = s.info.output_width;
    out.height = s.info.output_height;
    out.rgba = std::make_unique_for_overwrite<std::uint8_t[]>(out.byte_size());
    const std::size_t stride = std::size_t{out.width} * 4;
    while (s.info.output_scanline < s.info.output_height) {
        JSAMPROW row = out.rgba.get() + stride * s.info.output_scanline;
        if (jpeg_read_scanlines(&s.info, &row, 1) != 1) {
            s.stop = JpegStop::ended_early;
            return false;
        }
        if (inks)
            cmyk_row_to_rgba(row, out.width);
    }
    jpeg_finish_decompress(&s.info);
    return true;
}

Decoded decode_jpeg(std::FILE* file, std::uint32_t max_dimension) {
    // The library wants two bytes before it judges the first; a one-byte file that
    // cannot be a JPEG is still the wrong kind of file rather than a short one.
    const int first = std::fgetc(file);
    if (first == EOF)
        return Decoded::err(std::string(not_enough_data_text));
    if (first != 0xFF)
        return Decoded::err(format_error("first two bytes is not a SOI marker"));
    std::ungetc(first, file);

    JpegSession session;
    DecodedPicture picture;
    if (run_jpeg(session, file, max_dimension, picture))
        return Decoded::ok(std::move(picture));
    switch (session.stop) {
        case JpegStop::ended_early:
            return Decoded::err(std::string(not_enough_data_text));
        case JpegStop::bad_dimensions:
            return Decoded::err(std::string(bad_dimensions_text));
        case JpegStop::too_many_scans:
            return Decoded::err(format_error("too many scans in a progressive picture"));
        case JpegStop::library_error:
        case JpegStop::none:
            break;
    }
    switch (session.code) {
        case JERR_NO_SOI:
            return Decoded::err(format_error("first two bytes is not a SOI marker"));
        case JERR_INPUT_EMPTY:
            return Decoded::err(std::string(not_enough_data_text));
        case JERR_OUT_OF_MEMORY:
            throw std::bad_alloc();
        case JERR_EMPTY_IMAGE:
        case JERR_IMAGE_TOO_BIG:
        case JERR_WIDTH_OVERFLOW:
            return Decoded::err(std::string(bad_dimensions_text));
        default:
            return Decoded::err(format_error(session.detail));
    }
}

// ---- PNG ----

struct SpngFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

Decoded png_error(int code) {
    switch (code) {
        case SPNG_ESIGNATURE:
            return Decoded::err(format_error("invalid signature"));
        case SPNG_IO_EOF:
            return Decoded::err(std::string(not_enough_data_text));
        case SPNG_EWIDTH:
        case SPNG_EHEIGHT:
        case SPNG_EUSER_WIDTH:
        case SPNG_EUSER_HEIGHT:
            return Decoded::err(std::string(bad_dimensions_text));
        case SPNG_EMEM:
            throw std::bad_alloc();
        default:
            return Decoded::err(format_error(spng_strerror(code)));
    }
}

constexpr unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The file with its signature already taken off and checked by us: the library reads
// the signature and the header in one go, so a short file of the wrong kind would
// otherwise look like a file that ends early.
struct PngSource {
    std::FILE* file;
    std::size_t signature_served = 0;
};

int read_png(spng_ctx*, void* user, void* destination, std::size_t length) {
    auto& source = *static_cast<PngSource*>(user);
    auto* out = static_cast<unsigned char*>(destination);
    while (length > 0 && source.signature_served < sizeof png_signature) {
        *out++ = png_signature[source.signature_served++];
        --length;
    }
    if (length == 0)
        return 0;
    if (std::fread(out, 1, length, source.file) == length)
        return 0;
    return std::ferror(source.file) ? SPNG_IO_ERROR : SPNG_IO_EOF;
}

Decoded decode_png(std::FILE* file, std::uint32_t max_dimension) {
    unsigned char signature[sizeof png_signature];
    const std::size_t got = std::fread(signature, 1, sizeof signature, file);
    if (!std::equal(signature, signature + got, png_signature)) {
        return Decoded::err(format_error("invalid signature"));
    }
    if (got < sizeof signature)
        return Decoded::err(std::string(not_enough_data_text));
    PngSource source{file};

    std::unique_ptr<spng_ctx, SpngFree> ctx(spng_ctx_new(0));
    if (!ctx)
        throw std::bad_alloc();
    const std::uint32_t limit = std::min(largest_side, max_dimension);
    int code = spng_set_png_stream(ctx.get(), read_png, &source);
    if (code == 0)
        code = spng_set_image_limits(ctx.get(), limit, limit);
    if (code == 0)
        code = spng_set_chunk_limits(ctx.get(), png_chunk_cache_limit, png_chunk_cache_limit);
    spng_ihdr header{};
    if (code == 0)
        code = spng_get_ihdr(ctx.get(), &header);
    if (code != 0)
        return png_error(code);
    if (!dimensions_fit(header.width, header.height, max_dimension)) {
        return Decoded::err(std::string(bad_dimensions_text));
    }

    DecodedPicture picture;
    picture.width = header.width;
    picture.height = header.height;
    std::size_t size = 0;
    code = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size);
    if (code != 0)
        return png_error(code);
    if (size != picture.byte_size())
        return Decoded::err(std::string(bad_dimensions_text));
    picture.rgba = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    // Sixteen-bit samples keep their high byte; no gamma is applied.
    code = spng_decode_image(ctx.get(), picture.rgba.get(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    // A file that stops after its pixel data but before its end chunk is cut short too.
    if (code == 0)
        code = spng_decode_chunks(ctx.get());
    if (code != 0)
        return png_error(code);
    return Decoded::ok(std::move(picture));
}

std::string unsupported_format_text(std::string_view extension) {
    return "The Decoder does not support the image format `Image format image/" +
           debug_quoted(extension) + " is not supported.`";
}

}  // namespace

std::string picture_extension(std::string_view path) {
    std::size_t name_start = path.find_last_of('/');
#ifdef _WIN32
    name_start = path.find_last_of("/\\");
#endif
    const std::string_view name =
        name_start == std::string_view::npos ? path : path.substr(name_start + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return "";
    std::string extension(name.substr(dot + 1));
    if (!is_valid_utf8(extension))
        return "";
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return extension;
}

Result<DecodedPicture, std::string> open_picture(std::string_view path,
                                                 std::uint32_t max_dimension) {
    const std::string path_text(path);
    errno = 0;
    File file(std::fopen(path_text.c_str(), "rb"));
    if (!file)
        return Decoded::err(os_error_text(errno != 0 ? errno : ENOENT));
    // A folder opens like a file here; reading it is what fails.
    struct stat info {};
    if (::fstat(::fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
        return Decoded::err(os_error_text(EISDIR));
    }

    const std::string extension = picture_extension(path);
    if (extension == "jpg" || extension == "jpeg")
        return decode_jpeg(file.get(), max_dimension);
    if (extension == "png")
        return decode_png(file.get(), max_dimension);
    return Decoded::err(unsupported_format_text(extension));
}

}  // namespace morvelta
