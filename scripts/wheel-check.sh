#!/usr/bin/env bash
# Tests the release wheels where users would install them:
#
#   scripts/wheel-check.sh WHEEL...
#
#  - every shared object of every wheel refers to nothing of the C library newer than glibc 2.17
#    and no function returns with dirty upper ymm halves (scripts/check-wheel.py);
#  - the x86-64 wheel for 3.13 installs with pip in a Debian 11 root (scripts/bullseye-root.sh,
#    glibc 2.31) and passes the suite's portable part there, and pip there refuses the aarch64
#    wheel;
#  - the aarch64 wheel for 3.13 passes the same part under qemu-aarch64 with Debian's arm64
#    interpreter (scripts/arm64-python.sh);
#  - the benchmark runs through on each of the two.
#
# The portable part is the tests that need only the installed package (not the build tree's
# test-only modules, the build tools or a sound server). The test tools come from the package
# index as wheels for each system, in the versions requirements.txt (and bench/requirements.txt)
# pin. PYTHON (the project's environment) runs the checks and downloads. Needs root (chroot).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" wheel-check

(( $# )) || die "usage: $0 WHEEL..."
root_dir="$(cd "$here/.." && pwd -P)"
python="${PYTHON:-python}"
portable_tests=(
    test_vector2.py test_vector3.py test_vector_ops.py test_vector_geometry.py test_rect.py
    test_rect_geometry.py test_rect_batch.py test_colors.py test_glyph_info.py test_parser.py
    test_siblings.py test_interop.py test_versions.py test_audio_device.py test_audio_output.py
    test_boundary.py test_draw.py test_draw_fuzz.py test_backends.py
)
test_tools=(pytest numpy hypothesis pygame-ce PyGLM)
# The benchmark, run once through for correctness (its timings mean nothing in a root on a busy
# machine, and less under emulation).
bench_once=(bench/peers.py --repeat 1 --target 0.0005 --no-write)

wheel_for() {  # wheel_for ARCH: the cp313 wheel of that architecture among those given
    local wheel
    for wheel in "$@"; do
        [[ "$wheel" == *-cp313-cp313-*_"$arch".whl ]] && { echo "$wheel"; return; }
    done
}

# pinned_tools: the test tools as requirements.txt and bench/requirements.txt pin them, one a
# line. (No pipe into grep -m1: its early exit fails the writer under pipefail, now and then.)
pinned_tools() {
    local tool pin
    for tool in "${test_tools[@]}"; do
        pin="$(grep -h "^$tool==" "$root_dir/requirements.txt" "$root_dir/bench/requirements.txt")" \
            || die "requirements.txt pins no $tool"
        echo "${pin%%$'\n'*}"
    done
}

# platforms ARCH GLIBC-MINOR: pip's --platform options for a system with glibc 2.GLIBC-MINOR
# (pip takes each tag as it is, not the older ones it implies).
platforms() {
    local minor
    for (( minor = $2; minor >= 17; minor-- )); do
        printf -- '--platform\nmanylinux_2_%s_%s\n' "$minor" "$1"
    done
}

# download_tools DIR ARCH GLIBC-MINOR: wheels of the test tools for CPython 3.13 into DIR.
download_tools() {
    local listed
    listed="$(pinned_tools)" || exit 1  # a failure in a process substitution would go unseen
    mapfile -t pins <<<"$listed"
    mapfile -t plats < <(platforms "$2" "$3")
    "$python" -m pip download --quiet --disable-pip-version-check --only-binary=:all: \
        --implementation cp --python-version 3.13 "${plats[@]}" -d "$1" "${pins[@]}" \
        || die "could not download the test tools for $2"
}

make_work_dir wheel-check

log "checking the symbols and the ymm returns of ${#@} wheels"
"$python" "$here/check-wheel.py" "$@" \
    || die "a wheel refers to newer glibc symbols or returns with dirty ymm registers"

# ---------------------------------------------------------------------------
# x86-64 in the Debian 11 root

arch=x86_64
wheel="$(wheel_for "$@")"
[[ -n "$wheel" ]] || die "no cp313 x86_64 wheel given"
root="$("$here/bullseye-root.sh" 3.13)"
# One check at a time in the root.
exec 8>"$root.check-lock"
flock 8
check="$root/opt/check"
rm -rf "$check"
mkdir -p "$check/wheels"
download_tools "$check/wheels" x86_64 31
cp "$wheel" "$check/wheels/"
cp -r "$root_dir/tests" "$root_dir/examples" "$root_dir/bench" "$check/"
find "$check/tests" -name '*.so' -delete
mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
trap 'rc=$?; umount "$root/proc"; (exit $rc); on_exit' EXIT
in_root() {
    chroot "$root" /usr/bin/env -i HOME=/tmp PATH=/opt/check/venv/bin:/usr/bin:/bin CI="${CI:-}" "$@"
}
in_root /opt/python/bin/python3 -m venv /opt/check/venv
log "installing $(basename "$wheel") in the Debian 11 root"
in_root pip install --quiet --no-index --find-links /opt/check/wheels tavoro "${test_tools[@]}" \
    || die "pip would not install $(basename "$wheel") in the Debian 11 root"
other="$(arch=aarch64 wheel_for "$@")"
if [[ -n "$other" ]]; then
    cp "$other" "$check/wheels/"
    if in_root pip install --quiet --no-deps --no-index "/opt/check/wheels/$(basename "$other")" \
            2>"$work/refusal"; then
        die "pip installed the aarch64 wheel on x86-64"
    fi
    grep -q "is not a supported wheel on this platform" "$work/refusal" \
        || die "pip failed otherwise: $(cat "$work/refusal")"
fi
log "the portable tests in the Debian 11 root (glibc $(in_root ldd --version | awk 'NR == 1 {print $NF}'))"
in_root sh -c "cd /opt/check/tests && python -m pytest -q -rs -p no:cacheprovider ${portable_tests[*]}" \
    || die "the portable tests failed in the Debian 11 root"
in_root sh -c "cd /opt/check && python ${bench_once[*]} >/dev/null" \
    || die "the benchmark failed in the Debian 11 root"
umount "$root/proc"
trap on_exit EXIT

# ---------------------------------------------------------------------------
# aarch64 under the emulator

arch=aarch64
wheel="$(wheel_for "$@")"
[[ -n "$wheel" ]] || die "no cp313 aarch64 wheel given"
prefix="$("$here/arm64-python.sh" 3.13)"
download_tools "$work/aarch64-wheels" aarch64 41
cp "$wheel" "$work/aarch64-wheels/"
"$python" -m pip install --quiet --disable-pip-version-check --no-index --only-binary=:all: \
    --implementation cp --python-version 3.13 $(platforms aarch64 41 | tr '\n' ' ') \
    --find-links "$work/aarch64-wheels" --target "$work/user/lib/python3.13/site-packages" \
    tavoro "${test_tools[@]}" \
    || die "pip would not install $(basename "$wheel") for aarch64"
cp -r "$root_dir/tests" "$root_dir/examples" "$root_dir/bench" "$work/"
find "$work/tests" -name '*.so' -delete
log "the portable tests under qemu-aarch64"
# Installed as the user's site, which the tests' own subprocesses (with a path of their own) keep.
(cd "$work/tests" && env -u LD_LIBRARY_PATH -u LD_PRELOAD -u PYTHONPATH PYTHONUSERBASE="$work/user" \
    "$prefix/usr/bin/python3.13-emulated" -m pytest -q -rs -p no:cacheprovider "${portable_tests[@]}") \
    || die "the portable tests failed under qemu-aarch64"
(cd "$work" && env -u LD_LIBRARY_PATH -u LD_PRELOAD -u PYTHONPATH PYTHONUSERBASE="$work/user" \
    "$prefix/usr/bin/python3.13-emulated" "${bench_once[@]}" >/dev/null) \
    || die "the benchmark failed under qemu-aarch64"
# No emulated model lacks NEON, so the kernel's capabilities are made to hide it: a preloaded
# getauxval answers 0 for AT_HWCAP, and the import must refuse with the check's own message.
log "the processor check under qemu-aarch64, with NEON hidden"
cat > "$work/no-neon.c" <<'C'
#define _GNU_SOURCE
#include <dlfcn.h>
unsigned long getauxval(unsigned long type) {
    static unsigned long (*real)(unsigned long);
    if (!real) real = (unsigned long (*)(unsigned long))dlsym(RTLD_NEXT, "getauxval");
    return type == 16 /* AT_HWCAP */ ? 0 : real(type);
}
C
"$python" -m ziglang cc -target aarch64-linux-gnu.2.17 -shared -fPIC -o "$work/no-neon.so" "$work/no-neon.c" -ldl
refusal="$(env -u LD_LIBRARY_PATH -u LD_PRELOAD -u PYTHONPATH PYTHONUSERBASE="$work/user" \
    QEMU_SET_ENV="LD_PRELOAD=$work/no-neon.so" "$prefix/usr/bin/python3.13-emulated" \
    -c "import tavoro.vector2.vector2" 2>&1 || true)"
[[ "$refusal" == *"ImportError: tavoro.vector2.vector2 needs an aarch64 processor with NEON; this one lacks NEON"* ]] \
    || die "with NEON hidden, the import did not refuse as it should: $refusal"
finish "the wheels passed"
