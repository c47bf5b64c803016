from .audio_stream import AudioStream

__all__ = ["AudioStream"]
