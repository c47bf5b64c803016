"""raylib's audio device."""

from types import CapsuleType

# The native routines through which the audio modules register the objects that close() releases.
__pyx_capi__: dict[str, CapsuleType]

def init() -> None: ...
def close() -> None: ...
def ready() -> bool: ...
