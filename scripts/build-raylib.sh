#!/usr/bin/env bash
# Build a headless raylib from Debian unstable's source package and install it
# into a per-user cache prefix outside the work tree.
#
#   scripts/build-raylib.sh
#
# The build uses raylib's "Memory" platform (software renderer, no window
# system, no X11/GL) and compiles miniaudio with its PulseAudio, ALSA and null
# backends, so InitAudioDevice() plays through the machine's sound server or
# card and still works on machines without either.
#
# Everything the script says goes to stderr; the last (and only) line on stdout
# is the absolute install prefix, so callers can do
#
#   RAYLIB_PREFIX="$(scripts/build-raylib.sh)"
#
# The prefix is ${TAVORO_CACHE:-$HOME/.cache/tavoro}/raylib. A finished build
# leaves "$prefix/.complete"; when that marker matches the current recipe the
# script prints the prefix and exits without touching the network.
#
# The source is fetched with apt through a private configuration (its own
# sources list, lists and cache directories); the system's apt setup is only
# read, to find this machine's Debian archive and its keyring.

set -euo pipefail

# Keep stdout for the final prefix line only.
exec 3>&1 1>&2

log() { printf 'build-raylib: %s\n' "$*" >&2; }
die() { printf 'build-raylib: error: %s\n' "$*" >&2; exit 1; }

MIN_VERSION=5.5
cache_root="${TAVORO_CACHE:-${HOME:?HOME is not set and TAVORO_CACHE is not given}/.cache/tavoro}"
mkdir -p "$cache_root" || die "cannot create cache directory $cache_root"
cache_root="$(cd "$cache_root" && pwd -P)"
prefix="$cache_root/raylib"
marker="$prefix/.complete"

# Build configuration. The marker records it, so changing anything here
# invalidates an existing install and triggers a rebuild.
#  - miniaudio has its PulseAudio and ALSA backends, both loaded at run time
#    (dlopen: nothing extra to link), and its null backend as the last resort;
#    patch 0100 makes InitAudioDevice fall back to the null device when a
#    backend loads but has no device, so the audio device always opens.
#  - The Memory platform links no system libraries at all, not even libm, so
#    libraylib.so would carry unresolved math symbols; add libm at the end of
#    the link line, and libdl and libpthread for miniaudio's run-time loading
#    and audio thread (part of libc on newer glibc, separate on older ones).
#  - A fixed libdir keeps the layout the same on every distribution.
c_flags="-DMA_ENABLE_ONLY_SPECIFIC_BACKENDS -DMA_ENABLE_PULSEAUDIO -DMA_ENABLE_ALSA -DMA_ENABLE_NULL"
cmake_args=(
    -DPLATFORM=Memory
    -DUSE_EXTERNAL_GLFW=OFF
    -DBUILD_SHARED_LIBS=ON
    -DBUILD_EXAMPLES=OFF
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_LIBDIR=lib
    "-DCMAKE_C_FLAGS=$c_flags"
    "-DCMAKE_C_STANDARD_LIBRARIES=-lm -ldl -lpthread"
)
# Our own patches to raylib, applied in name order after Debian's: each file says at its top what
# it mends and why. Their checksum is part of the recipe, so changing one rebuilds.
patch_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)/raylib-patches"
shopt -s nullglob
our_patches=("$patch_dir"/*.patch)
shopt -u nullglob
recipe="recipe=3 ${cmake_args[*]}"
if (( ${#our_patches[@]} )); then
    recipe+=" patches=$(cat "${our_patches[@]}" | cksum | cut -d' ' -f1)"
fi

is_complete() {
    [[ -f "$marker" ]] && grep -qxF "$recipe" "$marker" \
        && [[ -f "$prefix/include/raylib.h" ]] \
        && compgen -G "$prefix/lib/libraylib.so*" >/dev/null
}

finish() {
    printf '%s\n' "$prefix" >&3
    exit 0
}

if is_complete; then
    log "raylib already installed in $prefix ($(sed -n 's/^version=//p' "$marker"))"
    finish
fi

# Serialise concurrent runs sharing the same cache; whoever comes second
# re-checks the marker once it has the lock.
if command -v flock >/dev/null 2>&1; then
    exec 9>"$cache_root/.raylib.lock"
    flock 9
    if is_complete; then
        log "raylib was installed in $prefix by a concurrent run"
        finish
    fi
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/tavoro-raylib.XXXXXXXX")"
cleanup() {
    local rc=$?
    rm -rf "$work"
    if (( rc != 0 )); then
        log "FAILED (exit $rc); nothing was marked complete in $prefix"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
chmod 755 "$work"

# ---------------------------------------------------------------------------
# Tools. Anything missing that Debian packages is installed with apt; cmake
# itself is expected on PATH (the project's virtualenv provides it).

apt_install() {
    if (( EUID != 0 )); then
        die "missing tools; install these Debian packages as root: $*"
    fi
    log "installing Debian packages: $*"
    export DEBIAN_FRONTEND=noninteractive
    if ! apt-get install -y --no-install-recommends "$@"; then
        apt-get update || die "apt-get update failed"
        apt-get install -y --no-install-recommends "$@" || die "could not install: $*"
    fi
}

need_pkgs=()
need_tool() {  # need_tool COMMAND DEBIAN-PACKAGE
    command -v "$1" >/dev/null 2>&1 || need_pkgs+=("$2")
}

command -v apt-get >/dev/null 2>&1 || die "apt-get not found; this script needs a Debian-based system"
command -v cmake >/dev/null 2>&1 \
    || die "cmake not found on PATH (activate the project's virtualenv, or 'pip install cmake')"
need_tool tar tar
need_tool gzip gzip
need_tool xz xz-utils
need_tool patch patch
need_tool cc gcc
if [[ -z "${CMAKE_GENERATOR:-}" ]]; then
    need_tool make make
fi
if (( ${#need_pkgs[@]} )); then
    apt_install "${need_pkgs[@]}"
fi

cmake_version="$(cmake --version | sed -n '1s/^cmake version \([0-9][0-9.]*\).*/\1/p')"
[[ -n "$cmake_version" ]] || die "could not run 'cmake --version' ($(command -v cmake))"
log "using cmake $cmake_version from $(command -v cmake)"

# ---------------------------------------------------------------------------
# Find this machine's main Debian archive (not the security archive, not
# third-party repositories) and the keyring it is verified with.

# Prints "URI<TAB>SUITES<TAB>SIGNED-BY" for every enabled entry.
list_one_line_sources() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -f "$f" ]] || continue
        awk '
            { sub(/#.*/, "") }
            $1 != "deb" && $1 != "deb-src" { next }
            {
                i = 2; signed = ""
                if ($i ~ /^\[/) {
                    opts = ""
                    while (i <= NF) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break }; i++ }
                    gsub(/[\[\]]/, "", opts)
                    n = split(opts, o, " ")
                    for (k = 1; k <= n; k++)
                        if (tolower(o[k]) ~ /^signed-by=/) { signed = o[k]; sub(/^[^=]*=/, "", signed) }
                }
                uri = $i; suite = $(i + 1)
                if (uri != "" && suite != "") printf "%s\t%s\t%s\n", uri, suite, signed
            }' "$f"
    done
}

list_deb822_sources() {
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [[ -f "$f" ]] || continue
        awk '
            function flush(   n, k, u) {
                if (uris != "" && enabled !~ /^(no|false|0)$/ && types ~ /(^| )deb(-src)?( |$)/) {
                    n = split(uris, u, " ")
                    for (k = 1; k <= n; k++) printf "%s\t%s\t%s\n", u[k], suites, signed
                }
                uris = suites = signed = types = ""; enabled = "yes"; field = ""
            }
            BEGIN { enabled = "yes" }
            /^[ \t]*#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[ \t]/ {                       # continuation line
                if (field == "uris") uris = uris " " $0
                else if (field == "suites") suites = suites " " $0
                else if (field == "signed-by") signed = ""   # inline key block
                next
            }
            {
                line = $0
                name = tolower(substr(line, 1, index(line, ":") - 1))
                value = substr(line, index(line, ":") + 1)
                gsub(/^[ \t]+|[ \t]+$/, "", value)
                field = name
                if (name == "uris") uris = value
                else if (name == "suites") suites = value
                else if (name == "types") types = value
                else if (name == "signed-by") signed = value
                else if (name == "enabled") enabled = tolower(value)
            }
            END { flush() }' "$f"
    done
}

archive_uri=""
entry_keyring=""
while IFS=$'\t' read -r uri suites signed; do
    uri="${uri%/}"
    [[ "$uri" == */debian ]] || continue
    [[ "$uri" =~ ^(https?|file|mirror\+[a-z]+):// ]] || continue
    only_security=1
    for s in $suites; do
        [[ "$s" == *-security* ]] || only_security=0
    done
    (( only_security )) && continue
    archive_uri="$uri"
    [[ "$signed" == /* && -f "$signed" ]] && entry_keyring="$signed"
    break
done < <(list_one_line_sources; list_deb822_sources)

[[ -n "$archive_uri" ]] \
    || die "no Debian archive found in /etc/apt/sources.list or /etc/apt/sources.list.d/ (need an entry whose URI ends in /debian)"
# sid is signed with the newest archive keys, so prefer the full keyring from
# debian-archive-keyring over a release-specific one the entry may name; with
# neither, apt's default trusted keys apply.
archive_keyring=""
if [[ -f /usr/share/keyrings/debian-archive-keyring.gpg ]]; then
    archive_keyring=/usr/share/keyrings/debian-archive-keyring.gpg
elif [[ -n "$entry_keyring" ]]; then
    archive_keyring="$entry_keyring"
fi
log "Debian archive: $archive_uri${archive_keyring:+ (keyring $archive_keyring)}"

# ---------------------------------------------------------------------------
# Fetch the source package through a private apt configuration.

apt_dir="$work/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$work/download"
if [[ -n "$archive_keyring" ]]; then
    echo "deb-src [signed-by=$archive_keyring] $archive_uri sid main" >"$apt_dir/sources.list"
else
    echo "deb-src $archive_uri sid main" >"$apt_dir/sources.list"
fi
apt_opts=(
    -o "Dir::Etc::sourcelist=$apt_dir/sources.list"
    -o "Dir::Etc::sourceparts=/dev/null"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
)
# apt downloads as the unprivileged _apt user when run as root.
if (( EUID == 0 )) && id -u _apt >/dev/null 2>&1; then
    chown -R _apt "$apt_dir" "$work/download"
fi

# apt-get update can exit 0 after a failed signature check (it only warns and
# keeps old lists), so also look at what it said and at what it left behind.
apt_update() {
    local rc=0
    apt-get "${apt_opts[@]}" update >"$work/apt-update.log" 2>&1 || rc=$?
    cat "$work/apt-update.log"
    (( rc == 0 )) \
        && ! grep -qE '^E: |^W: .*(GPG|[Ss]ignature|NO_PUBKEY|not signed)' "$work/apt-update.log" \
        && compgen -G "$apt_dir/lists/*_sid_*Sources*" >/dev/null
}

log "fetching the list of Debian unstable source packages"
if ! apt_update; then
    if grep -qE 'NO_PUBKEY|EXPKEYSIG|KEYEXPIRED|not signed|signature' "$work/apt-update.log" \
        && (( EUID == 0 )); then
        # The installed keyring may predate the keys sid is signed with. A newer
        # debian-archive-keyring from this machine's own (trusted) suite carries
        # them; never fall back to skipping signature checks.
        log "signature check failed; updating debian-archive-keyring from this machine's own suite"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update || die "apt-get update (system) failed"
        apt-get install -y --only-upgrade debian-archive-keyring \
            || apt-get install -y debian-archive-keyring \
            || die "could not install debian-archive-keyring"
        apt_update || die "apt-get update for $archive_uri sid failed even with the current debian-archive-keyring (see the log above)"
    else
        die "apt-get update for $archive_uri sid failed (see the log above)"
    fi
fi

log "downloading the raylib source package"
(cd "$work/download" && apt-get "${apt_opts[@]}" source --download-only raylib) \
    || die "apt-get source --download-only raylib failed"

dsc="$(compgen -G "$work/download/raylib_*.dsc" | head -n1)" || true
[[ -n "$dsc" ]] || die "no raylib .dsc was downloaded"
deb_version="$(sed -n 's/^Version:[[:space:]]*//p' "$dsc" | head -n1)"
upstream_version="${deb_version#*:}"
upstream_version="${upstream_version%-*}"
upstream_version="${upstream_version%%[+~]*}"
log "raylib source package $deb_version (upstream $upstream_version)"
if command -v dpkg >/dev/null 2>&1; then
    dpkg --compare-versions "$upstream_version" ge "$MIN_VERSION" \
        || die "Debian unstable has raylib $upstream_version; need >= $MIN_VERSION"
fi

orig="$(compgen -G "$work/download/raylib_*.orig.tar.*" | grep -v '\.asc$' | head -n1)" || true
[[ -n "$orig" ]] || die "no raylib .orig.tar.* in the source package"
debian_tar="$(compgen -G "$work/download/raylib_*.debian.tar.*" | head -n1)" || true

# ---------------------------------------------------------------------------
# Unpack: the upstream tarball, plus the Debian patch series if there is one.

src="$work/src"
mkdir -p "$src"
tar -xf "$orig" -C "$src" --strip-components=1 || die "could not unpack $orig"
[[ -f "$src/CMakeLists.txt" && -f "$src/src/raylib.h" ]] || die "unexpected layout in $orig"

if [[ -n "$debian_tar" ]]; then
    tar -xf "$debian_tar" -C "$src" || die "could not unpack $debian_tar"
    series="$src/debian/patches/series"
    if [[ -f "$series" ]]; then
        while read -r p opts || [[ -n "$p" ]]; do
            p="${p%%#*}"
            [[ -n "$p" ]] || continue
            log "applying Debian patch $p"
            # shellcheck disable=SC2086  # options from the series file, default -p1
            patch -d "$src" --batch --forward ${opts:--p1} <"$src/debian/patches/$p" \
                || die "Debian patch $p does not apply"
        done <"$series"
    fi
fi

for p in "${our_patches[@]}"; do
    log "applying $(basename "$p")"
    patch -d "$src" --batch --forward -p1 <"$p" || die "$(basename "$p") does not apply"
done

# ---------------------------------------------------------------------------
# Configure, build and stage the install, then move it into place.

log "configuring (${cmake_args[*]})"
cmake -S "$src" -B "$work/build" -DCMAKE_INSTALL_PREFIX="$prefix" "${cmake_args[@]}" \
    || die "cmake configure failed"
log "building"
cmake --build "$work/build" -j2 || die "build failed"

stage="$work/stage"
DESTDIR="$stage" cmake --install "$work/build" || die "cmake --install failed"
staged="$stage$prefix"
[[ -f "$staged/include/raylib.h" ]] || die "install has no include/raylib.h"
compgen -G "$staged/lib/libraylib.so*" >/dev/null || die "install has no lib/libraylib.so*"

# The Memory platform does not use GLFW, but raylib's pkg-config template
# still lists glfw3 under Requires.private, which makes pkg-config fail where
# glfw3.pc is absent. Drop it.
pc="$staged/lib/pkgconfig/raylib.pc"
if [[ -f "$pc" ]]; then
    sed -i 's/^Requires\.private:.*glfw3.*$/Requires.private:/' "$pc"
fi

rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
mv "$staged" "$prefix" || die "could not move the install into $prefix"

printf '%s\nversion=%s\n' "$recipe" "$deb_version" >"$marker.tmp"
mv "$marker.tmp" "$marker"
log "raylib $deb_version installed in $prefix"
finish
