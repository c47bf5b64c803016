// Interface of tavoro.image.image inside its own folder: what the CPU drawing (image_draw.cpp)
// shares with the record, loading and editing (image.cpp).
#pragma once

#include "../shared/arguments.hpp"
#include "image_file.hpp"

#include <bit>

namespace tavoro::image {

using I = ::tavoro::Image;

inline I* as_image(PyObject* object) { return reinterpret_cast<I*>(object); }

// Runs `edit` on raylib's record of the image and keeps what it leaves there (raylib's edits
// reallocate the pixels and change the size).
template <class F>
void change(I* self, F&& edit) {
    ::Image raw = std::bit_cast<::Image>(self->_raw);
    edit(&raw);
    self->_raw = std::bit_cast<rl::Image>(raw);
}

// Whether the image's pixels may be changed in place: its own, uncompressed, one level, and,
// for edits that reallocate them, no buffer view open; false with the exception set otherwise.
bool editable(I* self, bool reallocates = true);

// Drawing changes the pixels where they are, so buffer views see it.
inline bool drawable(I* self) { return editable(self, false); }

// Whether the image has pixels to read: false with ValueError set otherwise.
bool has_pixels(const I* self);

// A new owning Image of `raw`, or null with the exception set (then `raw`'s pixels are freed).
PyObject* take(::Image raw);

// The CPU drawing methods (image_draw.cpp).
PyObject* clear(I* self, arguments::Paint color);
PyObject* draw_pixel(I* self, arguments::Point at, arguments::Paint color);
PyObject* draw_line(I* self, arguments::Point start, arguments::Point end, arguments::Paint color,
                    frame::Default<arguments::Length, 1.0f> thickness);
PyObject* draw_rect(I* self, arguments::Area area, arguments::Paint color);
PyObject* draw_rect_lines(I* self, arguments::Area area, arguments::Paint color,
                          frame::Default<arguments::Length, 1.0f> thickness);
PyObject* draw_circle(I* self, arguments::Point center, arguments::Length radius, arguments::Paint color);
PyObject* draw_circle_lines(I* self, arguments::Point center, arguments::Length radius,
                            arguments::Paint color);
PyObject* draw_triangle(I* self, arguments::Point a, arguments::Point b, arguments::Point c,
                        arguments::Paint color);
PyObject* draw_image(I* self, I* source, arguments::Area from, arguments::Area to,
                     frame::Default<PyObject*, nullptr> tint);
PyObject* draw_text(I* self, PyObject* text, arguments::Point position, arguments::Length size,
                    arguments::Paint color, frame::Default<PyObject*, nullptr> spacing);

}  // namespace tavoro::image
