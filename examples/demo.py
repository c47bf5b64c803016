"""A small game loop on tavoro: run it with `make demo`.

With a display it is a game in a window on the desktop: steer the ship with the arrow keys (or
WASD), click to throw in more particles, and every particle the ship touches is caught; Escape or
closing the window ends it, and the figures are on screen. Without a display it runs headless
for four seconds, as below, and says so.

Three hundred particles fly around an arena and bounce off its walls and off four obstacles
placed by the arena's named points (`get_reflected` about the wall's normal, `collide_list_all`
against the obstacles); each takes its colour from the palette. A light direction turns above the
scene (`to_rotated_z`). Sound goes through raylib's audio device: a tone is synthesised in the loop and
fed to a raw AudioStream one whole sub-buffer at a time whenever it has used one up, a short blip
(written as a WAV file at start) plays through Sound aliases on bounces, and a music track
streams from the loop. The device's mix is captured as it plays and written to a WAV file, so
there is something to listen to also on a machine without sound. Each frame is drawn with
tavoro's own drawing into a headless window (the arena, the obstacles, the particles in one batch
call, a sprite out of a sheet and a line with the figures in a TrueType font), and its
screenshots make an animated GIF and one PNG frame (examples/picture.py; Pillow assembles the GIF).
"""

import array
import math
import sys
import tempfile
import time
import wave
from pathlib import Path
from typing import TYPE_CHECKING

from tavoro import Key, MouseButton, audio_device, draw
from tavoro.audio_stream.audio_stream import AudioStream
from tavoro.colors.colors import colors
from tavoro.music.music import Music
from tavoro.rect.rect import Rect
from tavoro.sound.sound import Sound
from tavoro.vector2.vector2 import Vector2
from tavoro.vector3.vector3 import Vector3
from tavoro.window import Window

if TYPE_CHECKING:
    from picture import FilmStrip

FPS = 60
SECONDS = 4
PARTICLES = 300
SAMPLE_RATE = 22050

ARENA = Rect(0, 0, 640, 480)


def obstacles() -> list[Rect]:
    """A block in the middle, pillars left and right, a bar under the top edge: each placed by a
    named point of the arena."""
    block, left, right, bar = Rect(0, 0, 80, 80), Rect(0, 0, 40, 140), Rect(0, 0, 40, 140), Rect(0, 0, 200, 20)
    block.center = ARENA.center
    left.midleft = ARENA.midleft + Vector2(100, 0)
    right.midright = ARENA.midright - Vector2(100, 0)
    bar.midtop = ARENA.midtop + Vector2(0, 50)
    return [block, left, right, bar]


OBSTACLES = obstacles()
OBSTACLE_COLOURS = [colors.SlateGray, colors.SteelBlue, colors.SteelBlue, colors.IndianRed]
# The normals of the arena's walls and the obstacles' sides, by axis.
ACROSS, ALONG = Vector2(1, 0), Vector2(0, 1)
PALETTE = [colors.Gold, colors.Tomato, colors.DeepSkyBlue, colors.LimeGreen, colors.Orchid]


def write_wav(path: Path, seconds: float, notes: list[float]) -> None:
    """A 16-bit mono WAV file playing `notes` (Hz) one after another."""
    frames = int(seconds * SAMPLE_RATE)
    per_note = frames // len(notes)
    samples = array.array("h", (
        int(8000 * math.sin(2 * math.pi * notes[min(i // per_note, len(notes) - 1)] * i / SAMPLE_RATE))
        for i in range(frames)
    ))
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(SAMPLE_RATE)
        out.writeframes(samples.tobytes())


class ToneSynth:
    """A sine tone whose pitch follows the light's height, fed to a 16-bit mono stream.

    raylib plays a stream from two sub-buffers in turn and pads a short update with silence, so
    each update fills a whole sub-buffer (`stream.buffer_frames` frames): anything less would
    play in bursts."""

    def __init__(self, stream: AudioStream) -> None:
        self.stream = stream
        self.phase = 0.0

    def chunk(self, frequency: float) -> bytes:
        frames = self.stream.buffer_frames
        step = 2 * math.pi * frequency / SAMPLE_RATE
        samples = array.array("h", (int(3000 * math.sin(self.phase + step * i)) for i in range(frames)))
        self.phase = (self.phase + step * frames) % (2 * math.pi)
        return samples.tobytes()

    def feed(self, frequency: float) -> bool:
        """Refills the sub-buffer the stream has played, if it has; True when it did."""
        if not self.stream.processed:
            return False
        self.stream.update(self.chunk(frequency), self.stream.buffer_frames)
        return True


def write_mix(path: Path, mix: bytes) -> float:
    """Writes the captured mix (float32 frames of the device) as a 16-bit WAV file; returns its
    length in seconds."""
    samples = array.array("f", mix)
    pcm = array.array("h", (int(max(-1.0, min(1.0, x)) * 32767) for x in samples))
    if sys.byteorder == "big":
        pcm.byteswap()
    channels, rate = audio_device.channels(), audio_device.sample_rate()
    with wave.open(str(path), "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(pcm.tobytes())
    return len(samples) / channels / rate


def bounce(position: Vector2, velocity: Vector2, hit: set[int]) -> tuple[bool, Vector2]:
    """Keeps a particle in the arena and out of the obstacles: whether it bounced, and its
    velocity afterwards. The indices of the obstacles it hit go into `hit`."""
    bounced = False
    if not ARENA.collide_point(position):
        if not ARENA.left <= position.x <= ARENA.right:
            velocity = velocity.get_reflected(ACROSS)
        if not ARENA.top <= position.y <= ARENA.bottom:
            velocity = velocity.get_reflected(ALONG)
        position.x = min(max(position.x, ARENA.left), ARENA.right)
        position.y = min(max(position.y, ARENA.top), ARENA.bottom)
        bounced = True
    hits = Rect(position.x - 2, position.y - 2, 4, 4).collide_list_all(OBSTACLES)
    if hits:
        # Back out along the way it came, then reflect off the side it came through.
        position -= velocity * (1.0 / FPS)
        obstacle = OBSTACLES[hits[0]]
        velocity = velocity.get_reflected(ALONG if obstacle.left <= position.x <= obstacle.right else ACROSS)
        hit.update(hits)
        bounced = True
    return bounced, velocity


STEERING = {Key.LEFT: Vector2(-1, 0), Key.A: Vector2(-1, 0), Key.RIGHT: Vector2(1, 0),
            Key.D: Vector2(1, 0), Key.UP: Vector2(0, -1), Key.W: Vector2(0, -1),
            Key.DOWN: Vector2(0, 1), Key.S: Vector2(0, 1)}
SHIP_SPEED = 240.0


def play(window: Window, workdir: Path) -> None:
    """The game on the desktop, until Escape or the window is closed."""
    from picture import BACKGROUND, RADIUS

    window.target_fps = FPS
    blip = Sound.load(str(workdir / "blip.wav"))
    voices = [Sound.load_alias(blip) for _ in range(8)]
    positions = [Vector2(20 + (i * 37) % 600, 20 + (i * 53) % 440) for i in range(PARTICLES // 3)]
    velocities = [Vector2(math.cos(i), math.sin(i)) * (60 + i % 90) for i in range(len(positions))]
    ship = Vector2(ARENA.centerx, ARENA.bottom - 40)
    caught = next_voice = 0
    while not window.should_close:
        step = min(window.frame_time or 1.0 / FPS, 0.1)
        heading = sum((v for key, v in STEERING.items() if window.is_key_down(key)), Vector2(0, 0))
        if heading.length_squared() > 0:
            ship += heading.get_normalized() * (SHIP_SPEED * step)
        ship = Rect(ship.x, ship.y, 0, 0).get_clamped(ARENA.get_inflated(-48, -48)).topleft
        if window.is_mouse_button_pressed(MouseButton.LEFT):
            at = window.mouse_position
            for i in range(20):
                positions.append(at.copy())
                velocities.append(Vector2.from_polar(80 + 7 * i, i * 18.0))
        hit: set[int] = set()
        for i, position in enumerate(positions):
            position += velocities[i] * step
            velocities[i] = bounce(position, velocities[i], hit)[1]
        reach = Rect(ship.x - 14, ship.y - 14, 28, 28)
        for i in sorted(reach.collide_points(positions), reverse=True):
            del positions[i], velocities[i]
            caught += 1
            voice = voices[next_voice]
            if not voice.playing:
                voice.play()
            next_voice = (next_voice + 1) % len(voices)
        with window.frame():
            draw.clear(BACKGROUND)
            for index, (rect, colour) in enumerate(zip(OBSTACLES, OBSTACLE_COLOURS)):
                if index in hit:
                    draw.rect(rect, colour)
                else:
                    draw.rect_lines(rect, colour, 2)
            if positions:
                draw.circles(positions, RADIUS, colors.Gold)
            draw.triangle(ship + Vector2(0, -14), ship + Vector2(-11, 10), ship + Vector2(11, 10), colors.Tomato)
            draw.rect((0, 452, 640, 28), (0, 0, 0, 160))
            draw.text(f"{window.fps:3.0f} fps   {len(positions):4d} particles   {caught:4d} caught   "
                      "arrows steer, click adds, Esc ends", (8, 458), 14, colors.WhiteSmoke)
        if window.is_key_pressed(Key.ESCAPE):
            window.request_close()
    print(f"caught {caught} particles; {len(positions)} still flying")


def main() -> None:
    from picture import FilmStrip

    workdir = Path(tempfile.mkdtemp(prefix="tavoro-demo-"))
    window = Window(int(ARENA.w), int(ARENA.h), "tavoro demo")
    print(f"window: {window.width}x{window.height}, drawn {window.backend}")
    write_wav(workdir / "blip.wav", 0.06, [1320.0])
    if window.backend == "desktop":
        audio_device.init()
        try:
            play(window, workdir)
        finally:
            audio_device.close()
            window.close()
        return
    print("no display here, so the game runs headless for four seconds and keeps pictures of it")
    film = FilmStrip(window, every=4, workdir=workdir)
    write_wav(workdir / "theme.wav", 6.0, [262.0, 330.0, 392.0, 523.0, 392.0, 330.0])

    audio_device.init()
    backend = audio_device.backend()
    if backend == "Null":
        print("audio: no sound server or card here, so nothing will be heard "
              "(the mix is still written to a file)")
    else:
        print(f"audio: playing through {backend}")
    audio_device.start_capture(SECONDS + 1)
    try:
        run(workdir, film)
        seconds = write_mix(workdir / "mix.wav", audio_device.stop_capture())
        print(f"mix recorded:    {workdir / 'mix.wav'} ({seconds:.1f} s)")
    finally:
        # Release the audio objects before the device goes (close() would release them too).
        audio_device.close()
    film.save(workdir / "run.gif", workdir / "frame.png", FPS)
    window.close()
    print(f"pictures:        {workdir / 'run.gif'} ({len(film.frames)} frames), {workdir / 'frame.png'}")


def run(workdir: Path, film: "FilmStrip") -> None:
    blip = Sound.load(str(workdir / "blip.wav"))
    voices = [Sound.load_alias(blip) for _ in range(8)]
    music = Music.load(str(workdir / "theme.wav"))
    stream = AudioStream(SAMPLE_RATE, 16, 1)
    synth = ToneSynth(stream)
    music.play()
    stream.play()  # before feeding it: play() counts both sub-buffers as used up

    positions = [Vector2(20 + (i * 37) % 600, 20 + (i * 53) % 440) for i in range(PARTICLES)]
    for position in positions:
        while Rect(position.x - 2, position.y - 2, 4, 4).collide_list(OBSTACLES) >= 0:
            position.y = (position.y + 37) % ARENA.h  # start clear of the obstacles
    velocities = [Vector2(math.cos(i), math.sin(i)) * (60 + i % 90) for i in range(PARTICLES)]
    colours = [PALETTE[i % len(PALETTE)] for i in range(PARTICLES)]
    light = Vector3(1, 0, 0.5).get_normalized()

    frames = collisions = sounds = chunks = 0
    busy = 0.0
    next_voice = 0
    started = time.perf_counter()
    for frame in range(FPS * SECONDS):
        begin = time.perf_counter()
        hit: set[int] = set()
        for i, position in enumerate(positions):
            position += velocities[i] * (1.0 / FPS)
            bounced, velocities[i] = bounce(position, velocities[i], hit)
            if bounced:
                collisions += 1
                voice = voices[next_voice]
                if not voice.playing:
                    voice.play()
                    sounds += 1
                next_voice = (next_voice + 1) % len(voices)
        # The light turns about the vertical axis, 90 degrees a second.
        light.to_rotated_z(90 / FPS)
        if synth.feed(440 + 220 * light.y):
            chunks += 1
        music.update()
        frames += 1
        caption = (f"frame {frames:3d}   {collisions:5d} collisions   {sounds:4d} blips   "
                   f"music {music.time_played:4.1f} s")
        with film.window.frame():
            film.draw(positions, colours, list(zip(OBSTACLES, OBSTACLE_COLOURS)), hit, caption)
        busy += time.perf_counter() - begin

        if frames % FPS == 0:
            lit = sum(1 for p in positions if Vector3(p.x / 640, p.y / 480, 1).dot(light) > 0.5)
            gold = sum(1 for c in colours if c is colors.Gold)
            print(f"second {frames // FPS}: {collisions:5d} collisions, {sounds:4d} blips, "
                  f"{chunks:3d} tone chunks, music {music.time_played:4.1f}/{music.length:.1f} s, "
                  f"light {light}, {lit} particles lit, {gold} gold")
        # Keep to real time, so that the audio device plays what the loop feeds it.
        delay = started + frames / FPS - time.perf_counter()
        if delay > 0:
            time.sleep(delay)

    centre = sum(positions[1:], positions[0].copy()) / len(positions)
    print()
    print(f"frames:          {frames}")
    print(f"collisions:      {collisions}")
    print(f"sounds played:   {sounds} (through {len(voices)} aliases of one sound)")
    print(f"music progress:  {music.time_played:.2f} of {music.length:.2f} s")
    print(f"tone chunks fed: {chunks} of {stream.buffer_frames} frames (whole sub-buffers)")
    print(f"centre of mass:  {centre}")
    print(f"time per frame:  {busy / frames * 1000:.3f} ms of work and drawing for {PARTICLES} particles")


if __name__ == "__main__":
    main()
