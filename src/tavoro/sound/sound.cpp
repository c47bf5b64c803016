// tavoro.sound.sound: a sound whose samples raylib keeps in memory, or an alias that plays the
// samples of another sound.
//
// An unloaded sound (made by Sound(), failed to load, or released) makes no raylib call: playback
// calls do nothing and the queries read False.
#include "sound.hpp"

#include "../audio_device/audio_device.hpp"
#include "../shared/audio.hpp"
#include "../shared/file_path.hpp"

namespace tavoro {
namespace {

using S = Sound;

S* as_sound(PyObject* object) { return reinterpret_cast<S*>(object); }

// The record to hand raylib, or null when the sound is not loaded.
const ::Sound* loaded(const S* self) {
    if (audio_device::inherited_device()) return nullptr;
    return self->_raw.stream.buffer ? &self->_raw : nullptr;
}

void unlink_alias(S* self) {
    if (!self->_alias_link) return;
    *self->_alias_link = self->_next_alias;
    if (self->_next_alias) self->_next_alias->_alias_link = self->_alias_link;
    self->_next_alias = nullptr;
    self->_alias_link = nullptr;
}

void link_alias(S* alias, S* source) {
    alias->_next_alias = source->_aliases;
    if (source->_aliases) source->_aliases->_alias_link = &alias->_next_alias;
    source->_aliases = alias;
    alias->_alias_link = &source->_aliases;
}

// Releases the record: the loaded aliases of a source first, since they play its samples.
void release(S* self) {
    if (!loaded(self)) return;
    while (self->_aliases) release(self->_aliases);
    unlink_alias(self);
    audio_device::api.untrack(reinterpret_cast<PyObject*>(self));
    if (self->_is_alias)
        UnloadSoundAlias(self->_raw);
    else
        UnloadSound(self->_raw);
    self->_raw.stream.buffer = nullptr;
}

void release_entry(PyObject* self) { release(as_sound(self)); }

using A = audio::Members<S, ::Sound, loaded, release>;

// ---------------------------------------------------------------------------------------------
// Native entries

// A new sound with its view and no record yet. Made before raylib is asked for the record: making
// Python objects can run Python code (the collector's finalizers), which must not come between a
// raylib call and the bookkeeping after it.
S* prepare(int is_alias) {
    frame::Ref made(reinterpret_cast<PyObject*>(A::allocate(S::type, &S::_stream)));
    if (!made) return nullptr;
    S* self = as_sound(made.get());
    self->_is_alias = is_alias;
    A::set_defaults(self);
    if (!audio::make_view(self->_raw.stream, self->_stream, self->_view, audio::voice_of(self)))
        return nullptr;
    return as_sound(made.release());
}

// The prepared sound takes a record raylib loaded, and owns it from here on.
PyObject* take(S* self, ::Sound record) {
    self->_raw = record;
    if (loaded(self))
        audio_device::api.track(reinterpret_cast<PyObject*>(self), release_entry,
                                self->_is_alias ? audio_device::alias_rank
                                                : audio_device::owner_rank);
    return reinterpret_cast<PyObject*>(self);
}

// Wraps a loaded record; it is released when the sound cannot be made.
PyObject* new_sound(::Sound record, SoundNewArgs* optional) {
    int is_alias = optional && optional->n > 0 ? optional->is_alias : 0;
    S* self = prepare(is_alias);
    if (self) return take(self, record);
    if (record.stream.buffer) is_alias ? UnloadSoundAlias(record) : UnloadSound(record);
    return nullptr;
}

constexpr SoundTable table = {
    .__pyx_new = new_sound,
    .c_unload = release,
};

// ---------------------------------------------------------------------------------------------
// Construction and destruction

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(A::allocate(type, &S::_stream));
}

// Sound() ignores its arguments and gives an empty, unloaded sound.
int tp_init(PyObject*, PyObject*, PyObject*) { return 0; }

// A sound raylib itself calls invalid (no frames decoded) is released at once: it would only
// ever be handed to raylib to play nothing, or worse.
::Sound playable(::Sound record) {
    if (record.stream.buffer && !IsSoundValid(record)) {
        UnloadSound(record);
        return ::Sound{};
    }
    return record;
}

PyObject* load(PyObject* file_name) {
    frame::Ref path = file_path("file_name", file_name);
    if (!path || !audio_device::require_open_device()) return nullptr;
    S* self = prepare(0);
    if (!self) return nullptr;
    const char* file = PyBytes_AS_STRING(path.get());
    if (!checked_audio_file(file)) return take(self, ::Sound{});
    return audio_device::logged(take(self, playable(LoadSound(file))));
}

// raylib reads the source's buffer without a check, so only a loaded source is accepted.
PyObject* load_alias(S* source) {
    if (!loaded(source)) {
        PyErr_SetString(PyExc_ValueError, "cannot make an alias of a sound that is not loaded");
        return nullptr;
    }
    if (!audio_device::require_open_device()) return nullptr;
    S* alias = prepare(1);
    if (!alias) return nullptr;
    take(alias, LoadSoundAlias(source->_raw));
    if (loaded(alias)) {
        // An alias of an alias shares the first source's samples, so it hangs on that one.
        S* owner = source->_source ? source->_source : source;
        alias->_source = reinterpret_cast<S*>(Py_NewRef(owner));
        link_alias(alias, owner);
    }
    return audio_device::logged(reinterpret_cast<PyObject*>(alias));
}

int traverse(PyObject* object, visitproc visit, void* arg) {
    S* self = as_sound(object);
    Py_VISIT(self->_stream);
    Py_VISIT(self->_source);
    return 0;
}

int clear(PyObject* object) {
    S* self = as_sound(object);
    detach_view(self->_view);
    Py_SETREF(self->_stream, Py_NewRef(Py_None));
    Py_CLEAR(self->_source);
    return 0;
}

void dealloc(PyObject* object) {
    S* self = as_sound(object);
    PyObject_GC_UnTrack(object);
    A::release_keeping_error(self);
    detach_view(self->_view);
    Py_CLEAR(self->_stream);
    Py_CLEAR(self->_source);
    Py_TYPE(object)->tp_free(object);
}

// ---------------------------------------------------------------------------------------------
// Methods and properties

// update() reads its data in the sample layout of the sound's stream.
const ::AudioStream& layout(const S* self) { return self->_raw.stream; }

// raylib copies frame_count frames into the sound's own buffer without comparing the two, so the
// sound must be long enough too.
bool holds(const S* self, int frame_count) {
    if (static_cast<unsigned>(frame_count) <= self->_raw.frameCount) return true;
    PyErr_Format(PyExc_ValueError, "frame_count is %d, but the sound holds only %u frames",
                 frame_count, self->_raw.frameCount);
    return false;
}

PyObject* get_is_alias(S* self, void*) { return PyBool_FromLong(self->_is_alias); }

PyObject* get_frame_count(S* self, void*) { return PyLong_FromUnsignedLong(self->_raw.frameCount); }

PyObject* get_stream(S* self, void*) { return Py_NewRef(self->_stream); }

double seconds(const S* self) {
    const ::Sound* record = loaded(self);
    return record && record->stream.sampleRate
               ? static_cast<double>(record->frameCount) / record->stream.sampleRate
               : 0.0;
}

PyObject* get_length(S* self, void*) { return PyFloat_FromDouble(seconds(self)); }

// "<Sound 0.50 s, 48000 Hz, 32-bit, stereo>", "<Sound alias, 0.50 s, ...>" or "<Sound unloaded>".
PyObject* repr(PyObject* object) {
    S* self = as_sound(object);
    char lead[48];
    std::snprintf(lead, sizeof lead, "%s%.2f s", self->_is_alias ? "alias, " : "", seconds(self));
    const ::Sound* record = loaded(self);
    return audio::describe(object, record ? &record->stream : nullptr, lead, nullptr);
}

PyMethodDef methods[] = {
    frame::method<"unload", A::unload>("Releases the sound; a second call does nothing."),
    frame::method<"update", A::update<UpdateSound, layout, holds>, "data", "frame_count">("Replaces the first frame_count frames of the sound with samples from the buffer data."),
    frame::method<"play", A::control<PlaySound>>("Plays the sound from the start."),
    frame::method<"stop", A::control<StopSound>>("Stops the sound."),
    frame::method<"pause", A::control<PauseSound>>("Pauses the sound."),
    frame::method<"resume", A::control<ResumeSound>>("Resumes the paused sound."),
    {},
};

PyMethodDef static_methods[] = {
    frame::static_method<S, "load", load, "file_name">("Loads a sound from an audio file; check valid for success."),
    frame::static_method<S, "load_alias", load_alias, "source">("A new sound that plays the samples of source."),
    {},
};

PyGetSetDef properties[] = {
    frame::readonly<"valid", A::query<IsSoundValid>>(nullptr, "Whether the sound is loaded."),
    frame::readonly<"playing", A::query<IsSoundPlaying>>(nullptr, "Whether the sound is playing."),
    frame::readonly<"is_alias", get_is_alias>(nullptr, "Whether the sound is an alias of another."),
    frame::readonly<"frame_count", get_frame_count>(nullptr, "The number of frames the sound holds."),
    frame::readonly<"stream", get_stream>(nullptr, "The sound's stream, as an AudioStream that does not own it."),
    frame::readonly<"length", get_length>(nullptr, "The length in seconds (0.0 when unloaded)."),
    A::volume<SetSoundVolume>(),
    A::pitch<SetSoundPitch>(),
    A::pan<SetSoundPan>(),
    {},
};

PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.sound.sound.Sound", sizeof(S),
                                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE |
                                            Py_TPFLAGS_HAVE_GC);
    t.tp_dealloc = dealloc;
    t.tp_repr = repr;
    t.tp_doc = "A sound held in memory; made by Sound.load or Sound.load_alias.";
    t.tp_traverse = traverse;
    t.tp_clear = clear;
    t.tp_methods = methods;
    t.tp_getset = properties;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

const frame::TypeDef types[] = {
    frame::type_def<S>(type, &table, static_methods,
                       "self._raw cannot be converted to a Python object for pickling"),
};
const frame::SiblingDef siblings[] = {
    frame::sibling<AudioStream>("tavoro.audio_stream.audio_stream", "AudioStream"),
};

const frame::ModuleDef module = {
    .name = "sound",
    .full_name = "tavoro.sound.sound",
    .source = "src/tavoro/sound/sound.cpp",
    .types = types,
    .siblings = siblings,
    .finish = [](PyObject*) { return audio_device::bind_api(); },
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(sound, tavoro::module)
