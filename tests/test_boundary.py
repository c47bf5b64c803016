"""Values that would reach raylib or the module frame in a state they cannot handle: each case
here crashed, hung or corrupted memory once, so most run in a fresh interpreter with a time
limit, where a crash fails the case instead of the suite."""

import json
import os
import signal
import subprocess
import sys
import textwrap

import pytest

from conftest import MODULE_PATHS, ROOT

# The sanitizers reserve terabytes of address space for themselves: no limit on it, and no peak
# to read, when they run.
UNDER_SANITIZER = "libasan" in os.environ.get("LD_PRELOAD", "")


def run_child(code, timeout=60):
    """Runs code in a fresh interpreter; returns (returncode, stdout, stderr). A child that
    does not finish within the time limit fails the case."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(str(path) for path in MODULE_PATHS)
    env.pop("PYTHONWARNINGS", None)
    try:
        proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=ROOT, env=env,
                              capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        pytest.fail(f"no answer within {timeout} s")
    return proc.returncode, proc.stdout, proc.stderr


def child_result(code, timeout=60):
    """The last line a child printed, read as JSON; the child must exit cleanly."""
    returncode, out, err = run_child(code, timeout)
    assert returncode == 0, f"exit {returncode} ({signal.Signals(-returncode).name if returncode < 0 else ''}): {err}"
    return json.loads(out.splitlines()[-1])


# ---------------------------------------------------------------------------------------------
# The module frame


def test_a_failed_import_in_another_interpreter_leaves_the_main_one_free():
    out = child_result(
        """
        import _interpreters, json
        import tavoro.vector2.vector2
        sub = _interpreters.create("legacy")
        _interpreters.exec(sub, "try:\\n import tavoro.rect.rect\\nexcept ImportError:\\n pass")
        _interpreters.destroy(sub)
        import tavoro.rect.rect as r
        print(json.dumps(repr(r.Rect(1, 2, 3, 4).center)))
        """
    )
    assert out == "Vector2(2.5, 4.0)"


FAKE_SIBLING = """
import json, sys, types, warnings
from tavoro.sound.sound import Sound
fake = types.ModuleType("tavoro.vector4.vector4")
{body}
sys.modules["tavoro.vector4.vector4"] = fake
warnings.simplefilter("ignore")
try:
    import tavoro.rect.rect
    print(json.dumps("imported"))
except Exception as e:
    print(json.dumps([type(e).__name__, str(e)]))
"""


@pytest.mark.parametrize(
    "body",
    [
        # A subclass of another package type, carrying that type's native table.
        'fake.Vector4 = type("Vector4", (Sound,), {"__pyx_vtable__": Sound.__dict__["__pyx_vtable__"]})',
        # Another package type itself, under the expected name.
        "fake.Vector4 = Sound",
    ],
    ids=["subclass-with-table", "other-native-type"],
)
def test_a_sibling_must_be_the_native_type_its_module_defines(body):
    out = child_result(FAKE_SIBLING.format(body=body))
    assert out[0] == "ImportError"
    assert out[1].startswith("tavoro.vector4.vector4.Vector4 is not the native type "
                             "tavoro.vector4.vector4 defines, got ")


# ---------------------------------------------------------------------------------------------
# Lengths


@pytest.mark.parametrize("length", [-3.0, -0.6, -1])
def test_a_negative_subclass_length_raises_the_usual_error(length):
    from tavoro.music.music import Music

    class M(Music):
        pass

    M.length = length
    with pytest.raises(ValueError, match="^__len__\\(\\) should return >= 0$"):
        len(M())
    with pytest.raises(ValueError, match="^__len__\\(\\) should return >= 0$"):
        bool(M())


# ---------------------------------------------------------------------------------------------
# Stream layouts


@pytest.mark.parametrize(
    "args, message",
    [
        ((44100, 64, 1), "sample_size must be 8, 16 or 32 (got 64)"),
        ((44100, 40, 1), "sample_size must be 8, 16 or 32 (got 40)"),
        ((44100, 48, 1), "sample_size must be 8, 16 or 32 (got 48)"),
        ((44100, 256, 1), "sample_size must be 8, 16 or 32 (got 256)"),
        ((44100, -8, 1), "sample_size must be 8, 16 or 32 (got -8)"),
        ((44100, -1, 1), "sample_size must be 8, 16 or 32 (got -1)"),
        ((44100, 32, 300000), "channels must be in 0..254 (got 300000)"),
        ((44100, 32, 100000), "channels must be in 0..254 (got 100000)"),
        ((44100, 32, 255), "channels must be in 0..254 (got 255)"),
        ((44100, 16, -1), "channels must be in 0..254 (got -1)"),
        ((384001, 16, 1), "sample_rate must be in 0..384000 (got 384001)"),
        ((-1, 16, 1), "sample_rate must be in 0..384000 (got -1)"),
    ],
)
def test_stream_layouts_raylib_cannot_mix_are_refused(audio, args, message):
    from tavoro.audio_stream.audio_stream import AudioStream

    with pytest.raises(ValueError) as raised:
        AudioStream(*args)
    assert str(raised.value) == message
    stream = AudioStream(22050, 16, 1)
    with pytest.raises(ValueError):
        stream.__init__(*args)
    assert stream.valid  # a refused layout leaves the stream as it was


STREAM_AT_LIMITS = """
import json
from tavoro import audio_device
from tavoro.audio_stream.audio_stream import AudioStream
audio_device.init()
results = []
for rate, size, channels in {layouts}:
    s = AudioStream(rate, size, channels)
    s.update(b"", 0)
    s.update(b"", 0)
    s.play()
    s.update(bytes(channels * size // 8 * 1000), 1000)
    results.append([s.valid, s.processed in (True, False)])
    s.unload()
audio_device.close()
print(json.dumps(results))
"""


def test_streams_at_the_limits_play_and_answer():
    layouts = [(44100, 32, 254), (384000, 8, 1), (1, 16, 2), (8000, 32, 1)]
    assert child_result(STREAM_AT_LIMITS.format(layouts=layouts)) == [[True, True]] * 4


# ---------------------------------------------------------------------------------------------
# Pitch


@pytest.fixture
def audio_objects(audio, write_wav):
    from tavoro.audio_stream.audio_stream import AudioStream
    from tavoro.music.music import Music
    from tavoro.sound.sound import Sound

    path = write_wav(1.0)
    sound = Sound.load(path)
    return {"stream": AudioStream(22050, 16, 1), "sound": sound, "alias": Sound.load_alias(sound),
            "music": Music.load(path), "view": sound.stream}


PITCH_MESSAGE = "pitch must be in 0.015625..16.0, or 0 or less to leave it as it is (got {})"


@pytest.mark.parametrize("kind", ["stream", "sound", "alias", "music", "view"])
@pytest.mark.parametrize("value", [20000, 4e4, 16.5, float("nan"), float("inf"), 1 / 128, 1e-30])
def test_pitch_outside_what_the_mixer_keeps_up_with_is_refused(audio_objects, kind, value):
    obj = audio_objects[kind]
    obj.pitch = 2.0
    with pytest.raises(ValueError) as raised:
        obj.pitch = value
    assert str(raised.value) == PITCH_MESSAGE.format(repr(value))
    assert obj.pitch == 2.0


@pytest.mark.parametrize("kind", ["stream", "sound", "music"])
@pytest.mark.parametrize("value, read", [(16, 16), (1 / 64, 1 / 64), (1.0, 1.0), (0, 2.0), (-1, 2.0)])
def test_pitch_in_range_is_taken(audio_objects, kind, value, read):
    obj = audio_objects[kind]
    obj.pitch = 2.0
    obj.pitch = value  # 0 or less leaves it as it is, as raylib does
    assert obj.pitch == read


@pytest.mark.parametrize("kind", ["stream", "sound", "alias", "music", "view"])
@pytest.mark.parametrize("name, values, limits", [
    ("volume", (float("nan"), float("inf"), 1e30, 16.5, -17), (16, -16, 0)),
    ("pan", (float("nan"), float("-inf"), 2.5, -1.0001), (-1, 1)),
])
def test_volume_and_pan_that_would_wreck_the_mix_are_refused(audio_objects, kind, name, values, limits):
    obj = audio_objects[kind]
    for value in values:
        setattr(obj, name, 0.5)
        with pytest.raises(ValueError) as raised:
            setattr(obj, name, value)
        assert str(raised.value) == f"{name} must be in {'-16.0..16.0' if name == 'volume' else '-1.0..1.0'} (got {value!r})"
        assert getattr(obj, name) == 0.5
    for value in limits:
        setattr(obj, name, value)
        assert getattr(obj, name) == value


def test_module_music_refuses_to_seek(audio):
    from tavoro.music.music import Music

    music = Music.load(str(ROOT / "tests" / "data" / "seeds" / "tone.mod"))
    assert music.valid
    with pytest.raises(ValueError, match=r"^module music \(MOD, XM\) cannot seek: stop\(\) and "
                                         r"play\(\) start it again from the beginning$"):
        music.seek(0.5)


def test_music_at_the_highest_pitch_keeps_updating(write_wav):
    out = child_result(
        f"""
        import json, time
        from tavoro import audio_device
        from tavoro.music.music import Music
        audio_device.init()
        m = Music.load({write_wav(2.0, rate=44100, channels=2)!r})
        m.play()
        m.pitch = 16
        worst = 0.0
        for _ in range(40):
            start = time.perf_counter()
            m.update()
            worst = max(worst, time.perf_counter() - start)
            time.sleep(0.01)
        audio_device.close()
        print(json.dumps(worst))
        """,
        timeout=60,
    )
    assert out < 2.0


# ---------------------------------------------------------------------------------------------
# Seeking


@pytest.mark.parametrize(
    "position, expected",
    [(-1.0, 0.0), (-1e30, 0.0), (float("-inf"), 0.0), (0.5, 0.5), (1e30, 2.0), (float("inf"), 2.0),
     (2.5, 2.0)],
)
def test_seek_outside_the_track_goes_to_its_nearest_end(audio, write_wav, position, expected):
    from tavoro.music.music import Music

    music = Music.load(write_wav(2.0))
    music.seek(1.0)
    music.seek(position)
    assert music.time_played == pytest.approx(expected, abs=0.01)


def test_seek_refuses_nan(audio, write_wav):
    from tavoro.music.music import Music

    music = Music.load(write_wav(2.0))
    music.seek(1.0)
    with pytest.raises(ValueError, match=r"^position must be a number \(got nan\)$"):
        music.seek(float("nan"))
    assert music.time_played == pytest.approx(1.0, abs=0.01)
    Music().seek(float("nan"))  # an unloaded music makes no call, and so has nothing to refuse


# ---------------------------------------------------------------------------------------------
# Files


def wav_header(format_tag, channels, rate, bits, data_size):
    import struct

    block = channels * max(bits, 8) // 8
    return (b"RIFF" + struct.pack("<I", 36 + data_size) + b"WAVEfmt "
            + struct.pack("<IHHIIHH", 16, format_tag, channels, rate, rate * block, block, bits)
            + b"data" + struct.pack("<I", data_size))


def make_bad_files(root):
    """Files and directories that are no audio raylib can load, by name."""
    import random

    noise = random.Random(13).randbytes(4000)
    files = {
        "readme": b"just some text\n" * 20,
        "trailing.": b"just some text\n",
        "notes.txt": b"just some text\n",
        "nothing.wav": b"",
        "short.wav": wav_header(1, 1, 22050, 16, 1000)[:30],
        "noise.wav": noise,
        "noise.ogg": noise,
        "noise.mp3": noise,
        "noise.qoa": noise,
        "noise.mod": noise,
        "noise.xm": noise,
    }
    for name, data in files.items():
        (root / name).write_bytes(data)
    (root / "folder").mkdir()
    (root / "x.wav").mkdir()
    return sorted(files) + ["folder", "x.wav", "/etc/passwd", "/etc"]


LOAD_EVERY_FILE = """
import json, sys
from tavoro import audio_device
from tavoro.music.music import Music
from tavoro.sound.sound import Sound
audio_device.init()
results = {{}}
for path in {paths!r}:
    for load in (Sound.load, Music.load):
        obj = load(path)
        obj.play()
        if load is Music.load:
            for _ in range(5):
                obj.update()
        results[path + " " + load.__qualname__] = obj.valid
        obj.unload()
audio_device.close()
print(json.dumps(results))
"""


def test_files_that_are_no_audio_load_as_not_valid(tmp_path):
    paths = [name if name.startswith("/") else str(tmp_path / name) for name in make_bad_files(tmp_path)]
    results = child_result(LOAD_EVERY_FILE.format(paths=paths))
    assert len(results) == 2 * len(paths)
    assert not any(results.values()), [name for name, valid in results.items() if valid]


CRASHERS = ROOT / "tests" / "data" / "crashers"


def wide_wav(tmp_path, format_tag):
    """A 64-bit WAV (float or integer samples): raylib would stream it as a 64-bit stream."""
    path = tmp_path / f"wide-{format_tag}.wav"
    frames = 22050
    path.write_bytes(wav_header(format_tag, 1, 22050, 64, frames * 8) + bytes(frames * 8))
    return str(path)


@pytest.mark.parametrize("name", sorted(p.name for p in CRASHERS.iterdir()) + ["wide-float", "wide-int"])
def test_files_that_crashed_or_hung_raylib(tmp_path, name):
    if name.startswith("wide-"):
        path = wide_wav(tmp_path, 3 if name == "wide-float" else 1)
    else:
        path = str(CRASHERS / name)
    # The limit on the address space keeps a runaway allocation from taking the machine, yet lets
    # the one the ADPCM header asked for (gigabytes) succeed, so that the peak shows it.
    out = child_result(
        f"""
        import json, resource, time
        if not {UNDER_SANITIZER}:
            resource.setrlimit(resource.RLIMIT_AS, (16 << 30, 16 << 30))
        from tavoro import audio_device
        from tavoro.music.music import Music
        from tavoro.sound.sound import Sound
        audio_device.init()
        start = time.perf_counter()
        sound, music = Sound.load({path!r}), Music.load({path!r})
        seconds = time.perf_counter() - start
        status = open("/proc/self/status").read().split("VmPeak:")[1]
        peak = int(status.split()[0])
        sound.play()
        music.play()
        for _ in range(10):
            music.update()
            time.sleep(0.01)
        valid = [sound.valid, music.valid]
        audio_device.close()
        print(json.dumps([valid, seconds, peak]))
        """,
        timeout=30,
    )
    valid, seconds, peak_kb = out
    assert seconds < 5 and (UNDER_SANITIZER or peak_kb < (1 << 20)), (seconds, peak_kb)
    if name.startswith("wide-"):
        assert valid[1] is False  # a music of 64-bit samples is not loaded


# ---------------------------------------------------------------------------------------------
# raylib's own leaks, reached through the API


LEAK_CYCLES = """
import ctypes, json
from tavoro import audio_device
from tavoro.music.music import Music
from tavoro.sound.sound import Sound

class MallInfo2(ctypes.Structure):
    _fields_ = [(n, ctypes.c_size_t) for n in ("arena", "ordblks", "smblks", "hblks", "hblkhd",
                                               "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]
libc = ctypes.CDLL(None)
if hasattr(libc, "mallinfo2"):
    libc.mallinfo2.restype = MallInfo2
else:  # before glibc 2.33: the same counts as ints
    libc.mallinfo2 = libc.mallinfo
    libc.mallinfo2.restype = type("MallInfo", (ctypes.Structure,),
                                  {{"_fields_": [(n, ctypes.c_int) for n, _ in MallInfo2._fields_]}})
sanitizer_count = getattr(libc, "__sanitizer_get_current_allocated_bytes", None)
if sanitizer_count is not None:
    sanitizer_count.restype = ctypes.c_size_t

def in_use():
    if sanitizer_count is not None:
        return sanitizer_count()
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd

audio_device.init()
source = Sound.load({path!r})

def cycle():
    {operation}

for _ in range(200):
    cycle()
before = in_use()
for _ in range({cycles}):
    cycle()
grown = in_use() - before
audio_device.close()
print(json.dumps(grown))
"""


@pytest.mark.parametrize(
    "operation",
    ["Music.load(PATH).unload()", "Sound.load_alias(source)", "Sound.load(PATH).unload()"],
)
def test_load_and_release_cycles_do_not_grow_the_heap(write_wav, operation):
    cycles = 3000
    path = write_wav(0.05)
    grown = child_result(LEAK_CYCLES.format(path=path, cycles=cycles,
                                            operation=operation.replace("PATH", repr(path))),
                         timeout=120)
    # The smallest leak found, 64 bytes a cycle, would grow it by 192 KB.
    assert grown < cycles * 8, f"{grown} bytes in {cycles} cycles"


# ---------------------------------------------------------------------------------------------
# Fork


def test_a_forked_child_has_no_device_and_its_objects_read_as_unloaded(write_wav):
    out = child_result(
        f"""
        import json, os
        from tavoro import audio_device
        from tavoro.audio_stream.audio_stream import AudioStream
        from tavoro.music.music import Music
        from tavoro.sound.sound import Sound
        audio_device.init()
        path = {write_wav(1.0)!r}
        sound, music, stream = Sound.load(path), Music.load(path), AudioStream(22050, 16, 1)
        alias = Sound.load_alias(sound)
        music.play()
        read, write = os.pipe()
        pid = os.fork()
        if pid == 0:
            seen = {{"ready": audio_device.ready()}}
            objects = [sound, alias, music, stream, sound.stream]
            seen["valid"] = [o.valid for o in objects]
            for o in objects:
                o.play()
                o.pitch = 2.0
            music.update()
            music.seek(0.5)
            seen["music"] = [music.stream.playing, music.length, music.time_played]
            try:
                Sound.load(path)
            except RuntimeError as e:
                seen["load"] = str(e)
            try:
                audio_device.init()
            except RuntimeError as e:
                seen["init"] = str(e)
            audio_device.close()
            del sound, alias, music, stream, objects
            os.write(write, json.dumps(seen).encode())
            os._exit(0)
        os.close(write)
        _, status = os.waitpid(pid, 0)
        seen = json.loads(os.read(read, 10000) or b"null")
        still = [sound.valid, music.valid, music.stream.playing]
        audio_device.close()
        print(json.dumps({{"status": status, "child": seen, "parent": still}}))
        """,
        timeout=60,
    )
    assert out["status"] == 0
    assert out["child"] == {
        "ready": False,
        "valid": [False] * 5,
        "music": [False, 0.0, 0.0],
        "load": "the audio device is not open: call tavoro.audio_device.init() before loading audio",
        "init": "the audio device cannot be opened in a process forked while it was open",
    }
    assert out["parent"] == [True, True, True]


# ---------------------------------------------------------------------------------------------
# Sub-buffers too large for raylib's 32-bit byte counts, and log handlers that make audio calls


def test_sub_buffers_whose_bytes_do_not_fit_and_handlers_that_log_without_end(write_wav):
    out = child_result(
        f"""
        import ctypes, json, logging
        from tavoro import audio_device
        from tavoro.audio_stream.audio_stream import AudioStream
        from tavoro.music.music import Music
        seen = {{}}
        audio_device.init()
        audio_device.set_stream_buffer_frames(2**30)
        for make in (lambda: AudioStream(48000, 16, 2), lambda: Music.load({write_wav(0.5)!r})):
            try:
                make().update(bytes(4), 1)
            except ValueError as e:
                seen["refused"] = seen.get("refused", []) + [str(e)]
        seen["mono"] = AudioStream(8000, 8, 1).buffer_frames  # 2 GiB: fits
        raylib = next(ctypes.CDLL(l.split()[-1]) for l in open("/proc/self/maps") if "libraylib" in l)
        raylib.LoadAudioStream.restype = type("Record", (ctypes.Structure,), {{"_fields_": [
            ("buffer", ctypes.c_void_p), ("processor", ctypes.c_void_p), ("format", ctypes.c_uint * 3)]}})
        seen["raylib"] = raylib.LoadAudioStream(48000, 16, 2).buffer  # refused, not wrapped
        audio_device.set_stream_buffer_frames(0)
        audio_device.close()

        # Each line handed over makes two more: the hand-over ends, and says what it dropped.
        said = []
        class Streams(logging.Handler):
            def emit(self, record):
                said.append(record.getMessage())
                AudioStream(48000, 16, 2)
        logging.getLogger("tavoro.raylib").addHandler(Streams())
        logging.getLogger("tavoro.raylib").setLevel(logging.INFO)
        audio_device.init()
        seen["said"] = [len(said)] + [m for m in said if "dropped" in m]
        print(json.dumps(seen))
        """,
        timeout=60,
    )
    assert out["refused"] == [
        f"two sub-buffers of 1073741824 frames of {layout} take {size} bytes, more than the "
        "4294967295 a stream can hold (set fewer frames with "
        "tavoro.audio_device.set_stream_buffer_frames)"
        for layout, size in [("2 x 16-bit samples", 8589934592), ("1 x 16-bit samples", 4294967296)]
    ]
    assert out["mono"] == 2**30 and out["raylib"] is None
    assert out["said"][0] < 1000 and out["said"][1].endswith(
        "raylib log lines were dropped (logged by the audio calls of a handler handling a line "
        "that such calls had logged)")


def test_a_module_first_imported_in_a_forked_child_and_a_hand_over_cut_by_fork(write_wav):
    out = child_result(
        f"""
        import ctypes, json, logging, os, threading
        from tavoro import audio_device
        from tavoro.audio_stream.audio_stream import AudioStream
        audio_device.init()
        stream = AudioStream(22050, 16, 1)
        raylib = next(ctypes.CDLL(l.split()[-1]) for l in open("/proc/self/maps") if "libraylib" in l)
        said, handling, forked = [], threading.Event(), threading.Event()
        class Slow(logging.Handler):
            def emit(self, record):
                said.append(record.getMessage())
                if said == ["TEST: slow"]:
                    handling.set()
                    forked.wait(10)
        logging.getLogger("tavoro.raylib").addHandler(Slow())
        raylib.TraceLog(4, b"TEST: slow")
        other = threading.Thread(target=lambda: stream.playing)  # hands the line over, slowly
        other.start()
        handling.wait(10)
        pid = os.fork()
        if pid == 0:
            from tavoro.sound.sound import Sound   # first imported here
            from tavoro.music.music import Music
            seen = {{}}
            for load in (Sound.load, Music.load):
                try:
                    load({write_wav(0.5)!r})
                except RuntimeError as e:
                    seen[load.__qualname__] = str(e)
            raylib.TraceLog(4, b"TEST: in the child")
            stream.play()
            print(json.dumps(dict(seen, said=said[1:])), flush=True)
            os._exit(0)
        forked.set()
        other.join()
        os._exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
        """,
        timeout=60,
    )
    refusal = "the audio device is not open: call tavoro.audio_device.init() before loading audio"
    assert out == {"Sound.load": refusal, "Music.load": refusal, "said": ["TEST: in the child"]}


# The audio thread runs on at exit: an exit handler registered before tavoro's statics runs after
# they are freed and waits for the alarm, while an attached capture would write into freed memory.
def test_exit_with_a_capture_running():
    returncode, _, err = run_child(
        """
        import ctypes, signal
        libc = ctypes.CDLL(None)
        libc.__cxa_atexit(ctypes.cast(libc.pause, ctypes.c_void_p), None, None)
        from tavoro import audio_device
        from tavoro.audio_stream.audio_stream import AudioStream
        audio_device.init()
        audio_device.start_capture(600)
        stream = AudioStream(48000, 32, 1)
        stream.play()
        signal.alarm(2)
        """,
        timeout=60,
    )
    assert returncode == -signal.SIGALRM, (returncode, err[-2000:])
