"""A typed, fast Python object layer over the raylib game and multimedia library."""

from tavoro import audio_device as audio_device
from tavoro import draw as draw
from tavoro.audio_stream.audio_stream import AudioStream as AudioStream
from tavoro.color.color import Color as Color
from tavoro.colors import Palette
from tavoro.colors.colors import Colors as Colors
from tavoro.draw.draw import Camera2D as Camera2D
from tavoro.font.font import Font as Font
from tavoro.glyph_info.glyph_info import GlyphInfo as GlyphInfo
from tavoro.image.image import Image as Image
from tavoro.music.music import Music as Music
from tavoro.rect.rect import Rect as Rect
from tavoro.sound.sound import Sound as Sound
from tavoro.texture.texture import Texture as Texture
from tavoro.vector2.vector2 import Vector2 as Vector2
from tavoro.vector3.vector3 import Vector3 as Vector3
from tavoro.vector4.vector4 import Vector4 as Vector4
from tavoro.window.window import Key as Key
from tavoro.window.window import MouseButton as MouseButton
from tavoro.window.window import Window as Window

# The subpackage tavoro.colors, which reads and writes as the ready palette.
colors: Palette

__all__ = [
    "Vector2",
    "Vector3",
    "Vector4",
    "Rect",
    "Color",
    "Colors",
    "colors",
    "AudioStream",
    "Sound",
    "Music",
    "GlyphInfo",
    "audio_device",
    "Image",
    "Window",
    "Key",
    "MouseButton",
    "Camera2D",
    "draw",
    "Texture",
    "Font",
]

def __dir__() -> list[str]: ...
