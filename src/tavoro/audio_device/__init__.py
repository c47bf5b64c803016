"""raylib's audio device.

Open it with ``init()`` before loading any ``AudioStream``, ``Sound`` or ``Music``, and close it
with ``close()`` when the program is done with audio; ``close()`` releases every audio object that
is still loaded (they read ``valid`` False afterwards).
"""

from .audio_device import close, init, ready

__all__ = ["close", "init", "ready"]
