#include "texture.hpp"

#include <epoxy/gl.h>

namespace morvelta {

Texture::~Texture() {
    // Name 0 is no texture at all; skipping it lets tests make textures without a context.
    if (name_ == 0)
        return;
    GLuint name = name_;
    glDeleteTextures(1, &name);
}

}  // namespace morvelta
