// The window's state as every drawing module reads it: one record, owned by
// tavoro.window.window and published in its __pyx_capi__, so that a window opened, closed or
// inherited across fork() is seen the same way by all of them.
//
// raylib keeps one window per process and segfaults when it is drawn into before it opens or
// after it closes; drawing outside BeginDrawing/EndDrawing silently goes nowhere, and its GPU
// state belongs to the thread that opened it. So every drawing call checks, in one comparison,
// that it runs inside a frame on that thread.
#pragma once

#include "backend.hpp"
#include "frame.hpp"

#include <pythread.h>

#include <cstdint>

namespace tavoro::display {

struct State {
    // The thread inside a frame, 0 outside one: what every drawing call compares against.
    unsigned long frame_thread;
    // The thread that opened the window, 0 while none is open.
    unsigned long window_thread;
    // Set in a child forked while the window was open: it has the parent's copy of raylib's
    // state, which it must not use.
    bool inherited;
    // A camera or a render target changes where drawing lands: then nothing is culled.
    bool transformed;
    // The render area the untransformed drawing calls cull against.
    float width, height;
    // The raylib of the open window (the linked one while none is open): every window, input and
    // drawing call goes through it.
    const backend::Api* raylib;
    // Counts the windows opened in this process (0 while none is open): what a texture made in
    // one window compares against, so that it is never used once that window has closed.
    unsigned long generation;
};

inline constexpr const char* state_signature = "struct tavoro_display_state *";
inline const char* const window_module = "tavoro.window.window";

constexpr const char* no_window = "no window is open: open a tavoro.Window first";
constexpr const char* not_in_frame =
    "drawing needs a frame: draw inside `with window.frame():` (or between begin_frame() and "
    "end_frame())";
constexpr const char* other_thread = "the window can be used only from the thread that opened it";
constexpr const char* forked = "the window belongs to the process that opened it; this one was "
                               "forked while it was open";
constexpr const char* window_closed = "the window this %s was made in has closed: make it again in the open window";

// This module's binding of the state, filled by bind() when the module executes.
inline State* state = nullptr;

// The raylib that serves the open window.
inline const backend::Api& rl() { return *state->raylib; }

inline unsigned long current_thread() { return PyThread_get_thread_ident(); }

// Why `state` does not allow a call that needs an open window (and a frame when `frame`): the
// message, or null when it does.
inline const char* refusal(bool frame) {
    if (state->inherited) return forked;
    if (!state->window_thread) return no_window;
    if (state->window_thread != current_thread()) return other_thread;
    if (frame && state->frame_thread != current_thread()) return not_in_frame;
    return nullptr;
}

// False with RuntimeError set when the call cannot go to raylib.
inline bool refuse(bool frame) {
    const char* why = refusal(frame);
    if (!why) return true;
    PyErr_SetString(PyExc_RuntimeError, why);
    return false;
}

// Drawing needs a frame on the window's thread.
inline bool require_frame() {
    if (state->frame_thread == current_thread()) [[likely]]
        return true;
    return refuse(true);
}

// Measuring text, loading fonts and textures need an open window but no frame.
inline bool require_window() { return refuse(false); }

// Whether what was made in window `generation` may go to raylib: that window is open, on this
// thread, in this process.
inline bool alive(unsigned long generation) {
    return generation && generation == state->generation && !state->inherited &&
           state->window_thread == current_thread();
}

// A GPU object of window `generation` (a "texture", say) needs that window, and a frame when
// `frame`: true, or false with RuntimeError set.
inline bool require_own_window(unsigned long generation, const char* what, bool frame) {
    if (generation == state->generation) return refuse(frame);
    PyErr_Format(PyExc_RuntimeError, window_closed, what);
    return false;
}

// Imports the window module and takes the state from its __pyx_capi__.
inline int bind() {
    frame::Ref module(PyImport_ImportModule(window_module));
    if (!module) return -1;
    frame::Ref capi(PyObject_GetAttrString(module.get(), "__pyx_capi__"));
    if (!capi) return -1;
    PyObject* capsule = PyDict_GetItemString(capi.get(), "state");
    if (!capsule) {
        PyErr_Format(PyExc_ImportError, "%s does not export its state", window_module);
        return -1;
    }
    state = static_cast<State*>(PyCapsule_GetPointer(capsule, state_signature));
    return state ? 0 : -1;
}

}  // namespace tavoro::display
