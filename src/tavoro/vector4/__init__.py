from .._lazy import exports

__all__ = ["Vector4"]

__getattr__, __dir__ = exports(globals(), {"Vector4": (".vector4", "Vector4")})
