// Interface of tavoro.music.music: the Music record and its native table.
#pragma once

#include "../audio_stream/audio_stream.hpp"

namespace tavoro {

struct Music;

// Native entry points, in slot order. Object results are new references (null with the
// exception set); the entries without a result report failure only through a pending exception.
// `skip_dispatch` 0 lets a Python subclass's method of the same name run instead.
struct MusicTable {
    PyObject* (*__pyx_new)(::Music record);
    PyObject* (*c_load)(PyObject* filename);
    void (*c_unload)(Music* self);
    void (*play)(Music* self, int skip_dispatch);
    void (*stop)(Music* self, int skip_dispatch);
    void (*pause)(Music* self, int skip_dispatch);
    void (*resume)(Music* self, int skip_dispatch);
    void (*update)(Music* self, int skip_dispatch);
    void (*seek)(Music* self, float position, int skip_dispatch);
};

struct Music {
    PyObject_HEAD
    const MusicTable* table;
    ::Music raw;
    PyObject* stream;  // an AudioStream (the view made with the music, unless replaced) or None
    float _volume;
    float _pitch;
    float _pan;
    // The view made with the music, detached when the music goes (borrowed; see AudioStream).
    // Replacing `stream` does not change it.
    AudioStream* _view;

    using Table = MusicTable;
    static inline PyTypeObject* type = nullptr;
    static inline const MusicTable* vtable = nullptr;
};

}  // namespace tavoro
