#!/usr/bin/env bash
# Install a CPython for testing (3.14, 3.15, ...) from Debian unstable's binary
# packages into a per-user cache prefix outside the work tree.
#
#   scripts/install-python.sh 3.14
#
# The interpreter is Debian's own build, not one made here from the sources: it
# is in place in seconds where a build takes many minutes on a small machine.
# With it come its headers and its test modules (_testcapi, which the
# project's tests use). Unstable's packages need a newer C library than this
# machine may have, so the C library and the few libraries the standard
# modules link come from unstable too and stay private to the prefix: the
# interpreter is made to start through the prefix's own dynamic loader and to
# find its libraries there, and the paths its build configuration records are
# moved under the prefix. Other programs on the machine are unaffected.
#
# Everything the script says goes to stderr; the last (and only) line on stdout
# is the path of the interpreter, so callers can do
#
#   python="$(scripts/install-python.sh 3.14)"
#
# The prefix is ${TAVORO_CACHE:-$HOME/.cache/tavoro}/python<VERSION>. A finished
# install leaves "$prefix/.complete" once the modules pip and the tests need
# import; when that marker matches the current recipe the script prints the
# interpreter's path and exits without touching the network.

set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" install-python

(( $# == 1 )) && [[ "$1" =~ ^3\.[0-9]+$ ]] || die "usage: $0 VERSION (such as 3.14)"
version="$1"
use_cache "python$version"
python="$prefix/usr/bin/python$version"
triplet=x86_64-linux-gnu
libdir="$prefix/usr/lib/$triplet"

[[ "$(uname -m)" == x86_64 ]] || die "only x86_64 machines are supported"

# What goes into the prefix. The marker records it, so changing anything here
# invalidates an existing install and reinstalls.
packages=(
    "python$version-minimal" "libpython$version-minimal" "libpython$version-stdlib"
    "python$version" "libpython$version" "libpython$version-dev" "python$version-venv"
    "libpython$version-testsuite" python3-pip-whl python3-setuptools-whl
    # The C library and what the interpreter and its standard modules link.
    libc6 libgcc-s1 libexpat1 zlib1g libssl3t64 libbz2-1.0 libffi8 liblzma5 libncursesw6
    libreadline8t64 libsqlite3-0 libtinfo6 libuuid1 libzstd1
)
recipe="recipe=1 ${packages[*]}"
# The standard modules pip, virtual environments and the test suite need.
required_modules=(ssl sqlite3 zlib ctypes lzma bz2 readline decimal _testcapi ensurepip)

is_complete() {
    [[ -f "$marker" ]] && grep -qxF "$recipe" "$marker" \
        && [[ -x "$python" && -f "$prefix/usr/include/python$version/Python.h" ]]
}

# A whole install is used as it is; otherwise this run makes it, alone on the cache.
reuse_or_lock "CPython $version" "$python"

if ! command -v patchelf >/dev/null 2>&1; then
    (( EUID == 0 )) || die "patchelf not found; install the Debian package patchelf as root"
    log "installing Debian packages: patchelf"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y --no-install-recommends patchelf \
        || { apt-get update && apt-get install -y --no-install-recommends patchelf; } \
        || die "could not install patchelf"
fi

# ---------------------------------------------------------------------------
# Unpack into the prefix itself (emptied first; the interpreter's loader path
# is absolute), then make it start and find its files there.

rm -rf "$prefix"
deb_version="$("$here/debian-unstable.sh" binary "$prefix" "${packages[@]}" | tail -n1)"
[[ -x "$python" ]] || die "the packages brought no $python"
log "Debian's python$version-minimal $deb_version"

loader="$libdir/ld-linux-x86-64.so.2"
[[ -e "$loader" ]] || die "the packages brought no dynamic loader"
# An old-style run path (DT_RPATH) applies to every library loaded into the
# process, the standard modules' own dependencies included.
patchelf --set-interpreter "$loader" --force-rpath --set-rpath "$libdir" "$python" \
    || die "patchelf failed on $python"

# Debian's pyconfig.h only forwards to the architecture's copy, through an
# include path the compiler would look for on this machine; put the copy itself
# in its place.
cp "$prefix/usr/include/$triplet/python$version/pyconfig.h" \
    "$prefix/usr/include/python$version/pyconfig.h" || die "no pyconfig.h for $triplet"

# The build configuration names /usr; move the paths of the interpreter's own
# files (headers, libraries, the bundled pip wheel) under the prefix.
relocated='prefix|exec_prefix|BINDIR|BINLIBDEST|CONFINCLUDEDIR|CONFINCLUDEPY|DESTLIB|DESTSHARED|EXENAME|INCLUDEDIR|INCLUDEPY|LIBDEST|LIBDIR|LIBPC|LIBPL|MACHDESTLIB|SCRIPTDIR|WHEEL_PKG_DIR|datarootdir|host_prefix|host_exec_prefix'
for data in "$prefix/usr/lib/python$version"/_sysconfigdata_*.py; do
    sed -E -i "s#^( *'($relocated)': ')/usr#\\1$prefix/usr#" "$data"
done

for module in "${required_modules[@]}"; do
    "$python" -c "import $module" || die "the standard module $module does not import"
done
include="$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')"
[[ "$include" == "$prefix/usr/include/python$version" ]] || die "the headers are reported in $include"

write_marker "$recipe" "version=$deb_version"
log "CPython $("$python" -c 'import sys; print(sys.version.split()[0])') installed in $prefix"
finish "$python"
