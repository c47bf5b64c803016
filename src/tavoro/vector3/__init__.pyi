from .vector3 import Vector3 as Vector3

__all__ = ["Vector3"]

def __dir__() -> list[str]: ...
