"""Sound on raylib's audio device: loading, aliases and their sources, the stream view, updates
and releases."""

import gc
import os
import pathlib
import pickle

import numpy
import pytest

from tavoro.audio_stream.audio_stream import AudioStream
from tavoro.sound.sound import Sound

NAME = "tavoro.sound.sound.Sound"


def raises(error, message, call, *args, **kwargs):
    with pytest.raises(error) as raised:
        call(*args, **kwargs)
    assert str(raised.value) == message


@pytest.fixture
def tone(audio, write_wav):
    return write_wav(0.5)


def test_loaded_sound(tone):
    sound = Sound.load(tone)
    assert (sound.valid, sound.is_alias, sound.playing) == (True, False, False)
    assert (sound.volume, sound.pitch, sound.pan) == (1.0, 1.0, 0.0)
    assert sound.stream is sound.stream and isinstance(sound.stream, AudioStream)
    assert sound.stream.valid
    sound.play()
    assert sound.playing
    sound.pause()
    assert not sound.playing
    sound.resume()
    assert sound.playing
    sound.stop()
    assert not sound.playing


def test_frame_count_follows_length(audio, write_wav):
    half, whole = Sound.load(write_wav(0.5)), Sound.load(write_wav(1.0))
    assert half.frame_count > 0 and whole.frame_count == 2 * half.frame_count


@pytest.mark.parametrize("kind", ["missing", "corrupt", "empty"])
def test_files_that_do_not_load(audio, tmp_path, kind):
    path = tmp_path / "sound.wav"
    if kind == "corrupt":
        path.write_bytes(os.urandom(4000))
    elif kind == "empty":
        path.write_bytes(b"")
    sound = Sound.load(str(path))
    assert (sound.valid, sound.frame_count, sound.playing) == (False, 0, False)
    sound.play()
    sound.volume = 0.5
    sound.unload()
    raises(ValueError, "cannot make an alias of a sound that is not loaded", Sound.load_alias, sound)


@pytest.mark.parametrize(
    "argument, error, message",
    [
        (None, TypeError,
         "Argument 'file_name' has incorrect type (expected str, bytes or os.PathLike, got NoneType)"),
        (bytearray(b"a.wav"), TypeError,
         "Argument 'file_name' has incorrect type (expected str, bytes or os.PathLike, got bytearray)"),
        ("a\0.wav", ValueError, "embedded null character in path"),
        (b"a\0.wav", ValueError, "embedded null character in path"),
    ],
)
def test_load_refusals(audio, argument, error, message):
    raises(error, message, Sound.load, argument)


def test_load_refuses_text_that_is_not_utf8(audio):
    with pytest.raises(UnicodeEncodeError):
        Sound.load("\udc80.wav")


@pytest.mark.parametrize(
    "source, error, message",
    [
        (3, TypeError, f"Argument 'source' has incorrect type (expected {NAME}, got int)"),
        (None, TypeError, f"Argument 'source' has incorrect type (expected {NAME}, got NoneType)"),
        (Sound(), ValueError, "cannot make an alias of a sound that is not loaded"),
    ],
)
def test_load_alias_refusals(audio, source, error, message):
    raises(error, message, Sound.load_alias, source)


def test_empty_sound_ignores_arguments_and_calls(audio):
    sound = Sound(1, 2, key=3)
    assert (sound.valid, sound.frame_count, sound.stream, sound.volume) == (False, 0, None, 0.0)
    sound.play()
    sound.update(b"", 0)
    sound.unload()
    assert not sound.playing


def test_alias_plays_the_source_samples(tone):
    source = Sound.load(tone)
    alias = Sound.load_alias(source)
    again = Sound.load_alias(alias)
    assert (alias.is_alias, alias.valid, again.valid) == (True, True, True)
    assert alias.frame_count == source.frame_count
    assert (alias.volume, alias.pitch, alias.pan) == (1.0, 1.0, 0.0)
    del source
    gc.collect()
    alias.play()
    assert alias.playing


def test_unloading_the_source_unloads_its_aliases(tone):
    source = Sound.load(tone)
    aliases = [Sound.load_alias(source) for _ in range(3)]
    aliases.append(Sound.load_alias(aliases[0]))
    aliases[1].unload()
    for alias in aliases:
        alias.play()
    source.unload()
    assert not source.valid
    assert [alias.valid or alias.playing for alias in aliases] == [False] * 4


def test_stream_view_follows_the_sound(tone):
    sound = Sound.load(tone)
    view = sound.stream
    view.unload()  # a view never releases its owner's stream
    assert sound.valid and view.valid
    sound.play()
    assert view.playing
    sound.unload()
    assert not view.valid
    view.play()
    view.volume = 0.5
    assert not view.playing
    del sound
    gc.collect()
    assert not view.valid
    view.update(b"", 0)


@pytest.mark.parametrize(
    "data, frames, message",
    [
        (bytes(79), 10, "data holds 79 bytes, but 10 frames of this stream need 80 bytes"),
        (numpy.zeros(10, numpy.float32), 10, "data holds 40 bytes, but 10 frames of this stream need 80 bytes"),
        (b"", -2, "frame_count must not be negative (got -2)"),
    ],
)
def test_update_refuses_short_buffers(tone, data, frames, message):
    raises(ValueError, message, Sound.load(tone).update, data, frames)


def test_update_refuses_more_frames_than_the_sound_holds(tone):
    sound = Sound.load(tone)
    frames = sound.frame_count
    raises(ValueError, f"frame_count is {frames + 1}, but the sound holds only {frames} frames",
           sound.update, numpy.zeros((frames + 1, 2), numpy.float32), frames + 1)


def test_update_with_numpy(tone):
    sound = Sound.load(tone)
    samples = numpy.zeros((sound.frame_count, 2), numpy.float32)
    assert sound.update(samples, sound.frame_count) is None
    alias = Sound.load_alias(sound)
    assert alias.update(samples[:100], 100) is None


def test_settings_and_pickling(tone):
    sound = Sound.load(tone)
    sound.volume, sound.pitch, sound.pan = 0.5, 2, -0.25
    assert (sound.volume, sound.pitch, sound.pan) == (0.5, 2.0, -0.25)
    raises(NotImplementedError, "__del__", delattr, sound, "pan")
    with pytest.raises(AttributeError):
        sound.stream = None
    message = "self._raw cannot be converted to a Python object for pickling"
    raises(TypeError, message, pickle.dumps, sound)
    raises(TypeError, message, sound.__reduce__)


def test_close_releases_sounds_and_aliases(tone, audio):
    source = Sound.load(tone)
    alias = Sound.load_alias(source)
    alias.play()
    audio.close()
    assert (source.valid, alias.valid, alias.playing, source.stream.valid) == (False,) * 4
    audio.init()
    raises(ValueError, "cannot make an alias of a sound that is not loaded", Sound.load_alias, source)


def test_each_sound_is_released_once(release_log, write_wav):
    calls = release_log(
        f"""
        from tavoro import audio_device
        from tavoro.sound import Sound
        audio_device.init()
        path = {write_wav(0.5)!r}
        a = Sound.load(path); a.unload(); a.unload(); view = a.stream; del a, view
        b = Sound.load(path); alias = Sound.load_alias(b); del b    # b waits for its alias
        alias.unload()
        del alias
        c = Sound.load(path); aliases = [Sound.load_alias(c) for _ in range(2)]
        c.unload()                                                   # aliases first
        del c, aliases
        Sound.load("/no/such/file.wav")
        e = Sound.load(path); kept = Sound.load_alias(e)
        audio_device.close()
        del e, kept
        """
    )
    assert [function for function, _ in calls] == [
        "LoadSound", "UnloadSound",
        "LoadSound", "LoadSoundAlias", "UnloadSoundAlias", "UnloadSound",
        "LoadSound", "LoadSoundAlias", "LoadSoundAlias", "UnloadSoundAlias", "UnloadSoundAlias",
        "UnloadSound",
        "LoadSound", "LoadSoundAlias", "UnloadSoundAlias", "UnloadSound",
    ]


# ---------------------------------------------------------------------------------------------
# Paths: what open() takes (str, bytes, os.PathLike giving either, subclasses too) loads alike


def GivenPath(path):
    return type("GivenPath", (), {"__fspath__": lambda self: path})()


Text, Bytes = type("Text", (str,), {}), type("Bytes", (bytes,), {})


class FailingPath:
    def __fspath__(self):
        raise OSError("no path today")


@pytest.fixture(params=["Sound", "Music"])
def loader(request, audio):
    from tavoro.music.music import Music

    return {"Sound": (Sound.load, "file_name"), "Music": (Music.load, "filename")}[request.param]


def test_load_takes_a_pathlib_path(loader, write_wav, tmp_path):
    load, _ = loader
    assert load(pathlib.Path(write_wav(0.5))).valid
    assert not load(tmp_path / "missing.wav").valid


@pytest.mark.parametrize("form", [Text, os.fsencode, lambda p: Bytes(os.fsencode(p)),
                                  lambda p: GivenPath(Text(p)), lambda p: GivenPath(os.fsencode(p))])
def test_load_takes_what_open_takes(loader, write_wav, form):
    assert loader[0](form(write_wav(0.5))).valid


@pytest.mark.parametrize(
    "argument, error, message",
    [
        (GivenPath(3), TypeError, "expected GivenPath.__fspath__() to return str or bytes, not int"),
        (3, TypeError,
         "Argument '{}' has incorrect type (expected str, bytes or os.PathLike, got int)"),
        (pathlib.PurePosixPath("a\0.wav"), ValueError, "embedded null character in path"),
        (FailingPath(), OSError, "no path today"),
    ],
)
def test_load_refuses_other_path_likes(loader, argument, error, message):
    load, name = loader
    raises(error, message.format(name), load, argument)


# ---------------------------------------------------------------------------------------------
# Readable forms, a sound's length, whether music plays


def test_reprs_say_format_length_and_ownership(audio, write_wav):
    from tavoro.music.music import Music

    path = write_wav(0.5, rate=22050)
    sound, music, stream = Sound.load(path), Music.load(path), AudioStream(22050, 16, 1)
    alias = Sound.load_alias(sound)
    assert repr(sound).startswith("<Sound 0.50 s, ") and repr(sound).endswith("-bit, stereo>")
    assert repr(alias).startswith("<Sound alias, 0.50 s, ")
    assert repr(music) == "<Music 0.50 s, 22050 Hz, 16-bit, mono, looping>"  # raylib's default
    music.looping = False
    assert repr(music) == "<Music 0.50 s, 22050 Hz, 16-bit, mono>"
    frames = stream.buffer_frames
    assert repr(stream) == f"<AudioStream 22050 Hz, 16-bit, mono, {frames}-frame sub-buffers, owner>"
    assert repr(music.stream).endswith("sub-buffers, view>")

    class Mine(AudioStream):
        pass

    assert repr(Mine(8000, 8, 2)).startswith("<Mine 8000 Hz, 8-bit, stereo, ")
    sound.unload()  # its alias goes first
    for gone, name in [(sound, "Sound"), (alias, "Sound"), (Music(), "Music"),
                       (AudioStream.__new__(AudioStream), "AudioStream")]:
        assert repr(gone) == f"<{name} unloaded>"


def test_sound_length_and_music_playing(audio, write_wav):
    from tavoro.music.music import Music

    sound = Sound.load(write_wav(0.75, rate=8000))
    assert sound.length == pytest.approx(0.75, abs=1e-3)
    assert Sound.load_alias(sound).length == sound.length
    assert (Sound().length, Sound.load("missing.wav").length) == (0.0, 0.0)
    music = Music.load(write_wav(0.5))
    assert not music.playing
    music.play()
    assert music.playing
    music.pause()
    assert not music.playing
    music.unload()
    assert not music.playing


# ---------------------------------------------------------------------------------------------
# One voice, one truth: a view's volume, pitch and pan are its owner's


@pytest.mark.parametrize("name, value", [("volume", 0.25), ("pitch", 2.0), ("pan", -0.5)])
def test_a_view_and_its_owner_share_their_settings(loader, write_wav, name, value):
    owner = loader[0](write_wav(0.5))
    view = owner.stream
    setattr(view, name, value)
    assert getattr(owner, name) == value
    setattr(owner, name, value / 2)
    owner.unload()  # the view keeps the last values, and stays its owner's stream
    assert getattr(view, name) == value / 2
    raises(TypeError,
           "this AudioStream is the stream of a Sound or Music and cannot be initialised as another",
           view.__init__, 48000, 16, 2)
