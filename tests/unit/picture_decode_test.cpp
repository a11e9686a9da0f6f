// Picture decoding checked against ImageMagick's own decoding of the same files,
// every failure text, and damaged files that must fail cleanly.
#include "picture_decode.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jpeg_scripts.hpp"
#include "test_support.hpp"

namespace morvelta::testing {
namespace {

constexpr std::uint32_t no_limit = 16384;

// A device that holds textures up to `largest` on a side.
SizeCheck device_limit(std::uint32_t largest) {
    return [largest](std::uint32_t width, std::uint32_t height) -> std::optional<std::string> {
        if (width <= largest && height <= largest)
            return std::nullopt;
        return "Texture(too large)";
    };
}

std::string read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_bytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// ImageMagick's RGBA bytes for the file, 8 bits a channel. With `high_bytes`, it
// decodes at 16 bits and keeps each sample's high byte, which is what cutting 16-bit
// samples to 8 means.
std::string reference_rgba(const fs::path& path, bool high_bytes = false) {
    std::vector<std::string> argv{"/usr/bin/convert", path.string(),           "-endian", "MSB",
                                  "-depth",           high_bytes ? "16" : "8", "rgba:-"};
    ProcessResult run = run_process(argv, {});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    if (!high_bytes)
        return run.out;
    std::string bytes;
    for (std::size_t i = 0; i < run.out.size(); i += 2)
        bytes += run.out[i];
    return bytes;
}

std::string decoded_bytes(const DecodedPicture& picture) {
    return {reinterpret_cast<const char*>(picture.rgba.get()), picture.byte_size()};
}

DecodedPicture decode_ok(const fs::path& path, std::uint32_t max_dimension = no_limit) {
    auto result = open_picture(path.string(), device_limit(max_dimension));
    EXPECT_TRUE(result.is_ok()) << path << ": " << (result.is_ok() ? "" : result.error());
    if (!result.is_ok())
        return {};
    return std::move(result.value());
}

std::string decode_error(const fs::path& path, std::uint32_t max_dimension = no_limit) {
    auto result = open_picture(path.string(), device_limit(max_dimension));
    EXPECT_FALSE(result.is_ok()) << path;
    return result.is_ok() ? std::string() : result.error();
}

int largest_difference(const std::string& a, const std::string& b) {
    int largest = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        largest = std::max(
            largest, std::abs(static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i])));
    }
    return largest;
}

// Says where two byte strings part, rather than printing both.
void expect_same_bytes(const std::string& ours, const std::string& theirs) {
    ASSERT_EQ(ours.size(), theirs.size());
    std::size_t differing = 0, first = 0;
    for (std::size_t i = ours.size(); i-- > 0;) {
        if (ours[i] != theirs[i])
            ++differing, first = i;
    }
    EXPECT_EQ(differing, 0u) << "first at byte " << first << ": "
                             << int(static_cast<unsigned char>(ours[first])) << " against "
                             << int(static_cast<unsigned char>(theirs[first]));
}

const std::string not_enough = "Not enough data was provided to the Decoder to decode the image";
const std::string bad_size = "The Image's dimensions are either too small or too large";

struct Case {
    std::string name;  // the file name made, its extension chooses the decoder
    std::vector<std::string> args;
    std::uint32_t width;
    std::uint32_t height;
};

const std::vector<std::string> colourful = {"-size",          "333x17", "-seed", "7",
                                            "plasma:fractal", "-depth", "8"};
const std::vector<std::string> see_through = {
    "-size", "333x17", "gradient:rgba(255,0,0,0.1)-rgba(0,80,255,0.9)", "-depth", "8"};

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(PictureDecode, PngMatchesImageMagickExactly) {
    TempDir dir;
    const std::vector<Case> cases = {
        {"grey.png", join(colourful, {"-colorspace", "Gray", "-define", "png:color-type=0"}), 333,
         17},
        {"grey_alpha.png",
         join(see_through, {"-colorspace", "Gray", "-define", "png:color-type=4"}), 333, 17},
        {"rgb.png", join(colourful, {"-define", "png:color-type=2"}), 333, 17},
        {"rgba.png", join(see_through, {"-define", "png:color-type=6"}), 333, 17},
        {"palette.png", join(colourful, {"-colors", "40", "-define", "png:format=png8"}), 333, 17},
        {"interlaced.png", join(see_through, {"-interlace", "PNG"}), 333, 17},
        {"one.png", {"-size", "1x1", "xc:rgb(12,200,99)"}, 1, 1},
        {"UPPER.PNG", join(colourful, {}), 333, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir.path() / c.name;
        make_picture(path, c.args);
        if (c.name == "palette.png") {
            ASSERT_EQ(read_bytes(path)[25], 3) << "not a palette picture";
        }
        DecodedPicture picture = decode_ok(path);
        EXPECT_EQ(picture.width, c.width);
        EXPECT_EQ(picture.height, c.height);
        expect_same_bytes(decoded_bytes(picture), reference_rgba(path));
    }
}

TEST(PictureDecode, PaletteWithTransparencyExpands) {
    TempDir dir;
    const fs::path path = dir.path() / "trns.png";
    // Two colours, one of them fully transparent: a palette with a tRNS chunk.
    make_picture(path, {"-size", "20x10", "xc:none", "-fill", "red", "-draw", "rectangle 10,0 19,9",
                        "-define", "png:format=png8"});
    const std::string file = read_bytes(path);
    ASSERT_EQ(file[25], 3) << "not a palette picture";
    ASSERT_NE(file.find("tRNS"), std::string::npos);
    DecodedPicture picture = decode_ok(path);
    const std::string bytes = decoded_bytes(picture);
    expect_same_bytes(bytes, reference_rgba(path));
    EXPECT_EQ(static_cast<unsigned char>(bytes[3]), 0u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[19 * 4 + 3]), 255u);
}

TEST(PictureDecode, SixteenBitPngKeepsTheHighByte) {
    TempDir dir;
    for (const std::string type : {"0", "2", "6"}) {
        SCOPED_TRACE(type);
        const fs::path path = dir.path() / ("deep" + type + ".png");
        make_picture(path, join(type == "6" ? see_through : colourful,
                                {"-depth", "16", "-define", "png:bit-depth=16", "-define",
                                 "png:color-type=" + type}));
        expect_same_bytes(decoded_bytes(decode_ok(path)), reference_rgba(path, true));
    }
}

// ImageMagick reads JPEG through the same libjpeg-turbo, but colour conversion of
// inks and rounding may differ: allow 2 steps out of 255 per channel.
constexpr int jpeg_tolerance = 2;

TEST(PictureDecode, JpegMatchesImageMagickWithinTwoSteps) {
    TempDir dir;
    const std::vector<Case> cases = {
        {"baseline.jpg", join(colourful, {"-quality", "75"}), 333, 17},
        {"full_chroma.jpeg", join(colourful, {"-quality", "95", "-sampling-factor", "1x1"}), 333,
         17},
        {"progressive.jpg", join(colourful, {"-interlace", "JPEG"}), 333, 17},
        {"grey.jpg", join(colourful, {"-colorspace", "Gray"}), 333, 17},
        {"cmyk.jpg", join(colourful, {"-colorspace", "CMYK"}), 333, 17},
        {"one.jpg", {"-size", "1x1", "xc:rgb(12,200,99)"}, 1, 1},
        {"SUNSET.JPG", join(colourful, {}), 333, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir.path() / c.name;
        make_picture(path, c.args);
        DecodedPicture picture = decode_ok(path);
        ASSERT_EQ(picture.width, c.width);
        ASSERT_EQ(picture.height, c.height);
        const std::string ours = decoded_bytes(picture);
        const std::string theirs = reference_rgba(path);
        ASSERT_EQ(ours.size(), theirs.size());
        EXPECT_LE(largest_difference(ours, theirs), jpeg_tolerance);
        for (std::size_t i = 3; i < ours.size(); i += 4)
            ASSERT_EQ(static_cast<unsigned char>(ours[i]), 255u);
    }
}

TEST(PictureDecode, ExtensionIsTheLowerCasedTextAfterTheNamesLastDot) {
    EXPECT_EQ(picture_extension("./a/SUNSET.JPG"), "jpg");
    EXPECT_EQ(picture_extension("./a.b/Photo.Png"), "png");
    EXPECT_EQ(picture_extension("./a/.jpg"), "");
    EXPECT_EQ(picture_extension("./a.jpg/name"), "");
    EXPECT_EQ(picture_extension("./x/..jpg"), "jpg");
    EXPECT_EQ(picture_extension("./x/name."), "");
    EXPECT_EQ(picture_extension("./x/archive.tar.GZ"), "gz");
}

TEST(PictureDecode, OpenAndFormatChoiceErrors) {
    TempDir dir;
    EXPECT_EQ(decode_error(dir.path() / "missing.jpg"), "No such file or directory (os error 2)");
    fs::create_directories(dir.path() / "folder.png");
    EXPECT_EQ(decode_error(dir.path() / "folder.png"), "Is a directory (os error 21)");

    make_picture(dir.path() / "real.png", colourful);
    const std::string png = read_bytes(dir.path() / "real.png");
    const std::string prefix = "The Decoder does not support the image format `Image format image/";
    for (const auto& [name, quoted] :
         std::vector<std::pair<std::string, std::string>>{{".jpg", "\"\""},
                                                          {".PNG", "\"\""},
                                                          {"x.gif", "\"gif\""},
                                                          {"x.TIFF", "\"tiff\""},
                                                          {"x.webp", "\"webp\""},
                                                          {"x.bmp", "\"bmp\""},
                                                          {"noext", "\"\""}}) {
        write_bytes(dir.path() / name, png);
        EXPECT_EQ(decode_error(dir.path() / name), prefix + quoted + " is not supported.`") << name;
    }
}

TEST(PictureDecode, ContentsOfTheWrongKindAndMalformedData) {
    TempDir dir;
    make_picture(dir.path() / "real.png", colourful);
    make_picture(dir.path() / "real.jpg", colourful);
    const std::string png = read_bytes(dir.path() / "real.png");
    const std::string jpg = read_bytes(dir.path() / "real.jpg");

    write_bytes(dir.path() / "png_inside.jpg", png);
    EXPECT_EQ(decode_error(dir.path() / "png_inside.jpg"),
              "Format error: first two bytes is not a SOI marker");
    write_bytes(dir.path() / "jpg_inside.png", jpg);
    EXPECT_EQ(decode_error(dir.path() / "jpg_inside.png"), "Format error: invalid signature");

    // Files too short for the libraries' first reads are still judged by what they hold.
    for (const auto& [name, bytes, error] : std::vector<std::array<std::string, 3>>{
             {"short.png", "hello", "Format error: invalid signature"},
             {"short.jpg", "h", "Format error: first two bytes is not a SOI marker"},
             {"short2.jpg", "\xFFh", "Format error: first two bytes is not a SOI marker"},
             {"prefix.png", png.substr(0, 5), not_enough},
             {"prefix.jpg", "\xFF", not_enough},
             {"empty.png", "", not_enough},
             {"empty.jpg", "", not_enough}}) {
        write_bytes(dir.path() / name, bytes);
        EXPECT_EQ(decode_error(dir.path() / name), error) << name;
    }

    // A changed bit depth breaks the header chunk's checksum.
    std::string broken = png;
    broken[24] ^= 0x01;
    write_bytes(dir.path() / "crc.png", broken);
    EXPECT_EQ(decode_error(dir.path() / "crc.png").rfind("Format error: ", 0), 0u);

    // A frame header that claims 5 components.
    std::string odd = jpg;
    const std::size_t sof = odd.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    odd[sof + 9] = 5;
    write_bytes(dir.path() / "components.jpg", odd);
    EXPECT_EQ(decode_error(dir.path() / "components.jpg").rfind("Format error: ", 0), 0u);
}

TEST(PictureDecode, FilesThatEndEarly) {
    TempDir dir;
    make_picture(dir.path() / "real.png", colourful);
    make_picture(dir.path() / "real.jpg", colourful);
    make_picture(dir.path() / "prog.jpg", join(colourful, {"-interlace", "JPEG"}));
    for (const std::string name : {"real.png", "real.jpg", "prog.jpg"}) {
        const std::string bytes = read_bytes(dir.path() / name);
        for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{30}, bytes.size() / 2,
                                bytes.size() - 13}) {
            const fs::path path = dir.path() / ("cut_" + std::to_string(cut) + "_" + name);
            write_bytes(path, bytes.substr(0, cut));
            EXPECT_EQ(decode_error(path), not_enough) << name << " cut at " << cut;
        }
    }
}

TEST(PictureDecode, ExtraneousBytesBetweenMarkersAreOnlyAWarning) {
    TempDir dir;
    make_picture(dir.path() / "real.jpg", colourful);
    std::string jpg = read_bytes(dir.path() / "real.jpg");
    const std::size_t dqt = jpg.find("\xFF\xDB");
    ASSERT_NE(dqt, std::string::npos);
    jpg.insert(dqt, "junk");
    write_bytes(dir.path() / "junk.jpg", jpg);
    EXPECT_EQ(decode_ok(dir.path() / "junk.jpg").width, 333u);
}

TEST(PictureDecode, EndlessProgressiveScansAreRefused) {
    TempDir dir;
    make_picture(dir.path() / "prog.jpg", join(colourful, {"-interlace", "JPEG"}));
    std::string jpg = read_bytes(dir.path() / "prog.jpg");
    // The last scan, repeated until the file holds thousands: each one would cost a
    // pass over the whole picture.
    const std::size_t last_scan = jpg.rfind("\xFF\xDA");
    const std::size_t end = jpg.rfind("\xFF\xD9");
    ASSERT_LT(last_scan, end);
    const std::string scan = jpg.substr(last_scan, end - last_scan);
    std::string many = jpg.substr(0, end);
    for (int i = 0; i < 1200; ++i)
        many += scan;
    many += "\xFF\xD9";
    write_bytes(dir.path() / "many.jpg", many);
    EXPECT_EQ(decode_error(dir.path() / "many.jpg"),
              "Format error: too many scans in a progressive picture");
}

// Flat pictures are the hard case for the work bound: their scans carry almost no
// bytes, so the scripts must fit in what the frame's size alone allows.
TEST(PictureDecode, EveryEncodersScriptDecodesAndScanStormsAreRefused) {
    TempDir dir;
    auto decode = [&dir](const std::string& bytes) {
        write_bytes(dir.path() / "script.jpg", bytes);
        return open_picture((dir.path() / "script.jpg").string());
    };
    struct Script {
        std::string name;
        int components;
        bool full_chroma;
        JpegScript script;
    };
    const std::vector<Script> real = {
        {"libjpeg grey", 1, false, {}},
        {"libjpeg 4:2:0", 3, false, {}},
        {"libjpeg 4:4:4", 3, true, {}},
        {"successive approximation grey", 1, false, successive_approximation_script(1)},
        {"successive approximation 4:2:0", 3, false, successive_approximation_script(3)},
        {"successive approximation 4:4:4", 3, true, successive_approximation_script(3)},
        {"bands grey", 1, false, banded_script(1)},
        {"bands 4:4:4", 3, true, banded_script(3)},
    };
    for (const Script& script : real) {
        SCOPED_TRACE(script.name);
        auto result = decode(encode_jpeg({.width = 640,
                                          .height = 512,
                                          .components = script.components,
                                          .full_chroma = script.full_chroma,
                                          .script = script.script}));
        ASSERT_TRUE(result.is_ok()) << result.error();
        EXPECT_EQ(result.value().width, 640u);
        EXPECT_NEAR(result.value().rgba[4 * 1000], 128, 2);
    }

    const std::string grey = encode_jpeg({.width = 640, .height = 512, .components = 1});
    // One refinement more than the file needs still decodes; a storm of them does not,
    // long before the count of scans alone would stop it.
    EXPECT_TRUE(decode(repeat_last_scan(grey, 1)).is_ok());
    const std::string refused = "Format error: too many scans in a progressive picture";
    auto storm = decode(repeat_last_scan(grey, 12));
    ASSERT_FALSE(storm.is_ok());
    EXPECT_EQ(storm.error(), refused);
    auto valid_storm = decode(encode_jpeg(
        {.width = 640, .height = 512, .components = 1, .script = coefficient_storm_script()}));
    ASSERT_FALSE(valid_storm.is_ok());
    EXPECT_EQ(valid_storm.error(), refused);
}

// The PNG chunk checksum over type and data.
std::uint32_t crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put_be32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

std::string png_with_size(std::string png, std::uint32_t width, std::uint32_t height) {
    put_be32(png, 16, width);
    put_be32(png, 20, height);
    put_be32(png, 29, crc32(png.substr(12, 17)));
    return png;
}

std::string jpeg_with_size(std::string jpg, std::uint16_t width, std::uint16_t height) {
    std::size_t sof = jpg.find("\xFF\xC0");
    if (sof == std::string::npos)
        sof = jpg.find("\xFF\xC2");
    jpg[sof + 5] = static_cast<char>(height >> 8);
    jpg[sof + 6] = static_cast<char>(height);
    jpg[sof + 7] = static_cast<char>(width >> 8);
    jpg[sof + 8] = static_cast<char>(width);
    return jpg;
}

// `png` with a chunk of `type` holding `data` put right after its header chunk.
std::string with_chunk(const std::string& png, const std::string& type, const std::string& data) {
    std::string chunk(4, '\0');
    put_be32(chunk, 0, static_cast<std::uint32_t>(data.size()));
    chunk += type + data + std::string(4, '\0');
    put_be32(chunk, chunk.size() - 4, crc32(type + data));
    return png.substr(0, 33) + chunk + png.substr(33);
}

std::string deflated(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string out(size, '\0');
    EXPECT_EQ(
        compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()), 9),
        Z_OK);
    out.resize(size);
    return out;
}

// Text and profiles are never shown; a small file must not make the decoder inflate
// or keep them without bound, while ordinary metadata stays harmless.
TEST(PictureDecode, PngMetadataIsBounded) {
    TempDir dir;
    make_picture(dir.path() / "real.png", colourful);
    const std::string png = read_bytes(dir.path() / "real.png");
    const std::string note = deflated(std::string(4000, 'a'));
    const std::string bomb = deflated(std::string(std::size_t{64} << 20, 'a'));
    ASSERT_LT(bomb.size(), std::size_t{100} << 10);

    write_bytes(dir.path() / "note.png",
                with_chunk(png, "zTXt", std::string("Comment\0\0", 9) + note));
    EXPECT_EQ(decode_ok(dir.path() / "note.png").width, 333u);
    for (const auto& [name, type, data] : std::vector<std::array<std::string, 3>>{
             {"text_bomb.png", "zTXt", std::string("Comment\0\0", 9) + bomb},
             {"profile_bomb.png", "iCCP", std::string("icc\0\0", 5) + bomb},
             {"huge_text.png", "tEXt",
              "k" + std::string(1, '\0') + std::string(std::size_t{40} << 20, 'v')}}) {
        write_bytes(dir.path() / name, with_chunk(png, type, data));
        EXPECT_EQ(decode_error(dir.path() / name), "Format error: reached chunk/cache limits")
            << name;
    }
}

TEST(PictureDecode, DimensionsAreCheckedFromTheHeader) {
    TempDir dir;
    make_picture(dir.path() / "real.png", colourful);
    make_picture(dir.path() / "real.jpg", colourful);
    const std::string png = read_bytes(dir.path() / "real.png");
    const std::string jpg = read_bytes(dir.path() / "real.jpg");

    // Larger than the device allows, within 16 bits: the device's own refusal.
    const std::string too_large = "Texture(too large)";
    EXPECT_EQ(decode_error(dir.path() / "real.png", 332), too_large);
    EXPECT_EQ(decode_error(dir.path() / "real.jpg", 16), too_large);
    EXPECT_EQ(decode_ok(dir.path() / "real.png", 333).width, 333u);

    const std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes = {
        {0, 17}, {333, 0}, {70000, 17}, {333, 0x7FFFFFFF}, {0xFFFFFFFF, 0xFFFFFFFF}};
    for (const auto& [w, h] : sizes) {
        const fs::path path = dir.path() / "sized.png";
        write_bytes(path, png_with_size(png, w, h));
        EXPECT_EQ(decode_error(path, 1u << 20), bad_size) << w << "x" << h;
    }
    struct JpegSize {
        std::uint16_t width, height;
        std::string error;
    };
    for (const auto& [w, h, error] :
         std::vector<JpegSize>{{0, 17, "Format error: zero width in frame header"},
                               {333, 0, bad_size},
                               {0, 0, bad_size},
                               {65500, 65500, too_large},
                               {20000, 17, too_large}}) {
        const fs::path path = dir.path() / "sized.jpg";
        write_bytes(path, jpeg_with_size(jpg, w, h));
        EXPECT_EQ(decode_error(path), error) << w << "x" << h;
    }
}

// Damaged files: each either decodes or gives one of the failure texts; under the
// sanitizers, any bad read or write stops the test.
TEST(PictureDecode, DamagedFilesNeverCrash) {
    TempDir dir;
    const std::vector<std::pair<std::string, std::vector<std::string>>> sources = {
        {"base.jpg", {"-size", "64x48", "-seed", "3", "plasma:fractal", "-quality", "60"}},
        {"prog.jpg", {"-size", "64x48", "-seed", "3", "plasma:fractal", "-interlace", "JPEG"}},
        {"cmyk.jpg", {"-size", "40x30", "-seed", "3", "plasma:fractal", "-colorspace", "CMYK"}},
        {"inter.png", {"-size", "64x48", "-seed", "3", "plasma:fractal", "-interlace", "PNG"}},
        {"pal.png",
         {"-size", "64x48", "-seed", "3", "plasma:fractal", "-colors", "9", "-define",
          "png:format=png8"}},
    };
    std::uint32_t state = 12345;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    int decoded = 0, refused = 0;
    for (const auto& [name, args] : sources) {
        const fs::path original = dir.path() / name;
        make_picture(original, args);
        const std::string bytes = read_bytes(original);
        std::vector<std::string> damaged;
        for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 40) {
            damaged.push_back(bytes.substr(0, cut));
        }
        for (int i = 0; i < 150; ++i) {
            std::string copy = bytes;
            // Half the flips hit the headers, half anywhere.
            const std::size_t span =
                i % 2 == 0 ? std::min<std::size_t>(bytes.size(), 700) : bytes.size();
            for (int flips = 1 + static_cast<int>(next() % 3); flips > 0; --flips) {
                copy[next() % span] ^= static_cast<char>(1 + next() % 255);
            }
            damaged.push_back(copy);
        }
        damaged.push_back(name.ends_with(".png") ? png_with_size(bytes, 60000, 60000)
                                                 : jpeg_with_size(bytes, 65000, 65000));
        for (std::size_t i = 0; i < damaged.size(); ++i) {
            const fs::path path = dir.path() / ("damaged" + original.extension().string());
            write_bytes(path, damaged[i]);
            auto result = open_picture(path.string(), device_limit(4096));
            if (result.is_ok()) {
                ++decoded;
                EXPECT_EQ(result.value().byte_size() % 4, 0u);
                continue;
            }
            ++refused;
            const std::string& error = result.error();
            EXPECT_TRUE(error.rfind("Format error: ", 0) == 0 || error == not_enough ||
                        error == bad_size || error == "Texture(too large)")
                << name << " variant " << i << ": " << error;
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(decoded, 0);
}

}  // namespace
}  // namespace morvelta::testing
