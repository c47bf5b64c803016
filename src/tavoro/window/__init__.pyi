from tavoro.window.window import Key as Key
from tavoro.window.window import MouseButton as MouseButton
from tavoro.window.window import Window as Window

__all__ = ["Key", "MouseButton", "Window"]
