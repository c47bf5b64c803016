"""Checks what auditwheel's verdict does not see in the shared objects of wheels (or shared objects
given as such): that none refers to a C library symbol newer than glibc 2.17, with a version or
without one (a static library can bring unversioned references that only fail at import), and, on
x86-64, that no function returns with the upper halves of the 256-bit registers dirty (every
later SSE instruction of the process would pay for the switch).

    python scripts/check-wheel.py WHEEL-OR-SO...

Prints each fault and exits with status 1 if there is any. Needs binutils (readelf, objdump).
"""

import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile

BASELINE = (2, 17)
# The C library whose symbols' first versions tell which names are newer than the baseline.
C_LIBRARIES = ["libc.so.6", "libm.so.6"]

SYMBOL = re.compile(r"^\s*\d+:\s+\S+\s+\d+\s+\S+\s+\S+\s+\S+\s+(\S+)\s+(\S+)")
FUNCTION = re.compile(r"^[0-9a-f]+ <(.+)>:$")
TARGET = re.compile(r"<([^+>]+)(?:\+0x[0-9a-f]+)?>")


def tool(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def dynamic_symbols(path):
    """(section index, name, version or None) of every dynamic symbol."""
    for line in tool("readelf", "-W", "--dyn-syms", str(path)).splitlines():
        match = SYMBOL.match(line)
        if match:
            name, _, version = match[2].partition("@")
            version = version.lstrip("@").split()[0] if version else None
            yield match[1], name, version


def glibc_version(version):
    match = re.fullmatch(r"GLIBC_(\d+)\.(\d+)(?:\.\d+)?", version or "")
    return (int(match[1]), int(match[2])) if match else None


def newer_names():
    """The names the build machine's C library first defines after the baseline."""
    first = {}
    for library in C_LIBRARIES:
        path = subprocess.run(["gcc", "-print-file-name=" + library], capture_output=True,
                              text=True).stdout.strip()
        if not pathlib.Path(path).is_file():
            continue
        for index, name, version in dynamic_symbols(path):
            found = glibc_version(version)
            if index != "UND" and found:
                first[name] = min(first.get(name, found), found)
    return {name for name, version in first.items() if version > BASELINE}


def symbol_faults(path, newer):
    for index, name, version in dynamic_symbols(path):
        if index != "UND":
            continue
        found = glibc_version(version)
        if found and found > BASELINE:
            yield f"{path.name}: {name}@{version} is newer than glibc 2.17"
        elif version is None and name in newer:
            yield f"{path.name}: {name} (unversioned) is a C library symbol newer than glibc 2.17"


def is_x86_64(path):
    return "X86-64" in tool("readelf", "-h", str(path))


def is_tail_call(instruction, function):
    """A jump to another function, which returns to this one's caller."""
    target = TARGET.search(" ".join(instruction[1:])) if instruction[0] == "jmp" else None
    return bool(target) and target[1] != function


def dirty_returns(path):
    """Functions with a return (or a tail call) reached, in address order, after a 256-bit
    register was used and before vzeroupper cleared them."""
    function, dirty = None, False
    for line in tool("objdump", "-d", "--no-show-raw-insn", "-M", "att", str(path)).splitlines():
        header = FUNCTION.match(line)
        if header:
            function, dirty = header[1], False
            continue
        instruction = line.partition(":\t")[2].split()
        if not instruction:
            continue
        if instruction[0] in ("vzeroupper", "vzeroall"):
            dirty = False
        elif "%ymm" in line:
            dirty = True
        elif dirty and (instruction[0].startswith("ret") or is_tail_call(instruction, function)):
            yield f"{path.name}: {function} returns with the upper halves of ymm registers dirty"
            dirty = False


def shared_objects(paths, scratch):
    for given in map(pathlib.Path, paths):
        if given.suffix == ".whl":
            target = scratch / given.name
            zipfile.ZipFile(given).extractall(target)
            yield from sorted(path for path in target.rglob("*") if ".so" in path.suffixes)
        else:
            yield given


def main(paths):
    newer = newer_names()
    if not newer:
        sys.exit("check-wheel: the C library's symbol list was not found")
    faults = []
    with tempfile.TemporaryDirectory() as scratch:
        for path in shared_objects(paths, pathlib.Path(scratch)):
            faults += symbol_faults(path, newer)
            if is_x86_64(path):
                faults += dirty_returns(path)
    for fault in faults:
        print(fault)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main(sys.argv[1:])
