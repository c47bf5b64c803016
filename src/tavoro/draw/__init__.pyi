from tavoro.draw.draw import Camera2D as Camera2D
from tavoro.draw.draw import circle as circle
from tavoro.draw.draw import circle_lines as circle_lines
from tavoro.draw.draw import circle_sector as circle_sector
from tavoro.draw.draw import circles as circles
from tavoro.draw.draw import clear as clear
from tavoro.draw.draw import ellipse as ellipse
from tavoro.draw.draw import line as line
from tavoro.draw.draw import lines as lines
from tavoro.draw.draw import measure_text as measure_text
from tavoro.draw.draw import pixel as pixel
from tavoro.draw.draw import points as points
from tavoro.draw.draw import poly as poly
from tavoro.draw.draw import rect as rect
from tavoro.draw.draw import rect_lines as rect_lines
from tavoro.draw.draw import rect_rotated as rect_rotated
from tavoro.draw.draw import rect_rounded as rect_rounded
from tavoro.draw.draw import rects as rects
from tavoro.draw.draw import text as text
from tavoro.draw.draw import triangle as triangle

__all__ = [
    "Camera2D",
    "circle",
    "circle_lines",
    "circle_sector",
    "circles",
    "clear",
    "ellipse",
    "line",
    "lines",
    "measure_text",
    "pixel",
    "points",
    "poly",
    "rect",
    "rect_lines",
    "rect_rotated",
    "rect_rounded",
    "rects",
    "text",
    "triangle",
]
