"""One glyph record of a font."""

from typing import NoReturn

from typing_extensions import disjoint_base

@disjoint_base
class GlyphInfo:
    """A glyph of a font and its image; made by the modules that hold fonts."""

    def __init__(self) -> None: ...
    def __reduce__(self) -> NoReturn: ...
    def __setstate__(self, state: object) -> NoReturn: ...
