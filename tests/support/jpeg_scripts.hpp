// JPEGs written by libjpeg at test time with chosen scan scripts: the scripts of real
// encoders, and scan storms built to make decoding slow.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvelta::testing {

// One scan: the components it covers, its spectral band Ss..Se and its bit positions.
struct JpegScan {
    std::vector<int> components;
    int ss, se, ah, al;
};
using JpegScript = std::vector<JpegScan>;

struct JpegOptions {
    int width = 64;
    int height = 64;
    int components = 3;        // 1: grey; 3: YCbCr
    bool full_chroma = false;  // 4:4:4 rather than 4:2:0
    bool progressive = true;
    JpegScript script;  // empty: libjpeg's own progression (the one jpegtran writes too)
    // Rows of `components` bytes a pixel, top first; nullptr: flat mid-grey.
    const std::uint8_t* pixels = nullptr;
    int quality = 90;
};

// The file's bytes.
std::string encode_jpeg(const JpegOptions& options);

// mozjpeg-style successive approximation: luma to three bits, chroma to two.
JpegScript successive_approximation_script(int components);
// Spectral selection into nine bands a component, then one refinement: 31 scans in colour.
JpegScript banded_script(int components);
// Grey only: a DC scan, then every AC coefficient on its own, bit by bit from the
// tenth: a valid progression of 694 scans that no encoder chooses.
JpegScript coefficient_storm_script();

// `jpeg` with its last scan repeated `times` more: refinements that add nothing, each
// of which the decoder still walks over every block for.
std::string repeat_last_scan(const std::string& jpeg, int times);

}  // namespace morvelta::testing
