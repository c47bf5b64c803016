from .._lazy import exports

__all__ = ["Rect"]

__getattr__, __dir__ = exports(globals(), {"Rect": (".rect", "Rect")})
