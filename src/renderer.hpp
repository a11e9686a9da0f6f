// The 2-D renderer over OpenGL 3.2 (GLSL 1.50), and the drawing of one frame.
//
// A frame is recorded first and only reaches OpenGL in `flush`, so a frame that
// fails half-way leaves the screen as it was. Everything here needs the window's
// OpenGL context current, from construction to destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture_sprite.hpp"
#include "render_args.hpp"
#include "sprite_drawing.hpp"

namespace morvelta {

class Gfx2d : public ImageSink {
  public:
    // Compiles the shaders and makes the vertex array and buffer; the context must be
    // current. A refusal stops the program.
    Gfx2d();
    ~Gfx2d() override;
    Gfx2d(const Gfx2d&) = delete;
    Gfx2d& operator=(const Gfx2d&) = delete;

    // Starts recording a frame for `viewport`, dropping anything an unfinished frame left.
    void begin(const Viewport& viewport);
    // Records a clear of the whole colour target to the sRGB colour `color` (converted
    // to linear light) and of the stencil to 0. Depth is left alone.
    void clear(const Color& color);
    // Records one textured rectangle; the texture must live until `flush`.
    void draw_image(const ImageQuad& quad) override;
    // Issues every recorded command in order, then hands them to the driver (glFlush).
    void flush();

    // Recorded commands not yet flushed.
    std::size_t pending_commands() const { return commands_.size(); }

  private:
    struct Vertex {
        float position[2];
        float tex_coord[2];
        float color[4];
    };
    struct Command {
        enum class Kind : std::uint8_t { clear, image } kind;
        Color clear_color;         // linear; for a clear
        const Texture* texture;    // for an image
        std::size_t first_vertex;  // for an image
    };

    void apply_draw_state();

    unsigned program_ = 0;
    unsigned vertex_array_ = 0;
    unsigned vertex_buffer_ = 0;
    std::size_t buffer_capacity_ = 0;  // bytes the vertex buffer holds
    Viewport viewport_{};
    // Kept between frames so that a steady frame allocates nothing.
    std::vector<Command> commands_;
    std::vector<Vertex> vertices_;
};

// What `draw_frame` needs of the window: its context and its renderer.
class FrameTarget {
  public:
    virtual ~FrameTarget() = default;
    // Makes the window's OpenGL context current on this thread, or stops the program.
    virtual void make_current() = 0;
    virtual Gfx2d& renderer() = 0;
};

// One render event: the whole window cleared to white and `current` drawn over it
// stretched by the window's transform. Without a current sprite the program stops
// before anything of the frame reaches the screen. Showing the frame (the buffer
// swap) is the window's business.
void draw_frame(FrameTarget& target, const RenderArgs& args, const PictureSprite* current);

}  // namespace morvelta
