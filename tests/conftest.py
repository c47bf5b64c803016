import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Windows open on the desktop wherever a display is: the suite draws headless, as CI does, also
# from a desktop session (and in the interpreters it starts). The desktop tests name their own.
os.environ.pop("DISPLAY", None)

# The built modules: in place (src/ and tests/native/), or in the separate tree that
# TAVORO_MODULE_TREE names (its tavoro/ package and native/ directory), such as the sanitizer
# build's; the tests and the fresh interpreters they start use the same ones.
if os.environ.get("TAVORO_MODULE_TREE"):
    MODULE_TREE = pathlib.Path(os.environ["TAVORO_MODULE_TREE"]).resolve()
    MODULE_PATHS = [MODULE_TREE, MODULE_TREE / "native"]
    sys.path[:0] = [str(path) for path in MODULE_PATHS]
else:
    MODULE_PATHS = [ROOT / "src", ROOT / "tests" / "native"]


@pytest.fixture
def run_python():
    """Runs code in a fresh interpreter that finds the in-tree modules; returns the
    completed process (stdout and stderr as text)."""

    def run(code, check=True):
        env = dict(os.environ)
        env["PYTHONPATH"] = os.pathsep.join(str(path) for path in MODULE_PATHS)
        env.pop("PYTHONWARNINGS", None)
        proc = subprocess.run(
            [sys.executable, "-c", textwrap.dedent(code)],
            cwd=ROOT,
            env=env,
            capture_output=True,
            text=True,
            timeout=120,
        )
        if check:
            assert proc.returncode == 0, proc.stderr
        return proc

    return run


@pytest.fixture
def audio():
    """raylib's audio device, open for the test and closed after it (which releases whatever
    audio objects the test left loaded)."""
    from tavoro import audio_device

    audio_device.init()
    yield audio_device
    audio_device.close()


@pytest.fixture
def write_wav(tmp_path):
    """Writes a 16-bit WAV file of the given length (a quiet sine) and returns its path."""
    import math
    import struct
    import wave

    def write(seconds, rate=22050, channels=1, name=None):
        path = tmp_path / (name or f"tone-{seconds}s-{rate}-{channels}.wav")
        frames = round(seconds * rate)
        sample = [struct.pack("<h", int(3000 * math.sin(i * 0.06))) for i in range(rate)]
        with wave.open(str(path), "wb") as out:
            out.setnchannels(channels)
            out.setsampwidth(2)
            out.setframerate(rate)
            out.writeframes(b"".join(sample[i % rate] * channels for i in range(frames)))
        return str(path)

    return write


@pytest.fixture
def release_log(run_python, tmp_path):
    """Runs code in a fresh interpreter with raylib's audio loads and releases logged (by the
    preloaded tests/native/audio_release_log.so), checks that every buffer loaded was released at
    most once and by the release function that matches its load, and returns the calls made as a
    list of (function, buffer) pairs, failed loads (null buffers) left out."""
    library = MODULE_PATHS[1] / "audio_release_log.so"
    if not library.exists():
        pytest.skip("the test-only library audio_release_log.so is not built")
    matching = {
        "UnloadAudioStream": "LoadAudioStream",
        "UnloadSound": "LoadSound",
        "UnloadSoundAlias": "LoadSoundAlias",
        "UnloadMusicStream": "LoadMusicStream",
    }

    def run(code):
        log = tmp_path / "release.log"
        log.unlink(missing_ok=True)
        saved = {key: os.environ.get(key) for key in ("LD_PRELOAD", "TAVORO_RELEASE_LOG")}
        # After whatever is preloaded already (a sanitizer's runtime must stay first).
        os.environ["LD_PRELOAD"] = " ".join(filter(None, [saved["LD_PRELOAD"], str(library)]))
        os.environ["TAVORO_RELEASE_LOG"] = str(log)
        try:
            run_python(code)
        finally:
            for key, value in saved.items():
                if value is None:
                    os.environ.pop(key, None)
                else:
                    os.environ[key] = value
        calls = [tuple(line.split()) for line in log.read_text().splitlines()] if log.exists() else []
        calls = [(function, buffer) for function, buffer in calls if buffer != "(nil)"]
        live = {}
        for function, buffer in calls:
            if function.startswith("Load"):
                assert buffer not in live, f"{function} returned a live buffer"
                live[buffer] = function
            else:
                assert live.pop(buffer, None) == matching[function], f"bad {function} {buffer}"
        return calls

    return run
