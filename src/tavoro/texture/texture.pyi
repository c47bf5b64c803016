"""Textures of the window and render targets."""

import os
from collections.abc import Sequence
from types import TracebackType
from typing import Literal, final

from tavoro.color.color import Color
from tavoro.image.image import Image
from tavoro.rect.rect import Rect
from tavoro.vector2.vector2 import Vector2

_VectorLike = Vector2 | Sequence[float]
_RectLike = Rect | Sequence[float]
_ColorLike = Color | Sequence[int]

@final
class Texture:
    """A texture of the window, or a render target; made by from_image, load or render_target."""

    def __init__(self) -> None: ...
    @staticmethod
    def from_image(image: Image) -> Texture: ...
    @staticmethod
    def load(path: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> Texture: ...
    @staticmethod
    def render_target(width: int, height: int) -> Texture: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def valid(self) -> bool: ...
    @property
    def is_target(self) -> bool: ...
    @property
    def filter(self) -> Literal["nearest", "bilinear"]: ...
    @filter.setter
    def filter(self, value: Literal["nearest", "bilinear"]) -> None: ...
    def draw(
        self,
        dest: _RectLike,
        source: _RectLike | None = None,
        origin: _VectorLike | None = None,
        rotation: float = 0.0,
        tint: _ColorLike | None = None,
    ) -> None: ...
    def to_image(self) -> Image: ...
    def unload(self) -> None: ...
    def __enter__(self) -> Texture: ...
    def __exit__(
        self,
        type: type[BaseException] | None,
        value: BaseException | None,
        traceback: TracebackType | None,
    ) -> bool: ...
