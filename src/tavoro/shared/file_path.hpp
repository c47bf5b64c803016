// The path of a file to load (audio, images, fonts): what open() takes (a str, bytes, or an
// os.PathLike that gives either), a str encoded strictly as UTF-8 and bytes as they are.
#pragma once

#include "frame.hpp"

#include <climits>
#include <initializer_list>
#include <strings.h>
#include <sys/stat.h>

namespace tavoro {

// The extension of a file name (from its last dot, in the last component, not leading), or null.
inline const char* file_extension(const char* path) {
    const char* dot = std::strrchr(path, '.');
    const char* slash = std::strrchr(path, '/');
    if (!dot || (slash && dot < slash) || dot == path || (slash && dot == slash + 1)) return nullptr;
    return dot;
}

// Whether raylib may be handed the file at all: an existing regular file (raylib reads a
// directory as a file), not empty, of a size raylib's int sizes hold, whose name ends in one of
// `known`, in any case (raylib compares a missing extension as a string). Files that fail read
// as not loaded, without a raylib call; `size` receives the file's size.
inline bool checked_file(const char* path, std::initializer_list<const char*> known, long long* size = nullptr) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (info.st_size <= 0 || info.st_size > INT_MAX) return false;
    if (size) *size = info.st_size;
    const char* dot = file_extension(path);
    if (!dot) return false;
    for (const char* extension : known)
        if (strcasecmp(dot, extension) == 0) return true;
    return false;
}

inline bool checked_audio_file(const char* path) {
    return checked_file(path, {".wav", ".ogg", ".mp3", ".qoa", ".flac", ".xm", ".mod"});
}

constexpr const char* path_types = "str, bytes or os.PathLike";
constexpr const char* path_type_refused =
    "Argument '%.200s' has incorrect type (expected %s, got %.200s)";
constexpr const char* embedded_null = "embedded null character in path";

// A path as bytes (a new reference), or null with the exception set. A NUL inside would silently
// cut the path short in raylib, so it is refused.
inline frame::Ref path_bytes(frame::Ref path) {
    if (path && PyUnicode_Check(path.get())) path = frame::Ref(PyUnicode_AsUTF8String(path.get()));
    if (!path) return {};
    if (std::strlen(PyBytes_AS_STRING(path.get())) !=
        static_cast<std::size_t>(PyBytes_GET_SIZE(path.get()))) {
        PyErr_SetString(PyExc_ValueError, embedded_null);
        return {};
    }
    return path;
}

// The native entry's path: a str (None passes the type test and fails when asked for its
// encoding), as bytes, or null with the exception set.
inline frame::Ref encode_path(PyObject* path) {
    if (path == Py_None) {
        PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", "encode");
        return {};
    }
    return path_bytes(frame::Ref(PyUnicode_AsUTF8String(path)));
}

// The Python-visible load's path, `argument` naming it in the refusal: as bytes, or null with the
// exception set (an __fspath__ that fails or gives neither str nor bytes raises as open() does).
inline frame::Ref file_path(const char* argument, PyObject* path) {
    static PyObject* fspath = PyUnicode_InternFromString("__fspath__");  // kept for good
    if (!fspath) return {};
    if (!PyUnicode_Check(path) && !PyBytes_Check(path)) {
        PyObject* method;
        int found = PyObject_GetOptionalAttr(reinterpret_cast<PyObject*>(Py_TYPE(path)), fspath,
                                             &method);
        if (found < 0) return {};
        Py_XDECREF(method);
        if (found == 0) {
            PyErr_Format(PyExc_TypeError, path_type_refused, argument, path_types,
                         Py_TYPE(path)->tp_name);
            return {};
        }
    }
    frame::Ref given(PyOS_FSPath(path));
    if (!given) return {};
    return path_bytes(std::move(given));
}

}  // namespace tavoro
