from .color import Color as Color

__all__ = ["Color"]

def __dir__() -> list[str]: ...
