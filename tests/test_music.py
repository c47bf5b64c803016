"""Music on raylib's audio device: loading, playback driven by the test's own loop, looping,
seeking, the replaceable stream, len(), the native table's dispatch to Python overrides, and
releases."""

import ctypes
import gc
import os
import pickle
import time

import pytest

from tavoro.audio_stream.audio_stream import AudioStream
from tavoro.music.music import Music

STREAM = "tavoro.audio_stream.audio_stream.AudioStream"


def raises(error, message, call, *args, **kwargs):
    with pytest.raises(error) as raised:
        call(*args, **kwargs)
    assert str(raised.value) == message


def play_for(music, seconds):
    """Plays `music` from the test's loop for about `seconds`; returns the times played seen."""
    seen = []
    music.play()
    start = time.monotonic()
    while time.monotonic() - start < seconds:
        music.update()
        seen.append(music.time_played)
        time.sleep(0.01)
    return seen


@pytest.fixture
def tone(audio, write_wav):
    return write_wav(2.5)


def test_loaded_music(tone):
    music = Music.load(tone)
    assert music.valid and music.looping
    assert (music.volume, music.pitch, music.pan) == (1.0, 1.0, 0.0)
    assert isinstance(music.stream, AudioStream) and music.stream.valid
    assert music.length == 2.5 and music.time_played == 0.0


@pytest.mark.parametrize("seconds, rounded", [(0.4, 0), (2.5, 2), (3.5, 4), (1.6, 2)])
def test_len_rounds_the_length(audio, write_wav, seconds, rounded):
    music = Music.load(write_wav(seconds))
    assert len(music) == rounded and bool(music) == (rounded != 0)


def test_len_uses_a_subclass_length(tone):
    class Longer(Music):
        length = 7.5

    assert len(Longer()) == 8


@pytest.mark.parametrize("kind", ["missing", "corrupt"])
def test_files_that_do_not_load(audio, tmp_path, kind):
    path = tmp_path / "music.wav"
    if kind == "corrupt":
        path.write_bytes(os.urandom(4000))
    music = Music.load(str(path))
    assert (music.valid, music.length, music.time_played, len(music), bool(music)) == (
        False, 0.0, 0.0, 0, False)
    for call in (music.play, music.update, music.pause, music.resume, music.stop):
        call()
    music.seek(1.0)
    music.unload()


@pytest.mark.parametrize(
    "argument, error, message",
    [
        (None, TypeError,
         "Argument 'filename' has incorrect type (expected str, bytes or os.PathLike, got NoneType)"),
        ("\udc80.wav", UnicodeEncodeError, None),
    ],
)
def test_load_refusals(audio, argument, error, message):
    with pytest.raises(error) as raised:
        Music.load(argument)
    assert message is None or str(raised.value) == message


def test_empty_music(audio):
    music = Music(1, 2)
    assert (music.valid, music.stream, music.volume, music.length, len(music)) == (
        False, None, 0.0, 0.0, 0)
    music.play()
    music.seek(2.0)
    music.update()
    assert music.time_played == 0.0


def test_time_played_advances_with_update(tone):
    music = Music.load(tone)
    seen = play_for(music, 0.3)
    assert 0.0 < seen[-1] < 1.0 and seen == sorted(seen)
    assert music.stream.playing
    music.pause()
    paused = music.time_played
    music.update()
    time.sleep(0.05)
    music.update()
    assert music.time_played == paused
    music.resume()
    music.stop()
    assert music.time_played == 0.0 and not music.stream.playing


def test_seek(tone):
    music = Music.load(tone)
    music.play()
    music.seek(1.5)
    assert music.time_played == pytest.approx(1.5, abs=0.05)
    with pytest.raises(TypeError):
        music.seek("1")


@pytest.mark.parametrize("looping", [True, False])
def test_looping(audio, write_wav, looping):
    music = Music.load(write_wav(0.5))
    music.looping = looping
    seen = play_for(music, 0.8)
    assert max(seen) > 0.3
    # past its end a looping music starts again, a music that does not loop stops
    assert music.stream.playing == looping
    assert (0.0 < music.time_played < 0.5) if looping else music.time_played == 0.0


def test_looping_accepts_only_bools_and_none(audio):
    music = Music()
    music.looping = True
    assert music.looping is True
    music.looping = None
    assert music.looping is False
    raises(TypeError, "Argument 'value' has incorrect type (expected bool, got int)",
           setattr, music, "looping", 1)
    raises(NotImplementedError, "__del__", delattr, music, "looping")


def test_stream_is_replaceable(tone):
    music = Music.load(tone)
    own = music.stream
    raises(TypeError, f"Cannot convert int to {STREAM}", setattr, music, "stream", 3)
    music.stream = None
    assert music.stream is None
    music.stream = own
    del music.stream
    assert music.stream is None
    other = AudioStream(22050, 16, 1)
    music.stream = other
    assert music.stream is other
    music.play()
    assert own.playing  # replacing the reference does not touch playback
    del music
    gc.collect()
    assert not own.valid and other.valid


def test_settings_unload_and_pickling(tone):
    music = Music.load(tone)
    music.volume, music.pitch, music.pan = 0.5, 1.5, -1
    assert (music.volume, music.pitch, music.pan) == (0.5, 1.5, -1.0)
    view = music.stream
    view.unload()  # a view never releases its owner's stream
    assert music.valid
    music.unload()
    music.unload()
    assert (music.valid, view.valid, music.length) == (False, False, 0.0)
    view.play()
    assert not view.playing
    message = "self.raw cannot be converted to a Python object for pickling"
    raises(TypeError, message, pickle.dumps, music)
    raises(TypeError, message, music.__setstate__, None)


# Native table, called through ctypes as another module would call it

SLOTS = ["__pyx_new", "c_load", "c_unload", "play", "stop", "pause", "resume", "update", "seek"]
capsule_pointer = ctypes.PYFUNCTYPE(ctypes.c_void_p, ctypes.py_object, ctypes.c_char_p)(
    ("PyCapsule_GetPointer", ctypes.pythonapi))


def slot(name, *argtypes, restype=None):
    table = capsule_pointer(vars(Music)["__pyx_vtable__"], None)
    address = ctypes.c_void_p.from_address(table + ctypes.sizeof(ctypes.c_void_p) * SLOTS.index(name)).value
    return ctypes.PYFUNCTYPE(restype, *argtypes)(address)


@pytest.mark.parametrize("name", ["play", "stop", "pause", "resume", "update"])
def test_skip_dispatch_runs_python_overrides(tone, name):
    calls = []

    class Traced(Music):
        pass

    setattr(Traced, name, lambda self: calls.append(name))
    music = Traced()
    entry = slot(name, ctypes.py_object, ctypes.c_int)
    entry(music, 0)
    entry(music, 1)
    entry(Music(), 0)
    assert calls == [name]


def test_skip_dispatch_seek_and_errors(tone):
    class Traced(Music):
        def seek(self, position):
            raise KeyError(position)

    seek = slot("seek", ctypes.py_object, ctypes.c_float, ctypes.c_int)
    with pytest.raises(KeyError) as raised:
        seek(Traced(), 0.5, 0)
    assert raised.value.args == (0.5,)
    seek(Traced(), 0.5, 1)


def test_c_load_and_c_unload(tone):
    music = slot("c_load", ctypes.py_object, restype=ctypes.py_object)(tone)
    assert music.valid and music.pan == 0.0
    slot("c_unload", ctypes.py_object)(music)
    assert not music.valid


def test_each_music_is_released_once(release_log, write_wav):
    calls = release_log(
        f"""
        from tavoro import audio_device
        from tavoro.music import Music
        audio_device.init()
        path = {write_wav(0.5)!r}
        a = Music.load(path); a.unload(); a.unload(); view = a.stream; del a, view
        b = Music.load(path); b.stream = None; del b
        Music.load("/no/such/file.ogg")
        d = Music.load(path)
        audio_device.close()
        del d
        """
    )
    assert [function for function, _ in calls] == [
        "LoadMusicStream", "UnloadMusicStream",
        "LoadMusicStream", "UnloadMusicStream",
        "LoadMusicStream", "UnloadMusicStream",
    ]
