from .sound import Sound

__all__ = ["Sound"]
