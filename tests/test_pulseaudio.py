"""tavoro through a real sound server: a private PulseAudio server with a null sink, owned by the
test and stopped by its PID; tavoro plays a tone through miniaudio's PulseAudio backend in a
child process (so this process's own device is left alone), and parec records the sink's
monitor. Also the fallback: with no server to reach, the device still opens."""

import os
import shutil
import subprocess
import sys
import textwrap
import time

import numpy
import pytest

from conftest import MODULE_PATHS, ROOT

SINK = "tavoro_test"
RATE = 48000
TONE = 660.0
AMPLITUDE = 0.5
CENTRE = 0.6875


def missing_tools():
    missing = [tool for tool in ("pulseaudio", "parec") if not shutil.which(tool)]
    if not missing:
        return None
    reason = f"{' and '.join(missing)} not installed (Debian's pulseaudio and pulseaudio-utils)"
    if os.environ.get("CI") and os.geteuid() == 0:
        pytest.fail(f"{reason}, although set-up installs them when run as root")
    return reason


def child_env(**extra):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(str(path) for path in MODULE_PATHS)
    env.pop("PYTHONWARNINGS", None)
    env.update(extra)
    return env


def tool_env(**extra):
    """For the server and its tools: without the sanitizer runtimes that a sanitizer run
    preloads for tavoro (PulseAudio is not built for them, and hangs under them)."""
    env = child_env(**extra)
    for name in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC"):
        env.pop(name, None)
    return env


def server_answers(address):
    try:
        return subprocess.run(["pactl", "-s", address, "info"], capture_output=True,
                              env=tool_env(), timeout=5).returncode == 0
    except subprocess.TimeoutExpired:
        return False


@pytest.fixture
def pulse_server(tmp_path):
    """The server's address (PULSE_SERVER), for as long as the test runs."""
    reason = missing_tools()
    if reason:
        pytest.skip(reason)
    runtime = tmp_path / "pulse"
    runtime.mkdir()
    socket = runtime / "native"
    log = open(runtime / "server.log", "w")
    private = {key: str(runtime) for key in
               ("HOME", "XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH")}
    server = subprocess.Popen(
        ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
         "--log-target=stderr", f"--load=module-null-sink sink_name={SINK} rate={RATE}",
         f"--load=module-native-protocol-unix socket={socket} auth-anonymous=1"],
        env=tool_env(**private), stdout=subprocess.DEVNULL, stderr=log,
    )
    address = f"unix:{socket}"
    try:
        deadline = time.monotonic() + 15
        while not server_answers(address):
            if server.poll() is not None or time.monotonic() > deadline:
                pytest.fail(f"the PulseAudio server did not start: {(runtime / 'server.log').read_text()}")
            time.sleep(0.1)
        # A null sink renders its first two seconds ahead when it starts (its largest block),
        # so a stream that connects sooner is not consumed until then; suspending and resuming
        # the sink starts its clock afresh (bench/audio_latency.py measures both).
        for state in ("1", "0"):
            subprocess.run(["pactl", "-s", address, "suspend-sink", SINK, state], check=True,
                           capture_output=True, env=tool_env(), timeout=5)
        yield address, private
    finally:
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        log.close()


def run_child(code, env):
    proc = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], cwd=ROOT, env=env,
        capture_output=True, text=True, timeout=60,
    )
    assert proc.returncode == 0, proc.stderr
    return proc.stdout.strip()


SECONDS = 0.6  # of tone played
PLAY_TONE = f"""
    import math, time
    import numpy
    from tavoro import audio_device
    from tavoro.audio_stream.audio_stream import AudioStream
    audio_device.init()
    print(audio_device.backend())
    stream = AudioStream({RATE}, 32, 1)
    stream.play()
    frames = stream.buffer_frames
    # Whole sub-buffers whenever one has played, for {SECONDS} s of tone, then the last plays out.
    fed, deadline = 0, time.monotonic() + 10
    while fed < {SECONDS} * {RATE} and time.monotonic() < deadline:
        if not stream.processed:
            time.sleep(0.002)
            continue
        t = (numpy.arange(frames) + fed) / {RATE}
        stream.update(({AMPLITUDE} * numpy.sin(2 * math.pi * {TONE} * t)).astype(numpy.float32), frames)
        fed += frames
    time.sleep(0.3 + frames / {RATE})
    audio_device.close()
"""


def test_a_tone_reaches_the_sound_server(pulse_server, tmp_path):
    address, private = pulse_server
    recording = tmp_path / "monitor.raw"
    with open(recording, "wb") as out:
        recorder = subprocess.Popen(
            ["parec", "-s", address, "-d", f"{SINK}.monitor", "--raw", "--format=float32le",
             f"--rate={RATE}", "--channels=2", "--latency-msec=20"],
            stdout=out, stderr=subprocess.DEVNULL, env=tool_env(**private),
        )
        try:
            time.sleep(0.3)
            backend = run_child(PLAY_TONE, child_env(PULSE_SERVER=address, **private))
            time.sleep(0.5)  # what parec holds reaches the file
        finally:
            recorder.terminate()
            recorder.wait(timeout=10)
    assert backend == "PulseAudio"
    mix = numpy.fromfile(recording, numpy.float32)
    mix = mix[: len(mix) // 2 * 2].reshape(-1, 2)
    sounding = mix[numpy.abs(mix).max(axis=1) > 1e-3]
    assert len(sounding) > 0.2 * RATE, "the tone did not reach the sink"
    steady = sounding[len(sounding) // 4: len(sounding) * 3 // 4]
    spectrum = numpy.abs(numpy.fft.rfft(steady.sum(axis=1) * numpy.hanning(len(steady))))
    assert numpy.fft.rfftfreq(len(steady), 1 / RATE)[spectrum.argmax()] == pytest.approx(TONE, abs=5)
    levels = numpy.sqrt(numpy.mean(steady ** 2, axis=0)) * numpy.sqrt(2)
    assert levels == pytest.approx([AMPLITUDE * CENTRE] * 2, rel=0.05)


def test_no_server_falls_back(tmp_path):
    """With no server to reach, the device opens on ALSA (a card) or else the null device."""
    backend = run_child(
        """
        from tavoro import audio_device
        audio_device.init()
        print(audio_device.backend())
        audio_device.close()
        """,
        child_env(PULSE_SERVER=f"unix:{tmp_path}/none", HOME=str(tmp_path),
                  XDG_RUNTIME_DIR=str(tmp_path)),
    )
    assert backend == ("ALSA" if os.path.exists("/dev/snd") else "Null")
