// Picture decoding: a JPEG or PNG file into 8-bit RGBA pixels, the decoder chosen by
// the file's extension alone. Pure CPU work (libjpeg-turbo and libspng); nothing
// here touches the graphics device, so it runs and is tested without a screen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "result.hpp"

namespace morvelta {

// A decoded picture: width x height pixels of red, green, blue, alpha, one byte
// each, rows top first with no padding between them.
struct DecodedPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::unique_ptr<std::uint8_t[]> rgba;

    std::size_t byte_size() const { return std::size_t{width} * height * 4; }
};

// Refused sizes: zero or over 65535 on either side.
inline constexpr std::string_view bad_dimensions_text =
    "The Image's dimensions are either too small or too large";
inline constexpr std::string_view not_enough_data_text =
    "Not enough data was provided to the Decoder to decode the image";

// The lower-cased extension of the path's file name: what follows its last dot, or
// "" when the name has no dot, or its only dot is its first character.
std::string picture_extension(std::string_view path);

// Asked with a picture's width and height as soon as its header has been read, before
// any pixel memory is allocated: a text refuses the picture with that text.
using SizeCheck =
    std::function<std::optional<std::string>(std::uint32_t width, std::uint32_t height)>;

// Opens and decodes the picture at `path`. The error is the text a failed load
// reports: the system's error for a file that cannot be opened or is not a regular
// file, the unsupported format text for an extension other than jpg/jpeg/png, the
// text of `check_size`, or the decoder's failure. A JPEG whose progressive scans
// would cost far more work than any encoder's scans for its size is refused.
Result<DecodedPicture, std::string> open_picture(std::string_view path,
                                                 const SizeCheck& check_size = {});

}  // namespace morvelta
