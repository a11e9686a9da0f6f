// Sprite records, the order in which the list is built and released, and the
// centring pass. Textures here have no OpenGL object behind them.
#include "sprites.hpp"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace morvelta {
namespace {

std::shared_ptr<Texture> bare_texture(std::uint16_t width, std::uint16_t height) {
    return std::make_shared<Texture>(0, width, height);
}

std::vector<PictureSprite> sprites_of_sizes(
    const std::vector<std::pair<std::uint16_t, std::uint16_t>>& sizes) {
    std::vector<PictureSprite> sprites;
    for (const auto& [w, h] : sizes)
        sprites.push_back(sprite_from_texture(bare_texture(w, h)));
    return sprites;
}

TEST(Sprites, CentringStretchesEveryPictureOverTheScreen) {
    auto sprites = sprites_of_sizes({{800, 600}, {1000, 500}, {1920, 1080}});
    centre_sprites(sprites, 1920, 1080);
    EXPECT_DOUBLE_EQ(sprites[0].scale[0], 2.4);
    EXPECT_DOUBLE_EQ(sprites[0].scale[1], 1.8);
    EXPECT_DOUBLE_EQ(sprites[1].scale[0], 1.92);
    EXPECT_DOUBLE_EQ(sprites[1].scale[1], 2.16);
    EXPECT_EQ(sprites[2].scale, (std::array<double, 2>{1.0, 1.0}));
    for (const PictureSprite& sprite : sprites) {
        EXPECT_EQ(sprite.position, (std::array<double, 2>{960.0, 540.0}));
        EXPECT_EQ(sprite.anchor, (std::array<double, 2>{0.5, 0.5}));
    }

    auto exact = sprites_of_sizes({{1366, 768}});
    centre_sprites(exact, 1366, 768);
    EXPECT_EQ(exact[0].scale, (std::array<double, 2>{1.0, 1.0}));
    EXPECT_EQ(exact[0].position, (std::array<double, 2>{683.0, 384.0}));

    // Odd sizes: the middle is not rounded, and the ratios are divisions of doubles.
    auto odd = sprites_of_sizes({{333, 17}});
    centre_sprites(odd, 1365, 767);
    EXPECT_EQ(odd[0].position, (std::array<double, 2>{682.5, 383.5}));
    EXPECT_EQ(odd[0].scale, (std::array<double, 2>{1365.0 / 333.0, 767.0 / 17.0}));

    std::vector<PictureSprite> none;
    centre_sprites(none, 1920, 1080);
    EXPECT_TRUE(none.empty());
}

TEST(Sprites, NewSpriteHasTheDefaultsAndARandomVersion4Id) {
    auto texture = bare_texture(4, 4);
    PictureSprite sprite = sprite_from_texture(texture);
    EXPECT_EQ(texture.use_count(), 2);
    EXPECT_TRUE(sprite.visible);
    EXPECT_EQ(sprite.position, (std::array<double, 2>{0.0, 0.0}));
    EXPECT_EQ(sprite.scale, (std::array<double, 2>{1.0, 1.0}));
    EXPECT_EQ(sprite.rotation, 0.0);
    EXPECT_FALSE(sprite.flip_x || sprite.flip_y);
    EXPECT_EQ(sprite.color, (std::array<float, 3>{1.0f, 1.0f, 1.0f}));
    EXPECT_EQ(sprite.opacity, 1.0f);
    EXPECT_FALSE(sprite.src_rect.has_value());
    EXPECT_TRUE(sprite.children.empty() && sprite.child_index.empty());

    std::set<SpriteId> seen;
    for (int i = 0; i < 1000; ++i) {
        const SpriteId id = new_sprite_id();
        EXPECT_EQ(id[6] >> 4, 4);       // version
        EXPECT_EQ(id[8] & 0xC0, 0x80);  // variant
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

struct LoadStopped : std::runtime_error {
    LoadStopped() : std::runtime_error("load stopped") {}
};

// A loader that records every path it is asked for and every texture released, and
// stops at the path "bad".
struct RecordingLoader {
    std::vector<std::string> opened;
    std::vector<std::string> released;

    TextureLoader loader() {
        return [this](std::string_view path) {
            opened.emplace_back(path);
            if (path == "bad")
                throw LoadStopped();
            std::string name(path);
            return std::shared_ptr<Texture>(new Texture(0, 10, 10), [this, name](Texture* t) {
                released.push_back(name);
                delete t;
            });
        };
    }
};

TEST(Sprites, BuildKeepsListOrderAndHoldsEachTextureOnce) {
    RecordingLoader record;
    const PictureList pictures{"p0", "p1", "p2"};
    std::vector<PictureSprite> sprites = build_sprites(pictures, record.loader());
    ASSERT_EQ(sprites.size(), 3u);
    EXPECT_EQ(sprites.capacity(), 3u);
    EXPECT_EQ(record.opened, (std::vector<std::string>{"p0", "p1", "p2"}));
    for (const PictureSprite& sprite : sprites)
        EXPECT_EQ(sprite.texture.use_count(), 1);
    EXPECT_NE(sprites[0].id, sprites[1].id);

    release_sprites(sprites);
    EXPECT_EQ(record.released, (std::vector<std::string>{"p0", "p1", "p2"}));
    EXPECT_TRUE(build_sprites(PictureList{}, record.loader()).empty());
}

TEST(Sprites, AFailedPictureStopsTheBuildAndReleasesEarlierOnesInOrder) {
    RecordingLoader record;
    const PictureList pictures{"p0", "p1", "bad", "p3", "p4"};
    EXPECT_THROW(build_sprites(pictures, record.loader()), LoadStopped);
    EXPECT_EQ(record.opened, (std::vector<std::string>{"p0", "p1", "bad"}));
    EXPECT_EQ(record.released, (std::vector<std::string>{"p0", "p1"}));
}

}  // namespace
}  // namespace morvelta
