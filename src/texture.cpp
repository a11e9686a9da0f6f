#include "texture.hpp"

#include <epoxy/gl.h>

namespace morvelta {

Texture::~Texture() {
    GLuint name = name_;
    glDeleteTextures(1, &name);
}

}  // namespace morvelta
