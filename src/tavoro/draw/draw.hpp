// Interface of tavoro.draw.draw inside its own folder: the single shapes that the batch forms
// (batch.cpp) repeat, and the Camera2D record (camera.cpp).
#pragma once

#include "../shared/arguments.hpp"
#include "../shared/display.hpp"

namespace tavoro::draw {

// The single shapes, which the batch forms repeat: inline, so that a batch's loop has no call
// but raylib's.

// Entirely off the render area, with nothing transforming it: raylib would clip it all away.
inline bool off_screen(const ::Rectangle& r) {
    const display::State& s = *display::state;
    return (!s.transformed) & ((r.x >= s.width) | (r.y >= s.height) | (r.x + r.width <= 0.0f) |
                             (r.y + r.height <= 0.0f));
}

inline void draw_pixel(const ::Vector2& at, const ::Color& color) { display::rl().DrawPixelV(at, color); }

// One pixel wide, a line is raylib's rasterised line; thicker, a quad along it.
inline void draw_line(const ::Vector2& start, const ::Vector2& end, const ::Color& color, float thickness) {
    if (thickness == 1.0f)
        display::rl().DrawLineV(start, end, color);
    else
        display::rl().DrawLineEx(start, end, thickness, color);
}

inline void draw_rect(const ::Rectangle& area, const ::Color& color) {
    if (!off_screen(area)) display::rl().DrawRectangleRec(area, color);
}

inline void draw_circle(const ::Vector2& center, float radius, const ::Color& color) {
    display::rl().DrawCircleV(center, radius, color);
}

extern PyMethodDef batch_functions[];

struct Camera {
    PyObject_HEAD
    const void* table;
    ::Camera2D raw;

    using Table = void;
    static inline PyTypeObject* type = nullptr;
    static inline const void* vtable = nullptr;
    static constexpr bool final = true;
};

extern PyTypeObject camera_type;

}  // namespace tavoro::draw
