from .glyph_info import GlyphInfo as GlyphInfo

__all__ = ["GlyphInfo"]

def __dir__() -> list[str]: ...
