"""The window raylib draws into, its frames, screenshots and input."""

from .window import Key, MouseButton, Window

__all__ = ["Key", "MouseButton", "Window"]
