"""Native entry points for the tests, through ctypes: a slot of a type's native table (the
`__pyx_vtable__` capsule) and the parser routines (the capsules under `__pyx_capi__`). Calls run
with the interpreter lock held, and ctypes raises the exception a call leaves pending."""

import ctypes

from tavoro.parser import parser

_capsule_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_capsule_pointer.restype = ctypes.c_void_p
_capsule_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]


def capsule_pointer(capsule, name=None):
    """The capsule's pointer; ValueError if the capsule has another name."""
    return _capsule_pointer(capsule, name)


def native_slot(cls, index, restype, *argtypes):
    """Slot `index` of the type's native table as a callable."""
    table = capsule_pointer(cls.__dict__["__pyx_vtable__"])
    address = ctypes.c_void_p.from_address(table + index * ctypes.sizeof(ctypes.c_void_p)).value
    return ctypes.PYFUNCTYPE(restype, *argtypes)(address)


class Vector2Record(ctypes.Structure):
    _fields_ = [("x", ctypes.c_float), ("y", ctypes.c_float)]


class RectangleRecord(ctypes.Structure):
    _fields_ = [(name, ctypes.c_float) for name in ("x", "y", "width", "height")]


class ColorRecord(ctypes.Structure):
    _fields_ = [(name, ctypes.c_uint8) for name in "rgba"]


# Each parser routine's capsule name (its C signature) and the record it returns.
PARSERS = {
    "parse_color_like": (b"struct Color (PyObject *)", ColorRecord),
    "parse_rect_like": (b"struct Rectangle (PyObject *)", RectangleRecord),
    "parse_vector2_like": (b"struct Vector2 (PyObject *)", Vector2Record),
}


def parser_routine(name):
    """The exported routine as a callable returning the record's fields as a tuple."""
    signature, record = PARSERS[name]
    function = ctypes.PYFUNCTYPE(record, ctypes.py_object)(
        capsule_pointer(parser.__pyx_capi__[name], signature))

    def call(obj):
        result = function(obj)
        return tuple(getattr(result, field) for field, _ in record._fields_)

    return call
