#!/usr/bin/env bash
# Debian's arm64 CPython with its C library, unpacked into a per-user cache prefix: the headers
# the aarch64 wheels are built against, and the interpreter they are tested with under qemu's
# user-mode emulator (Debian's qemu-user), which finds the prefix's files first:
#
#   qemu-aarch64 -L "$prefix" "$prefix/usr/bin/python3.13" ...
#
#   scripts/arm64-python.sh VERSION
#
# 3.13 comes from trixie, where it is the system's interpreter; newer ones from unstable. The
# packages are unpacked as they are (no maintainer scripts): the emulator's prefix stands in for
# the root, so the interpreter needs no change of path. Only the forwarding pyconfig.h is replaced
# by the architecture's own, so that a cross build needs no include path into the prefix.
#
# Its usr/bin/python<VERSION>-emulated runs the interpreter under the emulator (see below).
#
# Everything the script says goes to stderr; the last (and only) line on stdout is the prefix.
# The prefix is ${TAVORO_CACHE:-$HOME/.cache/tavoro}/arm64-python<VERSION>; a finished install
# leaves "$prefix/.complete" once the interpreter runs under the emulator, and when that marker
# matches the current recipe the script prints the prefix and exits without touching the network.

set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" arm64-python

(( $# == 1 )) && [[ "$1" =~ ^3\.[0-9]+$ ]] || die "usage: $0 VERSION (such as 3.13)"
version="$1"
use_cache "arm64-python$version"
suite=sid
[[ "$version" != 3.13 ]] || suite=trixie
triplet=aarch64-linux-gnu

packages=(
    "python$version-minimal" "libpython$version-minimal" "libpython$version-stdlib"
    "python$version" "libpython$version" "libpython$version-dev" "libpython$version-testsuite"
    libc6 libgcc-s1 libstdc++6 libexpat1 zlib1g libssl3t64 libbz2-1.0 libffi8 liblzma5
    libncursesw6 libreadline8t64 libsqlite3-0 libtinfo6 libuuid1 libzstd1 libmpdec4
)
recipe="recipe=2 $suite ${packages[*]}"
required_modules=(ssl zlib ctypes lzma bz2 decimal _testcapi)

is_complete() {
    [[ -f "$marker" ]] && grep -qxF "$recipe" "$marker" \
        && [[ -x "$prefix/usr/bin/python$version-emulated" ]] \
        && [[ -f "$prefix/usr/include/python$version/Python.h" ]]
}

reuse_or_lock "arm64 CPython $version" "$prefix"

need_apt
need_tool qemu-aarch64 qemu-user
install_needed_tools

rm -rf "$prefix"
deb_version="$(TAVORO_DEBIAN_SUITE=$suite TAVORO_DEBIAN_ARCH=arm64 \
    "$here/debian-unstable.sh" binary "$prefix" "${packages[@]}" | tail -n1)"
# The root's merged /usr, which the packages assume (the loader's path is /lib/...).
for dir in bin lib sbin; do
    [[ -e "$prefix/$dir" ]] || ln -s "usr/$dir" "$prefix/$dir"
done
cp "$prefix/usr/include/$triplet/python$version/pyconfig.h" \
    "$prefix/usr/include/python$version/pyconfig.h" || die "no pyconfig.h for $triplet"
# The emulator does not follow the interpreter's exec of itself (no binfmt handler is assumed), so
# usr/bin/python<VERSION>-emulated starts the interpreter under qemu-aarch64 with itself as
# sys.executable, and the subprocesses the tests start run emulated too. Its processor is a
# Cortex-A53, the oldest core the wheels are made for.
emulated="$prefix/usr/bin/python$version-emulated"
printf '#!/bin/sh\nexec qemu-aarch64 -cpu cortex-a53 -L "%s" -0 "$0" "%s" "$@"\n' \
    "$prefix" "$prefix/usr/bin/python$version" >"$emulated"
chmod +x "$emulated"
for module in "${required_modules[@]}"; do
    "$emulated" -c "import $module" \
        || die "the standard module $module does not import under qemu-aarch64"
done

write_marker "$recipe" "version=$deb_version"
log "arm64 CPython $deb_version in $prefix"
finish "$prefix"
