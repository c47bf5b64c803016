"""Typed use of every module, checked by mypy --strict against the stubs (tests/test_typing.py)
and also run, so that what type-checks here also works.

Lines marked `# type: ignore[...]` must stay errors: mypy's unused-ignore warning fails the check
when a stub starts to accept them. They sit in `refused()`, which is never called.
"""

import copy
import math
import struct
from typing import assert_type

import numpy

from tavoro import audio_device
from tavoro.audio_stream.audio_stream import AudioStream
from tavoro.color.color import Color
from tavoro.colors.colors import Colors, colors
from tavoro.glyph_info.glyph_info import GlyphInfo
from tavoro.image.image import Image
from tavoro.music.music import Music
from tavoro.rect.rect import Rect
from tavoro.sound.sound import Sound
from tavoro.vector2.vector2 import Vector2
from tavoro.vector3.vector3 import Vector3
from tavoro.vector4.vector4 import Vector4


class ForeignVector:
    """A vector of another library: what the constructors take by its clamp_magnitude_ip."""

    def __init__(self, x: float, y: float, z: float = 0.0) -> None:
        self.x, self.y, self.z = x, y, z

    def clamp_magnitude_ip(self, max_length: float) -> None:
        pass


def vectors() -> None:
    v = Vector2(3, 4)
    w = Vector2((1.5, 2)) + Vector2([1, 2]) - Vector2(Vector2()) + Vector2(ForeignVector(1, 2))
    assert_type(v + w, Vector2)
    assert_type(v * 2, Vector2)
    assert_type(v * w, Vector2)
    assert_type(v / 2.5, Vector2)
    assert_type(v // w, Vector2)
    assert_type(-v, Vector2)
    v += w
    v -= w
    v *= w
    assert_type(v.length, float)
    assert_type(v.dot(w), float)
    assert_type(v.distance_to(other=w), float)
    assert_type(v.distance_squared_to(w), float)
    assert_type(v.get_tuple(), tuple[float, float])
    assert_type(v.get_int_tuple(), tuple[int, int])
    assert_type(v.get_rounded_tuple(), tuple[int, int])
    assert_type(v.to_round().to_abs().to_neg().to_normalized(), Vector2)
    assert_type(v.get_round(), Vector2)
    assert_type(v.yx, Vector2)
    assert_type(v.data, dict[str, float])
    v.data = {"x": 1, "y": numpy.float32(2.5)}
    v.x = numpy.float64(1.0)
    v[1] = 7
    assert_type(v[0], float)
    v.sadd(new_vec=v, old_vec=w)
    assert_type(Vector2.from_xy(1, 2), Vector2)
    assert_type(Vector2.from_ints(x=1, y=2), Vector2)
    assert_type(Vector2.from_tuple((1, 2)), Vector2)
    assert_type(copy.deepcopy(v), Vector2)
    x, y = v
    assert_type(x, float)
    assert_type(tuple(v), tuple[float, ...])
    assert math.dist(v, w) >= 0 and len(struct.pack("2f", *v)) == 8
    assert hash(v) == hash(v.get_tuple())

    u = Vector3(1, 2, 3)
    assert_type(u.cross(Vector3((0, 1, 0))), Vector3)
    assert_type(u.zyx.xxz, Vector3)
    assert_type(Vector3.from_xyz(1, 2, 3) * 0.5, Vector3)
    assert_type(Vector3(ForeignVector(1, 2, 3)).get_tuple(), tuple[float, float, float])
    a, b, c = u
    assert_type(a + b + c, float)

    # Geometry: to_... returns the receiver's type for chaining, get_... a new vector.
    assert_type(v.to_rotated(90).to_lerp(w, 0.5).to_clamped_magnitude(2), Vector2)
    assert_type(v.get_rotated_rad(1.5).get_reflected(w).get_slerp(w, t=0.25), Vector2)
    assert_type(v.get_moved_towards(w, max_distance=1).get_projected(w).get_scaled_to_length(3), Vector2)
    assert_type(v.angle_to(w) + v.cross(w) + v.length_squared(), float)
    assert_type(v.as_polar(), tuple[float, float])
    assert_type(Vector2.from_polar(*v.as_polar()), Vector2)
    assert_type(u.to_rotated(30, Vector3(0, 0, 1)).get_rotated_x(90).get_rotated_z_rad(0.5), Vector3)
    assert_type(u.get_slerp(Vector3(1, 0, 0), 0.5).angle_to(u), float)

    q = Vector4(1, 2, 3, 4)
    q.w = 5
    assert_type(q.z, float)


def rectangles() -> None:
    r = Rect(10, 20, 30, 40)
    assert Rect((1, 2), Vector2(3, 4)) == Rect(Vector2(1, 2), [3, 4]) == Rect([1, 2, 3, 4])
    assert Rect(Vector2(3, 4)) == Rect(Rect(0, 0, 3, 4)) == Rect(Vector4(0, 0, 3, 4))
    r.right = 100
    r.center = (0, 0)
    r.center = Vector2(1, 2)
    r.width += 1
    assert_type(r.center, Vector2)
    assert_type(r.centerx, float)
    assert_type(r.collide_point((1, 2)), bool)
    assert_type(r.collide_point_vector2(Vector2()), bool)
    assert_type(r.collide_rect(Vector4(0, 0, 1, 1)), bool)
    assert_type(r.collide_rect_tuple(other=(0, 0, 1, 1)), bool)
    assert_type(r.get_vector4(), Vector4)
    assert_type(r.get_tuple(), tuple[float, float, float, float])
    left, top, width, height = r
    assert_type(width, float)
    assert_type(list(r), list[float])
    r.topleft = (0, 0)
    r.midbottom = Vector2(5, 5)
    r.size = [3, 4]
    assert_type(r.bottomright, Vector2)
    assert_type(r.size, Vector2)
    assert_type(r.get_moved(1, 2), Rect)
    assert_type(r.to_moved(Vector2(1, 2)), Rect)
    assert_type(r.get_inflated((2, 2)), Rect)
    assert_type(r.get_scaled(0.5), Rect)
    assert_type(r.to_scaled(2, 3), Rect)
    assert_type(r.get_clamped((0, 0, 100, 100)), Rect)
    assert_type(r.to_union(Rect(0, 0, 1, 1)), Rect)
    assert_type(r.get_clipped(Vector4(0, 0, 5, 5)), Rect)
    assert_type(r.get_fitted([0, 0, 10, 10]), Rect)
    assert_type(r.contains((1, 1, 1, 1)), bool)
    assert_type(r.clip_line(0, 0, 10, 10), tuple[Vector2, Vector2] | tuple[()])
    assert_type(r.clip_line((0, 0), Vector2(10, 10)), tuple[Vector2, Vector2] | tuple[()])
    assert_type(r.collide_list([r, (0, 0, 1, 1)]), int)
    assert_type(r.collide_list_all((r, Vector4(0, 0, 1, 1))), list[int])
    assert_type(r.collide_points([Vector2(), (1, 2)]), list[int])


def palette() -> None:
    red: Color = colors.Red
    assert_type(red.fade(0.5), Color)
    assert_type(red.to_int(), int)
    own = Colors()
    own.Red = Color(200, 0, 0, 255)
    own.Blue = None
    del own.Green
    assert_type(own.CornflowerBlue.r, int)
    assert_type(colors["Tomato"], Color)
    assert_type(colors.get("tomato"), Color | None)
    assert_type(colors.get("tomato", colors.Red), Color)
    assert_type(len(colors), int)
    assert_type(list(colors), list[str])


def audio(path: str) -> None:
    audio_device.init()
    try:
        assert_type(audio_device.ready(), bool)
        stream = AudioStream(22050, 16, 1)
        stream.update(numpy.zeros(100, numpy.int16), 100)
        stream.update(bytes(200), frame_count=100)
        stream.volume = 0.5
        assert_type(stream.playing, bool)
        sound = Sound.load(path)
        alias = Sound.load_alias(sound)
        assert_type(alias.stream, AudioStream | None)
        assert_type(sound.frame_count, int)
        music = Music.load(filename=path)
        music.looping = None
        music.stream = None
        music.seek(0.5)
        assert_type(music.time_played, float)
        assert_type(len(music), int)
        for thing in (alias, sound, music, stream):
            thing.unload()
    finally:
        audio_device.close()


def others() -> None:
    image = Image()
    assert_type(image.is_owner, bool)
    assert_type(image.width, int)
    glyph = GlyphInfo()
    assert glyph is not None


def refused(v: Vector2, r: Rect, music: Music, sound: Sound, stream: AudioStream) -> None:
    v + 1  # type: ignore[operator]
    v *= 2  # type: ignore[arg-type]
    2 * v  # type: ignore[operator]
    v < v  # type: ignore[operator]
    v.xx = v  # type: ignore[misc]
    v.length = 1.0  # type: ignore[misc]
    v.dot((1, 2))  # type: ignore[arg-type]
    v.get_reflected((0, 1))  # type: ignore[arg-type]
    v.get_lerp(Vector3(1, 2, 3), 0.5)  # type: ignore[arg-type]
    v.length_squared + 1  # type: ignore[operator]
    Vector3(1, 2, 3).get_rotated(90)  # type: ignore[call-arg]
    Vector3(1, 2, 3).cross(v)  # type: ignore[arg-type]
    Vector2(1, 2, 3)  # type: ignore[call-overload]
    Vector2("ab")  # type: ignore[call-overload]
    Vector3(1, 2)  # type: ignore[call-overload]
    Vector2.from_tuple([1, 2])  # type: ignore[arg-type]
    r.collide_point_tuple([1, 2])  # type: ignore[arg-type]
    Rect(1, 2, 3)  # type: ignore[call-overload]
    colors.Red = (255, 0, 0, 255)  # type: ignore[assignment]
    Colors(1)  # type: ignore[call-arg]
    colors[1]  # type: ignore[index]
    r.collide_list(r)  # type: ignore[arg-type]
    music.looping = 1  # type: ignore[assignment]
    music.valid = True  # type: ignore[misc]
    sound.stream = None  # type: ignore[misc]
    Sound.load(None)  # type: ignore[arg-type]
    stream.update("text", 1)  # type: ignore[arg-type]
    Image(1)  # type: ignore[call-arg]


def drawing() -> None:
    from tavoro import Camera2D, Key, MouseButton, Window, draw

    with Window(32, 24, "typed") as window:
        camera = Camera2D(target=(0, 0), offset=Vector2(16, 12), zoom=2.0)
        with window.frame():
            draw.clear((0, 0, 0))
            draw.rect(Rect(1, 2, 3, 4), (255, 0, 0))
            draw.rects([(0.0, 0.0, 2.0, 2.0)], [(1, 2, 3)])
            draw.line((0, 0), Vector2(5, 5), (0, 255, 0), thickness=2.0)
            with camera:
                draw.circle((0, 0), 3, (0, 0, 255))
            size: Vector2 = draw.measure_text("typed", 10)
            pixels = memoryview(window.screenshot())
        pressed: bool = window.is_key_pressed(Key.A) or window.is_mouse_button_down(MouseButton.LEFT)
        where: Vector2 = camera.screen_to_world(window.mouse_position)

    def refused() -> None:  # type-checked, never run
        window.target_fps = "60"  # type: ignore[assignment]
        draw.rect(Rect(0, 0, 1, 1))  # type: ignore[call-arg]

    del size, pixels, pressed, where, refused


if __name__ == "__main__":
    import sys
    import tempfile
    import wave

    vectors()
    rectangles()
    palette()
    others()
    drawing()
    with tempfile.TemporaryDirectory() as directory:
        path = f"{directory}/tone.wav"
        with wave.open(path, "wb") as out:
            out.setnchannels(1)
            out.setsampwidth(2)
            out.setframerate(22050)
            out.writeframes(bytes(22050))
        audio(path)
    print("ok", file=sys.stderr)
