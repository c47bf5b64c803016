// Interface of tavoro.glyph_info.glyph_info: the GlyphInfo record and its native table.
#pragma once

#include "../shared/frame.hpp"
#include "../shared/records.hpp"

namespace tavoro {

struct GlyphInfoTable {
    // A glyph holding a copy of `raw` and an Image view of its pixels, which stay the caller's.
    // A new reference, or null with the exception set.
    PyObject* (*__pyx_new)(rl::GlyphInfo raw);
};

struct GlyphInfo {
    PyObject_HEAD
    const GlyphInfoTable* table;
    rl::GlyphInfo _raw;
    PyObject* _image;  // an Image sharing _raw.image.data without owning it, or None

    using Table = GlyphInfoTable;
    static inline PyTypeObject* type = nullptr;
    static inline const GlyphInfoTable* vtable = nullptr;
};

}  // namespace tavoro
