"""The audio device module: which backend plays, the streams' sub-buffer size, and raylib's log
reaching the `logging` logger "tavoro.raylib" (also from threads that are not Python's, and while
many sounds play)."""

import ctypes
import logging
import math
import struct
import wave

import pytest

from tavoro import audio_device
from tavoro.audio_stream.audio_stream import AudioStream
from tavoro.sound.sound import Sound

LOG_TRACE, LOG_DEBUG, LOG_INFO, LOG_WARNING, LOG_ERROR, LOG_FATAL = range(1, 7)


@pytest.fixture(scope="module")
def raylib():
    """raylib itself, as the audio modules loaded it: its TraceLog stands in for raylib logging
    from any thread (a ctypes call lets go of the interpreter lock)."""
    import tavoro.audio_device.audio_device  # noqa: F401  (loads raylib)

    with open("/proc/self/maps") as maps:
        path = next(line.split()[-1] for line in maps if "libraylib" in line)
    library = ctypes.CDLL(path)
    library.TraceLog.restype = None
    library.SetTraceLogLevel.argtypes = [ctypes.c_int]
    return library


@pytest.fixture
def raylib_log(caplog, audio):
    caplog.set_level(logging.DEBUG, logger="tavoro.raylib")
    return caplog


def lines(caplog):
    return [(r.levelno, r.getMessage()) for r in caplog.records if r.name == "tavoro.raylib"]


def test_backend_is_named(audio):
    assert audio.backend() in {"PulseAudio", "ALSA", "Null"}
    assert audio.sample_rate() > 0 and audio.channels() == 2
    audio.close()
    assert audio.backend() is None
    audio.init()


def test_opening_logs_the_device(caplog):
    audio_device.close()
    caplog.set_level(logging.INFO, logger="tavoro.raylib")
    audio_device.init()
    said = [message for _, message in lines(caplog)]
    assert f"    > Backend:       miniaudio | {audio_device.backend()}" in said
    audio_device.close()


@pytest.mark.parametrize(
    "level, python_level",
    [(LOG_TRACE, logging.DEBUG), (LOG_DEBUG, logging.DEBUG), (LOG_INFO, logging.INFO),
     (LOG_WARNING, logging.WARNING), (LOG_ERROR, logging.ERROR), (LOG_FATAL, logging.CRITICAL)],
)
def test_levels_map_to_logging(raylib, raylib_log, level, python_level):
    raylib.SetTraceLogLevel(LOG_TRACE)
    try:
        raylib.TraceLog(level, b"TEST: %d%% sure", 100)
        audio_device.ready()  # not an audio call: nothing is handed over yet
        assert lines(raylib_log) == []
        AudioStream(8000, 8, 1).unload()
    finally:
        raylib.SetTraceLogLevel(LOG_WARNING)
    assert (python_level, "TEST: 100% sure") in lines(raylib_log)


def test_a_full_queue_counts_what_it_drops(raylib, raylib_log):
    for i in range(300):
        raylib.TraceLog(LOG_WARNING, b"TEST: line %d", i)
    AudioStream(8000, 8, 1).unload()
    said = lines(raylib_log)
    assert said[0] == (logging.WARNING, "44 raylib log lines were dropped (the queue was full)")
    assert said[1:257] == [(logging.WARNING, f"TEST: line {i}") for i in range(256)]


def test_a_file_raylib_refuses_is_logged_not_printed(run_python):
    proc = run_python(
        """
        import logging, tempfile
        from tavoro import audio_device
        from tavoro.sound.sound import Sound
        said = []
        class Keep(logging.Handler):
            def emit(self, record):
                said.append((record.levelname, record.getMessage()))
        logging.getLogger("tavoro.raylib").addHandler(Keep())
        logging.getLogger("tavoro.raylib").propagate = False
        audio_device.init()
        with tempfile.NamedTemporaryFile(suffix=".wav") as junk:
            junk.write(b"not a wave file")
            junk.flush()
            assert not Sound.load(junk.name).valid
        assert ("WARNING", "WAVE: Failed to load WAV data") in said, said
        audio_device.close()
        """
    )
    assert proc.stdout == "" and proc.stderr == ""


def test_handlers_may_call_audio_while_sounds_play(run_python, tmp_path):
    """A handler that calls back into the audio modules, while many sounds play and raylib logs
    from a thread that holds no interpreter lock: nothing deadlocks (the child would hang)."""
    path = tmp_path / "blip.wav"
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(22050)
        out.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(i / 5))) for i in range(2205)))
    run_python(
        f"""
        import ctypes, logging, threading
        from tavoro import audio_device
        from tavoro.audio_stream.audio_stream import AudioStream
        from tavoro.sound.sound import Sound
        audio_device.init()
        source = Sound.load({str(path)!r})
        voices = [Sound.load_alias(source) for _ in range(32)]
        stream = AudioStream(22050, 16, 1)
        seen = []
        class Busy(logging.Handler):
            def emit(self, record):
                seen.append(record.getMessage())
                voices[len(seen) % 32].play()          # takes raylib's audio lock
                stream.playing
        log = logging.getLogger("tavoro.raylib")
        log.addHandler(Busy()); log.propagate = False
        raylib = next(ctypes.CDLL(l.split()[-1]) for l in open("/proc/self/maps") if "libraylib" in l)
        def spam():
            for i in range(400):
                raylib.TraceLog(4, b"TEST: %d", i)
        threads = [threading.Thread(target=spam) for _ in range(2)]
        for t in threads: t.start()
        for i in range(600):
            voices[i % 32].play()
            stream.update(bytes(200), 100)             # raylib logs with its audio lock held
        for t in threads: t.join()
        voices[0].playing
        assert any(m.startswith("TEST: ") for m in seen)
        assert any(m == "STREAM: Buffer not available for updating" for m in seen)
        audio_device.close()
        """
    )


def test_stream_buffer_size(audio):
    default = AudioStream(48000, 16, 1).buffer_frames
    assert default > 0 and audio.stream_buffer_frames() == 0
    try:
        audio.set_stream_buffer_frames(4096)
        assert audio.stream_buffer_frames() == 4096
        assert AudioStream(22050, 32, 2).buffer_frames == 4096
    finally:
        audio.set_stream_buffer_frames(0)
    assert AudioStream(48000, 16, 1).buffer_frames == default
    with pytest.raises(ValueError, match=r"^frames must not be negative \(got -1\)$"):
        audio.set_stream_buffer_frames(-1)
    with pytest.raises(TypeError):
        audio.set_stream_buffer_frames("4096")


def test_a_handler_that_closes_the_device_while_init_hands_over(caplog):
    audio_device.close()
    caplog.set_level(logging.INFO, logger="tavoro.raylib")
    handler = type("Close", (logging.Handler,), {"emit": lambda self, r: audio_device.close()})()
    logging.getLogger("tavoro.raylib").addHandler(handler)
    try:
        assert audio_device.init() is None  # it did open; the handler closed it afterwards
    finally:
        logging.getLogger("tavoro.raylib").removeHandler(handler)
    assert not audio_device.ready()
