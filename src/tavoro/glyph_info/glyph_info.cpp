// tavoro.glyph_info.glyph_info: one glyph of a font, as modules that hold glyph records hand it to
// Python. The pixels of the glyph's image belong to the font: the glyph's Image is a view that
// never frees them, and the glyph itself frees nothing but its reference to that view.
#include "glyph_info.hpp"

#include "../shared/siblings.hpp"

namespace tavoro {
namespace {

using G = GlyphInfo;

G* as_glyph(PyObject* object) { return reinterpret_cast<G*>(object); }

constexpr const char* pickling_refusal =
    "self._raw cannot be converted to a Python object for pickling";

G* allocate(PyTypeObject* type) {
    G* self = frame::allocate<G>(type);
    if (!self) return nullptr;
    self->_image = Py_NewRef(Py_None);
    return self;
}

// ---------------------------------------------------------------------------------------------
// Native entry

PyObject* new_glyph(rl::GlyphInfo raw) {
    frame::Ref self(reinterpret_cast<PyObject*>(allocate(G::type)));
    if (!self) return nullptr;
    G* glyph = as_glyph(self.get());
    glyph->_raw = raw;
    const ImageNewOptional not_owner = {.n = 1, .is_owner = 0};
    PyObject* image = Image::vtable->__pyx_new(raw.image, &not_owner);
    if (!image) return nullptr;
    Py_SETREF(glyph->_image, image);
    return self.release();
}

constexpr GlyphInfoTable table = {
    .__pyx_new = new_glyph,
};

// ---------------------------------------------------------------------------------------------
// Construction, collection and destruction

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(allocate(type));
}

// GlyphInfo(...) is an empty glyph whatever it is given: glyphs with content are made natively.
int tp_init(PyObject*, PyObject*, PyObject*) { return 0; }

int traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_glyph(self)->_image);
    return 0;
}

int clear(PyObject* self) {
    Py_SETREF(as_glyph(self)->_image, Py_NewRef(Py_None));
    return 0;
}

void dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    Py_CLEAR(as_glyph(self)->_image);
    Py_TYPE(self)->tp_free(self);
}

// ---------------------------------------------------------------------------------------------
// Pickling is refused, but only once the arguments are right: __reduce__ takes none and
// __setstate__ one.

PyObject* reduce(G*) {
    PyErr_SetString(PyExc_TypeError, pickling_refusal);
    return nullptr;
}

PyObject* setstate(G*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, pickling_refusal);
    return nullptr;
}

PyMethodDef methods[] = {
    frame::method<"__reduce__", reduce>("Refuses pickling."),
    frame::method<"__setstate__", setstate, "state">("Refuses pickling."),
    {},
};

PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.glyph_info.glyph_info.GlyphInfo", sizeof(G),
                                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE |
                                            Py_TPFLAGS_HAVE_GC);
    t.tp_dealloc = dealloc;
    t.tp_doc = "A glyph of a font and its image.";
    t.tp_traverse = traverse;
    t.tp_clear = clear;
    t.tp_methods = methods;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

// The refusal is this type's own __reduce__ and __setstate__ above, so the frame installs none.
const frame::TypeDef types[] = {frame::type_def<G>(type, &table)};
const frame::SiblingDef siblings[] = {frame::sibling<Image>("tavoro.image.image", "Image")};

const frame::ModuleDef module = {
    .name = "glyph_info",
    .full_name = "tavoro.glyph_info.glyph_info",
    .source = "src/tavoro/glyph_info/glyph_info.cpp",
    .types = types,
    .siblings = siblings,
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(glyph_info, tavoro::module)
