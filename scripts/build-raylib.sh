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
# The prefix is ${TAVORO_CACHE:-$HOME/.cache/tavoro}/raylib. A raylib for another
# toolchain is built when TAVORO_RAYLIB_TOOLCHAIN names a CMake toolchain file
# (such as scripts/zig-toolchain.cmake, with the variables it reads from the
# environment): its prefix is raylib-<toolchain>-<TAVORO_TARGET_ARCH>, as in
# raylib-zig-toolchain-aarch64, and the toolchain file and its compiler's
# version are part of its recipe. A finished build
# leaves "$prefix/.complete", which records the recipe and a fingerprint of
# every installed file; when both still match, the script prints the prefix and
# exits without touching the network. Anything else there (an interrupted
# build, a missing or damaged file, a marker of another recipe) is rebuilt.
#
#   scripts/build-raylib.sh --check
#
# only tells, by its exit status, whether the cache holds such an install.
#
#   TAVORO_RAYLIB_PLATFORM=desktop scripts/build-raylib.sh
#
# builds the desktop raylib instead, from the same source and patches: GLFW on X11 with OpenGL
# 3.3, its prefix raylib-desktop (raylib-desktop-<toolchain>-<arch> with a toolchain). Debian's
# raylib source leaves out the GLFW raylib bundles, so GLFW comes from Debian's glfw3 source
# package (trixie's 3.4, the version raylib bundles; unstable has none) and is compiled into
# libraylib.so, as the bundled one would be. GLFW 3.4 loads libX11 and libGL at run time, so the
# library links nothing beyond libc: it needs X11's headers to build, and a display only once a
# window opens. Its audio device is never opened: audio plays through the headless build.
#
# The source is fetched by scripts/debian-unstable.sh, with apt through a
# private configuration; the system's apt setup is only read.

set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" build-raylib

MIN_VERSION=5.5
GLFW_SUITE=trixie
platform="${TAVORO_RAYLIB_PLATFORM:-headless}"
case "$platform" in
    headless) name=raylib raylib_platform=Memory ;;
    desktop) name=raylib-desktop raylib_platform=Desktop ;;
    *) die "TAVORO_RAYLIB_PLATFORM is headless or desktop, not $platform" ;;
esac
toolchain="${TAVORO_RAYLIB_TOOLCHAIN:-}"
if [[ -n "$toolchain" ]]; then
    [[ -f "$toolchain" ]] || die "no toolchain file $toolchain"
    toolchain="$(cd "$(dirname "$toolchain")" && pwd -P)/$(basename "$toolchain")"
    use_cache "$name-$(basename "$toolchain" .cmake)-${TAVORO_TARGET_ARCH:-$(uname -m)}"
else
    use_cache "$name"
fi

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
#  - XM modules are left out: crafted XM files crash and hang raylib's XM decoder in too many
#    places to patch one by one (see the README's list of raylib patches).
c_flags+=" -DSUPPORT_FILEFORMAT_XM=0"
#  - JPEG and TGA images are decoded (and written), behind the package's header checks.
c_flags+=" -DSUPPORT_FILEFORMAT_JPG=1 -DSUPPORT_FILEFORMAT_TGA=1"
#  - The software renderer hands its frame over in RGBA, as screenshots and images hold pixels,
#    not in the BGRA a window system would want; and F12 does not write screenshot files into
#    the working directory (the package takes screenshots when the program asks).
c_flags+=" -DSW_FRAMEBUFFER_OUTPUT_BGRA=0 -DSUPPORT_SCREEN_CAPTURE=0"
cmake_args=(
    "-DPLATFORM=$raylib_platform"
    -DUSE_EXTERNAL_GLFW=OFF
    -DBUILD_SHARED_LIBS=ON
    -DBUILD_EXAMPLES=OFF
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_LIBDIR=lib
    "-DCMAKE_C_FLAGS=$c_flags"
    "-DCMAKE_C_STANDARD_LIBRARIES=-lm -ldl -lpthread"
)
if [[ "$platform" == desktop ]]; then
    #  - GLFW for X11 alone. raylib would link libGL, which GLFW loads itself: naming libdl as
    #    the OpenGL library (and not looking for one) keeps it off the link line, so the library
    #    builds for any target and loads where no GL is installed.
    #  - -Bsymbolic: raylib's calls to its own functions stay inside this build, whatever other
    #    raylib the process has loaded with the same names.
    #  - Images from the clipboard are left out: raylib reads them through Xlib itself, which
    #    would link libX11 after all.
    cmake_args+=(
        "-DCMAKE_C_FLAGS=$c_flags -DSUPPORT_CLIPBOARD_IMAGE=0"
        -DOPENGL_VERSION=3.3
        -DGLFW_BUILD_X11=ON
        -DGLFW_BUILD_WAYLAND=OFF
        -DCMAKE_DISABLE_FIND_PACKAGE_OpenGL=ON
        -DOPENGL_LIBRARIES=dl
        "-DCMAKE_C_STANDARD_LIBRARIES=-lm -ldl -lpthread -Wl,-Bsymbolic"
    )
fi
# Our own patches to raylib, applied in name order after Debian's: each file says at its top what
# it mends and why. Their checksum is part of the recipe, so changing one rebuilds.
patch_dir="$here/raylib-patches"
shopt -s nullglob
our_patches=("$patch_dir"/*.patch)
shopt -u nullglob
recipe="recipe=3 ${cmake_args[*]}"
[[ "$platform" == headless ]] || recipe+=" glfw=$GLFW_SUITE"
if [[ -n "$toolchain" ]]; then
    cmake_args+=("-DCMAKE_TOOLCHAIN_FILE=$toolchain")
    recipe+=" toolchain=$(cksum <"$toolchain" | cut -d' ' -f1) arch=${TAVORO_TARGET_ARCH:-}"
    recipe+=" zig=${TAVORO_ZIG:+$("$TAVORO_ZIG" version)}"
fi
if (( ${#our_patches[@]} )); then
    recipe+=" patches=$(cat "${our_patches[@]}" | cksum | cut -d' ' -f1)"
fi

# Every file of the install with its checksum, and every link with its target,
# in a stable order, as one checksum: a file removed, added, cut short or
# changed after the install gives another.
fingerprint() {
    (
        cd "$prefix" || exit 1
        find . -type f ! -path ./.complete -print0 | LC_ALL=C sort -z | xargs -0r cksum
        find . -type l -printf '%p -> %l\n' | LC_ALL=C sort
    ) | cksum | cut -d' ' -f1
}

is_complete() {
    [[ -f "$marker" ]] && grep -qxF "$recipe" "$marker" \
        && [[ -f "$prefix/include/raylib.h" && -f "$prefix/lib/libraylib.so" ]] \
        && grep -qxF "files=$(fingerprint)" "$marker"
}

if [[ "${1:-}" == --check ]]; then
    is_complete
    exit
fi

# A whole install is used as it is; otherwise this run makes it, alone on the cache.
reuse_or_lock raylib "$prefix"
make_work_dir raylib

# ---------------------------------------------------------------------------
# Tools. Anything missing that Debian packages is installed with apt; cmake
# itself is expected on PATH (the project's virtualenv provides it).

need_apt
command -v cmake >/dev/null 2>&1 \
    || die "cmake not found on PATH (activate the project's virtualenv, or 'pip install cmake')"
need_tool patch patch
need_tool cc gcc
if [[ -z "${CMAKE_GENERATOR:-}" ]]; then
    need_tool make make
fi
install_needed_tools

cmake_version="$(cmake --version | sed -n '1s/^cmake version \([0-9][0-9.]*\).*/\1/p')"
[[ -n "$cmake_version" ]] || die "could not run 'cmake --version' ($(command -v cmake))"
log "using cmake $cmake_version from $(command -v cmake)"

# ---------------------------------------------------------------------------
# Fetch and unpack the source package (upstream sources, plus the Debian
# packaging in debian/).

src="$work/src"
deb_version="$("$here/debian-unstable.sh" source raylib "$src" | tail -n1)"
[[ -n "$deb_version" ]] || die "fetching the raylib source package failed"
upstream_version="${deb_version#*:}"
upstream_version="${upstream_version%-*}"
upstream_version="${upstream_version%%[+~]*}"
log "raylib source package $deb_version (upstream $upstream_version)"
if command -v dpkg >/dev/null 2>&1; then
    dpkg --compare-versions "$upstream_version" ge "$MIN_VERSION" \
        || die "Debian unstable has raylib $upstream_version; need >= $MIN_VERSION"
fi
[[ -f "$src/CMakeLists.txt" && -f "$src/src/raylib.h" ]] || die "unexpected layout in raylib's source"

# ---------------------------------------------------------------------------
# Debian's patch series if there is one, then ours.

# apply_debian_series DIR: the patches of DIR's debian/patches/series, in order.
apply_debian_series() {
    local series="$1/debian/patches/series" p opts
    [[ -f "$series" ]] || return 0
    while read -r p opts || [[ -n "$p" ]]; do
        p="${p%%#*}"
        [[ -n "$p" ]] || continue
        log "applying Debian patch $p"
        # shellcheck disable=SC2086  # options from the series file, default -p1
        patch -d "$1" --batch --forward ${opts:--p1} <"$1/debian/patches/$p" \
            || die "Debian patch $p does not apply"
    done <"$series"
}
apply_debian_series "$src"

for p in "${our_patches[@]}"; do
    log "applying $(basename "$p")"
    patch -d "$src" --batch --forward -p1 <"$p" || die "$(basename "$p") does not apply"
done

# ---------------------------------------------------------------------------
# The desktop build: GLFW where raylib's build looks for its bundled copy, and X11's headers in a
# directory of their own, so that a cross toolchain sees them without the host's C library
# headers beside them.

if [[ "$platform" == desktop ]]; then
    glfw_version="$(TAVORO_DEBIAN_SUITE=$GLFW_SUITE "$here/debian-unstable.sh" source glfw3 "$work/glfw" | tail -n1)"
    [[ -n "$glfw_version" && -f "$work/glfw/include/GLFW/glfw3.h" ]] || die "fetching the glfw3 source package failed"
    apply_debian_series "$work/glfw"
    rm -rf "$src/src/external/glfw"
    mv "$work/glfw" "$src/src/external/glfw"
    log "GLFW $glfw_version from Debian $GLFW_SUITE"
    headers=(X11/Xlib.h X11/extensions/Xrandr.h X11/extensions/Xinerama.h X11/Xcursor/Xcursor.h
             X11/extensions/XInput2.h X11/extensions/shape.h)
    for h in "${headers[@]}"; do
        [[ -f "/usr/include/$h" ]] && continue
        apt_install libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxi-dev libxext-dev
        break
    done
    mkdir -p "$work/x11"
    cp -r /usr/include/X11 "$work/x11/" || die "cannot copy X11's headers"
    for part in X11 Xrandr Xinerama Xkb Xcursor Xi Xshape; do
        cmake_args+=("-DX11_${part}_INCLUDE_PATH=$work/x11")
    done
    # GLFW asks CMake to find libX11 but never links it.
    cmake_args+=(-DX11_X11_LIB=X11)
fi

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

# The marker goes first and comes back last, so that no run sees a marker beside
# a half-replaced install.
rm -f "$marker"
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
mv "$staged" "$prefix" || die "could not move the install into $prefix"

write_marker "$recipe" "version=$deb_version${glfw_version:+ glfw $glfw_version}" "files=$(fingerprint)"
log "raylib $deb_version installed in $prefix"
finish "$prefix"
