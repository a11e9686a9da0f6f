// Loading pictures into textures against bare decoding of the same files.
//
// Makes 20 JPEGs of 12 megapixels and 10 PNGs of 4 megapixels, then times, in one
// run, (a) decoding each file with TurboJPEG and libspng alone and (b) the program's
// whole load path, `build_sprites` on an OpenGL 3.2 context (decode, upload, sprite).
// Also reports how far the resident set peaks above its level before loading,
// against the bytes the textures hold plus the largest decoded picture.
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
#include <vector>

#include "sprites.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace morvelta;
using Clock = std::chrono::steady_clock;

constexpr int jpeg_count = 20;
constexpr int jpeg_width = 4000, jpeg_height = 3000;
constexpr int png_count = 10;
constexpr int png_width = 2000, png_height = 2000;
constexpr int rounds = 3;

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

void make_jpeg(const fs::path& path, std::uint32_t seed) {
    const auto pixels = make_pixels(jpeg_width, jpeg_height, 3, seed);
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    check(tjCompress2(handle, pixels.data(), jpeg_width, 0, jpeg_height, TJPF_RGB, &jpeg, &size,
                      TJSAMP_420, 90, 0) == 0,
          "tjCompress2");
    write_file(path, jpeg, size);
    tjFree(jpeg);
    tjDestroy(handle);
}

void make_png(const fs::path& path, std::uint32_t seed) {
    const auto pixels = make_pixels(png_width, png_height, 4, seed);
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr header{};
    header.width = png_width;
    header.height = png_height;
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    spng_set_ihdr(ctx, &header);
    check(spng_encode_image(ctx, pixels.data(), pixels.size(), SPNG_FMT_PNG,
                            SPNG_ENCODE_FINALIZE) == 0,
          "spng_encode_image");
    size_t size = 0;
    int error = 0;
    auto* png = static_cast<unsigned char*>(spng_get_png_buffer(ctx, &size, &error));
    check(error == 0, "spng_get_png_buffer");
    write_file(path, png, size);
    std::free(png);
    spng_ctx_free(ctx);
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

// "<dir>/<prefix><number><extension>", built by appending: GCC 12 at -O3 wrongly warns
// (-Wrestrict) about a string literal plus a temporary string.
std::string numbered_path(const fs::path& dir, const char* prefix, int number,
                          const char* extension) {
    std::string name = prefix;
    name += std::to_string(number);
    name += extension;
    return (dir / name).string();
}

int run() {
    char dir_template[] = "/tmp/morvelta-bench-XXXXXX";
    check(::mkdtemp(dir_template) != nullptr, "mkdtemp");
    const fs::path dir = dir_template;

    std::printf("making %d JPEGs of %dx%d and %d PNGs of %dx%d in %s\n", jpeg_count, jpeg_width,
                jpeg_height, png_count, png_width, png_height, dir.c_str());
    std::vector<std::string> paths;
    for (int i = 0; i < jpeg_count; ++i) {
        paths.push_back(numbered_path(dir, "p", i, ".jpg"));
        make_jpeg(paths.back(), static_cast<std::uint32_t>(i));
    }
    for (int i = 0; i < png_count; ++i) {
        paths.push_back(numbered_path(dir, "q", i, ".png"));
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
        worst_growth_kib = std::max(worst_growth_kib, growth_kib);
    }

    const double allowed_mib = (texture_bytes + largest_picture) / 1048576.0;
    std::printf("\nfiles: %.1f MiB compressed\n", file_bytes / 1048576.0);
    std::printf(
        "time:   best build_sprites %.3f s / best bare decoding %.3f s = %.3f (limit 1.25)\n",
        best_load, best_bare, best_load / best_bare);
    std::printf(
        "memory: worst peak growth %.1f MiB; textures %.1f MiB + largest picture %.1f MiB "
        "= %.1f MiB (%s)\n",
        worst_growth_kib / 1024.0, texture_bytes / 1048576.0, largest_picture / 1048576.0,
        allowed_mib, worst_growth_kib / 1024.0 <= allowed_mib ? "within" : "OVER");
    fs::remove_all(dir);
    return 0;
}

}  // namespace

int main() {
    try {
        return run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_pictures: %s\n", error.what());
        return 1;
    }
}
