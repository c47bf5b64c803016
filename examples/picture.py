"""Pictures of the demo's run: frames drawn with Pillow from the particles' positions, the arena's
rectangles and the palette's colours, saved as an animated GIF and as one PNG frame."""

from pathlib import Path

from PIL import Image, ImageDraw

BACKGROUND = (18, 18, 28)
RADIUS = 2.5


class FilmStrip:
    """Keeps every `every`-th frame of the run as a picture of `size` pixels."""

    def __init__(self, size: tuple[int, int], every: int) -> None:
        self.size = size
        self.every = every
        self.frames: list[Image.Image] = []
        self._seen = 0

    def capture(self, positions, colours, rects, highlight=None) -> None:
        """Draws the rectangles (each a pair of a `Rect` and a palette colour) and the particles;
        `highlight`, a set of rectangle indices, draws those rectangles filled."""
        self._seen += 1
        if (self._seen - 1) % self.every:
            return
        picture = Image.new("RGB", self.size, BACKGROUND)
        draw = ImageDraw.Draw(picture)
        for index, (rect, colour) in enumerate(rects):
            box = (rect.left, rect.top, rect.right - 1, rect.bottom - 1)
            rgb = (colour.r, colour.g, colour.b)
            if highlight and index in highlight:
                draw.rectangle(box, fill=rgb)
            else:
                draw.rectangle(box, outline=rgb, width=2)
        for position, colour in zip(positions, colours):
            x, y = position
            draw.ellipse((x - RADIUS, y - RADIUS, x + RADIUS, y + RADIUS),
                         fill=(colour.r, colour.g, colour.b))
        self.frames.append(picture)

    def save(self, gif: Path, still: Path, frame_rate: float) -> None:
        """The whole strip as an animated GIF, and its middle frame as a PNG."""
        duration = round(1000 * self.every / frame_rate)
        first, *rest = self.frames
        first.save(gif, save_all=True, append_images=rest, duration=duration, loop=0,
                   optimize=True)
        self.frames[len(self.frames) // 2].save(still)
