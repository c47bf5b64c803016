// tavoro.music.music: music that raylib decodes from a file piece by piece while it plays, as far
// as the caller's own loop calls update().
//
// An unloaded music (made by Music(), failed to load, or released) makes no raylib call: playback
// calls and seeking do nothing, the queries read False and the times 0.0.
#include "music.hpp"

#include "../audio_device/audio_device.hpp"
#include "../shared/audio.hpp"
#include "../shared/audio_limits.hpp"
#include "../shared/file_path.hpp"

#include <cmath>

namespace tavoro {
namespace {

constexpr const char* seek_nan_refused = "position must be a number (got nan)";
constexpr const char* module_seek_refused =
    "module music (MOD, XM) cannot seek: stop() and play() start it again from the beginning";

// raylib's music context types for module formats (its MusicContextType, which raylib.h leaves
// out): raylib cannot seek in them, and ignores the call.
constexpr int module_xm_context = 6;
constexpr int module_mod_context = 7;
constexpr const char* negative_length = "__len__() should return >= 0";  // the interpreter's own

using M = Music;

M* as_music(PyObject* object) { return reinterpret_cast<M*>(object); }

// The record to hand raylib, or null when the music is not loaded.
const ::Music* loaded(const M* self) {
    if (audio_device::inherited_device()) return nullptr;
    return self->raw.stream.buffer ? &self->raw : nullptr;
}

frame::Name name_play{"play"};
frame::Name name_stop{"stop"};
frame::Name name_pause{"pause"};
frame::Name name_resume{"resume"};
frame::Name name_update{"update"};
frame::Name name_seek{"seek"};
frame::Name name_length{"length"};
frame::Name name_round{"round"};

void release(M* self) {
    if (!loaded(self)) return;
    audio_device::api.untrack(reinterpret_cast<PyObject*>(self));
    UnloadMusicStream(self->raw);
    self->raw.stream.buffer = nullptr;
}

void release_entry(PyObject* self) { release(as_music(self)); }

using A = audio::Members<M, ::Music, loaded, release>;

// ---------------------------------------------------------------------------------------------
// Native entries

// A new music with its view and no record yet. Made before raylib is asked for the record: making
// Python objects can run Python code (the collector's finalizers), which must not come between a
// raylib call and the bookkeeping after it.
M* prepare() {
    frame::Ref made(PyObject_CallNoArgs(reinterpret_cast<PyObject*>(M::type)));
    if (!made) return nullptr;
    M* self = as_music(made.get());
    A::set_defaults(self);
    if (!audio::make_view(self->raw.stream, self->stream, self->_view, audio::voice_of(self)))
        return nullptr;
    return as_music(made.release());
}

// The prepared music takes a record raylib loaded, and owns it from here on.
PyObject* take(M* self, ::Music record) {
    self->raw = record;
    if (loaded(self))
        audio_device::api.track(reinterpret_cast<PyObject*>(self), release_entry,
                                audio_device::owner_rank);
    return reinterpret_cast<PyObject*>(self);
}

// Wraps a loaded record; it is released when the music cannot be made.
PyObject* new_music(::Music record) {
    M* self = prepare();
    if (self) return take(self, record);
    if (record.stream.buffer || record.ctxData) UnloadMusicStream(record);
    return nullptr;
}

// A music raylib cannot play safely (a decoded stream of a layout the mixer does not handle, such
// as 64-bit samples, or one raylib itself calls invalid) is released at once and loads as
// not valid.
::Music playable(::Music record) {
    const ::AudioStream& stream = record.stream;
    bool usable = stream.buffer && IsMusicValid(record) &&
                  audio_limits::layout_ok(static_cast<int>(stream.sampleRate),
                                          static_cast<int>(stream.sampleSize),
                                          static_cast<int>(stream.channels));
    if (usable) return record;
    if (record.ctxData || stream.buffer) UnloadMusicStream(record);
    return ::Music{};
}

// Loads the file at `path` (bytes).
PyObject* load_path(const frame::Ref& path) {
    if (!path || !audio_device::require_open_device()) return nullptr;
    M* self = prepare();
    if (!self) return nullptr;
    const char* file = PyBytes_AS_STRING(path.get());
    if (!checked_audio_file(file)) return take(self, ::Music{});
    ::Music record = LoadMusicStream(file);
    // The sub-buffer size chosen for streams may not fit this music's layout: refused as for an
    // AudioStream (raylib loads no stream then, or one it cannot fill).
    if (!audio_limits::check_stream_buffer(audio_device::api.stream_buffer_frames(),
                                           static_cast<int>(record.stream.sampleSize),
                                           static_cast<int>(record.stream.channels))) {
        UnloadMusicStream(record);
        Py_DECREF(self);
        return audio_device::logged(nullptr);
    }
    return audio_device::logged(take(self, playable(record)));
}

PyObject* c_load(PyObject* filename) { return load_path(encode_path(filename)); }

// raylib turns the position into an unsigned frame number without a check: a position before
// the start goes to the start, one past the end to the last frame (from where a looping music
// goes on at the start), and NaN is refused.
bool position_in_track(const ::Music& record, float& position) {
    if (std::isnan(position)) {
        PyErr_SetString(PyExc_ValueError, seek_nan_refused);
        return false;
    }
    // Just below the last frame's time, so that raylib's float product stays inside the track.
    float last = std::nextafter(
        static_cast<float>((record.frameCount - 1.0) / record.stream.sampleRate), 0.0f);
    position = position < 0.0f ? 0.0f : (position > last ? last : position);
    return true;
}

// The Python-visible seek: the raylib call itself, made only on a loaded music.
PyObject* seek(M* self, float position) {
    if (const ::Music* record = loaded(self)) {
        if (record->ctxType == module_xm_context || record->ctxType == module_mod_context) {
            PyErr_SetString(PyExc_ValueError, module_seek_refused);
            return nullptr;
        }
        if (!position_in_track(*record, position)) return nullptr;
        SeekMusicStream(*record, position);
    }
    return audio_device::logged(Py_NewRef(Py_None));
}

// With skip_dispatch 0, a Python subclass's own method `name` runs instead of `own`: true when
// it ran (its result discarded) or failed (the exception set).
bool dispatched(M* self, int skip_dispatch, PyObject* name, PyMethodDef& own, PyObject* argument) {
    if (skip_dispatch) return false;
    bool failed;
    frame::Ref found(frame::find_override(reinterpret_cast<PyObject*>(self), name, own, failed));
    if (!found) return failed;
    frame::Ref result(argument ? PyObject_CallOneArg(found.get(), argument)
                               : PyObject_CallNoArgs(found.get()));
    return true;
}

template <frame::Text Name, frame::Name& N, void (*Call)(::Music)>
void entry(M* self, int skip_dispatch) {
    static PyMethodDef own = frame::method<Name, A::control<Call>>();
    if (!dispatched(self, skip_dispatch, N, own, nullptr)) {
        Py_XDECREF(A::control<Call>(self));
    } else if (PyErr_Occurred()) {
        frame::traceback(M::type, Name.chars);
    }
}

void seek_entry(M* self, float position, int skip_dispatch) {
    if (!skip_dispatch) {
        frame::Ref argument(PyFloat_FromDouble(position));
        if (!argument) return frame::traceback(M::type, "seek");
        static PyMethodDef own = frame::method<"seek", seek, "position">();
        if (dispatched(self, 0, name_seek, own, argument.get())) {
            if (PyErr_Occurred()) frame::traceback(M::type, "seek");
            return;
        }
    }
    Py_XDECREF(seek(self, position));
}

constexpr MusicTable table = {
    .__pyx_new = new_music,
    .c_load = c_load,
    .c_unload = release,
    .play = entry<"play", name_play, PlayMusicStream>,
    .stop = entry<"stop", name_stop, StopMusicStream>,
    .pause = entry<"pause", name_pause, PauseMusicStream>,
    .resume = entry<"resume", name_resume, ResumeMusicStream>,
    .update = entry<"update", name_update, UpdateMusicStream>,
    .seek = seek_entry,
};

// ---------------------------------------------------------------------------------------------
// Construction and destruction

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(A::allocate(type, &M::stream));
}

// Music() ignores its arguments and gives an empty, unloaded music.
int tp_init(PyObject*, PyObject*, PyObject*) { return 0; }

PyObject* load(PyObject* filename) { return load_path(file_path("filename", filename)); }

int traverse(PyObject* object, visitproc visit, void* arg) {
    Py_VISIT(as_music(object)->stream);
    return 0;
}

int clear(PyObject* object) {
    M* self = as_music(object);
    detach_view(self->_view);
    Py_SETREF(self->stream, Py_NewRef(Py_None));
    return 0;
}

// The record is released whenever it is loaded: what a subclass's `valid` says cannot keep it
// from being released.
void dealloc(PyObject* object) {
    M* self = as_music(object);
    PyObject_GC_UnTrack(object);
    A::release_keeping_error(self);
    detach_view(self->_view);
    Py_CLEAR(self->stream);
    Py_TYPE(object)->tp_free(object);
}

// A negative length from a subclass gets the interpreter's own refusal.
Py_ssize_t refuse_negative_length() {
    PyErr_SetString(PyExc_ValueError, negative_length);
    return -1;
}

// len(): the `length` attribute (a subclass's own counts) rounded to whole seconds.
Py_ssize_t length(PyObject* self) {
    frame::Ref seconds(PyObject_GetAttr(self, name_length));
    if (!seconds) return -1;
    frame::Ref round(PyObject_GetAttr(frame::state.builtins, name_round));
    if (!round) return -1;
    frame::Ref rounded(PyObject_CallOneArg(round.get(), seconds.get()));
    if (!rounded) return -1;
    Py_ssize_t whole = PyNumber_AsSsize_t(rounded.get(), PyExc_OverflowError);
    if (whole < 0 && !PyErr_Occurred()) return refuse_negative_length();
    return whole;
}

// ---------------------------------------------------------------------------------------------
// Methods and properties

template <float (*Time)(::Music)>
PyObject* get_time(M* self, void*) {
    const ::Music* record = loaded(self);
    return PyFloat_FromDouble(record ? Time(*record) : 0.0);
}

PyObject* get_looping(M* self, void*) { return PyBool_FromLong(self->raw.looping); }

bool set_looping(M* self, PyObject* value, void*) {
    if (value != Py_True && value != Py_False && value != Py_None)
        return frame::raise_incorrect_type("value", &PyBool_Type, value);
    self->raw.looping = value == Py_True;
    return true;
}

PyObject* get_stream(PyObject* self, void*) { return Py_NewRef(as_music(self)->stream); }

// Only the reference changes: the music's own view stays tied to it.
int set_stream(PyObject* object, PyObject* value, void*) {
    M* self = as_music(object);
    if (value && value != Py_None && !frame::is_instance<AudioStream>(value)) {
        PyErr_Format(PyExc_TypeError, "%.1sCannot convert %.200s to %.200s", "",
                     Py_TYPE(value)->tp_name, AudioStream::type->tp_name);
        frame::traceback(M::type, "stream");
        return -1;
    }
    Py_SETREF(self->stream, Py_NewRef(value ? value : Py_None));
    return 0;
}

// "<Music 6.00 s, 22050 Hz, 16-bit, mono, looping>" or "<Music unloaded>".
PyObject* repr(PyObject* object) {
    M* self = as_music(object);
    const ::Music* record = loaded(self);
    char lead[32];
    std::snprintf(lead, sizeof lead, "%.2f s", record ? GetMusicTimeLength(*record) : 0.0);
    return audio::describe(object, record ? &record->stream : nullptr, lead,
                           self->raw.looping ? "looping" : nullptr);
}

PyMethodDef methods[] = {
    frame::method<"unload", A::unload>("Releases the music; a second call does nothing."),
    frame::method<"play", A::control<PlayMusicStream>>("Starts playing the music; call update() as it plays."),
    frame::method<"stop", A::control<StopMusicStream>>("Stops the music."),
    frame::method<"pause", A::control<PauseMusicStream>>("Pauses the music."),
    frame::method<"resume", A::control<ResumeMusicStream>>("Resumes the paused music."),
    frame::method<"update", A::control<UpdateMusicStream>>("Refills the music's stream; call it often while playing."),
    frame::method<"seek", seek, "position">("Moves playback to position, in seconds. Module music (MOD) cannot seek: ValueError."),
    {},
};

PyMethodDef static_methods[] = {
    frame::static_method<M, "load", load, "filename">("Loads music from an audio file; check valid for success."),
    {},
};

PyGetSetDef properties[] = {
    frame::readonly<"valid", A::query<IsMusicValid>>(nullptr, "Whether the music is loaded."),
    frame::readonly<"playing", A::query<IsMusicStreamPlaying>>(nullptr, "Whether the music is playing."),
    frame::property<"looping", get_looping, set_looping>(nullptr, "Whether the music starts again at its end."),
    A::volume<SetMusicVolume>(),
    A::pitch<SetMusicPitch>(),
    A::pan<SetMusicPan>(),
    frame::readonly<"length", get_time<GetMusicTimeLength>>(nullptr, "The length in seconds."),
    frame::readonly<"time_played", get_time<GetMusicTimePlayed>>(
        nullptr, "The time played so far, in seconds."),
    {"stream", get_stream, set_stream,
     "The music's stream, as an AudioStream that does not own it (replaceable, or None).", nullptr},
    {},
};

PySequenceMethods sequence = [] {
    PySequenceMethods s{};
    s.sq_length = length;
    return s;
}();

PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.music.music.Music", sizeof(M),
                                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE |
                                            Py_TPFLAGS_HAVE_GC);
    t.tp_dealloc = dealloc;
    t.tp_repr = repr;
    t.tp_doc = "Music streamed from a file; made by Music.load, played by calling update() from a loop.";
    t.tp_traverse = traverse;
    t.tp_clear = clear;
    t.tp_as_sequence = &sequence;
    t.tp_methods = methods;
    t.tp_getset = properties;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

const frame::TypeDef types[] = {
    frame::type_def<M>(type, &table, static_methods,
                       "self.raw cannot be converted to a Python object for pickling"),
};
const frame::SiblingDef siblings[] = {
    frame::sibling<AudioStream>("tavoro.audio_stream.audio_stream", "AudioStream"),
};

const frame::ModuleDef module = {
    .name = "music",
    .full_name = "tavoro.music.music",
    .source = "src/tavoro/music/music.cpp",
    .types = types,
    .siblings = siblings,
    .finish = [](PyObject*) { return audio_device::bind_api(); },
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(music, tavoro::module)
