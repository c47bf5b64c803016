from .._lazy import exports

__all__ = ["Texture"]

__getattr__, __dir__ = exports(globals(), {"Texture": (".texture", "Texture")})
