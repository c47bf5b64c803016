// Interface of tavoro.audio_stream.audio_stream: the AudioStream record and its native table, as
// the sound and music modules read and call them.
#pragma once

#include "../shared/frame.hpp"

#include <raylib.h>

#include <bit>
#include <cstring>

namespace tavoro {

struct AudioStream;

// Where a voice keeps what it last told raylib: its volume, pitch and pan.
struct Voice {
    float* volume;
    float* pitch;
    float* pan;
};

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
    // A view also reads and sets its owner's volume, pitch and pan (`_owner_voice`): one voice,
    // one record of it. `_is_view` stays set when the owner has gone: a view is never
    // initialised into a stream of its own.
    const ::AudioStream* _shared;
    AudioStream** _backlink;
    Voice _owner_voice;
    bool _is_view;

    using Table = AudioStreamTable;
    static inline PyTypeObject* type = nullptr;
    static inline const AudioStreamTable* vtable = nullptr;
};

// Makes `view` (made by cfrom_struct with is_owner 0) a view of `record`, which lives inside the
// owner object that holds `backlink` and whose voice is `voice`.
inline void attach_view(AudioStream* view, const ::AudioStream* record, AudioStream** backlink,
                        Voice voice) {
    view->_shared = record;
    view->_backlink = backlink;
    view->_owner_voice = voice;
    view->_is_view = true;
    *backlink = view;
}

// Lets go of the owner: the view keeps the owner's last volume, pitch and pan as its own.
inline void leave_owner(AudioStream* view) {
    if (view->_backlink) *view->_backlink = nullptr;
    if (view->_owner_voice.volume) {
        view->_volume = *view->_owner_voice.volume;
        view->_pitch = *view->_owner_voice.pitch;
        view->_pan = *view->_owner_voice.pan;
    }
    view->_owner_voice = {};
    view->_backlink = nullptr;
    view->_shared = nullptr;
}

// Cuts the view held in `backlink` (if any) loose from its owner, which is going: the view reads
// as unloaded from then on.
inline void detach_view(AudioStream*& backlink) {
    AudioStream* view = backlink;
    if (!view) return;
    view->_raw.buffer = nullptr;
    leave_owner(view);
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
inline constexpr const char* item_kind_mismatch =
    "data holds items of format '%s', but the samples of this stream are %s in the machine's "
    "byte order (format '%s')";

// The struct format without its byte-order prefix; `swapped` tells whether the prefix asks for
// the order this machine does not use.
inline const char* format_code(const char* format, bool& swapped) {
    constexpr bool little = std::endian::native == std::endian::little;
    swapped = *format && (*format == (little ? '>' : '<') || *format == '!');
    return *format && std::strchr("@=<>!", *format) ? format + 1 : format;
}

// Buffers that declare no type of their own (bytes, bytearray, a memoryview of them) carry raw
// sample bytes; any other format says what its items are.
inline bool is_raw_format(const char* format) {
    if (!format) return true;
    bool swapped;
    const char* code = format_code(format, swapped);
    return std::strcmp(code, "B") == 0 || std::strcmp(code, "b") == 0 ||
           std::strcmp(code, "c") == 0;
}

// The item format raylib reads a stream's samples as: 16-bit signed ints, and 32-bit floats for
// every size but 8 and 16 (8-bit samples come only raw: unsigned bytes).
inline const char* sample_format(const ::AudioStream& record) {
    return record.sampleSize == 8 ? "B" : record.sampleSize == 16 ? "h" : "f";
}

inline const char* sample_kind(const ::AudioStream& record) {
    return record.sampleSize == 8    ? "8-bit unsigned ints"
           : record.sampleSize == 16 ? "16-bit signed ints"
                                     : "32-bit floats";
}

// A typed format of the stream's sample size that is not its sample type (int32 for floats,
// float16 for 16-bit ints) or not in the machine's byte order plays as noise.
inline bool is_sample_format(const char* format, const ::AudioStream& record) {
    bool swapped;
    const char* code = format_code(format, swapped);
    return !swapped && std::strcmp(code, sample_format(record)) == 0;
}

// A sample buffer handed to update(): any object offering a contiguous buffer, checked to hold
// `frame_count` frames of `record`'s layout, and, when it declares a typed format, items of the
// size and type of the stream's samples in the machine's byte order (a float64 or an int32 array
// fed to a float32 stream would play as noise).
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
        if (!is_raw_format(view_.format)) {
            if (view_.itemsize != sample_bytes(record)) {
                PyErr_Format(PyExc_TypeError, item_size_mismatch, view_.itemsize, view_.format,
                             sample_bytes(record));
                return false;
            }
            if (!is_sample_format(view_.format, record)) {
                PyErr_Format(PyExc_TypeError, item_kind_mismatch, view_.format,
                             sample_kind(record), sample_format(record));
                return false;
            }
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
