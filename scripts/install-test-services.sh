#!/usr/bin/env bash
# Installs what the tests that listen through a real sound server need: Debian's pulseaudio and
# pulseaudio-utils (the tests start a private server of their own). Only as root on a Debian
# system; anywhere else those tests skip and say why. It never fails the run.
set -u

packages=(pulseaudio pulseaudio-utils)
command -v pulseaudio >/dev/null && command -v parec >/dev/null && exit 0
say() { printf 'install-test-services: %s\n' "$*" >&2; }
if [[ "$(id -u)" != 0 ]] || ! command -v apt-get >/dev/null; then
    say "pulseaudio is not installed (needs root and apt-get); the sound-server tests will skip"
    exit 0
fi
export DEBIAN_FRONTEND=noninteractive
say "installing ${packages[*]}"
apt-get install -y --no-install-recommends "${packages[@]}" >&2 \
    || { apt-get update >&2 && apt-get install -y --no-install-recommends "${packages[@]}" >&2; } \
    || say "could not install ${packages[*]}; the sound-server tests will skip"
exit 0
