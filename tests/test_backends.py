"""Choosing the backend where there is no display: the fallback to headless and its log line,
the desktop refused with a clear error, the display reads headless, and a package that imports,
and loads its desktop build, with no X11 or GL library in the process."""

import os
import subprocess
import sys
import textwrap

import pytest

from conftest import MODULE_PATHS, ROOT


def child_env(**extra):
    """The environment of a child that finds the modules and the tests, with no display but the
    one given."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(str(path) for path in [*MODULE_PATHS, ROOT / "tests"])
    env.pop("PYTHONWARNINGS", None)
    env.pop("DISPLAY", None)
    env.update(extra)
    return env


def run_child(code, env):
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=ROOT, env=env,
                          capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    return proc


HEADLESS_READS = """
    from tavoro import Window
    with Window(32, 24) as window:
        window.vsync = window.resizable = window.cursor_hidden = True
        window.toggle_fullscreen()
        print(window.backend, window.monitor_size, window.monitor_refresh_rate, window.render_size,
              tuple(window.dpi_scale), window.vsync, window.resizable, window.cursor_hidden,
              window.fullscreen, window.resized)
"""


def test_headless_display_reads_are_fixed_and_writes_do_nothing():
    out = run_child(HEADLESS_READS, child_env()).stdout.strip()
    assert out == "headless (0, 0) 0 (32, 24) (1.0, 1.0) False False False False False"


REFUSED = [
    ("Window(8, 8, backend='gpu')", ValueError, "backend must be 'auto', 'headless' or 'desktop' (got 'gpu')"),
    ("Window(8, 8, backend=None)", ValueError, "backend must be 'auto', 'headless' or 'desktop' (got None)"),
    ("window.is_gamepad_available(4)", ValueError, "gamepad must be from 0 to 3 (got 4)"),
    ("window.is_gamepad_button_down(0, 32)", ValueError, "button must be from 0 to 31 (got 32)"),
    ("window.gamepad_axis(-1, 0)", ValueError, "gamepad must be from 0 to 3 (got -1)"),
    ("window.set_icon(b'')", TypeError, "Expected an Image"),
    ("window.set_icon(Image())", ValueError, "icon must be an Image of RGBA pixels"),
]


@pytest.mark.parametrize("call, error, message", REFUSED)
def test_refusals_of_backends_gamepads_and_icons(call, error, message):
    from tavoro.image.image import Image
    from tavoro.window import Window
    with Window(8, 8, backend="headless") as window:
        assert not window.is_gamepad_available(0) and window.gamepad_axis(0, 0) == 0.0
        with pytest.raises(error, match="^" + message.replace("(", r"\(").replace(")", r"\)")):
            eval(call, {"Window": Window, "Image": Image, "window": window})


@pytest.mark.parametrize("display_value, line", [
    (None, "no display (DISPLAY is not set)"),
    (":1999", "the desktop window could not be opened on DISPLAY :1999"),
])
def test_with_no_display_windows_fall_back_to_headless_and_say_so(display_value, line):
    env = child_env(**({"DISPLAY": display_value} if display_value else {}))
    out = run_child("""
        import logging
        logging.basicConfig(level=logging.INFO, format="%(name)s: %(message)s")
        logging.getLogger("tavoro.raylib").setLevel(logging.CRITICAL)
        import numpy
        from tavoro import Window, draw
        with Window(16, 16) as window, window.frame():
            draw.rect((0, 0, 4, 4), (255, 0, 0))
            print(window.backend, numpy.asarray(window.screenshot())[1, 1].tolist())
        try:
            Window(16, 16, backend="desktop")
        except RuntimeError as error:
            print(error)
    """, env)
    backend, _, refusal = out.stdout.strip().partition("\n")
    assert backend == "headless [255, 0, 0, 255]"
    assert f"tavoro.window: window opened on the headless backend: {line}" in out.stderr
    assert refusal.startswith("the desktop ")


# (The sound server's client library links X11 of its own, so the audio device is left closed.)
def test_importing_and_drawing_headless_load_no_x11_or_gl_library():
    out = run_child("""
        import ctypes, pathlib
        import tavoro.window.window as module
        from tavoro import Window, draw
        with Window(16, 16) as window, window.frame():
            draw.circle((8, 8), 4, (255, 255, 255))
        # The desktop build loads without them too: GLFW loads X11 and GL once a window opens.
        desktop = pathlib.Path(module.__file__).with_name("libraylib-desktop.so")
        ctypes.CDLL(str(desktop), mode=ctypes.RTLD_LOCAL)
        maps = pathlib.Path("/proc/self/maps").read_text()
        print(sorted({line.rsplit("/", 1)[-1] for line in maps.splitlines()
                      if any(name in line for name in ("libX11", "libGL", "libxcb", "libEGL"))}))
    """, child_env()).stdout.strip()
    assert out == "[]"
