// A picture placed on the screen: a texture with where, how large and how it is drawn.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "texture.hpp"

namespace morvelta {

using SpriteId = std::array<std::uint8_t, 16>;

struct PictureSprite {
    SpriteId id{};  // a random version-4 UUID
    bool visible = true;
    std::array<double, 2> anchor{0.5, 0.5};    // fractions of the drawn size placed at `position`
    std::array<double, 2> position{0.0, 0.0};  // window coordinates
    double rotation = 0.0;                     // degrees
    std::array<double, 2> scale{1.0, 1.0};
    bool flip_x = false;
    bool flip_y = false;
    std::array<float, 3> color{1.0f, 1.0f, 1.0f};
    float opacity = 1.0f;
    std::optional<std::array<double, 4>> src_rect;  // x, y, w, h in texels; none: whole texture
    std::vector<PictureSprite> children;
    std::map<SpriteId, std::size_t> child_index;
    std::shared_ptr<Texture> texture;
};

}  // namespace morvelta
