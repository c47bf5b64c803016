# The release toolchain: zig's clang for Linux on x86-64 or aarch64 with glibc 2.17, so that what
# it builds loads on every system manylinux2014 covers. zig links its own libc++ statically, so
# nothing needs a newer libstdc++ than the system has. Used for raylib (scripts/build-raylib.sh)
# and the modules (scripts/build-wheel.sh) alike:
#
#   TAVORO_ZIG=<zig executable> TAVORO_TARGET_ARCH=aarch64 cmake -DCMAKE_TOOLCHAIN_FILE=<this file> ...
#
# Both are read from the environment, so that CMake's trial builds (which read this file again
# but see none of the cache) get them too, and are kept in the cache for later reconfigures.
set(TAVORO_ZIG "$ENV{TAVORO_ZIG}" CACHE FILEPATH "The zig executable")
set(TAVORO_TARGET_ARCH "$ENV{TAVORO_TARGET_ARCH}" CACHE STRING "x86_64 or aarch64")
if(NOT TAVORO_ZIG OR NOT TAVORO_TARGET_ARCH MATCHES "^(x86_64|aarch64)$")
  message(FATAL_ERROR "the zig toolchain needs TAVORO_ZIG and TAVORO_TARGET_ARCH (x86_64 or aarch64)")
endif()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${TAVORO_TARGET_ARCH})
set(zig_target "-target ${TAVORO_TARGET_ARCH}-linux-gnu.2.17")
set(CMAKE_C_COMPILER "${TAVORO_ZIG}")
set(CMAKE_C_COMPILER_ARG1 "cc ${zig_target}")
set(CMAKE_CXX_COMPILER "${TAVORO_ZIG}")
set(CMAKE_CXX_COMPILER_ARG1 "c++ ${zig_target}")
# zig's objects carry debug information whatever the flags (its C++ library's too), four times
# the size of the code; the wheels leave it out.
set(CMAKE_SHARED_LINKER_FLAGS_INIT -Wl,--strip-debug)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -Wl,--strip-debug)
