"""The window: its lifecycle (where raylib itself would segfault), frames, screenshots as real
Images, and input: scripted, recorded and replayed, never read from the terminal."""

import os
import struct
import subprocess
import sys
import textwrap
import zlib

import numpy
import pytest

from conftest import MODULE_PATHS, ROOT
from tavoro import draw
from tavoro.vector2.vector2 import Vector2
from tavoro.window import Key, MouseButton, Window


@pytest.fixture
def window():
    with Window(32, 24, "test") as w:
        yield w


# ---------------------------------------------------------------------------------------------
# Lifecycle: each case in a child, since the unguarded call would kill the interpreter.

LIFECYCLE = {
    "draw before any window": ("draw.rect((0, 0, 1, 1), (1, 2, 3))", "no window is open"),
    "draw after close": ("w = Window(8, 8); w.close(); draw.rect((0, 0, 1, 1), (1, 2, 3))", "no window is open"),
    "draw outside a frame": ("w = Window(8, 8); draw.circle((1, 1), 1, (1, 2, 3))", "drawing needs a frame"),
    "measure before any window": ("draw.measure_text('a', 10)", "no window is open"),
    "screenshot outside a frame": ("w = Window(8, 8); w.screenshot()", "drawing needs a frame"),
    "frame after close": ("w = Window(8, 8); w.close(); w.begin_frame()", "the window is closed"),
    "input after close": ("w = Window(8, 8); w.close(); w.is_key_down(Key.A)", "the window is closed"),
    "two windows": ("a = Window(8, 8); b = Window(8, 8)", "already open"),
    "nested frames": ("w = Window(8, 8); w.begin_frame(); w.begin_frame()", "already begun"),
    "end without begin": ("w = Window(8, 8); w.end_frame()", "no frame is begun"),
    "zero size": ("Window(0, 8)", "width and height must be"),
    "beyond memory": ("Window(16384, 16384)", "width and height must be"),
    "nul title": ("Window(8, 8, 'a\\0b')", "NUL"),
    "another thread": (
        "import threading; w = Window(8, 8); w.begin_frame(); errors = []\n"
        "t = threading.Thread(target=lambda: errors.append(pytest_raises(lambda: draw.rect((0, 0, 1, 1), (1, 2, 3)))))\n"
        "t.start(); t.join(); raise errors[0]", "only from the thread that opened it"),
    "forked child": (
        "import os; w = Window(8, 8); w.begin_frame(); pid = os.fork()\n"
        "if pid == 0:\n"
        "    try: draw.rect((0, 0, 1, 1), (1, 2, 3))\n"
        "    except RuntimeError as e: os._exit(0 if 'forked' in str(e) else 3)\n"
        "    os._exit(4)\n"
        "_, status = os.waitpid(pid, 0); assert status == 0, status\n"
        "draw.rect((0, 0, 1, 1), (1, 2, 3)); w.end_frame()\n"
        "raise RuntimeError('the parent still draws: forked')", "forked"),
}

CHILD = """
from tavoro import draw
from tavoro.window import Key, Window
def pytest_raises(call):
    try:
        call()
    except Exception as error:
        return error
    return AssertionError('no error')
try:
{code}
except (RuntimeError, ValueError) as error:
    print(type(error).__name__, error)
else:
    print('no error')
"""


def run_child(code, **kwargs):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(map(str, MODULE_PATHS)))
    return subprocess.run([sys.executable, "-c", code], cwd=ROOT, env=env, capture_output=True,
                          text=True, timeout=60, **kwargs)


@pytest.mark.parametrize("name", LIFECYCLE)
def test_lifecycle_errors_are_clear_exceptions(name):
    code, words = LIFECYCLE[name]
    proc = run_child(CHILD.format(code=textwrap.indent(code, "    ")))
    assert proc.returncode == 0, proc.stderr
    assert words in proc.stdout, proc.stdout


def test_window_reopens_and_its_frame_ends_when_an_exception_passes(window):
    with pytest.raises(KeyError):
        with window.frame():
            raise KeyError
    assert not window.in_frame
    window.close()
    window.close()
    with Window(16, 8, "again") as again:
        assert (again.size, again.backend, again.title, again.is_open) == ((16, 8), "headless", "again", True)
        with again.frame():
            draw.clear((9, 9, 9))
            assert tuple(numpy.asarray(again.screenshot())[7, 15]) == (9, 9, 9, 255)
    assert not again.is_open and repr(again) == "<closed Window>"


def test_frames_are_paced_and_timed(window):
    window.target_fps = 50
    for _ in range(4):
        with window.frame():
            pass
    assert 0.015 < window.frame_time < 0.2 and 5 < window.fps < 60
    with pytest.raises(ValueError, match="target_fps"):
        window.target_fps = -1


def test_request_close(window):
    assert not window.should_close
    window.request_close()
    assert window.should_close


# ---------------------------------------------------------------------------------------------
# Screenshots are Images


def read_png(path):
    """The RGBA pixels of an 8-bit RGBA PNG without interlacing (what raylib writes)."""
    data = path.read_bytes()
    chunks, at = {}, 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks[kind] = chunks.get(kind, b"") + data[at + 8:at + 8 + length]
        at += 12 + length
    width, height, depth, color = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert (depth, color) == (8, 6)
    raw, rows, previous = zlib.decompress(chunks[b"IDAT"]), [], bytearray(width * 4)
    stride = width * 4 + 1
    for y in range(height):
        kind, line = raw[y * stride], bytearray(raw[y * stride + 1:(y + 1) * stride])
        for i in range(len(line)):
            left = line[i - 4] if i >= 4 else 0
            up, corner = previous[i], previous[i - 4] if i >= 4 else 0
            predictor = [0, left, up, (left + up) // 2,
                         min((left, up, corner), key=lambda p: (abs(left + up - corner - p), (left, up, corner).index(p)))][kind]
            line[i] = (line[i] + predictor) & 255
        rows.append(bytes(line))
        previous = line
    return numpy.frombuffer(b"".join(rows), numpy.uint8).reshape(height, width, 4)


def test_screenshot_is_an_image_viewed_without_copy_and_exported(window, tmp_path):
    with window.frame():
        draw.clear((0, 0, 255))
        draw.rect((0, 0, 4, 4), (255, 0, 0))
        image = window.screenshot()
    assert (image.width, image.height, image.format, image.is_owner) == (32, 24, 7, True)
    view = numpy.asarray(image)
    view[23, 31] = (1, 2, 3, 4)  # the view is the image's own memory
    assert tuple(numpy.asarray(image)[23, 31]) == (1, 2, 3, 4)
    with pytest.raises(BufferError, match="in use"):
        image.unload()
    image.export(tmp_path / "shot.png")
    assert numpy.array_equal(read_png(tmp_path / "shot.png"), view)
    del view
    image.unload()
    with pytest.raises(BufferError, match="no pixels"):
        memoryview(image)


@pytest.mark.parametrize("path, error", [("/nonexistent/dir/shot.png", OSError), ("shot.gif", ValueError),
                                         (None, TypeError)])
def test_export_failures_raise(window, path, error):
    with window.frame():
        image = window.screenshot()
    with pytest.raises(error):
        image.export(path)


# ---------------------------------------------------------------------------------------------
# Input


def test_scripted_input_arrives_with_the_next_frame_and_lasts_it(window):
    window.press_key(Key.A)
    window.press_key(Key.F1)  # above the first 260 keys, which raylib alone advanced
    window.press_mouse_button(MouseButton.LEFT)
    window.scroll_mouse(2)
    assert not window.is_key_down(Key.A)
    states = []
    for frame in range(3):
        with window.frame():
            states.append((window.is_key_down(Key.A), window.is_key_pressed(Key.A), window.is_key_pressed(Key.F1),
                           window.is_mouse_button_pressed(MouseButton.LEFT), window.mouse_wheel,
                           window.is_key_released(Key.A)))
        if frame == 1:
            window.release_key(Key.A)
    assert states == [(True, True, True, True, 2.0, False), (True, False, False, False, 0.0, False),
                      (False, False, False, False, 0.0, True)]


def test_mouse_moves_and_text_types_over_frames(window):
    window.move_mouse((10, 12))
    window.type_text("abcdefghijklmnopqrs")  # more than the 16 a frame raylib queues
    typed = []
    for _ in range(2):
        with window.frame():
            typed.append("".join(iter(window.get_char_pressed, "")))
            assert window.mouse_position == Vector2(10, 12)
    assert typed == ["abcdefghijklmnop", "qrs"]
    with pytest.raises(ValueError, match="surrogates"):
        window.type_text("\ud800")


@pytest.mark.parametrize("call, args", [("press_key", (0,)), ("press_key", (512,)), ("is_key_down", (-1,)),
                                        ("press_mouse_button", (8,)), ("scroll_mouse", (0.5,)),
                                        ("move_mouse", ((float("nan"), 0),))])
def test_input_refuses_out_of_range(window, call, args):
    with pytest.raises(ValueError):
        getattr(window, call)(*args)


def test_a_recorded_run_replays_frame_by_frame(window, tmp_path):
    def run(script):
        seen = []
        for frame in range(6):
            script(frame)
            with window.frame():
                seen.append((window.is_key_down(Key.SPACE), window.is_mouse_button_down(MouseButton.RIGHT),
                             tuple(window.mouse_position), window.get_char_pressed()))
        return seen

    def script(frame):
        if frame == 1:
            window.press_key(Key.SPACE)
            window.type_text("x")
        if frame == 3:
            window.release_key(Key.SPACE)
            window.press_mouse_button(MouseButton.RIGHT)
            window.move_mouse((5, 6))

    window.start_recording()
    recorded = run(script)
    assert window.stop_recording(tmp_path / "run.txt") == 5
    window.release_mouse_button(MouseButton.RIGHT)
    window.move_mouse((0, 0))
    with window.frame():
        pass
    window.replay(tmp_path / "run.txt")
    assert window.replaying
    assert run(lambda frame: None) == recorded
    assert not window.replaying


@pytest.mark.parametrize("text, words", [
    ("", "not a tavoro input recording"),
    ("tavoro-input 1\n0 key_down 600 0\n", "out of range"),
    ("tavoro-input 1\n3 key_down 65 0\n1 key_up 65 0\n", "frame number"),
    ("tavoro-input 1\n0 teleport 1 2\n", "unknown event"),
    ("tavoro-input 1\n0 char 55296 0\n", "out of range"),
    ("tavoro-input 1\n0 mouse 1\n", "two numbers"),
])
def test_bad_recordings_are_refused(window, tmp_path, text, words):
    path = tmp_path / "bad.txt"
    path.write_text(text)
    with pytest.raises(ValueError, match=words):
        window.replay(path)
    assert not window.replaying


def test_stdin_is_left_to_the_program():
    code = ("from tavoro.window import Window\n"
            "w = Window(8, 8)\n"
            "for _ in range(5):\n"
            "    with w.frame(): pass\n"
            "import sys; print(w.should_close, repr(sys.stdin.read()))")
    proc = run_child(code, input="\x1b\x1babc")
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == "False '\\x1b\\x1babc'"


def test_recording_refusals_and_wheel_and_buttons_round_trip(window, tmp_path):
    with pytest.raises(RuntimeError, match="no recording"):
        window.stop_recording(tmp_path / "x.txt")
    window.start_recording()
    window.scroll_mouse(-3)
    window.press_mouse_button(MouseButton.MIDDLE)
    with window.frame():
        pass
    with pytest.raises(OSError):
        window.stop_recording(tmp_path / "missing" / "x.txt")
    assert window.recording  # still recording after a failed write
    assert window.stop_recording(tmp_path / "x.txt") == 2
    assert (tmp_path / "x.txt").read_text().splitlines() == ["tavoro-input 1", "0 button_down 2 0", "0 wheel 0 -3"]


def test_title_and_time(window):
    window.title = "renamed"
    assert window.title == "renamed" and "renamed" in repr(window)
    with pytest.raises(ValueError, match="NUL"):
        window.title = "a\0b"
    with pytest.raises(TypeError):
        window.title = 5
    assert 0 <= window.time < 60
    assert Key.SPACE == 32 and MouseButton.RIGHT == 1 and Key(290) is Key.F1


def test_key_queue_order_and_a_replay_recorded_again(window, tmp_path):
    for key in (Key.B, Key.A, Key.ENTER):
        window.press_key(key)
    with window.frame():
        assert [window.get_key_pressed() for _ in range(4)] == [Key.B, Key.A, Key.ENTER, 0]
        assert window.is_key_up(Key.C) and not window.is_key_up(Key.A)
    (tmp_path / "in.txt").write_text("tavoro-input 1\n0 key_up 66 0\n1 char 955 0\n")
    window.replay(tmp_path / "in.txt")
    window.start_recording()
    typed = []
    for _ in range(3):
        with window.frame():
            typed.append(window.get_char_pressed())
    assert typed == ["", "λ", ""] and not window.is_key_down(Key.B)
    window.stop_recording(tmp_path / "out.txt")
    assert (tmp_path / "out.txt").read_text().splitlines()[1:] == ["0 key_up 66 0", "1 char 955 0"]
