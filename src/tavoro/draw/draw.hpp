// Interface of tavoro.draw.draw inside its own folder: the single shapes that the batch forms
// (batch.cpp) repeat, and the Camera2D record (camera.cpp).
#pragma once

#include "../shared/arguments.hpp"
#include "../shared/display.hpp"

namespace tavoro::draw {

// The single shapes, which the batch forms repeat: inline, so that a batch's loop has no call
// but raylib's.

// The render area as culling sees it, read once for a whole batch: nothing drawn changes it.
class Screen {
public:
    Screen() : transformed_(display::state->transformed) {
        constexpr float inf = __builtin_huge_valf();
        far_ = arguments::Lanes{display::state->width, display::state->height, inf, inf};
    }
    // Entirely off the render area, with nothing transforming it: raylib would clip it all away.
    // Checked as four lanes {x, y, x + width, y + height} against {width, height, 0, 0}.
    bool misses(const ::Rectangle& r) const {
        using arguments::Lanes;
        constexpr float inf = __builtin_huge_valf();
        Lanes v = arguments::lanes(r);
        Lanes ends = v + __builtin_shufflevector(v, Lanes{}, 4, 4, 0, 1);
        return !transformed_ && arguments::any((ends >= far_) | (ends <= Lanes{-inf, -inf, 0.0f, 0.0f}));
    }

private:
    arguments::Lanes far_;
    bool transformed_;
};

inline void draw_pixel(const ::Vector2& at, const ::Color& color) { display::rl().DrawPixelV(at, color); }

// One pixel wide, a line is raylib's rasterised line; thicker, a quad along it.
inline void draw_line(const ::Vector2& start, const ::Vector2& end, const ::Color& color, float thickness) {
    if (thickness == 1.0f)
        display::rl().DrawLineV(start, end, color);
    else
        display::rl().DrawLineEx(start, end, thickness, color);
}

inline void draw_rect(const ::Rectangle& area, const ::Color& color, const Screen& screen = Screen()) {
    if (!screen.misses(area)) display::rl().DrawRectangleRec(area, color);
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
