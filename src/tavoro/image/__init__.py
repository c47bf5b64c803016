from .._lazy import exports

__all__ = ["Image"]

__getattr__, __dir__ = exports(globals(), {"Image": (".image", "Image")})
