// tavoro.image.image: an image record and whether this object owns its pixel data. An owning
// image frees the pixels when it is unloaded or destroyed; a view (is_owner 0), such as a glyph's
// image whose pixels belong to its font, never does. The pixels of an uncompressed image are
// reachable through the buffer protocol (numpy.asarray(image) is a view of them, rows first), and
// raylib writes images to files. Images load from files and bytes (image_file.hpp says what
// reaches raylib's decoders), are made from arrays, copied, cropped, resized, flipped, rotated and
// converted here, and drawn into on the CPU in image_draw.cpp. A file that is missing or does not
// decode gives an image whose `valid` is False, as audio files do.
#include "image.hpp"

#include "../audio_device/audio_device.hpp"
#include "../shared/display.hpp"
#include "../shared/file_path.hpp"

#include <raylib.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace tavoro::image {
namespace {

constexpr const char* exported = "the image's pixels are in use by %zd buffer view(s): release them first";
constexpr const char* no_pixels = "the image has no pixels";
constexpr const char* compressed = "the pixels of format %d are compressed: they have no array view";
constexpr const char* export_failed = "raylib could not write the image to %R (see the tavoro.raylib log)";
constexpr const char* unknown_extension =
    "the file name must end in .png, .bmp, .tga, .jpg, .jpeg or .qoi (got %R)";
constexpr const char* not_own = "the pixels of this image belong to another object: they cannot be changed";
constexpr const char* not_editable = "images of format %d with %d mipmap level(s) cannot be changed";
constexpr const char* bad_size = "width and height must be from 1 to 16384, 2**26 pixels in all (got %lld x %lld)";
constexpr const char* outside = "the rectangle lies outside the image";
constexpr const char* bad_format = "format must be an uncompressed pixel format from 1 to 13 (got %d)";
constexpr const char* bad_channel = "channel must be from 0 to %d for format %d (got %d)";
constexpr const char* not_8bit = "rotating by any angle needs 8 bits a channel (format 1, 2, 4 or 7), not format %d";
constexpr const char* bad_pixel = "pixel (%d, %d) lies outside the %d x %d image";
constexpr const char* bad_shape =
    "pixels must have 2 dimensions (rows, columns) or 3 (rows, columns, channels of 1 to 4), got %d";
constexpr const char* bad_item = "pixels of item format %s and %d channel(s) fit no pixel format";
constexpr const char* format_mismatch = "format %d does not hold pixels of item format %s and %d channel(s)";
constexpr const char* not_bytes = "data must be bytes-like, not %.200s";

// Pixels are allocated with the C allocator (raylib's default), so they are freed with it.
void release_pixels(I* self) {
    if (self->is_owner) std::free(self->_raw.data);
    self->_raw.data = nullptr;
}

// How the pixels of each uncompressed format look as an array: the channels of a pixel and the
// struct-module format of one channel (the 16-bit packed formats are one unsigned short).
struct Layout {
    int channels;
    const char* format;
    int item_size;
};

// The colour channels of each uncompressed format, packed ones included.
constexpr int channels_of[] = {0, 1, 2, 3, 3, 4, 4, 4, 1, 3, 4, 1, 3, 4};

bool layout_of(int format, Layout& out) {
    static constexpr Layout layouts[] = {
        {1, "B", 1}, {2, "B", 1}, {1, "H", 2}, {3, "B", 1}, {1, "H", 2}, {1, "H", 2},
        {4, "B", 1}, {1, "f", 4}, {3, "f", 4}, {4, "f", 4}, {1, "e", 2}, {3, "e", 2}, {4, "e", 2},
    };
    if (format < PIXELFORMAT_UNCOMPRESSED_GRAYSCALE || format > PIXELFORMAT_UNCOMPRESSED_R16G16B16A16)
        return false;
    out = layouts[format - 1];
    return true;
}

// The buffer protocol: rows, then columns, then channels (none for one-channel formats). A view
// of pixels that belong to someone else (a glyph's, a font's) is read-only.
int get_buffer(PyObject* object, Py_buffer* view, int flags) {
    I* self = reinterpret_cast<I*>(object);
    const rl::Image& raw = self->_raw;
    Layout layout;
    if (!raw.data || raw.width <= 0 || raw.height <= 0) {
        PyErr_SetString(PyExc_BufferError, no_pixels);
        return -1;
    }
    if (!layout_of(raw.format, layout)) {
        PyErr_Format(PyExc_BufferError, compressed, raw.format);
        return -1;
    }
    if ((flags & PyBUF_WRITABLE) && !self->is_owner) {
        PyErr_SetString(PyExc_BufferError, "the pixels of this image belong to another object: they are read-only");
        return -1;
    }
    // shape and strides live in one allocation behind view->internal.
    auto* dims = static_cast<Py_ssize_t*>(PyMem_Malloc(6 * sizeof(Py_ssize_t)));
    if (!dims) {
        PyErr_NoMemory();
        return -1;
    }
    int ndim = layout.channels > 1 ? 3 : 2;
    Py_ssize_t* shape = dims;
    Py_ssize_t* strides = dims + 3;
    Py_ssize_t pixel = static_cast<Py_ssize_t>(layout.channels) * layout.item_size;
    shape[0] = raw.height;
    shape[1] = raw.width;
    shape[2] = layout.channels;
    strides[0] = pixel * raw.width;
    strides[1] = pixel;
    strides[2] = layout.item_size;
    view->obj = Py_NewRef(object);
    view->buf = raw.data;
    view->len = static_cast<Py_ssize_t>(raw.width) * raw.height * layout.channels * layout.item_size;
    view->readonly = !self->is_owner;
    view->itemsize = layout.item_size;
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>(layout.format) : nullptr;
    view->ndim = ndim;
    view->shape = (flags & PyBUF_ND) ? shape : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? strides : nullptr;
    view->suboffsets = nullptr;
    view->internal = dims;
    ++self->exports;
    return 0;
}

void release_buffer(PyObject* object, Py_buffer* view) {
    PyMem_Free(view->internal);
    --reinterpret_cast<I*>(object)->exports;
}

PyBufferProcs buffer_procs = {get_buffer, release_buffer};

bool refuse_while_exported(I* self) {
    if (self->exports == 0) return false;
    PyErr_Format(PyExc_BufferError, exported, static_cast<Py_ssize_t>(self->exports));
    return true;
}

// raylib picks the encoder by the file name's extension, and only logs when it has none for it.
bool known_extension(const char* path) {
    static constexpr const char* extensions[] = {".png", ".bmp", ".tga", ".jpg", ".jpeg", ".qoi"};
    for (const char* extension : extensions)
        if (IsFileExtension(path, extension)) return true;
    return false;
}

int export_image(I* self, PyObject* path) {
    if (!self->_raw.data || self->_raw.width <= 0 || self->_raw.height <= 0) {
        PyErr_SetString(PyExc_ValueError, no_pixels);
        return 0;
    }
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path, &encoded)) return 0;
    frame::Ref held(encoded);
    const char* name = PyBytes_AS_STRING(encoded);
    if (!known_extension(name)) {
        PyErr_Format(PyExc_ValueError, unknown_extension, path);
        return 0;
    }
    bool written = ExportImage(std::bit_cast<::Image>(self->_raw), name);
    audio_device::api.hand_over_log();
    if (written) return 1;
    PyErr_Format(PyExc_OSError, export_failed, path);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Loading

bool size_allowed(long long width, long long height) {
    if (width >= 1 && height >= 1 && image_file::within_limits(width, height)) return true;
    PyErr_Format(PyExc_ValueError, bad_size, width, height);
    return false;
}

PyObject* wrap(rl::Image raw, const ImageNewOptional* optional);

PyObject* empty() { return wrap(rl::Image{}, nullptr); }

// raylib decodes by the type the header shows, from bytes already read: a file that changes
// between the check and the decoding cannot slip past the check.
PyObject* decode(const unsigned char* data, std::size_t size, bool tga = false) {
    image_file::Header header;
    if (!image_file::decodable(data, size, header, tga)) return empty();
    ::Image raw = LoadImageFromMemory(header.type, data, static_cast<int>(size));
    return audio_device::logged(raw.data ? take(raw) : empty());
}

// The whole file in `data` (malloc'd, freed by the caller), or null when it cannot be read.
unsigned char* read_file(const char* path, long long size) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return nullptr;
    auto* data = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size)));
    bool whole = data && std::fread(data, 1, static_cast<std::size_t>(size), file) == static_cast<std::size_t>(size);
    std::fclose(file);
    if (whole) return data;
    std::free(data);
    return nullptr;
}

PyObject* load(PyObject* path) {
    frame::Ref name = file_path("path", path);
    if (!name) return nullptr;
    const char* file = PyBytes_AS_STRING(name.get());
    long long size = 0;
    if (!checked_file(file, {".png", ".bmp", ".gif", ".qoi", ".jpg", ".jpeg", ".tga"}, &size)) return empty();
    unsigned char* data = read_file(file, size);
    if (!data) return empty();
    PyObject* result = decode(data, static_cast<std::size_t>(size), strcasecmp(file_extension(file), ".tga") == 0);
    std::free(data);
    return result;
}

// A GIF's frames as one tall image, the first frame on top; other formats as load() makes them,
// one frame. The frames are counted before decoding: each is a whole image of the header's size.
// A native caller may pass no frame count.
PyObject* load_anim(PyObject* path, int* frame_count) {
    int none = 0;
    int* frames = frame_count ? frame_count : &none;
    *frames = 0;
    frame::Ref name = file_path("path", path);
    if (!name) return nullptr;
    const char* file = PyBytes_AS_STRING(name.get());
    const char* dot = file_extension(file);
    if (!dot || strcasecmp(dot, ".gif") != 0) {
        PyObject* image = load(path);
        *frames = image && as_image(image)->_raw.data ? 1 : 0;
        return image;
    }
    long long size = 0;
    if (!checked_file(file, {".gif"}, &size)) return empty();
    std::unique_ptr<unsigned char, decltype(&std::free)> data(read_file(file, size), std::free);
    image_file::Header header;
    if (!data || !image_file::decodable(data.get(), static_cast<std::size_t>(size), header, false) ||
        std::strcmp(header.type, ".gif") != 0)
        return empty();
    long long counted = image_file::gif_frames(data.get(), static_cast<std::size_t>(size));
    long long tall = counted * header.height;
    if (counted < 1 || !image_file::within_limits(header.width, tall) ||
        (4 * header.width * tall > image_file::small_decode && 4 * header.width * tall / image_file::most_ratio > size))
        return empty();
    int decoded = 0;
    ::Image raw = LoadImageAnimFromMemory(".gif", data.get(), static_cast<int>(size), &decoded);
    if (raw.data && (decoded < 1 || decoded > counted || raw.width != header.width || raw.height != header.height)) {
        UnloadImage(raw);
        raw = {};
    }
    if (!raw.data) return audio_device::logged(empty());
    raw.height *= decoded;  // raylib's record gives one frame's height over all of them
    *frames = decoded;
    return audio_device::logged(take(raw));
}

PyObject* py_load_anim(PyObject* path) {
    int frames = 0;
    frame::Ref image(load_anim(path, &frames));
    return image ? Py_BuildValue("(Oi)", image.get(), frames) : nullptr;
}

PyObject* from_bytes(PyObject* data) {
    Py_buffer view;
    if (!PyObject_CheckBuffer(data)) return PyErr_Format(PyExc_TypeError, not_bytes, Py_TYPE(data)->tp_name);
    if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
    PyObject* result = view.len > 0 && view.len <= INT_MAX
                           ? decode(static_cast<const unsigned char*>(view.buf), static_cast<std::size_t>(view.len))
                           : empty();
    PyBuffer_Release(&view);
    return result;
}

// A raw file: `header_size` bytes to skip, then the pixels, rows first, and nothing missing.
PyObject* load_raw(PyObject* path, int width, int height, int format, int header_size) {
    frame::Ref name = file_path("path", path);
    if (!name || !size_allowed(width, height)) return nullptr;
    Layout layout;
    if (!layout_of(format, layout)) return PyErr_Format(PyExc_ValueError, bad_format, format);
    if (header_size < 0) return PyErr_Format(PyExc_ValueError, "header_size must not be negative (got %d)", header_size);
    const char* file = PyBytes_AS_STRING(name.get());
    long long size = 0, pixels = static_cast<long long>(width) * height * layout.channels * layout.item_size;
    struct stat info;
    if (stat(file, &info) != 0 || !S_ISREG(info.st_mode)) return empty();
    size = info.st_size;
    if (size < header_size + pixels) return empty();
    unsigned char* data = read_file(file, header_size + pixels);
    if (!data) return empty();
    std::memmove(data, data + header_size, static_cast<std::size_t>(pixels));
    return take(::Image{data, width, height, 1, format});
}

// Pixels from any buffer of rows, columns and channels: copied, so the image owns them.
PyObject* from_buffer(PyObject* pixels, frame::Default<PyObject*, nullptr> format) {
    Py_buffer view;
    if (PyObject_GetBuffer(pixels, &view, PyBUF_RECORDS_RO) < 0) return nullptr;
    struct Release {
        Py_buffer* view;
        ~Release() { PyBuffer_Release(view); }
    } release{&view};
    if (view.ndim != 2 && !(view.ndim == 3 && view.shape[2] >= 1 && view.shape[2] <= 4))
        return PyErr_Format(PyExc_ValueError, bad_shape, view.ndim);
    int channels = view.ndim == 3 ? static_cast<int>(view.shape[2]) : 1;
    const char* item = view.format ? view.format : "B";
    if (*item == '<' || *item == '=' || *item == '@') ++item;
    // The formats an array of each item and channel count is, unless `format` picks another
    // format of the same layout (the 16-bit packed ones have no default).
    int chosen = 0;
    if (format.value && format.value != Py_None && !frame::to_int(format.value, chosen)) return nullptr;
    int found = 0;
    for (int f = PIXELFORMAT_UNCOMPRESSED_GRAYSCALE; f <= PIXELFORMAT_UNCOMPRESSED_R16G16B16A16; ++f) {
        Layout layout;
        layout_of(f, layout);
        if (std::strcmp(layout.format, item) != 0 || layout.channels != channels || layout.item_size != view.itemsize) continue;
        if (chosen ? f == chosen : *item != 'H') {
            found = f;
            break;
        }
    }
    if (!found && chosen) return PyErr_Format(PyExc_ValueError, format_mismatch, chosen, item, channels);
    if (!found) return PyErr_Format(PyExc_ValueError, bad_item, item, channels);
    if (!size_allowed(view.shape[1], view.shape[0])) return nullptr;
    void* data = std::malloc(static_cast<std::size_t>(view.len));
    if (!data) return PyErr_NoMemory();
    if (PyBuffer_ToContiguous(data, &view, view.len, 'C') < 0) {
        std::free(data);
        return nullptr;
    }
    return take(::Image{data, static_cast<int>(view.shape[1]), static_cast<int>(view.shape[0]), 1, found});
}

// ---------------------------------------------------------------------------------------------
// Copies and edits

PyObject* c_copy(I* self) {
    if (!self->_raw.data || self->_raw.width <= 0 || self->_raw.height <= 0) return empty();
    ::Image copied = ImageCopy(std::bit_cast<::Image>(self->_raw));
    if (!copied.data) return PyErr_NoMemory();
    return take(copied);
}

PyObject* copy(I* self, int /*flag*/) { return c_copy(self); }

// The image's pixels inside `area`, in whole pixels (a fraction of one counts as one).
bool clip(const I* self, const ::Rectangle& area, ::Rectangle& out) {
    double x0 = std::fmax(std::floor(area.x), 0.0), y0 = std::fmax(std::floor(area.y), 0.0);
    double x1 = std::fmin(std::ceil(static_cast<double>(area.x) + area.width), self->_raw.width);
    double y1 = std::fmin(std::ceil(static_cast<double>(area.y) + area.height), self->_raw.height);
    if (x1 <= x0 || y1 <= y0) {
        PyErr_SetString(PyExc_ValueError, outside);
        return false;
    }
    out = {static_cast<float>(x0), static_cast<float>(y0), static_cast<float>(x1 - x0), static_cast<float>(y1 - y0)};
    return true;
}

PyObject* crop(I* self, arguments::Area area) {
    ::Rectangle part;
    if (!editable(self) || !clip(self, area.value, part)) return nullptr;
    change(self, [&](::Image* raw) { ImageCrop(raw, part); });
    Py_RETURN_NONE;
}

PyObject* resize(I* self, int width, int height, frame::Default<int, 1> smooth) {
    if (!editable(self) || !size_allowed(width, height)) return nullptr;
    change(self, [&](::Image* raw) { (smooth.value ? ImageResize : ImageResizeNN)(raw, width, height); });
    Py_RETURN_NONE;
}

template <void (*Edit)(::Image*)>
PyObject* edit(I* self) {
    if (!editable(self)) return nullptr;
    change(self, [&](::Image* raw) { Edit(raw); });
    Py_RETURN_NONE;
}

// Quarter turns move pixels exactly. raylib interpolates each byte of a pixel on its own, which
// is right for 8-bit channels only, and leaves a blank edge even at quarter turns.
void turn_half(::Image* raw) {
    ImageFlipVertical(raw);
    ImageFlipHorizontal(raw);
}

PyObject* rotate(I* self, int degrees) {
    if (!editable(self)) return nullptr;
    degrees = (degrees % 360 + 360) % 360;
    static constexpr void (*quarters[])(::Image*) = {nullptr, ImageRotateCW, turn_half, ImageRotateCCW};
    if (degrees % 90 == 0) {
        if (degrees) change(self, quarters[degrees / 90]);
        Py_RETURN_NONE;
    }
    int format = self->_raw.format;
    if (format != PIXELFORMAT_UNCOMPRESSED_GRAYSCALE && format != PIXELFORMAT_UNCOMPRESSED_GRAY_ALPHA &&
        format != PIXELFORMAT_UNCOMPRESSED_R8G8B8 && format != PIXELFORMAT_UNCOMPRESSED_R8G8B8A8)
        return PyErr_Format(PyExc_ValueError, not_8bit, format);
    // The size raylib gives the turned image, in its float arithmetic.
    float angle = degrees * PI / 180.0f, s = std::fabs(std::sin(angle)), c = std::fabs(std::cos(angle));
    float w = static_cast<float>(self->_raw.width), h = static_cast<float>(self->_raw.height);
    if (!size_allowed(static_cast<long long>(w * c + h * s), static_cast<long long>(h * c + w * s))) return nullptr;
    change(self, [&](::Image* raw) { ImageRotate(raw, degrees); });
    Py_RETURN_NONE;
}

PyObject* convert(I* self, int format) {
    Layout layout;
    if (!layout_of(format, layout)) return PyErr_Format(PyExc_ValueError, bad_format, format);
    if (!editable(self)) return nullptr;
    change(self, [&](::Image* raw) { ImageFormat(raw, format); });
    Py_RETURN_NONE;
}

PyObject* from_channel(I* self, int channel, int /*flag*/) {
    if (!has_pixels(self)) return nullptr;
    Layout layout;
    if (!layout_of(self->_raw.format, layout) || self->_raw.mipmaps != 1)
        return PyErr_Format(PyExc_ValueError, not_editable, self->_raw.format, self->_raw.mipmaps);
    int most = channels_of[self->_raw.format] - 1;
    if (channel < 0 || channel > most) return PyErr_Format(PyExc_ValueError, bad_channel, most, self->_raw.format, channel);
    ::Image result = ImageFromChannel(std::bit_cast<::Image>(self->_raw), channel);
    if (!result.data) return PyErr_NoMemory();
    return take(result);
}

PyObject* py_from_channel(I* self, int channel) { return from_channel(self, channel, 1); }

PyObject* get_color(I* self, arguments::Point at) {
    if (!has_pixels(self)) return nullptr;
    Layout layout;
    if (!layout_of(self->_raw.format, layout)) return PyErr_Format(PyExc_BufferError, compressed, self->_raw.format);
    int x = static_cast<int>(std::floor(at.value.x)), y = static_cast<int>(std::floor(at.value.y));
    if (x < 0 || y < 0 || x >= self->_raw.width || y >= self->_raw.height)
        return PyErr_Format(PyExc_IndexError, bad_pixel, x, y, self->_raw.width, self->_raw.height);
    ::Color c = GetImageColor(std::bit_cast<::Image>(self->_raw), x, y);
    return Color::vtable->__pyx_new(c.r, c.g, c.b, c.a);
}

// ---------------------------------------------------------------------------------------------
// Native entries

PyObject* wrap(rl::Image raw, const ImageNewOptional* optional) {
    I* image = frame::allocate<I>(I::type);
    if (!image) return nullptr;
    image->_raw = raw;
    image->is_owner = optional && optional->n > 0 ? optional->is_owner : 1;
    return reinterpret_cast<PyObject*>(image);
}

PyObject* unload(I* self, int /*flag*/) {
    if (refuse_while_exported(self)) return nullptr;
    release_pixels(self);
    Py_RETURN_NONE;
}

// What the open window's frame holds so far, the right way up and in RGBA order, on whichever
// backend serves it. The window module imports this one, so its state is bound on first use.
PyObject* load_from_screen() {
    if (!display::state && display::bind() < 0) return nullptr;
    if (!display::require_frame()) return nullptr;
    display::rl().rlDrawRenderBatchActive();
    ::Image raw = display::rl().LoadImageFromScreen();
    if (!raw.data) return PyErr_NoMemory();
    return wrap(std::bit_cast<rl::Image>(raw), nullptr);
}

constexpr ImageTable table = {
    .__pyx_new = wrap,
    .c_load = load,
    .c_load_raw = load_raw,
    .c_load_anim = load_anim,
    .c_load_from_screen = load_from_screen,
    .c_copy = c_copy,
    .c_export = export_image,
    .unload = unload,
    .copy = copy,
    .from_channel = from_channel,
};

// ---------------------------------------------------------------------------------------------
// Python members

PyObject* py_unload(I* self) { return unload(self, 1); }

PyObject* py_copy(I* self) { return copy(self, 1); }

PyObject* py_export(I* self, PyObject* path) {
    if (!export_image(self, path)) return nullptr;
    Py_RETURN_NONE;
}

PyObject* py_load_raw(PyObject* path, int width, int height, int format, frame::Default<int, 0> header_size) {
    return load_raw(path, width, height, format, header_size.value);
}

PyMethodDef methods[] = {
    frame::method<"unload", py_unload>("Frees the pixel data if this image owns it."),
    frame::method<"export", py_export, "path">(
        "Writes the image to a file (str or path-like), encoded as its name's extension says: "
        ".png, .bmp, .tga, .jpg or .qoi. Raises OSError when the file cannot be written."),
    frame::method<"copy", py_copy>("A new image that owns a copy of the pixels."),
    frame::method<"crop", crop, "rect">("Keeps only the pixels inside `rect`."),
    frame::method<"resize", resize, "width", "height", "smooth=True">(
        "Scales the image to `width` x `height`: smoothly, or to the nearest pixel."),
    frame::method<"flip_vertical", edit<ImageFlipVertical>>("Turns the image upside down."),
    frame::method<"flip_horizontal", edit<ImageFlipHorizontal>>("Mirrors the image left to right."),
    frame::method<"rotate_cw", edit<ImageRotateCW>>("Turns the image a quarter clockwise."),
    frame::method<"rotate_ccw", edit<ImageRotateCCW>>("Turns the image a quarter counter-clockwise."),
    frame::method<"rotate", rotate, "degrees">(
        "Turns the image by whole degrees clockwise; the image grows to hold the turned picture, "
        "its corners transparent."),
    frame::method<"convert", convert, "format">("Converts the pixels to another uncompressed pixel format."),
    frame::method<"from_channel", py_from_channel, "channel">("One channel of the pixels as a grayscale image."),
    frame::method<"get_color", get_color, "position">("The Color of the pixel at `position`."),
    frame::method<"clear", clear, "color">("Fills the whole image with `color`."),
    frame::method<"draw_pixel", draw_pixel, "position", "color">("Sets one pixel."),
    frame::method<"draw_line", draw_line, "start", "end", "color", "thickness=1.0">(
        "Draws a line from `start` to `end`, `thickness` pixels wide."),
    frame::method<"draw_rect", draw_rect, "rect", "color">("Fills a rectangle."),
    frame::method<"draw_rect_lines", draw_rect_lines, "rect", "color", "thickness=1.0">(
        "Draws a rectangle's outline, `thickness` pixels wide, inside the rectangle."),
    frame::method<"draw_circle", draw_circle, "center", "radius", "color">("Fills a circle."),
    frame::method<"draw_circle_lines", draw_circle_lines, "center", "radius", "color">("Draws a circle's outline."),
    frame::method<"draw_triangle", draw_triangle, "a", "b", "c", "color">("Fills a triangle given in either winding."),
    frame::method<"draw_image", draw_image, "image", "source", "dest", "tint=None">(
        "Draws the `source` rectangle of `image` into the `dest` rectangle, scaled to fit and "
        "tinted (None: as it is)."),
    frame::method<"draw_text", draw_text, "text", "position", "size", "color", "spacing=None">(
        "Draws text in raylib's default font (needs an open window), as tavoro.draw.text does."),
    {},
};

PyMethodDef static_methods[] = {
    frame::static_method<I, "load", load, "path">(
        "Loads a PNG, BMP, GIF, QOI, JPEG or TGA file (str or path-like); check valid for success."),
    frame::static_method<I, "load_anim", py_load_anim, "path">(
        "(image, frames): a GIF's frames as one tall image, the first on top (any other file as "
        "load() gives it, one frame); check valid for success."),
    frame::static_method<I, "from_bytes", from_bytes, "data">(
        "Decodes a PNG, BMP, GIF, QOI or JPEG file held in memory (TGA, which has no magic, is not "
        "recognised); check valid for success."),
    frame::static_method<I, "load_raw", py_load_raw, "path", "width", "height", "format", "header_size=0">(
        "Loads pixels stored as they are, rows first, after `header_size` bytes; check valid."),
    frame::static_method<I, "from_buffer", from_buffer, "pixels", "format=None">(
        "An image of a copy of `pixels`: an array (or any buffer) of rows, columns and channels "
        "of uint8, float32 or float16, or uint16 with a packed `format`."),
    {},
};

template <int rl::Image::*Field>
PyObject* get_field(I* self, void*) { return PyLong_FromLong(self->_raw.*Field); }

PyObject* get_is_owner(I* self, void*) { return PyBool_FromLong(self->is_owner); }

PyObject* get_valid(I* self, void*) {
    return PyBool_FromLong(self->_raw.data && self->_raw.width > 0 && self->_raw.height > 0);
}

PyGetSetDef properties[] = {
    frame::readonly<"width", get_field<&rl::Image::width>>(nullptr, "The width in pixels."),
    frame::readonly<"height", get_field<&rl::Image::height>>(nullptr, "The height in pixels."),
    frame::readonly<"mipmaps", get_field<&rl::Image::mipmaps>>(nullptr, "The number of mipmap levels."),
    frame::readonly<"format", get_field<&rl::Image::format>>(nullptr, "The pixel format, as raylib numbers it."),
    frame::readonly<"is_owner", get_is_owner>(nullptr, "Whether this image frees its pixel data."),
    frame::readonly<"valid", get_valid>(nullptr, "Whether the image has pixels (a load that failed has none)."),
    {},
};

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(frame::allocate<I>(type));
}

// Image() is an empty image that owns nothing.
int tp_init(PyObject*, PyObject* args, PyObject* kwargs) {
    if (kwargs && PyDict_GET_SIZE(kwargs)) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        PyDict_Next(kwargs, &pos, &key, &value);
        frame::raise_unexpected_keyword("__init__", key);
    } else if (frame::bind_none("__init__", PyTuple_GET_SIZE(args), nullptr)) {
        return 0;
    }
    frame::traceback(I::type, "__init__");
    return -1;
}

void dealloc(PyObject* self) {
    release_pixels(as_image(self));
    Py_CLEAR(as_image(self)->keeper);
    Py_TYPE(self)->tp_free(self);
}

PyObject* repr(PyObject* self) {
    const rl::Image& raw = as_image(self)->_raw;
    return PyUnicode_FromFormat("Image(width=%d, height=%d, mipmaps=%d, format=%d)", raw.width,
                                raw.height, raw.mipmaps, raw.format);
}

// Final: an image's ownership rules are not for subclasses to change.
PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.image.image.Image", sizeof(I), Py_TPFLAGS_DEFAULT);
    t.tp_dealloc = dealloc;
    t.tp_doc = "An image; is_owner tells whether it frees its pixel data.";
    t.tp_repr = repr;
    t.tp_as_buffer = &buffer_procs;
    t.tp_methods = methods;
    t.tp_getset = properties;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

const frame::TypeDef types[] = {
    frame::type_def<I>(type, &table, static_methods,
                       "Pickling of struct members such as self._raw must be explicitly requested "
                       "with @auto_pickle(True)"),
};

const frame::SiblingDef siblings[] = {
    frame::sibling<Vector2>("tavoro.vector2.vector2", "Vector2"),
    frame::sibling<Rect>("tavoro.rect.rect", "Rect"),
    frame::sibling<Color>("tavoro.color.color", "Color"),
};

const frame::ModuleDef module = {
    .name = "image",
    .full_name = "tavoro.image.image",
    .source = "src/tavoro/image/image.cpp",
    .types = types,
    .siblings = siblings,
    .finish = [](PyObject*) { return arguments::bind() < 0 ? -1 : audio_device::bind_api(); },
};

}  // namespace

bool has_pixels(const I* self) {
    if (self->_raw.data && self->_raw.width > 0 && self->_raw.height > 0) return true;
    PyErr_SetString(PyExc_ValueError, no_pixels);
    return false;
}

bool editable(I* self, bool reallocates) {
    if (!has_pixels(self)) return false;
    if (!self->is_owner) {
        PyErr_SetString(PyExc_ValueError, not_own);
        return false;
    }
    Layout layout;
    if (!layout_of(self->_raw.format, layout) || self->_raw.mipmaps != 1) {
        PyErr_Format(PyExc_ValueError, not_editable, self->_raw.format, self->_raw.mipmaps);
        return false;
    }
    return !reallocates || !refuse_while_exported(self);
}

PyObject* take(::Image raw) {
    PyObject* image = wrap(std::bit_cast<rl::Image>(raw), nullptr);
    if (!image) std::free(raw.data);
    return image;
}

}  // namespace tavoro::image

TAVORO_MODULE(image, tavoro::image::module)
