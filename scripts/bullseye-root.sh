#!/usr/bin/env bash
# A Debian 11 (bullseye, glibc 2.31) root in the per-user cache, with a CPython built inside it,
# where the wheels are installed and tested as on a user's older system.
#
#   scripts/bullseye-root.sh [VERSION]
#
# The root is a minimal debootstrap with the compiler and the libraries CPython's standard modules
# link; CPython VERSION (3.13 by default) is built there from Debian trixie's source package (its
# upstream sources; bullseye has no such interpreter) and installed in /opt/python. The test
# tools are installed into it later, from wheels downloaded outside (scripts/wheel-check.sh).
#
# Everything the script says goes to stderr; the last (and only) line on stdout is the root, so
# callers can do
#
#   root="$(scripts/bullseye-root.sh)"
#
# The prefix is ${TAVORO_CACHE:-$HOME/.cache/tavoro}/bullseye-python<VERSION>. A finished root
# leaves "$prefix/.complete" once the standard modules the tests need import there; when that
# marker matches the current recipe the script prints the root and exits without touching the
# network. Building it needs root (debootstrap, chroot).

set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" bullseye-root

version="${1:-3.13}"
[[ "$version" =~ ^3\.[0-9]+$ ]] || die "usage: $0 [VERSION] (such as 3.13)"
use_cache "bullseye-python$version"
[[ "$(uname -m)" == x86_64 ]] || die "only x86_64 machines are supported"

# What the root is made of. The marker records it, so changing anything here rebuilds the root.
packages=(gcc make libc6-dev pkg-config libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev
          libsqlite3-dev libreadline-dev uuid-dev libexpat1-dev libncurses-dev)
configure_args=(--prefix=/opt/python --with-ensurepip=install --without-static-libpython)
recipe="recipe=1 bullseye ${packages[*]} python$version ${configure_args[*]}"
# The standard modules pip and the tests need.
required_modules=(ssl sqlite3 zlib ctypes lzma bz2 decimal _testcapi ensurepip)

is_complete() {
    [[ -f "$marker" ]] && grep -qxF "$recipe" "$marker" && [[ -x "$prefix/opt/python/bin/python3" ]]
}

reuse_or_lock "the bullseye root with CPython $version" "$prefix"
(( EUID == 0 )) || die "building the root needs root (debootstrap and chroot)"
make_work_dir bullseye-root

need_apt
need_tool debootstrap debootstrap
need_tool tar tar
need_tool xz xz-utils
install_needed_tools

archive="$("$here/debian-unstable.sh" archive | tail -n1)"
root="$work/root"
log "debootstrap of bullseye from $archive"
debootstrap --variant=minbase --include="$(IFS=,; echo "${packages[*]}")" bullseye "$root" "$archive" \
    || die "debootstrap failed"

# The upstream sources of trixie's source package; Debian's own patches are not applied.
deb_version="$(TAVORO_DEBIAN_SUITE=trixie "$here/debian-unstable.sh" source "python$version" \
    "$root/usr/src/python" | tail -n1)"
[[ -f "$root/usr/src/python/configure" ]] || die "the python$version source package has no configure"
log "building CPython $deb_version inside the root"
chroot "$root" /bin/sh -ec "cd /usr/src/python && ./configure -q ${configure_args[*]} >/dev/null \
    && make -s -j2 >/dev/null && make -s install >/dev/null" || die "the CPython build failed"
rm -rf "$root/usr/src/python"
for module in "${required_modules[@]}"; do
    chroot "$root" /opt/python/bin/python3 -c "import $module" \
        || die "the standard module $module does not import"
done

# The marker goes first and comes back last, so that no run sees a marker beside a half-replaced
# root.
rm -f "$marker"
rm -rf "$prefix"
mv "$root" "$prefix" || die "could not move the root into $prefix"
write_marker "$recipe" "version=$deb_version"
log "bullseye root with CPython $deb_version in $prefix"
finish "$prefix"
