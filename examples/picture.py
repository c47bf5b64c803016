"""Pictures of the demo's run: each frame is drawn with tavoro's own drawing into a headless
window, and every few frames a screenshot is kept; the run is saved as one PNG frame (the
screenshot's own export) and an animated GIF (Pillow assembles the kept screenshots).

A sprite sheet of four frames of a turning star is drawn on the CPU into an Image, written as a
PNG, loaded back as a texture and drawn a frame at a time through a source rectangle; the caption
is set in the TrueType test font."""

import math
from pathlib import Path

import numpy

from tavoro import draw
from tavoro.colors.colors import colors
from tavoro.font import Font
from tavoro.image.image import Image
from tavoro.texture import Texture
from tavoro.window import Window

FONT = Path(__file__).resolve().parent.parent / "tests" / "data" / "fonts" / "DejaVuSansMono-ascii.ttf"

BACKGROUND = (18, 18, 28)
RADIUS = 2.5


def star_sheet() -> Image:
    """Four 32x32 frames of a star turning by an eighth of a turn each, side by side."""
    sheet = Image.from_buffer(numpy.zeros((32, 128, 4), numpy.uint8))
    for frame in range(4):
        centre = (frame * 32 + 16, 16)
        for arm in range(5):
            angle = (arm / 5 + frame / 20) * 2 * math.pi
            tip = (centre[0] + 14 * math.cos(angle), centre[1] + 14 * math.sin(angle))
            side = angle + math.pi / 2
            base = [(centre[0] + 4 * math.cos(side) * s, centre[1] + 4 * math.sin(side) * s) for s in (1, -1)]
            sheet.draw_triangle(tip, *base, colors.Gold)
        sheet.draw_circle(centre, 4, colors.Orange)
    return sheet


class FilmStrip:
    """Draws the run into `window` and keeps every `every`-th frame as a screenshot."""

    def __init__(self, window: Window, every: int, workdir: Path) -> None:
        self.window = window
        self.every = every
        self.frames: list[Image] = []
        self._seen = 0
        sheet_file = workdir / "star-sheet.png"
        star_sheet().export(sheet_file)
        self.sheet = Texture.load(sheet_file)
        self.font = Font.load(FONT, 16)

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
        frame = self._seen // 6 % 4
        self.sheet.draw((600, 8, 32, 32), source=(frame * 32, 0, 32, 32))
        draw.rect((0, 452, 640, 28), (0, 0, 0, 160))
        self.font.draw_text(caption, (8, 458), 16, colors.WhiteSmoke)
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
