// Interface of tavoro.audio_stream.audio_stream: the AudioStream record and its native table, as
// the sound and music modules read and call them.
#pragma once

#include "../shared/frame.hpp"

#include <raylib.h>

namespace tavoro {

struct AudioStream;

// The optional argument of cfrom_struct: `n` counts the optional arguments given.
struct AudioStreamFromStructArgs {
    int n;
    int is_owner;
};

// Native entry points, in slot order. Object results are new references (null with the
// exception set).
struct AudioStreamTable {
    PyObject* (*cfrom_struct)(::AudioStream record, AudioStreamFromStructArgs* optional);
    PyObject* (*__pyx_new)(int sample_rate, int sample_size, int channels);
    void (*c_unload)(AudioStream* self);
};

struct AudioStream {
    PyObject_HEAD
    const AudioStreamTable* table;
    ::AudioStream _raw;
    int _is_owner;
    float _volume;
    float _pitch;
    float _pan;
    // A view of the stream inside a sound or music (its owner) reads the owner's record through
    // `_shared` rather than its own copy, so it sees the owner release it; `_backlink` is the
    // owner's pointer to this view. The owner attaches the view when it makes it and detaches it
    // when it goes; the view clears the owner's pointer when it goes first. Both null otherwise.
    const ::AudioStream* _shared;
    AudioStream** _backlink;

    using Table = AudioStreamTable;
    static inline PyTypeObject* type = nullptr;
    static inline const AudioStreamTable* vtable = nullptr;
};

// Makes `view` (made by cfrom_struct with is_owner 0) a view of `record`, which lives inside the
// owner object that holds `backlink`.
inline void attach_view(AudioStream* view, const ::AudioStream* record, AudioStream** backlink) {
    view->_shared = record;
    view->_backlink = backlink;
    *backlink = view;
}

// Cuts the view held in `backlink` (if any) loose from its owner, which is going: the view reads
// as unloaded from then on.
inline void detach_view(AudioStream*& backlink) {
    AudioStream* view = backlink;
    if (!view) return;
    view->_raw.buffer = nullptr;
    view->_shared = nullptr;
    view->_backlink = nullptr;
    backlink = nullptr;
}

// The sample layout that raylib reads a buffer in: `channels` interleaved samples per frame,
// 8- and 16-bit samples as such and every other sample size as 32-bit floats.
inline long long sample_bytes(const ::AudioStream& record) {
    return record.sampleSize == 8 ? 1 : record.sampleSize == 16 ? 2 : 4;
}

inline long long frame_bytes(const ::AudioStream& record) {
    return sample_bytes(record) * record.channels;
}

inline constexpr const char* item_size_mismatch =
    "data holds items of %zd bytes (format '%s'), but the samples of this stream are %lld bytes";

// Buffers that declare no type of their own (bytes, bytearray, a memoryview of them) carry raw
// sample bytes; any other format says what its items are.
inline bool is_raw_format(const char* format) {
    if (!format) return true;
    if (*format && std::strchr("@=<>!", *format)) ++format;
    return std::strcmp(format, "B") == 0 || std::strcmp(format, "b") == 0 ||
           std::strcmp(format, "c") == 0;
}

// A sample buffer handed to update(): any object offering a contiguous buffer, checked to hold
// `frame_count` frames of `record`'s layout, and, when it declares a typed format, items of the
// size of the stream's samples (a float64 array fed to a float32 stream would play as noise).
// Released when it goes out of scope.
class Samples {
public:
    Samples() = default;
    Samples(const Samples&) = delete;
    Samples& operator=(const Samples&) = delete;
    ~Samples() {
        if (held_) PyBuffer_Release(&view_);
    }

    // True when `data` gave a buffer long enough; false with the exception set.
    bool take(PyObject* data, int frame_count, const ::AudioStream& record) {
        if (frame_count < 0) {
            PyErr_Format(PyExc_ValueError, "frame_count must not be negative (got %d)",
                         frame_count);
            return false;
        }
        int got = PyObject_GetBuffer(data, &view_, PyBUF_FORMAT | PyBUF_ND);
        if (got == -1) return false;
        held_ = true;
        if (got != 0) {
            PyErr_SetString(PyExc_TypeError, "Object does not support the Python buffer protocol");
            return false;
        }
        if (!is_raw_format(view_.format) && view_.itemsize != sample_bytes(record)) {
            PyErr_Format(PyExc_TypeError, item_size_mismatch, view_.itemsize, view_.format,
                         sample_bytes(record));
            return false;
        }
        long long needed = frame_count * frame_bytes(record);
        if (view_.len < needed) {
            PyErr_Format(PyExc_ValueError,
                         "data holds %zd bytes, but %d frames of this stream need %lld bytes",
                         view_.len, frame_count, needed);
            return false;
        }
        return true;
    }

    const void* data() const { return view_.buf; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

}  // namespace tavoro
