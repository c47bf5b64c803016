from .colors import Colors, colors

__all__ = ["Colors", "colors"]
