from .._lazy import exports

__all__ = ["Vector2"]

__getattr__, __dir__ = exports(globals(), {"Vector2": (".vector2", "Vector2")})
