"""The backend where there is no display: the fallback and its log line, the refusals, the display
reads headless, and no X11 or GL library loaded by importing and drawing."""

import os
import subprocess
import sys
import textwrap

import pytest

from conftest import MODULE_PATHS, ROOT
from tavoro.image.image import Image
from tavoro.window import Window


def child_env(**extra):
    """A child's environment: the modules and the tests on its path, no display but the one given."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "PYTHONWARNINGS")}
    env["PYTHONPATH"] = os.pathsep.join(str(path) for path in [*MODULE_PATHS, ROOT / "tests"])
    return dict(env, **extra)


def run_child(code, env):
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=ROOT, env=env,
                          capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    return proc


def test_headless_display_reads_are_fixed_and_writes_do_nothing():
    with Window(32, 24) as w:
        w.vsync = w.resizable = w.cursor_hidden = True
        w.toggle_fullscreen()
        assert (w.backend, w.monitor_size, w.monitor_refresh_rate, w.render_size, tuple(w.dpi_scale),
                w.vsync, w.resizable, w.cursor_hidden, w.fullscreen, w.resized, w.is_gamepad_available(0),
                w.gamepad_axis(0, 0)) == ("headless", (0, 0), 0, (32, 24), (1, 1), *[False] * 6, 0.0)


@pytest.mark.parametrize("call, error, message", [
    ("Window(8, 8, backend='gpu')", ValueError, r"backend must be 'auto', 'headless' or 'desktop' \(got 'gpu'\)"),
    ("w.is_gamepad_available(4)", ValueError, r"gamepad must be from 0 to 3 \(got 4\)"),
    ("w.is_gamepad_button_down(0, 32)", ValueError, r"button must be from 0 to 31 \(got 32\)"),
    ("w.gamepad_axis(0, -1)", ValueError, r"axis must be from 0 to 7 \(got -1\)"),
    ("w.set_icon(b'')", TypeError, "Expected an Image"),
    ("w.set_icon(Image())", ValueError, "icon must be an Image of RGBA pixels"),
    ("w.close() or Window(8, 8, backend='desktop')", RuntimeError,
     "the desktop backend needs a display, and DISPLAY is not set"),
])
def test_refusals_of_backends_gamepads_and_icons(call, error, message):
    with Window(8, 8, backend="headless") as w, pytest.raises(error, match="^" + message):
        eval(call, {"Window": Window, "Image": Image, "w": w})


@pytest.mark.parametrize("display, why", [
    (None, "no display (DISPLAY is not set)"),
    (":1999", "the desktop window could not be opened on DISPLAY :1999"),
])
def test_with_no_display_windows_fall_back_to_headless_and_say_so(display, why):
    out = run_child("""
        import logging, numpy
        logging.basicConfig(level=logging.INFO, format="%(name)s: %(message)s")
        logging.getLogger("tavoro.raylib").setLevel(logging.CRITICAL)
        from tavoro import Window, draw
        with Window(16, 16) as window, window.frame():
            draw.rect((0, 0, 4, 4), (255, 0, 0))
            print(window.backend, numpy.asarray(window.screenshot())[1, 1].tolist())
    """, child_env(**({"DISPLAY": display} if display else {})))
    assert out.stdout == "headless [255, 0, 0, 255]\n"
    assert f"tavoro.window: window opened on the headless backend: {why}" in out.stderr


# (The sound server's client library links X11 of its own, so the audio device stays closed.)
def test_importing_and_drawing_headless_load_no_x11_or_gl_library():
    out = run_child("""
        import ctypes, pathlib
        import tavoro.window.window as module
        from tavoro import Window, draw
        with Window(16, 16) as window, window.frame():
            draw.circle((8, 8), 4, (255, 255, 255))
        # The desktop build loads without them too: GLFW loads X11 and GL once a window opens.
        ctypes.CDLL(str(pathlib.Path(module.__file__).with_name("libraylib-desktop.so")))
        print([line for line in open("/proc/self/maps") if any(
            name in line for name in ("libX11", "libGL", "libxcb", "libEGL"))])
    """, child_env()).stdout
    assert out == "[]\n"
