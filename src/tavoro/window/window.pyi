"""The window raylib draws into, its frames, screenshots and input."""

import enum
import os
from types import CapsuleType, TracebackType
from typing import Literal, final

from tavoro.image.image import Image
from tavoro.vector2.vector2 import Vector2

_VectorLike = Vector2 | tuple[float, float] | list[float]
_Path = str | bytes | os.PathLike[str] | os.PathLike[bytes]

# The window's state, through which the drawing modules check that a frame is begun.
__pyx_capi__: dict[str, CapsuleType]

class Key(enum.IntEnum):
    APOSTROPHE = 39
    COMMA = 44
    MINUS = 45
    PERIOD = 46
    SLASH = 47
    ZERO = 48
    ONE = 49
    TWO = 50
    THREE = 51
    FOUR = 52
    FIVE = 53
    SIX = 54
    SEVEN = 55
    EIGHT = 56
    NINE = 57
    SEMICOLON = 59
    EQUAL = 61
    A = 65
    B = 66
    C = 67
    D = 68
    E = 69
    F = 70
    G = 71
    H = 72
    I = 73
    J = 74
    K = 75
    L = 76
    M = 77
    N = 78
    O = 79
    P = 80
    Q = 81
    R = 82
    S = 83
    T = 84
    U = 85
    V = 86
    W = 87
    X = 88
    Y = 89
    Z = 90
    LEFT_BRACKET = 91
    BACKSLASH = 92
    RIGHT_BRACKET = 93
    GRAVE = 96
    SPACE = 32
    ESCAPE = 256
    ENTER = 257
    TAB = 258
    BACKSPACE = 259
    INSERT = 260
    DELETE = 261
    RIGHT = 262
    LEFT = 263
    DOWN = 264
    UP = 265
    PAGE_UP = 266
    PAGE_DOWN = 267
    HOME = 268
    END = 269
    CAPS_LOCK = 280
    SCROLL_LOCK = 281
    NUM_LOCK = 282
    PRINT_SCREEN = 283
    PAUSE = 284
    F1 = 290
    F2 = 291
    F3 = 292
    F4 = 293
    F5 = 294
    F6 = 295
    F7 = 296
    F8 = 297
    F9 = 298
    F10 = 299
    F11 = 300
    F12 = 301
    LEFT_SHIFT = 340
    LEFT_CONTROL = 341
    LEFT_ALT = 342
    LEFT_SUPER = 343
    RIGHT_SHIFT = 344
    RIGHT_CONTROL = 345
    RIGHT_ALT = 346
    RIGHT_SUPER = 347
    KB_MENU = 348
    KP_0 = 320
    KP_1 = 321
    KP_2 = 322
    KP_3 = 323
    KP_4 = 324
    KP_5 = 325
    KP_6 = 326
    KP_7 = 327
    KP_8 = 328
    KP_9 = 329
    KP_DECIMAL = 330
    KP_DIVIDE = 331
    KP_MULTIPLY = 332
    KP_SUBTRACT = 333
    KP_ADD = 334
    KP_ENTER = 335
    KP_EQUAL = 336

class MouseButton(enum.IntEnum):
    LEFT = 0
    RIGHT = 1
    MIDDLE = 2
    SIDE = 3
    EXTRA = 4
    FORWARD = 5
    BACK = 6

@final
class Frame:
    """A window's frame as a context manager: `with window.frame():`."""

    def __enter__(self) -> Window: ...
    def __exit__(
        self,
        type: type[BaseException] | None,
        value: BaseException | None,
        traceback: TracebackType | None,
    ) -> bool: ...

@final
class Window:
    """The window raylib draws into; a process has one window at a time."""

    def __init__(
        self,
        width: int,
        height: int,
        title: str = ...,
        *,
        backend: Literal["auto", "headless", "desktop"] = ...,
        resizable: bool = ...,
        vsync: bool = ...,
    ) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> Window: ...
    def __exit__(
        self,
        type: type[BaseException] | None,
        value: BaseException | None,
        traceback: TracebackType | None,
    ) -> bool: ...
    def frame(self) -> Frame: ...
    def begin_frame(self) -> None: ...
    def end_frame(self) -> None: ...
    def screenshot(self) -> Image: ...
    def request_close(self) -> None: ...
    def toggle_fullscreen(self) -> None: ...
    def set_icon(self, icon: Image) -> None: ...
    @property
    def resizable(self) -> bool: ...
    @resizable.setter
    def resizable(self, value: bool) -> None: ...
    @property
    def vsync(self) -> bool: ...
    @vsync.setter
    def vsync(self, value: bool) -> None: ...
    @property
    def resized(self) -> bool: ...
    @property
    def fullscreen(self) -> bool: ...
    @property
    def monitor_size(self) -> tuple[int, int]: ...
    @property
    def monitor_refresh_rate(self) -> int: ...
    @property
    def render_size(self) -> tuple[int, int]: ...
    @property
    def dpi_scale(self) -> Vector2: ...
    @property
    def cursor_hidden(self) -> bool: ...
    @cursor_hidden.setter
    def cursor_hidden(self, value: bool) -> None: ...
    @property
    def should_close(self) -> bool: ...
    @property
    def is_open(self) -> bool: ...
    @property
    def in_frame(self) -> bool: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def size(self) -> tuple[int, int]: ...
    @property
    def backend(self) -> str: ...
    @property
    def title(self) -> str: ...
    @title.setter
    def title(self, value: str) -> None: ...
    @property
    def target_fps(self) -> int: ...
    @target_fps.setter
    def target_fps(self, value: int) -> None: ...
    @property
    def frame_time(self) -> float: ...
    @property
    def fps(self) -> float: ...
    @property
    def time(self) -> float: ...
    def is_key_down(self, key: int) -> bool: ...
    def is_key_up(self, key: int) -> bool: ...
    def is_key_pressed(self, key: int) -> bool: ...
    def is_key_released(self, key: int) -> bool: ...
    def get_key_pressed(self) -> int: ...
    def get_char_pressed(self) -> str: ...
    def is_mouse_button_down(self, button: int) -> bool: ...
    def is_mouse_button_up(self, button: int) -> bool: ...
    def is_mouse_button_pressed(self, button: int) -> bool: ...
    def is_mouse_button_released(self, button: int) -> bool: ...
    @property
    def mouse_position(self) -> Vector2: ...
    @property
    def mouse_delta(self) -> Vector2: ...
    @property
    def mouse_wheel(self) -> float: ...
    def is_gamepad_available(self, gamepad: int) -> bool: ...
    def is_gamepad_button_down(self, gamepad: int, button: int) -> bool: ...
    def gamepad_axis(self, gamepad: int, axis: int) -> float: ...
    def press_key(self, key: int) -> None: ...
    def release_key(self, key: int) -> None: ...
    def type_text(self, text: str) -> None: ...
    def move_mouse(self, position: _VectorLike) -> None: ...
    def press_mouse_button(self, button: int) -> None: ...
    def release_mouse_button(self, button: int) -> None: ...
    def scroll_mouse(self, amount: float) -> None: ...
    def start_recording(self) -> None: ...
    def stop_recording(self, path: _Path) -> int: ...
    def replay(self, path: _Path) -> None: ...
    @property
    def recording(self) -> bool: ...
    @property
    def replaying(self) -> bool: ...
