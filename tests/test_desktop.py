"""Windows on the desktop backend in a private X server (Xvfb, Mesa's software OpenGL), started by
the tests and stopped by its PID: the drawing probe, raylib's screenshot against the server's own
capture (xwd), xdotool's keys and clicks, scripted input, a resize, the display reads, switching
backends with audio playing, and windows the window system takes away. Each in a child."""

import contextlib
import os
import shutil
import subprocess
import textwrap

import numpy
import pytest

from test_backends import child_env, run_child

SANITIZER = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")


@pytest.fixture(scope="module", autouse=True)
def tools():
    missing = [package for tool, package in (("Xvfb", "xvfb"), ("xdotool", "xdotool"), ("xwd", "x11-apps"))
               if not shutil.which(tool)]
    if missing and os.environ.get("CI") and os.geteuid() == 0:
        pytest.fail(f"Debian's {', '.join(missing)} not installed, although set-up installs them as root")
    if missing:
        pytest.skip(f"Debian's {', '.join(missing)} not installed")


@contextlib.contextmanager
def x_server():
    """A private X server that picks a free display and writes it to the pipe once it accepts
    clients, and does not reset when its last client goes: its DISPLAY and process."""
    ready, announce = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(announce), "-screen", "0", "800x600x24",
                               "-nolisten", "tcp", "-noreset"], pass_fds=(announce,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env={k: v for k, v in os.environ.items() if k not in SANITIZER})
    os.close(announce)
    try:
        with os.fdopen(ready) as pipe:
            number = pipe.readline().strip()
        assert number, "Xvfb did not start"
        yield ":" + number, server
    finally:
        server.terminate()
        server.wait(timeout=10)


@pytest.fixture(scope="module")
def display():
    with x_server() as (name, _):
        yield name


PRELUDE = """
    import os, subprocess, numpy
    from tavoro import Window, Key, MouseButton, draw
    window = Window(160, 120, "probe", backend="desktop", resizable=True)
    tools = {k: v for k, v in os.environ.items() if k not in %r}
    def xdotool(*args):
        return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True, env=tools).stdout.strip()
    def frames_until(done, limit=300):
        for _ in range(limit):   # asked inside each frame: a frame's queues empty when it ends
            with window.frame():
                draw.clear((0, 0, 0))
                if done():
                    return True
""" % (SANITIZER,)


def on_desktop(display, code):
    """The output of `code` in a child whose `window` is a desktop window titled 'probe'."""
    return run_child(textwrap.dedent(PRELUDE) + textwrap.dedent(code), child_env(DISPLAY=display)).stdout.strip()


def read_xwd(data):
    """The (h, w, 3) pixels of xwd's capture of a 24-bit TrueColor window, 32 bits a pixel."""
    size, width, height, byte_order, line, colors = numpy.frombuffer(data[:100], ">u4")[[0, 4, 5, 7, 12, 19]]
    start = int(size) + int(colors) * 12
    pixels = numpy.frombuffer(data[start:start + int(line * height)], "<u4" if byte_order == 0 else ">u4")
    pixels = pixels.reshape(int(height), -1)[:, :int(width)]
    return numpy.stack([(pixels >> 16) & 255, (pixels >> 8) & 255, pixels & 255], axis=-1).astype(numpy.uint8)


def test_the_drawing_probe_passes_and_the_screenshot_is_what_the_server_shows(display, tmp_path):
    # The GPU's rasteriser may put an outline's edge on the pixel beside the software renderer's
    # (a line exactly between two columns): lit pixels are looked for within one pixel.
    out = on_desktop(display, f"""
        import test_draw
        window.close()
        window = Window(test_draw.W, test_draw.H, "probe", backend="desktop")
        test_draw.test_screenshot_is_upright_rgba_with_each_corner_where_drawn(window)
        wrong = []
        for name, (drawing, inside, outside) in test_draw.PRIMITIVES.items():
            pixels = test_draw.shot(window, drawing)
            wrong += [(name, p) for p in inside if not pixels[p[1] - 1:p[1] + 2, max(p[0] - 1, 0):p[0] + 2, :3].any()]
            wrong += [(name, p) for p in outside if test_draw.lit(pixels, *p)]
        for _ in range(3):   # into both buffers, so that the server shows it whichever was swapped
            with window.frame():
                draw.clear((10, 20, 30))
                draw.circle((40, 20), 15, (0, 200, 90))
                draw.text("xwd", (5, 25), 20, (255, 255, 255))
                shot = numpy.array(window.screenshot())
        numpy.save({str(tmp_path / "shot.npy")!r}, shot)
        xdotool("search", "--name", "^probe$")
        subprocess.run(["xwd", "-silent", "-name", "probe", "-out", {str(tmp_path / "xwd")!r}], check=True, env=tools)
        print(len(test_draw.PRIMITIVES), wrong)
    """)
    assert out == "15 []"
    shot = numpy.load(tmp_path / "shot.npy")
    assert (shot[..., 3] == 255).all()
    assert numpy.array_equal(read_xwd((tmp_path / "xwd").read_bytes()), shot[..., :3])


def test_devices_and_scripted_input_arrive_from_the_x_server(display, tmp_path):
    out = on_desktop(display, f"""
        seen, wid = set(), xdotool("search", "--sync", "--name", "^probe$")
        def look(*wanted):
            seen.update({{"A"}} if window.is_key_released(Key.A) else ())
            seen.update({{"left"}} if window.is_mouse_button_released(MouseButton.LEFT) else ())
            seen.update({{"wheel"}} if window.mouse_wheel > 0 else ())
            while char := window.get_char_pressed(): seen.add(char)
            return set(wanted) <= seen
        xdotool("mousemove", "--window", wid, "40", "30")
        frames_until(lambda: window.mouse_position.x == 40)
        # Down and up in separate frames: raylib takes both in one poll as neither.
        xdotool("keydown", "a", "mousedown", "1")
        frames_until(lambda: look() or window.is_key_down(Key.A) and window.is_mouse_button_down(MouseButton.LEFT))
        xdotool("keyup", "a", "mouseup", "1", "key", "shift+b", "click", "4")
        frames_until(lambda: look("A", "left", "wheel", "a", "B"))
        print(sorted(seen), tuple(window.mouse_position))
        window.start_recording()
        window.press_key(Key.SPACE)
        window.type_text("hé")
        frames_until(lambda: False, 3)
        window.stop_recording({str(tmp_path / "run")!r})
        window.release_key(Key.SPACE)
        frames_until(lambda: False, 2)
        window.replay({str(tmp_path / "run")!r})
        seen.clear()
        print(frames_until(lambda: look("h", "é") and window.is_key_down(Key.SPACE), 10))
    """)
    assert out.splitlines() == ["['A', 'B', 'a', 'left', 'wheel'] (40.0, 30.0)", "True"]


def test_a_resize_and_the_display_reads(display):
    out = on_desktop(display, """
        wid = xdotool("search", "--sync", "--name", "^probe$")
        resized = []
        xdotool("windowsize", wid, "300", "200")
        frames_until(lambda: resized.append(window.resized) or window.size == (300, 200))
        with window.frame():
            draw.rect((280, 180, 10, 10), (255, 0, 0))   # culled against the old size otherwise
            pixel = numpy.array(window.screenshot())[185, 285].tolist()
            window.set_icon(window.screenshot())
        window.vsync = window.cursor_hidden = True
        window.resizable = False
        window.title = "renamed"
        frames_until(lambda: False, 2)
        print(any(resized), window.size, window.render_size, pixel, window.monitor_size, tuple(window.dpi_scale),
              window.vsync, window.cursor_hidden, window.resizable, xdotool("getwindowname", wid))
    """)
    assert out == "True (300, 200) (300, 200) [255, 0, 0, 255] (800, 600) (1.0, 1.0) True True False renamed"


def test_windows_switch_backends_and_audio_plays_through_both(display):
    out = run_child("""
        import time, numpy
        from tavoro import Window, audio_device
        from tavoro.audio_stream.audio_stream import AudioStream
        audio_device.init()
        rate = audio_device.sample_rate()
        tone = (0.5 * numpy.sin(numpy.arange(rate) * (2 * numpy.pi * 440 / rate))).astype(numpy.float32)
        stream, seen = AudioStream(rate, 32, 1), []
        stream.play()
        for backend, resizable in (("desktop", True), ("headless", True), ("auto", False)):
            with Window(16, 16, backend=backend, resizable=resizable) as window:
                audio_device.start_capture(1)
                for _ in range(20):
                    with window.frame():
                        if stream.processed:
                            stream.update(tone[:stream.buffer_frames], stream.buffer_frames)
                    time.sleep(0.01)
                level = numpy.abs(numpy.frombuffer(audio_device.stop_capture(), numpy.float32)).max()
                seen.append((window.backend, window.resizable, bool(level > 0.1)))
        print(seen)
    """, child_env(DISPLAY=display)).stdout
    # Each window has the flags it asked for, not those of the one before; the tone is in the mix.
    assert out == "[('desktop', True, True), ('headless', False, True), ('desktop', False, True)]\n"


# A window manager's close button sends WM_DELETE_WINDOW; raylib's desktop forgot it (and
# request_close()) a frame later, and closed on Escape, which is the game's key on both backends.
@pytest.mark.parametrize("ask, asked", [("button", True), ("request", True), ("escape", False)])
def test_a_close_request_lasts_until_the_game_closes_and_escape_is_a_key(display, ask, asked):
    out = on_desktop(display, f"""
        import ctypes, struct
        def button(target):  # an XClientMessageEvent, padded to an XEvent
            x = ctypes.CDLL("libX11.so.6")
            x.XOpenDisplay.restype = x.XInternAtom.restype = ctypes.c_void_p
            x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
            x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_char_p]
            x.XCloseDisplay.argtypes = [ctypes.c_void_p]
            server = x.XOpenDisplay(None)
            atoms = [x.XInternAtom(server, name, 0) for name in (b"WM_PROTOCOLS", b"WM_DELETE_WINDOW")]
            event = struct.pack("i4xQi4xQQQi4xq", 33, 0, 0, 0, target, atoms[0], 32, atoms[1])
            x.XSendEvent(server, target, 0, 0, event.ljust(192, b"\\0"))
            x.XCloseDisplay(server)  # flushes
        frames_until(lambda: False, 2)
        target = xdotool("search", "--sync", "--name", "^probe$")
        {{"button": lambda: button(int(target)), "request": window.request_close,
          "escape": lambda: xdotool("mousemove", "--window", target, "5", "5", "keydown", "Escape")}}[{ask!r}]()
        frames_until(lambda: window.should_close or window.is_key_down(Key.ESCAPE))
        frames_until(lambda: False, 3)
        print(window.should_close)
    """)
    assert out == str(asked)


# Xlib would end the process when the window is destroyed under it (a protocol error), its
# connection killed, or the server gone; instead should_close reads True and the window closes.
@pytest.mark.parametrize("loss", ["windowclose", "windowkill", "server"])
def test_a_window_taken_away_reads_as_closed_not_a_crash(loss):
    with x_server() as (display, server):
        out = on_desktop(display, f"""
            frames_until(lambda: False, 2)
            if {loss!r} == "server":
                os.kill({server.pid}, 15)
            else:
                xdotool("search", "--name", "^probe$", {loss!r})
            print(frames_until(lambda: window.should_close), window.close(), Window(8, 8, backend="headless").backend)
        """)
    assert out == "True None headless"


def test_textures_targets_and_fonts_draw_the_same_pixels_on_both_backends(display):
    out = run_child("""
        import numpy
        from tavoro import Window, draw
        from tavoro.font.font import Font
        from tavoro.image.image import Image
        from tavoro.texture.texture import Texture
        pixels = numpy.zeros((8, 8, 4), numpy.uint8)
        pixels[:4] = (255, 0, 0, 255)
        pixels[4:] = (0, 0, 255, 255)
        font = Font.load("tests/data/fonts/DejaVuSansMono-ascii.ttf", 16)
        shots, stale = [], None
        for backend in ("desktop", "headless"):
            with Window(64, 48, backend=backend) as window:
                sprite, target = Texture.from_image(Image.from_buffer(pixels)), Texture.render_target(16, 16)
                with window.frame():
                    draw.clear((0, 0, 0))
                    with target:
                        draw.clear((0, 255, 0))
                        draw.rect((0, 0, 16, 4), (255, 255, 255))
                    sprite.draw((0, 0, 16, 16), (0, 0, 8, 6))
                    target.draw((20, 0, 16, 16))
                    font.draw_text("Hi", (0, 20), 16, (255, 255, 0))
                    Font.default().draw_text("Hi", (30, 20), 10, (255, 255, 0))
                    shots.append(numpy.array(window.screenshot()))
                shots.append(numpy.array(target.to_image()))
            if stale is None:
                stale = sprite
        with Window(8, 8, backend="headless") as window, window.frame():
            try:
                stale.draw((0, 0, 4, 4))
            except RuntimeError:
                refused = True
        lit = int(shots[0][20:36, :20, 0].astype(bool).sum())
        print(numpy.array_equal(shots[0], shots[2]), numpy.array_equal(shots[1], shots[3]), lit > 20, refused)
    """, child_env(DISPLAY=display)).stdout
    assert out == "True True True True\n"
