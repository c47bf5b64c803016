"""Drawing into the window's frame with the package's types."""

from .draw import (
    Camera2D,
    circle,
    circle_lines,
    circle_sector,
    circles,
    clear,
    ellipse,
    line,
    lines,
    measure_text,
    pixel,
    points,
    poly,
    rect,
    rect_lines,
    rect_rotated,
    rect_rounded,
    rects,
    text,
    triangle,
)

__all__ = [
    "Camera2D", "circle", "circle_lines", "circle_sector", "circles", "clear", "ellipse", "line",
    "lines", "measure_text", "pixel", "points", "poly", "rect", "rect_lines", "rect_rotated",
    "rect_rounded", "rects", "text", "triangle",
]
