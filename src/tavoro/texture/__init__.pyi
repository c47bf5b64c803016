from .texture import Texture as Texture

__all__ = ["Texture"]

def __dir__() -> list[str]: ...
