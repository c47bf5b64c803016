"""The wheel as users get it: scripts/build-wheel.sh (`make wheel`) builds and repairs it, it
installs into a new virtual environment, and there every module imports and plays sound through
the raylib inside the wheel, with HOME and the cache pointed at an empty directory,
LD_LIBRARY_PATH unset and nothing of the work tree on the path. It also carries the stubs."""

import os
import pathlib
import shutil
import subprocess
import sys
import tarfile
import textwrap
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
MODULES = ["vector2", "vector3", "rect", "parser", "colors", "audio_stream", "sound", "music",
           "glyph_info", "color", "vector4", "image", "audio_device", "window", "draw", "texture", "font"]

pytestmark = [
    pytest.mark.slow,
    pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                       reason="the suite runs on the sanitizer build's modules"),
]


def clean_environment():
    """The environment without anything that would find libraries or modules for the wheel."""
    env = dict(os.environ)
    for key in ("LD_LIBRARY_PATH", "LD_PRELOAD", "PYTHONPATH", "PYTHONHOME", "VIRTUAL_ENV"):
        env.pop(key, None)
    return env


def empty_home(tmp_path):
    """The clean environment with HOME and every cache in an empty directory: no raylib of the
    build machine is there to be found."""
    home = tmp_path / "home"
    home.mkdir()
    return dict(clean_environment(), HOME=str(home), TAVORO_CACHE=str(home / ".cache" / "tavoro"),
                XDG_CACHE_HOME=str(home / ".cache"))


def run(command, **kwargs):
    proc = subprocess.run([str(part) for part in command], capture_output=True, text=True,
                          timeout=900, **kwargs)
    assert proc.returncode == 0, f"{command}\n{proc.stdout}\n{proc.stderr}"
    return proc


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    """The repaired wheel, built from the work tree by the script `make wheel` runs."""
    out = tmp_path_factory.mktemp("wheel")
    env = dict(clean_environment(), PYTHON=sys.executable)
    built = pathlib.Path(run([ROOT / "scripts" / "build-wheel.sh", out], env=env).stdout.strip())
    assert built.parent == out
    return built


@pytest.fixture(scope="module")
def environment(wheel, tmp_path_factory):
    """A new virtual environment of this interpreter with the wheel installed: its python."""
    venv = tmp_path_factory.mktemp("venv")
    run([sys.executable, "-m", "venv", "--without-pip", venv])
    python = venv / "bin" / "python"
    run([sys.executable, "-m", "pip", "--python", python, "install", "--no-deps", "--no-index",
         "--disable-pip-version-check", "-q", wheel], env=clean_environment())
    return python


def test_wheel_holds_the_stubs_and_no_sources(wheel):
    names = set(zipfile.ZipFile(wheel).namelist())
    stubs = {f"tavoro/{m}/{m}.pyi" for m in MODULES}
    modules = {name.split("/")[1] for name in names if name.endswith(".so")}
    assert stubs | {"tavoro/py.typed"} <= names
    assert modules == set(MODULES)
    assert not [name for name in names if name.endswith((".cpp", ".hpp", ".map"))]


def test_wheel_carries_only_what_runs(wheel):
    names = {name for name in zipfile.ZipFile(wheel).namelist() if not name.endswith("/")}
    source = ROOT / "src"
    needed = {str(path.relative_to(source)) for path in (source / "tavoro").rglob("*")
              if path.suffix in (".py", ".pyi") or path.name == "py.typed"}
    suffix = f".cpython-{sys.version_info[0]}{sys.version_info[1]}-x86_64-linux-gnu.so"
    needed |= {f"tavoro/{m}/{m}{suffix}" for m in MODULES}
    needed.add("tavoro/window/libraylib-desktop.so")   # the desktop raylib, loaded by the window module
    shipped = {name for name in names if not name.startswith(("tavoro.libs/", "tavoro-"))}
    assert shipped == needed
    assert [name for name in names if name.startswith("tavoro.libs/libraylib")]


def test_wheel_is_manylinux2014(wheel):
    tags = wheel.name.removesuffix(".whl").split("-")[-1].split(".")
    assert tags == ["manylinux2014_x86_64", "manylinux_2_17_x86_64"]
    shown = run([sys.executable, "-m", "auditwheel", "show", wheel]).stdout
    assert ('is consistent with the following platform tag: "manylinux_2_17_x86_64"'
            in " ".join(shown.split()))


def check_wheel(*paths):
    return subprocess.run([sys.executable, ROOT / "scripts" / "check-wheel.py", *paths],
                          capture_output=True, text=True, timeout=300)


def test_wheel_needs_nothing_newer_than_glibc_2_17_and_returns_clean(wheel):
    proc = check_wheel(wheel)
    assert (proc.returncode, proc.stdout) == (0, "")


def test_the_development_raylib_needs_a_newer_glibc(raylib_prefix):
    proc = check_wheel(raylib_prefix / "lib" / "libraylib.so")
    assert proc.returncode == 1 and "is newer than glibc 2.17" in proc.stdout


YMM = '__asm__ volatile("vxorps %%ymm0, %%ymm0, %%ymm0' + "{}" + '" ::: "xmm0");'
DIRTY = "f returns with the upper halves of ymm registers dirty"


@pytest.mark.parametrize("source, fault", [
    ("void f(void) { " + YMM.format("") + " }", DIRTY),
    ("void f(void) { " + YMM.format("\\n vzeroupper") + " }", None),
    ("extern void g(void); void f(void) { " + YMM.format("") + " g(); }", DIRTY),  # a tail call
    ("extern char __libc_single_threaded; int f(void) { return __libc_single_threaded; }",
     "__libc_single_threaded (unversioned) is a C library symbol newer than glibc 2.17"),
    ("extern int puts(const char*); int f(void) { return puts(\"\"); }", None),
])
def test_check_wheel_finds_dirty_returns_and_newer_symbols(tmp_path, source, fault):
    (tmp_path / "f.c").write_text(source)
    # No C library at link time: its symbols stay unversioned, as a static library leaves them.
    run(["gcc", "-O2", "-shared", "-fPIC", "-nostdlib", "-o", tmp_path / "f.so", tmp_path / "f.c"])
    proc = check_wheel(tmp_path / "f.so")
    assert proc.stdout.splitlines() == ([f"f.so: {fault}"] if fault else [])


@pytest.mark.parametrize("model, lacking", [
    ("Haswell", None), ("SandyBridge", "AVX2 and FMA"), ("Haswell,-fma", "FMA"),
    ("Haswell,-avx2", "AVX2"),
])
def test_the_wheel_checks_the_processor(environment, tmp_path, model, lacking):
    qemu = shutil.which("qemu-x86_64")
    if qemu is None:
        pytest.skip("qemu-x86_64 is not installed (Debian: apt-get install qemu-user)")
    proc = run([qemu, "-cpu", model, environment, "-I", "-c",
                "try:\n import tavoro.rect.rect\nexcept ImportError as e: print(e)"],
               cwd=tmp_path, env=empty_home(tmp_path))
    assert proc.stdout.strip() == (f"tavoro.rect.rect needs an x86-64 processor with AVX2 and FMA; "
                                   f"this one lacks {lacking}" if lacking else "")


def test_no_initialiser_of_the_wheels_modules_runs_at_load(wheel, tmp_path):
    from test_processor import initialisers

    zipfile.ZipFile(wheel).extractall(tmp_path)
    for path in sorted(tmp_path.glob("tavoro/*/*.cpython-*.so")):
        lists = initialisers(path)
        # The wheel's objects carry no symbol table to name them by: the initialisers (the frame's
        # at least) wait for the check, and none is left to run at load.
        assert not lists.get(".init_array"), path.name
        assert lists[".tavoro_deferred_init"], path.name


# The release raylib is kept per toolchain file and architecture: a change of either builds anew.
@pytest.mark.parametrize("change, kept", [(None, True), ("toolchain", False), ("arch", False)])
def test_the_release_raylib_is_kept_per_toolchain(wheel, tmp_path, change, kept):
    cache = pathlib.Path(os.environ.get("TAVORO_CACHE") or pathlib.Path.home() / ".cache/tavoro")
    name = "raylib-zig-toolchain-x86_64"
    shutil.copytree(cache / name, tmp_path / "cache" / name, symlinks=True)
    toolchain = tmp_path / "zig-toolchain.cmake"
    toolchain.write_text((ROOT / "scripts" / "zig-toolchain.cmake").read_text()
                         + ("# changed\n" if change == "toolchain" else ""))
    import ziglang

    env = dict(clean_environment(), TAVORO_CACHE=str(tmp_path / "cache"),
               TAVORO_RAYLIB_TOOLCHAIN=str(toolchain),
               TAVORO_TARGET_ARCH="aarch64" if change == "arch" else "x86_64",
               TAVORO_ZIG=str(pathlib.Path(ziglang.__file__).parent / "zig"))
    proc = subprocess.run([ROOT / "scripts" / "build-raylib.sh", "--check"], env=env,
                          capture_output=True, text=True, timeout=60)
    assert (proc.returncode == 0) == kept, proc.stderr


@pytest.mark.parametrize("variable, value", [("TAVORO_DEBIAN_SUITE", "sid main"),
                                              ("TAVORO_DEBIAN_ARCH", "arm64 amd64")])
def test_debian_packages_come_only_from_a_named_suite_and_architecture(variable, value):
    proc = subprocess.run([ROOT / "scripts" / "debian-unstable.sh", "archive"],
                          env=dict(os.environ, **{variable: value}), capture_output=True,
                          text=True, timeout=60)
    assert proc.returncode == 1
    assert "not a Debian suite and architecture" in proc.stderr


@pytest.fixture(scope="module")
def sdist(tmp_path_factory):
    out = tmp_path_factory.mktemp("sdist")
    run([sys.executable, "-m", "build", "--sdist", "--no-isolation", "--outdir", out, ROOT],
        env=clean_environment())
    (built,) = out.glob("tavoro-*.tar.gz")
    return built


def test_sdist_carries_what_the_build_needs(sdist):
    names = {name.split("/", 1)[1] for name in tarfile.open(sdist).getnames() if "/" in name}
    needed = {"CMakeLists.txt", "pyproject.toml", "README.md", "scripts/build-raylib.sh",
              "scripts/lib.sh", "scripts/debian-unstable.sh",
              "src/tavoro/py.typed", "src/tavoro/__init__.pyi"}
    needed |= {str(path.relative_to(ROOT)) for path in (ROOT / "src").rglob("*")
               if path.suffix in (".cpp", ".hpp", ".map", ".ld", ".py", ".pyi")}
    needed |= {str(path.relative_to(ROOT)) for path in (ROOT / "scripts").rglob("*.patch")}
    assert needed <= names, sorted(needed - names)
    assert not [name for name in names if name.startswith(("build/", ".venv/", "dist/"))
                or name.endswith(".so")]


def test_a_wheel_builds_from_the_sdist_with_no_variable_set(sdist, tmp_path):
    # No raylib prefix is given: CMake runs the raylib build itself, which finds its cache.
    env = clean_environment()
    env.pop("TAVORO_RAYLIB_PREFIX", None)
    run([sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps",
         "--disable-pip-version-check", "-q", "-w", tmp_path, sdist], cwd=tmp_path, env=env)
    (built,) = tmp_path.glob("tavoro-*.whl")
    modules = {name.split("/")[1] for name in zipfile.ZipFile(built).namelist()
               if name.endswith(".so")}
    assert modules == set(MODULES)


def configure(tmp_path, *options, **env):
    """Configures the project in a new build tree with the environment given added; returns the
    completed process."""
    environment = clean_environment()
    environment.pop("TAVORO_RAYLIB_PREFIX", None)
    environment.update(env)
    return subprocess.run(["cmake", "-S", ROOT, "-B", tmp_path / "build",
                           f"-DPython_EXECUTABLE={sys.executable}", *options],
                          env=environment, capture_output=True, text=True, timeout=600)


@pytest.fixture(scope="module")
def raylib_prefix():
    return pathlib.Path(run([ROOT / "scripts" / "build-raylib.sh"],
                            env=clean_environment()).stdout.strip())


# Without the raylib build (no apt, or turned off), raylib comes from CMake's package search or pkg-config.
@pytest.mark.parametrize("way", ["package search", "pkg-config"])
def test_configure_finds_an_installed_raylib_without_apt(tmp_path, raylib_prefix, way):
    if way == "package search":
        proc = configure(tmp_path, "-DTAVORO_BUILD_RAYLIB=OFF",
                         f"-DCMAKE_PREFIX_PATH={raylib_prefix}")
    else:
        proc = configure(tmp_path, "-DTAVORO_BUILD_RAYLIB=OFF",
                         PKG_CONFIG_PATH=str(raylib_prefix / "lib" / "pkgconfig"))
    assert proc.returncode == 0, proc.stdout + proc.stderr
    assert "build-raylib" not in proc.stderr


def test_configure_without_raylib_says_how_to_name_one(tmp_path):
    proc = configure(tmp_path, "-DTAVORO_BUILD_RAYLIB=OFF", PKG_CONFIG_PATH=str(tmp_path))
    assert proc.returncode != 0
    message = " ".join(proc.stderr.split())
    assert "raylib 5.5 or newer was not found" in message
    assert "TAVORO_RAYLIB_PREFIX=/opt/raylib pip install ." in message
