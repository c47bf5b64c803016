// The path of an audio file, as Sound.load and Music.load take it: exactly a str (None passes the
// type test and fails when asked for its encoding), encoded strictly as UTF-8.
#pragma once

#include "frame.hpp"

#include <climits>
#include <strings.h>
#include <sys/stat.h>

namespace tavoro {

// Whether raylib may be handed the file at all: an existing regular file (raylib reads a
// directory as a file), not empty, of a size raylib's int sizes hold, whose name ends in the
// extension of a format raylib decodes (raylib compares a missing extension as a string). Files
// that fail read as not loaded, without a raylib call.
inline bool checked_audio_file(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (info.st_size <= 0 || info.st_size > INT_MAX) return false;
    const char* dot = std::strrchr(path, '.');
    const char* slash = std::strrchr(path, '/');
    if (!dot || (slash && dot < slash) || dot == path || (slash && dot == slash + 1)) return false;
    for (const char* known : {".wav", ".ogg", ".mp3", ".qoa", ".flac", ".xm", ".mod"})
        if (strcasecmp(dot, known) == 0) return true;
    return false;
}

inline bool check_path_type(const char* argument, PyObject* path) {
    if (path == Py_None || PyUnicode_CheckExact(path)) return true;
    return frame::raise_incorrect_type(argument, &PyUnicode_Type, path);
}

// The encoded path, or null with the exception set. A NUL inside the text would silently cut the
// path short in raylib, so it is refused.
inline frame::Ref encode_path(PyObject* path) {
    if (path == Py_None) {
        PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", "encode");
        return {};
    }
    frame::Ref encoded(PyUnicode_AsUTF8String(path));
    if (encoded && std::strlen(PyBytes_AS_STRING(encoded.get())) !=
                       static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get()))) {
        PyErr_SetString(PyExc_ValueError, "embedded null character in path");
        return {};
    }
    return encoded;
}

// The path as load() checks it: an os.PathLike whose path is a str (a pathlib.Path) gives that
// str; anything else is itself, to be checked and refused as before. A new reference, or null
// with the exception set when __fspath__ fails.
inline frame::Ref path_argument(PyObject* path) {
    static PyObject* fspath = PyUnicode_InternFromString("__fspath__");  // kept for good
    if (path == Py_None || PyUnicode_Check(path) || PyBytes_Check(path))
        return frame::Ref(Py_NewRef(path));
    if (!fspath) return {};
    PyObject* method;
    int found = PyObject_GetOptionalAttr(reinterpret_cast<PyObject*>(Py_TYPE(path)), fspath,
                                         &method);
    if (found < 0) return {};
    if (found == 0) return frame::Ref(Py_NewRef(path));
    Py_DECREF(method);
    frame::Ref text(PyOS_FSPath(path));
    if (!text) return {};
    return frame::Ref(Py_NewRef(PyUnicode_CheckExact(text.get()) ? text.get() : path));
}

}  // namespace tavoro
