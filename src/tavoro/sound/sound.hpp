// Interface of tavoro.sound.sound: the Sound record and its native table.
#pragma once

#include "../audio_stream/audio_stream.hpp"

namespace tavoro {

struct Sound;

// The optional argument of new: `n` counts the optional arguments given.
struct SoundNewArgs {
    int n;
    int is_alias;
};

// Native entry points, in slot order. `__pyx_new` returns a new reference (null with the
// exception set).
struct SoundTable {
    PyObject* (*__pyx_new)(::Sound record, SoundNewArgs* optional);
    void (*c_unload)(Sound* self);
};

struct Sound {
    PyObject_HEAD
    const SoundTable* table;
    ::Sound _raw;
    int _is_alias;
    float _volume;
    float _pitch;
    float _pan;
    PyObject* _stream;  // the AudioStream view of _raw.stream, or None
    // The view in _stream, detached when the sound goes (borrowed; see AudioStream).
    AudioStream* _view;
    // An alias plays its source's samples, so it keeps its source alive (a reference), and the
    // source releases its loaded aliases before it releases the samples. The loaded aliases form
    // a list from the source's `_aliases` through `_next_alias`; `_alias_link` points at the link
    // that points to this alias. All borrowed but `_source`.
    Sound* _source;
    Sound* _aliases;
    Sound* _next_alias;
    Sound** _alias_link;

    using Table = SoundTable;
    static inline PyTypeObject* type = nullptr;
    static inline const SoundTable* vtable = nullptr;
};

}  // namespace tavoro
