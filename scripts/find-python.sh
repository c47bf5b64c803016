#!/usr/bin/env bash
# Prints the path of a CPython of the given version (3.13 by default) that has its development
# headers: pyenv's where pyenv is installed, otherwise a python3.X on PATH (Debian's python3.X-dev
# provides the headers). For versions other than 3.13, when neither is there, one is installed
# into the user's cache (scripts/install-python.sh) and that one is printed.
set -euo pipefail

version="${1:-3.13}"
[[ "$version" =~ ^3\.[0-9]+$ ]] || { echo "find-python: not a Python version: $version" >&2; exit 1; }

has_headers() {
    "$1" -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' 2>/dev/null
}

candidates=()
root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
# pyenv's 3.13.0, 3.13.1, ... but not 3.130 or a free-threaded 3.13t.
for dir in $(ls -d "$root/versions/$version" "$root/versions/$version".* 2>/dev/null | sort -rV); do
    candidates+=("$dir/bin/python$version")
done
command -v "python$version" >/dev/null && candidates+=("$(command -v "python$version")")

for python in "${candidates[@]}"; do
    if [ -x "$python" ] && has_headers "$python"; then
        echo "$python"
        exit 0
    fi
done
if [[ "$version" != 3.13 ]]; then
    exec "$(dirname "$0")/install-python.sh" "$version"
fi
cat >&2 <<EOF
find-python: no CPython $version with its development headers was found. Install one, then run
make again: with pyenv, 'pyenv install $version'; or on Debian 13 or newer,
'apt-get install python$version-dev python$version-venv' (Debian 12 has no Python $version).
EOF
exit 1
