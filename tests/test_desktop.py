"""Windows on the desktop backend, in a private X server (Xvfb, with Mesa's software OpenGL) owned
by the tests and stopped by its PID: the drawing probe, raylib's screenshot against the X server's
own capture (xwd), keys and clicks sent with xdotool, a resize, the display behaviours, and
switching backends. Each window opens in a child process. (test_backends.py has what needs no
display.)"""

import contextlib
import os
import shutil
import subprocess
import sys
import textwrap

import numpy
import pytest

from test_backends import child_env, run_child

TOOLS = {"Xvfb": "xvfb", "xdotool": "xdotool", "xwd": "x11-apps"}


def missing_tools():
    missing = [package for tool, package in TOOLS.items() if not shutil.which(tool)]
    if not missing:
        return None
    reason = f"Debian's {', '.join(missing)} not installed"
    if os.environ.get("CI") and os.geteuid() == 0:
        pytest.fail(f"{reason}, although set-up installs them when run as root")
    return reason


def tool_env(display):
    """For the X server and its tools: without the sanitizer runtimes a sanitizer run preloads."""
    env = child_env(DISPLAY=display)
    for name in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC"):
        env.pop(name, None)
    return env


@contextlib.contextmanager
def x_server(log_dir):
    """A private X server: its DISPLAY, and the process, stopped by its PID afterwards."""
    log = open(log_dir / "server.log", "w+")
    # The server picks a free display number and writes it to the pipe once it accepts clients;
    # it stays as it is when its last client goes (an X server resets then, refusing connections).
    ready, announce = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(announce), "-screen", "0", "800x600x24", "-nolisten", "tcp",
         "-noreset"],
        pass_fds=(announce,), stdout=subprocess.DEVNULL, stderr=log, env=tool_env(""))
    os.close(announce)
    try:
        with os.fdopen(ready) as pipe:
            number = pipe.readline().strip()
        if not number:
            log.seek(0)
            pytest.fail(f"Xvfb did not start: {log.read()}")
        yield f":{number}", server
    finally:
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        log.close()


@pytest.fixture(scope="module")
def display(tmp_path_factory):
    """The private server's DISPLAY, for the module's tests."""
    reason = missing_tools()
    if reason:
        pytest.skip(reason)
    with x_server(tmp_path_factory.mktemp("xvfb")) as (name, _):
        yield name


def on_desktop(display, code):
    """Runs `code` in a child whose `window` is a desktop window titled 'probe'; its stdout."""
    prelude = """
        import subprocess, numpy
        from tavoro import Window, Key, MouseButton, draw
        window = Window(160, 120, "probe", backend="desktop", resizable=True)
        assert window.backend == "desktop"
        def xdotool(*args):
            return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True,
                                  env=tool_env).stdout.strip()
        def frames(count):
            for _ in range(count):
                with window.frame():
                    draw.clear((0, 0, 0))
        def frames_until(done, limit=300):
            # Asked inside each frame: a frame's queues empty when it ends.
            for _ in range(limit):
                with window.frame():
                    draw.clear((0, 0, 0))
                    if done():
                        return True
            return False
    """
    setup = ("import os\ntool_env = {k: v for k, v in os.environ.items() if k not in "
             "('LD_PRELOAD', 'ASAN_OPTIONS', 'UBSAN_OPTIONS', 'PYTHONMALLOC')}\n")
    return run_child(setup + textwrap.dedent(prelude) + textwrap.dedent(code),
                     child_env(DISPLAY=display)).stdout.strip()


def test_the_drawing_probe_passes_on_the_desktop(display):
    # The GPU's rasteriser may put an outline's edge on the pixel beside the software renderer's
    # (a line exactly between two pixel columns): lit pixels are looked for within one pixel.
    out = on_desktop(display, """
        import test_draw
        window.close()
        window = Window(test_draw.W, test_draw.H, "probe", backend="desktop")
        test_draw.test_screenshot_is_upright_rgba_with_each_corner_where_drawn(window)
        def near(pixels, x, y):
            return pixels[max(y - 1, 0):y + 2, max(x - 1, 0):x + 2, :3].any()
        wrong = []
        for name, (drawing, inside, outside) in test_draw.PRIMITIVES.items():
            pixels = test_draw.shot(window, drawing)
            wrong += [(name, p) for p in inside if not near(pixels, *p)]
            wrong += [(name, p) for p in outside if test_draw.lit(pixels, *p)]
        print(len(test_draw.PRIMITIVES), wrong)
    """)
    assert out == "15 []"


def read_xwd(data):
    """The pixels (h, w, 3) of an xwd capture of a 24-bit TrueColor window."""
    header = numpy.frombuffer(data[:100], ">u4")
    size, width, height, byte_order, bpp, line = header[[0, 4, 5, 7, 11, 12]]
    colors = header[19]
    assert bpp == 32, f"{bpp} bits a pixel"
    start = int(size) + int(colors) * 12
    pixels = numpy.frombuffer(data[start:start + int(line) * int(height)], "<u4" if byte_order == 0 else ">u4")
    pixels = pixels.reshape(int(height), int(line) // 4)[:, :int(width)]
    return numpy.stack([(pixels >> 16) & 255, (pixels >> 8) & 255, pixels & 255], axis=-1).astype(numpy.uint8)


def test_screenshot_matches_the_x_servers_capture(display, tmp_path):
    capture = tmp_path / "window.xwd"
    on_desktop(display, f"""
        def scene():
            draw.clear((10, 20, 30))
            draw.rect((5, 5, 60, 40), (250, 100, 0))
            draw.circle((110, 70), 30, (0, 200, 90))
            draw.triangle((10, 110), (70, 60), (90, 115), (200, 200, 255))
            draw.text("xwd", (20, 60), 20, (255, 255, 255))
        # Drawn into both buffers, so what the server shows is this frame whichever was swapped.
        for _ in range(3):
            with window.frame():
                scene()
                shot = numpy.array(window.screenshot())
        numpy.save({str(tmp_path / "shot.npy")!r}, shot)
        subprocess.run(["xwd", "-silent", "-name", "probe", "-out", {str(capture)!r}], check=True,
                       env=tool_env)
    """)
    shot = numpy.load(tmp_path / "shot.npy")
    served = read_xwd(capture.read_bytes())
    assert served.shape == shot.shape[:2] + (3,)
    assert (shot[..., 3] == 255).all()
    assert numpy.array_equal(served, shot[..., :3])


def test_keys_clicks_and_the_mouse_arrive_from_the_x_server(display):
    out = on_desktop(display, """
        seen = set()
        wid = xdotool("search", "--sync", "--name", "^probe$")
        xdotool("mousemove", "--window", wid, "40", "30")
        frames_until(lambda: window.mouse_position.x == 40)
        # Down and up in separate frames: raylib takes a press and release seen in one poll as
        # neither (devices are that fast only when scripted).
        xdotool("keydown", "a", "mousedown", "1")
        def look(*wanted):
            if window.is_key_released(Key.A): seen.add("A")
            if window.is_mouse_button_released(MouseButton.LEFT): seen.add("left")
            if window.mouse_wheel > 0: seen.add("wheel")
            while char := window.get_char_pressed(): seen.add(char)
            return window.is_key_down(Key.A) and window.is_mouse_button_down(MouseButton.LEFT) \
                if not wanted else set(wanted) <= seen
        frames_until(look)
        xdotool("keyup", "a", "mouseup", "1", "key", "shift+b", "click", "4")
        frames_until(lambda: look("A", "left", "wheel", "a", "B"))
        print(sorted(seen), tuple(window.mouse_position))
    """)
    assert out == "['A', 'B', 'a', 'left', 'wheel'] (40.0, 30.0)"


def test_scripted_input_and_replays_work_on_the_desktop(display, tmp_path):
    out = on_desktop(display, f"""
        window.start_recording()
        window.press_key(Key.SPACE)
        window.type_text("hé")
        frames(3)
        window.stop_recording({str(tmp_path / "run.txt")!r})
        window.release_key(Key.SPACE)
        frames(2)
        window.replay({str(tmp_path / "run.txt")!r})
        chars = []
        def look():
            while char := window.get_char_pressed(): chars.append(char)
            return window.is_key_down(Key.SPACE) and chars
        print(frames_until(look, 10), "".join(chars))
    """)
    assert out == "True hé"


def test_a_resize_is_reported_and_drawn_into(display):
    out = on_desktop(display, """
        wid = xdotool("search", "--sync", "--name", "^probe$")
        resized = []
        xdotool("windowsize", wid, "300", "200")
        frames_until(lambda: resized.append(window.resized) or window.size == (300, 200))
        with window.frame():
            draw.clear((0, 0, 0))
            draw.rect((280, 180, 10, 10), (255, 0, 0))   # culled against the old size otherwise
            pixels = numpy.array(window.screenshot())
        print(any(resized), window.size, window.render_size, pixels.shape, pixels[185, 285].tolist())
    """)
    assert out == "True (300, 200) (300, 200) (200, 300, 4) [255, 0, 0, 255]"


def test_display_behaviours_read_from_the_window_system(display):
    out = on_desktop(display, """
        from tavoro.image.image import Image
        window.vsync = True
        window.cursor_hidden = True
        window.resizable = False
        with window.frame():
            window.set_icon(window.screenshot())
        print(window.monitor_size, tuple(window.dpi_scale), window.vsync, window.cursor_hidden,
              window.resizable, window.fullscreen)
        window.title = "renamed"
        frames(2)
        print(xdotool("getwindowname", xdotool("search", "--name", "^renamed$")))
    """)
    assert out.splitlines() == ["(800, 600) (1.0, 1.0) True True False False", "renamed"]


def test_windows_switch_backends_and_audio_plays_through_both(display):
    out = run_child("""
        import time, numpy
        from tavoro import Window, audio_device
        from tavoro.audio_stream.audio_stream import AudioStream
        audio_device.init()
        rate = audio_device.sample_rate()
        tone = (0.5 * numpy.sin(numpy.arange(rate) * (2 * numpy.pi * 440 / rate))).astype(numpy.float32)
        stream = AudioStream(rate, 32, 1)
        stream.play()
        seen = []
        for backend, resizable in (("desktop", True), ("headless", True), ("auto", False)):
            with Window(16, 16, backend=backend, resizable=resizable) as window:
                audio_device.start_capture(1)
                for _ in range(20):
                    with window.frame():
                        pass
                    if stream.processed:
                        stream.update(tone[:stream.buffer_frames], stream.buffer_frames)
                    time.sleep(0.01)
                level = numpy.abs(numpy.frombuffer(audio_device.stop_capture(), numpy.float32)).max()
                seen.append((window.backend, window.resizable, bool(level > 0.1)))
        print(seen)
        audio_device.close()
    """, child_env(DISPLAY=display)).stdout.strip()
    # Each window has the flags it asked for, not those of the one before; the tone is in the mix.
    assert out == ("[('desktop', True, True), ('headless', False, True), "
                   "('desktop', False, True)]")


# The window system takes the window away: destroyed under the program (a protocol error for
# Xlib), its connection killed, or the whole server gone. Xlib would end the process; instead
# should_close reads True and the window closes.
LOSSES = {
    "window destroyed": lambda display, pid: subprocess.run(
        ["xdotool", "search", "--name", "^victim$", "windowclose"], env=tool_env(display), check=True),
    "connection killed": lambda display, pid: subprocess.run(
        ["xdotool", "search", "--name", "^victim$", "windowkill"], env=tool_env(display), check=True),
    "server gone": lambda display, pid: os.kill(pid, 15),
}


@pytest.mark.parametrize("loss", LOSSES)
def test_a_window_taken_away_reads_as_closed_not_a_crash(loss, tmp_path):
    reason = missing_tools()
    if reason:
        pytest.skip(reason)
    with x_server(tmp_path) as (display, server):
        child = subprocess.Popen([sys.executable, "-c", textwrap.dedent("""
            import time
            from tavoro import Window, draw
            window = Window(64, 48, "victim", backend="desktop")
            print("open", flush=True)
            deadline = time.monotonic() + 20
            while not window.should_close and time.monotonic() < deadline:
                with window.frame():
                    draw.rect((1, 1, 8, 8), (255, 0, 0))
                    window.screenshot()
            print(window.should_close, flush=True)
            window.close()
            with Window(8, 8, backend="headless") as again:
                print(again.backend)
        """)], env=child_env(DISPLAY=display), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            text=True, cwd=tmp_path)
        assert child.stdout.readline() == "open\n"
        LOSSES[loss](display, server.pid)
        out, err = child.communicate(timeout=60)
    assert (child.returncode, out) == (0, "True\nheadless\n"), err
