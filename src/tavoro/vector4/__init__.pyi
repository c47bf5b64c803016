from .vector4 import Vector4 as Vector4

__all__ = ["Vector4"]

def __dir__() -> list[str]: ...
