// A capture of raylib's final mix (part of the audio_device module): what the device plays,
// as interleaved 32-bit float frames of the device's channel count.
//
// raylib hands the mix to its mixed processors on the audio thread with its audio lock held, so
// the processor here only copies into a buffer allocated beforehand: no Python, no allocation.
// Attaching and detaching take the same lock, so once detach() has run no copy is running and the
// buffer is the Python thread's alone. A capture still running when the interpreter exits is
// detached then (at_exit()), before the buffer is freed with the module's other statics while
// the audio thread still runs.
#pragma once

#include <raylib.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace tavoro::audio_device::capture {

namespace detail {

inline std::unique_ptr<float[]> samples;  // room for the whole capture, allocated by start()
inline std::size_t size = 0;               // samples it has room for
inline std::size_t channels = 0;
inline std::atomic<std::size_t> filled{0};  // samples written
inline bool attached = false;

// raylib's mixed processor: keeps the first frames that fit and lets the rest go.
inline void process(void* buffer, unsigned int frames) {
    std::size_t at = filled.load(std::memory_order_relaxed);
    std::size_t wanted = static_cast<std::size_t>(frames) * channels;
    std::size_t room = size - at;
    std::size_t taken = wanted < room ? wanted : room;
    std::memcpy(samples.get() + at, buffer, taken * sizeof(float));
    filled.store(at + taken, std::memory_order_release);
}

}  // namespace detail

inline bool running() { return detail::attached; }

// What a capture gave: `count` interleaved samples.
struct Captured {
    std::unique_ptr<float[]> samples;
    std::size_t count;
};

namespace detail {
inline Captured kept{nullptr, 0};  // what the last detach() took, until stop() gives it back
}

// Detaches the processor (if attached) and keeps what it captured for stop(). Only while the
// device is open in this process: detaching takes raylib's audio lock, which closing the device
// destroys. close() detaches, so what was captured until then can still be read.
inline void detach() {
    if (!detail::attached) return;
    DetachAudioMixedProcessor(detail::process);
    detail::attached = false;
    detail::size = 0;
    detail::kept = {std::move(detail::samples), detail::filled.exchange(0)};
}

// Ends the capture and gives back what it captured (nothing when there was no capture).
inline Captured stop() {
    detach();
    return std::exchange(detail::kept, Captured{nullptr, 0});
}

// For Py_AtExit: the audio thread runs on after the interpreter has gone.
inline void at_exit() { detach(); }

// Starts a capture of up to `frames` frames of `channels` channels, dropping any earlier one;
// false when there is no memory for it.
inline bool start(std::size_t frames, std::size_t channels) {
    stop();
    detail::samples.reset(new (std::nothrow) float[frames * channels]);
    if (!detail::samples) return false;
    detail::size = frames * channels;
    detail::channels = channels;
    AttachAudioMixedProcessor(detail::process);
    detail::attached = true;
    return true;
}

}  // namespace tavoro::audio_device::capture
