from .vector2 import Vector2 as Vector2

__all__ = ["Vector2"]

def __dir__() -> list[str]: ...
