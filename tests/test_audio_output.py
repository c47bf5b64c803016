"""What the audio device actually plays: the final mix, captured through the device module's mix
capture, measured with NumPy (dominant frequency, level, channel balance, silence).

The device here is whatever init() opens (the null device on a machine without sound), which
mixes in real time, so every capture is kept short."""

import math
import time
import wave

import numpy
import pytest

from tavoro import audio_device
from tavoro.audio_stream.audio_stream import AudioStream
from tavoro.music.music import Music
from tavoro.sound.sound import Sound

AMPLITUDE = 0.5
CENTRE = 0.6875  # raylib 6 mixes a centred voice into each channel at this share of its level
SPAN = 0.3  # seconds captured per measurement


def sine(frequency, frames, rate, channels=1, amplitude=AMPLITUDE, start=0):
    t = (numpy.arange(frames) + start) / rate
    wave_ = (amplitude * numpy.sin(2 * math.pi * frequency * t)).astype(numpy.float32)
    return numpy.repeat(wave_[:, None], channels, axis=1)


def write_tones(path, notes, seconds_each, rate=48000):
    """A 16-bit mono WAV file playing each frequency of `notes` for `seconds_each`."""
    frames = int(seconds_each * rate)
    parts = [sine(f, frames, rate, start=i * frames)[:, 0] for i, f in enumerate(notes)]
    pcm = (numpy.concatenate(parts) * 32767).round().astype("<i2")
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(pcm.tobytes())
    return str(path)


def capture(seconds=SPAN, during=None, settle=0.06):
    """The mix over the next `seconds` (after `settle` seconds for what was just started to reach
    the device), as an array of frames by channels. `during` runs every few milliseconds."""
    end = time.monotonic() + settle
    while time.monotonic() < end:
        if during:
            during()
        time.sleep(0.005)
    audio_device.start_capture(seconds + 0.5)
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if during:
            during()
        time.sleep(0.005)
    mix = numpy.frombuffer(audio_device.stop_capture(), numpy.float32)
    return mix.reshape(-1, audio_device.channels())


def frequency(mix):
    """The dominant frequency of the mix (both channels summed), in Hz."""
    signal = mix.sum(axis=1)
    spectrum = numpy.abs(numpy.fft.rfft(signal * numpy.hanning(len(signal))))
    return numpy.fft.rfftfreq(len(signal), 1 / audio_device.sample_rate())[spectrum.argmax()]


def levels(mix):
    """The amplitude of a sine in each channel (from its RMS)."""
    return tuple(float(numpy.sqrt(numpy.mean(mix[:, c] ** 2)) * math.sqrt(2)) for c in range(mix.shape[1]))


def silent(mix):
    return float(numpy.abs(mix).max(initial=0.0)) < 1e-4


@pytest.fixture
def device(audio):
    assert audio.channels() == 2 and audio.sample_rate() > 0
    return audio


def fed_stream(size, channels, rate=48000, note=440.0):
    """A playing stream with both of its sub-buffers filled with a sine (after play(), which
    marks both as used up)."""
    stream = AudioStream(rate, size, channels)
    stream.play()
    frames = stream.buffer_frames
    for part in range(2):
        samples = sine(note, frames, rate, channels, start=part * frames)
        data = samples if size == 32 else (samples * 32767).round().astype(numpy.int16)
        stream.update(data, frames)
    return stream


@pytest.mark.parametrize("size, channels", [(16, 1), (32, 2)])
def test_stream_plays_its_sine_centred(device, size, channels):
    stream = fed_stream(size, channels)
    mix = capture()
    assert frequency(mix) == pytest.approx(440, abs=4)
    assert levels(mix) == pytest.approx((AMPLITUDE * CENTRE,) * 2, rel=0.03)
    stream.unload()


@pytest.mark.parametrize(
    "pan, left, right",
    [(-1.0, 1.0, 0.0), (1.0, 0.0, 1.0), (0.0, CENTRE, CENTRE)],
)
def test_pan_range(device, pan, left, right):
    stream = fed_stream(32, 1)
    stream.pan = pan
    assert levels(capture()) == pytest.approx((AMPLITUDE * left, AMPLITUDE * right), abs=0.01)


@pytest.mark.parametrize("kind", ["stream", "sound"])
def test_pan_read_back_and_set_keeps_the_balance(device, tmp_path, kind):
    if kind == "stream":
        voice = fed_stream(16, 1)
    else:
        voice = Sound.load(write_tones(tmp_path / "a.wav", [440], 1.0))
        voice.play()
    voice.pan = voice.pan
    assert levels(capture()) == pytest.approx((AMPLITUDE * CENTRE,) * 2, rel=0.03)


def test_volume_halves_and_pitch_doubles(device):
    stream = fed_stream(32, 2)
    stream.volume = 0.5
    mix = capture(0.2)
    assert levels(mix) == pytest.approx((AMPLITUDE * CENTRE / 2,) * 2, rel=0.03)
    stream.volume = 1.0
    stream.pitch = 2.0
    assert frequency(capture(0.2)) == pytest.approx(880, abs=8)


def test_a_view_sets_its_owners_voice(device, tmp_path):
    sound = Sound.load(write_tones(tmp_path / "a.wav", [440], 2.0))
    sound.play()
    sound.stream.volume, sound.stream.pitch = 0.5, 2.0
    sound.pitch = 0  # leaves the pitch as it is, as raylib does
    mix = capture(0.2)
    assert (sound.volume, sound.pitch) == (0.5, 2.0) and frequency(mix) == pytest.approx(880, abs=8)
    assert levels(mix) == pytest.approx((AMPLITUDE * CENTRE / 2,) * 2, rel=0.05)


@pytest.mark.parametrize("how", ["pause", "stop"])
def test_pause_and_stop_give_silence(device, tmp_path, how):
    stream = fed_stream(16, 1)
    sound = Sound.load(write_tones(tmp_path / "a.wav", [660], 1.0))
    sound.play()
    assert not silent(capture(0.1))
    getattr(stream, how)()
    getattr(sound, how)()
    assert silent(capture(0.2))


def test_sound_and_its_alias_add_up(device, tmp_path):
    sound = Sound.load(write_tones(tmp_path / "a.wav", [440], 1.0))
    alias = Sound.load_alias(sound)
    sound.play()
    alone = capture(0.2, settle=0.03)
    assert frequency(alone) == pytest.approx(440, abs=6)
    assert levels(alone) == pytest.approx((AMPLITUDE * CENTRE,) * 2, rel=0.03)
    # Both from the start, together: the samples line up, so the level doubles.
    sound.stop()
    sound.play()
    alias.play()
    both = capture(0.2, settle=0.03)
    assert levels(both) == pytest.approx((2 * AMPLITUDE * CENTRE,) * 2, rel=0.05)


def test_music_streams_and_seeks(device, tmp_path):
    music = Music.load(write_tones(tmp_path / "m.wav", [440, 880], 1.5))
    music.play()
    mix = capture(during=music.update)
    assert frequency(mix) == pytest.approx(440, abs=4)
    assert levels(mix) == pytest.approx((AMPLITUDE * CENTRE,) * 2, rel=0.03)
    music.seek(1.8)
    # What was queued before the seek plays out first.
    mix = capture(0.2, during=music.update, settle=0.6)
    assert frequency(mix) == pytest.approx(880, abs=6)


def test_music_goes_silent_without_update(device, tmp_path):
    music = Music.load(write_tones(tmp_path / "m.wav", [440], 3.0))
    music.play()
    music.update()
    time.sleep(2 * music.stream.buffer_frames / device.sample_rate() + 0.1)
    assert silent(capture(0.2, settle=0))
    music.update()
    assert not silent(capture(0.2))


def test_capture_refusals(device):
    for seconds in (0, -1, 601, float("nan")):
        with pytest.raises(ValueError, match="seconds must be more than 0 and at most 600"):
            device.start_capture(seconds)
    with pytest.raises(TypeError):
        device.start_capture("1")
    assert device.stop_capture() == b""  # nothing was started


def test_capture_keeps_the_first_frames_that_fit(device):
    device.start_capture(0.05)
    time.sleep(0.2)
    taken = device.stop_capture()
    assert len(taken) == round(0.05 * device.sample_rate()) * device.channels() * 4


def test_closing_the_device_ends_a_capture(device):
    device.start_capture(1)
    time.sleep(0.1)
    device.close()
    taken = device.stop_capture()  # what was captured until the device closed
    assert len(taken) >= 0.05 * 48000 * 2 * 4 and len(taken) % 8 == 0
    assert (device.stop_capture(), device.backend(), device.channels(), device.sample_rate()) == (b"", None, 0, 0)
    with pytest.raises(RuntimeError, match="the audio device is not open"):
        device.start_capture(1)
    device.init()


def test_the_demo_tone_is_continuous(device):
    """The demo feeds its tone one whole sub-buffer at a time: captured, it never drops out
    (feeding less than a sub-buffer plays in bursts, padded with silence)."""
    import importlib.util

    from conftest import ROOT

    spec = importlib.util.spec_from_file_location("demo", ROOT / "examples" / "demo.py")
    demo = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(demo)
    stream = AudioStream(demo.SAMPLE_RATE, 16, 1)
    synth = demo.ToneSynth(stream)
    stream.play()
    mix = capture(0.8, during=lambda: synth.feed(440.0))
    assert frequency(mix) == pytest.approx(440, abs=4)
    window = device.sample_rate() // 100
    rms = numpy.sqrt(numpy.mean(mix[: len(mix) // window * window, 0].reshape(-1, window) ** 2, axis=1))
    expected = 3000 / 32768 * CENTRE / math.sqrt(2)
    assert rms.min() > 0.8 * expected
