#include "sprite_drawing.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

namespace morvelta {
namespace {

// Textures here never reach a graphics device, and dropping a real one would call
// into OpenGL without a context: they live in storage that is never torn down.
std::shared_ptr<Texture> fake_texture(std::uint16_t width, std::uint16_t height) {
    static auto* store = new std::deque<Texture>();
    Texture& texture = store->emplace_back(0u, width, height);
    return std::shared_ptr<Texture>(&texture, [](Texture*) {});
}

struct RecordingSink : ImageSink {
    std::vector<ImageQuad> quads;
    void draw_image(const ImageQuad& quad) override { quads.push_back(quad); }
};

// The sprite the program makes for each picture: centred and stretched to the screen.
PictureSprite screen_sprite(std::uint16_t tw, std::uint16_t th, std::uint32_t w, std::uint32_t h) {
    PictureSprite sprite;
    sprite.texture = fake_texture(tw, th);
    sprite.position = {static_cast<double>(w) * 0.5, static_cast<double>(h) * 0.5};
    sprite.scale = {static_cast<double>(w) / tw, static_cast<double>(h) / th};
    return sprite;
}

using Points = std::array<std::array<float, 2>, 6>;

void expect_positions(const ImageQuad& quad, const Points& expected, float tolerance = 0.0f) {
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(quad.positions[i][0], expected[i][0], tolerance);
        EXPECT_NEAR(quad.positions[i][1], expected[i][1], tolerance);
    }
}

// The corners in drawing order for a rectangle from (l, t) to (r, b).
Points corners(float l, float t, float r, float b) {
    return {{{l, t}, {r, t}, {l, b}, {r, t}, {r, b}, {l, b}}};
}

RecordingSink draw(const PictureSprite& sprite, const Matrix2d& parent = identity_matrix) {
    RecordingSink sink;
    draw_sprite(sprite, parent, sink);
    return sink;
}

TEST(ScreenSprite, CoversTheWholeWindowInDeviceCoordinates) {
    struct Case {
        std::uint16_t tw, th;
        std::uint32_t w, h;
    };
    for (Case c : {Case{1366, 768, 1366, 768}, Case{800, 600, 1920, 1080}}) {
        SCOPED_TRACE(testing::Message() << c.tw << "x" << c.th << " on " << c.w << "x" << c.h);
        PictureSprite sprite = screen_sprite(c.tw, c.th, c.w, c.h);
        RecordingSink sink =
            draw(sprite, absolute_transform(RenderArgs{0.0, c.w, c.h, c.w, c.h}.viewport()));
        ASSERT_EQ(sink.quads.size(), 1u);
        const ImageQuad& quad = sink.quads[0];
        expect_positions(quad, corners(-1.0f, 1.0f, 1.0f, -1.0f));
        EXPECT_EQ(quad.tex_coords, corners(0.0f, 0.0f, 1.0f, 1.0f));
        EXPECT_EQ(quad.color, (Color{1.0f, 1.0f, 1.0f, 1.0f}));
        EXPECT_EQ(quad.texture, sprite.texture.get());
    }
}

TEST(Sprite, ScalesThenRotatesClockwiseOnScreenThenMoves) {
    PictureSprite sprite;
    sprite.texture = fake_texture(4, 2);
    sprite.position = {100.0, 50.0};
    sprite.scale = {2.0, 3.0};
    sprite.rotation = 90.0;
    RecordingSink sink = draw(sprite);
    ASSERT_EQ(sink.quads.size(), 1u);
    // (-2, -1) scales to (-4, -3), turns to (3, -4) and moves to (103, 46).
    const std::array<float, 2> tl{103.0f, 46.0f}, tr{103.0f, 54.0f}, bl{97.0f, 46.0f},
        br{97.0f, 54.0f};
    expect_positions(sink.quads[0], {tl, tr, bl, tr, br, bl}, 1e-4f);
}

TEST(Sprite, AnchorPlacesThatPointOfTheImageAtThePosition) {
    PictureSprite sprite;
    sprite.texture = fake_texture(4, 2);
    sprite.position = {10.0, 20.0};
    sprite.anchor = {0.0, 1.0};
    expect_positions(draw(sprite).quads.at(0), corners(10.0f, 18.0f, 14.0f, 20.0f));
}

TEST(Sprite, FlipsMirrorTheImageInPlace) {
    PictureSprite sprite;
    sprite.texture = fake_texture(4, 2);
    sprite.position = {10.0, 20.0};
    sprite.anchor = {0.0, 0.0};
    sprite.flip_x = true;
    expect_positions(draw(sprite).quads.at(0), corners(14.0f, 20.0f, 10.0f, 22.0f));

    sprite.flip_x = false;
    sprite.flip_y = true;
    expect_positions(draw(sprite).quads.at(0), corners(10.0f, 22.0f, 14.0f, 20.0f));

    sprite.flip_x = true;
    sprite.anchor = {0.5, 0.5};  // with a centred anchor the mirror keeps the centre
    expect_positions(draw(sprite).quads.at(0), corners(12.0f, 21.0f, 8.0f, 19.0f));
    // Texture coordinates stay in their own order: mirroring is in the positions.
    EXPECT_EQ(draw(sprite).quads.at(0).tex_coords, corners(0.0f, 0.0f, 1.0f, 1.0f));
}

TEST(Sprite, SourceRectangleSetsTheDrawnSizeAndTheTextureCoordinates) {
    PictureSprite sprite;
    sprite.texture = fake_texture(100, 50);
    sprite.src_rect = std::array<double, 4>{10.0, 5.0, 30.0, 40.0};
    const ImageQuad quad = draw(sprite).quads.at(0);
    expect_positions(quad, corners(-15.0f, -20.0f, 15.0f, 20.0f));
    EXPECT_EQ(quad.tex_coords, corners(0.1f, 0.1f, 0.4f, 0.9f));
}

TEST(Sprite, ColourAndOpacityBecomeTheLinearDrawColour) {
    PictureSprite sprite;
    sprite.texture = fake_texture(1, 1);
    sprite.color = {0.5f, 1.0f, 0.0f};
    sprite.opacity = 0.25f;
    const Color color = draw(sprite).quads.at(0).color;
    EXPECT_NEAR(color[0], 0.2140411f, 1e-6f);
    EXPECT_EQ(color[1], 1.0f);
    EXPECT_EQ(color[2], 0.0f);
    EXPECT_EQ(color[3], 0.25f);  // opacity is not gamma-converted
}

TEST(Sprite, ChildrenFollowTheUnflippedParentInListOrder) {
    PictureSprite parent;
    parent.texture = fake_texture(10, 10);
    parent.position = {100.0, 100.0};
    parent.scale = {2.0, 2.0};
    parent.flip_x = true;
    parent.flip_y = true;
    for (double x : {5.0, -5.0}) {
        PictureSprite child;
        child.texture = fake_texture(2, 2);
        child.anchor = {0.0, 0.0};
        child.position = {x, 0.0};
        parent.children.push_back(child);
    }
    RecordingSink sink = draw(parent);
    ASSERT_EQ(sink.quads.size(), 3u);
    EXPECT_EQ(sink.quads[0].texture, parent.texture.get());
    expect_positions(sink.quads[0], corners(110.0f, 110.0f, 90.0f, 90.0f));
    // (0, 0) of the first child: moved by 5, scaled by the parent's 2, placed at 100.
    expect_positions(sink.quads[1], corners(110.0f, 100.0f, 114.0f, 104.0f));
    expect_positions(sink.quads[2], corners(90.0f, 100.0f, 94.0f, 104.0f));
}

TEST(Sprite, InvisibleSpriteHidesItsChildrenButNotItsSiblings) {
    PictureSprite root;
    root.texture = fake_texture(2, 2);
    PictureSprite hidden;
    hidden.texture = fake_texture(3, 3);
    hidden.visible = false;
    PictureSprite grandchild;
    grandchild.texture = fake_texture(4, 4);
    hidden.children.push_back(grandchild);
    PictureSprite shown;
    shown.texture = fake_texture(5, 5);
    root.children = {hidden, shown};

    RecordingSink sink = draw(root);
    ASSERT_EQ(sink.quads.size(), 2u);
    EXPECT_EQ(sink.quads[0].texture, root.texture.get());
    EXPECT_EQ(sink.quads[1].texture, root.children[1].texture.get());

    root.visible = false;
    EXPECT_TRUE(draw(root).quads.empty());
}

TEST(Srgb, FollowsTheStandardTransferFunction) {
    EXPECT_EQ(srgb_to_linear(0.0f), 0.0f);
    EXPECT_FLOAT_EQ(srgb_to_linear(0.04045f), 0.04045f / 12.92f);  // the linear segment's end
    EXPECT_NEAR(srgb_to_linear(0.5f), 0.2140411f, 1e-6f);
    EXPECT_EQ(srgb_to_linear(1.0f), 1.0f);
    // Just above the knee the curve takes over and meets the line almost exactly.
    EXPECT_NEAR(srgb_to_linear(0.04046f), 0.04046f / 12.92f, 1e-6f);
    EXPECT_EQ(srgb_to_linear(Color{1.0f, 1.0f, 1.0f, 1.0f}), (Color{1.0f, 1.0f, 1.0f, 1.0f}));
    const Color c = srgb_to_linear(Color{0.5f, 0.0f, 1.0f, 0.5f});
    EXPECT_NEAR(c[0], 0.2140411f, 1e-6f);
    EXPECT_EQ(c[3], 0.5f);
}

}  // namespace
}  // namespace morvelta
