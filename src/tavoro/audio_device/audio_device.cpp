// tavoro.audio_device.audio_device: opening and closing raylib's audio device, and the register
// of loaded audio objects that closing it releases first.
#include "audio_device.hpp"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace tavoro::audio_device {
namespace {

constexpr const char* forked_refusal =
    "the audio device cannot be opened in a process forked while it was open";

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

PyObject* init(PyObject*, PyObject*) {
    if (inherited_device) {
        PyErr_SetString(PyExc_RuntimeError, forked_refusal);
        frame::traceback(nullptr, "init");
        return nullptr;
    }
    // raylib narrates every load and release on standard output; keep to warnings and errors.
    SetTraceLogLevel(LOG_WARNING);
    if (!IsAudioDeviceReady()) InitAudioDevice();
    if (IsAudioDeviceReady()) Py_RETURN_NONE;
    PyErr_SetString(PyExc_RuntimeError, "the audio device could not be opened");
    frame::traceback(nullptr, "init");
    return nullptr;
}

// Live sounds, music and streams stay usable as objects: they read as unloaded afterwards.
// In a forked child the objects left in the register are forgotten: their resources belong to the
// parent's device.
PyObject* close(PyObject*, PyObject*) {
    if (inherited_device) {
        loaded.clear();
        Py_RETURN_NONE;
    }
    release_all();
    if (IsAudioDeviceReady()) CloseAudioDevice();
    Py_RETURN_NONE;
}

PyObject* ready(PyObject*, PyObject*) { return PyBool_FromLong(device_open()); }

PyMethodDef functions[] = {
    {"init", init, METH_NOARGS,
     "Open the audio device. Audio objects can be loaded only while it is open."},
    {"close", close, METH_NOARGS,
     "Release every audio object still loaded, then close the audio device."},
    {"ready", ready, METH_NOARGS, "Whether the audio device is open."},
    {},
};

const frame::ExportDef exports[] = {
    {"track", track_signature, reinterpret_cast<void*>(&track)},
    {"untrack", untrack_signature, reinterpret_cast<void*>(&untrack)},
};

const frame::ModuleDef module = {
    .name = "audio_device",
    .full_name = "tavoro.audio_device.audio_device",
    .source = "src/tavoro/audio_device/audio_device.cpp",
    .types = {},
    .exports = exports,
    .finish = [](PyObject* module) {
        if (watch_forks() < 0) {
            PyErr_SetString(PyExc_OSError, "cannot register a fork handler");
            return -1;
        }
        return PyModule_AddFunctions(module, functions);
    },
};

}  // namespace
}  // namespace tavoro::audio_device

TAVORO_MODULE(audio_device, tavoro::audio_device::module)
