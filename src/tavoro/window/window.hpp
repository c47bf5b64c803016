// Interface of tavoro.window.window inside its own folder: the Window record, which window.cpp
// (lifetime, frames, screenshots) and input.cpp (devices, scripted input, recordings) share.
#pragma once

#include "../shared/display.hpp"
#include "../shared/siblings.hpp"
#include "../vector2/vector2.hpp"

#include <raylib.h>

#include <vector>

namespace tavoro {

struct Window;

struct WindowTable {
    PyObject* (*screenshot)(Window* self);
};

// One input event of a recording, at a frame counted from the start of the recording.
struct InputEvent {
    int frame;
    int kind;  // an InputKind
    int a, b;
};

enum InputKind : int { key_down, key_up, button_down, button_up, mouse_move, wheel, typed };

struct Window {
    PyObject_HEAD
    const WindowTable* table;
    PyObject* title;         // the UTF-8 bytes raylib keeps a pointer to
    PyObject* frame_scope;   // the context manager frame() returns, made once
    int width, height;
    bool open;               // this object holds the process's window
    bool desktop;            // it opened on the desktop backend
    bool close_asked;        // a close was requested (kept: raylib's desktop forgets it a frame on)
    int target_fps;          // 0: frames are not paced
    double last_frame_end;   // GetTime() when the last frame ended; 0 before the first
    double frame_time;       // seconds between the last two frame ends
    double frame_times[32];  // the last ones, for fps
    int frames_timed;
    // Input recorded since start_recording(): the events and what the last frame end saw.
    std::vector<InputEvent>* recording;
    int recording_frame;
    bool recorded_keys[512];
    bool recorded_buttons[8];
    int recorded_mouse[2];
    // Scripted input waiting for the next frame, as device input waits for raylib's poll.
    std::vector<InputEvent>* pending;
    // A recording being replayed: its events and the next one due.
    std::vector<InputEvent>* replay;
    std::size_t replay_next;
    int replay_frame;

    using Table = WindowTable;
    static inline PyTypeObject* type = nullptr;
    static inline const WindowTable* vtable = nullptr;
    static constexpr bool final = true;
};

namespace window {

// The state while no window is open: calls would go to the linked raylib, but are refused first.
inline const display::State closed_state = {.frame_thread = 0, .window_thread = 0,
                                            .inherited = false, .transformed = false,
                                            .width = 0.0f, .height = 0.0f,
                                            .raylib = &backend::linked, .generation = 0};

// The one open window's state, published to the drawing modules.
inline display::State state = closed_state;

// Open window, right thread, not inherited: true, or false with RuntimeError set.
bool usable(Window* self);

// A key code (1 to 511, raylib's range) and a mouse button (0 to 7), checked as they convert.
struct KeyCode { int value; };
struct ButtonCode { int value; };

// input.cpp: the Window's input methods and properties, the enumerations, and what frames do with
// recordings and replays.
PyObject* is_key_down(Window* self, KeyCode key);
PyObject* is_key_up(Window* self, KeyCode key);
PyObject* is_key_pressed(Window* self, KeyCode key);
PyObject* is_key_released(Window* self, KeyCode key);
PyObject* get_key_pressed(Window* self);
PyObject* get_char_pressed(Window* self);
PyObject* is_mouse_button_down(Window* self, ButtonCode button);
PyObject* is_mouse_button_up(Window* self, ButtonCode button);
PyObject* is_mouse_button_pressed(Window* self, ButtonCode button);
PyObject* is_mouse_button_released(Window* self, ButtonCode button);
PyObject* get_mouse_position(Window* self, void*);
PyObject* get_mouse_delta(Window* self, void*);
PyObject* get_mouse_wheel(Window* self, void*);
PyObject* is_gamepad_available(Window* self, int gamepad);
PyObject* is_gamepad_button_down(Window* self, int gamepad, int button);
PyObject* gamepad_axis(Window* self, int gamepad, int axis);
PyObject* press_key(Window* self, KeyCode key);
PyObject* release_key(Window* self, KeyCode key);
PyObject* type_text(Window* self, PyObject* text);
PyObject* move_mouse(Window* self, PyObject* position);
PyObject* press_mouse_button(Window* self, ButtonCode button);
PyObject* release_mouse_button(Window* self, ButtonCode button);
PyObject* scroll_mouse(Window* self, double amount);
PyObject* start_recording(Window* self);
PyObject* stop_recording(Window* self, PyObject* path);
PyObject* replay(Window* self, PyObject* path);
PyObject* get_recording(Window* self, void*);
PyObject* get_replaying(Window* self, void*);

int add_enumerations(PyObject* module);
void replay_frame(Window* self);   // at the start of each frame: scripted, then replayed input
void record_frame(Window* self);   // at the end of each frame, before raylib polls input
void stop_input(Window* self);     // the window closes: recordings and replays end

}  // namespace window

namespace frame {

template <>
struct Arg<window::KeyCode> {
    static bool from(PyObject* object, const char*, window::KeyCode& out) {
        if (!to_int(object, out.value)) return false;
        if (out.value >= 1 && out.value <= 511) return true;
        PyErr_Format(PyExc_ValueError, "key must be a Key, or an int from 1 to 511 (got %d)", out.value);
        return false;
    }
};

template <>
struct Arg<window::ButtonCode> {
    static bool from(PyObject* object, const char*, window::ButtonCode& out) {
        if (!to_int(object, out.value)) return false;
        if (out.value >= 0 && out.value <= 7) return true;
        PyErr_Format(PyExc_ValueError,
                     "button must be a MouseButton, or an int from 0 to 7 (got %d)", out.value);
        return false;
    }
};

}  // namespace frame
}  // namespace tavoro
