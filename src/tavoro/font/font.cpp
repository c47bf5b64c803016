// tavoro.font.font: fonts made from TrueType and OpenType files at a size, and from BDF and
// BMFont files at their own, for a chosen set of code points; their glyphs as GlyphInfo objects; text measured, drawn into the window's frame
// or into an Image. The default font of the window is a Font too.
//
// A font lives on the CPU: its glyph images and the atlas they were cut from are made without a
// window. raylib renders glyphs with stb_truetype, which trusts every offset in the file (mutated
// fonts crash it in one load out of four), so the glyphs are rendered in a forked child that
// hands back only glyph records and pixels, within a budget; a child that crashes, overruns or
// takes more than ten seconds gives a font that is not valid. The atlas is then cut in this
// process from those checked pieces. BDF and BMFont files are read by the package itself
// (font_bdf.hpp, font_fnt.hpp), as raylib's readers of both trust the file. The atlas becomes a texture of the window when the font first draws into a frame, and
// again in a later window; a texture of a window that has closed is never released (closing
// freed it). The glyphs' Images are views of the font's pixels that keep the font alive. Code
// points missing from the font are drawn as its '?' (raylib's fallback glyph).
#include "../audio_device/audio_device.hpp"
#include "../glyph_info/glyph_info.hpp"
#include "../image/image_file.hpp"
#include "../shared/arguments.hpp"
#include "../shared/display.hpp"
#include "../shared/file_path.hpp"
#include "../shared/siblings.hpp"
#include "../shared/text.hpp"
#include "font_bdf.hpp"
#include "font_fnt.hpp"

#include <raylib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// Present only in a process built with the sanitizers.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace tavoro {
namespace {

constexpr const char* bad_size = "size must be from 1 to 512 (got %d)";
constexpr const char* bad_codepoint = "code points must be from 32 to 0x10FFFF (got %ld)";
constexpr const char* too_many = "the font would be %lld glyphs of %d pixels: at most 2**26 pixels in all";
constexpr const char* not_codepoints = "codepoints must be a str or a sequence of ints, not %.200s";
constexpr const char* not_loaded = "the font is not loaded";
constexpr const char* text_too_large = "the text would be %lld x %lld pixels: at most 16384 a side and 2**26 in all";
constexpr const char* what = "font";
constexpr int most_size = 512;
constexpr long long most_file = 64LL << 20;

struct Font {
    PyObject_HEAD
    const void* table;
    ::Font raw;                // raw.texture is the atlas's texture in window `generation`
    rl::Image atlas;           // the glyphs' pixels, from which the texture is made
    unsigned long generation;  // the window raw.texture belongs to; 0: none yet
    bool owner;                // false for the window's default font, which raylib owns
    bool lent;                 // glyph images have been handed out: they may outlive unload()
    bool unloaded;             // unload() was called; the pixels wait for the last glyph image

    using Table = void;
    static inline PyTypeObject* type = nullptr;
    static inline const void* vtable = nullptr;
    static constexpr bool final = true;
};
using F = Font;

bool loaded(const F* self) { return !self->unloaded && self->raw.glyphs && self->raw.glyphCount > 0; }

// ---------------------------------------------------------------------------------------------
// raylib

namespace gpu {

// What the child hands back: the glyph count, then per glyph its record (value, offsets,
// advance, width, height) and its grey pixels.
struct Handover {
    int glyphs;
    std::size_t used;
};

// The bytes after the header.
unsigned char* payload(Handover* block) { return reinterpret_cast<unsigned char*>(block + 1); }
const unsigned char* payload(const Handover* block) { return reinterpret_cast<const unsigned char*>(block + 1); }

constexpr int record_ints = 6;

// Renders the glyphs in a child into `block` (of `capacity` bytes after the header); whether it
// finished within the budget.
bool render_in_child(Handover* block, std::size_t capacity, const unsigned char* data, int size, int font_size,
                     int* codepoints, int count) {
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        // The interpreter's handlers (signal.signal, faulthandler) are inherited: a crash or the
        // alarm must end the child, not run them.
        sigset_t signals;
        sigemptyset(&signals);
        for (int number : {SIGALRM, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
            signal(number, SIG_DFL);
            sigaddset(&signals, number);
        }
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        // Under the sanitizers, a crash of the decoder here is the sandbox doing its work, not a
        // fault of the process that reads the report.
        if (__sanitizer_set_report_fd) {
            int nowhere = open("/dev/null", O_WRONLY);
            if (nowhere >= 0) __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(nowhere)));
        }
        alarm(10);
        int glyph_count = 0;
        ::GlyphInfo* glyphs = LoadFontData(data, size, font_size, codepoints, count, FONT_DEFAULT, &glyph_count);
        if (!glyphs) _exit(1);
        std::size_t used = 0;
        for (int i = 0; i < glyph_count; ++i) {
            const ::GlyphInfo& g = glyphs[i];
            long long pixels = g.image.data ? static_cast<long long>(g.image.width) * g.image.height : 0;
            if (g.image.width < 0 || g.image.height < 0 || (pixels && g.image.format != PIXELFORMAT_UNCOMPRESSED_GRAYSCALE))
                _exit(2);
            std::size_t need = record_ints * sizeof(int) + static_cast<std::size_t>(pixels);
            if (used + need > capacity) _exit(3);
            int record[record_ints] = {g.value, g.offsetX, g.offsetY, g.advanceX, pixels ? g.image.width : 0,
                                       pixels ? g.image.height : 0};
            std::memcpy(payload(block) + used, record, sizeof record);
            if (pixels) std::memcpy(payload(block) + used + sizeof record, g.image.data, static_cast<std::size_t>(pixels));
            used += need;
        }
        block->glyphs = glyph_count;
        block->used = used;
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The glyphs the child rendered, each image a copy of its pixels; null when the hand-over does not
// add up or a glyph is larger than any rendering at the size makes.
::GlyphInfo* take_glyphs(const Handover* block, std::size_t capacity, int font_size, int* count) {
    if (block->glyphs <= 0 || block->used > capacity) return nullptr;
    auto* glyphs = static_cast<::GlyphInfo*>(std::calloc(static_cast<std::size_t>(block->glyphs), sizeof(::GlyphInfo)));
    if (!glyphs) return nullptr;
    std::size_t at = 0;
    for (int i = 0; i < block->glyphs; ++i) {
        int r[record_ints];
        bool fits = at + sizeof r <= block->used;
        if (fits) std::memcpy(r, payload(block) + at, sizeof r);
        std::size_t pixels = fits ? static_cast<std::size_t>(r[4]) * static_cast<std::size_t>(r[5]) : 0;
        if (!fits || r[4] > 8 * font_size || r[5] > 8 * font_size || at + sizeof r + pixels > block->used) {
            UnloadFontData(glyphs, i);
            return nullptr;
        }
        glyphs[i] = {r[0], r[1], r[2], r[3], {nullptr, r[4], r[5], 1, PIXELFORMAT_UNCOMPRESSED_GRAYSCALE}};
        if (pixels) {
            glyphs[i].image.data = std::malloc(pixels);
            if (!glyphs[i].image.data) {
                UnloadFontData(glyphs, i);
                return nullptr;
            }
            std::memcpy(glyphs[i].image.data, payload(block) + at + sizeof r, pixels);
        }
        at += sizeof r + pixels;
    }
    *count = block->glyphs;
    return glyphs;
}

bool cut_atlas(F* self);

// The glyphs and their atlas, on the CPU; false when the data does not decode.
bool load(F* self, const unsigned char* data, int size, int font_size, int* codepoints, int count) {
    std::size_t capacity = static_cast<std::size_t>(count) * (record_ints * sizeof(int) + 64ull * font_size * font_size);
    if (capacity > static_cast<std::size_t>(image_file::most_pixels)) capacity = static_cast<std::size_t>(image_file::most_pixels);
    std::size_t length = sizeof(Handover) + capacity;
    void* shared = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) return false;
    auto* block = static_cast<Handover*>(shared);
    ::Font& f = self->raw;
    if (render_in_child(block, capacity, data, size, font_size, codepoints, count))
        f.glyphs = take_glyphs(block, capacity, font_size, &f.glyphCount);
    munmap(shared, length);
    if (!f.glyphs) return false;
    f.baseSize = font_size;
    return cut_atlas(self);
}

// The glyphs' Python images and their drawing read the atlas, cut here from `raw.glyphs`.
bool cut_atlas(F* self) {
    ::Font& f = self->raw;
    f.glyphPadding = 4;
    ::Image atlas = GenImageFontAtlas(f.glyphs, &f.recs, f.glyphCount, f.baseSize, f.glyphPadding, 0);
    // The glyph images become pieces of the atlas, in its format, as raylib's loader makes them.
    for (int i = 0; i < f.glyphCount; ++i) {
        UnloadImage(f.glyphs[i].image);
        f.glyphs[i].image = ImageFromImage(atlas, f.recs[i]);
    }
    self->atlas = std::bit_cast<rl::Image>(atlas);
    return atlas.data != nullptr;
}

void release_texture(F* self) {
    if (self->generation && display::alive(self->generation)) display::rl().UnloadTexture(self->raw.texture);
    self->generation = 0;
}

void release(F* self) {
    release_texture(self);
    UnloadFontData(self->raw.glyphs, self->raw.glyphCount);
    std::free(self->raw.recs);
    std::free(self->atlas.data);
}

void make_texture(F* self) {
    self->raw.texture = display::rl().LoadTextureFromImage(std::bit_cast<::Image>(self->atlas));
    self->generation = display::state->generation;
}

::Font the_default() { return display::rl().GetFontDefault(); }

// raylib's measuring (and so its CPU text drawing) refuses a font without a texture, though it
// reads only the glyphs: on the CPU the font goes with a texture id that nothing uses.
::Font on_cpu(const F* self) {
    ::Font font = self->raw;
    if (!font.texture.id) font.texture.id = ~0u;
    return font;
}

::Vector2 measure(const F* self, const char* text, float size, float spacing) {
    return MeasureTextEx(on_cpu(self), text, size, spacing);
}

void draw(const F* self, const char* text, ::Vector2 at, float size, float spacing, ::Color color) {
    display::rl().DrawTextEx(self->raw, text, at, size, spacing, color);
}

void draw_into(const F* self, Image* image, const char* text, ::Vector2 at, float size, float spacing, ::Color color) {
    ::Image raw = std::bit_cast<::Image>(image->_raw);
    ImageDrawTextEx(&raw, on_cpu(self), text, at, size, spacing, color);
    image->_raw = std::bit_cast<rl::Image>(raw);
}

}  // namespace gpu

// ---------------------------------------------------------------------------------------------
// Loading

// The code points asked for: a str's characters or a sequence of ints; none given is printable
// ASCII, as raylib's default.
bool read_codepoints(PyObject* given, std::vector<int>& out) {
    if (!given || given == Py_None) {
        for (int c = 32; c < 127; ++c) out.push_back(c);
        return true;
    }
    if (PyUnicode_Check(given)) {
        Py_ssize_t n = PyUnicode_GET_LENGTH(given);
        for (Py_ssize_t i = 0; i < n; ++i) out.push_back(static_cast<int>(PyUnicode_READ_CHAR(given, i)));
    } else {
        if (!PySequence_Check(given)) {
            PyErr_Format(PyExc_TypeError, not_codepoints, Py_TYPE(given)->tp_name);
            return false;
        }
        frame::Ref items(PySequence_Fast(given, "codepoints must be a sequence"));
        if (!items) return false;
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
            long c = PyLong_AsLong(PySequence_Fast_GET_ITEM(items.get(), i));
            if (c == -1 && PyErr_Occurred()) return false;
            if (c < 32 || c > 0x10FFFF) {
                PyErr_Format(PyExc_ValueError, bad_codepoint, c);
                return false;
            }
            out.push_back(static_cast<int>(c));
        }
    }
    for (int c : out)
        if (c < 32) return PyErr_Format(PyExc_ValueError, bad_codepoint, static_cast<long>(c)), false;
    return true;
}

// TrueType, OpenType (CFF outlines) and Apple's TrueType tag.
bool font_data(const unsigned char* data, std::size_t size) {
    return size >= 12 && (std::memcmp(data, "\0\1\0\0", 4) == 0 || std::memcmp(data, "OTTO", 4) == 0 ||
                          std::memcmp(data, "true", 4) == 0);
}

// A page's coverage, a byte a pixel: a grey page's own values, else its alpha (raylib's reader
// takes grey pages as a mask too).
std::vector<unsigned char> coverage(const ::Image& page) {
    std::vector<unsigned char> out(static_cast<std::size_t>(page.width) * static_cast<std::size_t>(page.height));
    if (page.format == PIXELFORMAT_UNCOMPRESSED_GRAYSCALE) {
        std::memcpy(out.data(), page.data, out.size());
        return out;
    }
    ::Image rgba = ImageCopy(page);
    ImageFormat(&rgba, PIXELFORMAT_UNCOMPRESSED_R8G8B8A8);
    if (!rgba.data) return {};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<const unsigned char*>(rgba.data)[4 * i + 3];
    UnloadImage(rgba);
    return out;
}

// The glyphs asked for of a BMFont page, cut from its image, loaded as Image.load loads one;
// false when the image does not load or a glyph's box leaves it.
bool cut_page(const std::string& path, const fnt::Font& read, int page, const std::vector<int>& wanted,
              std::vector<::GlyphInfo>& kept) {
    frame::Ref name(PyBytes_FromStringAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
    frame::Ref image(name ? Image::vtable->c_load(name.get()) : nullptr);
    if (!image) return PyErr_Clear(), false;
    ::Image raw = std::bit_cast<::Image>(reinterpret_cast<Image*>(image.get())->_raw);
    std::vector<unsigned char> mask = raw.data ? coverage(raw) : std::vector<unsigned char>{};
    if (mask.empty()) return false;
    long long pixels = 0;
    for (const auto& g : kept) pixels += static_cast<long long>(g.image.width) * g.image.height;
    for (const fnt::Glyph& g : read.glyphs) {
        if (g.page != page || !glyphs::wanted(wanted, kept, g.id)) continue;
        pixels += static_cast<long long>(g.width) * g.height;
        if (g.x + g.width > raw.width || g.y + g.height > raw.height || pixels > glyphs::most_pixels ||
            !glyphs::add(kept, g.id, g.x_offset, g.y_offset, g.advance, g.width, g.height))
            return false;
        auto* out = static_cast<unsigned char*>(kept.back().image.data);
        for (int y = 0; out && y < g.height; ++y)
            std::memcpy(out + y * g.width, mask.data() + static_cast<std::size_t>(g.y + y) * raw.width + g.x,
                        static_cast<std::size_t>(g.width));
    }
    return true;
}

// A BMFont's glyphs, from pages that must lie in the font file's own folder.
bool from_bmfont(F* self, const char* file, std::string_view text, const std::vector<int>& wanted) {
    fnt::Font read = fnt::read(text);
    if (!read.line_height) return false;
    const char* slash = std::strrchr(file, '/');
    std::string folder = slash ? std::string(file, static_cast<std::size_t>(slash - file + 1)) : std::string();
    std::vector<::GlyphInfo> kept;
    for (std::size_t page = 0; page < read.pages.size(); ++page)
        if (!cut_page(folder + read.pages[page], read, static_cast<int>(page), wanted, kept)) {
            glyphs::release(kept);
            return false;
        }
    self->raw.glyphCount = static_cast<int>(kept.size());
    self->raw.glyphs = glyphs::hand_over(kept);
    self->raw.baseSize = read.line_height;
    return self->raw.glyphs && gpu::cut_atlas(self);
}

// The glyphs and atlas of a whole file's bytes; false when they do not decode, with what was
// made left for release(). BDF and BMFont are read here; TrueType is rendered by raylib in a child.
bool decode(F* self, const char* file, std::vector<unsigned char>& data, int size, std::vector<int>& wanted) {
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    if (strcasecmp(file_extension(file), ".fnt") == 0) return from_bmfont(self, file, text, wanted);
    if (strcasecmp(file_extension(file), ".bdf") == 0) {
        bdf::Font read = bdf::read(text, wanted);
        self->raw.glyphs = read.glyphs;
        self->raw.glyphCount = read.count;
        self->raw.baseSize = read.size;
        return read.glyphs && gpu::cut_atlas(self);
    }
    return font_data(data.data(), data.size()) &&
           gpu::load(self, data.data(), static_cast<int>(data.size()), size, wanted.data(), static_cast<int>(wanted.size()));
}

PyObject* make(F* self) {
    audio_device::api.hand_over_log();
    return reinterpret_cast<PyObject*>(self);
}

PyObject* load(PyObject* path, frame::Default<int, 32> size, frame::Default<PyObject*, nullptr> codepoints) {
    frame::Ref name = file_path("path", path);
    if (!name) return nullptr;
    if (size.value < 1 || size.value > most_size) return PyErr_Format(PyExc_ValueError, bad_size, size.value);
    std::vector<int> wanted;
    if (!read_codepoints(codepoints.value, wanted)) return nullptr;
    // Each glyph is rendered at the size, and the atlas holds them all.
    long long pixels = static_cast<long long>(size.value) * size.value * static_cast<long long>(wanted.size());
    if (pixels > image_file::most_pixels)
        return PyErr_Format(PyExc_ValueError, too_many, static_cast<long long>(wanted.size()), size.value);
    F* self = frame::allocate<F>(F::type);
    if (!self) return nullptr;
    self->owner = true;
    const char* file = PyBytes_AS_STRING(name.get());
    long long length = 0;
    if (!checked_file(file, {".ttf", ".otf", ".bdf", ".fnt"}, &length) || length > most_file) return make(self);
    std::FILE* stream = std::fopen(file, "rb");
    if (!stream) return make(self);
    std::vector<unsigned char> data(static_cast<std::size_t>(length));
    bool whole = std::fread(data.data(), 1, data.size(), stream) == data.size();
    std::fclose(stream);
    if (whole && !decode(self, file, data, size.value, wanted)) {
        gpu::release(self);
        self->raw = {};
        self->atlas = {};
    }
    return make(self);
}

// The window's default font, raylib's own: usable while that window is open.
PyObject* default_font() {
    if (!display::require_window()) return nullptr;
    F* self = frame::allocate<F>(F::type);
    if (!self) return nullptr;
    self->raw = gpu::the_default();
    self->generation = display::state->generation;
    return reinterpret_cast<PyObject*>(self);
}

// ---------------------------------------------------------------------------------------------
// Text

bool usable(const F* self) {
    if (!loaded(self)) return PyErr_SetString(PyExc_ValueError, not_loaded), false;
    return self->owner || display::require_own_window(self->generation, what, false);
}

PyObject* measure_text(F* self, PyObject* text, arguments::Length size, frame::Default<arguments::Number, 0.0f> spacing) {
    const char* chars = text::utf8(text);
    if (!chars || !usable(self)) return nullptr;
    ::Vector2 extent = gpu::measure(self, chars, size.value, spacing.value.value);
    return Vector2::vtable->cfrom_floats(extent.x, extent.y);
}

// Into the frame, or into `image` on the CPU, where raylib first renders the text at the font's
// size and at the size asked for: both are bounded.
PyObject* draw_text(F* self, PyObject* text, arguments::Point position, arguments::Length size, arguments::Paint color,
                    frame::Default<arguments::Number, 0.0f> spacing, frame::Default<PyObject*, nullptr> image) {
    const char* chars = text::utf8(text);
    if (!chars || !usable(self)) return nullptr;
    float gap = spacing.value.value;
    if (image.value && image.value != Py_None) {
        if (!frame::is_exact<Image>(image.value)) return PyErr_Format(PyExc_TypeError, "image must be an Image, not %.200s", Py_TYPE(image.value)->tp_name);
        auto* target = reinterpret_cast<Image*>(image.value);
        if (!target->_raw.data || !target->is_owner || target->_raw.mipmaps != 1 ||
            target->_raw.format < PIXELFORMAT_UNCOMPRESSED_GRAYSCALE || target->_raw.format > PIXELFORMAT_UNCOMPRESSED_R16G16B16A16)
            return PyErr_SetString(PyExc_ValueError, "the image must own uncompressed pixels to be drawn into"), nullptr;
        for (float at : {static_cast<float>(self->raw.baseSize), size.value}) {
            ::Vector2 extent = gpu::measure(self, chars, at, gap);
            auto w = static_cast<long long>(extent.x), h = static_cast<long long>(extent.y);
            if (!image_file::within_limits(w, h))
                return PyErr_Format(PyExc_ValueError, text_too_large, w, h);
        }
        gpu::draw_into(self, target, chars, position.value, size.value, gap, color.value);
        Py_RETURN_NONE;
    }
    if (!display::require_frame()) return nullptr;
    if (self->owner && self->generation != display::state->generation) gpu::make_texture(self);
    gpu::draw(self, chars, position.value, size.value, gap, color.value);
    Py_RETURN_NONE;
}

// The glyphs as GlyphInfo objects, made on each call: their Images keep the font alive, so a
// font that kept them would keep itself.
PyObject* get_glyphs(F* self, void*) {
    if (!loaded(self)) return PyTuple_New(0);
    if (!self->owner && !usable(self)) return nullptr;
    frame::Ref glyphs(PyTuple_New(self->raw.glyphCount));
    if (!glyphs) return nullptr;
    for (int i = 0; i < self->raw.glyphCount; ++i) {
        PyObject* glyph = GlyphInfo::vtable->__pyx_new(std::bit_cast<rl::GlyphInfo>(self->raw.glyphs[i]));
        if (!glyph) return nullptr;
        PyTuple_SET_ITEM(glyphs.get(), i, glyph);
        auto* view = reinterpret_cast<GlyphInfo*>(glyph)->_image;
        if (view != Py_None) reinterpret_cast<Image*>(view)->keeper = Py_NewRef(reinterpret_cast<PyObject*>(self));
    }
    self->lent = true;
    return glyphs.release();
}

// The glyph drawn for `codepoint`: its own, or the fallback when the font lacks it.
int glyph_index(const F* self, int codepoint) { return GetGlyphIndex(self->raw, codepoint); }

PyObject* glyph_image(F* self, int codepoint) {
    if (!usable(self)) return nullptr;
    const ImageNewOptional not_owner = {.n = 1, .is_owner = 0};
    rl::Image pixels = std::bit_cast<rl::Image>(self->raw.glyphs[glyph_index(self, codepoint)].image);
    PyObject* view = Image::vtable->__pyx_new(pixels, &not_owner);
    if (view) reinterpret_cast<Image*>(view)->keeper = Py_NewRef(reinterpret_cast<PyObject*>(self));
    self->lent = true;
    return view;
}

PyObject* glyph_metrics(F* self, int codepoint) {
    if (!usable(self)) return nullptr;
    const ::GlyphInfo& g = self->raw.glyphs[glyph_index(self, codepoint)];
    return Py_BuildValue("(iiii)", g.value, g.offsetX, g.offsetY, g.advanceX);
}

// The glyph images handed out keep the font object, and with it its pixels, until they go: then
// only the texture is released here, and the pixels when the font is destroyed.
PyObject* unload(F* self) {
    if (!self->owner) {
        self->raw = {};
        self->generation = 0;
    } else if (self->lent) {
        gpu::release_texture(self);
        self->unloaded = true;
    } else if (!self->unloaded) {
        gpu::release(self);
        self->raw = {};
        self->atlas = {};
        self->unloaded = true;
    }
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------------------------
// Python members

PyObject* get_size(F* self, void*) { return PyLong_FromLong(self->raw.baseSize); }
PyObject* get_valid(F* self, void*) {
    return PyBool_FromLong(loaded(self) && (self->owner || self->generation == display::state->generation));
}

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(frame::allocate<F>(type));
}

int tp_init(PyObject*, PyObject* args, PyObject* kwargs) {
    if (frame::bind_none("__init__", PyTuple_GET_SIZE(args), nullptr) && !(kwargs && PyDict_GET_SIZE(kwargs)))
        return 0;
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "Font() takes no arguments");
    frame::traceback(F::type, "__init__");
    return -1;
}

void dealloc(PyObject* object) {
    F* self = reinterpret_cast<F*>(object);
    if (self->owner && self->raw.glyphs) gpu::release(self);
    Py_TYPE(object)->tp_free(object);
}

PyObject* repr(PyObject* object) {
    F* self = reinterpret_cast<F*>(object);
    if (!loaded(self)) return PyUnicode_FromString("<Font unloaded>");
    return PyUnicode_FromFormat("<Font %s%d px, %d glyphs>", self->owner ? "" : "default, ", self->raw.baseSize,
                                self->raw.glyphCount);
}

PyMethodDef methods[] = {
    frame::method<"measure_text", measure_text, "text", "size", "spacing=0.0">(
        "The size draw_text would give the text, as a Vector2."),
    frame::method<"draw_text", draw_text, "text", "position", "size", "color", "spacing=0.0", "image=None">(
        "Draws UTF-8 text with its top-left corner at `position`, `size` pixels high, `spacing` "
        "pixels between letters: into the frame, or into `image`."),
    frame::method<"glyph_image", glyph_image, "codepoint">(
        "The image of the glyph drawn for `codepoint` (the fallback glyph when the font lacks it): "
        "a read-only view of the font's pixels, which keeps the font alive."),
    frame::method<"glyph_metrics", glyph_metrics, "codepoint">(
        "(value, offset_x, offset_y, advance_x) of the glyph drawn for `codepoint`."),
    frame::method<"unload", unload>("Releases the font; its glyphs' images keep their pixels until they go."),
    {},
};

PyMethodDef static_methods[] = {
    frame::static_method<F, "load", load, "path", "size=32", "codepoints=None">(
        "A font from a .ttf or .otf file, its glyphs rendered `size` pixels high, or from a .bdf "
        "or .fnt (BMFont text) file at its own size, for the code points given (a str or ints; None: printable "
        "ASCII); check valid for success."),
    frame::static_method<F, "default", default_font>("The window's default font (needs an open window)."),
    {},
};

PyGetSetDef properties[] = {
    frame::readonly<"size", get_size>(nullptr, "The size the glyphs were rendered at, in pixels."),
    frame::readonly<"valid", get_valid>(nullptr, "Whether the font is loaded (the default font: while its window is open)."),
    frame::readonly<"glyphs", get_glyphs>(nullptr, "The glyphs, as a tuple of GlyphInfo."),
    {},
};

PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.font.font.Font", sizeof(F), Py_TPFLAGS_DEFAULT);
    t.tp_dealloc = dealloc;
    t.tp_doc = "A font; made by Font.load or Font.default.";
    t.tp_repr = repr;
    t.tp_methods = methods;
    t.tp_getset = properties;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

const frame::TypeDef types[] = {
    frame::type_def<F>(type, nullptr, static_methods, "a font cannot be pickled"),
};

const frame::SiblingDef siblings[] = {
    frame::sibling<Vector2>("tavoro.vector2.vector2", "Vector2"),
    frame::sibling<Rect>("tavoro.rect.rect", "Rect"),
    frame::sibling<Color>("tavoro.color.color", "Color"),
    frame::sibling<Image>("tavoro.image.image", "Image"),
    frame::sibling<GlyphInfo>("tavoro.glyph_info.glyph_info", "GlyphInfo"),
};

const frame::ModuleDef module = {
    .name = "font",
    .full_name = "tavoro.font.font",
    .source = "src/tavoro/font/font.cpp",
    .types = types,
    .siblings = siblings,
    .finish =
        [](PyObject*) {
            if (display::bind() < 0 || arguments::bind() < 0) return -1;
            return audio_device::bind_api();
        },
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(font, tavoro::module)
