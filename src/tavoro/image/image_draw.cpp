// Drawing into an image on the CPU, with the argument forms of tavoro.draw: raylib's ImageDraw*
// functions, each behind a check of what they do not check themselves.
#include "image.hpp"

#include "../shared/display.hpp"
#include "../shared/text.hpp"

#include <raylib.h>

#include <bit>
#include <cmath>
#include <cstring>

namespace tavoro::image {

using arguments::Area;
using arguments::Length;
using arguments::Paint;
using arguments::Point;

namespace {

// raylib's image rasterisers work in int: its lines shift a coordinate difference left by 16
// bits and its triangles multiply two differences, which overflow past this.
constexpr float drawing_limit = 16000.0f;
constexpr const char* too_far = "%s must be within +-16000 on an image (got %R)";
constexpr const char* too_large = "the %s would be %lld x %lld pixels: at most 16384 a side and 2**26 in all";

bool near(const char* name, float value) {
    if (std::fabs(value) <= drawing_limit) return true;
    frame::Ref number(PyFloat_FromDouble(value));
    if (number) PyErr_Format(PyExc_ValueError, too_far, name, number.get());
    return false;
}

bool near(const char* name, ::Vector2 at) { return near(name, at.x) && near(name, at.y); }

bool fits(const char* what, double width, double height) {
    auto w = static_cast<long long>(width), h = static_cast<long long>(height);
    if (image_file::within_limits(w, h)) return true;
    PyErr_Format(PyExc_ValueError, too_large, what, w, h);
    return false;
}

}  // namespace

PyObject* clear(I* self, Paint color) {
    if (!drawable(self)) return nullptr;
    change(self, [&](::Image* raw) { ImageClearBackground(raw, color.value); });
    Py_RETURN_NONE;
}

PyObject* draw_pixel(I* self, Point at, Paint color) {
    if (!drawable(self)) return nullptr;
    change(self, [&](::Image* raw) { ImageDrawPixel(raw, static_cast<int>(std::floor(at.value.x)), static_cast<int>(std::floor(at.value.y)),
                   color.value); });
    Py_RETURN_NONE;
}

PyObject* draw_line(I* self, Point start, Point end, Paint color, frame::Default<Length, 1.0f> thickness) {
    if (!drawable(self) || !near("start", start.value) || !near("end", end.value) ||
        !near("thickness", thickness.value.value))
        return nullptr;
    int thick = static_cast<int>(std::lround(thickness.value.value));
    if (thick <= 1)
        change(self, [&](::Image* raw) { ImageDrawLineV(raw, start.value, end.value, color.value); });
    else
        change(self, [&](::Image* raw) { ImageDrawLineEx(raw, start.value, end.value, thick, color.value); });
    Py_RETURN_NONE;
}

PyObject* draw_rect(I* self, Area area, Paint color) {
    if (!drawable(self)) return nullptr;
    change(self, [&](::Image* raw) { ImageDrawRectangleRec(raw, area.value, color.value); });
    Py_RETURN_NONE;
}

PyObject* draw_rect_lines(I* self, Area area, Paint color, frame::Default<Length, 1.0f> thickness) {
    if (!drawable(self) || !near("rect", {area.value.x, area.value.y}) ||
        !near("rect", {area.value.width, area.value.height}) || !near("thickness", thickness.value.value))
        return nullptr;
    change(self, [&](::Image* raw) { ImageDrawRectangleLines(raw, area.value, static_cast<int>(std::lround(thickness.value.value)),
                            color.value); });
    Py_RETURN_NONE;
}

PyObject* draw_circle(I* self, Point center, Length radius, Paint color) {
    if (!drawable(self) || !near("center", center.value) || !near("radius", radius.value)) return nullptr;
    change(self, [&](::Image* raw) { ImageDrawCircleV(raw, center.value, static_cast<int>(std::lround(radius.value)), color.value); });
    Py_RETURN_NONE;
}

PyObject* draw_circle_lines(I* self, Point center, Length radius, Paint color) {
    if (!drawable(self) || !near("center", center.value) || !near("radius", radius.value)) return nullptr;
    change(self, [&](::Image* raw) { ImageDrawCircleLinesV(raw, center.value, static_cast<int>(std::lround(radius.value)), color.value); });
    Py_RETURN_NONE;
}

PyObject* draw_triangle(I* self, Point a, Point b, Point c, Paint color) {
    if (!drawable(self) || !near("a", a.value) || !near("b", b.value) || !near("c", c.value)) return nullptr;
    change(self, [&](::Image* raw) { ImageDrawTriangle(raw, a.value, b.value, c.value, color.value); });
    Py_RETURN_NONE;
}

// raylib scales the source to the destination's size first, so that size is bounded; an image
// drawn into itself is drawn from a copy, since raylib reads the pixels it is writing.
PyObject* draw_image(I* self, I* source, Area from, Area to, frame::Default<PyObject*, nullptr> tint) {
    ::Color shade = {255, 255, 255, 255};
    if (tint.value && tint.value != Py_None && !arguments::read_paint(tint.value, shade)) return nullptr;
    if (!drawable(self) || !has_pixels(source)) return nullptr;
    if (!fits("scaled source", to.value.width, to.value.height) || !near("dest", {to.value.x, to.value.y}))
        return nullptr;
    if (source->_raw.format > PIXELFORMAT_UNCOMPRESSED_R16G16B16A16 || source->_raw.mipmaps != 1)
        return PyErr_Format(PyExc_ValueError, "the source image's format %d cannot be drawn", source->_raw.format);
    ::Image pixels = std::bit_cast<::Image>(source->_raw);
    bool copied = source == self;
    if (copied && !(pixels = ImageCopy(pixels)).data) return PyErr_NoMemory();
    change(self, [&](::Image* raw) { ImageDraw(raw, pixels, from.value, to.value, shade); });
    if (copied) UnloadImage(pixels);
    Py_RETURN_NONE;
}

// raylib renders the text to an image of its measured size first, so that size is bounded.
// Its default font is made when the window opens, and its glyphs are null before.
PyObject* draw_text(I* self, PyObject* words, Point position, Length size, Paint color,
                    frame::Default<PyObject*, nullptr> spacing) {
    const char* chars = text::utf8(words);
    if (!chars) return nullptr;
    float gap = size.value / 10.0f;
    if (spacing.value && spacing.value != Py_None && !arguments::read_number(spacing.value, "spacing", gap))
        return nullptr;
    if (!drawable(self) || !near("position", position.value)) return nullptr;
    if (!display::state && display::bind() < 0) return nullptr;
    if (!display::require_window()) return nullptr;
    ::Font font = display::rl().GetFontDefault();
    ::Vector2 extent = MeasureTextEx(font, chars, size.value, gap);
    if (!fits("text", extent.x, extent.y)) return nullptr;
    change(self, [&](::Image* raw) { ImageDrawTextEx(raw, font, chars, position.value, size.value, gap, color.value); });
    Py_RETURN_NONE;
}

}  // namespace tavoro::image
