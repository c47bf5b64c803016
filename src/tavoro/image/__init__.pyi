from .image import Image as Image

__all__ = ["Image"]

def __dir__() -> list[str]: ...
