// Interface of tavoro.draw.draw inside its own folder: the single shapes that the batch forms
// (batch.cpp) repeat, and the Camera2D record (camera.cpp).
#pragma once

#include "../shared/arguments.hpp"
#include "../shared/display.hpp"

namespace tavoro::draw {

// Each draws exactly what the single form of the same name draws.
void draw_pixel(const ::Vector2& at, const ::Color& color);
void draw_line(const ::Vector2& start, const ::Vector2& end, const ::Color& color, float thickness);
void draw_rect(const ::Rectangle& area, const ::Color& color);
void draw_circle(const ::Vector2& center, float radius, const ::Color& color);

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
