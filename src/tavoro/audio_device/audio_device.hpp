// Interface of tavoro.audio_device.audio_device for the audio modules: the register of loaded
// audio objects that closing the device releases.
//
// raylib's CloseAudioDevice tears down the lock that every later release takes, and a sound or
// stream released after it would use that torn-down state. So every object that owns a raylib
// audio resource enters itself in the register when it loads and leaves it when it releases;
// `close()` releases whatever is still in the register (aliases before the sounds whose samples
// they share) before closing the device. Loading while the device is closed is refused, so no
// resource is ever released without an open device.
//
// raylib's log lines are queued by the device module and handed to Python's logging after each
// audio call (see trace_log.hpp), through the same published entry points. A handler may run any
// Python code, so the hand-over comes last: after the raylib call and all the bookkeeping that
// follows it (registering, linking, marking released), never between them.
//
// The device module also publishes the state of the device across fork() (forked.hpp), the one
// copy that every audio module reads, and the sub-buffer size that streams are loaded with.
//
// The register's entry points are published as capsules in the module's __pyx_capi__, keyed by
// name and tagged with their native signature; each audio module binds them when it executes.
#pragma once

#include "../shared/exports.hpp"
#include "../shared/forked.hpp"
#include "../shared/frame.hpp"

#include <raylib.h>

namespace tavoro::audio_device {

// Releases the raylib resource of `object` (which then leaves the register).
using Release = void (*)(PyObject* object);

// Order of release when the device closes: lower ranks go first.
enum Rank : int { alias_rank = 0, owner_rank = 1 };

inline constexpr const char* track_signature = "void (PyObject *, void (*)(PyObject *), int)";
inline constexpr const char* untrack_signature = "void (PyObject *)";
inline constexpr const char* hand_over_log_signature = "void (void)";
inline constexpr const char* stream_buffer_frames_signature = "int (void)";
inline constexpr const char* receive_log_signature = "void (int, const char *, va_list)";

struct Api {
    void (*track)(PyObject* object, Release release, int rank);
    void (*untrack)(PyObject* object);
    // Hands raylib's queued log lines to Python's logging; called after every audio call.
    void (*hand_over_log)();
    // The sub-buffer size streams are loaded with (0: raylib's choice).
    int (*stream_buffer_frames)();
    forked::ForkedDevice* forked;
};

// This module's binding of the device module, filled by bind_api() when the module executes (the
// device module fills its own directly).
inline Api api{};

inline const char* const module_name = "tavoro.audio_device.audio_device";

// Imports the device module and takes its entry points and state from its __pyx_capi__.
inline int bind_api() {
    return exports::bind(
        module_name,
        {exports::entry("track", track_signature, api.track),
         exports::entry("untrack", untrack_signature, api.untrack),
         exports::entry("hand_over_log", hand_over_log_signature, api.hand_over_log),
         exports::entry("stream_buffer_frames", stream_buffer_frames_signature,
                        api.stream_buffer_frames),
         exports::entry("forked_device", forked::device_signature, api.forked)});
}

// The device module's raylib log callback, for a raylib other than the linked one (the desktop
// build the window module loads), so that its lines join the same queue. Bound by bind_receiver().
inline TraceLogCallback receive_log = nullptr;

inline int bind_receiver() {
    return exports::bind(module_name,
                         {exports::entry("receive_log", receive_log_signature, receive_log)});
}

// Whether this process was forked while the device was open: then the device reads as not open
// and no audio object makes a raylib call (forked.hpp).
inline bool inherited_device() { return api.forked->inherited; }

// The device is open in this process (not only in the parent it was forked from).
inline bool device_open() { return !inherited_device() && IsAudioDeviceReady(); }

// `result` (null with the exception set, or not), after raylib's queued log lines are handed to
// Python: what an audio call returns.
inline PyObject* logged(PyObject* result) {
    api.hand_over_log();
    return result;
}

// Loading needs the device open: true, or false with RuntimeError set.
inline bool require_open_device() {
    if (device_open()) return true;
    PyErr_SetString(PyExc_RuntimeError,
                    "the audio device is not open: call tavoro.audio_device.init() before "
                    "loading audio");
    return false;
}

}  // namespace tavoro::audio_device
