from .rect import Rect as Rect

__all__ = ["Rect"]

def __dir__() -> list[str]: ...
