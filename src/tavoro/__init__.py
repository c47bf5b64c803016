"""A typed, fast Python object layer over the raylib game and multimedia library.

The package's names load on first use: ``from tavoro import Vector2`` loads the vector module
alone, and raylib is loaded with the first audio name only. Each type also lives in its own
module, ``tavoro.<m>.<m>``, and its subpackage ``tavoro.<m>`` re-exports it. ``colors`` is the
subpackage ``tavoro.colors``, which reads and writes as the ready palette of its module.
"""

from ._lazy import exports

__all__ = [
    "Vector2", "Vector3", "Vector4", "Rect", "Color", "Colors", "colors",
    "AudioStream", "Sound", "Music", "GlyphInfo", "audio_device",
    "Image", "Window", "Key", "MouseButton", "Camera2D", "draw", "Texture", "Font",
]

__getattr__, __dir__ = exports(globals(), {
    "Vector2": (".vector2.vector2", "Vector2"),
    "Vector3": (".vector3.vector3", "Vector3"),
    "Vector4": (".vector4.vector4", "Vector4"),
    "Rect": (".rect.rect", "Rect"),
    "Color": (".color.color", "Color"),
    "Colors": (".colors.colors", "Colors"),
    "colors": (".colors", None),
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
    "Texture": (".texture.texture", "Texture"),
    "Font": (".font.font", "Font"),
})
