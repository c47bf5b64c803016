from .._lazy import exports

__all__ = ["Vector3"]

__getattr__, __dir__ = exports(globals(), {"Vector3": (".vector3", "Vector3")})
