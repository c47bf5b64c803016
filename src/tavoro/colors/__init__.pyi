from .colors import Colors as Colors
from .colors import colors as colors

__all__ = ["Colors", "colors"]
