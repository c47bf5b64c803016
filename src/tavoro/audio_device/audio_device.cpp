// tavoro.audio_device.audio_device: opening and closing raylib's audio device, the register of
// loaded audio objects that closing it releases first, raylib's log (trace_log.hpp), the size of
// the streams' sub-buffers, and a capture of the device's mix (capture.hpp).
#include "audio_device.hpp"

#include "capture.hpp"
#include "trace_log.hpp"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace tavoro::audio_device {
namespace {

constexpr const char* forked_refusal =
    "the audio device cannot be opened in a process forked while it was open";
constexpr const char* no_device = "the audio device is not open";
constexpr const char* negative_frames = "frames must not be negative (got %d)";
constexpr const char* capture_length = "seconds must be more than 0 and at most 600 (got %R)";
constexpr double longest_capture = 600.0;

forked::ForkedDevice forked_device;

struct Entry {
    Release release;
    int rank;
};

// Borrowed: an object leaves the register when it releases its resource, which its destruction
// always does first.
std::unordered_map<PyObject*, Entry> loaded;

void track(PyObject* object, Release release, int rank) { loaded[object] = {release, rank}; }

void untrack(PyObject* object) { loaded.erase(object); }

// Releases every registered object, lower ranks first. A release may release others too (a sound
// releases its aliases), so each is looked up again before it runs.
void release_all() {
    std::vector<std::pair<PyObject*, int>> order;
    order.reserve(loaded.size());
    for (const auto& [object, entry] : loaded) order.emplace_back(object, entry.rank);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    for (const auto& [object, rank] : order) {
        auto found = loaded.find(object);
        if (found == loaded.end()) continue;
        Release release = found->second.release;
        loaded.erase(found);
        release(object);
    }
}

// raylib's threshold follows the logger's effective level when the device opens, and lets the
// lines that describe the device through while it opens (backend() reads them).
PyObject* init(PyObject*, PyObject*) {
    if (inherited_device()) {
        PyErr_SetString(PyExc_RuntimeError, forked_refusal);
        frame::traceback(nullptr, "init");
        return nullptr;
    }
    bool opened = IsAudioDeviceReady();
    if (!opened) {
        int wanted = trace_log::wanted_level();
        trace_log::forget_device();
        trace_log::take_alsa_errors();
        SetTraceLogLevel(std::min(wanted, static_cast<int>(LOG_INFO)));
        InitAudioDevice();
        SetTraceLogLevel(wanted);
        // What raylib did, before a handler of the lines it logged can change it (close it).
        opened = IsAudioDeviceReady();
        trace_log::hand_over();
    }
    if (opened) Py_RETURN_NONE;
    PyErr_SetString(PyExc_RuntimeError, "the audio device could not be opened");
    frame::traceback(nullptr, "init");
    return nullptr;
}

// Live sounds, music and streams stay usable as objects: they read as unloaded afterwards. A
// capture running is stopped, and stop_capture() still returns it.
// In a forked child the objects left in the register are forgotten: their resources belong to the
// parent's device.
PyObject* close(PyObject*, PyObject*) {
    if (inherited_device()) {
        loaded.clear();
        Py_RETURN_NONE;
    }
    if (IsAudioDeviceReady()) capture::detach();
    release_all();
    if (IsAudioDeviceReady()) CloseAudioDevice();
    trace_log::hand_over();
    Py_RETURN_NONE;
}

PyObject* ready(PyObject*, PyObject*) { return PyBool_FromLong(device_open()); }

// miniaudio's name of the backend ("PulseAudio", "ALSA", "Null"), None while the device is
// closed or when raylib did not say.
PyObject* backend(PyObject*, PyObject*) {
    trace_log::Device device = trace_log::device();
    if (!device_open() || !device.backend[0]) Py_RETURN_NONE;
    return PyUnicode_FromString(device.backend);
}

PyObject* sample_rate(PyObject*, PyObject*) {
    return PyLong_FromLong(device_open() ? trace_log::device().sample_rate : 0);
}

PyObject* channels(PyObject*, PyObject*) {
    return PyLong_FromLong(device_open() ? trace_log::device().channels : 0);
}

// 0 leaves the size to raylib (from the device's rate and format); streams loaded afterwards
// take it, and raylib raises a size below the device's period to the period.
int chosen_stream_buffer_frames = 0;

PyObject* set_stream_buffer_frames(PyObject*, PyObject* value) {
    int frames;
    if (!frame::to_int(value, frames)) return nullptr;
    if (frames < 0) return PyErr_Format(PyExc_ValueError, negative_frames, frames);
    chosen_stream_buffer_frames = frames;
    SetAudioStreamBufferSizeDefault(frames);
    Py_RETURN_NONE;
}

int get_stream_buffer_frames() { return chosen_stream_buffer_frames; }

PyObject* stream_buffer_frames(PyObject*, PyObject*) {
    return PyLong_FromLong(chosen_stream_buffer_frames);
}

PyObject* start_capture(PyObject*, PyObject* value) {
    double seconds;
    if (!frame::to_double(value, seconds)) return nullptr;
    if (!(seconds > 0.0 && seconds <= longest_capture))
        return PyErr_Format(PyExc_ValueError, capture_length, value);
    trace_log::Device device = trace_log::device();
    if (!device_open() || device.sample_rate <= 0 || device.channels <= 0) {
        PyErr_SetString(PyExc_RuntimeError, no_device);
        return nullptr;
    }
    auto frames = static_cast<std::size_t>(seconds * device.sample_rate + 0.5);
    if (!capture::start(frames, static_cast<std::size_t>(device.channels))) return PyErr_NoMemory();
    Py_RETURN_NONE;
}

PyObject* stop_capture(PyObject*, PyObject*) {
    if (inherited_device()) return Py_NewRef(frame::state.empty_bytes);
    capture::Captured taken = capture::stop();
    if (!taken.count) return Py_NewRef(frame::state.empty_bytes);
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(taken.samples.get()),
                                     static_cast<Py_ssize_t>(taken.count * sizeof(float)));
}

PyMethodDef functions[] = {
    {"init", init, METH_NOARGS,
     "Open the audio device. Audio objects can be loaded only while it is open."},
    {"close", close, METH_NOARGS,
     "Release every audio object still loaded, then close the audio device."},
    {"ready", ready, METH_NOARGS, "Whether the audio device is open."},
    {"backend", backend, METH_NOARGS,
     "The backend the open device plays through: 'PulseAudio', 'ALSA' or 'Null' (silent); None "
     "while the device is closed."},
    {"sample_rate", sample_rate, METH_NOARGS,
     "The open device's sample rate in frames per second; 0 while it is closed."},
    {"channels", channels, METH_NOARGS,
     "The open device's channel count (the mix's); 0 while it is closed."},
    {"set_stream_buffer_frames", set_stream_buffer_frames, METH_O,
     "Sets the size in frames of the two sub-buffers of the streams loaded from now on (an "
     "AudioStream's, a Music's); 0 lets raylib choose from the device."},
    {"stream_buffer_frames", stream_buffer_frames, METH_NOARGS,
     "The sub-buffer size set by set_stream_buffer_frames (0: raylib's choice)."},
    {"start_capture", start_capture, METH_O,
     "Starts capturing the device's mix, up to `seconds` of it (at most 600), dropping an "
     "earlier capture."},
    {"stop_capture", stop_capture, METH_NOARGS,
     "Stops the capture and returns the mix: interleaved float32 samples of channels() "
     "channels at sample_rate(), as bytes (empty when there was no capture). After close(), "
     "what was captured until the device closed."},
    {},
};

const frame::ExportDef exports[] = {
    {"track", track_signature, reinterpret_cast<void*>(&track)},
    {"untrack", untrack_signature, reinterpret_cast<void*>(&untrack)},
    {"hand_over_log", hand_over_log_signature, reinterpret_cast<void*>(&trace_log::hand_over)},
    {"stream_buffer_frames", stream_buffer_frames_signature,
     reinterpret_cast<void*>(&get_stream_buffer_frames)},
    {"forked_device", forked::device_signature, &forked_device},
    {"receive_log", receive_log_signature, reinterpret_cast<void*>(&trace_log::detail::receive)},
};

// The device module reads its own state and routines as the other audio modules do.
void bind_own_api() {
    api = {track, untrack, trace_log::hand_over, get_stream_buffer_frames, &forked_device};
}

// A capture still running at exit is detached before the buffer it writes goes; never in a forked
// child, whose audio lock may be held by a thread it does not have.
void detach_capture_at_exit() {
    if (!inherited_device() && IsAudioDeviceReady()) capture::at_exit();
}

const frame::ModuleDef module = {
    .name = "audio_device",
    .full_name = "tavoro.audio_device.audio_device",
    .source = "src/tavoro/audio_device/audio_device.cpp",
    .types = {},
    .exports = exports,
    .finish =
        [](PyObject* module) {
            bind_own_api();
            if (forked::watch<&forked_device, IsAudioDeviceReady>() < 0 ||
                Py_AtExit(detach_capture_at_exit) < 0) {
                PyErr_SetString(PyExc_OSError, "cannot register the device's fork and exit handlers");
                return -1;
            }
            trace_log::install();
            return PyModule_AddFunctions(module, functions);
        },
};

}  // namespace
}  // namespace tavoro::audio_device

TAVORO_MODULE(audio_device, tavoro::audio_device::module)
