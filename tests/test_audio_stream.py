"""AudioStream on raylib's audio device: construction, feeding samples, cached settings, views
and the audio-device module."""

import copy
import pickle
import struct

import numpy
import pytest

from tavoro.audio_stream.audio_stream import AudioStream


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def raises(error, message, call, *args, **kwargs):
    with pytest.raises(error) as raised:
        call(*args, **kwargs)
    assert str(raised.value) == message


def test_new_stream(audio):
    stream = AudioStream(44100, 16, 2)
    assert (stream.valid, stream.playing) == (True, False)
    assert (stream.volume, stream.pitch, stream.pan) == (1.0, 1.0, 0.0)
    stream.play()
    assert stream.playing
    stream.pause()
    assert not stream.playing
    stream.resume()
    assert stream.playing
    stream.stop()
    assert not stream.playing


def test_keywords_and_subclass(audio):
    class Mine(AudioStream):
        pass

    stream = Mine(channels=1, sample_size=8, sample_rate=8000)
    assert stream.valid and isinstance(stream, AudioStream)


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((44100, 16), {}, TypeError, "__init__() takes exactly 3 positional arguments (2 given)"),
        ((44100, 16, 1, 1), {}, TypeError, "__init__() takes exactly 3 positional arguments (4 given)"),
        ((44100, 16, 1), {"rate": 1}, TypeError, "__init__() got an unexpected keyword argument 'rate'"),
        ((2**31, 16, 1), {}, OverflowError, "value too large to convert to int"),
        ((44100, "16", 1), {}, TypeError, "an integer is required"),
    ],
)
def test_constructor_refusals(audio, args, kwargs, error, message):
    raises(error, message, AudioStream, *args, **kwargs)


# (Negative values are refused before raylib sees them: tests/test_boundary.py.)
@pytest.mark.parametrize("args", [(0, 16, 1), (44100, 16, 0), (0, 8, 0)])
def test_streams_raylib_cannot_make_are_not_valid(audio, args):
    stream = AudioStream(*args)
    assert not stream.valid
    stream.play()
    stream.update(b"", 0)
    assert not stream.playing


# A pan beyond its range, and a pitch of 0 or less, do not play: tests/test_boundary.py.
@pytest.mark.parametrize("name, value, read", [("volume", 2.5, 2.5), ("volume", -1, -1.0), ("pitch", 2.5, 2.5),
                                               ("pan", -1, -1.0), *((n, 0.1, f32(0.1)) for n in ("volume", "pitch", "pan"))])
def test_cached_settings(audio, name, value, read):
    stream = AudioStream(22050, 16, 1)
    setattr(stream, name, value)
    assert getattr(stream, name) == read
    stream.unload()
    setattr(stream, name, 0.25)
    assert getattr(stream, name) == 0.25
    raises(NotImplementedError, "__del__", delattr, stream, name)
    with pytest.raises(TypeError):
        setattr(stream, name, "loud")


@pytest.mark.parametrize(
    "size, channels, data, frames",
    [
        (16, 1, b"\0" * 2000, 1000),
        (8, 2, bytearray(2000), 1000),
        (32, 2, memoryview(bytes(8000)), 1000),
        (16, 1, numpy.zeros(1000, numpy.int16), 1000),
        (32, 2, numpy.zeros((1000, 2), numpy.float32), 1000),
        (16, 1, b"", 0),
    ],
)
def test_update_takes_any_buffer(audio, size, channels, data, frames):
    stream = AudioStream(22050, size, channels)
    stream.play()
    assert stream.update(data, frames) is None


@pytest.mark.parametrize(
    "size, channels, data, frames, message",
    [
        (16, 1, b"\0" * 1999, 1000, "data holds 1999 bytes, but 1000 frames of this stream need 2000 bytes"),
        (16, 2, numpy.zeros(1000, numpy.int16), 1000, "data holds 2000 bytes, but 1000 frames of this stream need 4000 bytes"),
        (32, 1, bytes(3000), 1000, "data holds 3000 bytes, but 1000 frames of this stream need 4000 bytes"),
        (16, 1, b"", -1, "frame_count must not be negative (got -1)"),
    ],
)
def test_update_refuses_short_buffers(audio, size, channels, data, frames, message):
    raises(ValueError, message, AudioStream(22050, size, channels).update, data, frames)


def test_update_argument_errors(audio):
    stream = AudioStream(22050, 16, 1)
    raises(TypeError, "a bytes-like object is required, not 'int'", stream.update, 5, 0)
    # frame_count is converted before the buffer is asked for
    raises(TypeError, "an integer is required", stream.update, 5, "0")
    raises(TypeError, "update() takes exactly 2 positional arguments (1 given)", stream.update, b"")


def test_unload_twice_and_use_after(audio):
    stream = AudioStream(22050, 16, 1)
    stream.unload()
    stream.unload()
    assert not stream.valid
    stream.play()
    stream.update(bytes(20), 10)
    assert (stream.playing, stream.processed) == (False, False)


def test_pickling_is_refused(audio):
    message = "self._raw cannot be converted to a Python object for pickling"
    stream = AudioStream(22050, 16, 1)
    raises(TypeError, message, pickle.dumps, stream)
    raises(TypeError, message, copy.copy, stream)
    raises(TypeError, message, stream.__setstate__, {})


def test_loading_needs_the_open_device():
    from tavoro import audio_device

    audio_device.close()
    assert not audio_device.ready()
    raises(
        RuntimeError,
        "the audio device is not open: call tavoro.audio_device.init() before loading audio",
        AudioStream, 22050, 16, 1,
    )


def test_close_releases_live_streams(audio):
    stream = AudioStream(22050, 16, 1)
    stream.play()
    audio.close()
    assert not audio.ready()
    assert (stream.valid, stream.playing) == (False, False)
    stream.play()
    stream.unload()
    audio.init()
    assert audio.ready()


def test_each_stream_is_released_once(release_log):
    calls = release_log(
        """
        from tavoro import audio_device
        from tavoro.audio_stream import AudioStream
        audio_device.init()
        a = AudioStream(22050, 16, 1)
        a.unload(); a.unload(); del a
        b = AudioStream(22050, 16, 1)
        b.__init__(8000, 8, 2)      # initialising again releases the first stream
        del b
        c = AudioStream(22050, 16, 1)
        audio_device.close()        # releases c
        del c
        AudioStream.__new__(AudioStream).unload()
        """
    )
    assert [function for function, _ in calls] == [
        "LoadAudioStream", "UnloadAudioStream",
        "LoadAudioStream", "UnloadAudioStream", "LoadAudioStream", "UnloadAudioStream",
        "LoadAudioStream", "UnloadAudioStream",
    ]


# ---------------------------------------------------------------------------------------------
# The sub-buffer and the sample format


def test_update_refuses_more_than_a_sub_buffer(audio):
    stream = AudioStream(22050, 16, 1)
    frames = stream.buffer_frames
    assert frames > 0
    stream.update(bytes(2 * frames), frames)
    raises(
        ValueError,
        f"frame_count is {frames + 1}, but one update of this stream fills at most {frames} "
        "frames (its sub-buffer)",
        stream.update, bytes(2 * frames + 2), frames + 1,
    )
    stream.unload()
    assert stream.buffer_frames == 0
    stream.update(bytes(2 * frames + 2), frames + 1)  # unloaded: nothing to fill


@pytest.mark.parametrize(
    "size, data, message",
    [
        (32, numpy.zeros(8, numpy.float64), "data holds items of 8 bytes (format 'd'), but the samples of this stream are 4 bytes"),
        (16, numpy.zeros(8, numpy.float32), "data holds items of 4 bytes (format 'f'), but the samples of this stream are 2 bytes"),
        (8, numpy.zeros(8, numpy.int16), "data holds items of 2 bytes (format 'h'), but the samples of this stream are 1 bytes"),
        (32, memoryview(bytes(16)).cast("h"), "data holds items of 2 bytes (format 'h'), but the samples of this stream are 4 bytes"),
        (32, numpy.zeros(8, "i4"), "data holds items of format 'i', but the samples of this stream are 32-bit floats in the machine's byte order (format 'f')"),
        (16, numpy.zeros(8, ">i2"), "data holds items of format '>h', but the samples of this stream are 16-bit signed ints in the machine's byte order (format 'h')"),
        (16, numpy.zeros(8, "e"), "data holds items of format 'e', but the samples of this stream are 16-bit signed ints in the machine's byte order (format 'h')"),
        (8, numpy.zeros(8, "?"), "data holds items of format '?', but the samples of this stream are 8-bit unsigned ints in the machine's byte order (format 'B')"),
    ],
)
def test_update_refuses_typed_buffers_of_another_sample_size(audio, size, data, message):
    raises(TypeError, message, AudioStream(22050, size, 1).update, data, 2)


@pytest.mark.parametrize(
    "size, data",
    [
        (32, numpy.zeros(8, numpy.uint8)),
        (16, numpy.zeros(8, numpy.int8)),
        (32, memoryview(bytes(8)).cast("c")),
        (32, numpy.zeros(2, "<f4")),
        (16, numpy.zeros(2, "<i2")),
        (16, memoryview(bytes(4)).cast("h")),
    ],
)
def test_update_takes_raw_bytes_and_matching_items(audio, size, data):
    assert AudioStream(22050, size, 1).update(data, 2) is None
