// tavoro.audio_stream.audio_stream: a raw PCM stream that the caller feeds from its own loop, and
// the view of the stream inside a sound or music.
//
// An unloaded stream (released, never loaded, or a view whose owner has released its record)
// makes no raylib call: playback calls do nothing and the queries read False.
#include "audio_stream.hpp"

#include "../audio_device/audio_device.hpp"
#include "../shared/audio.hpp"
#include "../shared/audio_limits.hpp"

#include <vector>

// The size of a stream's sub-buffers, from raylib's own record of it (added to the raylib that
// set-up builds); bound weakly so that the module also loads against a raylib without it.
extern "C" unsigned int GetAudioStreamSubBufferFrames(::AudioStream stream) __attribute__((weak));

namespace tavoro {
namespace {

using S = AudioStream;

constexpr const char* view_initialised =
    "this AudioStream is the stream of a Sound or Music and cannot be initialised as another";
constexpr const char* sub_buffer_overflow =
    "frame_count is %d, but one update of this stream fills at most %u frames (its sub-buffer)";

S* as_stream(PyObject* object) { return reinterpret_cast<S*>(object); }

// The record the stream reads: the owner's for a view.
const ::AudioStream& record_of(const S* self) { return self->_shared ? *self->_shared : self->_raw; }

// The record to hand raylib, or null when there is no loaded stream.
const ::AudioStream* loaded(const S* self) {
    if (audio_device::inherited_device()) return nullptr;
    return record_of(self).buffer ? &record_of(self) : nullptr;
}

// Releases a stream this object owns; a view never releases its owner's stream.
void release(S* self) {
    if (!self->_is_owner || !self->_raw.buffer || audio_device::inherited_device()) return;
    audio_device::api.untrack(reinterpret_cast<PyObject*>(self));
    UnloadAudioStream(self->_raw);
    self->_raw.buffer = nullptr;
}

void release_entry(PyObject* self) { release(as_stream(self)); }

// Frames per sub-buffer: 0 for an unloaded stream, or when the raylib in use does not tell.
unsigned int buffer_frames(const S* self) {
    const ::AudioStream* record = loaded(self);
    return record && GetAudioStreamSubBufferFrames ? GetAudioStreamSubBufferFrames(*record) : 0;
}

// raylib drops an update larger than a sub-buffer (and only logs a line), so it is refused.
bool fits_sub_buffer(const S* self, int frame_count) {
    unsigned int frames = buffer_frames(self);
    if (frames == 0 || static_cast<unsigned int>(frame_count) <= frames) return true;
    PyErr_Format(PyExc_ValueError, sub_buffer_overflow, frame_count, frames);
    return false;
}

using A = audio::Members<S, ::AudioStream, loaded, release>;

void track_if_loaded(S* self) {
    if (self->_is_owner && self->_raw.buffer)
        audio_device::api.track(reinterpret_cast<PyObject*>(self), release_entry,
                                audio_device::owner_rank);
}

// Loads a new stream into `self`, releasing the one it owned before. A view stays its owner's.
bool load(S* self, int sample_rate, int sample_size, int channels) {
    if (self->_is_view) {
        PyErr_SetString(PyExc_TypeError, view_initialised);
        return false;
    }
    if (!audio_limits::check_layout(sample_rate, sample_size, channels) ||
        !audio_limits::check_stream_buffer(audio_device::api.stream_buffer_frames(), sample_size,
                                           channels))
        return false;
    if (!audio_device::require_open_device()) return false;
    release(self);
    self->_raw = LoadAudioStream(static_cast<unsigned>(sample_rate),
                                 static_cast<unsigned>(sample_size),
                                 static_cast<unsigned>(channels));
    self->_is_owner = 1;
    A::set_defaults(self);
    track_if_loaded(self);
    audio_device::api.hand_over_log();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Native entries

PyObject* cfrom_struct(::AudioStream record, AudioStreamFromStructArgs* optional) {
    S* self = A::allocate(S::type);
    if (!self) return nullptr;
    self->_raw = record;
    self->_is_owner = optional && optional->n > 0 ? optional->is_owner : 1;
    A::set_defaults(self);
    track_if_loaded(self);
    return reinterpret_cast<PyObject*>(self);
}

PyObject* new_stream(int sample_rate, int sample_size, int channels) {
    S* self = A::allocate(S::type);
    if (!self) return nullptr;
    if (!load(self, sample_rate, sample_size, channels)) {
        Py_DECREF(self);
        return nullptr;
    }
    return reinterpret_cast<PyObject*>(self);
}

constexpr AudioStreamTable table = {
    .cfrom_struct = cfrom_struct,
    .__pyx_new = new_stream,
    .c_unload = release,
};

// ---------------------------------------------------------------------------------------------
// Construction and destruction

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(A::allocate(type));
}

// __init__(sample_rate, sample_size, channels), by position or keyword.
int tp_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    static constexpr const char* names[] = {"sample_rate", "sample_size", "channels"};
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    std::vector<PyObject*> stack(&PyTuple_GET_ITEM(args, 0), &PyTuple_GET_ITEM(args, 0) + nargs);
    frame::Ref kwnames;
    if (kwargs && PyDict_GET_SIZE(kwargs)) {
        kwnames = frame::Ref(PyTuple_New(PyDict_GET_SIZE(kwargs)));
        if (!kwnames) return -1;
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        for (Py_ssize_t i = 0; PyDict_Next(kwargs, &pos, &key, &value); ++i) {
            PyTuple_SET_ITEM(kwnames.get(), i, Py_NewRef(key));
            stack.push_back(value);
        }
    }
    PyObject* bound[3];
    int values[3];
    bool done = frame::bind("__init__", names, stack.data(), nargs, kwnames.get(), bound) &&
                frame::to_int(bound[0], values[0]) && frame::to_int(bound[1], values[1]) &&
                frame::to_int(bound[2], values[2]) &&
                load(as_stream(self), values[0], values[1], values[2]);
    if (done) return 0;
    frame::traceback(S::type, "__init__");
    return -1;
}

void dealloc(PyObject* object) {
    S* self = as_stream(object);
    A::release_keeping_error(self);
    leave_owner(self);
    Py_TYPE(object)->tp_free(object);
}

// ---------------------------------------------------------------------------------------------
// Methods and properties

// "<AudioStream 22050 Hz, 16-bit, mono, 12800-frame sub-buffers, owner>", or a view's.
PyObject* repr(PyObject* object) {
    S* self = as_stream(object);
    char details[64];
    std::snprintf(details, sizeof details, "%u-frame sub-buffers, %s", buffer_frames(self),
                  self->_is_owner ? "owner" : "view");
    return audio::describe(object, loaded(self), nullptr, details);
}

PyObject* get_buffer_frames(S* self, void*) { return PyLong_FromUnsignedLong(buffer_frames(self)); }

PyMethodDef methods[] = {
    frame::method<"unload", A::unload>("Releases the stream; a second call does nothing."),
    frame::method<"update", A::update<UpdateAudioStream, record_of, fits_sub_buffer>, "data", "frame_count">("Queues frame_count frames of samples from the buffer data."),
    frame::method<"play", A::control<PlayAudioStream>>("Starts playing the stream."),
    frame::method<"pause", A::control<PauseAudioStream>>("Pauses the stream."),
    frame::method<"resume", A::control<ResumeAudioStream>>("Resumes the paused stream."),
    frame::method<"stop", A::control<StopAudioStream>>("Stops the stream."),
    {},
};

PyGetSetDef properties[] = {
    frame::readonly<"valid", A::query<IsAudioStreamValid>>(nullptr, "Whether the stream is loaded."),
    frame::readonly<"processed", A::query<IsAudioStreamProcessed>>(
        nullptr, "Whether the stream wants more samples."),
    frame::readonly<"playing", A::query<IsAudioStreamPlaying>>(nullptr, "Whether the stream is playing."),
    A::volume<SetAudioStreamVolume>(),
    A::pitch<SetAudioStreamPitch>(),
    A::pan<SetAudioStreamPan>(),
    frame::readonly<"buffer_frames", get_buffer_frames>(
        nullptr, "The most frames one update() takes: the size of one of the stream's two "
                 "sub-buffers, which raylib plays in turn (0 when unloaded or unknown)."),
    {},
};

PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.audio_stream.audio_stream.AudioStream", sizeof(S),
                                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE);
    t.tp_dealloc = dealloc;
    t.tp_repr = repr;
    t.tp_doc = "A raw audio stream fed by the caller: AudioStream(sample_rate, sample_size, channels).";
    t.tp_methods = methods;
    t.tp_getset = properties;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

const frame::TypeDef types[] = {
    frame::type_def<S>(type, &table, nullptr,
                       "self._raw cannot be converted to a Python object for pickling"),
};

const frame::ModuleDef module = {
    .name = "audio_stream",
    .full_name = "tavoro.audio_stream.audio_stream",
    .source = "src/tavoro/audio_stream/audio_stream.cpp",
    .types = types,
    .finish = [](PyObject*) { return audio_device::bind_api(); },
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(audio_stream, tavoro::module)
