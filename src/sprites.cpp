#include "sprites.hpp"

#include <epoxy/gl.h>

#include <cerrno>
#include <new>
#include <random>
#include <utility>

#include "debug_form.hpp"
#include "failure.hpp"

namespace morvelta {

namespace {

using TextureResult = Result<std::shared_ptr<Texture>, std::string>;

// Bounds the draining of stale errors: a context without one never reports
// GL_NO_ERROR, and would otherwise keep us here forever.
constexpr int most_stale_gl_errors = 32;

std::string gl_error_name(GLenum error) {
    switch (error) {
        case GL_INVALID_ENUM:
            return "GL_INVALID_ENUM";
        case GL_INVALID_VALUE:
            return "GL_INVALID_VALUE";
        case GL_INVALID_OPERATION:
            return "GL_INVALID_OPERATION";
        case GL_INVALID_FRAMEBUFFER_OPERATION:
            return "GL_INVALID_FRAMEBUFFER_OPERATION";
        case GL_OUT_OF_MEMORY:
            return "GL_OUT_OF_MEMORY";
        default:
            return "GL error " + std::to_string(error);
    }
}

void drain_gl_errors() {
    for (int i = 0; i < most_stale_gl_errors && glGetError() != GL_NO_ERROR; ++i) {
    }
}

}  // namespace

TextureFactory::TextureFactory() {
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    max_texture_size_ = size > 0 ? static_cast<std::uint32_t>(size) : 0;
}

std::optional<std::string> TextureFactory::size_refusal(std::uint32_t width,
                                                        std::uint32_t height) const {
    if (width <= max_texture_size_ && height <= max_texture_size_)
        return std::nullopt;
    return "Texture(Size(" + std::to_string(width > max_texture_size_ ? width : height) + "))";
}

TextureResult TextureFactory::create_texture(DecodedPicture picture) {
    drain_gl_errors();
    GLuint name = 0;
    glGenTextures(1, &name);
    if (name == 0)
        return TextureResult::err("Resource(" + gl_error_name(glGetError()) + ")");
    // Owned from here on, so every failure below deletes it.
    auto texture = std::make_shared<Texture>(name, static_cast<std::uint16_t>(picture.width),
                                             static_cast<std::uint16_t>(picture.height));

    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    GLint previous_unpack_buffer = 0;
    glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &previous_unpack_buffer);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_SRGB8_ALPHA8, static_cast<GLsizei>(picture.width),
                 static_cast<GLsizei>(picture.height), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 picture.rgba.get());
    const GLenum upload_error = glGetError();
    // The device has its copy (or failed to take one); ours goes now.
    picture.rgba.reset();

    const GLfloat transparent_black[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_LOD_BIAS, 0.0f);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_LOD, -1000.0f);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_LOD, 1000.0f);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_NONE);
    glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, transparent_black);
    const GLenum sampler_error = glGetError();

    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(previous_unpack_buffer));
    if (upload_error != GL_NO_ERROR) {
        return TextureResult::err("Texture(" + gl_error_name(upload_error) + ")");
    }
    if (sampler_error != GL_NO_ERROR) {
        return TextureResult::err("Resource(" + gl_error_name(sampler_error) + ")");
    }
    return TextureResult::ok(std::move(texture));
}

TextureResult texture_from_path(TextureFactory& factory, std::string_view path) {
    // A picture too large for the memory left is a picture that cannot be loaded, like
    // any other: the decoder's or the upload's allocation failing must not abort.
    try {
        auto decoded = open_picture(path, [&factory](std::uint32_t width, std::uint32_t height) {
            return factory.size_refusal(width, height);
        });
        if (!decoded.is_ok())
            return TextureResult::err(decoded.error());
        return factory.create_texture(std::move(decoded.value()));
    } catch (const std::bad_alloc&) {
        return TextureResult::err(os_error_text(ENOMEM));
    }
}

std::shared_ptr<Texture> load_sprite_texture(TextureFactory& factory, std::string_view path) {
    auto texture = texture_from_path(factory, path);
    // `Result::unwrap` cannot see the text's debug form from its template, since
    // std::string brings no lookup into our namespace; this is the same stop.
    if (!texture.is_ok())
        unwrap_failed(debug_form(texture.error()));
    return std::move(texture.value());
}

SpriteId new_sprite_id() {
    thread_local std::mt19937_64 generator{[] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }()};
    SpriteId id{};
    for (std::size_t i = 0; i < id.size(); i += 8) {
        std::uint64_t bits = generator();
        for (std::size_t j = 0; j < 8; ++j) {
            id[i + j] = static_cast<std::uint8_t>(bits >> (8 * j));
        }
    }
    id[6] = static_cast<std::uint8_t>((id[6] & 0x0F) | 0x40);  // version 4: random
    id[8] = static_cast<std::uint8_t>((id[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return id;
}

PictureSprite sprite_from_texture(std::shared_ptr<Texture> texture) {
    PictureSprite sprite;
    sprite.id = new_sprite_id();
    sprite.texture = std::move(texture);
    return sprite;
}

void release_sprites(std::vector<PictureSprite>& sprites) {
    for (PictureSprite& sprite : sprites) {
        sprite.children.clear();
        sprite.child_index.clear();
        sprite.texture.reset();
    }
    sprites.clear();
    sprites.shrink_to_fit();
}

std::vector<PictureSprite> build_sprites(const PictureList& pictures, const TextureLoader& load) {
    std::vector<PictureSprite> sprites;
    sprites.reserve(pictures.size());
    try {
        for (std::string_view path : pictures)
            sprites.push_back(sprite_from_texture(load(path)));
    } catch (...) {
        release_sprites(sprites);
        throw;
    }
    return sprites;
}

std::vector<PictureSprite> build_sprites(const PictureList& pictures, TextureFactory& factory) {
    return build_sprites(
        pictures, [&factory](std::string_view path) { return load_sprite_texture(factory, path); });
}

void centre_sprites(std::vector<PictureSprite>& sprites, std::uint32_t width,
                    std::uint32_t height) {
    if (sprites.empty())
        return;
    const double w = width;
    const double h = height;
    const std::array<double, 2> middle{w * 0.5, h * 0.5};
    for (PictureSprite& sprite : sprites) {
        sprite.scale = {w / sprite.texture->width(), h / sprite.texture->height()};
        sprite.position = middle;
    }
}

}  // namespace morvelta
