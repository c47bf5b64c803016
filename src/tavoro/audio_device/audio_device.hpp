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
// audio call (see trace_log.hpp), through the same published entry points.
//
// The register's entry points are published as capsules in the module's __pyx_capi__, keyed by
// name and tagged with their native signature; each audio module binds them when it executes.
#pragma once

#include "../shared/frame.hpp"

#include <raylib.h>
#include <pthread.h>

namespace tavoro::audio_device {

// A process forked while the device was open inherits raylib's state but not its mixer thread:
// closing the device would wait for that thread for ever, and any call that takes the audio lock
// may find it held by a thread that no longer exists. So in such a child the device reads as not
// open and cannot be opened again, and every audio object inherited reads as unloaded and makes
// no raylib call. Each module keeps its own copy of the flag, set by its own fork handler.
inline bool inherited_device = false;

inline void note_forked_child() {
    if (IsAudioDeviceReady()) inherited_device = true;
}

inline int watch_forks() { return pthread_atfork(nullptr, nullptr, note_forked_child) == 0 ? 0 : -1; }

// The device is open in this process (not only in the parent it was forked from).
inline bool device_open() { return !inherited_device && IsAudioDeviceReady(); }

// Releases the raylib resource of `object` (which then leaves the register).
using Release = void (*)(PyObject* object);

// Order of release when the device closes: lower ranks go first.
enum Rank : int { alias_rank = 0, owner_rank = 1 };

inline constexpr const char* track_signature = "void (PyObject *, void (*)(PyObject *), int)";
inline constexpr const char* untrack_signature = "void (PyObject *)";
inline constexpr const char* hand_over_log_signature = "void (void)";

struct Api {
    void (*track)(PyObject* object, Release release, int rank);
    void (*untrack)(PyObject* object);
    // Hands raylib's queued log lines to Python's logging; called after every audio call.
    void (*hand_over_log)();
};

// This module's binding of the register, filled by bind_api() when the module executes.
inline Api api{};

inline const char* const module_name = "tavoro.audio_device.audio_device";

// Imports the device module and takes the register's entry points from its __pyx_capi__.
inline int bind_api() {
    frame::Ref module(PyImport_ImportModule(module_name));
    if (!module) return -1;
    frame::Ref capi(PyObject_GetAttrString(module.get(), "__pyx_capi__"));
    if (!capi) return -1;
    auto entry = [&](const char* name, const char* signature) -> void* {
        PyObject* capsule = PyDict_GetItemString(capi.get(), name);
        if (!capsule) {
            PyErr_Format(PyExc_ImportError, "%s does not export %s", module_name, name);
            return nullptr;
        }
        return PyCapsule_GetPointer(capsule, signature);
    };
    void* track = entry("track", track_signature);
    if (!track) return -1;
    void* untrack = entry("untrack", untrack_signature);
    if (!untrack) return -1;
    void* hand_over_log = entry("hand_over_log", hand_over_log_signature);
    if (!hand_over_log) return -1;
    api.track = reinterpret_cast<decltype(api.track)>(track);
    api.untrack = reinterpret_cast<decltype(api.untrack)>(untrack);
    api.hand_over_log = reinterpret_cast<decltype(api.hand_over_log)>(hand_over_log);
    if (watch_forks() < 0) {
        PyErr_SetString(PyExc_OSError, "cannot register a fork handler");
        return -1;
    }
    return 0;
}

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
