"""Fonts from TrueType and OpenType files, and the window's default font."""

import os
from collections.abc import Sequence
from typing import final

from tavoro.color.color import Color
from tavoro.glyph_info.glyph_info import GlyphInfo
from tavoro.image.image import Image
from tavoro.vector2.vector2 import Vector2

_VectorLike = Vector2 | Sequence[float]
_ColorLike = Color | Sequence[int]

@final
class Font:
    """A font; made by Font.load or Font.default."""

    def __init__(self) -> None: ...
    @staticmethod
    def load(
        path: str | bytes | os.PathLike[str] | os.PathLike[bytes],
        size: int = 32,
        codepoints: str | Sequence[int] | None = None,
    ) -> Font: ...
    @staticmethod
    def default() -> Font: ...
    @property
    def size(self) -> int: ...
    @property
    def valid(self) -> bool: ...
    @property
    def glyphs(self) -> tuple[GlyphInfo, ...]: ...
    def measure_text(self, text: str, size: float, spacing: float = 0.0) -> Vector2: ...
    def draw_text(
        self,
        text: str,
        position: _VectorLike,
        size: float,
        color: _ColorLike,
        spacing: float = 0.0,
        image: Image | None = None,
    ) -> None: ...
    def glyph_image(self, codepoint: int) -> Image: ...
    def glyph_metrics(self, codepoint: int) -> tuple[int, int, int, int]: ...
    def unload(self) -> None: ...
