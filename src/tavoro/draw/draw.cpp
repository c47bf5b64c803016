// tavoro.draw.draw: drawing into the window's frame with the package's own types. Each primitive
// is a small function over raylib's: positions are vector2-like, areas rect-like, colours
// color-like (arguments.hpp), and every call checks first that it runs inside a frame
// (display.hpp). The batch forms draw many shapes of one kind in one call, each exactly as the
// single form draws it. Camera2D (camera.cpp) moves and scales what is drawn inside it.
#include "draw.hpp"

#include "../shared/text.hpp"

#include <cmath>
#include <cstring>
#include <vector>

// The software renderer's switch between its fast paths and the general rasteriser, which give
// the same pixels; a raylib patch of this package's build, bound weakly so that the module loads
// against a raylib without it.
extern "C" void rlSetSoftwareFastPaths(bool enabled) __attribute__((weak));

namespace tavoro::draw {

using arguments::Area;
using arguments::Length;
using arguments::Number;
using arguments::Paint;
using arguments::Point;

namespace {

constexpr const char* bad_segments = "segments must be from 0 to 4096 (got %d)";
constexpr const char* bad_sides = "sides must be from 3 to 4096 (got %d)";
constexpr int most_segments = 4096;

bool check_segments(int segments) {
    if (segments >= 0 && segments <= most_segments) return true;
    PyErr_Format(PyExc_ValueError, bad_segments, segments);
    return false;
}

// The UTF-8 of a str without NUL characters (null with the exception set); `holder` keeps it.
const char* utf8(PyObject* text, frame::Ref& holder) {
    const char* chars = text::utf8(text);
    if (chars) holder = frame::Ref(Py_NewRef(text));
    return chars;
}

// raylib's default spacing for its default font: a tenth of the size.
bool spacing_of(PyObject* given, float size, float& out) {
    if (!given || given == Py_None) {
        out = size / 10.0f;
        return true;
    }
    return arguments::read_number(given, "spacing", out);
}

using Spacing = frame::Default<PyObject*, nullptr>;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Single shapes

PyObject* clear(Paint color) {
    if (!display::require_frame()) return nullptr;
    display::rl().ClearBackground(color.value);
    Py_RETURN_NONE;
}

PyObject* pixel(Point at, Paint color) {
    if (!display::require_frame()) return nullptr;
    draw_pixel(at.value, color.value);
    Py_RETURN_NONE;
}

PyObject* line(Point start, Point end, Paint color, frame::Default<Length, 1.0f> thickness) {
    if (!display::require_frame()) return nullptr;
    draw_line(start.value, end.value, color.value, thickness.value.value);
    Py_RETURN_NONE;
}

PyObject* rect(Area area, Paint color) {
    if (!display::require_frame()) [[unlikely]]
        return nullptr;
    draw_rect(area.value, color.value);
    Py_RETURN_NONE;
}

PyObject* rect_lines(Area area, Paint color, frame::Default<Length, 1.0f> thickness) {
    if (!display::require_frame()) return nullptr;
    display::rl().DrawRectangleLinesEx(area.value, thickness.value.value, color.value);
    Py_RETURN_NONE;
}

PyObject* rect_rounded(Area area, Number roundness, int segments, Paint color) {
    if (!display::require_frame() || !check_segments(segments)) return nullptr;
    display::rl().DrawRectangleRounded(area.value, roundness.value, segments, color.value);
    Py_RETURN_NONE;
}

PyObject* rect_rotated(Area area, Point origin, Number rotation, Paint color) {
    if (!display::require_frame()) return nullptr;
    display::rl().DrawRectanglePro(area.value, origin.value, rotation.value, color.value);
    Py_RETURN_NONE;
}

PyObject* circle(Point center, Length radius, Paint color) {
    if (!display::require_frame()) return nullptr;
    draw_circle(center.value, radius.value, color.value);
    Py_RETURN_NONE;
}

PyObject* circle_lines(Point center, Length radius, Paint color) {
    if (!display::require_frame()) return nullptr;
    display::rl().DrawCircleLinesV(center.value, radius.value, color.value);
    Py_RETURN_NONE;
}

PyObject* circle_sector(Point center, Length radius, Number start_angle, Number end_angle,
                        int segments, Paint color) {
    if (!display::require_frame() || !check_segments(segments)) return nullptr;
    display::rl().DrawCircleSector(center.value, radius.value, start_angle.value, end_angle.value, segments,
                     color.value);
    Py_RETURN_NONE;
}

PyObject* ellipse(Point center, Length radius_h, Length radius_v, Paint color) {
    if (!display::require_frame()) return nullptr;
    display::rl().DrawEllipseV(center.value, radius_h.value, radius_v.value, color.value);
    Py_RETURN_NONE;
}

// raylib fills only counter-clockwise triangles (on screen, with y down); either winding is
// taken here.
PyObject* triangle(Point a, Point b, Point c, Paint color) {
    if (!display::require_frame()) return nullptr;
    ::Vector2 p = a.value, q = b.value, r = c.value;
    double cross = (static_cast<double>(q.x) - p.x) * (static_cast<double>(r.y) - p.y) -
                   (static_cast<double>(q.y) - p.y) * (static_cast<double>(r.x) - p.x);
    if (cross > 0.0) std::swap(q, r);
    display::rl().DrawTriangle(p, q, r, color.value);
    Py_RETURN_NONE;
}

PyObject* poly(Point center, int sides, Length radius, Number rotation, Paint color) {
    if (!display::require_frame()) return nullptr;
    if (sides < 3 || sides > most_segments) return PyErr_Format(PyExc_ValueError, bad_sides, sides);
    // raylib's DrawPoly winds its triangles clockwise, so its back-face culling drops them all: a
    // fan wound the other way gives the same polygon.
    std::vector<::Vector2> fan(static_cast<std::size_t>(sides) + 2);
    fan[0] = center.value;
    for (int i = 0; i <= sides; ++i) {
        double angle = (rotation.value - 360.0 * i / sides) * (M_PI / 180.0);
        fan[static_cast<std::size_t>(i) + 1] = {center.value.x + static_cast<float>(std::cos(angle) * radius.value),
                                                center.value.y + static_cast<float>(std::sin(angle) * radius.value)};
    }
    display::rl().DrawTriangleFan(fan.data(), sides + 2, color.value);
    Py_RETURN_NONE;
}

PyObject* text(PyObject* text, Point position, Length size, Paint color, Spacing spacing) {
    if (!display::require_frame()) return nullptr;
    frame::Ref holder;
    const char* chars = utf8(text, holder);
    float gap;
    if (!chars || !spacing_of(spacing.value, size.value, gap)) return nullptr;
    display::rl().DrawTextEx(display::rl().GetFontDefault(), chars, position.value, size.value, gap, color.value);
    Py_RETURN_NONE;
}

PyObject* measure_text(PyObject* text, Length size, Spacing spacing) {
    if (!display::require_window()) return nullptr;
    frame::Ref holder;
    const char* chars = utf8(text, holder);
    float gap;
    if (!chars || !spacing_of(spacing.value, size.value, gap)) return nullptr;
    ::Vector2 extent = display::rl().MeasureTextEx(display::rl().GetFontDefault(), chars, size.value, gap);
    return Vector2::vtable->cfrom_floats(extent.x, extent.y);
}

// Not part of the interface: lets the tests draw a scene through the fast paths and through the
// general rasteriser. False where raylib has no such switch.
PyObject* set_fast_paths(PyObject* enabled) {
    int on = PyObject_IsTrue(enabled);
    if (on < 0) return nullptr;
    if (!rlSetSoftwareFastPaths) Py_RETURN_FALSE;
    rlSetSoftwareFastPaths(on != 0);
    Py_RETURN_TRUE;
}

// ---------------------------------------------------------------------------------------------
// Module

PyMethodDef functions[] = {
    frame::function<"clear", clear, "color">("Fills the whole frame with `color`."),
    frame::function<"pixel", pixel, "position", "color">("Draws one pixel."),
    frame::function<"line", line, "start", "end", "color", "thickness=1.0">(
        "Draws a line from `start` to `end`, `thickness` pixels wide."),
    frame::function<"rect", rect, "rect", "color">("Fills a rectangle."),
    frame::function<"rect_lines", rect_lines, "rect", "color", "thickness=1.0">(
        "Draws a rectangle's outline, `thickness` pixels wide, inside the rectangle."),
    frame::function<"rect_rounded", rect_rounded, "rect", "roundness", "segments", "color">(
        "Fills a rectangle with rounded corners: `roundness` from 0 (square) to 1 (the shorter "
        "side's half as radius), `segments` a corner (0: raylib chooses)."),
    frame::function<"rect_rotated", rect_rotated, "rect", "origin", "rotation", "color">(
        "Fills a rectangle turned by `rotation` degrees about `origin` (relative to its top-left "
        "corner), placed so that the origin is at the rectangle's position."),
    frame::function<"circle", circle, "center", "radius", "color">("Fills a circle."),
    frame::function<"circle_lines", circle_lines, "center", "radius", "color">(
        "Draws a circle's outline."),
    frame::function<"circle_sector", circle_sector, "center", "radius", "start_angle",
                    "end_angle", "segments", "color">(
        "Fills a sector of a circle between two angles in degrees (0 is to the right, clockwise "
        "on screen); `segments` 0 lets raylib choose."),
    frame::function<"ellipse", ellipse, "center", "radius_h", "radius_v", "color">(
        "Fills an ellipse with horizontal and vertical radii."),
    frame::function<"triangle", triangle, "a", "b", "c", "color">(
        "Fills a triangle given in either winding."),
    frame::function<"poly", poly, "center", "sides", "radius", "rotation", "color">(
        "Fills a regular polygon of `sides` sides, turned by `rotation` degrees."),
    frame::function<"text", text, "text", "position", "size", "color", "spacing=None">(
        "Draws text in raylib's default font: `position` is its top-left corner, `size` its "
        "height in pixels, `spacing` the pixels between letters (None: a tenth of the size)."),
    frame::function<"measure_text", measure_text, "text", "size", "spacing=None">(
        "The size text() would give the text, as a Vector2 (needs an open window)."),
    frame::function<"_set_fast_paths", set_fast_paths, "enabled">(
        "For tests: the renderer's fast paths on or off (the same pixels either way); False "
        "where raylib cannot switch them."),
    {},
};

const frame::TypeDef types[] = {frame::type_def<Camera>(camera_type, nullptr)};
const frame::SiblingDef siblings[] = {
    frame::sibling<Vector2>("tavoro.vector2.vector2", "Vector2"),
    frame::sibling<Rect>("tavoro.rect.rect", "Rect"),
    frame::sibling<Color>("tavoro.color.color", "Color"),
};

const frame::ModuleDef module = {
    .name = "draw",
    .full_name = "tavoro.draw.draw",
    .source = "src/tavoro/draw/draw.cpp",
    .types = types,
    .siblings = siblings,
    .finish =
        [](PyObject* module) {
            if (display::bind() < 0 || arguments::bind() < 0) return -1;
            if (PyModule_AddFunctions(module, functions) < 0) return -1;
            return PyModule_AddFunctions(module, batch_functions);
        },
};

}  // namespace tavoro::draw

TAVORO_MODULE(draw, tavoro::draw::module)
