// Picture sprites: every picture of the list decoded, uploaded as a texture of the
// window's device and placed over the whole screen.
//
// `TextureFactory` and everything that takes one issue OpenGL calls: the window's
// context must be current on the calling thread, and every texture made must be
// dropped before the context goes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery.hpp"
#include "picture_decode.hpp"
#include "picture_sprite.hpp"
#include "result.hpp"
#include "texture.hpp"

namespace morvelta {

// Makes textures on the current OpenGL context.
class TextureFactory {
  public:
    // Reads the context's largest texture side (GL_MAX_TEXTURE_SIZE).
    TextureFactory();

    std::uint32_t max_texture_size() const { return max_texture_size_; }

    // The device's refusal of a texture this large, as "Texture(Size(20000))" with the
    // side it cannot hold, or nothing; asked before any pixel memory is allocated.
    std::optional<std::string> size_refusal(std::uint32_t width, std::uint32_t height) const;

    // One sRGB RGBA texture holding `picture`, uploaded in one piece; the pixels are
    // freed once the device holds them. A device failure gives its kind and detail,
    // as "Texture(GL_OUT_OF_MEMORY)".
    Result<std::shared_ptr<Texture>, std::string> create_texture(DecodedPicture picture);

  private:
    std::uint32_t max_texture_size_ = 0;
};

// Decodes the picture at `path` and makes its texture, or gives the failure's text.
Result<std::shared_ptr<Texture>, std::string> texture_from_path(TextureFactory& factory,
                                                                std::string_view path);

// The texture of the picture at `path`, held once; a picture that cannot be loaded
// stops the program with the error text.
std::shared_ptr<Texture> load_sprite_texture(TextureFactory& factory, std::string_view path);

// A sprite over `texture` with the default placement and a new random identifier.
PictureSprite sprite_from_texture(std::shared_ptr<Texture> texture);

// A random version-4 UUID (RFC 4122).
SpriteId new_sprite_id();

// Gives the texture of one picture path, or stops the program.
using TextureLoader = std::function<std::shared_ptr<Texture>(std::string_view path)>;

// One sprite per picture, in list order. The first picture that fails stops the
// program: no later file is opened and the sprites made so far are released in list
// order.
std::vector<PictureSprite> build_sprites(const PictureList& pictures, const TextureLoader& load);
std::vector<PictureSprite> build_sprites(const PictureList& pictures, TextureFactory& factory);

// Releases the sprites one by one in list order (each with its texture), then the
// list's storage. A plain vector does not promise an order.
void release_sprites(std::vector<PictureSprite>& sprites);

// Centres every sprite on a `width` x `height` screen and stretches its texture over
// the whole of it, ignoring the picture's aspect ratio.
void centre_sprites(std::vector<PictureSprite>& sprites, std::uint32_t width, std::uint32_t height);

}  // namespace morvelta
