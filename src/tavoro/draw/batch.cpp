// The batch forms of tavoro.draw.draw: many shapes of one kind in one call, from a list or tuple
// of the single form's arguments or from a buffer of float32 rows (a NumPy array of shape (n, 4)
// for rectangles, (n, 2) for points), with one colour for all or one for each. Each shape is
// drawn by the single form's own code, so a batch gives the pixels of the loop it replaces.
#include "draw.hpp"

#include <bit>
#include <type_traits>
#include <cmath>
#include <cstring>

namespace tavoro::draw {
namespace {

constexpr const char* bad_items = "%s must be a list or tuple, or a buffer of float32 rows, not %.200s";
constexpr const char* bad_rows = "%s as a buffer must be C-contiguous float32 of shape (n, %d) (got format '%s', %d dimensions)";
constexpr const char* bad_colors = "colors must be one color, or one for each of the %zd shapes (got %zd)";
constexpr const char* bad_color_rows = "colors as a buffer must be C-contiguous uint8 of shape (n, 4)";
constexpr const char* bad_radii = "radius must be one number, or one for each of the %zd circles (got %zd)";
constexpr const char* bad_segment = "segments must hold (start, end) pairs, not %.200s";

bool is_sequence(PyObject* object) { return PyList_CheckExact(object) || PyTuple_CheckExact(object); }

// A buffer of C-contiguous items of one format, viewed for the call.
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
        if (held_) PyBuffer_Release(&view_);
    }
    bool open(PyObject* object) {
        held_ = PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) == 0;
        return held_;
    }
    // Whether it holds items of `format` ('f' or 'B', native order) in rows of `width`.
    bool rows_of(char format, Py_ssize_t width) const {
        const char* f = view_.format ? view_.format : "B";
        if (*f == '=' || *f == '@' || (*f == '<' && little_endian)) ++f;
        Py_ssize_t item = format == 'f' ? 4 : 1;
        bool shaped = view_.ndim == 2 ? view_.shape[1] == width : view_.ndim == 1 && width == 1;
        return f[0] == format && f[1] == '\0' && view_.itemsize == item && shaped;
    }
    Py_ssize_t rows(Py_ssize_t width) const { return view_.len / view_.itemsize / width; }
    template <class T>
    const T* data() const { return static_cast<const T*>(view_.buf); }
    const char* format() const { return view_.format ? view_.format : "B"; }
    int ndim() const { return view_.ndim; }

private:
    static constexpr bool little_endian = std::endian::native == std::endian::little;
    Py_buffer view_{};
    bool held_ = false;
};

// The shapes of a batch: the objects of a list or tuple, or the float32 rows of a buffer.
class Shapes {
public:
    bool open(PyObject* object, const char* name, Py_ssize_t width) {
        name_ = name;
        if (is_sequence(object)) {
            sequence_ = object;
            refresh();
            return true;
        }
        if (!PyObject_CheckBuffer(object) || PyUnicode_Check(object)) {
            PyErr_Format(PyExc_TypeError, bad_items, name, Py_TYPE(object)->tp_name);
            return false;
        }
        if (!buffer_.open(object)) return false;
        if (!buffer_.rows_of('f', width)) {
            PyErr_Format(PyExc_ValueError, bad_rows, name, static_cast<int>(width), buffer_.format(),
                         buffer_.ndim());
            return false;
        }
        rows_ = buffer_.data<float>();
        count_ = buffer_.rows(width);
        return true;
    }
    // Converting an item other than the package's own may run code that changes the list: then
    // its items and size are read again.
    void refresh() {
        items_ = PySequence_Fast_ITEMS(sequence_);
        count_ = PySequence_Fast_GET_SIZE(sequence_);
    }
    Py_ssize_t size() const { return count_; }
    PyObject* item(Py_ssize_t i) const { return items_ ? items_[i] : nullptr; }
    const float* row(Py_ssize_t i, Py_ssize_t width) const { return rows_ + i * width; }
    const char* name() const { return name_; }

private:
    PyObject* sequence_ = nullptr;
    PyObject** items_ = nullptr;
    Buffer buffer_;
    const float* rows_ = nullptr;
    Py_ssize_t count_ = 0;
    const char* name_ = "";
};

// One colour for every shape, or one each: a list or tuple of color-likes, or uint8 rows of 4.
class Colors {
public:
    bool open(PyObject* object, Py_ssize_t count) {
        if (!is_sequence(object) ? (frame::is_exact<Color>(object) || !PyObject_CheckBuffer(object))
                                 : one_color(object))
            return arguments::read_paint(object, single_);
        if (is_sequence(object)) {
            sequence_ = object;
            if (PySequence_Fast_GET_SIZE(object) == count) return true;
            PyErr_Format(PyExc_ValueError, bad_colors, count, PySequence_Fast_GET_SIZE(object));
            return false;
        }
        if (!buffer_.open(object)) return false;
        if (!buffer_.rows_of('B', 4)) {
            PyErr_SetString(PyExc_ValueError, bad_color_rows);
            return false;
        }
        if (buffer_.rows(4) != count) {
            PyErr_Format(PyExc_ValueError, bad_colors, count, buffer_.rows(4));
            return false;
        }
        rows_ = buffer_.data<std::uint8_t>();
        return true;
    }
    bool single() const { return !sequence_ && !rows_; }
    ::Color first() const { return single_; }
    bool at(Py_ssize_t i, ::Color& out) const {
        if (!sequence_ && !rows_) [[likely]] {
            out = single_;
            return true;
        }
        if (rows_) {
            std::memcpy(&out, rows_ + 4 * i, 4);
            return true;
        }
        if (i >= PySequence_Fast_GET_SIZE(sequence_)) {
            PyErr_Format(PyExc_ValueError, bad_colors, i + 1, PySequence_Fast_GET_SIZE(sequence_));
            return false;
        }
        frame::Ref item(Py_NewRef(PySequence_Fast_GET_ITEM(sequence_, i)));
        return arguments::read_paint(item.get(), out);
    }

private:
    // A tuple or list of 3 or 4 numbers is one colour; of anything else, one each.
    static bool one_color(PyObject* object) {
        Py_ssize_t size = PySequence_Fast_GET_SIZE(object);
        return (size == 3 || size == 4) && PyLong_Check(PySequence_Fast_GET_ITEM(object, 0));
    }
    ::Color single_{};
    PyObject* sequence_ = nullptr;
    Buffer buffer_;
    const std::uint8_t* rows_ = nullptr;
};

// Whether an item is the package's own type for shapes of T, which reads without running any
// Python code (so without holding a reference to it).
template <class T>
bool reads_in_place(PyObject* item) {
    if constexpr (std::is_same_v<T, ::Vector2>)
        return frame::is_exact<Vector2>(item);
    else
        return frame::is_exact<Rect>(item);
}

// Reads shape i of `shapes` into `out` through `read` (list items) or from its row.
template <class T, bool (*Read)(PyObject*, const char*, T&), bool (*Check)(const char*, T)>
[[gnu::always_inline]] inline bool shape_at(Shapes& shapes, Py_ssize_t i, T& out) {
    if (PyObject* item = shapes.item(i)) {
        if (reads_in_place<T>(item)) [[likely]]
            return Read(item, shapes.name(), out);
        frame::Ref held(Py_NewRef(item));
        bool read = Read(held.get(), shapes.name(), out);
        shapes.refresh();
        return read;
    }
    std::memcpy(&out, shapes.row(i, sizeof(T) / sizeof(float)), sizeof(T));
    return Check(shapes.name(), out);
}

bool read_segment(PyObject* item, const char* name, ::Rectangle& out) {
    if (!is_sequence(item) || PySequence_Fast_GET_SIZE(item) != 2) {
        PyErr_Format(PyExc_TypeError, bad_segment, Py_TYPE(item)->tp_name);
        return false;
    }
    ::Vector2 start, end;
    if (!arguments::read_point(PySequence_Fast_GET_ITEM(item, 0), name, start) ||
        !arguments::read_point(PySequence_Fast_GET_ITEM(item, 1), name, end))
        return false;
    out = {start.x, start.y, end.x, end.y};
    return true;
}

bool check_segment(const char* name, ::Rectangle s) {
    return arguments::check_point(name, {s.x, s.y}) && arguments::check_point(name, {s.width, s.height});
}

// Draws each shape with `draw`; stops at the first that does not convert, leaving the ones before
// it drawn (as the loop it replaces would).
template <class T, bool (*Read)(PyObject*, const char*, T&), bool (*Check)(const char*, T), class Draw>
PyObject* each(PyObject* items, const char* name, PyObject* color, Draw draw) {
    if (!display::require_frame()) return nullptr;
    Shapes shapes;
    if (!shapes.open(items, name, sizeof(T) / sizeof(float))) return nullptr;
    Colors colors;
    if (!colors.open(color, shapes.size())) return nullptr;
    if (colors.single()) {
        ::Color paint = colors.first();
        for (Py_ssize_t i = 0; i < shapes.size(); ++i) {
            T shape;
            if (!shape_at<T, Read, Check>(shapes, i, shape) || !draw(shape, paint, i)) return nullptr;
        }
        Py_RETURN_NONE;
    }
    for (Py_ssize_t i = 0; i < shapes.size(); ++i) {
        T shape;
        ::Color paint;
        if (!shape_at<T, Read, Check>(shapes, i, shape) || !colors.at(i, paint)) return nullptr;
        if (!draw(shape, paint, i)) return nullptr;
    }
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------------------------
// The batch functions

PyObject* rects(PyObject* items, PyObject* color) {
    Screen screen;
    return each<::Rectangle, arguments::read_area, arguments::check_area>(
        items, "rects", color, [&screen](const ::Rectangle& r, const ::Color& c, Py_ssize_t) {
            draw_rect(r, c, screen);
            return true;
        });
}

PyObject* points(PyObject* items, PyObject* color) {
    return each<::Vector2, arguments::read_point, arguments::check_point>(
        items, "points", color, [](const ::Vector2& p, const ::Color& c, Py_ssize_t) {
            draw_pixel(p, c);
            return true;
        });
}

PyObject* lines(PyObject* items, PyObject* color, frame::Default<arguments::Length, 1.0f> thickness) {
    float width = thickness.value.value;
    return each<::Rectangle, read_segment, check_segment>(
        items, "segments", color, [width](const ::Rectangle& s, const ::Color& c, Py_ssize_t) {
            draw_line({s.x, s.y}, {s.width, s.height}, c, width);
            return true;
        });
}

bool radius_at(const Shapes& radii, Py_ssize_t i, float& out) {
    if (i >= radii.size()) {
        PyErr_Format(PyExc_ValueError, bad_radii, i + 1, radii.size());
        return false;
    }
    if (PyObject* item = radii.item(i)) {
        frame::Ref held(Py_NewRef(item));
        return arguments::read_length(held.get(), "radius", out);
    }
    out = *radii.row(i, 1);
    if (!(std::fabs(out) <= arguments::coordinate_limit)) return arguments::raise_out_of_range("radius", out);
    return out >= 0.0f || arguments::raise_negative("radius", out);
}

// One radius for all circles, or one each (a list, tuple or float32 buffer of n).
PyObject* circles(PyObject* items, PyObject* radius, PyObject* color) {
    if (!display::require_frame()) return nullptr;
    Shapes centers, radii;
    if (!centers.open(items, "centers", 2)) return nullptr;
    float single = 0.0f;
    bool each_radius = is_sequence(radius) || (PyObject_CheckBuffer(radius) && !PyUnicode_Check(radius));
    if (each_radius) {
        if (!radii.open(radius, "radius", 1)) return nullptr;
        if (radii.size() != centers.size())
            return PyErr_Format(PyExc_ValueError, bad_radii, centers.size(), radii.size());
    } else if (!arguments::read_length(radius, "radius", single)) {
        return nullptr;
    }
    Colors colors;
    if (!colors.open(color, centers.size())) return nullptr;
    for (Py_ssize_t i = 0; i < centers.size(); ++i) {
        ::Vector2 center;
        ::Color paint;
        float r = single;
        if (!shape_at<::Vector2, arguments::read_point, arguments::check_point>(centers, i, center) ||
            (each_radius && !radius_at(radii, i, r)) || !colors.at(i, paint))
            return nullptr;
        draw_circle(center, r, paint);
    }
    Py_RETURN_NONE;
}

}  // namespace

PyMethodDef batch_functions[] = {
    frame::function<"rects", rects, "rects", "color">(
        "Fills many rectangles: a list or tuple of rect-likes, or float32 rows (x, y, width, "
        "height); `color` one color-like, or one each (a list, or uint8 rows of 4)."),
    frame::function<"circles", circles, "centers", "radius", "color">(
        "Fills many circles: centers as a list or tuple of vector2-likes or float32 rows (x, y); "
        "one radius, or one each; one color, or one each."),
    frame::function<"points", points, "points", "color">(
        "Draws many pixels: a list or tuple of vector2-likes, or float32 rows (x, y)."),
    frame::function<"lines", lines, "segments", "color", "thickness=1.0">(
        "Draws many lines: a list or tuple of (start, end) pairs, or float32 rows (x1, y1, x2, "
        "y2); one color, or one each."),
    {},
};

}  // namespace tavoro::draw
