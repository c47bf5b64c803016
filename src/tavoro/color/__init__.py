from .._lazy import exports

__all__ = ["Color"]

__getattr__, __dir__ = exports(globals(), {"Color": (".color", "Color")})
