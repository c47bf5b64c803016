#!/usr/bin/env bash
# Prints the path of a CPython 3.13 that has its development headers: pyenv's 3.13 where pyenv
# is installed, otherwise a python3.13 on PATH (Debian's python3.13-dev provides the headers).
set -euo pipefail

version=3.13

has_headers() {
    "$1" -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' 2>/dev/null
}

candidates=()
root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
for dir in $(ls -d "$root"/versions/3.13* 2>/dev/null | sort -rV); do
    candidates+=("$dir/bin/python3.13")
done
command -v python3.13 >/dev/null && candidates+=("$(command -v python3.13)")

for python in "${candidates[@]}"; do
    if [ -x "$python" ] && has_headers "$python"; then
        echo "$python"
        exit 0
    fi
done
cat >&2 <<EOF
find-python: no CPython $version with its development headers was found. Install one, then run
make again: with pyenv, 'pyenv install $version'; or on Debian 13 or newer,
'apt-get install python$version-dev python$version-venv' (Debian 12 has no Python $version).
EOF
exit 1
