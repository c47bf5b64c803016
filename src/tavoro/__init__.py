"""A typed, fast Python object layer over the raylib game and multimedia library.

The package's names load on first use: ``from tavoro import Vector2`` loads the vector module
alone, and raylib is loaded with the first audio name only. Each type also lives in its own
module, ``tavoro.<m>.<m>``, and its subpackage ``tavoro.<m>`` re-exports it.
"""

import sys
import types

from ._lazy import exports

__all__ = [
    "Vector2", "Vector3", "Vector4", "Rect", "Color", "Colors", "colors",
    "AudioStream", "Sound", "Music", "GlyphInfo", "audio_device",
    "Image", "Window", "Key", "MouseButton", "Camera2D", "draw",
]

__getattr__, __dir__ = exports(globals(), {
    "Vector2": (".vector2.vector2", "Vector2"),
    "Vector3": (".vector3.vector3", "Vector3"),
    "Vector4": (".vector4.vector4", "Vector4"),
    "Rect": (".rect.rect", "Rect"),
    "Color": (".color.color", "Color"),
    "Colors": (".colors.colors", "Colors"),
    "colors": (".colors.colors", "colors"),
    "AudioStream": (".audio_stream.audio_stream", "AudioStream"),
    "Sound": (".sound.sound", "Sound"),
    "Music": (".music.music", "Music"),
    "GlyphInfo": (".glyph_info.glyph_info", "GlyphInfo"),
    "audio_device": (".audio_device", None),
    "Image": (".image.image", "Image"),
    "Window": (".window.window", "Window"),
    "Key": (".window.window", "Key"),
    "MouseButton": (".window.window", "MouseButton"),
    "Camera2D": (".draw.draw", "Camera2D"),
    "draw": (".draw", None),
})


class _Package(types.ModuleType):
    """The package module. `tavoro.colors` is the palette, as `from tavoro import colors` says,
    although the import system binds the subpackage of that name here when it first loads."""

    @property
    def colors(self):
        palette = self.__dict__.get("colors")
        return palette if palette is not None else __getattr__("colors")

    @colors.setter
    def colors(self, value):
        # Only the import system binds the subpackage here; the palette stays.
        if value is not sys.modules.get(f"{__name__}.colors"):
            raise AttributeError(f"module {__name__!r} keeps its palette 'colors'")


sys.modules[__name__].__class__ = _Package
