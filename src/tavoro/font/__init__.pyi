from .font import Font as Font

__all__ = ["Font"]

def __dir__() -> list[str]: ...
