from .._lazy import exports

__all__ = ["GlyphInfo"]

__getattr__, __dir__ = exports(globals(), {"GlyphInfo": (".glyph_info", "GlyphInfo")})
