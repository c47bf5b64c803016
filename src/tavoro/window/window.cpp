// tavoro.window.window: the window raylib draws into, its frames and its screenshots. raylib has
// one window per process, so the open Window is the process's; its state (display.hpp) is what
// the drawing modules check before every call. A window opens on one of two raylib builds
// (backend.hpp): the linked headless one, which draws with its software renderer into memory, or
// the desktop one (GLFW, OpenGL), loaded from beside this module when a window first asks for it.
#include "window.hpp"

// raylib's log: its queue and its hand-over to Python's logging live in the device module.
#include "../audio_device/audio_device.hpp"

#include <rlgl.h>

#include <pthread.h>

#include <atomic>
#include <bit>
#include <string>

#include <cmath>
#include <ctime>

namespace tavoro {
namespace {

using W = Window;

constexpr const char* already_open =
    "a window is already open: raylib has one window per process, close it first";
constexpr const char* forked_open = "a window cannot be opened in a process forked while one was open";
constexpr const char* bad_size = "width and height must be from 1 to %d, at most %d pixels in all (got %d x %d)";
constexpr const char* not_opened = "the window could not be opened (see the tavoro.raylib log)";
constexpr const char* frame_open = "a frame is already begun: end it first";
constexpr const char* no_frame = "no frame is begun";
constexpr const char* bad_fps = "target_fps must be from 0 (unpaced) to 100000 (got %d)";
constexpr const char* embedded_nul = "%s must not contain NUL characters";
constexpr const char* closed_window = "the window is closed";
constexpr const char* bad_backend = "backend must be 'auto', 'headless' or 'desktop' (got %R)";
constexpr const char* no_display = "the desktop backend needs a display, and DISPLAY is not set";
constexpr const char* no_desktop = "this build has no desktop backend: %s";
constexpr const char* desktop_not_opened =
    "the desktop window could not be opened on DISPLAY %s (see the tavoro.raylib log)";
constexpr const char* bad_icon = "icon must be an Image of RGBA pixels (8 bits each), not format %d";

// raylib's software renderer keeps a colour and a depth buffer, and this platform a copy of each
// frame: about 12 bytes a pixel. 16384 on a side is the largest texture size GPUs commonly allow.
constexpr int largest_side = 16384;
constexpr int largest_area = 8192 * 8192;
constexpr int greatest_fps = 100000;

// The desktop build, beside this module in the package.
constexpr const char* desktop_library = "libraylib-desktop.so";

enum Backend : int { auto_backend, headless_backend, desktop_backend };
constexpr const char* backend_names[] = {"auto", "headless", "desktop"};

W* as_window(PyObject* object) { return reinterpret_cast<W*>(object); }

// The Window holding the open window (borrowed: it closes the window before it goes).
W* current = nullptr;

// The forking thread keeps its id in the child, so a frame begun there must not read as begun.
void note_forked_child() {
    if (!window::state.window_thread) return;
    window::state.inherited = true;
    window::state.frame_thread = 0;
}

bool raise_closed() {
    PyErr_SetString(PyExc_RuntimeError, closed_window);
    return false;
}

}  // namespace

bool window::usable(Window* self) {
    if (!self->open && !state.inherited) return raise_closed();
    return display::refuse(false);
}

namespace {

// ---------------------------------------------------------------------------------------------
// Opening and closing

bool check_size(int width, int height) {
    if (width >= 1 && height >= 1 && width <= largest_side && height <= largest_side &&
        static_cast<long long>(width) * height <= largest_area)
        return true;
    PyErr_Format(PyExc_ValueError, bad_size, largest_side, largest_area, width, height);
    return false;
}

// The UTF-8 of a str without NUL characters, as bytes (null with the exception set).
PyObject* c_text(PyObject* text, const char* name) {
    if (!PyUnicode_Check(text)) {
        frame::raise_expected("a str", text);
        return nullptr;
    }
    PyObject* bytes = PyUnicode_AsUTF8String(text);
    if (bytes && std::memchr(PyBytes_AS_STRING(bytes), 0, PyBytes_GET_SIZE(bytes))) {
        Py_DECREF(bytes);
        PyErr_Format(PyExc_ValueError, embedded_nul, name);
        return nullptr;
    }
    return bytes;
}

// raylib's threshold follows the effective level of the logger its lines go to, as the audio
// device's does when it opens, so that lines nobody would see are not even formatted.
int log_threshold() {
    frame::Ref logging(PyImport_ImportModule("logging"));
    frame::Ref logger(logging ? PyObject_CallMethod(logging.get(), "getLogger", "s", "tavoro.raylib") : nullptr);
    frame::Ref level(logger ? PyObject_CallMethod(logger.get(), "getEffectiveLevel", nullptr) : nullptr);
    long value = level ? PyLong_AsLong(level.get()) : 30;
    PyErr_Clear();
    return value <= 10 ? LOG_DEBUG : value <= 20 ? LOG_INFO : value <= 30 ? LOG_WARNING
         : value <= 40 ? LOG_ERROR : LOG_FATAL;
}

// ---------------------------------------------------------------------------------------------
// The desktop build: loaded once, privately (its names are the linked build's), and kept, since
// GLFW and the GL drivers it loads do not unload cleanly. A failure to load is kept as well.

backend::Api desktop_api{};
bool desktop_tried = false;
std::string desktop_error;

const backend::Api* load_desktop() {
    if (desktop_tried) return desktop_error.empty() ? &desktop_api : nullptr;
    desktop_tried = true;
    Dl_info self_info;
    if (!dladdr(reinterpret_cast<void*>(&load_desktop), &self_info) || !self_info.dli_fname) {
        desktop_error = "cannot find the window module's own file";
        return nullptr;
    }
    std::string path = self_info.dli_fname;
    path.replace(path.rfind('/') + 1, std::string::npos, desktop_library);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    const char* missing = nullptr;
    if (!handle) {
        desktop_error = dlerror();
    } else if (!backend::resolve(handle, desktop_api, missing)) {
        desktop_error = std::string(path) + " lacks " + missing;
    } else {
        desktop_api.SetTraceLogCallback(audio_device::receive_log);
    }
    return desktop_error.empty() ? &desktop_api : nullptr;
}

// The window system going away. Xlib ends the process on a protocol error (the window destroyed
// under the program) and on a broken connection (the X server gone); GLFW leaves both as they
// are. The handlers here record the loss and return instead: should_close reads True, and Xlib
// lets the calls on the lost display fail, so the window closes as ever.

std::atomic<bool> display_lost = false;

int on_x_error(void*, void*) {
    display_lost = true;
    return 0;
}

void on_io_exit(void*, void*) { display_lost = true; }

int on_io_error(void*) {
    display_lost = true;
    return 0;
}

// libX11 and libGLX (or libGL) are GLFW's, loaded once the window opened: the exit handler belongs
// to GLFW's display, which the window's current GL context names (exit handlers are libX11 1.7's).
void take_x_errors() {
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
    void* gl = dlopen("libGLX.so.0", RTLD_NOW | RTLD_NOLOAD);   // GLFW's first choice
    if (!gl) gl = dlopen("libGL.so.1", RTLD_NOW | RTLD_NOLOAD);
    using ErrorHandler = int (*)(void*, void*);
    using IOHandler = int (*)(void*);
    using IOExitHandler = void (*)(void*, void*);
    if (x11) {
        auto set_error = reinterpret_cast<ErrorHandler (*)(ErrorHandler)>(dlsym(x11, "XSetErrorHandler"));
        auto set_io = reinterpret_cast<IOHandler (*)(IOHandler)>(dlsym(x11, "XSetIOErrorHandler"));
        auto set_exit = reinterpret_cast<void (*)(void*, IOExitHandler, void*)>(
            dlsym(x11, "XSetIOErrorExitHandler"));
        auto current = gl ? reinterpret_cast<void* (*)()>(dlsym(gl, "glXGetCurrentDisplay")) : nullptr;
        if (set_error) set_error(on_x_error);
        if (set_io) set_io(on_io_error);
        if (void* x_display = current ? current() : nullptr; x_display && set_exit)
            set_exit(x_display, on_io_exit, nullptr);
    }
    // Both stay loaded: GLFW holds them.
    if (gl) dlclose(gl);
    if (x11) dlclose(x11);
}

// The one line that says where a window opened, on the `tavoro.window` logger.
void log_backend(const char* line) {
    frame::Ref logging(PyImport_ImportModule("logging"));
    frame::Ref logger(logging ? PyObject_CallMethod(logging.get(), "getLogger", "s", "tavoro.window") : nullptr);
    frame::Ref done(logger ? PyObject_CallMethod(logger.get(), "info", "s", line) : nullptr);
    if (!done) PyErr_WriteUnraisable(nullptr);
}

// Opens raylib's window on `api`; false (nothing else called on it) when it would not open.
bool init_on(const backend::Api& api, int width, int height, const char* title, unsigned flags) {
    api.SetTraceLogLevel(log_threshold());
    api.SetConfigFlags(flags);
    api.InitWindow(width, height, title);
    return api.IsWindowReady();
}

// Where the window opens: the desktop where a display is and the desktop build loads and opens,
// else headless (for `auto`); what was asked for, or RuntimeError (for the others). Null with the
// exception set; `line` says where and why.
const backend::Api* choose(W* self, int width, int height, Backend wanted, unsigned flags,
                           std::string& line) {
    const char* title = PyBytes_AS_STRING(self->title);
    if (wanted != headless_backend) {
        const char* display_name = std::getenv("DISPLAY");
        const backend::Api* desktop = nullptr;
        if (!display_name || !*display_name) {
            if (wanted == desktop_backend) return PyErr_SetString(PyExc_RuntimeError, no_display), nullptr;
            line = "window opened on the headless backend: no display (DISPLAY is not set)";
        } else if (!(desktop = load_desktop())) {
            if (wanted == desktop_backend)
                return PyErr_Format(PyExc_RuntimeError, no_desktop, desktop_error.c_str()), nullptr;
            line = "window opened on the headless backend: no desktop backend (" + desktop_error + ")";
        } else if (init_on(*desktop, width, height, title, flags)) {
            display_lost = false;
            take_x_errors();
            // raylib keeps the flags of earlier windows (setting them only adds): those not asked
            // for this time are cleared.
            desktop->ClearWindowState(unsigned{FLAG_WINDOW_RESIZABLE | FLAG_VSYNC_HINT} & ~flags);
            line = std::string("window opened on the desktop backend (GLFW, OpenGL; DISPLAY ") +
                   display_name + ")";
            return desktop;
        } else {
            audio_device::api.hand_over_log();
            if (wanted == desktop_backend)
                return PyErr_Format(PyExc_RuntimeError, desktop_not_opened, display_name), nullptr;
            line = std::string("window opened on the headless backend: the desktop window could "
                               "not be opened on DISPLAY ") + display_name;
        }
    } else {
        line = "window opened on the headless backend";
    }
    // Resizing, vsync and the rest are the desktop's: headless they are left at raylib's defaults.
    if (!init_on(backend::linked, width, height, title, 0)) {
        audio_device::api.hand_over_log();
        PyErr_SetString(PyExc_RuntimeError, not_opened);
        return nullptr;
    }
    return &backend::linked;
}

bool open_window(W* self, int width, int height, PyObject* title, Backend wanted, unsigned flags) {
    if (window::state.inherited) {
        PyErr_SetString(PyExc_RuntimeError, forked_open);
        return false;
    }
    if (current) {
        PyErr_SetString(PyExc_RuntimeError, already_open);
        return false;
    }
    if (!check_size(width, height)) return false;
    frame::Ref bytes(c_text(title, "title"));
    if (!bytes) return false;
    Py_XSETREF(self->title, bytes.release());
    std::string line;
    // The log's handlers run Python code: only once the bookkeeping below is done.
    const backend::Api* api = choose(self, width, height, wanted, flags, line);
    if (!api) return false;
    // Frames are paced here, with the interpreter lock released while they wait.
    api->SetTargetFPS(0);
    // Escape is a key like any other on both backends: the game decides what it does.
    api->SetExitKey(KEY_NULL);
    self->open = true;
    self->close_asked = false;
    self->width = width;
    self->height = height;
    self->last_frame_end = 0.0;
    self->frames_timed = 0;
    self->frame_time = 0.0;
    current = self;
    static unsigned long generations = 0;
    window::state = {.frame_thread = 0,
                     .window_thread = display::current_thread(),
                     .inherited = false,
                     .transformed = false,
                     .width = static_cast<float>(width),
                     .height = static_cast<float>(height),
                     .raylib = api,
                     .generation = ++generations};
    self->desktop = api != &backend::linked;
    audio_device::api.hand_over_log();
    log_backend(line.c_str());
    return true;
}

void close_window(W* self) {
    if (!self->open) return;
    self->open = false;
    window::stop_input(self);
    if (current == self) current = nullptr;
    // A forked child holds a copy of the parent's raylib: it is left alone.
    if (!window::state.inherited) {
        if (window::state.frame_thread) display::rl().EndDrawing();
        display::rl().CloseWindow();
        window::state = window::closed_state;
        audio_device::api.hand_over_log();
    }
}

// ---------------------------------------------------------------------------------------------
// Frames

PyObject* begin_frame(W* self) {
    if (!window::usable(self)) return nullptr;
    if (window::state.frame_thread) {
        PyErr_SetString(PyExc_RuntimeError, frame_open);
        return nullptr;
    }
    display::rl().BeginDrawing();
    window::state.frame_thread = display::current_thread();
    window::state.transformed = false;
    window::replay_frame(self);
    Py_RETURN_NONE;
}

// Sleeps until `until` (GetTime() seconds), letting other threads run meanwhile.
void wait_until(double until) {
    double left = until - display::rl().GetTime();
    if (left <= 0.0) return;
    Py_BEGIN_ALLOW_THREADS
    timespec pause{static_cast<time_t>(left), static_cast<long>((left - std::floor(left)) * 1e9)};
    nanosleep(&pause, nullptr);
    Py_END_ALLOW_THREADS
}

void time_frame(W* self) {
    double now = display::rl().GetTime();
    if (self->target_fps > 0 && self->last_frame_end > 0.0) {
        wait_until(self->last_frame_end + 1.0 / self->target_fps);
        now = display::rl().GetTime();
    }
    if (self->last_frame_end > 0.0) {
        self->frame_time = now - self->last_frame_end;
        self->frame_times[self->frames_timed++ % 32] = self->frame_time;
    }
    self->last_frame_end = now;
}

// The size the window system gave the window, for the window's reads and the drawing calls' culling.
void follow_size(W* self) {
    self->width = display::rl().GetScreenWidth();
    self->height = display::rl().GetScreenHeight();
    window::state.width = static_cast<float>(self->width);
    window::state.height = static_cast<float>(self->height);
}

PyObject* end_frame(W* self) {
    if (!window::usable(self)) return nullptr;
    if (window::state.frame_thread != display::current_thread()) {
        PyErr_SetString(PyExc_RuntimeError, no_frame);
        return nullptr;
    }
    if (window::state.transformed) display::rl().EndMode2D();
    window::record_frame(self);
    display::rl().EndDrawing();
    window::state.frame_thread = 0;
    window::state.transformed = false;
    if (self->desktop) {
        // The window system may have resized the window while the frame ended. Its close
        // request reads true for one frame in raylib: it is kept, as request_close()'s is.
        follow_size(self);
        self->close_asked = self->close_asked || display::rl().WindowShouldClose();
    }
    time_frame(self);
    Py_RETURN_NONE;
}

// frame() gives the window's one Frame object: `with window.frame():` begins and ends a frame.
struct Frame {
    PyObject_HEAD
    const void* table;
    W* window;

    using Table = void;
    static inline PyTypeObject* type = nullptr;
    static inline const void* vtable = nullptr;
    static constexpr bool final = true;
};


PyObject* frame_enter(Frame* self) {
    PyObject* result = begin_frame(self->window);
    if (!result) return nullptr;
    Py_DECREF(result);
    return Py_NewRef(reinterpret_cast<PyObject*>(self->window));
}

// Ends the frame whether or not an exception is passing through, and lets it pass.
PyObject* frame_exit(Frame* self, PyObject*, PyObject*, PyObject*) {
    if (!window::state.frame_thread) Py_RETURN_FALSE;
    PyObject* result = end_frame(self->window);
    if (!result) return nullptr;
    Py_DECREF(result);
    Py_RETURN_FALSE;
}

PyMethodDef frame_methods[] = {
    frame::method<"__enter__", frame_enter>("Begins the frame."),
    frame::method<"__exit__", frame_exit, "type", "value", "traceback">("Ends the frame."),
    {},
};

int frame_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<PyObject*>(reinterpret_cast<Frame*>(self)->window));
    return 0;
}

int frame_clear(PyObject* self) {
    Py_CLEAR(reinterpret_cast<Frame*>(self)->window);
    return 0;
}

void frame_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    frame_clear(self);
    Py_TYPE(self)->tp_free(self);
}

PyTypeObject frame_type = [] {
    PyTypeObject t = frame::static_type("tavoro.window.window.Frame", sizeof(Frame),
                                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC |
                                            Py_TPFLAGS_DISALLOW_INSTANTIATION);
    t.tp_doc = "A window's frame as a context manager: `with window.frame():`.";
    t.tp_dealloc = frame_dealloc;
    t.tp_traverse = frame_traverse;
    t.tp_clear = frame_clear;
    t.tp_methods = frame_methods;
    return t;
}();

PyObject* frame_scope(W* self) {
    if (!self->frame_scope) {
        Frame* scope = PyObject_GC_New(Frame, &frame_type);
        if (!scope) return nullptr;
        scope->table = nullptr;
        scope->window = reinterpret_cast<W*>(Py_NewRef(reinterpret_cast<PyObject*>(self)));
        PyObject_GC_Track(scope);
        self->frame_scope = reinterpret_cast<PyObject*>(scope);
    }
    return Py_NewRef(self->frame_scope);
}

// ---------------------------------------------------------------------------------------------
// Screenshots: what the frame holds so far, so they are taken inside one, where every backend
// has the pixels.

PyObject* screenshot(W* self) {
    if (!window::usable(self)) return nullptr;
    return Image::vtable->c_load_from_screen();
}

constexpr WindowTable table = {.screenshot = screenshot};

// ---------------------------------------------------------------------------------------------
// The display: the desktop's window system has it; headless, reads give fixed values (no
// resizing, vsync, fullscreen or hidden cursor; no monitor; one pixel a screen unit) and writes do
// nothing.

template <unsigned Flag>
PyObject* get_flag(W* self, void*) {
    if (!window::usable(self)) return nullptr;
    return PyBool_FromLong(self->desktop && display::rl().IsWindowState(Flag));
}

template <unsigned Flag>
bool set_flag(W* self, PyObject* value, void*) {
    if (!window::usable(self)) return false;
    int on = PyObject_IsTrue(value);
    if (on < 0) return false;
    if (self->desktop) (on ? display::rl().SetWindowState : display::rl().ClearWindowState)(Flag);
    return true;
}

PyObject* get_resized(W* self, void*) {
    if (!window::usable(self)) return nullptr;
    return PyBool_FromLong(self->desktop && display::rl().IsWindowResized());
}

PyObject* toggle_fullscreen(W* self) {
    if (!window::usable(self)) return nullptr;
    if (self->desktop) {
        display::rl().ToggleFullscreen();
        follow_size(self);
    }
    Py_RETURN_NONE;
}

PyObject* get_fullscreen(W* self, void*) {
    if (!window::usable(self)) return nullptr;
    return PyBool_FromLong(self->desktop && display::rl().IsWindowFullscreen());
}

PyObject* get_monitor_size(W* self, void*) {
    if (!window::usable(self)) return nullptr;
    if (!self->desktop) return Py_BuildValue("(ii)", 0, 0);
    int monitor = display::rl().GetCurrentMonitor();
    return Py_BuildValue("(ii)", display::rl().GetMonitorWidth(monitor),
                         display::rl().GetMonitorHeight(monitor));
}

PyObject* get_monitor_refresh_rate(W* self, void*) {
    if (!window::usable(self)) return nullptr;
    if (!self->desktop) return PyLong_FromLong(0);
    return PyLong_FromLong(display::rl().GetMonitorRefreshRate(display::rl().GetCurrentMonitor()));
}

PyObject* get_render_size(W* self, void*) {
    if (!window::usable(self)) return nullptr;
    if (!self->desktop) return Py_BuildValue("(ii)", self->width, self->height);
    return Py_BuildValue("(ii)", display::rl().GetRenderWidth(), display::rl().GetRenderHeight());
}

PyObject* get_dpi_scale(W* self, void*) {
    if (!window::usable(self)) return nullptr;
    ::Vector2 scale = self->desktop ? display::rl().GetWindowScaleDPI() : ::Vector2{1.0f, 1.0f};
    return Vector2::vtable->cfrom_floats(scale.x, scale.y);
}

PyObject* get_cursor_hidden(W* self, void*) {
    if (!window::usable(self)) return nullptr;
    return PyBool_FromLong(self->desktop && display::rl().IsCursorHidden());
}

bool set_cursor_hidden(W* self, PyObject* value, void*) {
    if (!window::usable(self)) return false;
    int hide = PyObject_IsTrue(value);
    if (hide < 0) return false;
    if (self->desktop) (hide ? display::rl().HideCursor : display::rl().ShowCursor)();
    return true;
}

// GLFW copies the pixels, so the image may go right after.
PyObject* set_icon(W* self, PyObject* icon) {
    if (!window::usable(self)) return nullptr;
    if (!PyObject_TypeCheck(icon, Image::type)) return frame::raise_expected("an Image", icon), nullptr;
    const rl::Image& raw = reinterpret_cast<Image*>(icon)->_raw;
    if (!raw.data || raw.format != PIXELFORMAT_UNCOMPRESSED_R8G8B8A8)
        return PyErr_Format(PyExc_ValueError, bad_icon, raw.data ? raw.format : 0);
    if (self->desktop) display::rl().SetWindowIcon(std::bit_cast<::Image>(raw));
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------------------------
// Python members

PyObject* close(W* self) {
    if (self->open && !window::state.inherited && !display::refuse(false)) return nullptr;
    close_window(self);
    Py_RETURN_NONE;
}

PyObject* enter(W* self) {
    if (!window::usable(self)) return nullptr;
    return Py_NewRef(reinterpret_cast<PyObject*>(self));
}

PyObject* exit(W* self, PyObject*, PyObject*, PyObject*) {
    close_window(self);
    Py_RETURN_FALSE;
}

PyObject* request_close(W* self) {
    if (!window::usable(self)) return nullptr;
    AutomationEvent event{.frame = 0, .type = 18 /* WINDOW_CLOSE */, .params = {}};
    display::rl().PlayAutomationEvent(event);
    self->close_asked = true;
    Py_RETURN_NONE;
}

PyObject* get_should_close(W* self, void*) {
    if (!window::usable(self)) return nullptr;
    return PyBool_FromLong(self->close_asked || (self->desktop && display_lost) ||
                           display::rl().WindowShouldClose());
}

PyObject* get_is_open(W* self, void*) { return PyBool_FromLong(self->open && !window::state.inherited); }

PyObject* get_in_frame(W* self, void*) {
    return PyBool_FromLong(self->open && window::state.frame_thread != 0);
}

PyObject* get_width(W* self, void*) { return PyLong_FromLong(self->width); }
PyObject* get_height(W* self, void*) { return PyLong_FromLong(self->height); }
PyObject* get_size(W* self, void*) { return Py_BuildValue("(ii)", self->width, self->height); }
PyObject* get_backend(W* self, void*) {
    return PyUnicode_FromString(backend_names[self->desktop ? desktop_backend : headless_backend]);
}

PyObject* get_title(W* self, void*) {
    if (!self->title) return Py_NewRef(frame::state.empty_str);
    return PyUnicode_FromStringAndSize(PyBytes_AS_STRING(self->title), PyBytes_GET_SIZE(self->title));
}

bool set_title(W* self, PyObject* value, void*) {
    if (!window::usable(self)) return false;
    frame::Ref bytes(c_text(value, "title"));
    if (!bytes) return false;
    Py_XSETREF(self->title, bytes.release());
    display::rl().SetWindowTitle(PyBytes_AS_STRING(self->title));
    return true;
}

PyObject* get_target_fps(W* self, void*) { return PyLong_FromLong(self->target_fps); }

bool set_target_fps(W* self, PyObject* value, void*) {
    int fps;
    if (!frame::to_int(value, fps)) return false;
    if (fps < 0 || fps > greatest_fps) {
        PyErr_Format(PyExc_ValueError, bad_fps, fps);
        return false;
    }
    self->target_fps = fps;
    return true;
}

PyObject* get_frame_time(W* self, void*) { return PyFloat_FromDouble(self->frame_time); }

PyObject* get_fps(W* self, void*) {
    int count = self->frames_timed < 32 ? self->frames_timed : 32;
    double total = 0.0;
    for (int i = 0; i < count; ++i) total += self->frame_times[i];
    return PyFloat_FromDouble(total > 0.0 ? count / total : 0.0);
}

PyObject* get_time(W* self, void*) {
    if (!window::usable(self)) return nullptr;
    return PyFloat_FromDouble(display::rl().GetTime());
}

PyMethodDef own_methods[] = {
    frame::method<"close", close>("Closes the window; closing it again does nothing."),
    frame::method<"__enter__", enter>("The window, closed when the block ends."),
    frame::method<"__exit__", exit, "type", "value", "traceback">("Closes the window."),
    frame::method<"frame", frame_scope>(
        "The frame as a context manager: `with window.frame():` begins a frame, and ends it when "
        "the block ends, also when an exception passes through."),
    frame::method<"begin_frame", begin_frame>("Begins a frame: drawing calls go into it."),
    frame::method<"end_frame", end_frame>(
        "Ends the frame: draws what it holds, reads input, and waits as target_fps asks."),
    frame::method<"screenshot", screenshot>(
        "The frame as it is so far, as an Image of RGBA pixels, top row first (inside a frame)."),
    frame::method<"request_close", request_close>("Makes should_close read True."),
    frame::method<"toggle_fullscreen", toggle_fullscreen>(
        "Switches between fullscreen and a window (on the desktop; headless it does nothing)."),
    frame::method<"set_icon", set_icon, "icon">(
        "Sets the window's icon from an Image of RGBA pixels (on the desktop; headless the image "
        "is checked, nothing else)."),
    // Input (input.cpp)
    frame::method<"is_key_down", window::is_key_down, "key">("Whether the key is held down."),
    frame::method<"is_key_up", window::is_key_up, "key">("Whether the key is up."),
    frame::method<"is_key_pressed", window::is_key_pressed, "key">(
        "Whether the key went down in this frame."),
    frame::method<"is_key_released", window::is_key_released, "key">(
        "Whether the key went up in this frame."),
    frame::method<"get_key_pressed", window::get_key_pressed>(
        "The next key pressed in this frame, from a queue, as an int; 0 when there is none."),
    frame::method<"get_char_pressed", window::get_char_pressed>(
        "The next character typed in this frame, from a queue; '' when there is none."),
    frame::method<"is_mouse_button_down", window::is_mouse_button_down, "button">(
        "Whether the mouse button is held down."),
    frame::method<"is_mouse_button_up", window::is_mouse_button_up, "button">(
        "Whether the mouse button is up."),
    frame::method<"is_mouse_button_pressed", window::is_mouse_button_pressed, "button">(
        "Whether the mouse button went down in this frame."),
    frame::method<"is_mouse_button_released", window::is_mouse_button_released, "button">(
        "Whether the mouse button went up in this frame."),
    frame::method<"is_gamepad_available", window::is_gamepad_available, "gamepad">(
        "Whether gamepad 0 to 3 is connected (as GLFW reports it; headless never)."),
    frame::method<"is_gamepad_button_down", window::is_gamepad_button_down, "gamepad", "button">(
        "Whether the gamepad's button (0 to 31, raylib's GamepadButton numbers) is held down."),
    frame::method<"gamepad_axis", window::gamepad_axis, "gamepad", "axis">(
        "The gamepad's axis (0 to 7) from -1.0 to 1.0; 0.0 for one that is not there."),
    frame::method<"press_key", window::press_key, "key">(
        "Scripted input: the key goes down when the next frame begins, as a keyboard's would."),
    frame::method<"release_key", window::release_key, "key">("Scripted input: the key goes up when the next frame begins."),
    frame::method<"type_text", window::type_text, "text">(
        "Scripted input: the characters of `text` are typed, for get_char_pressed() (16 a "
        "frame; the rest in the frames after)."),
    frame::method<"move_mouse", window::move_mouse, "position">(
        "Scripted input: the mouse moves to `position` (whole pixels) when the next frame begins."),
    frame::method<"press_mouse_button", window::press_mouse_button, "button">(
        "Scripted input: the mouse button goes down when the next frame begins."),
    frame::method<"release_mouse_button", window::release_mouse_button, "button">(
        "Scripted input: the mouse button goes up when the next frame begins."),
    frame::method<"scroll_mouse", window::scroll_mouse, "amount">(
        "Scripted input: the wheel moves by `amount` (whole steps) in the next frame."),
    frame::method<"start_recording", window::start_recording>(
        "Starts recording the input that each frame sees, from devices or scripted."),
    frame::method<"stop_recording", window::stop_recording, "path">(
        "Stops recording and writes the recording to the file `path`; returns how many events "
        "it holds."),
    frame::method<"replay", window::replay, "path">(
        "Replays a recording from the file `path`, one recorded frame per frame from the next "
        "frame on."),
    {},
};

PyGetSetDef own_properties[] = {
    frame::readonly<"should_close", get_should_close>(
        nullptr, "Whether the window was asked to close (by the window system or request_close())."),
    frame::readonly<"is_open", get_is_open>(nullptr, "Whether this window is open."),
    frame::readonly<"in_frame", get_in_frame>(nullptr, "Whether a frame is begun."),
    frame::readonly<"width", get_width>(nullptr, "The width in pixels."),
    frame::readonly<"height", get_height>(nullptr, "The height in pixels."),
    frame::readonly<"size", get_size>(nullptr, "(width, height) in pixels."),
    frame::readonly<"backend", get_backend>(
        nullptr, "The backend that draws: 'headless' (raylib's software renderer, in memory) or "
                 "'desktop' (a window of the window system, drawn with OpenGL)."),
    frame::property<"resizable", get_flag<FLAG_WINDOW_RESIZABLE>, set_flag<FLAG_WINDOW_RESIZABLE>>(
        nullptr, "Whether the user may resize the window (desktop; headless False)."),
    frame::property<"vsync", get_flag<FLAG_VSYNC_HINT>, set_flag<FLAG_VSYNC_HINT>>(
        nullptr, "Whether frames wait for the display's refresh (desktop; headless False)."),
    frame::readonly<"resized", get_resized>(
        nullptr, "Whether the window system resized the window as the last frame ended."),
    frame::readonly<"fullscreen", get_fullscreen>(nullptr, "Whether the window is fullscreen."),
    frame::readonly<"monitor_size", get_monitor_size>(
        nullptr, "(width, height) of the window's monitor in screen units; headless (0, 0)."),
    frame::readonly<"monitor_refresh_rate", get_monitor_refresh_rate>(
        nullptr, "The refresh rate of the window's monitor in Hz; headless 0."),
    frame::readonly<"render_size", get_render_size>(
        nullptr, "(width, height) of the framebuffer in pixels: size times dpi_scale."),
    frame::readonly<"dpi_scale", get_dpi_scale>(
        nullptr, "Pixels per screen unit on each axis, as a Vector2; headless (1, 1)."),
    frame::property<"cursor_hidden", get_cursor_hidden, set_cursor_hidden>(
        nullptr, "Whether the mouse cursor is hidden over the window (desktop; headless False)."),
    frame::property<"title", get_title, set_title>(nullptr, "The window's title."),
    frame::property<"target_fps", get_target_fps, set_target_fps>(
        nullptr, "Frames a second end_frame() paces to, waiting with the interpreter lock "
                 "released; 0 (the default) does not wait."),
    frame::readonly<"frame_time", get_frame_time>(nullptr, "Seconds between the last two frame ends."),
    frame::readonly<"fps", get_fps>(nullptr, "Frames a second over the last 32 frames."),
    frame::readonly<"time", get_time>(nullptr, "Seconds since the window opened."),
    frame::readonly<"mouse_position", window::get_mouse_position>(
        nullptr, "The mouse's position in the window, as a Vector2."),
    frame::readonly<"mouse_delta", window::get_mouse_delta>(
        nullptr, "How far the mouse moved since the last frame, as a Vector2."),
    frame::readonly<"mouse_wheel", window::get_mouse_wheel>(
        nullptr, "How far the wheel moved in this frame (the larger of its two axes)."),
    frame::readonly<"recording", window::get_recording>(nullptr, "Whether input is being recorded."),
    frame::readonly<"replaying", window::get_replaying>(nullptr, "Whether a recording is being replayed."),
    {},
};

bool backend_of(PyObject* name, Backend& out) {
    for (int kind : {auto_backend, headless_backend, desktop_backend}) {
        if (name && PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, backend_names[kind]) == 0) {
            out = static_cast<Backend>(kind);
            return true;
        }
    }
    PyErr_Format(PyExc_ValueError, bad_backend, name);
    return false;
}

// Window(width, height, title="tavoro", *, backend="auto", resizable=False, vsync=False) opens the
// window.
int tp_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"width", "height", "title", "backend", "resizable", "vsync", nullptr};
    int width, height, resizable = 0, vsync = 0;
    PyObject* title = nullptr;
    PyObject* backend_name = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "ii|U$Opp:Window", const_cast<char**>(names),
                                     &width, &height, &title, &backend_name, &resizable, &vsync))
        return -1;
    Backend wanted = auto_backend;
    if (backend_name && !backend_of(backend_name, wanted)) return -1;
    unsigned flags = (resizable ? unsigned{FLAG_WINDOW_RESIZABLE} : 0u) | (vsync ? unsigned{FLAG_VSYNC_HINT} : 0u);
    W* window = as_window(self);
    if (window->open) {
        PyErr_SetString(PyExc_RuntimeError, already_open);
        return -1;
    }
    frame::Ref default_title;
    if (!title) {
        default_title = frame::Ref(PyUnicode_FromString("tavoro"));
        if (!default_title) return -1;
        title = default_title.get();
    }
    if (!open_window(window, width, height, title, wanted, flags)) {
        frame::traceback(W::type, "__init__");
        return -1;
    }
    return 0;
}

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(frame::allocate<W>(type));
}

int traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_window(self)->frame_scope);
    return 0;
}

int clear(PyObject* self) {
    Py_CLEAR(as_window(self)->frame_scope);
    return 0;
}

void dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    W* window = as_window(self);
    close_window(window);
    clear(self);
    Py_CLEAR(window->title);
    Py_TYPE(self)->tp_free(self);
}

PyObject* repr(PyObject* self) {
    W* window = as_window(self);
    if (!window->open) return PyUnicode_FromString("<closed Window>");
    return PyUnicode_FromFormat("Window(%d, %d, %R, backend='%s')", window->width, window->height,
                                frame::Ref(get_title(window, nullptr)).get(),
                                backend_names[window->desktop ? desktop_backend : headless_backend]);
}

PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.window.window.Window", sizeof(W),
                                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC);
    t.tp_doc = "The window raylib draws into: Window(width, height, title='tavoro') opens it. "
               "A process has one window at a time.";
    t.tp_dealloc = dealloc;
    t.tp_traverse = traverse;
    t.tp_clear = clear;
    t.tp_repr = repr;
    t.tp_methods = own_methods;
    t.tp_getset = own_properties;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

int finish(PyObject* module) {
    if (pthread_atfork(nullptr, nullptr, note_forked_child) != 0) {
        PyErr_SetString(PyExc_OSError, "cannot register a fork handler");
        return -1;
    }
    frame::Ref capsule(PyCapsule_New(&window::state, display::state_signature, nullptr));
    if (!capsule) return -1;
    frame::Ref capi(PyObject_GetAttrString(module, "__pyx_capi__"));
    if (!capi) {
        PyErr_Clear();
        capi = frame::Ref(PyDict_New());
        if (!capi || PyModule_AddObjectRef(module, "__pyx_capi__", capi.get()) < 0) return -1;
    }
    if (PyDict_SetItemString(capi.get(), "state", capsule.get()) < 0) return -1;
    display::state = &window::state;
    if (audio_device::bind_api() < 0 || audio_device::bind_receiver() < 0) return -1;
    return window::add_enumerations(module);
}

const frame::TypeDef types[] = {
    frame::type_def<W>(type, &table),
    frame::type_def<Frame>(frame_type, nullptr),
};
const frame::SiblingDef siblings[] = {
    frame::sibling<Vector2>("tavoro.vector2.vector2", "Vector2"),
    frame::sibling<Image>("tavoro.image.image", "Image"),
};

const frame::ModuleDef module = {
    .name = "window",
    .full_name = "tavoro.window.window",
    .source = "src/tavoro/window/window.cpp",
    .types = types,
    .siblings = siblings,
    .finish = finish,
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(window, tavoro::module)
