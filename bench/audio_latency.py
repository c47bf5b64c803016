"""Times how long a sound takes to be heard: from `play()` to the first sample of it in the
monitor of a PulseAudio null sink, on a private server that this script starts and stops.

A stream is fed a tone whenever it is processed and played right after `audio_device.init()`,
or some time after it; PulseAudio's own client, pacat, plays the same tone for comparison. Each
case runs a few times, each in a fresh process on a fresh server: either just started, or with
its sink suspended and resumed first. A null sink renders its first two seconds ahead when it
starts (its largest block), so nothing connected sooner is consumed until then, by any client;
resuming the sink starts its clock afresh, as a server that has been running for a while is.
The monitor is read by parec through a pipe; each sample's time is taken from when its chunk
arrived, so the figures carry parec's own latency (about 10 ms, either way) too.

    .venv/bin/python bench/audio_latency.py [--runs N] [--no-write]

The table goes to stdout and, unless --no-write is given, to its section of bench/results.md.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
from pathlib import Path

import numpy

HERE = Path(__file__).resolve().parent
MODULE_PATH = os.environ.get("TAVORO_MODULE_TREE") or str(HERE.parent / "src")
RATE = 48000
SINK = "bench_sink"
SECTION = "## Audio: from play() to the sink"

# The child plays a 660 Hz tone from a stream fed whole sub-buffers, `wait` seconds after init(),
# and prints the monotonic clock at play().
CHILD = """
import math, sys, time
import numpy
from tavoro import audio_device
from tavoro.audio_stream.audio_stream import AudioStream
wait = float(sys.argv[1])
audio_device.init()
assert audio_device.backend() == "PulseAudio", audio_device.backend()
stream = AudioStream(48000, 32, 1)
frames = stream.buffer_frames
time.sleep(wait)
played = time.monotonic()
stream.play()
fed, end = 0, played + 3.0
while time.monotonic() < end:
    if stream.processed:
        t = (numpy.arange(frames) + fed) / 48000
        stream.update((0.5 * numpy.sin(2 * math.pi * 660 * t)).astype(numpy.float32), frames)
        fed += frames
    time.sleep(0.002)
print(played)
audio_device.close()
"""


class Server:
    """A private PulseAudio server with one null sink, and parec reading its monitor."""

    def __init__(self, root):
        self.root = Path(root)
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
        self.env.update({k: str(self.root) for k in
                         ("HOME", "XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH")})
        self.address = f"unix:{self.root}/native"
        self.env["PULSE_SERVER"] = self.address
        self.server = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             f"--load=module-null-sink sink_name={SINK} rate={RATE}",
             f"--load=module-native-protocol-unix socket={self.root}/native auth-anonymous=1"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode:
            if time.monotonic() > deadline:
                raise RuntimeError("the PulseAudio server did not start")
            time.sleep(0.05)
        self.chunks = []  # (arrival time, float32 samples of both channels)
        self.recorder = subprocess.Popen(
            ["parec", "-d", f"{SINK}.monitor", "--raw", "--format=float32le", f"--rate={RATE}",
             "--channels=2", "--latency-msec=10"],
            env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        while chunk := self.recorder.stdout.read1(4096):
            self.chunks.append((time.monotonic(), chunk))

    def first_sound_after(self, start):
        """The time of the first sounding sample captured after `start`, or None."""
        pending = b""
        for arrived, chunk in list(self.chunks):
            data = pending + chunk
            usable = len(data) // 8 * 8
            pending = data[usable:]
            frames = numpy.frombuffer(data[:usable], numpy.float32).reshape(-1, 2)
            loud = numpy.flatnonzero(numpy.abs(frames).max(axis=1) > 1e-3)
            if len(loud):
                at = arrived - (len(frames) - loud[0]) / RATE
                if at >= start:
                    return at
        return None

    def restart_sink(self):
        for state in ("1", "0"):
            subprocess.run(["pactl", "suspend-sink", SINK, state], env=self.env, check=True,
                           capture_output=True)

    def stop(self):
        for process in (self.recorder, self.server):
            process.terminate()
            process.wait(timeout=10)


def play_tavoro(env, wait):
    """Plays through tavoro; the time of play()."""
    env = dict(env, PYTHONPATH=MODULE_PATH)
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(CHILD), str(wait)],
                         env=env, capture_output=True, text=True, timeout=60)
    if out.returncode:
        raise RuntimeError(out.stderr)
    return float(out.stdout.split()[-1])


def play_pacat(env, wait):
    """The same tone through PulseAudio's own client, pacat: the server's share of the time."""
    t = numpy.arange(RATE) / RATE
    tone = (0.5 * numpy.sin(2 * numpy.pi * 660 * t)).astype(numpy.float32).tobytes()
    player = subprocess.Popen(["pacat", "-d", SINK, "--raw", "--format=float32le",
                               f"--rate={RATE}", "--channels=1", "--latency-msec=25"],
                              env=env, stdin=subprocess.PIPE, stderr=subprocess.DEVNULL)
    time.sleep(wait)
    played = time.monotonic()
    player.stdin.write(tone)
    player.stdin.close()
    player.wait(timeout=30)
    return played


def one_run(play, wait, restarted):
    """Seconds from play() to the sink, on a new server (its sink restarted, if asked)."""
    with tempfile.TemporaryDirectory() as root:
        server = Server(root)
        try:
            if restarted:
                server.restart_sink()
            played = play(server.env, wait)
            time.sleep(0.2)
            heard = server.first_sound_after(played - 0.05)
            return None if heard is None else heard - played
        finally:
            server.stop()


CASES = [
    ("tavoro, play() right after init(), server just started", play_tavoro, 0.0, False),
    ("pacat, plays right after connecting, server just started", play_pacat, 0.0, False),
    ("tavoro, play() 2 s after init(), server just started", play_tavoro, 2.0, False),
    ("tavoro, play() right after init(), sink restarted", play_tavoro, 0.0, True),
    ("tavoro, play() 2 s after init(), sink restarted", play_tavoro, 2.0, True),
    ("pacat, plays right after connecting, sink restarted", play_pacat, 0.0, True),
]


def table(results, runs):
    lines = [SECTION, "",
             f"Milliseconds from `play()` to the first sample in the null sink's monitor of a "
             f"private PulseAudio server (median and worst of {runs} runs, each a fresh process "
             f"and server; about ±10 ms). A just-started null sink consumes nothing from any "
             f"client for its first two seconds; a restarted one (suspended and resumed) is what "
             f"a running server gives. Made by `bench/audio_latency.py`.", "",
             "| case | median | worst |", "| --- | ---: | ---: |"]
    for label, times in results:
        heard = [t for t in times if t is not None]
        missed = len(times) - len(heard)
        worst = "not heard" if missed else f"{max(heard) * 1000:.0f}"
        median = f"{numpy.median(heard) * 1000:.0f}" if heard else "—"
        lines.append(f"| {label} | {median} | {worst} |")
    return "\n".join(lines) + "\n"


def write_section(text):
    path = HERE / "results.md"
    old = path.read_text()
    pattern = re.compile(re.escape(SECTION) + r".*?(?=^## |\Z)", re.S | re.M)
    new = pattern.sub(lambda _: text + "\n", old) if pattern.search(old) else old.rstrip() + "\n\n" + text
    path.write_text(new)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--no-write", action="store_true")
    args = parser.parse_args()
    if not (shutil.which("pulseaudio") and shutil.which("parec")):
        sys.exit("needs pulseaudio and parec (Debian's pulseaudio and pulseaudio-utils)")
    results = [(label, [one_run(play, wait, restarted) for _ in range(args.runs)])
               for label, play, wait, restarted in CASES]
    text = table(results, args.runs)
    print(text)
    if not args.no_write:
        write_section(text)


if __name__ == "__main__":
    main()
