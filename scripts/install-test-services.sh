#!/usr/bin/env bash
# Installs what the tests that reach real services need: Debian's pulseaudio and pulseaudio-utils
# for the sound-server tests, and xvfb, Mesa's software OpenGL (libgl1-mesa-dri), xdotool and
# x11-apps (xwd) for the desktop-window tests (the tests start private servers of their own).
# Only as root on a Debian system; anywhere else those tests skip and say why. It never fails the
# run.
set -u

# package: a file that tells it is installed
declare -A marks=(
    [pulseaudio]=/usr/bin/pulseaudio [pulseaudio-utils]=/usr/bin/parec
    [xvfb]=/usr/bin/Xvfb [xdotool]=/usr/bin/xdotool [x11-apps]=/usr/bin/xwd
    [libgl1-mesa-dri]=/usr/share/doc/libgl1-mesa-dri
)
packages=()
for package in "${!marks[@]}"; do
    [[ -e "${marks[$package]}" ]] || packages+=("$package")
done
(( ${#packages[@]} )) || exit 0
say() { printf 'install-test-services: %s\n' "$*" >&2; }
if [[ "$(id -u)" != 0 ]] || ! command -v apt-get >/dev/null; then
    say "${packages[*]} not installed (needs root and apt-get); the tests that need them will skip"
    exit 0
fi
export DEBIAN_FRONTEND=noninteractive
say "installing ${packages[*]}"
apt-get install -y --no-install-recommends "${packages[@]}" >&2 \
    || { apt-get update >&2 && apt-get install -y --no-install-recommends "${packages[@]}" >&2; } \
    || say "could not install ${packages[*]}; the tests that need them will skip"
exit 0
