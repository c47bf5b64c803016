"""raylib's audio device.

Open it with ``init()`` before loading any ``AudioStream``, ``Sound`` or ``Music``, and close it
with ``close()`` when the program is done with audio; ``close()`` releases every audio object that
is still loaded (they read ``valid`` False afterwards).

The device plays through PulseAudio or ALSA where the machine has a sound server or card, and
otherwise opens miniaudio's silent null device; ``backend()`` tells which. raylib's log goes to
the ``logging`` logger ``tavoro.raylib``. ``start_capture()`` and ``stop_capture()`` record the
mix the device plays, as float32 samples.
"""

from .audio_device import (
    backend,
    channels,
    close,
    init,
    ready,
    sample_rate,
    set_stream_buffer_frames,
    start_capture,
    stop_capture,
    stream_buffer_frames,
)

__all__ = [
    "backend",
    "channels",
    "close",
    "init",
    "ready",
    "sample_rate",
    "set_stream_buffer_frames",
    "start_capture",
    "stop_capture",
    "stream_buffer_frames",
]
