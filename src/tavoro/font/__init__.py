from .._lazy import exports

__all__ = ["Font"]

__getattr__, __dir__ = exports(globals(), {"Font": (".font", "Font")})
