// JPEG through libjpeg's own API (for its warning hook: a file that ends early must
// fail rather than show grey, and its progress hook: the work of progressive scans is
// counted), PNG through libspng. Both read the file as a stream, so the compressed
// bytes never sit in memory beside the decoded pixels.
#include "picture_decode.hpp"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <new>
#include <vector>

// jpeglib.h needs <cstdio> before it, and jerror.h needs jpeglib.h.
#include <jerror.h>
#include <jpeglib.h>
#include <spng.h>

#include "debug_form.hpp"
#include "regular_file.hpp"

namespace morvelta {

namespace {

using Decoded = Result<DecodedPicture, std::string>;

// Texture sizes are 16-bit, whatever the device allows.
constexpr std::uint32_t largest_side = 65535;
// A progressive JPEG needs well under a hundred scans; a file with thousands is built
// to make each row cost a full pass over the picture.
constexpr int most_jpeg_scans = 1000;
// The decoding work of a JPEG's scans, counted in steps of about the same cost: every
// block a scan covers costs `block_visit_work`, coded or not, and a scan that refines
// AC coefficients also steps through each coefficient of its band in every block,
// since the decoder looks at each one for a correction bit. For each block of the
// frame, libjpeg's and jpegtran's scripts cost 140 to 198, mozjpeg's with three bits
// of successive approximation up to 273, whatever the picture shows; `work_per_block`
// holds them all. Scans that carry data are paid for by their bytes, so each byte of
// the file buys `work_per_byte` more. Past that, a file of near-empty scans is built
// to stall the show.
constexpr std::uint64_t block_visit_work = 12;
constexpr std::uint64_t work_per_block = 288;
constexpr std::uint64_t work_per_byte = 32;
// PNG chunks that libspng keeps in memory (text, profiles, inflated when compressed)
// are never read by us; no real picture needs more, and a small file cannot make the
// library inflate more.
constexpr std::size_t png_chunk_size_limit = std::size_t{16} << 20;
constexpr std::size_t png_chunk_cache_limit = std::size_t{16} << 20;

std::string format_error(std::string_view detail) {
    return "Format error: " + std::string(detail);
}

// Memory for a whole decoded picture. The decoder writes each byte once, straight
// after the allocation, and the page faults of a fresh block cost a 12-megapixel JPEG
// a third of its decoding time when the system hands the memory out 4 KiB at a time;
// huge pages over the block's aligned middle make them 512 times fewer. Only advice,
// ignored where there are no huge pages, and only up to `largest_huge_paged` bytes: the
// first huge pages for blocks of hundreds of megabytes took the system longer to find
// than the faults they saved.
constexpr std::size_t largest_huge_paged = std::size_t{64} << 20;

std::unique_ptr<std::uint8_t[]> allocate_pixels(std::size_t size) {
    auto pixels = std::make_unique_for_overwrite<std::uint8_t[]>(size);
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t huge_page = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(pixels.get());
    const std::uintptr_t first = (start + huge_page - 1) & ~(huge_page - 1);
    const std::uintptr_t last = (start + size) & ~(huge_page - 1);
    if (size <= largest_huge_paged && last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
    return pixels;
}

// Why a picture of this size is refused, or nothing: first the 16-bit texture size,
// then whatever the caller's check says.
std::optional<std::string> size_refusal(std::uint64_t width, std::uint64_t height,
                                        const SizeCheck& check_size) {
    if (width == 0 || height == 0 || width > largest_side || height > largest_side)
        return std::string(bad_dimensions_text);
    if (check_size)
        return check_size(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    return std::nullopt;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// ---- JPEG ----

enum class JpegStop { none, library_error, ended_early, too_much_work };

// Everything the decoding functions change after `setjmp` lives here, outside their
// frames, so it stays valid when the library jumps back on an error.
struct JpegSession {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    JpegStop stop = JpegStop::none;
    int code = 0;
    char detail[JMSG_LENGTH_MAX]{};
    bool created = false;
    std::FILE* file = nullptr;
    std::uint64_t file_size = 0;
    // Scans counted so far, and their work against what the frame may spend.
    int counted_scans = 0;
    std::uint64_t work = 0;
    std::uint64_t work_budget = 0;
    std::vector<JSAMPROW> rows;

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

std::uint64_t blocks_of(const jpeg_component_info& component) {
    return std::uint64_t{component.width_in_blocks} * component.height_in_blocks;
}

// The work of the scan whose header was read last.
std::uint64_t scan_work(const jpeg_decompress_struct& info) {
    std::uint64_t blocks = 0;
    for (int i = 0; i < info.comps_in_scan; ++i)
        blocks += blocks_of(*info.cur_comp_info[i]);
    const bool refines_ac = info.Ss > 0 && info.Ah > 0;
    const std::uint64_t band = refines_ac ? static_cast<std::uint64_t>(info.Se - info.Ss + 1) : 0;
    return blocks * (block_visit_work + band);
}

// Called before every row of input and of output; a new scan is charged before any
// of its blocks is decoded.
void jpeg_count_work(j_common_ptr common) {
    auto* info = reinterpret_cast<j_decompress_ptr>(common);
    JpegSession& session = session_of(common);
    if (info->input_scan_number == session.counted_scans)
        return;
    session.counted_scans = info->input_scan_number;
    session.work += scan_work(*info);
    if (session.counted_scans > most_jpeg_scans || session.work > session.work_budget)
        jpeg_stop(common, JpegStop::too_much_work);
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

// Reads the header; false when the session records why it stopped. Only plain values
// live in the frames of this and the next function, since the library leaves them with
// `longjmp`.
bool read_jpeg_header(JpegSession& s) {
    s.info.err = jpeg_std_error(&s.errors);
    s.errors.error_exit = jpeg_on_error;
    s.errors.emit_message = jpeg_on_message;
    s.errors.output_message = jpeg_keep_quiet;
    s.info.client_data = &s;
    if (setjmp(s.jump) != 0)
        return false;

    jpeg_create_decompress(&s.info);
    s.created = true;
    s.progress.progress_monitor = jpeg_count_work;
    s.info.progress = &s.progress;
    jpeg_stdio_src(&s.info, s.file);
    jpeg_read_header(&s.info, TRUE);
    std::uint64_t frame_blocks = 0;
    for (int i = 0; i < s.info.num_components; ++i)
        frame_blocks += blocks_of(s.info.comp_info[i]);
    s.work_budget = frame_blocks * work_per_block + s.file_size * work_per_byte;
    return true;
}

// Decodes into `out`, whose size the header gave.
bool decode_jpeg_pixels(JpegSession& s, DecodedPicture& out) {
    if (setjmp(s.jump) != 0)
        return false;
    const bool inks = s.info.jpeg_color_space == JCS_CMYK || s.info.jpeg_color_space == JCS_YCCK;
    s.info.out_color_space = inks ? JCS_CMYK : JCS_EXT_RGBA;
    // A progressive picture is read whole here, all its scans, before any pixel row.
    jpeg_start_decompress(&s.info);
    if (s.info.output_width != out.width || s.info.output_height != out.height) {
        s.stop = JpegStop::library_error;
        s.code = JERR_IMAGE_TOO_BIG;
        return false;
    }
    // Only now: a picture refused while its scans are read never gets pixel memory.
    out.rgba = allocate_pixels(out.byte_size());
    const std::size_t stride = std::size_t{out.width} * 4;
    s.rows.resize(out.height);
    for (std::uint32_t y = 0; y < out.height; ++y)
        s.rows[y] = out.rgba.get() + stride * y;
    // As many rows a call as the library will give: fewer calls, no spare-row copies.
    while (s.info.output_scanline < s.info.output_height) {
        const JDIMENSION first = s.info.output_scanline;
        const JDIMENSION got =
            jpeg_read_scanlines(&s.info, s.rows.data() + first, s.info.output_height - first);
        if (got == 0) {
            s.stop = JpegStop::ended_early;
            return false;
        }
        for (JDIMENSION y = first; inks && y < first + got; ++y)
            cmyk_row_to_rgba(s.rows[y], out.width);
    }
    jpeg_finish_decompress(&s.info);
    return true;
}

Decoded jpeg_failure(const JpegSession& session) {
    switch (session.stop) {
        case JpegStop::ended_early:
            return Decoded::err(std::string(not_enough_data_text));
        case JpegStop::too_much_work:
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
            // A height of 0 would be given later by a DNL marker, which is not read.
            if (session.info.image_width == 0 && session.info.image_height != 0)
                return Decoded::err(format_error("zero width in frame header"));
            return Decoded::err(std::string(bad_dimensions_text));
        case JERR_IMAGE_TOO_BIG:
        case JERR_WIDTH_OVERFLOW:
            return Decoded::err(std::string(bad_dimensions_text));
        default:
            return Decoded::err(format_error(session.detail));
    }
}

Decoded decode_jpeg(std::FILE* file, const SizeCheck& check_size) {
    // The library wants two bytes before it judges the first; a one-byte file that
    // cannot be a JPEG is still the wrong kind of file rather than a short one.
    const int first = std::fgetc(file);
    if (first == EOF)
        return Decoded::err(std::string(not_enough_data_text));
    if (first != 0xFF)
        return Decoded::err(format_error("first two bytes is not a SOI marker"));
    std::ungetc(first, file);

    JpegSession session;
    session.file = file;
    struct stat info {};
    if (::fstat(::fileno(file), &info) == 0)
        session.file_size = static_cast<std::uint64_t>(info.st_size);
    if (!read_jpeg_header(session))
        return jpeg_failure(session);
    if (auto refusal =
            size_refusal(session.info.image_width, session.info.image_height, check_size))
        return Decoded::err(std::move(*refusal));
    DecodedPicture picture;
    picture.width = session.info.image_width;
    picture.height = session.info.image_height;
    if (!decode_jpeg_pixels(session, picture))
        return jpeg_failure(session);
    return Decoded::ok(std::move(picture));
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

Decoded decode_png(std::FILE* file, const SizeCheck& check_size) {
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
    int code = spng_set_png_stream(ctx.get(), read_png, &source);
    if (code == 0)
        code = spng_set_image_limits(ctx.get(), largest_side, largest_side);
    if (code == 0)
        code = spng_set_chunk_limits(ctx.get(), png_chunk_size_limit, png_chunk_cache_limit);
    spng_ihdr header{};
    if (code == 0)
        code = spng_get_ihdr(ctx.get(), &header);
    if (code != 0)
        return png_error(code);
    if (auto refusal = size_refusal(header.width, header.height, check_size))
        return Decoded::err(std::move(*refusal));

    DecodedPicture picture;
    picture.width = header.width;
    picture.height = header.height;
    std::size_t size = 0;
    code = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size);
    if (code != 0)
        return png_error(code);
    if (size != picture.byte_size())
        return Decoded::err(std::string(bad_dimensions_text));
    picture.rgba = allocate_pixels(size);
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
                                                 const SizeCheck& check_size) {
    const std::string path_text(path);
    auto opened = open_regular_file(path_text.c_str());
    if (!opened.is_ok())
        return Decoded::err(os_error_text(opened.error()));
    File file(::fdopen(opened.value().get(), "rb"));
    if (!file)
        return Decoded::err(os_error_text(errno));
    opened.value().release();  // the stream closes it now

    const std::string extension = picture_extension(path);
    if (extension == "jpg" || extension == "jpeg")
        return decode_jpeg(file.get(), check_size);
    if (extension == "png")
        return decode_png(file.get(), check_size);
    return Decoded::err(unsupported_format_text(extension));
}

}  // namespace morvelta
