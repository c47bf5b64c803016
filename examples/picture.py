"""Pictures of the demo's run: each frame is drawn with tavoro's own drawing into a headless
window, and every few frames a screenshot is kept; the run is saved as one PNG frame (the
screenshot's own export) and an animated GIF (Pillow assembles the kept screenshots)."""

from pathlib import Path

import numpy

from tavoro import draw
from tavoro.colors.colors import colors
from tavoro.image.image import Image
from tavoro.window import Window

BACKGROUND = (18, 18, 28)
RADIUS = 2.5


class FilmStrip:
    """Draws the run into `window` and keeps every `every`-th frame as a screenshot."""

    def __init__(self, window: Window, every: int) -> None:
        self.window = window
        self.every = every
        self.frames: list[Image] = []
        self._seen = 0

    def draw(self, positions, colours, rects, highlight, caption: str) -> None:
        """Draws the rectangles (each a pair of a `Rect` and a palette colour; those whose index is
        in `highlight` filled), the particles and a caption into the frame that is begun."""
        draw.clear(BACKGROUND)
        for index, (rect, colour) in enumerate(rects):
            if index in highlight:
                draw.rect(rect, colour)
            else:
                draw.rect_lines(rect, colour, 2)
        draw.circles(positions, RADIUS, colours)
        draw.rect((0, 452, 640, 28), (0, 0, 0, 160))
        draw.text(caption, (8, 458), 16, colors.WhiteSmoke)
        self._seen += 1
        if (self._seen - 1) % self.every == 0:
            self.frames.append(self.window.screenshot())

    def save(self, gif: Path, still: Path, frame_rate: float) -> None:
        """The middle frame as a PNG, and the whole strip as an animated GIF."""
        self.frames[len(self.frames) // 2].export(still)
        from PIL import Image as Picture  # Pillow, installed for the demo alone

        pictures = [Picture.fromarray(numpy.asarray(frame)[:, :, :3]) for frame in self.frames]
        first, *rest = pictures
        first.save(gif, save_all=True, append_images=rest, duration=round(1000 * self.every / frame_rate),
                   loop=0, optimize=True)
