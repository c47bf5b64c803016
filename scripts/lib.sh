# What the set-up scripts share; sourced, never run:
#
#   source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" NAME
#
# NAME is the script's own name, which starts everything it says. A script says
# everything on stderr and keeps stdout for the one line its callers read, which
# `finish` prints; from here on plain output goes to stderr.

script_name="${1:?lib.sh is sourced with the name of the script}"
# The directory of the scripts, where a script finds the others.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)"

exec 3>&1 1>&2

log() { printf '%s: %s\n' "$script_name" "$*" >&2; }
die() { printf '%s: error: %s\n' "$script_name" "$*" >&2; exit 1; }

# finish LINE: the script's result, its last line on stdout; the script ends.
finish() {
    printf '%s\n' "$1" >&3
    exit 0
}

# ---------------------------------------------------------------------------
# Exit. A scratch directory goes with the script, whatever way it ends; a run
# that was installing into the cache says, when it fails, that it left nothing
# marked complete there.

work=""
installing=""

on_exit() {
    local rc=$?
    [[ -z "$work" ]] || rm -rf "$work"
    if (( rc != 0 )) && [[ -n "$installing" ]]; then
        log "FAILED (exit $rc); nothing was marked complete in $prefix"
    fi
}

# Interrupted or stopped, the script exits as a shell does on the signal, so
# that its exit trap still runs.
trap_exit() {
    trap on_exit EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# make_work_dir KIND: a new scratch directory, $work, removed on exit.
make_work_dir() {
    work="$(mktemp -d "${TMPDIR:-/tmp}/tavoro-$1.XXXXXXXX")"
    trap_exit
    # apt's unprivileged download user must be able to enter it.
    chmod 755 "$work"
}

# ---------------------------------------------------------------------------
# Tools. Anything missing that Debian packages is installed with apt.

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

need_apt() {
    command -v apt-get >/dev/null 2>&1 || die "apt-get not found; this script needs a Debian-based system"
}

need_pkgs=()
need_tool() {  # need_tool COMMAND DEBIAN-PACKAGE
    command -v "$1" >/dev/null 2>&1 || need_pkgs+=("$2")
}

# Installs, in one go, the packages of the tools need_tool found missing.
install_needed_tools() {
    if (( ${#need_pkgs[@]} )); then
        apt_install "${need_pkgs[@]}"
    fi
}

# ---------------------------------------------------------------------------
# An install kept in the per-user cache. The script names its recipe (what the
# install is made of) and defines is_complete, which tells whether $prefix holds
# a whole install of that recipe. The marker, "$prefix/.complete", is written
# last, once everything else is in place.

# use_cache NAME: the install's place, $prefix, as $cache_root/NAME.
use_cache() {
    cache_root="${TAVORO_CACHE:-${HOME:?HOME is not set and TAVORO_CACHE is not given}/.cache/tavoro}"
    mkdir -p "$cache_root" || die "cannot create cache directory $cache_root"
    cache_root="$(cd "$cache_root" && pwd -P)"
    prefix="$cache_root/$1"
    marker="$prefix/.complete"
}

# reuse_or_lock WHAT RESULT: a whole install already there ends the script with
# RESULT. Otherwise this waits for any concurrent run on the same cache, looks
# again, and returns holding the lock, with the install to be made.
reuse_or_lock() {
    if is_complete; then
        log "$1 already installed in $prefix ($(sed -n 's/^version=//p' "$marker"))"
        finish "$2"
    fi
    if command -v flock >/dev/null 2>&1; then
        exec 9>"$cache_root/.${prefix##*/}.lock"
        flock 9
        if is_complete; then
            log "$1 was installed in $prefix by a concurrent run"
            finish "$2"
        fi
    fi
    installing=1
    trap_exit
}

# write_marker LINE...: the marker with these lines, put in place in one step.
write_marker() {
    printf '%s\n' "$@" >"$marker.tmp"
    mv "$marker.tmp" "$marker"
}
