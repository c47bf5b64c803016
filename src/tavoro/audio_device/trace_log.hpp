// raylib's log, routed to the `logging` logger "tavoro.raylib" (part of the audio_device module).
//
// raylib has one trace-log callback for the whole process, and it calls it from any thread: its
// audio thread logs while it holds raylib's audio lock, and a Python thread that waits for that
// lock may hold the interpreter lock. So the callback never touches Python: it formats the line
// into a bounded queue (counting what does not fit), and the lines are handed to the logger by
// hand_over(), which the audio modules call after each of their calls returns, with the
// interpreter lock held and no raylib lock taken.
//
// A handler may itself make audio calls that make raylib log, and handing those lines over may make
// more: each line carries its generation (0 for a line raylib logged of its own accord, n + 1 for
// one logged while a line of generation n was being handed over on the same thread), and lines
// past generation 1 are dropped and counted in one warning, so that a hand-over always ends.
//
// ALSA's library prints its own errors on stderr (a headless machine gets a screenful each time
// the device opens, as miniaudio probes for a card); they come here too, at DEBUG level.
//
// It also notes the lines that describe the device when it opens (backend, channels, sample
// rate): reading them from the log works with any raylib, patched or not.
#pragma once

#include "../shared/frame.hpp"

#include <raylib.h>

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace tavoro::audio_device::trace_log {

inline constexpr const char* logger_name = "tavoro.raylib";
inline constexpr const char* dropped_message = "%lu raylib log lines were dropped (the queue was full)";
inline constexpr const char* deep_dropped_message =
    "%lu raylib log lines were dropped (logged by the audio calls of a handler handling a line "
    "that such calls had logged)";

// What raylib says about the device it opened, read from its log.
struct Device {
    char backend[32];
    int channels;
    int sample_rate;
};

namespace detail {

struct Line {
    int level;
    int generation;
    char text[248];
};

constexpr int capacity = 256;
constexpr int deepest_generation = 1;
// The warning about deep lines: what handling it logs is dropped without a count.
constexpr int warning_generation = deepest_generation + 1;

inline std::mutex lock;  // guards everything below; never held while Python or raylib runs
inline Line lines[capacity];
inline int first = 0;
inline int count = 0;
inline unsigned long dropped = 0;
inline unsigned long deep_dropped = 0;
inline Device device{};
inline std::atomic<bool> pending{false};

// The generation of the line this thread is handing over, -1 when it is handing over none.
inline thread_local int emitting = -1;

// A hand-over is running (guarded by the interpreter lock), on `handing_thread`.
inline bool running = false;
inline pthread_t handing_thread;

inline PyObject* logger = nullptr;  // the logger, fetched on first use and kept
inline PyObject* log_name = nullptr;

// "    > Backend:       miniaudio | ALSA" and its siblings, printed when the device opens.
inline void note_device(const char* text) {
    const char* rest = std::strstr(text, "> ");
    if (!rest) return;
    rest += 2;
    if (std::strncmp(rest, "Backend:", 8) == 0) {
        const char* name = std::strstr(rest, "| ");
        if (name) std::snprintf(device.backend, sizeof device.backend, "%s", name + 2);
    } else if (std::strncmp(rest, "Channels:", 9) == 0) {
        std::sscanf(rest + 9, "%d", &device.channels);
    } else if (std::strncmp(rest, "Sample rate:", 12) == 0) {
        std::sscanf(rest + 12, "%d", &device.sample_rate);
    }
}

// Adds a line to the queue, or counts it when the queue is full or the line is too deep. Holds
// the queue's lock.
inline void enqueue(int level, const char (&text)[sizeof(Line::text)]) {
    int generation = emitting + 1;
    std::lock_guard guard(lock);
    if (level == LOG_INFO) note_device(text);
    if (generation > warning_generation) return;
    if (generation > deepest_generation) {
        ++deep_dropped;
    } else if (count == capacity) {
        ++dropped;
    } else {
        Line& line = lines[(first + count++) % capacity];
        line.level = level;
        line.generation = generation;
        std::memcpy(line.text, text, sizeof text);
    }
    pending.store(true, std::memory_order_release);
}

// raylib's trace-log callback: may run on any thread, with raylib's audio lock held.
inline void receive(int level, const char* format, va_list args) {
    char text[sizeof(Line::text)];
    std::vsnprintf(text, sizeof text, format, args);
    enqueue(level, text);
}

// raylib's levels as `logging`'s: TRACE and DEBUG are DEBUG, FATAL is CRITICAL.
inline int python_level(int level) {
    switch (level) {
        case LOG_TRACE:
        case LOG_DEBUG: return 10;
        case LOG_INFO: return 20;
        case LOG_WARNING: return 30;
        case LOG_ERROR: return 40;
        default: return 50;
    }
}

// The least raylib level that a logger at `logging` level `level` lets through.
inline int raylib_level(long level) {
    if (level <= 10) return LOG_DEBUG;
    if (level <= 20) return LOG_INFO;
    if (level <= 30) return LOG_WARNING;
    if (level <= 40) return LOG_ERROR;
    return LOG_FATAL;
}

inline PyObject* get_logger() {
    if (logger) return logger;
    frame::Ref logging(PyImport_ImportModule("logging"));
    if (!logging) return nullptr;
    log_name = PyUnicode_InternFromString("log");
    if (!log_name) return nullptr;
    logger = PyObject_CallMethod(logging.get(), "getLogger", "s", logger_name);
    return logger;
}

// Takes the oldest line (or the count of dropped lines, which goes first), false when none.
inline bool take(Line& out) {
    std::lock_guard guard(lock);
    if (dropped) {
        out.level = LOG_WARNING;
        out.generation = 0;
        std::snprintf(out.text, sizeof out.text, dropped_message, dropped);
        dropped = 0;
        return true;
    }
    if (deep_dropped) {
        out.level = LOG_WARNING;
        out.generation = warning_generation;
        std::snprintf(out.text, sizeof out.text, deep_dropped_message, deep_dropped);
        deep_dropped = 0;
        return true;
    }
    if (count == 0) {
        pending.store(false, std::memory_order_relaxed);
        return false;
    }
    out = lines[first];
    first = (first + 1) % capacity;
    --count;
    return true;
}

inline void emit(const Line& line) {
    PyObject* log = get_logger();
    if (!log) return PyErr_WriteUnraisable(nullptr);
    frame::Ref level(PyLong_FromLong(python_level(line.level)));
    frame::Ref text(PyUnicode_DecodeUTF8(line.text, std::strlen(line.text), "replace"));
    if (!level || !text) return PyErr_WriteUnraisable(nullptr);
    // The text goes as the message with no arguments, so a '%' in it is never formatted.
    PyObject* args[] = {log, level.get(), text.get()};
    emitting = line.generation;
    frame::Ref done(PyObject_VectorcallMethod(
        log_name, args, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    emitting = -1;
    if (!done) PyErr_WriteUnraisable(log);
}

// ALSA's error handler (snd_lib_error_handler_t): the line goes to the queue as raylib's would.
inline void receive_alsa(const char*, int, const char*, int, const char* format, ...) {
    va_list args;
    va_start(args, format);
    char text[sizeof(Line::text)] = "ALSA: ";
    std::vsnprintf(text + 6, sizeof text - 6, format, args);
    va_end(args);
    enqueue(LOG_DEBUG, text);
}

// In a child forked while another thread was handing lines over, no hand-over is running: that
// thread is not in the child.
inline void forked_child() {
    lock.unlock();
    if (running && !pthread_equal(handing_thread, pthread_self())) running = false;
}

}  // namespace detail

// Routes ALSA's errors here, if ALSA's library is installed: miniaudio loads the same library at
// run time, so the handler set on it now is the one it uses. The library stays loaded.
inline void take_alsa_errors() {
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    static bool done = false;
    if (done) return;
    done = true;
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!alsa) return;
    auto set_handler = reinterpret_cast<int (*)(Handler)>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (set_handler) set_handler(detail::receive_alsa);
}

// raylib's callback, installed once when the module executes. The queue's lock is held across
// fork(), so that a child never starts with it held by a thread it does not have.
inline void install() {
    SetTraceLogCallback(detail::receive);
    SetTraceLogLevel(LOG_WARNING);
    pthread_atfork([] { detail::lock.lock(); }, [] { detail::lock.unlock(); },
                   detail::forked_child);
}

// Hands every queued line to the logger; an exception already set survives it. A handler that
// calls back into the audio modules (and makes raylib log again) does not hand over itself: the
// loop already running takes those lines next, in order, without recursing.
inline void hand_over() {
    if (detail::running || !detail::pending.load(std::memory_order_acquire)) return;
    detail::running = true;
    detail::handing_thread = pthread_self();
    PyObject* saved = PyErr_GetRaisedException();
    detail::Line line;
    while (detail::take(line)) detail::emit(line);
    PyErr_SetRaisedException(saved);
    detail::running = false;
}

// The logger's effective level, as the raylib level to let through (WARNING when unknown).
inline int wanted_level() {
    PyObject* log = detail::get_logger();
    frame::Ref level(log ? PyObject_CallMethod(log, "getEffectiveLevel", nullptr) : nullptr);
    long value = level ? PyLong_AsLong(level.get()) : -1;
    if (value == -1 && PyErr_Occurred()) {
        PyErr_WriteUnraisable(log);
        value = 30;
    }
    return detail::raylib_level(value);
}

inline void forget_device() {
    std::lock_guard guard(detail::lock);
    detail::device = {};
}

inline Device device() {
    std::lock_guard guard(detail::lock);
    return detail::device;
}

}  // namespace tavoro::audio_device::trace_log
