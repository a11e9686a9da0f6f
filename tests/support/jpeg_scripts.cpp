#include "jpeg_scripts.hpp"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// jpeglib.h needs <cstdio> before it.
#include <jpeglib.h>

namespace morvelta::testing {
namespace {

// Only a mistake in a test's own script makes the compressor fail; an exception must
// not unwind through libjpeg's C frames, so the test binary stops with the message.
[[noreturn]] void stop_on_error(j_common_ptr info) {
    char message[JMSG_LENGTH_MAX];
    info->err->format_message(info, message);
    std::fprintf(stderr, "libjpeg: %s\n", message);
    std::abort();
}

class Compressor {
  public:
    Compressor() {
        info_.err = jpeg_std_error(&errors_);
        errors_.error_exit = stop_on_error;
        jpeg_create_compress(&info_);
    }
    ~Compressor() {
        jpeg_destroy_compress(&info_);
        std::free(buffer_);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    jpeg_compress_struct& info() { return info_; }
    unsigned char*& buffer() { return buffer_; }
    unsigned long& size() { return size_; }

  private:
    jpeg_compress_struct info_{};
    jpeg_error_mgr errors_{};
    unsigned char* buffer_ = nullptr;
    unsigned long size_ = 0;
};

}  // namespace

std::string encode_jpeg(const JpegOptions& options) {
    Compressor compressor;
    jpeg_compress_struct& info = compressor.info();
    jpeg_mem_dest(&info, &compressor.buffer(), &compressor.size());
    info.image_width = static_cast<JDIMENSION>(options.width);
    info.image_height = static_cast<JDIMENSION>(options.height);
    info.input_components = options.components;
    info.in_color_space = options.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, options.quality, TRUE);
    if (options.components == 3 && options.full_chroma) {
        info.comp_info[0].h_samp_factor = 1;
        info.comp_info[0].v_samp_factor = 1;
    }
    std::vector<jpeg_scan_info> scans;
    if (options.progressive && options.script.empty()) {
        jpeg_simple_progression(&info);
    } else if (options.progressive) {
        for (const JpegScan& scan : options.script) {
            jpeg_scan_info entry{};
            entry.comps_in_scan = static_cast<int>(scan.components.size());
            for (std::size_t i = 0; i < scan.components.size(); ++i)
                entry.component_index[i] = scan.components[i];
            entry.Ss = scan.ss;
            entry.Se = scan.se;
            entry.Ah = scan.ah;
            entry.Al = scan.al;
            scans.push_back(entry);
        }
        info.scan_info = scans.data();
        info.num_scans = static_cast<int>(scans.size());
    }

    const std::size_t stride = static_cast<std::size_t>(options.width) * options.components;
    std::vector<JSAMPLE> flat_row(stride, 128);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = options.pixels == nullptr
                           ? flat_row.data()
                           : const_cast<JSAMPROW>(options.pixels + stride * info.next_scanline);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return {reinterpret_cast<const char*>(compressor.buffer()), compressor.size()};
}

JpegScript successive_approximation_script(int components) {
    std::vector<int> all;
    for (int c = 0; c < components; ++c)
        all.push_back(c);
    JpegScript script{{all, 0, 0, 0, 1}};
    for (int c = 0; c < components; ++c) {
        const int bits = c == 0 ? 3 : 2;
        script.push_back({{c}, 1, 8, 0, bits});
        script.push_back({{c}, 9, 63, 0, bits});
        for (int bit = bits; bit > 0; --bit)
            script.push_back({{c}, 1, 63, bit, bit - 1});
    }
    script.push_back({all, 0, 0, 1, 0});
    return script;
}

JpegScript banded_script(int components) {
    const int bands[][2] = {{1, 2},   {3, 5},   {6, 9},   {10, 14}, {15, 20},
                            {21, 27}, {28, 35}, {36, 44}, {45, 63}};
    std::vector<int> all;
    for (int c = 0; c < components; ++c)
        all.push_back(c);
    JpegScript script{{all, 0, 0, 0, 0}};
    for (int c = 0; c < components; ++c) {
        for (const auto& band : bands)
            script.push_back({{c}, band[0], band[1], 0, 1});
    }
    for (int c = 0; c < components; ++c)
        script.push_back({{c}, 1, 63, 1, 0});
    return script;
}

JpegScript coefficient_storm_script() {
    constexpr int first_bit = 10;
    JpegScript script{{{0}, 0, 0, 0, 0}};
    for (int k = 1; k < 64; ++k) {
        script.push_back({{0}, k, k, 0, first_bit});
        for (int bit = first_bit; bit > 0; --bit)
            script.push_back({{0}, k, k, bit, bit - 1});
    }
    return script;
}

std::string repeat_last_scan(const std::string& jpeg, int times) {
    const std::size_t last_scan = jpeg.rfind("\xFF\xDA");
    const std::size_t end = jpeg.rfind("\xFF\xD9");
    if (last_scan == std::string::npos || end == std::string::npos || end < last_scan)
        throw std::runtime_error("not a JPEG with a scan");
    const std::string scan = jpeg.substr(last_scan, end - last_scan);
    std::string out = jpeg.substr(0, end);
    for (int i = 0; i < times; ++i)
        out += scan;
    return out + "\xFF\xD9";
}

}  // namespace morvelta::testing
