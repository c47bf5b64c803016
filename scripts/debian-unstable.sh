#!/usr/bin/env bash
# Fetch packages from Debian unstable and unpack them.
#
#   scripts/debian-unstable.sh source NAME DEST
#   scripts/debian-unstable.sh binary DEST PACKAGE...
#
# "source" unpacks the source package NAME: DEST receives the upstream sources
# with their top directory stripped, and the Debian packaging, if the package
# has any, in DEST/debian (unpacked, its patch series not applied).
#
# "binary" unpacks the binary packages named, for this machine's architecture,
# into DEST as a file tree (as dpkg -x does: no maintainer scripts, nothing
# registered with this machine's dpkg). Their dependencies are not followed:
# the caller names every package it needs.
#
# DEST is created and must be empty if it exists. The downloaded files
# themselves are not kept.
#
# Everything the script says goes to stderr; the last (and only) line on stdout
# is the Debian version of the (first) package, so callers can do
#
#   version="$(scripts/debian-unstable.sh source raylib "$work/src")"
#
# The packages are fetched with apt through a private configuration (its own
# sources list, lists and cache directories); the system's apt setup is only
# read, to find this machine's Debian archive and its keyring.
#
# TAVORO_DEBIAN_SUITE fetches from another suite (such as trixie) instead, and
# TAVORO_DEBIAN_ARCH unpacks binary packages of another architecture (such as
# arm64).
#
#   scripts/debian-unstable.sh archive
#
# prints the archive's URI alone.

set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" debian-unstable

usage="usage: $0 source NAME DEST | binary DEST PACKAGE... | archive"
mode="${1:-}"
suite="${TAVORO_DEBIAN_SUITE:-sid}"
arch="${TAVORO_DEBIAN_ARCH:-}"
case "$mode" in
    archive) (( $# == 1 )) || die "$usage"; names=() ;;
    source) (( $# == 3 )) || die "$usage"; names=("$2"); dest="$3" ;;
    binary) (( $# >= 3 )) || die "$usage"; dest="$2"; names=("${@:3}") ;;
    *) die "$usage" ;;
esac
[[ "$suite" =~ ^[a-z-]+$ && "$arch" =~ ^[a-z0-9]*$ ]] || die "not a Debian suite and architecture: $suite $arch"
for name in "${names[@]}"; do
    [[ "$name" =~ ^[a-z0-9][a-z0-9.+-]+$ ]] || die "not a Debian package name: $name"
done
if [[ "$mode" != archive ]]; then
    mkdir -p "$dest" || die "cannot create $dest"
    [[ -z "$(ls -A "$dest")" ]] || die "$dest is not empty"
fi

make_work_dir source

# ---------------------------------------------------------------------------
# Tools. Anything missing that Debian packages is installed with apt.

need_apt
need_tool tar tar
need_tool gzip gzip
need_tool xz xz-utils
need_tool bzip2 bzip2
install_needed_tools

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
[[ "$mode" != archive ]] || finish "$archive_uri"

# ---------------------------------------------------------------------------
# Fetch the packages through a private apt configuration.

apt_dir="$work/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$work/download"
kind=deb-src
index="*_${suite}_*Sources*"
if [[ "$mode" == binary ]]; then
    kind=deb
    index="*_${suite}_*Packages*"
fi
if [[ -n "$archive_keyring" ]]; then
    echo "$kind [signed-by=$archive_keyring] $archive_uri $suite main" >"$apt_dir/sources.list"
else
    echo "$kind $archive_uri $suite main" >"$apt_dir/sources.list"
fi
apt_opts=(
    -o "Dir::Etc::sourcelist=$apt_dir/sources.list"
    -o "Dir::Etc::sourceparts=/dev/null"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
)
if [[ -n "$arch" ]]; then
    apt_opts+=(-o "APT::Architecture=$arch" -o "APT::Architectures=$arch")
fi
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
        && compgen -G "$apt_dir/lists/$index" >/dev/null
}

log "fetching the list of Debian $suite packages ($kind${arch:+, $arch})"
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
        apt_update || die "apt-get update for $archive_uri $suite failed even with the current debian-archive-keyring (see the log above)"
    else
        die "apt-get update for $archive_uri $suite failed (see the log above)"
    fi
fi

if [[ "$mode" == binary ]]; then
    log "downloading ${names[*]}"
    (cd "$work/download" && apt-get "${apt_opts[@]}" download "${names[@]}") \
        || die "apt-get download ${names[*]} failed"
    deb_version=""
    for name in "${names[@]}"; do
        deb="$(compgen -G "$work/download/${name}_*.deb" | head -n1)" || true
        [[ -n "$deb" ]] || die "no $name .deb was downloaded"
        dpkg-deb -x "$deb" "$dest" || die "could not unpack $(basename "$deb")"
        [[ -n "$deb_version" ]] || deb_version="$(dpkg-deb -f "$deb" Version)"
    done
    log "${names[*]} unpacked in $dest"
    finish "$deb_version"
fi

name="${names[0]}"
log "downloading the $name source package"
(cd "$work/download" && apt-get "${apt_opts[@]}" source --download-only "$name") \
    || die "apt-get source --download-only $name failed"

dsc="$(compgen -G "$work/download/${name}_*.dsc" | head -n1)" || true
[[ -n "$dsc" ]] || die "no $name .dsc was downloaded"
deb_version="$(sed -n '/^Version:/{s/^Version:[[:space:]]*//p;q}' "$dsc")"
[[ -n "$deb_version" ]] || die "$(basename "$dsc") names no version"

# The main upstream tarball (not a signature, not an extra orig-COMPONENT one).
orig="$(compgen -G "$work/download/${name}_*.orig.tar.*" | grep -v '\.asc$' | head -n1)" || true
[[ -n "$orig" ]] || die "no $name .orig.tar.* in the source package"
debian_tar="$(compgen -G "$work/download/${name}_*.debian.tar.*" | head -n1)" || true

# ---------------------------------------------------------------------------
# Unpack: the upstream tarball, plus the Debian packaging if there is one.

log "unpacking $(basename "$orig")"
tar -xf "$orig" -C "$dest" --strip-components=1 || die "could not unpack $orig"
if [[ -n "$debian_tar" ]]; then
    tar -xf "$debian_tar" -C "$dest" || die "could not unpack $debian_tar"
fi

log "$name $deb_version unpacked in $dest"
finish "$deb_version"
