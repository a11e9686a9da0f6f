// Loading pictures into textures against bare decoding of the same files.
//
// 1. JPEG decoding: the program's decoder (`open_picture`) against libjpeg-turbo's own
//    decoding of the same files to RGBA (TurboJPEG's tjDecompress2 in this process, and
//    the djpeg tool), on 20 photo-like JPEGs of 12 megapixels made from ImageMagick
//    plasma: baseline and progressive, 4:2:0 and 4:4:4.
// 2. Scan storms: files of near-empty progressive scans over 4096 x 4096 frames (and,
//    with --large, 16384 x 16384), next to an ordinary progressive file of the same
//    size; the worst case is the storm that stays just within the work bound.
// 3. The whole load path, `build_sprites` on an OpenGL 3.2 context (decode, upload,
//    sprite), against bare decoding, with 10 PNGs of 4 megapixels added; and how far
//    the resident set peaks above its level before loading.
//
// Needs an X display: uses $DISPLAY, or starts a private Xvfb when none is set.
#include <SDL.h>
#include <epoxy/gl.h>
#include <fcntl.h>
#include <signal.h>
#include <spng.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "jpeg_scripts.hpp"
#include "picture_decode.hpp"
#include "sprites.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace morvelta;
using Clock = std::chrono::steady_clock;

constexpr int plasma_count = 5;  // each in four encodings: 20 JPEGs
constexpr int jpeg_count = plasma_count * 4;
constexpr int jpeg_width = 4000, jpeg_height = 3000;
constexpr int png_count = 10;
constexpr int png_width = 2000, png_height = 2000;
constexpr int rounds = 5;

void check(bool ok, const std::string& what) {
    if (!ok)
        throw std::runtime_error(what);
}

// Smooth colour fields with a little noise, like photographs rather than flat fills.
std::vector<std::uint8_t> make_pixels(int width, int height, int channels, std::uint32_t seed) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * channels);
    std::uint32_t state = seed * 2654435761u + 1;
    std::size_t i = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = static_cast<int>(state & 15) - 8;
            const int base[4] = {x * 255 / width, y * 255 / height,
                                 ((x + y + static_cast<int>(seed) * 97) / 7) & 255,
                                 255 - ((x ^ y) & 63)};
            for (int c = 0; c < channels; ++c) {
                pixels[i++] = static_cast<std::uint8_t>(std::clamp(base[c] + noise, 0, 255));
            }
        }
    }
    return pixels;
}

void write_file(const fs::path& path, const unsigned char* bytes, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    check(out.good(), "cannot write " + path.string());
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct JpegKind {
    const char* name;
    std::vector<std::string> args;  // ImageMagick options for the encoding
};

const std::vector<JpegKind> jpeg_kinds = {
    {"baseline 4:2:0", {"-sampling-factor", "2x2"}},
    {"baseline 4:4:4", {"-sampling-factor", "1x1"}},
    {"progressive 4:2:0", {"-sampling-factor", "2x2", "-interlace", "JPEG"}},
    {"progressive 4:4:4", {"-sampling-factor", "1x1", "-interlace", "JPEG"}},
};

// Plasma fractals look like photographs to a JPEG coder: smooth fields, fine detail.
// Each plasma is made once, losslessly, then encoded in every kind; the plasmas are
// made side by side, as ImageMagick takes seconds for each.
std::vector<std::string> make_jpegs(const fs::path& dir) {
    std::vector<std::string> paths(jpeg_count);
    std::vector<std::thread> makers;
    for (int i = 0; i < plasma_count; ++i) {
        makers.emplace_back([&dir, &paths, i] {
            const fs::path source = dir / ("plasma" + std::to_string(i) + ".ppm");
            morvelta::testing::make_picture(
                source, {"-size", std::to_string(jpeg_width) + "x" + std::to_string(jpeg_height),
                         "-seed", std::to_string(i + 1), "plasma:fractal"});
            for (std::size_t k = 0; k < jpeg_kinds.size(); ++k) {
                const fs::path path =
                    dir / ("p" + std::to_string(i) + "_" + std::to_string(k) + ".jpg");
                std::vector<std::string> args{source.string(), "-quality", "90"};
                args.insert(args.end(), jpeg_kinds[k].args.begin(), jpeg_kinds[k].args.end());
                morvelta::testing::ProcessResult made = morvelta::testing::run_process(
                    [&] {
                        std::vector<std::string> argv{"/usr/bin/convert"};
                        argv.insert(argv.end(), args.begin(), args.end());
                        argv.push_back(path.string());
                        return argv;
                    }(),
                    {});
                check(made.exit_status == 0, "convert: " + made.err);
                paths[k * plasma_count + i] = path.string();
            }
            fs::remove(source);
        });
    }
    for (std::thread& maker : makers)
        maker.join();
    return paths;
}

void make_png(const fs::path& path, std::uint32_t seed) {
    const auto pixels = make_pixels(png_width, png_height, 4, seed);
    morvelta::testing::write_png(path, png_width, png_height, 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA,
                                 pixels);
}

// Bare library decoding to RGBA, the pixels dropped right after.
void bare_decode(const fs::path& path) {
    const std::string bytes = read_file(path);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (path.extension() == ".jpg") {
        tjhandle handle = tjInitDecompress();
        int width = 0, height = 0, subsamp = 0, colorspace = 0;
        check(tjDecompressHeader3(handle, data, bytes.size(), &width, &height, &subsamp,
                                  &colorspace) == 0,
              "header");
        auto pixels =
            std::make_unique_for_overwrite<unsigned char[]>(std::size_t(width) * height * 4);
        check(tjDecompress2(handle, data, bytes.size(), pixels.get(), width, 0, height, TJPF_RGBA,
                            0) == 0,
              "tjDecompress2");
        tjDestroy(handle);
        return;
    }
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, bytes.data(), bytes.size());
    size_t size = 0;
    check(spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0, "png size");
    auto pixels = std::make_unique_for_overwrite<unsigned char[]>(size);
    check(spng_decode_image(ctx, pixels.get(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0,
          "spng_decode_image");
    spng_ctx_free(ctx);
}

long status_kib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + key.size());
    }
    return -1;
}

// Resets the kernel's peak resident set mark to the current level.
bool reset_peak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return clear.good();
}

class HiddenGlWindow {
  public:
    HiddenGlWindow() {
        check(SDL_InitSubSystem(SDL_INIT_VIDEO) == 0, SDL_GetError());
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        window_ = SDL_CreateWindow("bench", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        check(window_ != nullptr, SDL_GetError());
        context_ = SDL_GL_CreateContext(window_);
        check(context_ != nullptr, SDL_GetError());
    }
    ~HiddenGlWindow() {
        SDL_GL_DeleteContext(context_);
        SDL_DestroyWindow(window_);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

  private:
    SDL_Window* window_ = nullptr;
    SDL_GLContext context_ = nullptr;
};

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double decode_seconds(const std::string& path) {
    const auto start = Clock::now();
    auto decoded = morvelta::open_picture(path);
    const double seconds = seconds_since(start);
    check(decoded.is_ok(), path + ": " + (decoded.is_ok() ? "" : decoded.error()));
    return seconds;
}

// libjpeg-turbo's tool, decoding to a PPM it throws away; it cannot write RGBA.
double djpeg_seconds(const std::string& path) {
    const auto start = Clock::now();
    auto run = morvelta::testing::run_process({"djpeg", "-outfile", "/dev/null", path}, {});
    check(run.exit_status == 0, "djpeg: " + run.err);
    return seconds_since(start);
}

// tjDecompress2 into `pixels`, which is large enough and already faulted in: libjpeg-
// turbo's decoding cost alone, without the memory a new picture needs.
void warm_tj_decode(const std::string& path, std::vector<unsigned char>& pixels) {
    const std::string bytes = read_file(path);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsamp = 0, colorspace = 0;
    check(tjDecompressHeader3(handle, data, bytes.size(), &width, &height, &subsamp, &colorspace) ==
              0,
          "header");
    pixels.resize(std::size_t(width) * height * 4);
    check(tjDecompress2(handle, data, bytes.size(), pixels.data(), width, 0, height, TJPF_RGBA,
                        0) == 0,
          "tjDecompress2");
    tjDestroy(handle);
}

// Section 1: the program's JPEG decoding against libjpeg-turbo's, kind by kind, best
// of `rounds` with the decoders taking turns. The program and tjDecompress2 decode
// into new memory, as every picture of a show needs; djpeg streams rows to a file.
void compare_jpeg_decoding(const std::vector<std::string>& jpegs) {
    std::printf("\nJPEG decoding to RGBA, %d files of %dx%d, best of %d rounds (seconds):\n",
                jpeg_count, jpeg_width, jpeg_height, rounds);
    std::printf("  %-18s %8s %8s %8s %8s   %s\n", "kind", "program", "tj", "tj warm", "djpeg",
                "program / tj, tj warm, djpeg");
    std::vector<unsigned char> warm(std::size_t{jpeg_width} * jpeg_height * 4, 1);
    double all[4] = {};
    for (std::size_t k = 0; k < jpeg_kinds.size(); ++k) {
        double best[4] = {1e9, 1e9, 1e9, 1e9};
        for (int round = 0; round < rounds; ++round) {
            double took[4] = {};
            for (int i = 0; i < plasma_count; ++i) {
                const std::string& path = jpegs[k * plasma_count + i];
                took[0] += decode_seconds(path);
                auto start = Clock::now();
                bare_decode(path);
                took[1] += seconds_since(start);
                start = Clock::now();
                warm_tj_decode(path, warm);
                took[2] += seconds_since(start);
                took[3] += djpeg_seconds(path);
            }
            for (int j = 0; j < 4; ++j)
                best[j] = std::min(best[j], took[j]);
        }
        std::printf("  %-18s %8.3f %8.3f %8.3f %8.3f   %.3f %.3f %.3f\n", jpeg_kinds[k].name,
                    best[0], best[1], best[2], best[3], best[0] / best[1], best[0] / best[2],
                    best[0] / best[3]);
        for (int j = 0; j < 4; ++j)
            all[j] += best[j];
    }
    std::printf("  %-18s %8.3f %8.3f %8.3f %8.3f   %.3f %.3f %.3f  (limit 1.10)\n", "all 20",
                all[0], all[1], all[2], all[3], all[0] / all[1], all[0] / all[2], all[0] / all[3]);
}

// A scan with no data for component 1 (the only one of a grey frame, the luma of a
// colour one): the decoder still steps over every block of it.
std::string empty_scan(int ss, int se, int ah, int al) {
    const char header[] = {'\xFF',
                           '\xDA',
                           0,
                           8,
                           1,
                           1,
                           0,
                           static_cast<char>(ss),
                           static_cast<char>(se),
                           static_cast<char>(ah << 4 | al)};
    return {header, sizeof header};
}

std::string with_empty_scans(const std::string& jpeg, int count) {
    const std::size_t end = jpeg.rfind("\xFF\xD9");
    std::string out = jpeg.substr(0, end);
    for (int i = 0; i < count; ++i)
        out += empty_scan(1, 63, 0, 0);
    return out + "\xFF\xD9";
}

struct Timed {
    double seconds = 0;
    bool refused = false;
};

// Best of three: the storms' times are what a show waits, not noise.
Timed time_decode(const fs::path& path, const std::string& bytes) {
    write_file(path, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    Timed best{1e9, false};
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        auto decoded = morvelta::open_picture(path.string());
        const double seconds = seconds_since(start);
        best.refused = !decoded.is_ok();
        best.seconds = std::min(best.seconds, seconds);
    }
    return best;
}

// Section 2: scan storms against ordinary progressive files of the same frame.
void compare_scan_storms(const fs::path& dir, int side) {
    using morvelta::testing::encode_jpeg;
    using morvelta::testing::JpegOptions;
    std::printf("\nScan storms over %dx%d frames (best of 3 each):\n", side, side);
    std::vector<std::uint8_t> detail;
    struct Frame {
        const char* name;
        int components;
        bool full_chroma;
    };
    double worst_ratio = 0;
    for (const Frame& frame :
         {Frame{"grey", 1, false}, Frame{"4:2:0", 3, false}, Frame{"4:4:4", 3, true}}) {
        JpegOptions options{.width = side,
                            .height = side,
                            .components = frame.components,
                            .full_chroma = frame.full_chroma};
        const std::string flat = encode_jpeg(options);
        detail = make_pixels(side, side, frame.components, 7);
        options.pixels = detail.data();
        const std::string detailed = encode_jpeg(options);
        const fs::path path = dir / "storm.jpg";
        const Timed ordinary_flat = time_decode(path, flat);
        const Timed ordinary_detailed = time_decode(path, detailed);
        std::printf("  %s: ordinary progressive %.3f s (flat, %zu KB), %.3f s (detailed, %zu KB)\n",
                    frame.name, ordinary_flat.seconds, flat.size() / 1024,
                    ordinary_detailed.seconds, detailed.size() / 1024);

        struct Storm {
            std::string name;
            std::string bytes;
        };
        std::vector<Storm> storms;
        for (int k : {1, 2, 3, 5, 998})
            storms.push_back({"+" + std::to_string(k) + " repeated refinements",
                              morvelta::testing::repeat_last_scan(flat, k)});
        for (int k : {4, 8, 12, 16, 990})
            storms.push_back({"+" + std::to_string(k) + " empty scans", with_empty_scans(flat, k)});
        if (frame.components == 1) {
            JpegOptions valid{.width = side,
                              .height = side,
                              .components = 1,
                              .script = morvelta::testing::coefficient_storm_script()};
            storms.push_back({"every coefficient bit by bit", encode_jpeg(valid)});
        }
        double worst = 0;
        for (const Storm& storm : storms) {
            const Timed timed = time_decode(path, storm.bytes);
            worst = std::max(worst, timed.seconds);
            std::printf("    %-32s %7zu KB %7.3f s  %-8s %.2fx flat ordinary\n", storm.name.c_str(),
                        storm.bytes.size() / 1024, timed.seconds,
                        timed.refused ? "refused" : "shown", timed.seconds / ordinary_flat.seconds);
        }
        std::printf(
            "    worst %.3f s: %.2fx the flat ordinary file, %.2fx the detailed one, %+.3f s\n",
            worst, worst / ordinary_flat.seconds, worst / ordinary_detailed.seconds,
            worst - ordinary_flat.seconds);
        worst_ratio = std::max(worst_ratio, worst / ordinary_flat.seconds);
    }
    std::printf("  worst storm against the flat ordinary file of its frame: %.2fx (goal 2.00)\n",
                worst_ratio);
}

int run(bool large) {
    char dir_template[] = "/tmp/morvelta-bench-XXXXXX";
    check(::mkdtemp(dir_template) != nullptr, "mkdtemp");
    const fs::path dir = dir_template;

    std::printf("making %d JPEGs of %dx%d and %d PNGs of %dx%d in %s\n", jpeg_count, jpeg_width,
                jpeg_height, png_count, png_width, png_height, dir.c_str());
    std::vector<std::string> paths = make_jpegs(dir);
    compare_jpeg_decoding(paths);
    compare_scan_storms(dir, 4096);
    if (large)
        compare_scan_storms(dir, 16384);

    for (int i = 0; i < png_count; ++i) {
        paths.push_back((dir / ("q" + std::to_string(i) + ".png")).string());
        make_png(paths.back(), static_cast<std::uint32_t>(100 + i));
    }
    std::uintmax_t file_bytes = 0;
    for (const auto& path : paths)
        file_bytes += fs::file_size(path);
    const PictureList pictures(paths.begin(), paths.end());

    // A private X server unless one is given.
    std::unique_ptr<morvelta::testing::XvfbServer> xvfb;
    if (std::getenv("DISPLAY") == nullptr) {
        xvfb = std::make_unique<morvelta::testing::XvfbServer>(1280, 720);
        ::setenv("DISPLAY", xvfb->display().c_str(), 1);
    }
    HiddenGlWindow window;
    TextureFactory factory;
    std::printf("renderer: %s, largest texture side %u\n",
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                factory.max_texture_size());

    const std::size_t texture_bytes = std::size_t{jpeg_count} * jpeg_width * jpeg_height * 4 +
                                      std::size_t{png_count} * png_width * png_height * 4;
    const std::size_t largest_picture = std::size_t{jpeg_width} * jpeg_height * 4;

    double best_bare = 1e9, best_load = 1e9;
    std::vector<double> ratios;
    long worst_growth_kib = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        for (const auto& path : paths)
            bare_decode(path);
        const double bare = seconds_since(start);

        const bool peak_reset = reset_peak();
        const long before_kib = status_kib("VmRSS");
        start = Clock::now();
        std::vector<PictureSprite> sprites = build_sprites(pictures, factory);
        glFinish();
        const double load = seconds_since(start);
        const long growth_kib = status_kib("VmHWM") - before_kib;
        release_sprites(sprites);
        glFinish();

        std::printf(
            "round %d: bare decoding %.3f s, build_sprites %.3f s, ratio %.3f; "
            "peak RSS growth %.1f MiB%s\n",
            round + 1, bare, load, load / bare, growth_kib / 1024.0,
            peak_reset ? "" : " (peak mark not resettable: figure is an upper bound)");
        best_bare = std::min(best_bare, bare);
        best_load = std::min(best_load, load);
        ratios.push_back(load / bare);
        worst_growth_kib = std::max(worst_growth_kib, growth_kib);
    }

    const double allowed_mib = (texture_bytes + largest_picture) / 1048576.0;
    std::printf("\nfiles: %.1f MiB compressed\n", file_bytes / 1048576.0);
    // One slow or fast round (page cache, huge pages) must not decide the ratio: the two
    // are compared within each round, and the middle round's ratio is the one quoted.
    std::sort(ratios.begin(), ratios.end());
    std::printf(
        "time:   build_sprites / bare decoding in the same round, median %.3f (limit 1.25); "
        "best %.3f s / best %.3f s = %.3f\n",
        ratios[ratios.size() / 2], best_load, best_bare, best_load / best_bare);
    std::printf(
        "memory: worst peak growth %.1f MiB; textures %.1f MiB + largest picture %.1f MiB "
        "= %.1f MiB (%s)\n",
        worst_growth_kib / 1024.0, texture_bytes / 1048576.0, largest_picture / 1048576.0,
        allowed_mib, worst_growth_kib / 1024.0 <= allowed_mib ? "within" : "OVER");
    fs::remove_all(dir);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Each line as it is made: the whole run takes minutes.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        return run(argc > 1 && std::string(argv[1]) == "--large");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_pictures: %s\n", error.what());
        return 1;
    }
}
