#include "renderer.hpp"

#include <epoxy/gl.h>

#include <cstddef>
#include <string>

#include "debug_form.hpp"
#include "failure.hpp"
#include "transform.hpp"

namespace morvelta {
namespace {

// Positions arrive already in normalised device coordinates; the fragment colour is
// the texel, decoded from sRGB by the sampler, times the linear draw colour.
constexpr const char* vertex_shader_source = R"(#version 150 core
in vec2 position;
in vec2 tex_coord;
in vec4 color;
out vec2 v_tex_coord;
out vec4 v_color;
void main() {
    v_tex_coord = tex_coord;
    v_color = color;
    gl_Position = vec4(position, 0.0, 1.0);
}
)";

constexpr const char* fragment_shader_source = R"(#version 150 core
uniform sampler2D image;
in vec2 v_tex_coord;
in vec4 v_color;
out vec4 out_color;
void main() {
    out_color = texture(image, v_tex_coord) * v_color;
}
)";

enum Attribute : GLuint { attr_position = 0, attr_tex_coord = 1, attr_color = 2 };

// Large enough for any target: the scissor never cuts a draw.
constexpr GLsizei whole_target = 65535;

// Room for this many rectangles before the first frame needs more.
constexpr std::size_t initial_quads = 16;

// The driver's compile or link log becomes the failure's error text.
[[noreturn]] void shader_failed(GLuint object, bool is_program) {
    GLint length = 0;
    std::string log(4096, '\0');
    if (is_program) {
        glGetProgramInfoLog(object, static_cast<GLsizei>(log.size()), &length, log.data());
    } else {
        glGetShaderInfoLog(object, static_cast<GLsizei>(log.size()), &length, log.data());
    }
    log.resize(static_cast<std::size_t>(length));
    unwrap_failed(debug_quoted((is_program ? "Program(" : "Shader(") + log + ")"));
}

GLuint compile_shader(GLenum kind, const char* source) {
    GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        // The shader is not deleted: the stop ends the program and its context.
        shader_failed(shader, false);
    }
    return shader;
}

GLuint link_program() {
    GLuint vertex = compile_shader(GL_VERTEX_SHADER, vertex_shader_source);
    GLuint fragment = compile_shader(GL_FRAGMENT_SHADER, fragment_shader_source);
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glBindAttribLocation(program, attr_position, "position");
    glBindAttribLocation(program, attr_tex_coord, "tex_coord");
    glBindAttribLocation(program, attr_color, "color");
    glBindFragDataLocation(program, 0, "out_color");
    glLinkProgram(program);
    // The program keeps what it needs; the shaders go once it is linked.
    glDetachShader(program, vertex);
    glDetachShader(program, fragment);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE)
        shader_failed(program, true);
    return program;
}

}  // namespace

Gfx2d::Gfx2d() {
    program_ = link_program();
    glUseProgram(program_);
    glUniform1i(glGetUniformLocation(program_, "image"), 0);
    glUseProgram(0);

    GLuint array = 0;
    glGenVertexArrays(1, &array);
    vertex_array_ = array;
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    vertex_buffer_ = buffer;

    glBindVertexArray(vertex_array_);
    glBindBuffer(GL_ARRAY_BUFFER, vertex_buffer_);
    const auto stride = static_cast<GLsizei>(sizeof(Vertex));
    glEnableVertexAttribArray(attr_position);
    glVertexAttribPointer(attr_position, 2, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(Vertex, position)));
    glEnableVertexAttribArray(attr_tex_coord);
    glVertexAttribPointer(attr_tex_coord, 2, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(Vertex, tex_coord)));
    glEnableVertexAttribArray(attr_color);
    glVertexAttribPointer(attr_color, 4, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(Vertex, color)));
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    commands_.reserve(initial_quads + 1);
    vertices_.reserve(initial_quads * ImageQuad::vertex_count);
}

Gfx2d::~Gfx2d() {
    GLuint buffer = vertex_buffer_;
    glDeleteBuffers(1, &buffer);
    GLuint array = vertex_array_;
    glDeleteVertexArrays(1, &array);
    glDeleteProgram(program_);
}

void Gfx2d::begin(const Viewport& viewport) {
    viewport_ = viewport;
    commands_.clear();
    vertices_.clear();
}

void Gfx2d::clear(const Color& color) {
    commands_.push_back({Command::Kind::clear, srgb_to_linear(color), nullptr, 0});
}

void Gfx2d::draw_image(const ImageQuad& quad) {
    commands_.push_back({Command::Kind::image, {}, quad.texture, vertices_.size()});
    for (int i = 0; i < ImageQuad::vertex_count; ++i) {
        vertices_.push_back({{quad.positions[i][0], quad.positions[i][1]},
                             {quad.tex_coords[i][0], quad.tex_coords[i][1]},
                             {quad.color[0], quad.color[1], quad.color[2], quad.color[3]}});
    }
}

// Every state the frame relies on is set each time: texture loading and the window
// share the context and may have left anything behind.
void Gfx2d::apply_draw_state() {
    glViewport(0, 0, static_cast<GLsizei>(viewport_.draw_size[0]),
               static_cast<GLsizei>(viewport_.draw_size[1]));
    glEnable(GL_FRAMEBUFFER_SRGB);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, whole_target, whole_target);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glStencilMask(0xFF);
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE);
}

void Gfx2d::flush() {
    apply_draw_state();

    bool drawing = false;
    for (const Command& command : commands_) {
        if (command.kind == Command::Kind::clear) {
            glClearColor(command.clear_color[0], command.clear_color[1], command.clear_color[2],
                         command.clear_color[3]);
            glClearStencil(0);
            glClear(GL_COLOR_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
            continue;
        }
        if (!drawing) {
            // All of the frame's vertices go up at once, into storage the driver may
            // renew rather than wait for the previous frame to finish with.
            drawing = true;
            glUseProgram(program_);
            glBindVertexArray(vertex_array_);
            glBindBuffer(GL_ARRAY_BUFFER, vertex_buffer_);
            const std::size_t bytes = vertices_.size() * sizeof(Vertex);
            if (bytes > buffer_capacity_)
                buffer_capacity_ = bytes;
            glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(buffer_capacity_), nullptr,
                         GL_STREAM_DRAW);
            glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), vertices_.data());
            glActiveTexture(GL_TEXTURE0);
            glBindSampler(0, 0);  // the texture's own filtering and wrapping apply
        }
        glBindTexture(GL_TEXTURE_2D, command.texture->gl_name());
        glDrawArrays(GL_TRIANGLES, static_cast<GLint>(command.first_vertex),
                     ImageQuad::vertex_count);
    }
    if (drawing) {
        glBindTexture(GL_TEXTURE_2D, 0);
        glBindVertexArray(0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glUseProgram(0);
    }
    glFlush();
    commands_.clear();
    vertices_.clear();
}

void draw_frame(FrameTarget& target, const RenderArgs& args, const PictureSprite* current) {
    target.make_current();
    const Viewport viewport = args.viewport();
    const Matrix2d transform = absolute_transform(viewport);
    Gfx2d& gfx = target.renderer();
    gfx.begin(viewport);
    gfx.clear({1.0f, 1.0f, 1.0f, 1.0f});
    if (current == nullptr)
        none_unwrapped();
    draw_sprite(*current, transform, gfx);
    gfx.flush();
}

}  // namespace morvelta
