// What the audio records (AudioStream, Sound, Music) have in common: their playback members over
// a raylib record that is handed to raylib only while it is loaded, and the AudioStream view that
// a sound or music keeps of the stream inside its record.
#pragma once

#include "../audio_device/audio_device.hpp"
#include "../audio_stream/audio_stream.hpp"
#include "audio_limits.hpp"

#include <cstdio>
#include <cstring>
#include <type_traits>

namespace tavoro::audio {

// The centre of the pan range of the raylib built against: raylib 6 takes -1 (left) to 1 (right),
// earlier ones 0 to 1. A new voice reads the centre, so a value read back and set again leaves
// the balance as it was.
#if RAYLIB_VERSION_MAJOR >= 6
inline constexpr float centre_pan = 0.0f;
inline constexpr double left_pan = -1.0;
inline constexpr const char* pan_range = "-1.0..1.0";
inline constexpr const char* pan_doc = "The pan, from -1.0 (left) to 1.0 (right); 0.0 is the centre.";
#else
inline constexpr float centre_pan = 0.5f;
inline constexpr double left_pan = 0.0;
inline constexpr const char* pan_range = "0.0..1.0";
inline constexpr const char* pan_doc = "The pan, from 0.0 (left) to 1.0 (right); 0.5 is the centre.";
#endif

inline bool check_pan(double pan, PyObject* given) {
    return audio_limits::check_pan(pan, left_pan, 1.0, pan_range, given);
}

// A pitch of 0 or less leaves the pitch as it is (raylib ignores it), so it is not stored either.
inline bool pitch_taken(double pitch) { return pitch > 0.0; }
inline bool always_taken(double) { return true; }

// The voice of a sound or music, which its stream view shares.
template <class S>
Voice voice_of(S* self) {
    return {&self->_volume, &self->_pitch, &self->_pan};
}

// The members of a record S over its raylib record Raw. `Loaded` gives the record to hand raylib,
// or null when there is none loaded: then playback calls do nothing and the queries read False.
// `Release` releases what the record owns (a second call does nothing).
template <class S, class Raw, const Raw* (*Loaded)(const S*), void (*Release)(S*)>
struct Members {
    // A new record of `type` bound to its native table, with None in `stream` (the reference to
    // the view a sound or music keeps) when there is one.
    static S* allocate(PyTypeObject* type, PyObject* S::*stream = nullptr) {
        S* self = frame::allocate<S>(type);
        if (!self) return nullptr;
        if (stream) self->*stream = Py_NewRef(Py_None);
        return self;
    }

    // The cached values a record starts with when it takes a raylib record.
    static void set_defaults(S* self, float pan = centre_pan) {
        self->_volume = 1.0f;
        self->_pitch = 1.0f;
        self->_pan = pan;
    }

    // For destruction: an error while releasing must not escape it, nor may it lose one that is
    // already set.
    static void release_keeping_error(S* self) {
        PyObject* saved = PyErr_GetRaisedException();
        Release(self);
        PyErr_SetRaisedException(saved);
    }

    static PyObject* unload(S* self) {
        Release(self);
        return audio_device::logged(Py_NewRef(Py_None));
    }

    template <void (*Call)(Raw)>
    static PyObject* control(S* self) {
        if (const Raw* record = Loaded(self)) Call(*record);
        return audio_device::logged(Py_NewRef(Py_None));
    }

    template <bool (*Query)(Raw)>
    static PyObject* query(S* self, void*) {
        const Raw* record = Loaded(self);
        return audio_device::logged(PyBool_FromLong(record && Query(*record)));
    }

    // update(data, frame_count): raylib reads frame_count frames of the stream's sample layout
    // from the data without a check, so the data is checked against `Layout` (which an unloaded
    // record keeps too) and then against each of `Fits`, whether or not there is a record to fill.
    template <void (*Update)(Raw, const void*, int), const ::AudioStream& (*Layout)(const S*),
              bool (*... Fits)(const S*, int)>
    static PyObject* update(S* self, PyObject* data, int frame_count) {
        Samples samples;
        if (!samples.take(data, frame_count, Layout(self))) return nullptr;
        if (!(Fits(self, frame_count) && ...)) return nullptr;
        if (const Raw* record = Loaded(self)) Update(*record, samples.data(), frame_count);
        return audio_device::logged(Py_NewRef(Py_None));
    }

    // The cached value `Field` of the voice: a stream view's are its owner's.
    template <float S::*Field>
    static float& cached(S* self) {
        if constexpr (std::is_same_v<S, AudioStream>) {
            if (float* shared = Field == &S::_volume  ? self->_owner_voice.volume
                                : Field == &S::_pitch ? self->_owner_voice.pitch
                                                      : self->_owner_voice.pan)
                return *shared;
        }
        return self->*Field;
    }

    template <float S::*Field>
    static PyObject* get_cached(S* self, void*) {
        return PyFloat_FromDouble(cached<Field>(self));
    }

    // A value outside what `Check` accepts is refused and the cached value stays; one that
    // `Taken` turns down is accepted and changes nothing. Otherwise the value is cached even
    // when there is no loaded record to hand it to. The value is converted once, so that what
    // is checked is what raylib gets.
    template <float S::*Field, void (*Set)(Raw, float), bool (*Check)(double, PyObject*),
              bool (*Taken)(double) = always_taken>
    static bool set_cached(S* self, PyObject* value, void*) {
        double wanted;
        if (!frame::to_double(value, wanted) || !Check(wanted, value)) return false;
        if (!Taken(wanted)) return true;
        float& field = cached<Field>(self);
        field = static_cast<float>(wanted);
        if (const Raw* record = Loaded(self)) Set(*record, field);
        audio_device::api.hand_over_log();
        return true;
    }

    template <void (*Set)(Raw, float)>
    static PyGetSetDef volume() {
        return frame::property<"volume", get_cached<&S::_volume>,
                               set_cached<&S::_volume, Set, audio_limits::check_volume>>(
            nullptr, "The volume (1.0 is full), -16.0 to 16.0; below 0 the waveform is inverted.");
    }

    template <void (*Set)(Raw, float)>
    static PyGetSetDef pitch() {
        return frame::property<"pitch", get_cached<&S::_pitch>,
                               set_cached<&S::_pitch, Set, audio_limits::check_pitch, pitch_taken>>(
            nullptr, "The pitch (1.0 is the original), 1/64 to 16; 0 or less leaves it as it is.");
    }

    template <void (*Set)(Raw, float)>
    static PyGetSetDef pan() {
        return frame::property<"pan", get_cached<&S::_pan>, set_cached<&S::_pan, Set, check_pan>>(
            nullptr, pan_doc);
    }
};

// The readable form of a record: "<Name 48000 Hz, 16-bit, mono, ...>", where `details` follow
// the stream's format, or "<Name unloaded>" when there is no loaded record. `lead` comes first
// ("alias", a length) when given. The name is the type's own, so a subclass shows its name.
inline PyObject* describe(PyObject* self, const ::AudioStream* stream, const char* lead,
                          const char* details) {
    const char* name = Py_TYPE(self)->tp_name;
    if (const char* dot = std::strrchr(name, '.')) name = dot + 1;
    if (!stream) return PyUnicode_FromFormat("<%s unloaded>", name);
    char channels[24];
    if (stream->channels == 1)
        std::snprintf(channels, sizeof channels, "mono");
    else if (stream->channels == 2)
        std::snprintf(channels, sizeof channels, "stereo");
    else
        std::snprintf(channels, sizeof channels, "%u channels", stream->channels);
    return PyUnicode_FromFormat("<%s %s%s%u Hz, %u-bit, %s%s%s>", name, lead ? lead : "",
                                lead ? ", " : "", stream->sampleRate, stream->sampleSize,
                                channels, details ? ", " : "", details ? details : "");
}

// Makes the view of `stream`, which lives inside its owner's record, and puts it in the owner's
// `slot` (see AudioStream for the tie through `backlink`); it shares the owner's `voice`. False
// with the exception set.
inline bool make_view(const ::AudioStream& stream, PyObject*& slot, AudioStream*& backlink,
                      Voice voice) {
    AudioStreamFromStructArgs not_owner = {1, 0};
    PyObject* view = AudioStream::vtable->cfrom_struct(stream, &not_owner);
    if (!view) return false;
    attach_view(reinterpret_cast<AudioStream*>(view), &stream, &backlink, voice);
    Py_SETREF(slot, view);
    return true;
}

}  // namespace tavoro::audio
