from .music import Music

__all__ = ["Music"]
